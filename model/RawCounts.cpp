#include "model/RawCounts.h"

#include <algorithm>
#include <cmath>

namespace vistrel {

namespace {

std::size_t Index(RawSite site) { return static_cast<std::size_t>(site); }

}  // namespace

bool RawCounts::Has(RawChannel channel) const {
    if (!sensor) return false;
    switch (channel) {
        case RawChannel::R:
        case RawChannel::G:
        case RawChannel::B: return true;
        case RawChannel::G1:
        case RawChannel::G2: return !sensor->xtrans();
    }
    return false;
}

std::vector<std::uint32_t> RawCounts::Histogram(RawChannel channel) const {
    if (!Has(channel)) return {};
    switch (channel) {
        case RawChannel::R: return histograms[Index(RawSite::R)];
        case RawChannel::B: return histograms[Index(RawSite::B)];
        case RawChannel::G1: return histograms[Index(RawSite::G1)];
        case RawChannel::G2: return histograms[Index(RawSite::G2)];
        case RawChannel::G: {
            std::vector<std::uint32_t> both = histograms[Index(RawSite::G1)];
            const std::vector<std::uint32_t>& second = histograms[Index(RawSite::G2)];
            for (std::size_t v = 0; v < both.size(); ++v) both[v] += second[v];
            return both;
        }
    }
    return {};
}

korvex::Photosites PhotositesOf(const RawSensor& sensor) {
    korvex::Photosites sites;
    sites.values = sensor.values.data();
    sites.width = static_cast<std::size_t>(sensor.width);
    sites.height = static_cast<std::size_t>(sensor.height);
    sites.repeat = static_cast<std::size_t>(sensor.repeat);
    static_assert(sizeof(RawSite) == 1);
    sites.pattern = reinterpret_cast<const std::uint8_t*>(sensor.pattern.data());
    sites.flip = sensor.flip;
    return sites;
}

RawCounts CountRaw(std::shared_ptr<const RawSensor> sensor, int pictureWidth, int pictureHeight,
                   const std::optional<korvex::PixelRect>& region) {
    RawCounts counts;
    if (!sensor || sensor->values.size() != std::size_t(sensor->width) * std::size_t(sensor->height)) return counts;
    const korvex::Photosites sites = PhotositesOf(*sensor);
    counts.counted = region ? korvex::SensorRectOf(sites, std::size_t(pictureWidth), std::size_t(pictureHeight), *region)
                            : korvex::PixelRect{0, 0, sites.width, sites.height};
    counts.histograms = korvex::CountPhotosites(sites, counts.counted);
    counts.sensor = std::move(sensor);
    return counts;
}

RawChannelLevels LevelsOf(const std::vector<std::uint32_t>& histogram, std::uint32_t white) {
    RawChannelLevels levels;
    for (const std::uint32_t n : histogram) levels.count += n;
    if (levels.count == 0) return levels;
    for (std::size_t v = histogram.size(); v-- > 0;)
        if (histogram[v] != 0) {
            levels.max = static_cast<std::uint32_t>(v);
            break;
        }
    const std::uint64_t half = (levels.count + 1) / 2;               // ceil(0.5 N)
    const std::uint64_t most = (99 * levels.count + 99) / 100;       // ceil(0.99 N)
    std::uint64_t below = 0;
    bool halfFound = false;
    for (std::size_t v = 0; v < histogram.size(); ++v) {
        below += histogram[v];
        if (!halfFound && below >= half) {
            levels.p50 = static_cast<std::uint32_t>(v);
            halfFound = true;
        }
        if (below >= most) {
            levels.p99 = static_cast<std::uint32_t>(v);
            break;
        }
    }
    if (white != 0)
        for (std::size_t v = std::min<std::size_t>(white, histogram.size()); v < histogram.size(); ++v)
            levels.atWhite += histogram[v];
    return levels;
}

double BlackOf(const RawSensor& sensor, RawChannel channel) {
    const auto black = [&](RawSite site) { return static_cast<double>(sensor.black[Index(site)]); };
    switch (channel) {
        case RawChannel::R: return black(RawSite::R);
        case RawChannel::B: return black(RawSite::B);
        case RawChannel::G1: return black(RawSite::G1);
        case RawChannel::G2: return black(RawSite::G2);
        case RawChannel::G: return sensor.xtrans() ? black(RawSite::G1) : (black(RawSite::G1) + black(RawSite::G2)) / 2;
    }
    return 0;
}

std::optional<double> StopsBelowWhite(double value, double black, std::uint32_t white) {
    if (white == 0 || value <= black || white <= black) return std::nullopt;
    return std::nearbyint(100 * std::log2((white - black) / (value - black))) / 100;
}

std::uint32_t RawBinWidth(int bits) {
    const std::uint64_t values = std::uint64_t{1} << std::clamp(bits, 1, 16);
    std::uint32_t width = 1;
    while (values / width > kMostRawBins) width *= 2;
    return width;
}

}  // namespace vistrel
