#include "histogram/HistogramPlot.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "model/Channels.h"
#include "colour/HdrScale.h"
#include "model/Trace.h"
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

constexpr int kTopLevel = kLevels - 1;
// A nits line's name starts this far right of it.
constexpr int kNitsNameGap = 2;

std::uint64_t Total(const std::array<std::uint64_t, 256>& bins) {
    std::uint64_t total = 0;
    for (const std::uint64_t count : bins) total += count;
    return total;
}

}  // namespace

std::vector<Band> BandsOf(HistogramChannel channel) {
    const int count = channel == HistogramChannel::Parade ? kParadeChannels : 1;
    const int height = (kBandArea - (count - 1) * kBandGap) / count;
    std::vector<Band> bands;
    for (int k = 0; k < count; ++k) bands.push_back({kMargin + k * (height + kBandGap), height});
    return bands;
}

std::vector<ScopeChannel> BandChannels(HistogramChannel channel, std::size_t band) {
    switch (channel) {
        case HistogramChannel::Red: return {ScopeChannel::Red};
        case HistogramChannel::Green: return {ScopeChannel::Green};
        case HistogramChannel::Blue: return {ScopeChannel::Blue};
        case HistogramChannel::Luma: return {ScopeChannel::Luma};
        case HistogramChannel::Parade: return {kParadeOrder[std::min<std::size_t>(band, kParadeChannels - 1)]};
        case HistogramChannel::Rgb: return {ScopeChannel::Red, ScopeChannel::Green, ScopeChannel::Blue};
    }
    return {ScopeChannel::Luma};
}

std::uint64_t ScaleCount(const korvex::LevelCounts& counts, const std::vector<ScopeChannel>& channels,
                         HistogramScale scale) {
    std::uint64_t inner = 0;
    std::uint64_t all = 0;
    for (const ScopeChannel channel : channels) {
        const auto& bins = counts.bins[CountedChannel(channel)];
        inner = std::max(inner, *std::max_element(bins.begin() + 1, bins.end() - 1));
        all = std::max({all, bins.front(), bins.back(), inner});
    }
    switch (scale) {
        case HistogramScale::Linear: return inner > 0 ? inner : all;
        case HistogramScale::Log: return all;
    }
    return all;
}

int BarRows(std::uint64_t count, std::uint64_t tallest, int rows, HistogramScale scale) {
    if (count == 0 || tallest == 0) return 0;
    if (count >= tallest) return rows;
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
    const auto at = [&](int x, int y) -> Pixel& {
        return plot.raster[static_cast<std::size_t>(y) * kRasterWidth + static_cast<std::size_t>(x)];
    };
    std::vector<int> graticuleLevels(std::begin(kGraticuleLevels), std::end(kGraticuleLevels));
    if (!settings.nitsLines.empty()) {
        graticuleLevels.clear();
        for (const hdr::ScaleLine& line : settings.nitsLines) graticuleLevels.push_back(line.level);
    }

    for (std::size_t b = 0; b < bands.size(); ++b) {
        const std::vector<ScopeChannel> shown = BandChannels(settings.channel, b);
        const int labelRows = kLabelRows * static_cast<int>(shown.size());
        const int barTop = bands[b].top + labelRows;
        const int barRows = bands[b].height - labelRows;
        const int bottom = bands[b].top + bands[b].height;  // one past the band's last row
        const std::uint64_t tallest = ScaleCount(counts, shown, settings.scale);

        if (lit)
            for (const int level : graticuleLevels)
                for (int y = barTop; y < bottom; ++y) at(kMargin + level, y) = graticule;

        if (settings.reference != nullptr) {
            const korvex::LevelCounts& reference = *settings.reference;
            const std::uint64_t referenceTallest = ScaleCount(reference, shown, settings.scale);
            for (int level = 0; level < kLevels; ++level) {
                int highest = 0;
                bool offScale = false;
                for (const ScopeChannel channel : shown) {
                    const std::uint64_t count = reference.bins[CountedChannel(channel)][static_cast<std::size_t>(level)];
                    highest = std::max(highest, BarRows(count, referenceTallest, barRows, settings.scale));
                    offScale = offScale || count > referenceTallest;
                }
                for (int y = bottom - highest; y < bottom; ++y) at(kMargin + level, y) = kReferenceTrace;
                if (!offScale) continue;
                const int first = level == 0 ? kMargin - kOffScaleFlagColumns : kMargin + kLevels;
                for (int y = barTop; y < barTop + kOffScaleFlagRows; ++y)
                    for (int fx = first; fx < first + kOffScaleFlagColumns; ++fx) at(fx, y) = kReferenceTrace;
            }
        }

        for (int level = 0; level < kLevels; ++level) {
            const int x = kMargin + level;
            std::array<int, 3> rows{};  // each channel's bar, in rows up from the bottom
            Pixel offScale = 0;         // the colours of the bars the scale cuts
            for (std::size_t c = 0; c < shown.size(); ++c) {
                const std::uint64_t count = counts.bins[CountedChannel(shown[c])][static_cast<std::size_t>(level)];
                rows[c] = BarRows(count, tallest, barRows, settings.scale);
                if (count > tallest) offScale = AddColours(offScale, ColoursOf(shown[c]).waveform);
            }
            const int highest = *std::max_element(rows.begin(), rows.end());
            for (int y = bottom - highest; y < bottom; ++y) {
                Pixel sum = 0;
                for (std::size_t c = 0; c < shown.size(); ++c)
                    if (y >= bottom - rows[c]) sum = AddColours(sum, ColoursOf(shown[c]).waveform);
                at(x, y) = sum;
            }
            if (offScale == 0) continue;
            const int first = level == 0 ? kMargin - kOffScaleFlagColumns : kMargin + kLevels;
            for (int y = barTop; y < barTop + kOffScaleFlagRows; ++y)
                for (int fx = first; fx < first + kOffScaleFlagColumns; ++fx) at(fx, y) = offScale;
        }

        for (std::size_t c = 0; c < shown.size(); ++c) {
            const auto& bins = counts.bins[CountedChannel(shown[c])];
            const std::uint64_t total = Total(bins);
            if (total == 0) continue;
            const Pixel text = ColoursOf(shown[c]).text;
            const int y = bands[b].top + static_cast<int>(c) * kLabelRows;
            plot.labels.push_back({kMargin, y, false, ShareText(bins.front(), total), text});
            plot.labels.push_back({kMargin + kLevels, y, true, ShareText(bins.back(), total), text});
        }
    }
    if (lit) {
        // Right of each line, the last (top) one left of it; at the foot of the last band.
        const int foot = bands.back().top + bands.back().height - kLabelRows;
        for (std::size_t i = 0; i < settings.nitsLines.size(); ++i) {
            const hdr::ScaleLine& line = settings.nitsLines[i];
            const bool last = line.level >= kTopLevel;
            const int x = kMargin + line.level + (last ? 0 : kNitsNameGap);
            const int y = foot - (i % 2 == 0 ? 0 : kLabelRows);
            plot.labels.push_back({x, y, last, ScaleLineName(line.nits), graticule});
        }
    }
    return plot;
}

std::optional<HistogramReading> ReadingAt(const korvex::LevelCounts& counts, HistogramChannel channel, int x, int y) {
    if (x < kMargin || x >= kMargin + kLevels || y < 0 || y >= kRasterHeight) return std::nullopt;
    const std::vector<Band> bands = BandsOf(channel);
    std::size_t band = 0;
    while (band + 1 < bands.size() && bands[band + 1].top <= y) ++band;
    HistogramReading reading;
    reading.level = x - kMargin;
    for (const ScopeChannel shown : BandChannels(channel, band)) {
        const auto& bins = counts.bins[CountedChannel(shown)];
        reading.channels.push_back({shown, bins[static_cast<std::size_t>(reading.level)], Total(bins)});
    }
    return reading;
}

QString ReadingText(const HistogramReading& reading) {
    // A channel's letter, count and share are kept on one line (no-break spaces): a line
    // too narrow for all breaks between channels only.
    constexpr QChar kKeep(0x00A0);
    QString text = reading.nits ? QStringLiteral("Level %1 (%2):").arg(reading.level).arg(NitsText(*reading.nits))
                                : QStringLiteral("Level %1:").arg(reading.level);
    for (std::size_t c = 0; c < reading.channels.size(); ++c) {
        const ChannelCount& shown = reading.channels[c];
        if (c > 0) text += u',';
        QString part = QChar::fromLatin1(ChannelLetter(shown.channel)) + QStringLiteral(" ") +
                       FormatNumber(static_cast<double>(shown.count), ",0");
        if (shown.total > 0) part += QStringLiteral(" (%1)").arg(ShareText(shown.count, shown.total));
        text += u' ' + part.replace(u' ', kKeep);
    }
    return text;
}

}  // namespace vistrel::histogram
