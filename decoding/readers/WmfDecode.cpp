#include "decoding/readers/WmfDecode.h"

#include <libwmf/api.h>
#include <libwmf/gd.h>
#include <libwmf/ipa.h>
// The record of libwmf's gd image (found on the gd include path).
#include <gd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "decoding/readers/RowOutput.h"
#include "formats/ByteOrder.h"
#include "formats/FileHeaders.h"

namespace vistrel {
namespace {

// The surface's resolution: metafile sizes are given in inches.
constexpr double kDotsPerInch = 96.0;
// libwmf's device units for a placeable file.
constexpr double kPointsPerInch = 72.0;

// The gd device hands its page image over to the caller once it has played,
// and this libwmf exports no function that frees it. gd allocates it with
// malloc: the record, its row table, its contiguous block of pixels and its
// clip set with the set's list of rectangles.
struct PageImage {
    void* image = nullptr;
    ~PageImage() {
        auto* page = static_cast<gdImage*>(image);
        if (page == nullptr) return;
        std::free(page->_tpixels);
        std::free(page->tpixels);
        std::free(page->polyInts);
        std::free(page->style);
        if (page->clip != nullptr) std::free(page->clip->list);
        std::free(page->clip);
        std::free(page);
    }
};

// What the device-begin hook needs; hangs on the API's user_data.
struct BeginHook {
    void (*original)(wmfAPI*) = nullptr;
    int fill = 0;  // gd truecolour, alpha 0 (opaque)
};

// The gd device clears its page to white; the picture's unpainted parts show
// the background colour instead, as on the window it is drawn into.
void BeginOverBackground(wmfAPI* api) {
    auto* hook = static_cast<BeginHook*>(api->user_data);
    hook->original(api);
    if (api->err != wmf_E_None) return;
    const wmf_gd_t* device = WMF_GD_GetData(api);
    // The gd device's private data starts with its page image, a truecolour
    // gd image of width x height pixels held in one block.
    void* image = device->gd_data ? *static_cast<void**>(device->gd_data) : nullptr;
    int* pixels = image ? wmf_gd_image_pixels(image) : nullptr;
    if (!pixels) return;
    const std::size_t count = std::size_t{device->width} * std::size_t{device->height};
    std::fill(pixels, pixels + count, hook->fill);
}

// Owns one libwmf session.
class Session {
public:
    Session() {
        wmfAPI_Options options{};
        options.function = wmf_gd_function;
        const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
        if (wmf_api_create(&api_, flags, &options) != wmf_E_None) {
            if (api_) wmf_api_destroy(api_);
            api_ = nullptr;
        }
    }
    ~Session() {
        if (!api_) return;
        if (opened_) wmf_mem_close(api_);
        wmf_api_destroy(api_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    wmfAPI* api() const { return api_; }
    bool open(const unsigned char* data, std::size_t size) {
        // libwmf only reads the buffer; its signature lacks the const.
        opened_ = wmf_mem_open(api_, const_cast<unsigned char*>(data), static_cast<long>(size)) == wmf_E_None;
        return opened_;
    }

private:
    wmfAPI* api_ = nullptr;
    bool opened_ = false;
};

// The metafile drawn, or why it could not be.
struct WmfResult {
    QImage image;
    DecodeError error = DecodeError::Unreadable;
};

WmfResult RenderMetafile(const unsigned char* data, std::size_t size, ColorValue background) {
    WmfResult result;
    if (!headers::LooksLikeMetafile({data, size})) return result;

    // The natural size: a placeable file states its bounding box and units
    // per inch; a plain one is sized by libwmf from its drawing.
    const bool placeable = bytes::Little32(data) == headers::kPlaceableKey;
    double width = 0;
    double height = 0;
    // A placeable file's frame in libwmf's device units (points), relative to
    // the window origin its records set; the picture is that frame, painted or not.
    wmfD_Rect frame{};
    if (placeable) {
        const auto left = static_cast<std::int16_t>(bytes::Little16(data + 6));
        const auto top = static_cast<std::int16_t>(bytes::Little16(data + 8));
        const auto right = static_cast<std::int16_t>(bytes::Little16(data + 10));
        const auto bottom = static_cast<std::int16_t>(bytes::Little16(data + 12));
        const std::uint16_t inch = bytes::Little16(data + 14);
        if (inch == 0) return result;
        width = std::nearbyint(std::abs(right - left) * kDotsPerInch / inch);
        height = std::nearbyint(std::abs(bottom - top) * kDotsPerInch / inch);
        const std::size_t headerBytes =
            headers::kPlaceableHeaderBytes + 2 * std::size_t{bytes::Little16(data + headers::kPlaceableHeaderBytes + 2)};
        const auto [originX, originY] = headers::FirstWindowOrigin({data, size}, headerBytes);
        const double pointsPerUnit = kPointsPerInch / inch;
        const auto toPoints = [&](int v, int origin) { return static_cast<float>((v - origin) * pointsPerUnit); };
        frame.TL = {std::min(toPoints(left, originX), toPoints(right, originX)),
                    std::min(toPoints(top, originY), toPoints(bottom, originY))};
        frame.BR = {std::max(toPoints(left, originX), toPoints(right, originX)),
                    std::max(toPoints(top, originY), toPoints(bottom, originY))};
    }

    // Records the player is known to mishandle are refused before it plays them.
    if (!headers::MetafileRecordsPlayable({data, size}, kMaxPictureSide)) return result;

    Session session;
    if (!session.api()) return result;
    wmfAPI* api = session.api();
    if (!session.open(data, size)) return result;

    wmfD_Rect bbox{};
    if (wmf_scan(api, 0, &bbox) != wmf_E_None) return result;
    if (!placeable) {
        unsigned int w = 0;
        unsigned int h = 0;
        if (wmf_display_size(api, &w, &h, kDotsPerInch, kDotsPerInch) != wmf_E_None) return result;
        width = w;
        height = h;
    }
    // A drawing has no more detail at a larger size: one declared larger than the budget
    // is drawn at the budget, its proportions kept, so that a few bytes cannot ask for
    // gigabytes of pixels.
    if (width * height > double(kMetafilePixelBudget)) {
        const double scale = std::sqrt(double(kMetafilePixelBudget) / (width * height));
        width = std::max(1.0, std::floor(width * scale));
        height = std::max(1.0, std::floor(height * scale));
    }
    if (!(width >= 1 && height >= 1 && width <= kMaxPictureSide && height <= kMaxPictureSide)) {
        result.error = DecodeError::TooLarge;
        return result;
    }

    wmf_gd_t* device = WMF_GD_GetData(api);
    device->type = wmf_gd_image;
    device->bbox = placeable ? frame : bbox;
    device->width = static_cast<unsigned int>(width);
    device->height = static_cast<unsigned int>(height);

    const Pixel fill = OpaquePixel(background) & 0x00FFFFFFu;
    BeginHook hook{nullptr, static_cast<int>(fill)};
    auto* functions = static_cast<wmfFunctionReference*>(api->function_reference);
    hook.original = functions->device_begin;
    functions->device_begin = BeginOverBackground;
    api->user_data = &hook;

    const wmf_error_t played = wmf_play(api, 0, &bbox);
    functions->device_begin = hook.original;
    api->user_data = nullptr;
    const PageImage page{device->gd_image};
    if (played != wmf_E_None) {
        if (played == wmf_E_InsMem) result.error = DecodeError::OutOfMemory;
        return result;
    }

    const int* pixels = device->gd_image ? wmf_gd_image_pixels(device->gd_image) : nullptr;
    if (!pixels) return result;

    const int outWidth = static_cast<int>(width);
    const int outHeight = static_cast<int>(height);
    QImage out(outWidth, outHeight, QImage::Format_RGB32);
    if (out.isNull()) {
        result.error = DecodeError::OutOfMemory;
        return result;
    }
    const auto w = static_cast<std::size_t>(outWidth);
    for (int y = 0; y < outHeight; ++y) {
        const int* src = pixels + static_cast<std::size_t>(y) * w;
        auto* dst = reinterpret_cast<Pixel*>(out.scanLine(y));
        for (std::size_t x = 0; x < w; ++x) dst[x] = 0xFF000000u | (static_cast<Pixel>(src[x]) & 0x00FFFFFFu);
    }
    result.image = std::move(out);
    return result;
}

}  // namespace

ReadResult DecodeMetafile(const ReaderInput& input) {
    WmfResult metafile = RenderMetafile(input.bytes.data(), input.bytes.size(), input.background);
    if (metafile.image.isNull()) return DecodeResult::Failed(metafile.error);
    return DeliveredWhole(std::move(metafile.image), input.receiver);
}

}  // namespace vistrel
