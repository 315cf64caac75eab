#pragma once
// Where a streaming reader's finished rows go, in one of three ways: into a small band
// buffer handed to a BandSink (the worker), into a full-size surface a RowReceiver reads
// as it fills, or into a full-size surface returned at the end. Every reader that makes
// its own rows hands them over here, a band at a time.

#include <QImage>

#include <cstddef>
#include <cstdint>

#include "decoding/Decode.h"
#include "decoding/RowReceiver.h"

namespace vistrel {

// Rows handed on together: at least this many pixels, so that a report costs next to
// nothing against making the band, and enough bands for the analysis to overlap the decode.
inline constexpr std::size_t kBandPixels = std::size_t{256} * 1024;

// The rows of a band of kBandPixels for a picture of this size: 1 to height.
int BandRowsFor(int width, int height);

// Straight alpha over the background, rounded as Qt composites it, so that every reader
// gives the pixels the Qt path gives.
inline Pixel OverBackground(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a, Pixel bg) {
    if (a == 0xFF) return 0xFF000000u | (r << 16) | (g << 8) | b;
    const std::uint32_t ia = 0xFF - a;
    r = (r * a + ((bg >> 16) & 0xFF) * ia + 127) / 255;
    g = (g * a + ((bg >> 8) & 0xFF) * ia + 127) / 255;
    b = (b * a + (bg & 0xFF) * ia + 127) / 255;
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

// A decoded picture, or a band of its rows, as an opaque Format_RGB32 image: Qt's own
// conversion, then straight alpha over the background (OverBackground). Every picture
// Qt's readers decode goes through this. False when memory runs out.
bool ToOpaqueRgb32(QImage& image, ColorValue background);

// A picture decoded whole, handed to the receiver (when given) as one band.
DecodeResult DeliveredWhole(QImage picture, RowReceiver* receiver);

class RowOutput {
public:
    RowOutput(RowReceiver* receiver, BandSink* sink) : receiver_(receiver), sink_(sink) {}
    // A receiver told of the picture hears that it is dropped unless the picture was taken.
    ~RowOutput();
    RowOutput(const RowOutput&) = delete;
    RowOutput& operator=(const RowOutput&) = delete;

    // The picture's size and the most rows a band holds. False when memory runs out or
    // the receiver or sink refuses the picture; failure() then says which.
    bool Start(int width, int height, int bandRows);
    // As Start, with bands of BandRowsFor(width, height) rows.
    bool Start(int width, int height) { return Start(width, height, BandRowsFor(width, height)); }
    bool toSink() const { return sink_ != nullptr; }
    // After Start, for a reader of 16-bit samples: the conversion of the picture's colours
    // it applies itself, when they are converted (RowReceiver::TakeWideRows); nullptr otherwise.
    WideRows* TakeWideRows();
    // For a reader of CMYK, before its first row: RowReceiver::TakeInks of the sink or receiver.
    bool TakeInks();
    // Rows first .. first + count - 1 (first the first row not yet finished) are the next
    // band: when the sink offers its own place for them, Row() points there until the
    // band is finished, and nothing is copied.
    void OpenBand(int first, int count);
    // Row y of the picture, inside the band being filled: from the first row not yet
    // finished to bandRows rows later (or the band opened).
    Pixel* Row(int y);
    std::size_t stride() const;
    // Rows up to end - 1 hold their final pixels. False stops the decode.
    bool Finish(int end);
    // For a reader that makes one row at a time: rows up to end - 1 hold their final
    // pixels, and the band is handed on once it is full or the picture ends. False stops
    // the decode.
    bool Reached(int end);
    // For a reader that keeps its rows elsewhere: rows first .. first + count - 1, back
    // to back, go straight to the sink. False stops the decode.
    bool PutToSink(int first, int count, const uchar* rows);
    int finished() const { return finished_; }

    // The result once every row is finished.
    DecodeResult Taken();
    DecodeError failure() const { return failure_; }

private:
    RowReceiver* receiver_;
    BandSink* sink_;
    Surface picture_;
    QImage band_;
    uchar* place_ = nullptr;  // the sink's own place for the band opened, when it offered one
    int bandFirst_ = 0;
    int bandRows_ = 1;
    int height_ = 0;
    int finished_ = 0;
    bool started_ = false;  // the receiver has heard of the picture
    DecodeError failure_ = DecodeError::Unreadable;
};

}  // namespace vistrel
