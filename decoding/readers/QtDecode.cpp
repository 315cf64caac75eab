#include "decoding/readers/QtDecode.h"

#include <QBuffer>
#include <QImageReader>

#include <cerrno>
#include <cstdint>

#include "decoding/readers/RowOutput.h"
#include "formats/FileHeaders.h"

namespace vistrel {
namespace {

// Qt refuses any image over its allocation limit (128 MiB by default). The
// widest pixels a reader hands over are 8 bytes (16 bits a channel), so this
// lets the largest picture the program takes through, and nothing much larger.
constexpr int kAllocationLimitMiB =
    static_cast<int>(std::int64_t{kMaxPictureSide} * kMaxPictureSide * 8 / (1024 * 1024));

DecodeResult Failure(DecodeError error) { return DecodeResult::Failed(error); }

bool SideInRange(std::int64_t side) { return side >= 1 && side <= kMaxPictureSide; }

// The file's bytes for Qt's readers, unbuffered so that every read reaches
// here at the size the reader asked for. It notes when a reader asks for
// bytes past the end: for the readers that read exactly what their headers
// declare, that means the file was cut short, whatever they then report.
class WatchedBytes : public QBuffer {
public:
    explicit WatchedBytes(QByteArray* bytes) : QBuffer(bytes) {}
    void rearm() { ranOut_ = false; }
    bool ranOut() const { return ranOut_; }
    bool seek(qint64 pos) override {
        if (pos > size()) ranOut_ = true;
        return QBuffer::seek(pos);
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (maxSize > size() - pos()) ranOut_ = true;
        return QBuffer::readData(data, maxSize);
    }

private:
    bool ranOut_ = false;
};

// Formats whose readers read exactly the bytes their headers declare, never
// ahead, and stop early without failing when the data ends (leaving pixels
// unwritten or their colours unread).
bool ReadsExactly(const QByteArray& format) {
    return format == "bmp" || format == "dib" || format == "tif" || format == "tiff" || format == "xbm";
}

// One image from the reader's current position. The size the handler reports
// from the header is checked before the pixel buffer is allocated.
struct ReadImage {
    QImage image;
    DecodeError error = DecodeError::Unreadable;
};

ReadImage ReadCurrent(QImageReader& reader, WatchedBytes* watch) {
    ReadImage out;
    if (watch) watch->rearm();  // the reader has read its header only to tell its format
    const QSize claimed = reader.size();  // (-1, -1) when the handler cannot tell
    if (claimed.isValid() && !(SideInRange(claimed.width()) && SideInRange(claimed.height()))) {
        out.error = DecodeError::TooLarge;
        return out;
    }
    QImage image;
    errno = 0;
    if (!reader.read(&image) || image.isNull()) {
        // An allocation that failed inside the reader leaves ENOMEM behind;
        // anything else is the file's fault.
        if (errno == ENOMEM) out.error = DecodeError::OutOfMemory;
        return out;
    }
    if (watch && watch->ranOut()) return out;
    if (!(SideInRange(image.width()) && SideInRange(image.height()))) {
        out.error = DecodeError::TooLarge;
        return out;
    }
    out.image = std::move(image);
    return out;
}

}  // namespace

ReadResult DecodeWithQt(const ReaderInput& input) {
    static const bool limitRaised = [] {
        QImageReader::setAllocationLimit(kAllocationLimitMiB);
        return true;
    }();
    (void)limitRaised;

    // Read in place: the bytes outlive the reader.
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(input.bytes.data()),
                                               static_cast<qsizetype>(input.bytes.size()));
    WatchedBytes buffer(&bytes);
    buffer.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    QImageReader reader(&buffer);
    // Where the file's first bytes name the one reader of Qt's that takes it, that reader
    // alone is asked: the others, which would each look at the file and turn it down,
    // then need not be loaded (in the confined worker they could not be).
    if (const char* format = QtFormatFor(input.bytes); format != nullptr) {
        reader.setFormat(format);
        reader.setAutoDetectImageFormat(false);
    }
    reader.setAutoTransform(true);
    if (!reader.canRead()) return Failure(DecodeError::NotAPicture);
    const QByteArray format = reader.format();
    WatchedBytes* const watch = ReadsExactly(format) ? &buffer : nullptr;

    ReadImage chosen;
    if ((format == "ico" || format == "cur") && reader.imageCount() > 1) {
        // An icon holds several sizes; the largest is the picture. Only the
        // entries the file holds are asked for: its count may claim thousands.
        std::int64_t bestArea = 0;
        for (const int i : headers::IconEntriesHeld(input.bytes)) {
            if (!reader.jumpToImage(i)) continue;
            ReadImage candidate = ReadCurrent(reader, nullptr);
            if (candidate.image.isNull()) {
                if (chosen.image.isNull()) chosen.error = candidate.error;
                continue;
            }
            const std::int64_t area = std::int64_t{candidate.image.width()} * candidate.image.height();
            if (area > bestArea) {
                bestArea = area;
                chosen = std::move(candidate);
            }
        }
    } else {
        chosen = ReadCurrent(reader, watch);
    }
    if (chosen.image.isNull()) return Failure(chosen.error);
    if (!ToOpaqueRgb32(chosen.image, input.background)) return Failure(DecodeError::OutOfMemory);
    return DeliveredWhole(std::move(chosen.image), input.receiver);
}

DecodeResult DecodeWithQtReader(QByteArray bytes, ColorValue background) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    QImage image;
    if (!reader.read(&image) || image.isNull()) return Failure(DecodeError::Unreadable);
    if (!ToOpaqueRgb32(image, background)) return Failure(DecodeError::OutOfMemory);
    DecodeResult result;
    result.surface.emplace(std::move(image));
    return result;
}

}  // namespace vistrel
