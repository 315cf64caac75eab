// The pixel mask and its bit copies against a plain vector of booleans: marks given at
// any offset, as bits or as runs, read back pixel by pixel, as bits and as counts over
// ranges and rectangles.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "kernels/pixelmask.h"

namespace {

std::vector<std::uint64_t> Words(const std::vector<bool>& bits, std::size_t from, std::size_t count) {
    std::vector<std::uint64_t> words((count + 63) / 64 + 1, 0);
    for (std::size_t i = 0; i < count; ++i)
        if (bits[from + i]) words[i / 64] |= std::uint64_t{1} << (i % 64);
    return words;
}

}  // namespace

TEST(KernelsPixelMask, BitsCopiedAtAnyOffsetLandWhereAPlainLoopPutsThem) {
    std::mt19937 random(5);
    for (int trial = 0; trial < 2000; ++trial) {
        const std::size_t count = random() % 300, at = random() % 200, size = at + count + random() % 70;
        std::vector<bool> from(count + 64), to(size);
        for (std::size_t i = 0; i < from.size(); ++i) from[i] = random() % 3 == 0;  // past count too: never read
        for (std::size_t i = 0; i < to.size(); ++i) to[i] = random() % 5 == 0;
        std::vector<std::uint64_t> target = Words(to, 0, size), source = Words(from, 0, from.size());
        source.resize((count + 63) / 64);  // nothing past the words the bits need
        korvex::OrBits(target.data(), at, source.data(), count);
        for (std::size_t i = 0; i < count; ++i) to[at + i] = to[at + i] || from[i];
        for (std::size_t i = 0; i < size; ++i) ASSERT_EQ(((target[i / 64] >> (i % 64)) & 1) != 0, to[i]) << trial << " " << i;
        std::uint64_t ones = 0;
        for (std::size_t i = 0; i < count; ++i) ones += from[i];
        ASSERT_EQ(korvex::CountBits(Words(from, 0, from.size()).data(), count), ones);
    }
}

// Pictures of a few blocks, marked sparsely, densely and in long runs across rows and
// blocks: every pixel, every count and every read-back as the plain vector has them.
TEST(KernelsPixelMask, MarksReadBackAsAPlainVectorOfThemOverAnyRangeAndRectangle) {
    std::mt19937 random(11);
    for (const auto& [width, height] : {std::pair<std::size_t, std::size_t>{1000, 300}, {37, 5000}, {65536, 3}, {1, 70000}}) {
        SCOPED_TRACE(width);
        const std::size_t pixels = width * height;
        korvex::PixelMask mask(pixels);
        std::vector<bool> plain(pixels);
        EXPECT_EQ(mask.count(), 0u);
        EXPECT_EQ(mask.CountRect(width, {0, 0, width, height}), 0u);
        for (int step = 0; step < 60; ++step) {
            const std::size_t first = random() % pixels;
            const std::size_t count = std::min<std::size_t>(pixels - first, random() % 3 == 0 ? random() % 200000 : random() % 700);
            if (step % 3 == 0) {
                mask.MarkRun(first, count);
                for (std::size_t i = 0; i < count; ++i) plain[first + i] = true;
            } else {
                // Sparse or dense, over marks already there.
                const unsigned every = step % 2 == 0 ? 2 : 97;
                std::vector<bool> bits(count);
                for (std::size_t i = 0; i < count; ++i) bits[i] = random() % every == 0;
                const std::vector<std::uint64_t> words = Words(bits, 0, count);
                mask.Mark(first, count, words.data());
                for (std::size_t i = 0; i < count; ++i) plain[first + i] = plain[first + i] || bits[i];
            }
        }
        EXPECT_EQ(mask.count(), std::uint64_t(std::count(plain.begin(), plain.end(), true)));
        EXPECT_EQ(mask.pixels(), pixels);
        for (std::size_t i = 0; i < pixels; i += 1 + random() % 17) ASSERT_EQ(mask.marked(i), plain[i]) << i;
        EXPECT_FALSE(mask.marked(pixels));
        for (int trial = 0; trial < 300; ++trial) {
            const std::size_t first = random() % pixels, count = random() % std::min<std::size_t>(pixels - first + 1, 140000);
            std::vector<std::uint64_t> bits((count + 63) / 64 + 1, ~std::uint64_t{0});
            mask.Bits(first, count, bits.data());
            const std::vector<std::uint64_t> expected = Words(plain, first, count);
            for (std::size_t w = 0; w < (count + 63) / 64; ++w) ASSERT_EQ(bits[w], expected[w]) << first << " " << count;
            EXPECT_EQ(bits[(count + 63) / 64], ~std::uint64_t{0}) << "written past its words";
            EXPECT_EQ(mask.CountRange(first, count),
                      std::uint64_t(std::count(plain.begin() + std::ptrdiff_t(first), plain.begin() + std::ptrdiff_t(first + count), true)));
            korvex::PixelRect rect;
            rect.x = random() % width;
            rect.y = random() % height;
            rect.width = 1 + random() % (width - rect.x);
            rect.height = 1 + random() % (height - rect.y);
            std::uint64_t inside = 0;
            for (std::size_t y = rect.y; y < rect.y + rect.height; ++y)
                for (std::size_t x = rect.x; x < rect.x + rect.width; ++x) inside += plain[y * width + x];
            ASSERT_EQ(mask.CountRect(width, rect), inside);
        }
    }
}

// The largest picture: a mark or two make a block or two, and count where they are.
TEST(KernelsPixelMask, TheLargestPictureTakesAFewMarksAtItsCorners) {
    constexpr std::size_t kSide = 32768;
    korvex::PixelMask mask(std::uint64_t{kSide} * kSide);
    mask.MarkRun(0, 1);
    mask.MarkRun(std::uint64_t{kSide} * kSide - 2, 2);
    EXPECT_EQ(mask.count(), 3u);
    EXPECT_EQ(mask.CountRect(kSide, {0, 0, kSide, kSide}), 3u);
    EXPECT_EQ(mask.CountRect(kSide, {kSide - 1, kSide - 1, 1, 1}), 1u);
    EXPECT_EQ(mask.CountRect(kSide, {1, 0, kSide - 1, kSide - 1}), 0u);
}
