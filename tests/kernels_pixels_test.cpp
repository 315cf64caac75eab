#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "kernels/korvex.h"
#include "support.h"

namespace {

using korvex::Pixel;
using testing_support::Bgra;

class ThreadCountGuard {
public:
    explicit ThreadCountGuard(int count) { korvex::SetThreadCount(count); }
    ~ThreadCountGuard() { korvex::SetThreadCount(0); }
};

const std::vector<Pixel> kSample{Bgra(0x12, 0x34, 0x56, 0x78), Bgra(0xFF, 0x00, 0x80, 0xFF), Bgra(0, 0, 0, 0),
                                 Bgra(0xFF, 0xFF, 0xFF, 0xFF), Bgra(0x01, 0xFE, 0x7F, 0x80)};

TEST(KernelsPixels, MaskKeepsOnlyTheSelectedBits) {
    for (const std::uint32_t mask : {0x000000u, 0x0000FFu, 0x00FF00u, 0xFF0000u, 0xFFFF00u, 0xFF00FFu, 0x00FFFFu,
                                     0xFFFFFFu, 0xFFFFFFFFu}) {
        std::vector<Pixel> out(kSample.size(), 0xDEADBEEFu);
        korvex::MaskPixels(kSample.data(), out.data(), mask, kSample.size());
        for (std::size_t k = 0; k < kSample.size(); ++k) EXPECT_EQ(out[k], kSample[k] & mask) << std::hex << mask;
    }
}

TEST(KernelsPixels, MaskWritesExactlyCountPixelsAndWorksInPlace) {
    std::vector<Pixel> out(kSample.size(), 0xDEADBEEFu);
    korvex::MaskPixels(kSample.data(), out.data(), 0xFF0000u, 2);
    EXPECT_EQ(out[0], 0x560000u);
    EXPECT_EQ(out[1], 0x800000u);
    EXPECT_EQ(out[2], 0xDEADBEEFu);

    std::vector<Pixel> inPlace = kSample;
    korvex::MaskPixels(inPlace.data(), inPlace.data(), 0x00FF00u, inPlace.size());
    for (std::size_t k = 0; k < kSample.size(); ++k) EXPECT_EQ(inPlace[k], kSample[k] & 0x00FF00u);

    korvex::MaskPixels(nullptr, nullptr, 0xFFu, 0);
    korvex::SpreadChannel(nullptr, nullptr, 0xFFu, 0);
}

TEST(KernelsPixels, SpreadMakesAGreyOfTheSelectedByte) {
    struct Case {
        std::uint32_t mask;
        unsigned shift;
    };
    for (const Case c : {Case{0x0000FFu, 0}, Case{0x00FF00u, 8}, Case{0xFF0000u, 16}}) {
        std::vector<Pixel> out(kSample.size(), 0xDEADBEEFu);
        korvex::SpreadChannel(kSample.data(), out.data(), c.mask, kSample.size());
        for (std::size_t k = 0; k < kSample.size(); ++k) {
            const unsigned level = (kSample[k] >> c.shift) & 0xFF;
            EXPECT_EQ(out[k], Bgra(level, level, level, 0)) << std::hex << c.mask << " pixel " << kSample[k];
        }
    }
    // Hand-worked: green 0x34 of the first sample, the fourth byte cleared.
    std::vector<Pixel> one(1);
    korvex::SpreadChannel(kSample.data(), one.data(), 0x00FF00u, 1);
    EXPECT_EQ(one[0], 0x00343434u);
}

TEST(KernelsPixels, SpreadWithAMaskOfSeveralChannelsMasksInstead) {
    for (const std::uint32_t mask : {0x000000u, 0xFFFF00u, 0xFFFFFFu, 0x00F000u, 0xFF000000u}) {
        std::vector<Pixel> out(kSample.size(), 0xDEADBEEFu);
        korvex::SpreadChannel(kSample.data(), out.data(), mask, kSample.size());
        for (std::size_t k = 0; k < kSample.size(); ++k) EXPECT_EQ(out[k], kSample[k] & mask) << std::hex << mask;
    }
}

TEST(KernelsPixels, SameResultAtAnyThreadCount) {
    constexpr std::size_t kCount = 2 * 256 * 1024 + 5;
    std::mt19937 random(99);
    std::vector<Pixel> source(kCount);
    for (Pixel& p : source) p = random();
    const auto run = [&](int threads, bool spread) {
        ThreadCountGuard guard(threads);
        std::vector<Pixel> out(kCount, 0);
        if (spread)
            korvex::SpreadChannel(source.data(), out.data(), 0xFF0000u, kCount);
        else
            korvex::MaskPixels(source.data(), out.data(), 0x00FFFFu, kCount);
        return out;
    };
    for (const bool spread : {false, true}) {
        const std::vector<Pixel> single = run(1, spread);
        EXPECT_EQ(single, run(3, spread));
        const Pixel last = source.back();
        EXPECT_EQ(single.back(), spread ? ((last >> 16) & 0xFF) * 0x010101u : last & 0x00FFFFu);
    }
}

}  // namespace
