#include "histogram/HistogramPlot.h"

#include <algorithm>
#include <cmath>

#include "model/Channels.h"
#include "platform/Numbers.h"

namespace vistrel::histogram {

namespace {

korvex::LevelCounts::Channel CountedChannel(ScopeChannel channel) {
    switch (channel) {
        case ScopeChannel::Red: return korvex::LevelCounts::R;
        case ScopeChannel::Green: return korvex::LevelCounts::G;
        case ScopeChannel::Blue: return korvex::LevelCounts::B;
        case ScopeChannel::Luma:
        case ScopeChannel::Parade: return korvex::LevelCounts::Y;
    }
    return korvex::LevelCounts::Y;
}

}  // namespace

std::vector<Band> BandsOf(ScopeChannel channel) {
    const int count = ChannelsShown(channel);
    const int height = (kBandArea - (count - 1) * kBandGap) / count;
    std::vector<Band> bands;
    for (int k = 0; k < count; ++k) bands.push_back({kMargin + k * (height + kBandGap), height});
    return bands;
}

int BarRows(std::uint64_t count, std::uint64_t tallest, int rows, HistogramScale scale) {
    if (count == 0 || tallest == 0) return 0;
    double share = 0;
    switch (scale) {
        case HistogramScale::Linear:
            share = static_cast<double>(count) / static_cast<double>(tallest);
            break;
        case HistogramScale::Log:
            share = std::log1p(static_cast<double>(count)) / std::log1p(static_cast<double>(tallest));
            break;
    }
    return std::clamp(static_cast<int>(std::nearbyint(share * rows)), 1, rows);
}

QString ShareText(std::uint64_t count, std::uint64_t total) {
    if (total == 0) return {};
    const double percent = 100.0 * static_cast<double>(count) / static_cast<double>(total);
    // Two decimals: a share that rounds to none of the last digit would read 0.00.
    if (count > 0 && nearest(percent * 100.0) == 0) return QStringLiteral("<0.01 %");
    return FormatNumber(percent, "0.00") + QStringLiteral(" %");
}

HistogramPlot BuildHistogram(const korvex::LevelCounts& counts, const PlotSettings& settings) {
    HistogramPlot plot;
    plot.raster.assign(static_cast<std::size_t>(kRasterWidth) * kRasterHeight, 0);
    const Pixel graticule = korvex::ColorToPixel(settings.scaleColor);
    const bool lit = GraticuleLit(graticule);
    const std::vector<Band> bands = BandsOf(settings.channel);
    const bool parade = IsParade(settings.channel);

    for (std::size_t b = 0; b < bands.size(); ++b) {
        const ScopeChannel shown = parade ? kParadeOrder[b] : settings.channel;
        const auto& bins = counts.bins[CountedChannel(shown)];
        const Pixel color = ColoursOf(shown).waveform;
        const int barTop = bands[b].top + kLabelRows;
        const int barRows = bands[b].height - kLabelRows;
        const int bottom = bands[b].top + bands[b].height;  // one past the band's last row
        const auto at = [&](int x, int y) -> Pixel& {
            return plot.raster[static_cast<std::size_t>(y) * kRasterWidth + static_cast<std::size_t>(x)];
        };

        if (lit)
            for (const int level : kGraticuleLevels)
                for (int y = barTop; y < bottom; ++y) at(kMargin + level, y) = graticule;

        const std::uint64_t tallest = *std::max_element(bins.begin(), bins.end());
        std::uint64_t total = 0;
        for (int level = 0; level < kLevels; ++level) {
            const std::uint64_t count = bins[static_cast<std::size_t>(level)];
            total += count;
            const int rows = BarRows(count, tallest, barRows, settings.scale);
            for (int y = bottom - rows; y < bottom; ++y) at(kMargin + level, y) = color;
        }
        if (total == 0) continue;
        plot.labels.push_back({kMargin, bands[b].top, false, ShareText(bins.front(), total), color});
        plot.labels.push_back({kMargin + kLevels, bands[b].top, true, ShareText(bins.back(), total), color});
    }
    return plot;
}

}  // namespace vistrel::histogram
