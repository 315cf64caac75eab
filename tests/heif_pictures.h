#pragma once
// HEIC, AVIF and JPEG XL files written for the tests with the libraries' own encoders
// (libheif's x265 and aom, libjxl), from Qt images.

#include <QByteArray>
#include <QImage>

#include <libheif/heif.h>
#include <jxl/encode.h>
#include <jxl/encode_cxx.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace heif_pictures {

enum class Codec { Hevc, Av1 };

struct Options {
    bool lossless = true;
    int quality = 90;
    int bits = 8;  // 8, or 10 / 12 (from the image's 16-bit samples, their top bits)
    bool alpha = false;
    heif_orientation orientation = heif_orientation_normal;  // libheif's and JPEG XL's orientations share numbers
    std::optional<std::pair<int, int>> cicp;  // primaries and transfer
    std::vector<unsigned char> profile;       // an ICC profile
};

inline heif_error Write(heif_context*, const void* data, size_t size, void* userdata) {
    static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data), static_cast<qsizetype>(size));
    return {heif_error_Ok, heif_suberror_Unspecified, ""};
}

inline QByteArray EncodeHeif(const QImage& source, Codec codec, const Options& o) {
    QByteArray out;
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    if (heif_context_get_encoder_for_format(context, codec == Codec::Hevc ? heif_compression_HEVC : heif_compression_AV1,
                                            &encoder)
            .code != heif_error_Ok) {
        heif_context_free(context);
        return out;
    }
    heif_encoder_set_lossless(encoder, o.lossless);
    heif_encoder_set_lossy_quality(encoder, o.quality);
    if (codec == Codec::Av1) {
        heif_encoder_set_parameter(encoder, "speed", "9");
        if (o.lossless) heif_encoder_set_parameter(encoder, "chroma", "444");
    } else {
        heif_encoder_set_parameter(encoder, "preset", "ultrafast");
    }
    const bool deep = o.bits > 8;
    const QImage image = source.convertToFormat(deep ? QImage::Format_RGBA64 : QImage::Format_RGBA8888);
    heif_chroma chroma = o.alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB;
    if (deep) chroma = o.alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE;
    heif_image* picture = nullptr;
    heif_image_create(image.width(), image.height(), heif_colorspace_RGB, chroma, &picture);
    heif_image_add_plane(picture, heif_channel_interleaved, image.width(), image.height(), o.bits);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    const int channels = o.alpha ? 4 : 3;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            for (int c = 0; c < channels; ++c) {
                if (deep) {
                    const auto* row = reinterpret_cast<const std::uint16_t*>(image.constScanLine(y));
                    const std::uint16_t v = static_cast<std::uint16_t>(row[4 * x + c] >> (16 - o.bits));
                    std::memcpy(plane + std::size_t(y) * stride + (std::size_t(x) * channels + c) * 2, &v, 2);
                } else {
                    plane[std::size_t(y) * stride + std::size_t(x) * channels + c] = image.constScanLine(y)[4 * x + c];
                }
            }
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    if (o.cicp) {
        nclx->color_primaries = static_cast<heif_color_primaries>(o.cicp->first);
        nclx->transfer_characteristics = static_cast<heif_transfer_characteristics>(o.cicp->second);
    }
    if (o.lossless) nclx->matrix_coefficients = heif_matrix_coefficients_RGB_GBR;
    nclx->full_range_flag = 1;
    if (o.cicp || o.lossless) heif_image_set_nclx_color_profile(picture, nclx);
    if (!o.profile.empty()) heif_image_set_raw_color_profile(picture, "prof", o.profile.data(), o.profile.size());
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->output_nclx_profile = nclx;
    options->image_orientation = o.orientation;
    options->macOS_compatibility_workaround_no_nclx_profile = 0;
    if (heif_context_encode_image(context, picture, encoder, options, nullptr).code == heif_error_Ok) {
        heif_writer writer{1, Write};
        heif_context_write(context, &writer, &out);
    }
    heif_encoding_options_free(options);
    heif_nclx_color_profile_free(nclx);
    heif_image_release(picture);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return out;
}

inline QByteArray EncodeJxl(const QImage& source, const Options& o) {
    const JxlEncoderPtr encoder = JxlEncoderMake(nullptr);
    const bool deep = o.bits > 8;
    const QImage image = source.convertToFormat(deep ? QImage::Format_RGBA64 : QImage::Format_RGBA8888);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = static_cast<std::uint32_t>(image.width());
    info.ysize = static_cast<std::uint32_t>(image.height());
    info.bits_per_sample = static_cast<std::uint32_t>(o.bits);
    info.num_color_channels = 3;
    info.alpha_bits = o.alpha ? info.bits_per_sample : 0;
    info.num_extra_channels = o.alpha ? 1 : 0;
    info.uses_original_profile = o.lossless ? JXL_TRUE : JXL_FALSE;
    info.orientation = static_cast<JxlOrientation>(o.orientation);
    if (JxlEncoderSetBasicInfo(encoder.get(), &info) != JXL_ENC_SUCCESS) return {};
    if (!o.profile.empty()) {
        if (JxlEncoderSetICCProfile(encoder.get(), o.profile.data(), o.profile.size()) != JXL_ENC_SUCCESS) return {};
    } else {
        JxlColorEncoding colour;
        JxlColorEncodingSetToSRGB(&colour, JXL_FALSE);
        if (o.cicp) {
            colour.primaries = static_cast<JxlPrimaries>(o.cicp->first == 12 ? JXL_PRIMARIES_P3 : o.cicp->first);
            colour.transfer_function = static_cast<JxlTransferFunction>(o.cicp->second);
        }
        if (JxlEncoderSetColorEncoding(encoder.get(), &colour) != JXL_ENC_SUCCESS) return {};
    }
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder.get(), nullptr);
    JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, 3);
    if (o.lossless) JxlEncoderSetFrameLossless(settings, JXL_TRUE);
    else JxlEncoderSetFrameDistance(settings, 1.0f);
    const std::uint32_t channels = o.alpha ? 4 : 3;
    JxlPixelFormat format{channels, deep ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    std::vector<unsigned char> samples;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            for (std::uint32_t c = 0; c < channels; ++c) {
                if (deep) {
                    // The sample's top bits, widened back to 16 so that libjxl's rounding to
                    // `bits` gives them again.
                    const unsigned top = (1u << o.bits) - 1;
                    const unsigned narrow = reinterpret_cast<const std::uint16_t*>(image.constScanLine(y))[4 * x + c] >> (16 - o.bits);
                    const auto v = static_cast<std::uint16_t>((narrow * 65535u + top / 2) / top);
                    const auto* b = reinterpret_cast<const unsigned char*>(&v);
                    samples.insert(samples.end(), b, b + 2);
                } else {
                    samples.push_back(image.constScanLine(y)[4 * x + c]);
                }
            }
    if (JxlEncoderAddImageFrame(settings, &format, samples.data(), samples.size()) != JXL_ENC_SUCCESS) return {};
    JxlEncoderCloseInput(encoder.get());
    std::vector<unsigned char> out(64 * 1024);
    std::size_t used = 0;
    for (;;) {
        std::uint8_t* next = out.data() + used;
        std::size_t room = out.size() - used;
        const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder.get(), &next, &room);
        used = static_cast<std::size_t>(next - out.data());
        if (status == JXL_ENC_SUCCESS) break;
        if (status != JXL_ENC_NEED_MORE_OUTPUT) return {};
        out.resize(out.size() * 2);
    }
    return QByteArray(reinterpret_cast<const char*>(out.data()), static_cast<qsizetype>(used));
}

}  // namespace heif_pictures
