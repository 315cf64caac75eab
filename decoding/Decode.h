#pragma once
// Picture decoding: a file turned into a full-size surface, or a failure.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

#include "colour/ColourHandling.h"
#include "decoding/RowReceiver.h"
#include "platform/Surface.h"

namespace vistrel {

// The largest side the program takes, in pixels.
inline constexpr int kMaxPictureSide = 32768;

// Pictures up to this many pixels are taken whatever their file's size; a larger one
// must have at least one byte of file for every kPixelsPerFileByte of its pixels. A
// photograph needs a byte for every few pixels, and even a flat drawing well under
// this; a file of a few bytes claiming a gigapixel has nothing to fill it with, and
// would only make the decoder and the program hold gigabytes.
inline constexpr std::int64_t kPixelsTakenAtAnySize = std::int64_t{64} << 20;
inline constexpr std::int64_t kPixelsPerFileByte = 128;
constexpr bool PlausibleForItsFile(std::int64_t pixels, std::int64_t fileBytes) {
    return pixels <= kPixelsTakenAtAnySize || pixels / kPixelsPerFileByte <= fileBytes;
}

enum class DecodeError {
    EmptyName,
    NotFound,
    NotARegularFile,  // a folder, a FIFO, a device: refused before opening
    Unreadable,       // a reader takes it, but its content is empty, truncated or corrupt
    TooLarge,         // a side over kMaxPictureSide, or a zero side
    // More pixels claimed than the file could hold (PlausibleForItsFile): a likely
    // decompression bomb, refused before any reader runs.
    TooManyPixelsForItsFile,
    OutOfMemory,
    Cancelled,        // the row receiver asked to stop
    NotAPicture,      // no reader takes its format
    WorkerStopped,    // the decoder process ended, hung or broke its message format
};

struct DecodeResult {
    std::optional<Surface> surface;  // the picture at its natural size, when decoded
    DecodeError error = DecodeError::Unreadable;
    // The colour space the file says its numbers are in ("Adobe RGB (1998)", "Display
    // P3", ...), from its profile's description or its tags; empty when it means sRGB
    // (or says nothing), whose pixels are always left as they are.
    QString colourSpace;
    bool colourConverted = false;  // the pixels were converted from colourSpace to sRGB
    std::uint64_t outOfGamut = 0;  // converted pixels that left sRGB's gamut and were clipped
    // An HDR picture (PQ or HLG) whose light was rendered as SDR by the conversion.
    bool hdrToneMapped = false;
    explicit operator bool() const { return surface.has_value(); }
    static DecodeResult Failed(DecodeError error) {
        DecodeResult result;
        result.error = error;
        return result;
    }
};

// True when a source space's name is that of an HDR signal (PQ or HLG transfer), which
// the conversion renders as SDR: how the program learns it from a worker's report.
bool NamesHdrSignal(const QString& colourSpace);

// The failures a name alone shows, found with stat() before anything is opened: an
// empty name, a missing file, a folder, a FIFO or a device. None for a regular file,
// whose size then goes to fileSize when it is given.
std::optional<DecodeError> RefusedByName(const QString& path, std::int64_t* fileSize = nullptr);

// GIF (first frame), BMP, JPEG, ICO (its largest image), WMF (at its natural
// size) and every other format Qt's image plugins read, turned upright as the file
// records. Transparent parts are composited over the background colour. A receiver, when given, hears of the picture's buffer
// and of its rows as they land: band by band for most JPEGs, all at once for the rest.
// A picture whose file means colours other than sRGB's reaches the receiver converted
// band by band, unless asked for its stored values.
DecodeResult DecodePicture(const QString& path, ColorValue background, RowReceiver* receiver = nullptr,
                           ColourHandling colour = ColourHandling::ConvertToSrgb);

// DecodePicture in its two steps, for a caller that must read the file before it may
// decode (a confined decoder can no longer open files). The file's bytes, read once,
// or why they cannot be: an empty name, a missing file, no regular file, no bytes.
struct PictureFile {
    QByteArray bytes;
    std::optional<DecodeError> error;
};
enum class FileAccess {
    Copied,  // read into memory of the caller's own
    // Mapped: no copy, for a process that decodes one picture and then ends (the mapping
    // stays until then). A file cut short by another program meanwhile ends that process.
    Mapped,
};
PictureFile ReadPictureFile(const QString& path, FileAccess access = FileAccess::Copied);
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
    // As RowReceiver::TakeWideRows and TakeInks, before the first row.
    virtual WideRows* TakeWideRows() { return nullptr; }
    virtual bool TakeInks() { return false; }
};
// What DecodePicture gives for a file read by ReadPictureFile. A picture that streams
// goes to the sink, when one is given, and the result then holds a null surface; the
// others reach the receiver as DecodePicture hands them over.
DecodeResult DecodePictureBytes(PictureFile file, ColorValue background, RowReceiver* receiver = nullptr,
                                BandSink* sink = nullptr, ColourHandling colour = ColourHandling::ConvertToSrgb);

namespace decode_detail {
// Qt's reader and the conversion to opaque pixels alone, without the program's own
// readers: what every picture gave before they took its format, for their tests.
DecodeResult DecodeWithQtReader(QByteArray bytes, ColorValue background);
}  // namespace decode_detail

namespace detail {
// A decoded picture, or a band of its rows, as an opaque Format_RGB32 image: Qt's own
// conversion, then straight alpha over the background. Every reader that streams puts
// its rows through this, so that they match what Qt's readers give. False when memory runs out.
bool ToOpaqueRgb32(QImage& image, ColorValue background);
}  // namespace detail

}  // namespace vistrel
