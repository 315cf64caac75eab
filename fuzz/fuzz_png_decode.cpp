// Our PNG reader over any bytes, into a band sink as in the worker and into a surface
// with a receiver as in the program. Mutated bytes rarely keep their checksums, which
// would stop nearly every input at the first chunk: the input's chunk checksums and its
// pixel stream's Adler-32 are made right first, so that the mutations reach the pixels.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <zlib.h>

#include "decoding/readers/PngDecode.h"
#include "fuzz/reader_checks.h"

namespace {

std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
void PutBe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (24 - 8 * i));
}

// Byte offsets of the IDAT data, in stream order.
std::vector<std::size_t> IdatBytes(const std::vector<std::uint8_t>& png) {
    std::vector<std::size_t> at;
    for (std::size_t i = 8; png.size() - i >= 12;) {
        const std::size_t length = Be32(&png[i]);
        if (length > png.size() - i - 12) break;
        if (std::memcmp(&png[i + 4], "IDAT", 4) == 0)
            for (std::size_t k = 0; k < length; ++k) at.push_back(i + 8 + k);
        i += 12 + length;
    }
    return at;
}

void FixAdler(std::vector<std::uint8_t>& png) {
    const std::vector<std::size_t> at = IdatBytes(png);
    constexpr std::size_t kZlibHeader = 2;
    if (at.size() <= kZlibHeader) return;
    std::vector<std::uint8_t> stream(at.size());
    for (std::size_t k = 0; k < at.size(); ++k) stream[k] = png[at[k]];
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return;
    z.next_in = stream.data() + kZlibHeader;
    z.avail_in = static_cast<uInt>(stream.size() - kZlibHeader);
    std::vector<std::uint8_t> out(1 << 16);
    uLong adler = adler32(0, nullptr, 0);
    int status = Z_OK;
    std::size_t produced = 0;
    while (status == Z_OK && produced < (std::size_t{64} << 20)) {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        status = inflate(&z, Z_NO_FLUSH);
        const std::size_t got = out.size() - z.avail_out;
        adler = adler32(adler, out.data(), static_cast<uInt>(got));
        produced += got;
        if (got == 0 && status == Z_OK) break;
    }
    const std::size_t end = stream.size() - z.avail_in;
    inflateEnd(&z);
    if (status != Z_STREAM_END || stream.size() - end < 4) return;
    std::uint8_t sum[4];
    PutBe32(sum, static_cast<std::uint32_t>(adler));
    for (int k = 0; k < 4; ++k) png[at[end + k]] = sum[k];
}

void FixChunkChecksums(std::vector<std::uint8_t>& png) {
    for (std::size_t i = 8; png.size() - i >= 12;) {
        const std::size_t length = Be32(&png[i]);
        if (length > png.size() - i - 12) break;
        PutBe32(&png[i + 8 + length], static_cast<std::uint32_t>(crc32(0, &png[i + 4], static_cast<uInt>(length + 4))));
        i += 12 + length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kSidesEnd = 24;  // signature, IHDR's length and type, width, height
    if (size >= kSidesEnd && std::uint64_t{Be32(data + 16)} * Be32(data + 20) > fuzz_checks::kMaxPixels) return 0;
    std::vector<std::uint8_t> png(data, data + size);
    if (size >= 8) {
        FixAdler(png);
        FixChunkChecksums(png);
    }
    constexpr vistrel::ColorValue kBackground = 0x336699;
    fuzz_checks::CheckedSink sink;
    sink.Finished(vistrel::DecodePng({{png.data(), png.size()}, kBackground, vistrel::ColourHandling::ConvertToSrgb, nullptr, &sink}), true);
    fuzz_checks::CheckedReceiver receiver;
    receiver.Finished(vistrel::DecodePng({{png.data(), png.size()}, kBackground, vistrel::ColourHandling::ConvertToSrgb, &receiver}));
    return 0;
}
