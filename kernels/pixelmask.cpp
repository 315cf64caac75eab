#include "kernels/pixelmask.h"

#include <algorithm>
#include <bit>
#include <cassert>

namespace korvex {
namespace {

// The low n bits (n 0 .. 64).
std::uint64_t Low(std::size_t n) { return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1; }

// Up to 64 bits of `from` from bit `at` on, as the low bits of a word.
std::uint64_t BitsAt(const std::uint64_t* from, std::size_t at) {
    const std::size_t word = at / 64, shift = at % 64;
    return shift == 0 ? from[word] : from[word] >> shift;
}

}  // namespace

void OrBits(std::uint64_t* to, std::size_t at, const std::uint64_t* from, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const std::size_t place = at + done, shift = place % 64;
        // Into the word holding `place`: as many bits as fit in it, and as are left.
        const std::size_t n = std::min<std::size_t>(64 - shift, count - done);
        std::uint64_t piece = BitsAt(from, done);
        if (done % 64 != 0 && 64 - done % 64 < n) piece |= from[done / 64 + 1] << (64 - done % 64);
        to[place / 64] |= (piece & Low(n)) << shift;
        done += n;
    }
}

std::uint64_t CountBits(const std::uint64_t* bits, std::size_t count) {
    std::uint64_t n = 0;
    for (std::size_t w = 0; w < count / 64; ++w) n += static_cast<std::uint64_t>(std::popcount(bits[w]));
    if (count % 64 != 0) n += static_cast<std::uint64_t>(std::popcount(bits[count / 64] & Low(count % 64)));
    return n;
}

PixelMask::PixelMask(std::uint64_t pixels) : pixels_(pixels) {}

std::uint64_t* PixelMask::Block(std::uint64_t index) {
    if (blocks_.empty()) blocks_.resize(static_cast<std::size_t>((pixels_ + kBlockPixels - 1) >> kBlockShift));
    std::unique_ptr<std::uint64_t[]>& block = blocks_[static_cast<std::size_t>(index)];
    if (!block) block = std::make_unique<std::uint64_t[]>(kBlockWords);  // zeroed
    return block.get();
}

void PixelMask::Put(std::uint64_t pixel, std::uint64_t bits) {
    if (bits == 0) return;
    if (pixel >> kBlockShift != lastBlock_) {
        lastBlock_ = pixel >> kBlockShift;
        last_ = Block(lastBlock_);
    }
    std::uint64_t& into = last_[static_cast<std::size_t>(pixel & (kBlockPixels - 1)) / 64];
    count_ += static_cast<std::uint64_t>(std::popcount(bits & ~into));
    into |= bits;
}

void PixelMask::MarkWord(std::uint64_t pixel, std::uint64_t word) {
    assert(pixel < pixels_ && (pixels_ - pixel >= 64 || (word >> (pixels_ - pixel)) == 0));
    // The word lies across at most two of the mask's words, which may be in two blocks.
    const std::size_t shift = static_cast<std::size_t>(pixel % 64);
    Put(pixel, word << shift);
    if (shift != 0) Put(pixel + 64 - shift, word >> (64 - shift));
}

void PixelMask::Mark(std::uint64_t first, std::size_t count, const std::uint64_t* bits) {
    assert(first <= pixels_ && count <= pixels_ - first);
    for (std::size_t at = 0; at < count; at += 64) MarkWord(first + at, bits[at / 64] & Low(count - at));
}

void PixelMask::MarkRun(std::uint64_t first, std::uint64_t length) {
    assert(first <= pixels_ && length <= pixels_ - first);
    for (std::uint64_t at = 0; at < length; at += 64)
        MarkWord(first + at, Low(static_cast<std::size_t>(std::min<std::uint64_t>(64, length - at))));
}

bool PixelMask::marked(std::uint64_t pixel) const {
    if (blocks_.empty() || pixel >= pixels_) return false;
    const std::unique_ptr<std::uint64_t[]>& block = blocks_[static_cast<std::size_t>(pixel >> kBlockShift)];
    const std::size_t inBlock = static_cast<std::size_t>(pixel & (kBlockPixels - 1));
    return block && ((block[inBlock / 64] >> (inBlock % 64)) & 1) != 0;
}

void PixelMask::Bits(std::uint64_t first, std::size_t count, std::uint64_t* out) const {
    std::fill(out, out + (count + 63) / 64, 0);
    if (blocks_.empty()) return;
    std::size_t done = 0;
    while (done < count) {
        const std::uint64_t pixel = first + done;
        const std::size_t inBlock = static_cast<std::size_t>(pixel & (kBlockPixels - 1));
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(kBlockPixels) - inBlock, count - done);
        if (const std::unique_ptr<std::uint64_t[]>& block = blocks_[static_cast<std::size_t>(pixel >> kBlockShift)]) {
            for (std::size_t at = 0; at < n; at += 64) {
                // 64 bits of the block from inBlock + at on, as far as the block goes.
                const std::size_t from = inBlock + at, shift = from % 64, word = from / 64;
                std::uint64_t piece = block[word] >> shift;
                if (shift != 0 && word + 1 < kBlockWords) piece |= block[word + 1] << (64 - shift);
                const std::uint64_t bits[1] = {piece & Low(n - at)};
                OrBits(out, done + at, bits, std::min<std::size_t>(64, n - at));
            }
        }
        done += n;
    }
}

std::uint64_t PixelMask::CountRange(std::uint64_t first, std::uint64_t count) const {
    if (blocks_.empty()) return 0;
    std::uint64_t marked = 0, done = 0;
    while (done < count) {
        const std::uint64_t pixel = first + done;
        const std::size_t inBlock = static_cast<std::size_t>(pixel & (kBlockPixels - 1));
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockPixels - inBlock, count - done));
        if (const std::unique_ptr<std::uint64_t[]>& block = blocks_[static_cast<std::size_t>(pixel >> kBlockShift)]) {
            std::size_t at = inBlock;
            const std::size_t end = inBlock + n;
            if (at % 64 != 0) {
                const std::size_t take = std::min<std::size_t>(64 - at % 64, end - at);
                marked += static_cast<std::uint64_t>(std::popcount((block[at / 64] >> (at % 64)) & Low(take)));
                at += take;
            }
            for (; at + 64 <= end; at += 64) marked += static_cast<std::uint64_t>(std::popcount(block[at / 64]));
            if (at < end) marked += static_cast<std::uint64_t>(std::popcount(block[at / 64] & Low(end - at)));
        }
        done += n;
    }
    return marked;
}

std::uint64_t PixelMask::CountRect(std::size_t width, const PixelRect& rect) const {
    if (blocks_.empty() || rect.empty()) return 0;
    std::uint64_t marked = 0;
    for (std::size_t y = rect.y; y < rect.y + rect.height; ++y)
        marked += CountRange(static_cast<std::uint64_t>(y) * width + rect.x, rect.width);
    return marked;
}

}  // namespace korvex
