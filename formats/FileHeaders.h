#pragma once
// What a picture file's own bytes claim, read before any decoder sees them:
// plain functions over the file's bytes, no Qt, safe on any input (they are
// fuzzed on their own).

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vistrel::headers {

using Bytes = std::span<const unsigned char>;

// A JPEG's segments walked to the end-of-image marker.
struct JpegScan {
    bool complete = false;                 // the stream reaches its end-of-image marker
    std::int64_t width = -1, height = -1;  // from the first frame header, when one was seen
};
// How far to walk: to the end-of-image marker, or only to the first frame header
// (its size, without the cost of walking the scan data).
enum class JpegWalk { ToTheEnd, ToFrameHeader };
JpegScan ScanJpeg(Bytes file, JpegWalk walk = JpegWalk::ToTheEnd);

// A picture's size as its header claims it; width -1 when unknown.
struct ClaimedSize {
    std::int64_t width = -1, height = -1;
    bool known() const { return width >= 0; }
};

// What a format's header claims: the size it declares (a side out of range is refused
// before any reader runs), and the largest picture a decoder may be asked to hold for
// the file (too many pixels for the file's size are refused, and the decoder's limits are
// measured from it). Sides may be out of any range; unknown for another format's bytes.
struct Claims {
    ClaimedSize size;
    ClaimedSize largest;
};
// One walker a format:
Claims PngClaims(Bytes file);   // its IHDR
Claims BmpClaims(Bytes file);   // its info header (rows stored top-down counted alike)
Claims TiffClaims(Bytes file);  // its first page
Claims WebpClaims(Bytes file);  // its frame, or an extended file's canvas
Claims GifClaims(Bytes file);   // its logical screen (a zero screen is left to the reader)
Claims JxlClaims(Bytes file);   // its size header, before its orientation turns it
Claims JpegClaims(Bytes file);  // its first frame header
// HEIF (AVIF included): the largest of its image sizes (ispe properties), a grid
// picture's own among them; the size is left to the library.
Claims HeifClaims(Bytes file);
// The portable bitmaps, grey maps and pixmaps; an icon's largest entry (its directory's
// sides, or those of the PNG it holds), as the largest only.
Claims OtherClaims(Bytes file);

// Camera raw files ------------------------------------------------------------------

// True for the raw files of the cameras LibRaw reads, told from their first bytes (RAF,
// CR3, RW2, ORF, IIQ, CRW, MRW) or, for a TIFF, from its directories: a DNG version, a
// CR2's "CR" mark, or a directory of photosites (a colour filter array or linear raw),
// as NEF, ARW, PEF, SRW, 3FR and the like keep theirs.
bool LooksLikeCameraRaw(Bytes file);
// True for every file LooksLikeCameraRaw takes, told from its first bytes alone: a TIFF
// of any kind among them, its directories unread.
bool MayBeCameraRaw(Bytes file);

// What a raw file's structure claims: the largest picture any of its directories
// describes (the photosites, not the preview most files put first; sides may be out of
// any range), and, for a DNG, where the photosites' strips or tiles end, so that a file
// cut by a byte is seen before the library (which does not notice) decodes it; and
// whether a DNG's colour filter pattern does not fit its own description (a colour it
// has no plane for, a count its repeat does not make, or bytes past the file's end),
// which LibRaw reads from memory it never set, or crashes on. A DNG's photosites of a
// depth no raw file stores (LibRaw reads them as another), or a white level they cannot
// reach, are told too: the levels LibRaw would report then are not the file's; and so
// are photosites said to be lossless JPEG whose strips or tiles are no JPEG stream, which
// LibRaw decodes into photosites the file does not hold.
struct RawWalk {
    ClaimedSize largest;
    std::uint64_t dataEnd = 0;  // 0 when unknown
    bool patternUnfit = false;
    bool depthUnfit = false;
    bool whiteUnfit = false;  // 0, or above the largest value of the photosites' depth
    bool dataUnfit = false;   // lossless JPEG photosites whose pieces do not start as JPEG
    int bits = 0;  // a DNG's photosites' depth; 0 when unknown
};
RawWalk WalkRaw(Bytes file);
// The largest as the size too: a developed picture lacks only its margins of a few
// photosites (and is turned), so a side out of range is refused before the library
// reads a byte of the file.
Claims RawClaims(Bytes file);

// HEIF, AVIF and other ISO base media files: the first box is a brand box.
bool StartsWithBrandBox(Bytes file);

// JPEG XL, a bare code stream or the container: the two signatures libjxl's own
// signature check takes.
bool LooksLikeJxl(Bytes file);

// HEIF, AVIF and the JPEG XL container: true when the boxes, one after another from the
// file's start, end exactly where the file does (a file cut short ends inside one).
bool BoxesRunToTheEnd(Bytes file);

// GIF: true when the first image's data runs to its block terminator and its LZW codes,
// decoded as the reader decodes them (pixels counted, none kept), give every pixel the
// image puts on the canvas; in time and memory bounded by the data's length.
bool GifFirstFrameComplete(Bytes file);

// BMP: false when the file is too short for the rows its header declares,
// stored uncompressed; true otherwise (compressed rows are left to the reader).
bool BmpHoldsItsRows(Bytes file);

// Icon or cursor: the directory entries, in file order, that the file
// actually holds and whose image starts inside it; empty when the bytes are
// no icon directory.
std::vector<int> IconEntriesHeld(Bytes file);

// Metafiles ------------------------------------------------------------------

// The placeable header (22 bytes, its key first) before the plain header.
inline constexpr std::size_t kPlaceableHeaderBytes = 22;
inline constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7u;

// True when the bytes start like a metafile: the placeable key, or a plain
// metafile header (type 1 or 2, a header of 9 words, version 1 or 3).
bool LooksLikeMetafile(Bytes file);

// The window origin the records set first, in logical units; (0, 0) when
// they set none. `recordsAt` is where the first record starts.
struct Origin {
    int x = 0, y = 0;
};
Origin FirstWindowOrigin(Bytes file, std::size_t recordsAt);

// Walks the records the way the metafile player will meet them and refuses
// the ones it is known to mishandle: a packed bitmap whose header size is
// below the smallest header (the player then skips bytes for ever) or runs
// past its record, one whose sides exceed `maxSide` or whose bit depth is
// none a bitmap has, and drawing with a pattern brush or a font deleted while
// still selected, or with a brush whose slot another object has taken since
// (the player reads the freed or overwritten object). Anything else,
// including a walk that cannot go on, is left to the player.
bool MetafileRecordsPlayable(Bytes file, std::int64_t maxSide);

}  // namespace vistrel::headers
