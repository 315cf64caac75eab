#pragma once
// The numbers a colourist reads off a picture's level counts: range, mean, median and
// the 1 % and 99 % levels of each channel, the clipped counts and the luma outside the
// video range. Pure arithmetic over the counts; no pixel is visited again.

#include <array>
#include <cstdint>

#include "kernels/levels.h"

namespace vistrel {

struct ChannelStatistics {
    int min = 0;
    int max = 0;
    // The mean in thousandths, rounded to the nearest (halves to even): exact, so that
    // it prints with three decimals without a binary fraction in the way.
    std::uint64_t meanThousandths = 0;
    // The smallest level v such that at least ceil(q x N) pixels lie at or below v,
    // for q = 0.5, 0.01 and 0.99.
    int median = 0;
    int p1 = 0;
    int p99 = 0;
    std::uint64_t at0 = 0;
    std::uint64_t at255 = 0;
};

struct LevelStatistics {
    std::uint64_t pixels = 0;
    // R, G, B and Y, in LevelCounts' order.
    std::array<ChannelStatistics, korvex::LevelCounts::kChannels> channels{};
    // Pixels whose luma is below 16 or above 235, the video range's limits.
    std::uint64_t outsideVideoRange = 0;
};

// The statistics of the counts; all zero for counts of no pixels.
LevelStatistics StatisticsOf(const korvex::LevelCounts& counts);

}  // namespace vistrel
