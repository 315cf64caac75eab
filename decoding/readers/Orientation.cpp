#include "decoding/readers/Orientation.h"

#include <cstdint>
#include <cstring>
#include <optional>

#include "decoding/readers/RowOutput.h"
#include "formats/TiffDirectory.h"

namespace vistrel {
namespace {

// The signature JPEG's APP1 segment opens its EXIF payload with.
constexpr unsigned char kExifSignature[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::uint16_t kOrientationTag = 0x0112;

void SetPixel(QImage& image, int x, int y, Pixel p) { reinterpret_cast<Pixel*>(image.scanLine(y))[x] = p; }

}  // namespace

int ExifOrientation(const unsigned char* exif, std::size_t size) {
    constexpr std::size_t kSignature = sizeof kExifSignature;
    if (size >= kSignature && std::memcmp(exif, kExifSignature, kSignature) == 0) {
        exif += kSignature;
        size -= kSignature;
    }
    const headers::TiffDirectory tiff({exif, size});
    if (!tiff.ok()) return 1;
    const std::optional<std::size_t> at = tiff.Find(tiff.FirstDirectory(), kOrientationTag);
    if (!at || tiff.U16(*at + 2) != headers::TiffDirectory::kShort || tiff.U32(*at + 4) != 1) return 1;
    const std::uint32_t value = tiff.U16(*at + 8);
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
}

QImage Upright(const QImage& stored, int orientation) {
    if (orientation <= 1 || orientation > 8) return stored;
    const int w = stored.width();
    const int h = stored.height();
    // Orientations 5 to 8 swap the sides.
    const bool swaps = orientation >= 5;
    QImage out(swaps ? h : w, swaps ? w : h, QImage::Format_RGB32);
    if (out.isNull()) return out;
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const Pixel*>(stored.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            // Where stored pixel (x, y) goes in the upright picture.
            switch (orientation) {
                case 2: SetPixel(out, w - 1 - x, y, row[x]); break;          // mirrored left to right
                case 3: SetPixel(out, w - 1 - x, h - 1 - y, row[x]); break;  // upside down
                case 4: SetPixel(out, x, h - 1 - y, row[x]); break;          // mirrored top to bottom
                case 5: SetPixel(out, y, x, row[x]); break;                  // transposed
                case 6: SetPixel(out, h - 1 - y, x, row[x]); break;          // turned a quarter clockwise
                case 7: SetPixel(out, h - 1 - y, w - 1 - x, row[x]); break;  // transverse
                case 8: SetPixel(out, y, w - 1 - x, row[x]); break;          // turned a quarter anticlockwise
                default: break;
            }
        }
    }
    return out;
}

DecodeResult DeliveredUpright(QImage stored, int orientation, RowReceiver* receiver) {
    QImage upright = Upright(stored, orientation);
    stored = QImage();  // its memory back before the receiver's analysis takes more
    if (upright.isNull()) return DecodeResult::Failed(DecodeError::OutOfMemory);
    return DeliveredWhole(std::move(upright), receiver);
}

}  // namespace vistrel
