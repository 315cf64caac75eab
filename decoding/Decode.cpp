#include "decoding/Decode.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>

#include <cerrno>
#include <cstdint>
#include <new>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "decoding/readers/BmpDecode.h"
#include "decoding/readers/ColourBands.h"
#include "formats/FileHeaders.h"
#include "decoding/readers/HeifDecode.h"
#include "decoding/readers/JpegDecode.h"
#include "decoding/readers/JxlDecode.h"
#include "decoding/readers/PngDecode.h"
#include "decoding/readers/TiffDecode.h"
#include "decoding/readers/WebpDecode.h"
#include "decoding/readers/WmfDecode.h"

namespace vistrel {
namespace {

using detail::ToOpaqueRgb32;

// Qt refuses any image over its allocation limit (128 MiB by default). The
// widest pixels a reader hands over are 8 bytes (16 bits a channel), so this
// lets the largest picture the program takes through, and nothing much larger.
constexpr int kAllocationLimitMiB =
    static_cast<int>(std::int64_t{kMaxPictureSide} * kMaxPictureSide * 8 / (1024 * 1024));

DecodeResult Failure(DecodeError error) { return DecodeResult::Failed(error); }

bool SideInRange(std::int64_t side) { return side >= 1 && side <= kMaxPictureSide; }

// ---------------------------------------------------------------------------
// Reading the file

// The whole file, read once. Its type is checked with stat() before it is
// opened, so a FIFO or a device is never opened at all; the open itself does
// not block either, and fstat() confirms the file opened is still a regular one.
PictureFile ReadRegularFile(const QString& path, FileAccess access) {
    if (const std::optional<DecodeError> refused = RefusedByName(path)) return {{}, *refused};
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};

    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return {{}, errno == ENOENT ? DecodeError::NotFound : DecodeError::Unreadable};
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::fstat(fd, &info) != 0) return {{}, DecodeError::Unreadable};
    if (!S_ISREG(info.st_mode)) return {{}, DecodeError::NotARegularFile};
    if (info.st_size <= 0) return {{}, DecodeError::Unreadable};
    switch (access) {
        case FileAccess::Copied:
            break;
        case FileAccess::Mapped: {
            const auto size = static_cast<std::size_t>(info.st_size);
            void* const mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (mapped == MAP_FAILED) break;  // read it instead
            return {QByteArray::fromRawData(static_cast<const char*>(mapped), static_cast<qsizetype>(size)), std::nullopt};
        }
    }

    QByteArray bytes(static_cast<qsizetype>(info.st_size), Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + filled, static_cast<std::size_t>(bytes.size() - filled));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return {{}, DecodeError::Unreadable};
        if (got == 0) break;  // the file shrank while being read
        filled += got;
    }
    if (filled == 0) return {{}, DecodeError::Unreadable};
    bytes.truncate(filled);
    return {std::move(bytes), std::nullopt};
}

// ---------------------------------------------------------------------------
// The bytes as the readers see them

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

// A picture decoded whole, handed to the receiver as one band.
DecodeResult Delivered(DecodeResult result, RowReceiver* receiver) {
    if (!result || receiver == nullptr) return result;
    if (receiver->PictureStarted(*result.surface) && receiver->RowsReady(result.surface->height())) return result;
    receiver->PictureDropped();
    return Failure(DecodeError::Cancelled);
}

DecodeResult DecodeBytes(PictureFile& file, ColorValue background, RowReceiver* receiver, BandSink* sink,
                         ColourHandling colour) {
    const auto* data = reinterpret_cast<const unsigned char*>(file.bytes.constData());
    const auto size = static_cast<std::size_t>(file.bytes.size());
    const headers::Bytes bytes(data, size);

    if (wmf::LooksLikeMetafile(data, size)) {
        wmf::WmfResult metafile = wmf::RenderMetafile(data, size, background);
        if (metafile.image.isNull()) return Failure(metafile.error);
        DecodeResult result;
        result.surface.emplace(std::move(metafile.image));
        return Delivered(std::move(result), receiver);
    }

    const headers::ClaimedSize claimed = headers::ReadClaimedSize(bytes);
    if (claimed.known() && !(SideInRange(claimed.width) && SideInRange(claimed.height)))
        return Failure(DecodeError::TooLarge);
    if (const headers::ClaimedSize largest = headers::LargestClaimedSize(bytes);
        largest.known() && SideInRange(largest.width) && SideInRange(largest.height) &&
        !PlausibleForItsFile(largest.width * largest.height, static_cast<std::int64_t>(size)))
        return Failure(DecodeError::TooManyPixelsForItsFile);

    // Formats Qt has no reader for, whose libraries read their own colour tags.
    if (std::optional<DecodeResult> heif = DecodeHeif(data, size, background, receiver, sink, colour)) return std::move(*heif);
    if (std::optional<DecodeResult> jxl = DecodeJxl(data, size, background, receiver, sink, colour)) return std::move(*jxl);

    static const bool limitRaised = [] {
        QImageReader::setAllocationLimit(kAllocationLimitMiB);
        return true;
    }();
    (void)limitRaised;

    WatchedBytes buffer(&file.bytes);
    buffer.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    if (!reader.canRead()) return Failure(DecodeError::NotAPicture);
    const QByteArray format = reader.format();

    if (format == "jpeg" || format == "jpg") {
        const headers::JpegScan scan = headers::ScanJpeg(bytes);
        if (scan.width >= 0 && !(SideInRange(scan.width) && SideInRange(scan.height)))
            return Failure(DecodeError::TooLarge);
        if (!scan.complete) return Failure(DecodeError::Unreadable);
        if (std::optional<DecodeResult> jpeg = DecodeJpeg(data, size, receiver, sink)) return std::move(*jpeg);
    }
    if (format == "png") {
        if (std::optional<DecodeResult> png = DecodePng(data, size, background, receiver, sink)) return std::move(*png);
    }

    if (format == "tiff" || format == "tif") {
        if (std::optional<DecodeResult> tiff = DecodeTiff(data, size, background, receiver, sink)) return std::move(*tiff);
    }

    if (format == "webp") {
        if (std::optional<DecodeResult> webp = DecodeWebp(data, size, background, receiver, sink)) return std::move(*webp);
    }

    if (format == "gif" && !headers::GifFirstFrameComplete(bytes)) return Failure(DecodeError::Unreadable);
    if ((format == "bmp" || format == "dib") && !headers::BmpHoldsItsRows(bytes))
        return Failure(DecodeError::Unreadable);
    if (format == "bmp") {
        if (std::optional<DecodeResult> bmp = DecodeBmp(data, size, background, receiver, sink)) return std::move(*bmp);
    }
    WatchedBytes* const watch = ReadsExactly(format) ? &buffer : nullptr;

    ReadImage chosen;
    if ((format == "ico" || format == "cur") && reader.imageCount() > 1) {
        // An icon holds several sizes; the largest is the picture. Only the
        // entries the file holds are asked for: its count may claim thousands.
        std::int64_t bestArea = 0;
        for (const int i : headers::IconEntriesHeld(bytes)) {
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
    if (!ToOpaqueRgb32(chosen.image, background)) return Failure(DecodeError::OutOfMemory);

    DecodeResult result;
    result.surface.emplace(std::move(chosen.image));
    return Delivered(std::move(result), receiver);
}

}  // namespace

namespace decode_detail {

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

}  // namespace decode_detail

bool NamesHdrSignal(const QString& colourSpace) {
    return colourSpace.endsWith(QLatin1String(" PQ")) || colourSpace.endsWith(QLatin1String(" HLG"));
}

std::optional<DecodeError> RefusedByName(const QString& path, std::int64_t* fileSize) {
    if (path.isEmpty()) return DecodeError::EmptyName;
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        const bool missing = errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG || errno == ELOOP;
        return missing ? DecodeError::NotFound : DecodeError::Unreadable;
    }
    if (!S_ISREG(info.st_mode)) return DecodeError::NotARegularFile;
    if (fileSize != nullptr) *fileSize = info.st_size;
    return std::nullopt;
}

PictureFile ReadPictureFile(const QString& path, FileAccess access) {
    try {
        return ReadRegularFile(path, access);
    } catch (const std::bad_alloc&) {
        return {{}, DecodeError::OutOfMemory};
    }
}

DecodeResult DecodePictureBytes(PictureFile file, ColorValue background, RowReceiver* receiver, BandSink* sink,
                                ColourHandling colour) {
    if (file.error) return Failure(*file.error);
    try {
        const PictureColour meant = PictureColourOf(
            {reinterpret_cast<const unsigned char*>(file.bytes.constData()), static_cast<std::size_t>(file.bytes.size())});
        if (!meant.converter || colour == ColourHandling::StoredValues) {
            DecodeResult result = DecodeBytes(file, background, receiver, sink, colour);
            if (!meant.name.isEmpty()) result.colourSpace = meant.name;
            return result;
        }
        // Every row reaches the caller through the conversion, even with no receiver.
        ColourBands bands(meant.converter, receiver, sink);
        DecodeResult result = DecodeBytes(file, background, &bands, sink != nullptr ? &bands : nullptr, colour);
        // A CMYK picture whose reader composed its inks itself is shown as composed, and
        // says nothing of a space it was not converted from.
        if (!bands.converted()) return result;
        result.colourSpace = meant.name;
        result.colourConverted = true;
        result.hdrToneMapped = meant.hdr;
        result.outOfGamut = bands.outOfGamut();
        return result;
    } catch (const std::bad_alloc&) {
        return Failure(DecodeError::OutOfMemory);
    }
}

DecodeResult DecodePicture(const QString& path, ColorValue background, RowReceiver* receiver, ColourHandling colour) {
    return DecodePictureBytes(ReadPictureFile(path), background, receiver, nullptr, colour);
}

}  // namespace vistrel
