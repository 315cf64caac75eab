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
JpegScan ScanJpeg(Bytes file);

// The size the header claims, for PNG, BMP and GIF (whose headers are simple
// enough to read here); width -1 when unknown.
struct ClaimedSize {
    std::int64_t width = -1, height = -1;
    bool known() const { return width >= 0; }
};
ClaimedSize ReadClaimedSize(Bytes file);

// GIF: true when the first image's data runs to its block terminator.
bool GifFirstFrameComplete(Bytes file);

// BMP: false when the file is too short for the rows its header declares,
// stored uncompressed; true otherwise (compressed rows are left to the reader).
bool BmpHoldsItsRows(Bytes file);

// Icon or cursor: the directory entries, in file order, that the file
// actually holds and whose image starts inside it; empty when the bytes are
// no icon directory.
std::vector<int> IconEntriesHeld(Bytes file);

}  // namespace vistrel::headers
