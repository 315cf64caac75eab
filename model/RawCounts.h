#pragma once
// A camera raw's photosites counted before demosaicing: each class of the colour filter
// array's place apart (R, G1, G2 and B; X-Trans' R, G and B), over the whole sensor or the
// photosites under a region of the developed picture, and the levels read from the
// counts. Plain data and pure functions: the raw histogram, the raw clipping marks and
// --stats' "raw" object read them.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "decoding/Decode.h"
#include "kernels/photosites.h"
#include "kernels/region.h"

namespace vistrel {

// The channels the raw numbers name: R, G (both greens), B, and each green apart.
enum class RawChannel { R, G, B, G1, G2 };

struct RawCounts {
    std::shared_ptr<const RawSensor> sensor;
    korvex::PixelRect counted;  // the sensor's photosites counted
    korvex::PhotositeHistograms histograms;  // a table a RawSite

    // The channel's counts at each raw value (G: both greens added); empty for G1 and G2
    // of an X-Trans sensor, whose greens are one set.
    std::vector<std::uint32_t> Histogram(RawChannel channel) const;
    // The classes a channel holds.
    bool Has(RawChannel channel) const;
};

// The sensor's photosites as the kernels take them.
korvex::Photosites PhotositesOf(const RawSensor& sensor);

// The photosites under a region of the developed picture (pictureWidth x pictureHeight),
// turned back onto the sensor; the whole sensor without one.
RawCounts CountRaw(std::shared_ptr<const RawSensor> sensor, int pictureWidth, int pictureHeight,
                   const std::optional<korvex::PixelRect>& region);

// A channel's levels: how many photosites it has, its highest value, its median and p99
// (the smallest value with at least ceil(q x N) of its N photosites at or below it), and
// how many are at or above the white level (none without one).
struct RawChannelLevels {
    std::uint64_t count = 0;
    std::uint32_t max = 0;
    std::uint32_t p50 = 0;
    std::uint32_t p99 = 0;
    std::uint64_t atWhite = 0;
    bool operator==(const RawChannelLevels&) const = default;
};
RawChannelLevels LevelsOf(const std::vector<std::uint32_t>& histogram, std::uint32_t white);

// The channel's black level: its classes' mean (for G, both greens').
double BlackOf(const RawSensor& sensor, RawChannel channel);
// The stops from a raw value up to the white level, black subtracted from both:
// log2((white - black) / (value - black)) to two decimals; nothing at or below black, or
// without a white level above black.
std::optional<double> StopsBelowWhite(double value, double black, std::uint32_t white);

// The raw histogram's bins for --stats: the narrowest power-of-two width that leaves at
// most kMostRawBins bins over the values the sensor's depth holds (2^bits).
inline constexpr std::uint32_t kMostRawBins = 4096;
std::uint32_t RawBinWidth(int bits);

}  // namespace vistrel
