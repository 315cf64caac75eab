#pragma once
// What colours a picture file says its numbers mean: its embedded ICC profile (JPEG,
// PNG, TIFF, WebP), PNG's colour chunks and EXIF's Adobe RGB marker, and what its
// samples are (grey, RGB or inks), which a profile must describe to be taken. Plain
// functions over the file's bytes, no Qt, safe on any input (each is fuzzed on its own).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vistrel::colourtags {

using Bytes = std::span<const unsigned char>;

// The longest profile taken, inflated or reassembled: printer profiles with large
// tables run to a few MiB, a picture's own profile to a few KiB. A file claiming
// more is taken as carrying none, so that a small file cannot make us hold gigabytes.
inline constexpr std::size_t kMaxProfileBytes = std::size_t{8} << 20;

// PNG's cICP chunk: code points of H.273 (primaries, transfer, matrix, full range).
struct Cicp {
    std::uint8_t primaries = 0, transfer = 0, matrix = 0, fullRange = 0;
};

// PNG's cHRM chunk, in units of 1 / 100000.
struct Chromaticities {
    std::uint32_t whiteX = 0, whiteY = 0, redX = 0, redY = 0, greenX = 0, greenY = 0, blueX = 0, blueY = 0;
};

// What a picture's samples are, as its header says.
enum class SampleKind {
    Unknown,  // a format whose header is not read here: taken for RGB
    Grey,
    Rgb,      // palettes and YCbCr included: the readers hand RGB over
    Cmyk,     // four inks (JPEG's YCCK included)
};

struct FileColour {
    std::vector<unsigned char> profile;  // an embedded ICC profile, empty when none
    bool srgb = false;                   // PNG's sRGB chunk
    std::optional<Cicp> cicp;            // PNG's cICP chunk
    std::optional<std::uint32_t> gamma;  // PNG's gAMA chunk, in units of 1 / 100000
    std::optional<Chromaticities> chromaticities;  // PNG's cHRM chunk
    bool exifAdobeRgb = false;           // a JPEG's EXIF says Adobe RGB (and no profile says otherwise)
    SampleKind samples = SampleKind::Unknown;
};

// Whatever the file's format holds of the above; nothing for formats without any.
FileColour ReadFileColour(Bytes file);

// The pieces, one per format.

// JPEG: the profile of its APP2 "ICC_PROFILE" segments (before the first scan), put
// together in their sequence numbers' order; empty unless every part from 1 to the
// count is there exactly once, all claiming the same count.
std::vector<unsigned char> JpegIccProfile(Bytes file);

// JPEG: its frame's components (1 grey, 3 RGB or YCbCr, 4 CMYK or YCCK).
SampleKind JpegSamples(Bytes file);

// JPEG: EXIF's ColorSpace 2, or its interoperability index "R03" (the DCF's Adobe RGB
// option) with ColorSpace not 1 (sRGB), in the first APP1 "Exif" segment.
bool JpegExifAdobeRgb(Bytes file);

// PNG: iCCP (inflated), sRGB, gAMA, cHRM and cICP, read up to the first IDAT.
FileColour PngColour(Bytes file);

// TIFF: the first page's tag 34675, classic TIFF in either byte order.
std::vector<unsigned char> TiffIccProfile(Bytes file);
// TIFF: the first page's photometric interpretation (with its ink set and samples).
SampleKind TiffSamples(Bytes file);

// WebP: an extended file's ICCP chunk.
std::vector<unsigned char> WebpIccProfile(Bytes file);

}  // namespace vistrel::colourtags
