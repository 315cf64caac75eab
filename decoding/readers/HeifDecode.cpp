#include "decoding/readers/HeifDecode.h"

#include <libheif/heif.h>

#include <memory>

#include "decoding/readers/DecodedRows.h"
#include "formats/FileHeaders.h"

namespace vistrel {
namespace {

// Tiles of a grid picture decoded at once: the worker's pool is of this size too.
constexpr int kDecodingThreads = 4;

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleRelease {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageRelease {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};

LibraryColour ColourOf(heif_image_handle* handle) {
    LibraryColour colour;
    switch (heif_image_handle_get_color_profile_type(handle)) {
        case heif_color_profile_type_prof:
        case heif_color_profile_type_rICC: {
            const std::size_t bytes = heif_image_handle_get_raw_color_profile_size(handle);
            if (bytes == 0 || bytes > colourtags::kMaxProfileBytes) break;
            colour.profile.resize(bytes);
            if (heif_image_handle_get_raw_color_profile(handle, colour.profile.data()).code != heif_error_Ok)
                colour.profile.clear();
            break;
        }
        case heif_color_profile_type_nclx: {
            heif_color_profile_nclx* nclx = nullptr;
            const bool read = heif_image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok;
            // libheif has already turned the samples into RGB at full range.
            if (read && nclx != nullptr)
                colour.cicp = colourtags::Cicp{static_cast<std::uint8_t>(nclx->color_primaries),
                                               static_cast<std::uint8_t>(nclx->transfer_characteristics), 0, 1};
            // Allocated even when libheif reports an error.
            if (nclx != nullptr) heif_nclx_color_profile_free(nclx);
            break;
        }
        case heif_color_profile_type_not_present:
            break;
    }
    return colour;
}

DecodeError ErrorOf(const heif_error& error) {
    return error.code == heif_error_Memory_allocation_error ? DecodeError::OutOfMemory : DecodeError::Unreadable;
}

}  // namespace

bool LooksLikeHeif(const unsigned char* data, std::size_t size) {
    constexpr std::size_t kBrandBytes = 12;
    if (size < kBrandBytes) return false;
    return heif_check_filetype(data, static_cast<int>(kBrandBytes)) == heif_filetype_yes_supported;
}

void PrepareHeif() { heif_init(nullptr); }

ReadResult DecodeHeif(const ReaderInput& input) {
    const auto& [bytes, background, colour, receiver, sink, photosites] = input;
    const unsigned char* const data = bytes.data();
    const std::size_t size = bytes.size();

    if (!LooksLikeHeif(data, size)) return std::nullopt;
    // libheif reads the coded data where the file's item locations say, and a picture cut
    // short inside its last box may still decode, with its last rows made up.
    if (!headers::BoxesRunToTheEnd({data, size})) return DecodeResult::Failed(DecodeError::Unreadable);
    const std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    if (!context) return DecodeResult::Failed(DecodeError::OutOfMemory);
    heif_context_set_maximum_image_size_limit(context.get(), kMaxPictureSide);
    heif_context_set_max_decoding_threads(context.get(), kDecodingThreads);
    heif_error error = heif_context_read_from_memory_without_copy(context.get(), data, size, nullptr);
    if (error.code != heif_error_Ok) return DecodeResult::Failed(ErrorOf(error));
    heif_image_handle* rawHandle = nullptr;
    error = heif_context_get_primary_image_handle(context.get(), &rawHandle);
    if (error.code != heif_error_Ok) return DecodeResult::Failed(ErrorOf(error));
    const std::unique_ptr<heif_image_handle, HandleRelease> handle(rawHandle);
    const int width = heif_image_handle_get_width(handle.get());
    const int height = heif_image_handle_get_height(handle.get());
    if (width < 1 || width > kMaxPictureSide || height < 1 || height > kMaxPictureSide)
        return DecodeResult::Failed(DecodeError::TooLarge);

    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    const int bits = heif_image_handle_get_luma_bits_per_pixel(handle.get());
    const bool sixteen = bits > 8;
    heif_chroma chroma = alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB;
    if (sixteen) chroma = alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE;
    const std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    if (!options) return DecodeResult::Failed(DecodeError::OutOfMemory);
    options->ignore_transformations = 0;
    heif_image* rawImage = nullptr;
    error = heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, chroma, options.get());
    const std::unique_ptr<heif_image, ImageRelease> image(rawImage);
    if (error.code != heif_error_Ok || !image) return DecodeResult::Failed(ErrorOf(error));

    DecodedPlane plane;
    int stride = 0;
    plane.data = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    plane.width = heif_image_get_width(image.get(), heif_channel_interleaved);
    plane.height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (plane.data == nullptr || stride <= 0 || plane.width != width || plane.height != height)
        return DecodeResult::Failed(DecodeError::Unreadable);
    plane.stride = static_cast<std::size_t>(stride);
    plane.channels = alpha ? 4 : 3;
    plane.sixteen = sixteen;
    plane.bits = sixteen ? heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) : 8;
    if (plane.bits <= 8 || plane.bits > 16) plane.bits = sixteen ? 16 : 8;
    return DeliverDecodedRows(plane, background, ColourOf(handle.get()), colour, receiver, sink);
}

}  // namespace vistrel
