#include "platform/Decode.h"

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>
#include <QPalette>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/JpegDecode.h"
#include "platform/WmfDecode.h"

namespace vistrel {
namespace {

// Qt refuses any image over its allocation limit (128 MiB by default). The
// widest pixels a reader hands over are 8 bytes (16 bits a channel), so this
// lets the largest picture the program takes through, and nothing much larger.
constexpr int kAllocationLimitMiB =
    static_cast<int>(std::int64_t{kMaxPictureSide} * kMaxPictureSide * 8 / (1024 * 1024));

DecodeResult Failure(DecodeError error) {
    DecodeResult result;
    result.error = error;
    return result;
}

bool SideInRange(std::int64_t side) { return side >= 1 && side <= kMaxPictureSide; }

// ---------------------------------------------------------------------------
// Reading the file

// The whole file, read once. Its type is checked with stat() before it is
// opened, so a FIFO or a device is never opened at all; the open itself does
// not block either, and fstat() confirms the file opened is still a regular one.
PictureFile ReadRegularFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) {
        const bool missing = errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG || errno == ELOOP;
        return {{}, missing ? DecodeError::NotFound : DecodeError::Unreadable};
    }
    if (!S_ISREG(info.st_mode)) return {{}, DecodeError::NotARegularFile};

    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return {{}, errno == ENOENT ? DecodeError::NotFound : DecodeError::Unreadable};
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::fstat(fd, &info) != 0) return {{}, DecodeError::Unreadable};
    if (!S_ISREG(info.st_mode)) return {{}, DecodeError::NotARegularFile};
    if (info.st_size <= 0) return {{}, DecodeError::Unreadable};

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
// What the header claims, checked before any pixel buffer exists

std::uint32_t BigEndian16(const unsigned char* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }
std::uint32_t BigEndian32(const unsigned char* p) { return (BigEndian16(p) << 16) | BigEndian16(p + 2); }
std::uint32_t LittleEndian16(const unsigned char* p) { return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8); }
std::uint32_t LittleEndian32(const unsigned char* p) { return LittleEndian16(p) | (LittleEndian16(p + 2) << 16); }

struct Scan {
    bool complete = false;             // the stream reaches its end-of-image marker
    std::int64_t width = -1, height = -1;  // from the first frame header, when one was seen
};

bool IsFrameHeader(unsigned char marker) {
    // SOF0..SOF15 less DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Walks the JPEG segments to the end-of-image marker. Qt's reader fills the
// missing rows of a cut-off file with grey and reports success, so a stream
// that ends before its end-of-image marker is taken as truncated here.
Scan ScanJpeg(const unsigned char* data, std::size_t size) {
    Scan scan;
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return scan;
    std::size_t pos = 2;
    while (pos < size) {
        if (data[pos] != 0xFF) return scan;
        while (pos < size && data[pos] == 0xFF) ++pos;  // fill bytes
        if (pos >= size) return scan;
        const unsigned char marker = data[pos++];
        if (marker == 0xD9) {
            scan.complete = true;
            return scan;
        }
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;  // no length follows
        if (pos + 2 > size) return scan;
        const std::size_t length = BigEndian16(data + pos);
        if (length < 2 || pos + length > size) return scan;
        if (IsFrameHeader(marker) && length >= 7 && scan.width < 0) {
            scan.height = BigEndian16(data + pos + 3);
            scan.width = BigEndian16(data + pos + 5);
        }
        pos += length;
        if (marker != 0xDA) continue;
        // Entropy-coded data: runs to the next marker that is neither a
        // stuffed zero nor a restart marker.
        for (;;) {
            const void* found = std::memchr(data + pos, 0xFF, size - pos);
            if (!found) return scan;
            pos = static_cast<std::size_t>(static_cast<const unsigned char*>(found) - data);
            if (pos + 1 >= size) return scan;
            const unsigned char next = data[pos + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7) || next == 0xFF) {
                pos += next == 0xFF ? 1 : 2;
                continue;
            }
            break;
        }
    }
    return scan;
}

// The size the header claims, for the formats whose header is simple enough
// to read here; {-1, -1} when unknown (Qt's reader is asked then).
std::pair<std::int64_t, std::int64_t> ClaimedSize(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const std::size_t n = static_cast<std::size_t>(bytes.size());
    if (n >= 24 && std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0 && std::memcmp(p + 12, "IHDR", 4) == 0)
        return {BigEndian32(p + 16), BigEndian32(p + 20)};
    if (n >= 26 && p[0] == 'B' && p[1] == 'M') {
        const std::uint32_t infoSize = LittleEndian32(p + 14);
        if (infoSize == 12) return {LittleEndian16(p + 18), LittleEndian16(p + 20)};
        const auto width = static_cast<std::int32_t>(LittleEndian32(p + 18));
        const auto height = static_cast<std::int32_t>(LittleEndian32(p + 22));
        // A negative height means rows stored top-down.
        return {width, height < 0 ? -std::int64_t{height} : std::int64_t{height}};
    }
    if (n >= 10 && (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0)) {
        // Frames are placed on the logical screen; a zero screen is left to
        // the reader, which then sizes the picture from its first frame.
        const std::int64_t width = LittleEndian16(p + 6), height = LittleEndian16(p + 8);
        if (width == 0 || height == 0) return {-1, -1};
        return {width, height};
    }
    return {-1, -1};
}

// GIF: true when the first image's data runs to its block terminator. Qt's
// reader takes a file cut off inside the first frame and returns what it got.
bool GifFirstFrameComplete(const unsigned char* data, std::size_t size) {
    constexpr std::size_t kHeaderBytes = 13;  // signature, version, logical screen
    if (size < kHeaderBytes) return false;
    std::size_t pos = kHeaderBytes;
    auto skipTable = [&](unsigned char packed) {
        if (packed & 0x80) pos += 3 * (std::size_t{2} << (packed & 0x07));
    };
    auto skipSubBlocks = [&]() {
        while (pos < size) {
            const std::size_t length = data[pos++];
            if (length == 0) return true;
            pos += length;
        }
        return false;
    };
    skipTable(data[10]);
    while (pos < size) {
        const unsigned char introducer = data[pos++];
        if (introducer == 0x21) {  // extension: label, then sub-blocks
            if (++pos > size || !skipSubBlocks()) return false;
        } else if (introducer == 0x2C) {  // image: descriptor, local table, code size, data
            if (pos + 9 > size) return false;
            const unsigned char packed = data[pos + 8];
            pos += 9;
            skipTable(packed);
            if (++pos > size) return false;
            return skipSubBlocks();
        } else {
            return false;  // the trailer or anything else before any image
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Pixels

// Straight (non-premultiplied) alpha over an opaque background, rounded to
// the nearest level; fully transparent gives the background exactly, fully
// opaque the source exactly. Turns the ARGB32 image into an opaque RGB32 one.
void CompositeOverBackground(QImage& image, ColorValue background) {
    Q_ASSERT(image.format() == QImage::Format_ARGB32);
    const Pixel bg = OpaquePixel(background);
    const std::uint32_t bgR = (bg >> 16) & 0xFF, bgG = (bg >> 8) & 0xFF, bgB = bg & 0xFF;
    const auto width = static_cast<std::size_t>(image.width());
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<Pixel*>(image.scanLine(y));
        for (std::size_t x = 0; x < width; ++x) {
            const Pixel s = row[x];
            const std::uint32_t a = s >> 24;
            if (a == 0xFF) {
                continue;
            }
            const std::uint32_t ia = 0xFF - a;
            const std::uint32_t r = (((s >> 16) & 0xFF) * a + bgR * ia + 127) / 255;
            const std::uint32_t g = (((s >> 8) & 0xFF) * a + bgG * ia + 127) / 255;
            const std::uint32_t b = ((s & 0xFF) * a + bgB * ia + 127) / 255;
            row[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
    image.reinterpretAsFormat(QImage::Format_RGB32);
}

// The decoded picture as an opaque Format_RGB32 image, converted once.
bool ToOpaqueRgb32(QImage& image, ColorValue background) {
    if (image.hasAlphaChannel()) {
        image.convertTo(QImage::Format_ARGB32);
        if (image.isNull()) return false;
        CompositeOverBackground(image, background);
    } else if (image.format() != QImage::Format_RGB32) {
        image.convertTo(QImage::Format_RGB32);
    }
    return !image.isNull();
}

// One image from the reader's current position. The size the handler reports
// from the header is checked before the pixel buffer is allocated.
struct ReadImage {
    QImage image;
    DecodeError error = DecodeError::Unreadable;
};

ReadImage ReadCurrent(QImageReader& reader) {
    ReadImage out;
    const QSize claimed = reader.size();  // (-1, -1) when the handler cannot tell
    if (claimed.isValid() && !(SideInRange(claimed.width()) && SideInRange(claimed.height()))) {
        out.error = DecodeError::TooLarge;
        return out;
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        // A reader that fails on a picture of a sane size may have failed for
        // memory; a test allocation of that size tells the two apart.
        if (claimed.isValid() && QImage(claimed, QImage::Format_ARGB32).isNull())
            out.error = DecodeError::OutOfMemory;
        return out;
    }
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
    return Failure(DecodeError::Cancelled);
}

DecodeResult DecodeBytes(PictureFile& file, ColorValue background, RowReceiver* receiver,
                         const PictureBuffer& pictureBuffer) {
    const auto* data = reinterpret_cast<const unsigned char*>(file.bytes.constData());
    const auto size = static_cast<std::size_t>(file.bytes.size());

    if (wmf::LooksLikeMetafile(data, size)) {
        wmf::WmfResult metafile = wmf::RenderMetafile(data, size, background);
        if (metafile.image.isNull()) return Failure(metafile.error);
        DecodeResult result;
        result.surface.emplace(std::move(metafile.image));
        return Delivered(std::move(result), receiver);
    }

    const auto [claimedWidth, claimedHeight] = ClaimedSize(file.bytes);
    if (claimedWidth >= 0 && !(SideInRange(claimedWidth) && SideInRange(claimedHeight)))
        return Failure(DecodeError::TooLarge);

    static const bool limitRaised = [] {
        QImageReader::setAllocationLimit(kAllocationLimitMiB);
        return true;
    }();
    (void)limitRaised;

    QBuffer buffer(&file.bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    if (!reader.canRead()) return Failure(DecodeError::Unreadable);
    const QByteArray format = reader.format();

    if (format == "jpeg" || format == "jpg") {
        const Scan scan = ScanJpeg(data, size);
        if (scan.width >= 0 && !(SideInRange(scan.width) && SideInRange(scan.height)))
            return Failure(DecodeError::TooLarge);
        if (!scan.complete) return Failure(DecodeError::Unreadable);
        if (std::optional<DecodeResult> jpeg = DecodeJpeg(data, size, receiver, pictureBuffer)) return std::move(*jpeg);
    }

    if (format == "gif" && !GifFirstFrameComplete(data, size)) return Failure(DecodeError::Unreadable);

    ReadImage chosen;
    if ((format == "ico" || format == "cur") && reader.imageCount() > 1) {
        // An icon holds several sizes; the largest is the picture.
        const int count = reader.imageCount();
        std::int64_t bestArea = 0;
        for (int i = 0; i < count; ++i) {
            if (!reader.jumpToImage(i)) continue;
            ReadImage candidate = ReadCurrent(reader);
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
        chosen = ReadCurrent(reader);
    }
    if (chosen.image.isNull()) return Failure(chosen.error);
    if (!ToOpaqueRgb32(chosen.image, background)) return Failure(DecodeError::OutOfMemory);

    DecodeResult result;
    result.surface.emplace(std::move(chosen.image));
    return Delivered(std::move(result), receiver);
}

}  // namespace

DecodeResult DecodePicture(const QString& path) {
    return DecodePicture(path, korvex::PixelToColor(QApplication::palette().color(QPalette::Base).rgb()));
}

PictureFile ReadPictureFile(const QString& path) {
    if (path.isEmpty()) return {{}, DecodeError::EmptyName};
    try {
        return ReadRegularFile(path);
    } catch (const std::bad_alloc&) {
        return {{}, DecodeError::OutOfMemory};
    }
}

DecodeResult DecodePictureBytes(PictureFile file, ColorValue background, RowReceiver* receiver,
                                const PictureBuffer& buffer) {
    if (file.error) return Failure(*file.error);
    try {
        return DecodeBytes(file, background, receiver, buffer);
    } catch (const std::bad_alloc&) {
        return Failure(DecodeError::OutOfMemory);
    }
}

DecodeResult DecodePicture(const QString& path, ColorValue background, RowReceiver* receiver) {
    return DecodePictureBytes(ReadPictureFile(path), background, receiver);
}

}  // namespace vistrel
