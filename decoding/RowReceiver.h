#pragma once
// The narrow seam between a decoder and whoever reads its rows as they land: the
// decoder owns the full-size buffer and says how far it is filled; the reader does not
// care where the rows come from.

#include <cstddef>
#include <cstdint>

#include <QtGlobal>

#include "platform/Surface.h"

namespace vistrel {

// Where a reader whose samples are wider than 8 bits makes its final pixels when the
// picture's colours are converted: the conversion then takes the samples at their full
// precision and rounds once, at the end.
class WideRows {
public:
    virtual ~WideRows() = default;
    // `count` pixels of 16-bit red, green, blue and alpha (65535 opaque, not
    // premultiplied), laid over the background (an opaque 0xFFRRGGBB pixel), converted
    // and rounded into `out`.
    virtual void Convert(const std::uint16_t* rgba, std::uint32_t* out, std::size_t count, std::uint32_t background) = 0;
    // `count` pixels of 16-bit inks, cyan, magenta, yellow and black (0 no ink), converted
    // and rounded into `out`; only after TakeInks said yes.
    virtual void ConvertInks(const std::uint16_t* cmyk, std::uint32_t* out, std::size_t count) = 0;
};

// Where a colour conversion tells which pixels left sRGB's gamut and were clipped, as
// their rows are handed on: after each band that has any, in order, the band's pixels
// `first` .. first + count - 1 (numbered y * width + x), bit i of bits[i / 64] for pixel
// first + i. What is told adds up to the decode's DecodeResult::outOfGamut.
class ClippedPixels {
public:
    virtual ~ClippedPixels() = default;
    virtual void Clipped(std::uint64_t first, std::size_t count, const std::uint64_t* bits) = 0;
};

class RowReceiver {
public:
    virtual ~RowReceiver() = default;
    // The picture's buffer exists at its final size; no row is filled yet. It stays where
    // it is until the decode ends. False stops the decode.
    virtual bool PictureStarted(Surface& picture) = 0;
    // Rows 0 .. rows - 1 hold their final pixels (rows only grows). False stops the decode.
    virtual bool RowsReady(int rows) = 0;
    // After PictureStarted, a decode that fails or is stopped calls this before it frees
    // the buffer; the receiver returns once it no longer touches the buffer. A decode that
    // succeeds hands the buffer over instead and never calls it.
    virtual void PictureDropped() = 0;
    // Asked by a reader of wide samples before its first row: a receiver that converts
    // the picture's colours hands over its conversion, and then takes the rows it hears
    // of as final. Nothing from the others.
    virtual WideRows* TakeWideRows() { return nullptr; }
    // Asked by a reader of CMYK before its first row, once it is sure to deliver the rows
    // itself: a receiver whose conversion takes inks says yes, and the reader then puts
    // each pixel's inks where its colour would go (cyan, magenta, yellow and black a byte
    // each, in that order in memory, 0 no ink), or hands 16-bit inks to
    // WideRows::ConvertInks. No from the others: the reader composes the inks itself.
    virtual bool TakeInks() { return false; }
    // Asked by a conversion of the rows on their way here: a receiver that hears which
    // pixels were clipped gives where to tell it; nothing from the others, whose decode
    // then keeps them in DecodeResult::clipped.
    virtual ClippedPixels* TakeClippedPixels() { return nullptr; }
    // A picture decoded whole as stored at `stored` (width x height, rows back to back) is
    // about to be turned upright by EXIF's `orientation` and handed over: what a receiver
    // noted of pixels by their place there follows them.
    virtual void Turning(const std::uint32_t* stored, int width, int height, int orientation) {
        (void)stored, (void)width, (void)height, (void)orientation;
    }
};

// Where a decoder that streams its rows hands them on when the picture is kept elsewhere
// (another process's memory): it decodes each band into a small buffer of its own and
// passes the band over, so that it never holds the whole picture.
class BandSink {
public:
    virtual ~BandSink() = default;
    // The picture's size, before any row; false when there is no room for it.
    virtual bool Start(int width, int height) = 0;
    // Rows first .. first + count - 1 in their final pixels, width * 4 bytes each and
    // back to back. False stops the decode.
    virtual bool Put(int first, int count, const uchar* rows) = 0;
    // Where rows first .. first + count - 1 may be decoded straight into their final
    // place, when the sink has one (nullptr otherwise): a decoder that writes them there
    // then puts them from that very address, and nothing is copied.
    virtual uchar* Destination(int first, int count) {
        (void)first;
        (void)count;
        return nullptr;
    }
    // As RowReceiver::TakeWideRows, TakeInks and TakeClippedPixels, before the first row.
    virtual WideRows* TakeWideRows() { return nullptr; }
    virtual bool TakeInks() { return false; }
    virtual ClippedPixels* TakeClippedPixels() { return nullptr; }
};

}  // namespace vistrel
