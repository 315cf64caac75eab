#pragma once
// What decoding gives and how it fails: the contract between the decoder (its readers,
// in a confined process of its own) and the program, which sees only these types.

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "colour/ColourHandling.h"
#include "colour/Signal.h"
#include "decoding/PageBuffer.h"
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

// What a camera raw file's photosites hold, read before they are demosaiced, for the
// cameras whose colour filter array repeats every 2 x 2 photosites (nearly all; Fuji's
// X-Trans and full-colour sensors have none of this).
struct RawLevels {
    std::uint32_t max = 0;
    // The smallest raw value with at least ceil(0.99 N) of the colour's N photosites at or below it.
    std::uint32_t p99 = 0;
    std::uint64_t atWhite = 0;  // photosites at or above the white level
    bool operator==(const RawLevels&) const = default;
};
struct RawPhotosites {
    std::array<char, 4> cfa{};  // 'R', 'G' or 'B' at (0, 0), (0, 1), (1, 0) and (1, 1)
    int bits = 0;  // the depth the white level needs: what the camera delivers, not how it is stored
    std::array<std::uint32_t, 4> black{};  // each position's black level, in the cfa's order
    // The level at which the sensor clips, black included; 0 when the file gives none its
    // photosites can reach (bits is then their stored depth, and nothing is at white).
    std::uint32_t white = 0;
    std::array<RawLevels, 3> levels;  // R, G (both greens together) and B
    bool operator==(const RawPhotosites&) const = default;

    // The black level of a colour's photosites (0 R, 1 G, 2 B): their positions' mean.
    double Black(int channel) const;
    // How far a colour's p99 lies below clipping, in stops: log2((white - black) / (p99 -
    // black)) to two decimals; nothing when p99 (or the white level) is at or below black.
    std::optional<double> HeadroomEv(int channel) const;
};
// The photosites of a colour filter array, as the sensor holds them: the visible area,
// in the sensor's own orientation, each value as the file stores it (black included).
// A repeat of the filter array gives each place its class: R, G1, G2 or B for a 2 x 2
// array (G1 the green that comes first in the array's order), R, G or B for Fuji's 6 x 6
// X-Trans, whose greens are not two sets. The developed picture is this area turned as
// the camera was held (LibRaw's flip bits: 1 mirrored left to right, 2 top to bottom, 4
// rows and columns swapped), scaled when its pixels are not square.
enum class RawSite : std::uint8_t { R = 0, G1 = 1, G2 = 2, B = 3 };
inline constexpr std::size_t kRawSites = 4;
struct RawSensor {
    int width = 0;
    int height = 0;
    int repeat = 2;  // the filter array's side: 2, or 6 for X-Trans
    std::array<RawSite, 36> pattern{};  // the class at (row % repeat, column % repeat), row by row
    int flip = 0;
    int bits = 0;             // as RawPhotosites::bits
    std::uint32_t white = 0;  // as RawPhotosites::white: 0 when the file gives none
    std::array<std::uint32_t, kRawSites> black{};  // each class's black level (its places' mean)
    // width x height, row by row, in pages of the process's own: 2 bytes a photosite, taken
    // as they are written (a first touch of fresh memory costs more than the values' copy).
    std::vector<std::uint16_t, PageAllocator<std::uint16_t>> values;

    RawSite SiteAt(std::size_t row, std::size_t column) const {
        return pattern[(row % std::size_t(repeat)) * std::size_t(repeat) + column % std::size_t(repeat)];
    }
    // X-Trans: three classes, no G2.
    bool xtrans() const { return repeat == 6; }
};

// A picture developed from a camera raw file.
struct RawPicture {
    QString camera;  // make and model, as the library names them
    std::optional<RawPhotosites> photosites;
    // The photosites themselves, when the program asked for them and the sensor has a
    // colour filter array of three colours (none for a linear DNG or four colours).
    std::shared_ptr<const RawSensor> sensor;
    bool operator==(const RawPicture&) const = default;
};

// Where a camera raw reader puts its sensor's photosites when they are asked for, once
// the picture's rows are all delivered: the layout (a RawSensor without its values),
// then `layout.height` rows of `layout.width` values, `pitch` values apart.
class PhotositeSink {
public:
    virtual ~PhotositeSink() = default;
    // False stops the decode.
    virtual bool TakePhotosites(const RawSensor& layout, const std::uint16_t* first, std::size_t pitch) = 0;
};
// A sink that copies them: sensor holds them afterwards.
class PhotositeCopy final : public PhotositeSink {
public:
    bool TakePhotosites(const RawSensor& layout, const std::uint16_t* first, std::size_t pitch) override;
    std::shared_ptr<RawSensor> sensor;
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
    // A camera raw file's: developed as its camera meant it, or its sensor's own values
    // (ColourHandling::StoredValues: linear, not white-balanced, white at 255).
    std::optional<RawPicture> raw;
    // The file's own samples, counted as they were converted; nothing from a decoder
    // that does not count them.
    std::shared_ptr<const SignalStats> signal;
    explicit operator bool() const { return surface.has_value(); }
    static DecodeResult Failed(DecodeError error) {
        DecodeResult result;
        result.error = error;
        return result;
    }
};

// The failures a name alone shows, found with stat() before anything is opened: an
// empty name, a missing file, a folder, a FIFO or a device. None for a regular file,
// whose size then goes to fileSize when it is given.
std::optional<DecodeError> RefusedByName(const QString& path, std::int64_t* fileSize = nullptr);

// A picture file's bytes, read once before anything decodes them (a confined decoder
// can no longer open files), or why they cannot be: an empty name, a missing file, no
// regular file, no bytes.
struct PictureFile {
    QByteArray bytes;
    std::optional<DecodeError> error;
};
enum class FileAccess {
    Copied,  // read into memory of the caller's own
    // Read into pages of its own, huge where the system gives them, that are never given
    // back: for a process that decodes one picture and then ends. Mapping the file instead
    // would cost a page fault, and on a virtual machine a first touch, for every 4 KiB.
    OwnPages,
};
PictureFile ReadPictureFile(const QString& path, FileAccess access = FileAccess::Copied);

}  // namespace vistrel
