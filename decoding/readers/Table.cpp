// The reader table's rows, and the choice through them for a file's bytes.

#include <algorithm>
#include <cstring>
#include <new>

#include "decoding/Readers.h"
#include "decoding/readers/BmpDecode.h"
#include "decoding/readers/ColourBands.h"
#include "decoding/readers/HeifDecode.h"
#include "decoding/readers/JpegDecode.h"
#include "decoding/readers/JxlDecode.h"
#include "decoding/readers/PngDecode.h"
#include "decoding/readers/QtDecode.h"
#include "decoding/readers/RawDecode.h"
#include "decoding/readers/TiffDecode.h"
#include "decoding/readers/WebpDecode.h"
#include "decoding/readers/WmfDecode.h"
#include "formats/ByteOrder.h"

namespace vistrel {
namespace {

using headers::Bytes;
using headers::Claims;
using bytes::StartsWith;

// Each sniff is the test Qt's own plugin for the format makes, so that a file reaches
// our reader exactly when Qt's would have read it.
bool IsJpeg(Bytes file) { return StartsWith(file, 0, "\xFF\xD8", 2); }
bool IsPng(Bytes file) { return StartsWith(file, 0, "\x89PNG\r\n\x1a\n", 8); }
// Classic TIFF and BigTIFF, in either byte order.
bool IsTiff(Bytes file) {
    return StartsWith(file, 0, "II*\0", 4) || StartsWith(file, 0, "MM\0*", 4) || StartsWith(file, 0, "II+\0", 4) ||
           StartsWith(file, 0, "MM\0+", 4);
}
bool IsWebp(Bytes file) { return StartsWith(file, 0, "RIFF", 4) && StartsWith(file, 8, "WEBP", 4); }
bool IsGif(Bytes file) { return StartsWith(file, 0, "GIF87a", 6) || StartsWith(file, 0, "GIF89a", 6); }
bool IsBmp(Bytes file) { return StartsWith(file, 0, "BM", 2); }
bool IsJxl(Bytes file) { return headers::LooksLikeJxl(file); }
bool AnyFile(Bytes) { return true; }

// A metafile is drawn at most at its pixel budget, whatever it declares.
Claims MetafileClaims(Bytes) { return {{}, {kMetafileSquareSide, kMetafileSquareSide}}; }

// A JPEG is read once its segments run to the end-of-image marker: Qt's reader would fill
// a cut stream's missing rows with grey and report success.
ReadResult ReadJpeg(const ReaderInput& input) {
    if (!headers::ScanJpeg(input.bytes).complete) return DecodeResult::Failed(DecodeError::Unreadable);
    return DecodeJpeg(input);
}

// Qt's reader decodes a GIF's first frame, once it is seen whole.
ReadResult ReadGif(const ReaderInput& input) {
    if (!headers::GifFirstFrameComplete(input.bytes)) return DecodeResult::Failed(DecodeError::Unreadable);
    return std::nullopt;
}

// Qt's reader fills the rows a cut BMP lacks, and ours would too: refused first.
ReadResult ReadBmp(const ReaderInput& input) {
    if (!headers::BmpHoldsItsRows(input.bytes)) return DecodeResult::Failed(DecodeError::Unreadable);
    return DecodeBmp(input);
}

const Reader kReaders[] = {
    {.name = "Windows metafile", .sniff = headers::LooksLikeMetafile, .claims = MetafileClaims, .read = DecodeMetafile,
     .library = ReaderLibrary::Libwmf},
    // Before HEIF (a CR3 is an ISO media file) and TIFF (most raw files are TIFFs).
    {.name = "Camera raw", .sniff = headers::LooksLikeCameraRaw, .claims = headers::RawClaims, .read = DecodeRaw,
     .bytesPerPixelAtPeak = kRawBytesPerPixelAtPeak, .developsItsColours = true, .library = ReaderLibrary::LibRaw,
     .gate = headers::MayBeCameraRaw},
    // Formats Qt has no reader for, whose libraries read their own colour tags.
    {.name = "HEIF", .sniff = headers::StartsWithBrandBox, .claims = headers::HeifClaims, .read = DecodeHeif,
     .countsItsSamples = true, .library = ReaderLibrary::Libheif},
    {.name = "JPEG XL", .sniff = IsJxl, .claims = headers::JxlClaims, .read = DecodeJxl,
     .bytesPerPixelAtPeak = kJxlBytesPerPixelAtPeak, .countsItsSamples = true, .library = ReaderLibrary::Libjxl},
    {.name = "JPEG", .sniff = IsJpeg, .claims = headers::JpegClaims, .read = ReadJpeg, .qtFormat = "jpeg"},
    {.name = "PNG", .sniff = IsPng, .claims = headers::PngClaims, .read = DecodePng, .qtFormat = "png"},
    {.name = "TIFF", .sniff = IsTiff, .claims = headers::TiffClaims, .read = DecodeTiff,
     .library = ReaderLibrary::Libtiff, .qtFormat = "tiff"},
    {.name = "WebP", .sniff = IsWebp, .claims = headers::WebpClaims, .read = DecodeWebp,
     .library = ReaderLibrary::Libwebp, .qtFormat = "webp"},
    {.name = "GIF", .sniff = IsGif, .claims = headers::GifClaims, .read = ReadGif, .qtFormat = "gif"},
    {.name = "BMP", .sniff = IsBmp, .claims = headers::BmpClaims, .read = ReadBmp, .qtFormat = "bmp"},
    // Whatever is left, and what the rows above leave.
    {.name = "Qt's image plugins", .sniff = AnyFile, .claims = headers::OtherClaims, .read = DecodeWithQt},
};

bool SideInRange(std::int64_t side) { return side >= 1 && side <= kMaxPictureSide; }

DecodeResult ReadBytes(const ReaderInput& input) {
    const Reader& first = ReaderFor(input.bytes);
    const Claims claims = first.claims(input.bytes);
    if (claims.size.known() && !(SideInRange(claims.size.width) && SideInRange(claims.size.height)))
        return DecodeResult::Failed(DecodeError::TooLarge);
    if (const headers::ClaimedSize largest = claims.largest;
        largest.known() && SideInRange(largest.width) && SideInRange(largest.height) &&
        !PlausibleForItsFile(largest.width * largest.height, static_cast<std::int64_t>(input.bytes.size())))
        return DecodeResult::Failed(DecodeError::TooManyPixelsForItsFile);
    for (const Reader& reader : Readers()) {
        if (!reader.sniff(input.bytes)) continue;
        if (ReadResult result = reader.read(input)) return std::move(*result);
    }
    return DecodeResult::Failed(DecodeError::NotAPicture);
}

}  // namespace

std::span<const Reader> Readers() { return kReaders; }

const Reader& ReaderFor(Bytes file) {
    for (const Reader& reader : kReaders)
        if (reader.sniff(file)) return reader;
    return kReaders[std::size(kReaders) - 1];
}

ReaderLibraries LibrariesFor(Bytes file) {
    ReaderLibraries libraries;
    for (const Reader& reader : kReaders)
        if (reader.library != ReaderLibrary::Own && (reader.gate != nullptr ? reader.gate : reader.sniff)(file))
            libraries.set(static_cast<std::size_t>(reader.library));
    return libraries;
}

const char* QtFormatFor(Bytes file) {
    for (const Reader& reader : kReaders)
        if (reader.qtFormat != nullptr && reader.sniff(file)) return reader.qtFormat;
    return nullptr;
}

DecodeResult DecodePictureBytes(PictureFile file, ColorValue background, RowReceiver* receiver, BandSink* sink,
                                ColourHandling colour, PhotositeSink* photosites) {
    if (file.error) return DecodeResult::Failed(*file.error);
    try {
        const Bytes bytes(reinterpret_cast<const unsigned char*>(file.bytes.constData()),
                          static_cast<std::size_t>(file.bytes.size()));
        // The colours of the formats whose tags are read here; HEIF's and JPEG XL's
        // libraries read theirs, and their readers decide alike (DeliverDecodedRows).
        const Reader& reader = ReaderFor(bytes);
        PictureColour meant = reader.developsItsColours ? PictureColour{} : PictureColourOf(bytes);
        if (reader.countsItsSamples) meant.signal.reset();
        if (!meant.Converting(colour)) {
            if (!meant.signal) {
                DecodeResult result = ReadBytes({bytes, background, colour, receiver, sink, photosites});
                meant.Stamp(result, false, 0);
                return result;
            }
            // The rows pass on as they are, counted on the way.
            ColourBands counted(nullptr, receiver, sink, meant.signal);
            DecodeResult result = ReadBytes({bytes, background, colour, &counted, sink != nullptr ? &counted : nullptr, photosites});
            meant.Stamp(result, false, 0);
            if (result) result.signal = counted.signal();
            return result;
        }
        // Every row reaches the caller through the conversion, even with no receiver.
        ColourBands bands(meant.converter, receiver, sink, meant.signal);
        DecodeResult result = ReadBytes({bytes, background, colour, &bands, sink != nullptr ? &bands : nullptr, photosites});
        // A CMYK picture whose reader composed its inks itself is shown as composed, and
        // says nothing of a space it was not converted from.
        if (bands.converted()) meant.Stamp(result, true, bands.outOfGamut());
        if (result) {
            result.signal = bands.signal();
            if (result.colourConverted) result.clipped = bands.clipped();
        }
        return result;
    } catch (const std::bad_alloc&) {
        return DecodeResult::Failed(DecodeError::OutOfMemory);
    }
}

DecodeResult DecodePicture(const QString& path, ColorValue background, RowReceiver* receiver, ColourHandling colour) {
    return DecodePictureBytes(ReadPictureFile(path), background, receiver, nullptr, colour);
}

}  // namespace vistrel
