#pragma once
// The one walker of a PNG's chunks, safe on any bytes: every chunk's frame (length,
// type, checksum) must end inside the file.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "formats/ByteOrder.h"

namespace vistrel::headers {

// The signature, then chunks of a 4-byte length, a 4-byte type, the data and a checksum.
inline constexpr std::size_t kPngSignatureBytes = 8;
inline constexpr std::size_t kPngChunkFrameBytes = 12;

struct PngChunk {
    std::size_t at = 0;                  // where its length starts in the file
    const unsigned char* type = nullptr;  // its four type bytes, followed by its data and its checksum
    std::span<const unsigned char> data;
    bool is(const char* name) const { return std::memcmp(type, name, 4) == 0; }
    // The checksum stored after the data (over the type and the data).
    std::uint32_t storedCrc() const { return bytes::Big32(data.data() + data.size()); }
};

// How a walk ended: at a whole end chunk, because visit said so, or at a chunk whose frame
// does not fit (a file cut short).
enum class PngWalk { ReachedEnd, Stopped, CutShort };

// Tells visit(chunk) of each chunk after the signature (which the caller checks, when it
// cares) up to the end chunk, which is not told; visit returns false to stop there.
template <typename Visit>
PngWalk WalkPngChunks(std::span<const unsigned char> file, Visit visit) {
    const std::size_t size = file.size();
    if (size < kPngSignatureBytes) return PngWalk::CutShort;
    std::size_t at = kPngSignatureBytes;
    while (size - at >= kPngChunkFrameBytes) {
        const std::size_t length = bytes::Big32(file.data() + at);
        if (length > size - at - kPngChunkFrameBytes) return PngWalk::CutShort;
        PngChunk chunk;
        chunk.at = at;
        chunk.type = file.data() + at + 4;
        chunk.data = file.subspan(at + 8, length);
        if (chunk.is("IEND")) return PngWalk::ReachedEnd;
        if (!visit(chunk)) return PngWalk::Stopped;
        at += kPngChunkFrameBytes + length;
    }
    return PngWalk::CutShort;
}

}  // namespace vistrel::headers
