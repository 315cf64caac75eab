#include "model/LevelStatistics.h"

namespace vistrel {

namespace {

using Bins = std::array<std::uint64_t, korvex::LevelCounts::kLevels>;

// The video range: luma below this or above the next is outside it.
constexpr std::size_t kVideoBlack = 16;
constexpr std::size_t kVideoWhite = 235;

// The smallest level at or below which at least `wanted` pixels lie (wanted >= 1).
int LevelReaching(const Bins& bins, std::uint64_t wanted) {
    std::uint64_t below = 0;
    for (std::size_t v = 0; v < bins.size(); ++v) {
        below += bins[v];
        if (below >= wanted) return static_cast<int>(v);
    }
    return static_cast<int>(bins.size() - 1);
}

// numerator / denominator to the nearest whole number, halves to even.
std::uint64_t NearestQuotient(std::uint64_t numerator, std::uint64_t denominator) {
    const std::uint64_t quotient = numerator / denominator;
    const std::uint64_t twiceRest = 2 * (numerator % denominator);
    if (twiceRest > denominator || (twiceRest == denominator && quotient % 2 == 1)) return quotient + 1;
    return quotient;
}

ChannelStatistics ChannelOf(const Bins& bins, std::uint64_t n) {
    ChannelStatistics s;
    s.at0 = bins.front();
    s.at255 = bins.back();
    std::uint64_t sum = 0;
    for (std::size_t v = 0; v < bins.size(); ++v) sum += v * bins[v];
    // Up to 2^30 pixels of level 255, times 1000: far inside 64 bits.
    s.meanThousandths = NearestQuotient(sum * 1000, n);
    std::size_t low = 0;
    while (bins[low] == 0) ++low;
    std::size_t high = bins.size() - 1;
    while (bins[high] == 0) --high;
    s.min = static_cast<int>(low);
    s.max = static_cast<int>(high);
    // ceil(q x N) in whole numbers: q = 1/2, 1/100 and 99/100.
    s.median = LevelReaching(bins, (n + 1) / 2);
    s.p1 = LevelReaching(bins, (n + 99) / 100);
    s.p99 = LevelReaching(bins, (99 * n + 99) / 100);
    return s;
}

}  // namespace

LevelStatistics StatisticsOf(const korvex::LevelCounts& counts) {
    LevelStatistics result;
    for (const std::uint64_t c : counts.bins[korvex::LevelCounts::R]) result.pixels += c;
    if (result.pixels == 0) return result;
    for (std::size_t c = 0; c < korvex::LevelCounts::kChannels; ++c)
        result.channels[c] = ChannelOf(counts.bins[c], result.pixels);
    const Bins& luma = counts.bins[korvex::LevelCounts::Y];
    for (std::size_t v = 0; v < kVideoBlack; ++v) result.outsideVideoRange += luma[v];
    for (std::size_t v = kVideoWhite + 1; v < luma.size(); ++v) result.outsideVideoRange += luma[v];
    return result;
}

}  // namespace vistrel
