#include "decoding/readers/TiffDecode.h"

#include <QList>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <tiffio.h>

#include "decoding/readers/Orientation.h"
#include "decoding/readers/RowOutput.h"

namespace vistrel {
namespace {

// Rows converted at once: Qt splits a conversion of 128 Ki pixels or more over threads,
// which the confined worker neither needs nor wants; below that it converts in place.
constexpr std::size_t kSlicePixels = std::size_t{64} * 1024;

// The kinds this reader takes, each named by what Qt's reader makes of it.
enum class Kind {
    Rgb8,              // RGB, or RGB and an extra sample of unknown meaning: opaque
    Rgba8Straight,     // RGBA with an unspecified extra sample: Qt keeps it as straight alpha
    Rgba8Associated,   // RGBA premultiplied in the file
    Rgba8Unassociated, // RGBA straight in the file, premultiplied by libtiff on the way
    Grey8,
    Grey16,
    Indexed8,          // a palette, or 8-bit grey with white at zero
    Rgb16,
    Rgba16,
    Rgba16Premultiplied,
    Cmyk8,             // inks handed over, or composed here as libtiff's RGBA reader composes them
    Cmyk16,            // which libtiff's RGBA reader refuses: inks handed over, or composed here to 16-bit RGB
    // Everything else libtiff's RGBA reader takes (other CMYK, YCbCr and JPEG, fewer than 8
    // bits, grey and alpha, in contiguous or separate planes), read through that reader as Qt reads it.
    Composed,
};

// The bytes a pixel takes as stored, which is also as Qt's image holds it.
std::size_t StoredBytesPerPixel(Kind kind) {
    switch (kind) {
        case Kind::Rgb8: return 0;  // set from the samples a pixel holds
        case Kind::Rgba8Straight:
        case Kind::Rgba8Associated:
        case Kind::Rgba8Unassociated:
        case Kind::Cmyk8: return 4;
        case Kind::Grey8:
        case Kind::Indexed8: return 1;
        case Kind::Grey16: return 2;
        case Kind::Rgb16: return 6;
        case Kind::Rgba16:
        case Kind::Rgba16Premultiplied:
        case Kind::Cmyk16: return 8;
        case Kind::Composed: return 4;
    }
    return 0;
}

// The image format Qt's reader gives each kind; Rgb8 is written straight as the surface's.
QImage::Format QtFormat(Kind kind) {
    switch (kind) {
        case Kind::Rgb8:
        case Kind::Cmyk8: return QImage::Format_RGB32;
        case Kind::Rgba8Straight: return QImage::Format_ARGB32;
        case Kind::Rgba8Associated:
        case Kind::Rgba8Unassociated: return QImage::Format_ARGB32_Premultiplied;
        case Kind::Grey8: return QImage::Format_Grayscale8;
        case Kind::Grey16: return QImage::Format_Grayscale16;
        case Kind::Indexed8: return QImage::Format_Indexed8;
        case Kind::Rgb16:
        case Kind::Cmyk16: return QImage::Format_RGBX64;
        case Kind::Rgba16: return QImage::Format_RGBA64;
        case Kind::Rgba16Premultiplied: return QImage::Format_RGBA64_Premultiplied;
        case Kind::Composed: return QImage::Format_ARGB32;  // or its premultiplied or opaque kin: Layout says
    }
    return QImage::Format_Invalid;
}

// The file's bytes as libtiff reads them. Asking for bytes past the end means the file
// was cut short, whatever libtiff then makes of it.
struct Source {
    const unsigned char* data;
    std::size_t size;
    std::size_t position = 0;
    bool ranOut = false;
    bool failed = false;  // libtiff reported an error
};

tmsize_t ReadSource(thandle_t handle, void* buffer, tmsize_t wanted) {
    auto* s = static_cast<Source*>(handle);
    if (wanted < 0) return -1;
    const std::size_t left = s->position < s->size ? s->size - s->position : 0;
    std::size_t count = static_cast<std::size_t>(wanted);
    if (count > left) {
        s->ranOut = true;
        count = left;
    }
    if (count > 0) std::memcpy(buffer, s->data + s->position, count);
    s->position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t WriteNothing(thandle_t, void*, tmsize_t) { return 0; }

toff_t SeekSource(thandle_t handle, toff_t offset, int whence) {
    auto* s = static_cast<Source*>(handle);
    std::uint64_t target = offset;
    if (whence == SEEK_CUR) target += s->position;
    else if (whence == SEEK_END) target += s->size;
    if (target > s->size) {
        s->ranOut = true;
        return static_cast<toff_t>(-1);
    }
    s->position = static_cast<std::size_t>(target);
    return target;
}

int CloseNothing(thandle_t) { return 0; }
toff_t SourceSize(thandle_t handle) { return static_cast<Source*>(handle)->size; }

int MapSource(thandle_t handle, void** base, toff_t* size) {
    auto* s = static_cast<Source*>(handle);
    *base = const_cast<unsigned char*>(s->data);
    *size = s->size;
    return 1;
}

void UnmapNothing(thandle_t, void*, toff_t) {}

int NoteError(TIFF*, void* user, const char*, const char*, va_list) {
    static_cast<Source*>(user)->failed = true;
    return 1;  // handled: nothing reaches stderr
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// libtiff's reader of the file's bytes through `source`, at its first page; nullptr when
// libtiff cannot make sense of them.
TIFF* OpenSource(Source& source) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, NoteError, &source);
    TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreWarning, &source);
    // Not mapped ("m"): every byte libtiff takes, its directories' included, then comes
    // through ReadSource, which notices a file cut short as Qt's reader does.
    TIFF* const tiff = TIFFClientOpenExt("picture", "rm", &source, ReadSource, WriteNothing, SeekSource, CloseNothing,
                                         SourceSize, MapSource, UnmapNothing, options);
    TIFFOpenOptionsFree(options);
    return tiff;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

struct Layout {
    Kind kind = Kind::Rgb8;
    int width = 0;
    int height = 0;
    std::size_t samples = 0;       // per pixel
    std::size_t storedBytes = 0;   // per pixel, its samples side by side
    std::size_t planes = 1;        // separate planes: one a sample, each stored whole after the other
    bool tiled = false;
    std::uint32_t tileWidth = 0;
    std::uint32_t tileLength = 0;
    QList<QRgb> colours;           // for Indexed8
    QImage::Format composedFormat = QImage::Format_RGB32;  // for Composed: what Qt calls its pixels
    std::uint32_t composedRows = 0;                         // for Composed: rows read at once, whole strips or tiles
    int orientation = 1;           // as EXIF numbers them, which TIFF's tag shares; the rows are read as stored
};

// The bytes of Qt's image of the picture, rows padded to 32 bits as QImage pads them.
std::uint64_t QtImageBytes(Kind kind, std::uint64_t width, std::uint64_t height) {
    const std::uint64_t depth = static_cast<std::uint64_t>(QImage::toPixelFormat(QtFormat(kind)).bitsPerPixel());
    return (width * depth + 31) / 32 * 4 * height;
}

std::optional<Kind> KindOf(std::uint16_t photometric, std::uint16_t inks, std::uint16_t bits, std::uint16_t samples,
                           bool gotExtra, std::uint16_t extraCount, const std::uint16_t* extra) {
    if (photometric == PHOTOMETRIC_SEPARATED && inks == INKSET_CMYK && samples == 4 && bits == 8) return Kind::Cmyk8;
    if (photometric == PHOTOMETRIC_SEPARATED && inks == INKSET_CMYK && samples == 4 && bits == 16) return Kind::Cmyk16;
    if (samples == 1 && bits == 8 && photometric == PHOTOMETRIC_MINISBLACK) return Kind::Grey8;
    if (samples == 1 && bits == 16 && photometric == PHOTOMETRIC_MINISBLACK) return Kind::Grey16;
    if (samples == 1 && bits == 8 && (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_PALETTE))
        return Kind::Indexed8;
    if (photometric != PHOTOMETRIC_RGB) return std::nullopt;
    const bool described = gotExtra && extraCount > 0;
    if (samples == 3) return bits == 8 ? std::optional(Kind::Rgb8) : bits == 16 ? std::optional(Kind::Rgb16) : std::nullopt;
    if (samples != 4) return std::nullopt;
    if (bits == 16) {
        const bool straight = !described || extra[0] == EXTRASAMPLE_UNSPECIFIED || extra[0] == EXTRASAMPLE_UNASSALPHA;
        return straight ? Kind::Rgba16 : Kind::Rgba16Premultiplied;
    }
    if (bits != 8) return std::nullopt;
    if (!described) return std::nullopt;  // libtiff takes the fourth sample for alpha, Qt as straight alpha
    switch (extra[0]) {
        case EXTRASAMPLE_UNSPECIFIED: return Kind::Rgba8Straight;
        case EXTRASAMPLE_ASSOCALPHA: return Kind::Rgba8Associated;
        case EXTRASAMPLE_UNASSALPHA: return Kind::Rgba8Unassociated;
        default: return Kind::Rgb8;  // libtiff leaves an unknown extra sample out
    }
}

// The bytes a pixel takes in each plane as stored: all of them when its samples lie side by side.
std::size_t PlaneBytes(const Layout& layout) { return layout.storedBytes / layout.planes; }

// The kind and layout of the first page, or nothing when this reader does not take it.
std::optional<Layout> ReadLayout(TIFF* tiff) {
    std::uint32_t width = 0, height = 0;
    std::uint16_t photometric = 0;
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) ||
        !TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric))
        return std::nullopt;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetField(tiff, TIFFTAG_ORIENTATION, &orientation);
    std::uint16_t bits = 1, samples = 1, sampleFormat = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG, compression = 0,
                  inks = INKSET_CMYK;
    TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inks);
    if (sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_VOID) return std::nullopt;
    // A compression libtiff cannot undo is refused by Qt's reader before a row is read.
    if (!TIFFIsCODECConfigured(compression)) return std::nullopt;
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    const bool gotExtra = TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) != 0;
    // Separate planes are read raw too, a row of each plane at a time, their samples put side by side.
    const bool raw = compression != COMPRESSION_JPEG && compression != COMPRESSION_OJPEG;
    std::optional<Kind> kind = raw ? KindOf(photometric, inks, bits, samples, gotExtra, extraCount, extra) : std::nullopt;
    if (!kind) {
        // Qt reads the rest through libtiff's RGBA reader, but for the kinds it reads raw
        // and refuses otherwise (16-bit RGB and 16-bit grey, 32-bit floating point).
        char message[1024];
        const bool qtReadsRaw =
            bits > 16 || (bits == 16 && (photometric == PHOTOMETRIC_RGB ||
                                         (photometric == PHOTOMETRIC_MINISBLACK && samples != 2)));
        if (qtReadsRaw || !TIFFRGBAImageOK(tiff, message)) return std::nullopt;
        kind = Kind::Composed;
    }

    Layout layout;
    layout.kind = *kind;
    layout.orientation = orientation >= ORIENTATION_TOPLEFT && orientation <= ORIENTATION_LEFTBOT ? orientation : 1;
    layout.width = static_cast<int>(std::min<std::uint32_t>(width, kMaxPictureSide + 1));
    layout.height = static_cast<int>(std::min<std::uint32_t>(height, kMaxPictureSide + 1));
    layout.samples = samples;
    layout.storedBytes = *kind == Kind::Rgb8 ? samples : StoredBytesPerPixel(*kind);
    layout.planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;
    if (*kind == Kind::Indexed8) {
        layout.colours.resize(256);
        if (photometric == PHOTOMETRIC_MINISWHITE) {
            for (int i = 0; i < 256; ++i) layout.colours[i] = qRgb(255 - i, 255 - i, 255 - i);
        } else {
            std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
            if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
                return std::nullopt;
            // Qt keeps the high byte of each 16-bit entry.
            for (int i = 0; i < 256; ++i) layout.colours[i] = qRgb(red[i] >> 8, green[i] >> 8, blue[i] >> 8);
        }
    }
    layout.tiled = TIFFIsTiled(tiff) != 0;
    if (*kind == Kind::Composed) {
        if (samples < 4) {
            layout.composedFormat = QImage::Format_RGB32;
        } else {
            const bool premultiplied = gotExtra && extraCount > 0 && extra[0] != EXTRASAMPLE_UNSPECIFIED;
            layout.composedFormat = premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_ARGB32;
        }
        // libtiff's reader decodes whole strips or tiles for every call: only pictures
        // stored in small ones are read a band at a time.
        std::uint32_t unit = 0;
        if (layout.tiled) {
            TIFFGetField(tiff, TIFFTAG_TILELENGTH, &unit);
        } else {
            TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &unit);
        }
        if (unit == 0 || std::uint64_t{unit} * width > kBandPixels * 4) return std::nullopt;
        if (layout.tiled && TIFFTileSize64(tiff) > QtImageBytes(Kind::Composed, width, height)) return std::nullopt;
        const std::uint64_t units = std::max<std::uint64_t>(1, kBandPixels / (std::uint64_t{unit} * width));
        layout.composedRows = static_cast<std::uint32_t>(std::min<std::uint64_t>(units * unit, kMaxPictureSide));
        return layout;
    }
    if (layout.tiled) {
        if (!TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &layout.tileWidth) ||
            !TIFFGetField(tiff, TIFFTAG_TILELENGTH, &layout.tileLength))
            return std::nullopt;
        // Tiles of sides not a multiple of 16, or larger than the picture itself, are
        // the kinds Qt refuses or reads its own way.
        const std::uint64_t pictureBytes = QtImageBytes(*kind, width, height);
        if (layout.tileWidth == 0 || layout.tileLength == 0 || layout.tileWidth % 16 != 0 ||
            layout.tileLength % 16 != 0 || layout.tileLength > kMaxPictureSide || layout.tileWidth > kMaxPictureSide ||
            TIFFTileSize64(tiff) > pictureBytes ||
            static_cast<std::uint64_t>(TIFFTileRowSize64(tiff)) != std::uint64_t{layout.tileWidth} * PlaneBytes(layout))
            return std::nullopt;
    } else if (static_cast<std::uint64_t>(TIFFScanlineSize64(tiff)) != std::uint64_t{width} * PlaneBytes(layout)) {
        return std::nullopt;
    }
    return layout;
}

// One plane's samples put in their place among a row's interleaved samples: `count`
// samples of `Sample`, the plane's `plane`th of `planes`.
template <typename Sample>
void PutPlane(const unsigned char* in, std::size_t count, std::size_t plane, std::size_t planes, unsigned char* out) {
    for (std::size_t i = 0; i < count; ++i)
        std::memcpy(out + (i * planes + plane) * sizeof(Sample), in + i * sizeof(Sample), sizeof(Sample));
}

void PutPlane(const unsigned char* in, std::size_t count, std::size_t sampleBytes, std::size_t plane, std::size_t planes,
              unsigned char* out) {
    if (sampleBytes == 2) PutPlane<std::uint16_t>(in, count, plane, planes, out);
    else PutPlane<std::uint8_t>(in, count, plane, planes, out);
}

// The rows of the first page, one at a time, as libtiff stores them, with the samples
// of separate planes put side by side. Strips of separate planes are read by a libtiff
// reader for each plane, each going through its own plane's rows in order: libtiff
// decodes a strip from its start whenever a read goes back or to another strip, so one
// reader taking the planes in turn would decode each strip over and over, and reading
// whole strips would hold a plane stored in one strip whole. Tiles are read a row of
// tiles at a time, plane by plane.
class RowSource {
public:
    RowSource(TIFF* tiff, const Layout& layout, const Source& source) : tiff_(tiff), layout_(layout), source_(source) {}
    // False when a plane's reader cannot be opened.
    bool Prepare() {
        if (layout_.tiled) {
            tile_.resize(static_cast<std::size_t>(TIFFTileSize64(tiff_)));
            tileRows_.resize(std::size_t{layout_.tileLength} * RowBytes());
            return true;
        }
        if (layout_.planes == 1) return true;
        planeRow_.resize(std::size_t(layout_.width) * PlaneBytes(layout_));
        for (std::size_t plane = 1; plane < layout_.planes; ++plane) {
            auto reader = std::make_unique<PlaneReader>(PlaneReader{Source{source_.data, source_.size}, nullptr});
            reader->tiff.reset(OpenSource(reader->source));
            if (!reader->tiff || reader->source.ranOut) return false;
            reader->source.failed = false;  // as the first reader's directory is taken
            planeReaders_.push_back(std::move(reader));
        }
        return true;
    }
    std::size_t RowBytes() const { return std::size_t(layout_.width) * layout_.storedBytes; }
    // A read ran past the file's end or libtiff reported an error, in any plane's reader.
    bool Failed() const {
        if (source_.failed || source_.ranOut) return true;
        for (const auto& reader : planeReaders_)
            if (reader->source.failed || reader->source.ranOut) return true;
        return false;
    }
    // Row y (rows come in order) into the given buffer of RowBytes().
    bool Read(int y, unsigned char* row) {
        const auto uy = static_cast<std::uint32_t>(y);
        if (layout_.tiled) {
            if (uy % layout_.tileLength == 0 && !ReadTileRow(uy)) return false;
            std::memcpy(row, tileRows_.data() + std::size_t{uy % layout_.tileLength} * RowBytes(), RowBytes());
            return true;
        }
        if (layout_.planes == 1) return TIFFReadScanline(tiff_, row, uy, 0) >= 0;
        const std::size_t sampleBytes = PlaneBytes(layout_);
        for (std::size_t plane = 0; plane < layout_.planes; ++plane) {
            TIFF* const reader = plane == 0 ? tiff_ : planeReaders_[plane - 1]->tiff.get();
            if (TIFFReadScanline(reader, planeRow_.data(), uy, static_cast<std::uint16_t>(plane)) < 0) return false;
            PutPlane(planeRow_.data(), std::size_t(layout_.width), sampleBytes, plane, layout_.planes, row);
        }
        return true;
    }

private:
    bool ReadTileRow(std::uint32_t top) {
        const std::size_t pixelBytes = PlaneBytes(layout_);
        const std::size_t tileRowBytes = std::size_t{layout_.tileWidth} * pixelBytes;
        const std::uint32_t rows = std::min<std::uint32_t>(layout_.tileLength, static_cast<std::uint32_t>(layout_.height) - top);
        const auto width = static_cast<std::uint32_t>(layout_.width);
        for (std::size_t plane = 0; plane < layout_.planes; ++plane)
            for (std::uint32_t x = 0; x < width; x += layout_.tileWidth) {
                if (TIFFReadTile(tiff_, tile_.data(), x, top, 0, static_cast<std::uint16_t>(plane)) < 0) return false;
                const std::size_t columns = std::min<std::size_t>(layout_.tileWidth, width - x);
                for (std::uint32_t i = 0; i < rows; ++i) {
                    unsigned char* const out = tileRows_.data() + std::size_t{i} * RowBytes() + std::size_t{x} * layout_.storedBytes;
                    const unsigned char* const in = tile_.data() + std::size_t{i} * tileRowBytes;
                    if (layout_.planes == 1) std::memcpy(out, in, columns * pixelBytes);
                    else PutPlane(in, columns, pixelBytes, plane, layout_.planes, out);
                }
            }
        return true;
    }

    struct PlaneReader {
        Source source;
        TiffHandle tiff;
    };
    TIFF* tiff_;
    const Layout& layout_;
    const Source& source_;
    std::vector<std::unique_ptr<PlaneReader>> planeReaders_;  // for planes 1 .. planes - 1 in strips
    std::vector<unsigned char> planeRow_;                     // a row of one plane
    std::vector<unsigned char> tile_;
    std::vector<unsigned char> tileRows_;  // a row of tiles, as whole picture rows
};

// Opaque RGB samples (three or four a pixel) as the surface's pixels.
void PackRgb(const unsigned char* in, std::size_t samples, std::size_t width, Pixel* out) {
    for (std::size_t x = 0; x < width; ++x, in += samples)
        out[x] = 0xFF000000u | (Pixel{in[0]} << 16) | (Pixel{in[1]} << 8) | in[2];
}

// RGBA samples as Qt's 32-bit pixels; straight ones premultiplied as libtiff does.
void PackRgba(const unsigned char* in, std::size_t width, bool premultiply, Pixel* out) {
    for (std::size_t x = 0; x < width; ++x, in += 4) {
        const Pixel a = in[3];
        Pixel r = in[0], g = in[1], b = in[2];
        if (premultiply) {
            r = (r * a + 127) / 255;
            g = (g * a + 127) / 255;
            b = (b * a + 127) / 255;
        }
        out[x] = (a << 24) | (r << 16) | (g << 8) | b;
    }
}

// Qt's 16-bit RGB image from the file's 48-bit pixels, widened in place with an opaque fourth sample.
void WidenRgb48(unsigned char* row, std::size_t width) {
    auto* samples = reinterpret_cast<std::uint16_t*>(row);
    for (std::size_t x = width; x-- > 0;) {
        samples[x * 4 + 3] = 0xFFFF;
        samples[x * 4 + 2] = samples[x * 3 + 2];
        samples[x * 4 + 1] = samples[x * 3 + 1];
        samples[x * 4 + 0] = samples[x * 3 + 0];
    }
}

// 8-bit CMYK as opaque pixels, as libtiff's RGBA reader composes it (and Qt's reader
// with it): each ink takes its share of the light the black ink leaves, cut, not rounded.
void ComposeCmyk(const unsigned char* in, std::size_t width, Pixel* out) {
    for (std::size_t x = 0; x < width; ++x, in += 4) {
        const Pixel left = 255 - in[3];
        out[x] = 0xFF000000u | (left * (255 - in[0]) / 255 << 16) | (left * (255 - in[1]) / 255 << 8) |
                 left * (255 - in[2]) / 255;
    }
}

// 16-bit CMYK as 16-bit opaque RGB, in place: each ink takes its share of the light the
// black ink leaves, as libtiff composes 8-bit CMYK, rounded instead of cut.
void ComposeCmyk64(unsigned char* row, std::size_t width) {
    auto* samples = reinterpret_cast<std::uint16_t*>(row);
    constexpr std::uint32_t kFull = 0xFFFF;
    for (std::size_t x = 0; x < width; ++x, samples += 4) {
        const std::uint64_t left = kFull - samples[3];
        for (std::size_t i = 0; i < 3; ++i)
            samples[i] = static_cast<std::uint16_t>(((kFull - samples[i]) * left + kFull / 2) / kFull);
        samples[3] = kFull;
    }
}

enum class Outcome { Done, Failed, Stopped, NoMemory };

Outcome DecodeRows(TIFF* tiff, const Layout& layout, const Source& source, ColorValue background, RowOutput& out) {
    const auto width = static_cast<std::size_t>(layout.width);
    const std::size_t sliceRows = std::max<std::size_t>(1, kSlicePixels / width);
    const std::size_t bandRows =
        std::min<std::size_t>(std::size_t(layout.height), sliceRows * std::max<std::size_t>(1, kBandPixels / (sliceRows * width)));
    if (!out.Start(layout.width, layout.height, static_cast<int>(bandRows)))
        return out.failure() == DecodeError::Cancelled ? Outcome::Stopped : Outcome::NoMemory;
    RowSource rows(tiff, layout, source);
    if (!rows.Prepare()) return Outcome::Failed;

    // Inks go to a receiver whose conversion takes them (the picture's own CMYK profile's).
    const bool inks = (layout.kind == Kind::Cmyk8 || layout.kind == Kind::Cmyk16) && out.TakeInks();
    // Rgb8 and CMYK go straight to the surface's pixels; the rest through Qt's image of
    // the kind and the shared conversion, a slice at a time.
    const bool direct = layout.kind == Kind::Rgb8 || layout.kind == Kind::Cmyk8 || (layout.kind == Kind::Cmyk16 && inks);
    std::vector<unsigned char> raw(direct || layout.kind == Kind::Rgba8Straight || layout.kind == Kind::Rgba8Associated ||
                                           layout.kind == Kind::Rgba8Unassociated
                                       ? rows.RowBytes()
                                       : 0);
    QImage slice;
    if (!direct) {
        slice = QImage(layout.width, static_cast<int>(std::min<std::size_t>(sliceRows, std::size_t(layout.height))),
                       QtFormat(layout.kind));
        if (slice.isNull()) return Outcome::NoMemory;
        if (layout.kind == Kind::Indexed8) slice.setColorTable(layout.colours);
    }
    const auto failed = [&] { return rows.Failed(); };
    // 16-bit colours, converted at their full precision when they are converted at all.
    WideRows* const wide = layout.kind == Kind::Rgb16 || layout.kind == Kind::Rgba16 || layout.kind == Kind::Grey16 ||
                                   layout.kind == Kind::Rgba16Premultiplied || (layout.kind == Kind::Cmyk16 && inks)
                               ? out.TakeWideRows()
                               : nullptr;
    if (layout.kind == Kind::Cmyk16 && inks && wide == nullptr) return Outcome::Failed;

    for (int y = 0; y < layout.height; ++y) {
        if (direct) {
            if (!rows.Read(y, raw.data()) || failed()) return Outcome::Failed;
            if (layout.kind == Kind::Cmyk16) wide->ConvertInks(reinterpret_cast<const std::uint16_t*>(raw.data()), out.Row(y), width);
            else if (layout.kind == Kind::Cmyk8 && inks) std::memcpy(out.Row(y), raw.data(), width * 4);
            else if (layout.kind == Kind::Cmyk8) ComposeCmyk(raw.data(), width, out.Row(y));
            else PackRgb(raw.data(), layout.samples, width, out.Row(y));
        } else {
            const int sliceRow = static_cast<int>(std::size_t(y) % sliceRows);
            unsigned char* target = slice.scanLine(sliceRow);
            switch (layout.kind) {
                case Kind::Rgba8Straight:
                case Kind::Rgba8Associated:
                case Kind::Rgba8Unassociated:
                    if (!rows.Read(y, raw.data()) || failed()) return Outcome::Failed;
                    PackRgba(raw.data(), width, layout.kind == Kind::Rgba8Unassociated, reinterpret_cast<Pixel*>(target));
                    break;
                case Kind::Rgb16:
                    if (!rows.Read(y, target) || failed()) return Outcome::Failed;
                    WidenRgb48(target, width);
                    break;
                case Kind::Cmyk16:
                    if (!rows.Read(y, target) || failed()) return Outcome::Failed;
                    ComposeCmyk64(target, width);
                    break;
                case Kind::Rgb8:
                case Kind::Cmyk8:
                case Kind::Grey8:
                case Kind::Grey16:
                case Kind::Indexed8:
                case Kind::Rgba16:
                case Kind::Rgba16Premultiplied:
                case Kind::Composed:  // read by DecodeComposed
                    if (!rows.Read(y, target) || failed()) return Outcome::Failed;
                    break;
            }
            const bool sliceFull = std::size_t(sliceRow) + 1 == sliceRows || y + 1 == layout.height;
            if (sliceFull) {
                QImage converted = sliceRow + 1 == slice.height() ? slice : slice.copy(0, 0, layout.width, sliceRow + 1);
                const int first = y - sliceRow;
                if (wide != nullptr) {
                    // Straight red, green, blue and alpha, 16 bits each, in that order.
                    if (converted.format() != QImage::Format_RGBA64)
                        converted = converted.convertToFormat(QImage::Format_RGBA64);
                    if (converted.isNull()) return Outcome::NoMemory;
                    for (int i = 0; i <= sliceRow; ++i)
                        wide->Convert(reinterpret_cast<const std::uint16_t*>(converted.constScanLine(i)), out.Row(first + i),
                                      width, OpaquePixel(background));
                } else {
                    if (!ToOpaqueRgb32(converted, background)) return Outcome::NoMemory;
                    for (int i = 0; i <= sliceRow; ++i)
                        std::memcpy(out.Row(first + i), converted.constScanLine(i), width * 4);
                }
            }
        }
        if (!out.Reached(y + 1)) return Outcome::Stopped;
    }
    return Outcome::Done;
}

// The kinds libtiff's RGBA reader composes, a band of whole strips or tiles at a time.
Outcome DecodeComposed(TIFF* tiff, const Layout& layout, const Source& source, ColorValue background, RowOutput& out) {
    const auto width = static_cast<std::size_t>(layout.width);
    const int bandRows = static_cast<int>(std::min<std::uint32_t>(layout.composedRows, static_cast<std::uint32_t>(layout.height)));
    if (!out.Start(layout.width, layout.height, bandRows))
        return out.failure() == DecodeError::Cancelled ? Outcome::Stopped : Outcome::NoMemory;
    char message[1024];
    TIFFRGBAImage reader{};
    if (!TIFFRGBAImageBegin(&reader, tiff, 1, message)) return Outcome::Failed;
    struct Ender {
        TIFFRGBAImage* reader;
        ~Ender() { TIFFRGBAImageEnd(reader); }
    } ender{&reader};
    reader.req_orientation = static_cast<std::uint16_t>(layout.orientation);  // as stored: the turn comes after
    std::vector<std::uint32_t> raster(width * std::size_t(bandRows));
    const int sliceRows = static_cast<int>(std::max<std::size_t>(1, kSlicePixels / width));
    for (int first = 0; first < layout.height; first += bandRows) {
        const int rows = std::min(bandRows, layout.height - first);
        reader.row_offset = first;
        reader.col_offset = 0;
        if (!TIFFRGBAImageGet(&reader, raster.data(), static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(rows)) ||
            source.failed || source.ranOut)
            return Outcome::Failed;
        for (int at = 0; at < rows; at += sliceRows) {
            const int count = std::min(sliceRows, rows - at);
            QImage slice(layout.width, count, layout.composedFormat);
            if (slice.isNull()) return Outcome::NoMemory;
            for (int i = 0; i < count; ++i) {
                // libtiff packs red in the low byte, Qt in the third.
                const std::uint32_t* in = raster.data() + std::size_t(at + i) * width;
                auto* row = reinterpret_cast<Pixel*>(slice.scanLine(i));
                for (std::size_t x = 0; x < width; ++x) {
                    const std::uint32_t p = in[x];
                    row[x] = (p & 0xFF00FF00u) | ((p & 0xFFu) << 16) | ((p >> 16) & 0xFFu);
                }
            }
            if (!ToOpaqueRgb32(slice, background)) return Outcome::NoMemory;
            for (int i = 0; i < count; ++i) std::memcpy(out.Row(first + at + i), slice.constScanLine(i), width * 4);
        }
        if (!out.Finish(first + rows)) return Outcome::Stopped;
    }
    return Outcome::Done;
}

}  // namespace

ReadResult DecodeTiff(const ReaderInput& input) {
    const auto& [bytes, background, colour, receiver, sink, photosites] = input;
    const unsigned char* const data = bytes.data();
    const std::size_t size = bytes.size();

    Source source{data, size};
    const TiffHandle handle(OpenSource(source));
    if (!handle) return std::nullopt;  // Qt's reader gives its own verdict
    TIFF* const tiff = handle.get();

    const std::optional<Layout> layout = ReadLayout(tiff);
    if (!layout) return std::nullopt;
    if (source.ranOut) return DecodeResult::Failed(DecodeError::Unreadable);
    source.failed = false;  // a directory libtiff could make sense of all the same, as Qt's reader takes it
    if (layout->width < 1 || layout->width > kMaxPictureSide || layout->height < 1 || layout->height > kMaxPictureSide)
        return DecodeResult::Failed(DecodeError::TooLarge);

    // A turned picture is decoded whole as stored, then turned and handed over.
    HeldForTurning held(receiver);
    const bool turned = layout->orientation != 1;
    RowOutput out(turned ? &held : receiver, turned ? nullptr : sink);
    const Outcome outcome = layout->kind == Kind::Composed ? DecodeComposed(tiff, *layout, source, background, out)
                                                           : DecodeRows(tiff, *layout, source, background, out);
    switch (outcome) {
        case Outcome::Done:
            if (turned) return DeliveredUpright(std::move(out.Taken().surface->image()), layout->orientation, receiver);
            return out.Taken();
        case Outcome::Failed: return DecodeResult::Failed(DecodeError::Unreadable);
        case Outcome::Stopped: return DecodeResult::Failed(DecodeError::Cancelled);
        case Outcome::NoMemory: return DecodeResult::Failed(DecodeError::OutOfMemory);
    }
    return DecodeResult::Failed(DecodeError::Unreadable);
}

}  // namespace vistrel
