#pragma once
// HEIC, AVIF and JPEG XL files written for the tests with the libraries' own encoders
// (libheif's x265 and aom, libjxl), from Qt images.

#include <QByteArray>
#include <QImage>

#include <jxl/encode.h>
#include <jxl/encode_cxx.h>
#include <libheif/heif.h>

#include <cstring>
#include <optional>
#include <vector>

namespace heif_pictures {

enum class Codec { Hevc, Av1 };

struct Options {
    bool lossless = true;
    int quality = 90;
    int bits = 8;  // 8, or 10 / 12: the top bits of the image's 16-bit samples
    bool alpha = false;
    heif_orientation orientation = heif_orientation_normal;  // JPEG XL's orientations share these numbers
    std::optional<std::pair<int, int>> cicp;  // primaries and transfer
    double gamma = 0;                         // JPEG XL's, with transfer 65535 (a bare gamma)
    std::vector<unsigned char> profile;       // an ICC profile
};

// Interleaved samples, RGB or RGBA: bytes at 8 bits, else `bits`-bit values in 16-bit words
// (widened back to the whole 16-bit range when `widened`, as libjxl takes them).
inline std::vector<unsigned char> Samples(const QImage& source, const Options& o, bool widened) {
    const QImage image = source.convertToFormat(QImage::Format_RGBA64);
    const int channels = o.alpha ? 4 : 3;
    const unsigned top = (1u << o.bits) - 1;
    std::vector<unsigned char> out;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            for (int c = 0; c < channels; ++c) {
                const unsigned v = reinterpret_cast<const quint16*>(image.constScanLine(y))[4 * x + c];
                if (o.bits == 8) {
                    out.push_back(static_cast<unsigned char>((v + 128 - ((v + 128) >> 8)) >> 8));  // as Qt narrows
                    continue;
                }
                const unsigned narrow = v >> (16 - o.bits);
                const auto word = static_cast<quint16>(widened ? (narrow * 65535u + top / 2) / top : narrow);
                out.insert(out.end(), reinterpret_cast<const unsigned char*>(&word), reinterpret_cast<const unsigned char*>(&word) + 2);
            }
    return out;
}

inline QByteArray EncodeHeif(const QImage& image, Codec codec, const Options& o) {
    QByteArray out;
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, codec == Codec::Hevc ? heif_compression_HEVC : heif_compression_AV1, &encoder);
    heif_encoder_set_lossless(encoder, o.lossless);
    heif_encoder_set_lossy_quality(encoder, o.quality);
    if (codec == Codec::Av1) heif_encoder_set_parameter(encoder, "speed", "9");
    if (codec == Codec::Av1 && o.lossless) heif_encoder_set_parameter(encoder, "chroma", "444");
    if (codec == Codec::Hevc) heif_encoder_set_parameter(encoder, "preset", "ultrafast");
    heif_chroma chroma = o.alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB;
    if (o.bits > 8) chroma = o.alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE;
    heif_image* picture = nullptr;
    heif_image_create(image.width(), image.height(), heif_colorspace_RGB, chroma, &picture);
    heif_image_add_plane(picture, heif_channel_interleaved, image.width(), image.height(), o.bits);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    const std::vector<unsigned char> samples = Samples(image, o, false);
    const std::size_t rowBytes = samples.size() / std::size_t(image.height());
    for (int y = 0; y < image.height(); ++y) std::memcpy(plane + std::size_t(y) * stride, samples.data() + y * rowBytes, rowBytes);
    // Lossless needs RGB stored as it is (no matrix), set on the image and the output alike.
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    if (o.cicp) nclx->color_primaries = static_cast<heif_color_primaries>(o.cicp->first);
    if (o.cicp) nclx->transfer_characteristics = static_cast<heif_transfer_characteristics>(o.cicp->second);
    if (o.lossless) nclx->matrix_coefficients = heif_matrix_coefficients_RGB_GBR;
    nclx->full_range_flag = 1;
    if (o.cicp || o.lossless) heif_image_set_nclx_color_profile(picture, nclx);
    if (!o.profile.empty()) heif_image_set_raw_color_profile(picture, "prof", o.profile.data(), o.profile.size());
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->output_nclx_profile = nclx;
    options->image_orientation = o.orientation;
    options->macOS_compatibility_workaround_no_nclx_profile = 0;  // on by default: no colour box then
    if (heif_context_encode_image(context, picture, encoder, options, nullptr).code == heif_error_Ok) {
        heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* to) {
                               static_cast<QByteArray*>(to)->append(static_cast<const char*>(data), qsizetype(size));
                               return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                           }};
        heif_context_write(context, &writer, &out);
    }
    heif_encoding_options_free(options);
    heif_nclx_color_profile_free(nclx);
    heif_image_release(picture);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return out;
}

inline QByteArray EncodeJxl(const QImage& image, const Options& o) {
    const JxlEncoderPtr encoder = JxlEncoderMake(nullptr);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = static_cast<uint32_t>(image.width());
    info.ysize = static_cast<uint32_t>(image.height());
    info.bits_per_sample = static_cast<uint32_t>(o.bits);
    info.alpha_bits = o.alpha ? info.bits_per_sample : 0;
    info.num_extra_channels = o.alpha ? 1 : 0;
    info.uses_original_profile = o.lossless;
    info.orientation = static_cast<JxlOrientation>(o.orientation);
    JxlColorEncoding colour;
    JxlColorEncodingSetToSRGB(&colour, JXL_FALSE);
    if (o.cicp) colour.primaries = o.cicp->first == 12 ? JXL_PRIMARIES_P3 : static_cast<JxlPrimaries>(o.cicp->first);
    if (o.cicp) colour.transfer_function = static_cast<JxlTransferFunction>(o.cicp->second);
    if (o.gamma > 0) colour.gamma = o.gamma;
    if (JxlEncoderSetBasicInfo(encoder.get(), &info) != JXL_ENC_SUCCESS ||
        (o.profile.empty() ? JxlEncoderSetColorEncoding(encoder.get(), &colour)
                           : JxlEncoderSetICCProfile(encoder.get(), o.profile.data(), o.profile.size())) != JXL_ENC_SUCCESS)
        return {};
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder.get(), nullptr);
    JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, 3);
    if (o.lossless) JxlEncoderSetFrameLossless(settings, JXL_TRUE);
    const JxlPixelFormat format{o.alpha ? 4u : 3u, o.bits > 8 ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    const std::vector<unsigned char> samples = Samples(image, o, true);
    if (JxlEncoderAddImageFrame(settings, &format, samples.data(), samples.size()) != JXL_ENC_SUCCESS) return {};
    JxlEncoderCloseInput(encoder.get());
    std::vector<unsigned char> out(64 * 1024);
    std::size_t used = 0;
    for (JxlEncoderStatus status = JXL_ENC_NEED_MORE_OUTPUT; status != JXL_ENC_SUCCESS;) {
        if (used == out.size()) out.resize(out.size() * 2);
        uint8_t* next = out.data() + used;
        std::size_t room = out.size() - used;
        status = JxlEncoderProcessOutput(encoder.get(), &next, &room);
        used = static_cast<std::size_t>(next - out.data());
        if (status == JXL_ENC_ERROR) return {};
    }
    return QByteArray(reinterpret_cast<const char*>(out.data()), qsizetype(used));
}

}  // namespace heif_pictures
