#include "decoding/PngDecode.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <spng.h>

namespace vistrel {
namespace {

// Rows converted between two reports: at least this many pixels, so that a report
// costs next to nothing against the band's decoding.
constexpr std::size_t kBandPixels = std::size_t{256} * 1024;

struct ContextFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;

// Straight alpha over the background, as the Qt path composites it.
inline Pixel Over(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a, Pixel bg) {
    if (a == 0xFF) return 0xFF000000u | (r << 16) | (g << 8) | b;
    const std::uint32_t ia = 0xFF - a;
    r = (r * a + ((bg >> 16) & 0xFF) * ia + 127) / 255;
    g = (g * a + ((bg >> 8) & 0xFF) * ia + 127) / 255;
    b = (b * a + (bg & 0xFF) * ia + 127) / 255;
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

// 16 bits to 8, to the nearest of the 256 levels (x / 257 rounded), as Qt narrows them.
inline std::uint32_t Narrow(std::uint32_t x) { return (x + 128 - ((x + 128) >> 8)) >> 8; }

// True when the chunks run whole from the signature to a complete end chunk: a file cut
// anywhere, even in the end chunk's checksum, fails before any row is shown.
bool ChunksRunToTheEnd(const unsigned char* data, std::size_t size) {
    constexpr std::size_t kSignatureBytes = 8;
    constexpr std::size_t kChunkFrameBytes = 12;  // length, type, checksum
    if (size < kSignatureBytes) return false;
    std::size_t at = kSignatureBytes;
    while (size - at >= kChunkFrameBytes) {
        const std::size_t length = (std::size_t{data[at]} << 24) | (std::size_t{data[at + 1]} << 16) |
                                   (std::size_t{data[at + 2]} << 8) | data[at + 3];
        if (length > size - at - kChunkFrameBytes) return false;
        if (std::memcmp(data + at + 4, "IEND", 4) == 0) return true;
        at += kChunkFrameBytes + length;
    }
    return false;
}

enum class Depth { Eight, Sixteen };

// Where the converted rows go, and who hears of them.
struct Output {
    int width = 0;
    int height = 0;
    Pixel background = 0;
    Depth depth = Depth::Eight;
    RowReceiver* receiver = nullptr;
    BandSink* sink = nullptr;
    Surface* picture = nullptr;      // the whole picture, unless a sink takes the bands
    std::vector<Pixel> band;         // the band buffer, with a sink
    std::size_t bandRows = 1;
    bool started = false;            // the receiver has been told of the buffer

    Pixel* Row(int y) {
        if (sink != nullptr) return band.data() + std::size_t(y) % bandRows * std::size_t(width);
        return picture->row(y);
    }
    void Convert(const std::uint8_t* decoded, int y) {
        const auto w = static_cast<std::size_t>(width);
        switch (depth) {
            case Depth::Eight: png_detail::Rgba8ToRgb32(decoded, Row(y), w, background); return;
            case Depth::Sixteen:
                png_detail::Rgba16ToRgb32(reinterpret_cast<const std::uint16_t*>(decoded), Row(y), w, background);
                return;
        }
    }
    // Rows up to (not including) `end` are final; a full band, or the last, is handed on.
    bool Reached(int end) {
        const bool bandFull = std::size_t(end) % bandRows == 0 || end == height;
        if (!bandFull) return true;
        const int first = static_cast<int>((std::size_t(end) - 1) / bandRows * bandRows);
        if (sink != nullptr)
            return sink->Put(first, end - first, reinterpret_cast<const uchar*>(band.data()));
        if (receiver != nullptr) return receiver->RowsReady(end);
        return true;
    }
};

enum class Outcome { Done, Declined, Unreadable, NoMemory, Cancelled };

Outcome Run(spng_ctx* ctx, Output& out) {
    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx, &ihdr) != 0) return Outcome::Declined;
    if (ihdr.width < 1 || ihdr.width > std::uint32_t(kMaxPictureSide) || ihdr.height < 1 ||
        ihdr.height > std::uint32_t(kMaxPictureSide))
        return Outcome::Declined;
    out.width = static_cast<int>(ihdr.width);
    out.height = static_cast<int>(ihdr.height);
    out.depth = ihdr.bit_depth == 16 ? Depth::Sixteen : Depth::Eight;
    const int format = out.depth == Depth::Sixteen ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
    const std::size_t pixelBytes = out.depth == Depth::Sixteen ? 8 : 4;
    const std::size_t width = ihdr.width;
    const std::size_t rowBytes = width * pixelBytes;
    // Every chunk before the pixels is read and checked here: a refusal is not yet ours.
    if (spng_decode_image(ctx, nullptr, 0, format, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) != 0)
        return Outcome::Declined;
    const bool interlaced = ihdr.interlace_method != SPNG_INTERLACE_NONE;

    // An interlaced picture's rows are final only after the last pass: it is decoded whole.
    std::vector<std::uint8_t> decoded;
    try {
        decoded.resize(interlaced ? rowBytes * ihdr.height : rowBytes);
        out.bandRows = std::max<std::size_t>(1, kBandPixels / width);
        if (out.sink != nullptr) {
            out.band.resize(std::min<std::size_t>(out.bandRows, ihdr.height) * width);
        } else {
            out.picture->image() = QImage(out.width, out.height, QImage::Format_RGB32);
            if (out.picture->image().isNull()) return Outcome::NoMemory;
        }
    } catch (const std::bad_alloc&) {
        return Outcome::NoMemory;
    }
    if (out.sink != nullptr) {
        if (!out.sink->Start(out.width, out.height)) return Outcome::NoMemory;
    } else if (out.receiver != nullptr) {
        out.started = true;
        if (!out.receiver->PictureStarted(*out.picture)) return Outcome::Cancelled;
    }

    int status = 0;
    do {
        spng_row_info row{};
        if ((status = spng_get_row_info(ctx, &row)) != 0) break;
        std::uint8_t* target = interlaced ? decoded.data() + rowBytes * row.row_num : decoded.data();
        status = spng_decode_row(ctx, target, rowBytes);
        if (status != 0 && status != SPNG_EOI) break;
        if (!interlaced) {
            out.Convert(target, static_cast<int>(row.row_num));
            if (!out.Reached(static_cast<int>(row.row_num) + 1)) return Outcome::Cancelled;
        }
    } while (status == 0);
    if (status != SPNG_EOI) return Outcome::Unreadable;
    // The chunks after the pixels, up to the end: a file cut short after them fails too.
    if (spng_decode_chunks(ctx) != 0) return Outcome::Unreadable;
    if (interlaced) {
        for (int y = 0; y < out.height; ++y) {
            out.Convert(decoded.data() + rowBytes * std::size_t(y), y);
            if (!out.Reached(y + 1)) return Outcome::Cancelled;
        }
    }
    return Outcome::Done;
}

}  // namespace

namespace png_detail {

void Rgba8ToRgb32(const std::uint8_t* rgba, Pixel* out, std::size_t width, Pixel background) {
    for (std::size_t x = 0; x < width; ++x, rgba += 4) out[x] = Over(rgba[0], rgba[1], rgba[2], rgba[3], background);
}

void Rgba16ToRgb32(const std::uint16_t* rgba, Pixel* out, std::size_t width, Pixel background) {
    for (std::size_t x = 0; x < width; ++x, rgba += 4)
        out[x] = Over(Narrow(rgba[0]), Narrow(rgba[1]), Narrow(rgba[2]), Narrow(rgba[3]), background);
}

}  // namespace png_detail

std::optional<DecodeResult> DecodePng(const unsigned char* data, std::size_t size, ColorValue background,
                                      RowReceiver* receiver, BandSink* sink) {
    if (!ChunksRunToTheEnd(data, size)) return DecodeResult::Failed(DecodeError::Unreadable);
    const Context ctx(spng_ctx_new(0));
    if (!ctx || spng_set_png_buffer(ctx.get(), data, size) != 0) return std::nullopt;
    spng_set_image_limits(ctx.get(), kMaxPictureSide, kMaxPictureSide);

    Surface picture;
    Output out;
    out.background = OpaquePixel(background);
    out.receiver = receiver;
    out.sink = sink;
    out.picture = &picture;
    const Outcome outcome = Run(ctx.get(), out);
    if (outcome == Outcome::Declined) return std::nullopt;

    DecodeResult result;
    switch (outcome) {
        case Outcome::Done:
            if (sink != nullptr) picture = Surface();
            result.surface.emplace(std::move(picture));
            return result;
        case Outcome::Declined:
        case Outcome::Unreadable: result.error = DecodeError::Unreadable; break;
        case Outcome::NoMemory: result.error = DecodeError::OutOfMemory; break;
        case Outcome::Cancelled: result.error = DecodeError::Cancelled; break;
    }
    if (out.started) receiver->PictureDropped();
    return result;
}

}  // namespace vistrel
