#pragma once
// EXIF's orientation, as JPEG (APP1), PNG (eXIf) and WebP (EXIF) files carry it, and the
// one turn that makes a stored picture upright.

#include <QImage>

#include <cstddef>

#include "decoding/Decode.h"
#include "decoding/RowReceiver.h"

namespace vistrel {

// The orientation (1..8) an EXIF block records in its first directory: a TIFF header and
// its directory, after the "Exif\0\0" signature JPEG's APP1 segment (and some WebP
// writers) put before it, or without it as PNG's eXIf chunk keeps it. 1 when the block
// records none or an invalid one.
int ExifOrientation(const unsigned char* exif, std::size_t size);

// Where stored pixel (x, y) of a width x height picture lies once it is turned upright
// by an EXIF orientation 1..8 (5 to 8 swap the sides), and the upright picture's width.
struct UprightPlace {
    int x = 0, y = 0, width = 0;
};
inline UprightPlace UprightPlaceOf(int orientation, int x, int y, int width, int height) {
    switch (orientation) {
        case 2: return {width - 1 - x, y, width};               // mirrored left to right
        case 3: return {width - 1 - x, height - 1 - y, width};  // upside down
        case 4: return {x, height - 1 - y, width};              // mirrored top to bottom
        case 5: return {y, x, height};                          // transposed
        case 6: return {height - 1 - y, x, height};             // turned a quarter clockwise
        case 7: return {height - 1 - y, width - 1 - x, height}; // transverse
        case 8: return {y, width - 1 - x, height};              // turned a quarter anticlockwise
        default: return {x, y, width};
    }
}

// A Format_RGB32 picture turned upright from an EXIF orientation 1..8 (1 gives it back
// unchanged); a null image when memory runs out.
QImage Upright(const QImage& stored, int orientation);

// A picture decoded whole as stored, turned upright and handed to the receiver (when
// given) as one band: what a reader returns for a picture its file says is turned.
DecodeResult DeliveredUpright(QImage stored, int orientation, RowReceiver* receiver);

// Where a streaming reader decodes a turned picture whole, before it is turned: it holds
// the rows and tells nobody of them, while a conversion of wide samples the real receiver
// offers is still taken, so that a turned picture's colours are as exact as an upright one's.
class HeldForTurning final : public RowReceiver {
public:
    explicit HeldForTurning(RowReceiver* receiver) : receiver_(receiver) {}
    bool PictureStarted(Surface&) override { return true; }
    bool RowsReady(int) override { return true; }
    void PictureDropped() override {}
    WideRows* TakeWideRows() override { return receiver_ != nullptr ? receiver_->TakeWideRows() : nullptr; }

private:
    RowReceiver* receiver_;
};

}  // namespace vistrel
