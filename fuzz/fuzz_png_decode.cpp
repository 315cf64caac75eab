// Our PNG reader over any bytes, into a band sink as in the worker and into a surface
// with a receiver as in the program.
#include <cstddef>
#include <cstdint>

#include "decoding/PngDecode.h"
#include "fuzz/reader_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kSidesEnd = 24;  // signature, IHDR's length and type, width, height
    if (size >= kSidesEnd) {
        const auto be32 = [&](std::size_t at) {
            return (std::uint64_t{data[at]} << 24) | (std::uint64_t{data[at + 1]} << 16) | (std::uint64_t{data[at + 2]} << 8) | data[at + 3];
        };
        if (be32(16) * be32(20) > fuzz_checks::kMaxPixels) return 0;
    }
    constexpr vistrel::ColorValue kBackground = 0x336699;
    fuzz_checks::CheckedSink sink;
    sink.Finished(vistrel::DecodePng(data, size, kBackground, nullptr, &sink));
    fuzz_checks::CheckedReceiver receiver;
    receiver.Finished(vistrel::DecodePng(data, size, kBackground, &receiver, nullptr));
    return 0;
}
