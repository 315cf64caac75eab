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
            const UprightPlace place = UprightPlaceOf(orientation, x, y, w, h);
            SetPixel(out, place.x, place.y, row[x]);
        }
    }
    return out;
}

DecodeResult DeliveredUpright(QImage stored, int orientation, RowReceiver* receiver) {
    // What the receiver noted by the stored pixels' places (a conversion's clipped pixels)
    // follows them; the stored picture's rows lie back to back.
    if (receiver != nullptr && orientation > 1 && orientation <= 8 &&
        stored.bytesPerLine() == qsizetype(stored.width()) * qsizetype(sizeof(Pixel)))
        receiver->Turning(reinterpret_cast<const std::uint32_t*>(stored.constBits()), stored.width(), stored.height(),
                          orientation);
    QImage upright = Upright(stored, orientation);
    stored = QImage();  // its memory back before the receiver's analysis takes more
    if (upright.isNull()) return DecodeResult::Failed(DecodeError::OutOfMemory);
    return DeliveredWhole(std::move(upright), receiver);
}

}  // namespace vistrel
