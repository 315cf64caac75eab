#pragma once
// The one table of the formats the decoder reads: a row a format, with its name, how it
// is told from its first bytes, what its header claims of the picture's size, and its
// reader. The confined worker and the in-process path both choose through it. The rows
// live with the readers (decoding/readers/Table.cpp), which only the decoder executables,
// the tests, the benchmarks and the fuzz targets link: the program links none.

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include <QString>

#include "colour/ColourHandling.h"
#include "decoding/Decode.h"
#include "decoding/RowReceiver.h"
#include "formats/FileHeaders.h"

namespace vistrel {

// What every reader is handed: the file's bytes, the colour transparent parts are laid
// over, what to do with colours other than sRGB's, and where its rows go (the receiver
// hears of a full-size picture as it fills; with a sink the rows go there instead, band
// by band, and the result holds a null surface).
struct ReaderInput {
    std::span<const unsigned char> bytes;
    ColorValue background = 0;
    ColourHandling colour = ColourHandling::ConvertToSrgb;
    RowReceiver* receiver = nullptr;
    BandSink* sink = nullptr;
    // A camera raw's photosites go here once its rows are delivered, when given.
    PhotositeSink* photosites = nullptr;
};

// A reader's answer: the picture or why it failed, or nothing when it leaves the file to
// the next row that takes it (Qt's readers, last, take whatever is left).
using ReadResult = std::optional<DecodeResult>;

// Bytes a pixel may take at once while a reader decodes: its image (up to 8, for 16 bits
// a channel) and the opaque or upright copy (4). A streaming reader holds only bands of
// its own. The worker's address-space limit is measured with it.
inline constexpr std::uint64_t kBytesPerPixelAtPeak = 12;

// The libraries the decoder loads only for the pictures that need them, as modules of
// its own (decoding/worker/ReaderModules.h), each with the readers built on it: a
// JPEG's decoder then spends nothing on loading and starting the others.
enum class ReaderLibrary {
    Own,       // the decoder's own: JPEG, PNG, BMP, GIF and Qt's readers
    LibRaw,    // camera raw files
    Libheif,   // HEIF and AVIF
    Libjxl,    // JPEG XL
    Libtiff,   // TIFF
    Libwebp,   // WebP
    Libwmf,    // Windows metafiles
};
inline constexpr std::size_t kReaderLibraries = 7;
using ReaderLibraries = std::bitset<kReaderLibraries>;

struct Reader {
    const char* name;
    bool (*sniff)(headers::Bytes file);
    // The size its header claims (a side out of range is refused before it runs) and the
    // largest picture it may be asked to hold (too many pixels for the file's size is
    // refused; the worker's limits are measured from it).
    headers::Claims (*claims)(headers::Bytes file);
    ReadResult (*read)(const ReaderInput& input);
    std::uint64_t bytesPerPixelAtPeak = kBytesPerPixelAtPeak;
    // The reader's library makes the picture's colours itself (a camera raw's, developed
    // into sRGB): the colour tags its file's bytes may carry are not read.
    bool developsItsColours = false;
    // The reader reads its colours through its library and counts its samples itself
    // (DeliverDecodedRows, at their own depth): its rows are not counted again around it.
    bool countsItsSamples = false;
    // The library it is built on.
    ReaderLibrary library = ReaderLibrary::Own;
    // A test of bytes at fixed places that every file the sniff takes passes, where the
    // sniff itself follows what the file says (nullptr: the sniff is such a test).
    bool (*gate)(headers::Bytes file) = nullptr;
    // The name of Qt's reader that takes every file this row's sniff takes, where no
    // other reader of Qt's takes any of them; nullptr where there is none such.
    const char* qtFormat = nullptr;
};

// Every row, in the order they are asked.
std::span<const Reader> Readers();
// The first row whose sniff takes the file: the one whose claims are checked.
const Reader& ReaderFor(headers::Bytes file);

// The libraries of every row that may take the file, told from bytes at fixed places
// alone (each row's gate): nothing the file says is followed, so the decoder may ask
// before it is confined, which it must be before it loads anything.
ReaderLibraries LibrariesFor(headers::Bytes file);
// The one reader of Qt's that may take the file, when one row's sniff tells it (the
// first row with a qtFormat that takes it), or nullptr: Qt's readers are then each
// asked in turn, and all of them must be loaded. Also told from bytes at fixed places.
const char* QtFormatFor(headers::Bytes file);

// The file's bytes decoded as the program shows them: the first row whose sniff takes
// the file has its claims checked, then each row that takes it reads until one answers.
// A picture whose file means colours other than sRGB's reaches the receiver (or the
// sink) converted band by band, unless asked for its stored values. Transparent parts
// are composited over the background; the picture is turned upright as its file records.
// A camera raw's photosites go to `photosites` when it is given.
DecodeResult DecodePictureBytes(PictureFile file, ColorValue background, RowReceiver* receiver = nullptr,
                                BandSink* sink = nullptr, ColourHandling colour = ColourHandling::ConvertToSrgb,
                                PhotositeSink* photosites = nullptr);

// DecodePictureBytes of the file at `path`, read with ReadPictureFile: the decoder's work
// in this process, for the tests and benchmarks (the program decodes in its worker).
DecodeResult DecodePicture(const QString& path, ColorValue background, RowReceiver* receiver = nullptr,
                           ColourHandling colour = ColourHandling::ConvertToSrgb);

}  // namespace vistrel
