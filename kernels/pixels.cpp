// Masking and channel spreading of a displayed picture.

#include <cassert>

#include "kernels/korvex.h"
#include "kernels/parallel.h"

namespace korvex {

namespace {

void MaskRange(const Pixel* source, Pixel* destination, std::uint32_t mask, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) destination[k] = source[k] & mask;
}

// The grey of the byte at bit `Shift`: that byte in blue, green and red, fourth byte 0.
template <unsigned Shift>
void SpreadRange(const Pixel* source, Pixel* destination, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) destination[k] = ((source[k] >> Shift) & 0xFFu) * 0x010101u;
}

}  // namespace

void MaskPixels(const Pixel* source, Pixel* destination, std::uint32_t mask, std::size_t count) {
    assert(count == 0 || (source != nullptr && destination != nullptr));
    if (count == 0 || source == nullptr || destination == nullptr) return;
    detail::ParallelFor(count, [=](std::size_t begin, std::size_t end) {
        MaskRange(source + begin, destination + begin, mask, end - begin);
    });
}

void SpreadChannel(const Pixel* source, Pixel* destination, std::uint32_t channelMask, std::size_t count) {
    assert(count == 0 || (source != nullptr && destination != nullptr));
    if (count == 0 || source == nullptr || destination == nullptr) return;
    using Range = void (*)(const Pixel*, Pixel*, std::size_t);
    Range spread = nullptr;
    switch (channelMask) {
        case 0x0000FFu: spread = &SpreadRange<0>; break;
        case 0x00FF00u: spread = &SpreadRange<8>; break;
        case 0xFF0000u: spread = &SpreadRange<16>; break;
        default: break;
    }
    if (spread == nullptr) {
        MaskPixels(source, destination, channelMask, count);
        return;
    }
    detail::ParallelFor(count, [=](std::size_t begin, std::size_t end) {
        spread(source + begin, destination + begin, end - begin);
    });
}

}  // namespace korvex
