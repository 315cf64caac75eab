#include "decoding/readers/PngDecode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <libdeflate.h>
#include <spng.h>

#include "decoding/readers/Orientation.h"
#include "decoding/PageBuffer.h"
#include "decoding/readers/RowOutput.h"
#include "formats/ByteOrder.h"
#include "formats/PngChunks.h"

namespace vistrel {
namespace {

using headers::Bytes;
using headers::PngChunk;
using headers::PngWalk;
using headers::WalkPngChunks;

struct ContextFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;


// 16 bits to 8, to the nearest of the 256 levels (x / 257 rounded), as Qt narrows them.
inline std::uint32_t Narrow(std::uint32_t x) { return (x + 128 - ((x + 128) >> 8)) >> 8; }

// True when the chunks run whole from the signature to a complete end chunk: a file cut
// anywhere, even in the end chunk's checksum, fails before any row is shown.
bool ChunksRunToTheEnd(Bytes file) {
    return WalkPngChunks(file, [](const PngChunk&) { return true; }) == PngWalk::ReachedEnd;
}

// The orientation the first eXIf chunk records, wherever it stands; 1 without one. The
// chunks are walked as far as they run whole.
int ExifChunkOrientation(Bytes file) {
    int orientation = 1;
    WalkPngChunks(file, [&](const PngChunk& chunk) {
        if (!chunk.is("eXIf")) return true;
        orientation = ExifOrientation(chunk.data.data(), chunk.data.size());
        return false;
    });
    return orientation;
}

// Where the converted rows go, and the background transparent parts are laid over.
struct Output {
    RowOutput& rows;
    Pixel background = 0;
    WideRows* wide = nullptr;  // converts 16-bit samples' colours, when they are converted
};

enum class Outcome { Done, Declined, Unreadable, NoMemory, Cancelled };

// Deflate makes at most 1032 bytes of one (a run of 258 from each 2 bits).
constexpr std::size_t kLargestInflateRatio = 1032;

// The buffer the rows go to, and the word to whoever reads them; for 16-bit samples, the
// conversion of their colours when they are converted.
Outcome Started(Output& out, const spng_ihdr& ihdr) {
    if (out.rows.Start(static_cast<int>(ihdr.width), static_cast<int>(ihdr.height))) {
        if (ihdr.bit_depth == 16) out.wide = out.rows.TakeWideRows();
        return Outcome::Done;
    }
    return out.rows.failure() == DecodeError::Cancelled ? Outcome::Cancelled : Outcome::NoMemory;
}

// ---------------------------------------------------------------------------
// The whole-buffer path: every IDAT inflated at once by libdeflate (several times
// zlib's speed), then each row unfiltered and converted, band by band.

// The compressed pixels: the one run of IDAT chunks, each checked against its checksum.
// Nothing when a checksum fails or the run is broken by another chunk (Qt's reader then
// decides what such a file gives).
struct CompressedPixels {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    PageBuffer joined;  // the chunks' data end to end, when there are several
};

bool CollectIdat(Bytes file, CompressedPixels& out) {
    std::vector<Bytes> runs;
    bool runEnded = false, broken = false;
    const PngWalk walk = WalkPngChunks(file, [&](const PngChunk& chunk) {
        if (!chunk.is("IDAT")) {
            if (!runs.empty()) runEnded = true;
            return true;
        }
        broken = runEnded || libdeflate_crc32(0, chunk.type, chunk.data.size() + 4) != chunk.storedCrc();
        if (!broken) runs.push_back(chunk.data);
        return !broken;
    });
    if (broken || walk == PngWalk::CutShort || runs.empty()) return false;
    if (runs.size() == 1) {
        out.data = runs[0].data();
        out.size = runs[0].size();
        return true;
    }
    std::size_t total = 0;
    for (const Bytes run : runs) total += run.size();
    out.joined = PageBuffer(total);
    if (out.joined.data() == nullptr) throw std::bad_alloc();
    std::size_t filled = 0;
    for (const Bytes run : runs) {
        std::memcpy(out.joined.data() + filled, run.data(), run.size());
        filled += run.size();
    }
    out.data = out.joined.data();
    out.size = total;
    return true;
}

int Paeth(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// Undoes a row's filter in place, against the row above (already unfiltered; zeros for
// the first), for pixels of Bpp bytes: the pixel to the left is kept in registers, so
// that each byte waits only on its own channel's previous byte. False for a filter type
// PNG does not have.
template <std::size_t Bpp>
bool UnfilterPixels(std::uint8_t filter, std::uint8_t* row, const std::uint8_t* above, std::size_t n) {
    enum : std::uint8_t { kNone, kSub, kUp, kAverage, kPaeth };
    std::uint8_t left[Bpp] = {};
    std::uint8_t upLeft[Bpp] = {};
    switch (filter) {
        case kNone: return true;
        case kSub:
            for (std::size_t i = 0; i < n; i += Bpp)
                for (std::size_t c = 0; c < Bpp; ++c) left[c] = row[i + c] = std::uint8_t(row[i + c] + left[c]);
            return true;
        case kUp:
            for (std::size_t i = 0; i < n; ++i) row[i] = std::uint8_t(row[i] + above[i]);
            return true;
        case kAverage:
            for (std::size_t i = 0; i < n; i += Bpp)
                for (std::size_t c = 0; c < Bpp; ++c)
                    left[c] = row[i + c] = std::uint8_t(row[i + c] + ((left[c] + above[i + c]) >> 1));
            return true;
        case kPaeth:
            for (std::size_t i = 0; i < n; i += Bpp)
                for (std::size_t c = 0; c < Bpp; ++c) {
                    const std::uint8_t up = above[i + c];
                    left[c] = row[i + c] = std::uint8_t(row[i + c] + Paeth(left[c], up, upLeft[c]));
                    upLeft[c] = up;
                }
            return true;
        default: return false;
    }
}

bool Unfilter(std::uint8_t filter, std::uint8_t* row, const std::uint8_t* above, std::size_t n, std::size_t bpp) {
    switch (bpp) {
        case 1: return UnfilterPixels<1>(filter, row, above, n);
        case 2: return UnfilterPixels<2>(filter, row, above, n);
        case 3: return UnfilterPixels<3>(filter, row, above, n);
        case 4: return UnfilterPixels<4>(filter, row, above, n);
        case 6: return UnfilterPixels<6>(filter, row, above, n);
        case 8: return UnfilterPixels<8>(filter, row, above, n);
        default: return false;
    }
}

}  // namespace

namespace png_detail {

// The samples of one colour type at 8 or 16 bits, as opaque pixels.
template <int ColorType, bool Sixteen>
void ConvertRow(const RawLayout& f, const std::uint8_t* in, Pixel* out, std::size_t width) {
    constexpr std::size_t kChannels = ColorType == 0 || ColorType == 3 ? 1 : ColorType == 4 ? 2 : ColorType == 2 ? 3 : 4;
    constexpr std::size_t kSampleBytes = Sixteen ? 2 : 1;
    const auto sample = [&](std::size_t x, std::size_t c) -> std::uint32_t {
        const std::uint8_t* p = in + (x * kChannels + c) * kSampleBytes;
        if constexpr (Sixteen) return (std::uint32_t{p[0]} << 8) | p[1];
        return p[0];
    };
    const auto level = [](std::uint32_t v) -> std::uint32_t {
        if constexpr (Sixteen) return Narrow(v);
        return v;
    };
    for (std::size_t x = 0; x < width; ++x) {
        if constexpr (ColorType == 0) {
            const std::uint32_t v = sample(x, 0), g = level(v);
            out[x] = OverBackground(g, g, g, f.transparentColor && v == f.key[0] ? 0 : 0xFF, f.background);
        } else if constexpr (ColorType == 2) {
            const std::uint32_t r = sample(x, 0), g = sample(x, 1), b = sample(x, 2);
            const bool clear = f.transparentColor && r == f.key[0] && g == f.key[1] && b == f.key[2];
            out[x] = OverBackground(level(r), level(g), level(b), clear ? 0 : 0xFF, f.background);
        } else if constexpr (ColorType == 3) {
            const Pixel p = f.palette[in[x]];
            out[x] = OverBackground((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF, p >> 24, f.background);
        } else if constexpr (ColorType == 4) {
            const std::uint32_t g = level(sample(x, 0));
            out[x] = OverBackground(g, g, g, level(sample(x, 1)), f.background);
        } else {
            out[x] = OverBackground(level(sample(x, 0)), level(sample(x, 1)), level(sample(x, 2)), level(sample(x, 3)), f.background);
        }
    }
}

void RawToRgb32(const RawLayout& f, const std::uint8_t* in, Pixel* out, std::size_t width) {
    switch (f.colorType * 2 + (f.sixteen ? 1 : 0)) {
        case 0: ConvertRow<0, false>(f, in, out, width); return;
        case 1: ConvertRow<0, true>(f, in, out, width); return;
        case 4: ConvertRow<2, false>(f, in, out, width); return;
        case 5: ConvertRow<2, true>(f, in, out, width); return;
        case 6: ConvertRow<3, false>(f, in, out, width); return;
        case 8: ConvertRow<4, false>(f, in, out, width); return;
        case 9: ConvertRow<4, true>(f, in, out, width); return;
        case 12: ConvertRow<6, false>(f, in, out, width); return;
        case 13: ConvertRow<6, true>(f, in, out, width); return;
        default: return;
    }
}

}  // namespace png_detail

namespace {

// A 16-bit row's samples as red, green, blue and alpha (a tRNS colour transparent).
void Raw16ToRgba64(const png_detail::RawLayout& f, const std::uint8_t* in, std::uint16_t* out, std::size_t width) {
    constexpr std::uint16_t kOpaque = 0xFFFF;
    const std::size_t channels = f.colorType == 0 ? 1 : f.colorType == 4 ? 2 : f.colorType == 2 ? 3 : 4;
    for (std::size_t x = 0; x < width; ++x, out += 4) {
        std::uint16_t v[4] = {0, 0, 0, kOpaque};
        for (std::size_t c = 0; c < channels; ++c) {
            const std::uint8_t* p = in + (x * channels + c) * 2;
            v[c] = static_cast<std::uint16_t>((p[0] << 8) | p[1]);
        }
        switch (f.colorType) {
            case 0:
                v[3] = f.transparentColor && v[0] == f.key[0] ? 0 : kOpaque;
                v[1] = v[2] = v[0];
                break;
            case 4:
                v[3] = v[1];
                v[1] = v[2] = v[0];
                break;
            case 2:
                v[3] = f.transparentColor && v[0] == f.key[0] && v[1] == f.key[1] && v[2] == f.key[2] ? 0 : kOpaque;
                break;
            default: break;
        }
        std::copy_n(v, 4, out);
    }
}

Outcome RunWhole(Bytes file, spng_ctx* ctx, const spng_ihdr& ihdr, Output& out) {
    png_detail::RawLayout layout;
    layout.colorType = ihdr.color_type;
    layout.sixteen = ihdr.bit_depth == 16;
    layout.background = out.background;
    spng_trns trns{};
    const bool hasTrns = spng_get_trns(ctx, &trns) == 0;
    if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
        spng_plte plte{};
        if (spng_get_plte(ctx, &plte) != 0) return Outcome::Declined;
        // Filled up to 256 entries by PadPalette.
        if (plte.n_entries != layout.palette.size()) return Outcome::Declined;
        for (std::uint32_t i = 0; i < plte.n_entries; ++i) {
            const std::uint32_t alpha = hasTrns && i < trns.n_type3_entries ? trns.type3_alpha[i] : 0xFF;
            layout.palette[i] = (alpha << 24) | (Pixel{plte.entries[i].red} << 16) | (Pixel{plte.entries[i].green} << 8) |
                                plte.entries[i].blue;
        }
    } else if (hasTrns) {
        layout.transparentColor = true;
        layout.key[0] = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE ? trns.gray : trns.red;
        layout.key[1] = trns.green;
        layout.key[2] = trns.blue;
    }
    const std::size_t channels = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE || ihdr.color_type == SPNG_COLOR_TYPE_INDEXED
                                     ? 1
                                 : ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ? 2
                                 : ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR       ? 3
                                                                                      : 4;
    const std::size_t bpp = channels * (layout.sixteen ? 2 : 1);
    const std::size_t rowBytes = std::size_t(ihdr.width) * bpp;
    const std::size_t stride = rowBytes + 1;  // each row opens with its filter type

    const std::size_t rawBytes = stride * ihdr.height;
    PageBuffer raw;
    {
        CompressedPixels compressed;
        if (!CollectIdat(file, compressed)) return Outcome::Declined;
        // A stream that cannot hold the picture's rows is refused before its buffer is made.
        if (rawBytes / kLargestInflateRatio > compressed.size) return Outcome::Declined;
        raw = PageBuffer(rawBytes);
        if (raw.data() == nullptr) return Outcome::NoMemory;
        const std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> inflater(
            libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
        if (!inflater) return Outcome::NoMemory;
        std::size_t inflated = 0;
        // Too little or too much data, or a broken stream: Qt's reader decides what it gives.
        if (libdeflate_zlib_decompress(inflater.get(), compressed.data, compressed.size, raw.data(), rawBytes,
                                       &inflated) != LIBDEFLATE_SUCCESS ||
            inflated != rawBytes)
            return Outcome::Declined;
    }
    if (const Outcome started = Started(out, ihdr); started != Outcome::Done) return started;
    const std::vector<std::uint8_t> zeros(rowBytes, 0);
    std::vector<std::uint16_t> wideRow(out.wide != nullptr ? std::size_t(ihdr.width) * 4 : 0);
    for (std::size_t y = 0; y < ihdr.height; ++y) {
        std::uint8_t* row = raw.data() + y * stride;
        const std::uint8_t* above = y == 0 ? zeros.data() : row - stride + 1;
        if (!Unfilter(row[0], row + 1, above, rowBytes, bpp)) return Outcome::Unreadable;
        if (out.wide != nullptr) {
            Raw16ToRgba64(layout, row + 1, wideRow.data(), ihdr.width);
            out.wide->Convert(wideRow.data(), out.rows.Row(static_cast<int>(y)), ihdr.width, out.background);
        } else {
            png_detail::RawToRgb32(layout, row + 1, out.rows.Row(static_cast<int>(y)), ihdr.width);
        }
        if (!out.rows.Reached(static_cast<int>(y) + 1)) return Outcome::Cancelled;
    }
    return Outcome::Done;
}

// Qt's reader shows an index past the palette as the first entry (alpha included): the
// palette is filled up to every index the depth can reach with copies of it.
bool PadPalette(spng_ctx* ctx, const spng_ihdr& ihdr) {
    spng_plte plte{};
    if (spng_get_plte(ctx, &plte) != 0 || plte.n_entries < 1) return false;
    const std::uint32_t reach = 1u << ihdr.bit_depth;
    if (plte.n_entries >= reach) return true;
    spng_trns trns{};
    const bool hasTrns = spng_get_trns(ctx, &trns) == 0;
    const std::uint8_t firstAlpha = hasTrns && trns.n_type3_entries > 0 ? trns.type3_alpha[0] : 0xFF;
    for (std::uint32_t i = plte.n_entries; i < reach; ++i) plte.entries[i] = plte.entries[0];
    if (hasTrns) {
        for (std::uint32_t i = trns.n_type3_entries; i < reach; ++i)
            trns.type3_alpha[i] = i < plte.n_entries ? 0xFF : firstAlpha;
        trns.n_type3_entries = reach;
    }
    plte.n_entries = reach;
    if (spng_set_plte(ctx, &plte) != 0) return false;
    return !hasTrns || spng_set_trns(ctx, &trns) == 0;
}

// ---------------------------------------------------------------------------
// The row path: libspng inflates and hands out rows as RGBA, for interlaced pictures and
// depths under 8 bits.

Outcome Run(Bytes file, spng_ctx* ctx, Output& out) {
    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx, &ihdr) != 0) return Outcome::Declined;
    if (ihdr.width < 1 || ihdr.width > std::uint32_t(kMaxPictureSide) || ihdr.height < 1 ||
        ihdr.height > std::uint32_t(kMaxPictureSide))
        return Outcome::Declined;
    const bool sixteen = ihdr.bit_depth == 16;
    const int format = sixteen ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
    const std::size_t pixelBytes = sixteen ? 8 : 4;
    const std::size_t width = ihdr.width;
    const std::size_t rowBytes = width * pixelBytes;
    if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED && !PadPalette(ctx, ihdr)) return Outcome::Declined;
    // Every chunk before the pixels is read and checked here: a refusal is not yet ours.
    if (spng_decode_image(ctx, nullptr, 0, format, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) != 0)
        return Outcome::Declined;
    const bool interlaced = ihdr.interlace_method != SPNG_INTERLACE_NONE;
    if (!interlaced && ihdr.bit_depth >= 8) return RunWhole(file, ctx, ihdr, out);

    // An interlaced picture's rows are final only after the last pass: it is decoded whole.
    const PageBuffer decoded(interlaced ? rowBytes * ihdr.height : rowBytes);
    if (decoded.data() == nullptr) return Outcome::NoMemory;
    if (const Outcome started = Started(out, ihdr); started != Outcome::Done) return started;
    const auto convert = [&](const std::uint8_t* row, int y) {
        if (out.wide != nullptr)
            out.wide->Convert(reinterpret_cast<const std::uint16_t*>(row), out.rows.Row(y), width, out.background);
        else if (sixteen)
            png_detail::Rgba16ToRgb32(reinterpret_cast<const std::uint16_t*>(row), out.rows.Row(y), width, out.background);
        else
            png_detail::Rgba8ToRgb32(row, out.rows.Row(y), width, out.background);
    };

    int status = 0;
    do {
        spng_row_info row{};
        if ((status = spng_get_row_info(ctx, &row)) != 0) break;
        std::uint8_t* target = interlaced ? decoded.data() + rowBytes * row.row_num : decoded.data();
        status = spng_decode_row(ctx, target, rowBytes);
        if (status != 0 && status != SPNG_EOI) break;
        if (!interlaced) {
            convert(target, static_cast<int>(row.row_num));
            if (!out.rows.Reached(static_cast<int>(row.row_num) + 1)) return Outcome::Cancelled;
        }
    } while (status == 0);
    if (status != SPNG_EOI) return Outcome::Unreadable;
    // The chunks after the pixels, up to the end: a file cut short after them fails too.
    if (spng_decode_chunks(ctx) != 0) return Outcome::Unreadable;
    if (interlaced) {
        for (int y = 0; y < static_cast<int>(ihdr.height); ++y) {
            convert(decoded.data() + rowBytes * std::size_t(y), y);
            if (!out.rows.Reached(y + 1)) return Outcome::Cancelled;
        }
    }
    return Outcome::Done;
}

}  // namespace

namespace png_detail {

void Rgba8ToRgb32(const std::uint8_t* rgba, Pixel* out, std::size_t width, Pixel background) {
    for (std::size_t x = 0; x < width; ++x, rgba += 4) out[x] = OverBackground(rgba[0], rgba[1], rgba[2], rgba[3], background);
}

void Rgba16ToRgb32(const std::uint16_t* rgba, Pixel* out, std::size_t width, Pixel background) {
    for (std::size_t x = 0; x < width; ++x, rgba += 4)
        out[x] = OverBackground(Narrow(rgba[0]), Narrow(rgba[1]), Narrow(rgba[2]), Narrow(rgba[3]), background);
}

}  // namespace png_detail

ReadResult DecodePng(const ReaderInput& input) {
    const auto& [bytes, background, colour, receiver, sink, photosites] = input;

    if (!ChunksRunToTheEnd(bytes)) return DecodeResult::Failed(DecodeError::Unreadable);
    const Context ctx(spng_ctx_new(0));
    if (!ctx || spng_set_png_buffer(ctx.get(), bytes.data(), bytes.size()) != 0) return std::nullopt;
    spng_set_image_limits(ctx.get(), kMaxPictureSide, kMaxPictureSide);

    // A turned picture is decoded whole as stored, then turned and handed over.
    const int orientation = ExifChunkOrientation(bytes);
    HeldForTurning held(receiver);
    RowOutput rows(orientation == 1 ? receiver : &held, orientation == 1 ? sink : nullptr);
    Output out{rows, OpaquePixel(background)};
    switch (Run(bytes, ctx.get(), out)) {
        case Outcome::Done:
            if (orientation != 1) return DeliveredUpright(std::move(rows.Taken().surface->image()), orientation, receiver);
            return rows.Taken();
        case Outcome::Declined: return std::nullopt;
        case Outcome::Unreadable: return DecodeResult::Failed(DecodeError::Unreadable);
        case Outcome::NoMemory: return DecodeResult::Failed(DecodeError::OutOfMemory);
        case Outcome::Cancelled: return DecodeResult::Failed(DecodeError::Cancelled);
    }
    return DecodeResult::Failed(DecodeError::Unreadable);
}

}  // namespace vistrel
