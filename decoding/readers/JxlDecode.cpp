#include "decoding/readers/JxlDecode.h"

#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/thread_parallel_runner_cxx.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "decoding/readers/DecodedRows.h"

namespace vistrel {
namespace {

// Threads the decoder splits its groups over: the worker's pool is of this size too.
constexpr std::size_t kDecodingThreads = 4;

// H.273's code points for the encodings libjxl names, where there is one; the rest go by
// the ICC profile libjxl writes for them.
std::optional<colourtags::Cicp> CicpOf(const JxlColorEncoding& e) {
    if (e.color_space != JXL_COLOR_SPACE_RGB || e.white_point != JXL_WHITE_POINT_D65) return std::nullopt;
    std::uint8_t primaries = 0, transfer = 0;
    switch (e.primaries) {
        case JXL_PRIMARIES_SRGB: primaries = 1; break;
        case JXL_PRIMARIES_2100: primaries = 9; break;
        case JXL_PRIMARIES_P3: primaries = 12; break;
        case JXL_PRIMARIES_CUSTOM: return std::nullopt;
    }
    switch (e.transfer_function) {
        case JXL_TRANSFER_FUNCTION_709: transfer = 1; break;
        case JXL_TRANSFER_FUNCTION_LINEAR: transfer = 8; break;
        case JXL_TRANSFER_FUNCTION_SRGB: transfer = 13; break;
        case JXL_TRANSFER_FUNCTION_PQ: transfer = 16; break;
        case JXL_TRANSFER_FUNCTION_HLG: transfer = 18; break;
        case JXL_TRANSFER_FUNCTION_UNKNOWN:
        case JXL_TRANSFER_FUNCTION_DCI:
        case JXL_TRANSFER_FUNCTION_GAMMA: return std::nullopt;
    }
    return colourtags::Cicp{primaries, transfer, 0, 1};
}

// A gamma transfer's primaries and white in cHRM's units, for SourceColour's rule on a
// bare gamma (so that it reads as a PNG with the same gAMA and cHRM does).
std::optional<colourtags::Chromaticities> ChromaticitiesOf(const JxlColorEncoding& e) {
    using XY = std::array<double, 2>;
    XY white{}, red{}, green{}, blue{};
    switch (e.white_point) {
        case JXL_WHITE_POINT_D65: white = {0.3127, 0.3290}; break;
        case JXL_WHITE_POINT_E: white = {1.0 / 3, 1.0 / 3}; break;
        case JXL_WHITE_POINT_DCI: white = {0.314, 0.351}; break;
        case JXL_WHITE_POINT_CUSTOM: white = {e.white_point_xy[0], e.white_point_xy[1]}; break;
    }
    switch (e.primaries) {
        case JXL_PRIMARIES_SRGB: red = {0.64, 0.33}, green = {0.30, 0.60}, blue = {0.15, 0.06}; break;
        case JXL_PRIMARIES_2100: red = {0.708, 0.292}, green = {0.170, 0.797}, blue = {0.131, 0.046}; break;
        case JXL_PRIMARIES_P3: red = {0.680, 0.320}, green = {0.265, 0.690}, blue = {0.150, 0.060}; break;
        case JXL_PRIMARIES_CUSTOM:
            red = {e.primaries_red_xy[0], e.primaries_red_xy[1]};
            green = {e.primaries_green_xy[0], e.primaries_green_xy[1]};
            blue = {e.primaries_blue_xy[0], e.primaries_blue_xy[1]};
            break;
    }
    std::array<std::uint32_t, 8> units{};
    const XY all[4] = {white, red, green, blue};
    for (std::size_t i = 0; i < 8; ++i) {
        const double v = all[i / 2][i % 2];
        if (!(v > 0 && v < 1)) return std::nullopt;
        units[i] = static_cast<std::uint32_t>(std::nearbyint(v * 100000));
    }
    return colourtags::Chromaticities{units[0], units[1], units[2], units[3], units[4], units[5], units[6], units[7]};
}

LibraryColour ColourOf(const JxlDecoder* decoder, bool grey) {
    LibraryColour colour;
    colour.samples = grey ? colourtags::SampleKind::Grey : colourtags::SampleKind::Rgb;
    JxlColorEncoding encoding{};
    if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &encoding) ==
        JXL_DEC_SUCCESS) {
        colour.cicp = CicpOf(encoding);
        if (colour.cicp) return colour;
        const bool rgb = encoding.color_space == JXL_COLOR_SPACE_RGB;
        if (encoding.transfer_function == JXL_TRANSFER_FUNCTION_GAMMA && encoding.gamma > 0 && encoding.gamma <= 1 &&
            (rgb || encoding.color_space == JXL_COLOR_SPACE_GRAY)) {
            colour.gamma = static_cast<std::uint32_t>(std::nearbyint(encoding.gamma * 100000));
            if (rgb) colour.chromaticities = ChromaticitiesOf(encoding);
            if (!rgb || colour.chromaticities) return colour;
            colour.gamma.reset();
        }
    }
    std::size_t bytes = 0;
    if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &bytes) != JXL_DEC_SUCCESS ||
        bytes == 0 || bytes > colourtags::kMaxProfileBytes)
        return colour;
    colour.profile.resize(bytes);
    if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, colour.profile.data(), bytes) !=
        JXL_DEC_SUCCESS)
        colour.profile.clear();
    return colour;
}

}  // namespace

ReadResult DecodeJxl(const ReaderInput& input) {
    const auto& [bytes, background, colour, receiver, sink, photosites] = input;
    const unsigned char* const data = bytes.data();
    const std::size_t size = bytes.size();

    if (!headers::LooksLikeJxl(bytes)) return std::nullopt;
    const JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    const JxlThreadParallelRunnerPtr runner = JxlThreadParallelRunnerMake(nullptr, kDecodingThreads);
    if (!decoder || !runner) return DecodeResult::Failed(DecodeError::OutOfMemory);
    if (JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE) !=
            JXL_DEC_SUCCESS ||
        JxlDecoderSetParallelRunner(decoder.get(), JxlThreadParallelRunner, runner.get()) != JXL_DEC_SUCCESS ||
        JxlDecoderSetKeepOrientation(decoder.get(), JXL_FALSE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetUnpremultiplyAlpha(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(decoder.get(), data, size) != JXL_DEC_SUCCESS)
        return DecodeResult::Failed(DecodeError::Unreadable);
    JxlDecoderCloseInput(decoder.get());

    JxlBasicInfo info{};
    JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    DecodedPlane plane;
    LibraryColour meant;
    std::vector<unsigned char> pixels;
    for (;;) {
        switch (JxlDecoderProcessInput(decoder.get())) {
            case JXL_DEC_BASIC_INFO: {
                if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
                    return DecodeResult::Failed(DecodeError::Unreadable);
                // libjxl turns the picture upright itself and gives the upright sides (with
                // orientation 1) in the basic info: they are the sides of its output.
                const std::uint64_t width = info.xsize, height = info.ysize;
                if (width < 1 || width > kMaxPictureSide || height < 1 || height > kMaxPictureSide)
                    return DecodeResult::Failed(DecodeError::TooLarge);
                plane.width = static_cast<int>(width);
                plane.height = static_cast<int>(height);
                plane.channels = info.alpha_bits > 0 ? 4 : 3;
                plane.sixteen = info.bits_per_sample > 8;
                plane.bits = plane.sixteen ? 16 : 8;  // libjxl scales to the whole range
                format.num_channels = static_cast<std::uint32_t>(plane.channels);
                format.data_type = plane.sixteen ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8;
                break;
            }
            case JXL_DEC_COLOR_ENCODING:
                meant = ColourOf(decoder.get(), info.num_color_channels == 1);
                break;
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
                std::size_t bytes = 0;
                if (JxlDecoderImageOutBufferSize(decoder.get(), &format, &bytes) != JXL_DEC_SUCCESS)
                    return DecodeResult::Failed(DecodeError::Unreadable);
                plane.stride = std::size_t(plane.width) * std::size_t(plane.channels) * (plane.sixteen ? 2 : 1);
                if (bytes != plane.stride * std::size_t(plane.height)) return DecodeResult::Failed(DecodeError::Unreadable);
                try {
                    pixels.resize(bytes);
                } catch (const std::bad_alloc&) {
                    return DecodeResult::Failed(DecodeError::OutOfMemory);
                }
                if (JxlDecoderSetImageOutBuffer(decoder.get(), &format, pixels.data(), bytes) != JXL_DEC_SUCCESS)
                    return DecodeResult::Failed(DecodeError::Unreadable);
                break;
            }
            case JXL_DEC_FULL_IMAGE:
                // The first frame is the picture.
                plane.data = pixels.data();
                return DeliverDecodedRows(plane, background, meant, colour, receiver, sink);
            case JXL_DEC_SUCCESS:
            case JXL_DEC_NEED_MORE_INPUT:  // cut short
            case JXL_DEC_ERROR:
            default:
                return DecodeResult::Failed(DecodeError::Unreadable);
        }
    }
}

}  // namespace vistrel
