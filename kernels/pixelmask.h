#pragma once
// Which pixels of a picture have a mark (those a colour conversion clipped), one bit a
// pixel, kept in blocks made only where some pixel is marked: a picture with few marks
// holds a few blocks, none with no mark, and never more than one bit a pixel.
//
// Bits are given as words of 64: bit i of bits[i / 64] stands for the i-th pixel of the
// run they describe. Pixels are numbered row after row, y * width + x.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "kernels/region.h"

namespace korvex {

// Copies `count` bits from `from` (from its bit 0) into `to` from its bit `at` on, OR-ing
// them in; bits of `to` outside at .. at + count - 1 stay as they are, and bits of `from`
// past `count` are not read.
void OrBits(std::uint64_t* to, std::size_t at, const std::uint64_t* from, std::size_t count);
// The bits set among the first `count` of `bits`.
std::uint64_t CountBits(const std::uint64_t* bits, std::size_t count);

class PixelMask {
public:
    // For a picture of that many pixels, none marked.
    explicit PixelMask(std::uint64_t pixels);

    std::uint64_t pixels() const { return pixels_; }
    // The pixels marked.
    std::uint64_t count() const { return count_; }

    // Marks the pixels whose bits are set among `count` bits from pixel `first` on; they
    // must lie inside the picture.
    void Mark(std::uint64_t first, std::size_t count, const std::uint64_t* bits);
    // Marks pixels first .. first + length - 1.
    void MarkRun(std::uint64_t first, std::uint64_t length);
    // Marks the pixels of up to 64 bits from `pixel` on (bit i for pixel + i), which must
    // lie inside the picture.
    void MarkWord(std::uint64_t pixel, std::uint64_t word);
    bool marked(std::uint64_t pixel) const;
    // The bits of pixels first .. first + count - 1 into `out` (ceil(count / 64) words,
    // written whole, bits past count 0).
    void Bits(std::uint64_t first, std::size_t count, std::uint64_t* out) const;

    // The pixels marked among first .. first + count - 1.
    std::uint64_t CountRange(std::uint64_t first, std::uint64_t count) const;
    // The pixels marked in a rectangle of a picture `width` pixels wide (inside it).
    std::uint64_t CountRect(std::size_t width, const PixelRect& rect) const;

private:
    // A block holds 2^16 pixels' bits: 8 KiB, made on its first mark. 32768 x 32768
    // pixels take 16384 blocks' places.
    static constexpr unsigned kBlockShift = 16;
    static constexpr std::uint64_t kBlockPixels = std::uint64_t{1} << kBlockShift;
    static constexpr std::size_t kBlockWords = kBlockPixels / 64;
    std::uint64_t* Block(std::uint64_t index);
    // ORs bits into the word of the mask that holds `pixel`, counting the newly marked.
    void Put(std::uint64_t pixel, std::uint64_t bits);

    std::uint64_t pixels_;
    std::uint64_t count_ = 0;
    std::vector<std::unique_ptr<std::uint64_t[]>> blocks_;  // made on the first mark
    // The block marked last, which the next mark most likely falls in too.
    std::uint64_t lastBlock_ = ~std::uint64_t{0};
    std::uint64_t* last_ = nullptr;
};

}  // namespace korvex
