// Our BMP reader over any bytes, into a band sink as in the worker and into a surface
// with a receiver as in the program.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "decoding/readers/BmpDecode.h"
#include "fuzz/reader_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kSidesEnd = 26;  // file header, info header's size, width, height
    constexpr std::uint32_t kCoreHeader = 12;  // its sides are 16 bits each
    if (size >= kSidesEnd) {
        const auto le16 = [&](std::size_t at) { return std::uint32_t{data[at]} | (std::uint32_t{data[at + 1]} << 8); };
        const auto le32 = [&](std::size_t at) { return le16(at) | (le16(at + 2) << 16); };
        const bool core = le32(14) == kCoreHeader;
        const std::int64_t width = core ? std::int16_t(le16(18)) : std::int32_t(le32(18));
        const std::int64_t height = core ? std::int16_t(le16(20)) : std::int32_t(le32(22));
        if (std::uint64_t(std::llabs(width)) * std::uint64_t(std::llabs(height)) > fuzz_checks::kMaxPixels) return 0;
    }
    fuzz_checks::CheckedSink sink;
    sink.Finished(vistrel::DecodeBmp({{data, size}, 0x336699, vistrel::ColourHandling::ConvertToSrgb, nullptr, &sink}));
    fuzz_checks::CheckedReceiver receiver;
    receiver.Finished(vistrel::DecodeBmp({{data, size}, 0x336699, vistrel::ColourHandling::ConvertToSrgb, &receiver}));
    return 0;
}
