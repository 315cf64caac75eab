#include "rawhistogram/RawHistogramPlot.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "model/Channels.h"
#include "platform/Numbers.h"

namespace vistrel::rawhistogram {

namespace {

constexpr int kLastColumn = kColumns - 1;
// A second green drawn apart from the first: bluer, so that the two bands differ at a glance.
constexpr Pixel kSecondGreen = 0x0010A070;
constexpr Pixel kSecondGreenText = 0x0030D0A0;
// The marks when the lamp is off, so that black and white are still found.
constexpr Pixel kUnlitMark = 0x00606060;
constexpr Pixel kNoteColour = 0x00D0D0D0;

struct Band {
    int top = 0;
    int height = 0;
};

std::vector<Band> BandsOf(std::size_t count) {
    const int n = static_cast<int>(count);
    const int height = (kBandArea - (n - 1) * kBandGap) / n;
    std::vector<Band> bands;
    for (int k = 0; k < n; ++k) bands.push_back({kMargin + k * (height + kBandGap), height});
    return bands;
}

// Each column's photosites of one class.
std::array<std::uint64_t, kColumns> ColumnCounts(const std::vector<std::uint32_t>& histogram, const Axis& axis) {
    std::array<std::uint64_t, kColumns> columns{};
    for (std::size_t v = 0; v < histogram.size(); ++v)
        if (histogram[v] != 0) columns[std::size_t(axis.ColumnOf(static_cast<std::uint32_t>(v)))] += histogram[v];
    return columns;
}

int BarRows(std::uint64_t count, std::uint64_t tallest, int rows, HistogramScale scale) {
    if (count == 0 || tallest == 0) return 0;
    if (count >= tallest) return rows;
    double share = 0;
    switch (scale) {
        case HistogramScale::Linear: share = static_cast<double>(count) / static_cast<double>(tallest); break;
        case HistogramScale::Log:
            share = std::log1p(static_cast<double>(count)) / std::log1p(static_cast<double>(tallest));
            break;
    }
    return std::clamp(static_cast<int>(std::ceil(share * rows)), 1, rows);
}

std::uint64_t Tallest(const std::array<std::uint64_t, kColumns>& columns, HistogramScale scale) {
    const std::uint64_t all = *std::max_element(columns.begin(), columns.end());
    switch (scale) {
        case HistogramScale::Linear: {
            const std::uint64_t inner = *std::max_element(columns.begin() + 1, columns.end() - 1);
            return inner > 0 ? inner : all;
        }
        case HistogramScale::Log: return all;
    }
    return all;
}

QString Count(std::uint64_t n) { return FormatNumber(static_cast<double>(n), ",0"); }

QString Stops(double stops) {
    // A minus sign, as the axis prints it.
    return (stops > 0 ? QStringLiteral("\u2212") : QString()) + FormatNumber(std::abs(stops), "0.00") + QStringLiteral(" EV");
}

}  // namespace

int Axis::ColumnOf(std::uint32_t value) const {
    switch (kind) {
        case RawHistogramAxis::Linear:
            return std::min<int>(kLastColumn, static_cast<int>(std::uint64_t{value} * kColumns / top));
        case RawHistogramAxis::Ev: {
            const double reference = Reference();
            if (value >= reference) return kLastColumn;
            if (value <= black) return 0;
            const double ev = std::log2((value - black) / (reference - black));
            const auto column = static_cast<int>(std::floor((ev + kRawEvSpan) / kRawEvSpan * kColumns));
            return std::clamp(column, 0, kLastColumn);
        }
    }
    return 0;
}

std::optional<double> Axis::StopsOf(double value) const {
    const double reference = Reference();
    if (value <= black || reference <= black) return std::nullopt;
    return std::log2((reference - black) / (value - black));
}

Axis AxisOf(const RawCounts& counts, RawHistogramAxis kind) {
    Axis axis;
    axis.kind = kind;
    const RawSensor& sensor = *counts.sensor;
    std::uint32_t highest = 0;
    for (const std::vector<std::uint32_t>& h : counts.histograms)
        for (std::size_t v = h.size(); v-- > highest;)
            if (h[v] != 0) {
                highest = static_cast<std::uint32_t>(v);
                break;
            }
    const int bits = std::clamp(std::max(sensor.bits, static_cast<int>(std::bit_width(highest))), 1, 16);
    axis.top = std::uint32_t{1} << bits;
    axis.white = sensor.white;
    const std::vector<Shown> shown = ShownOf(sensor);
    double black = 0;
    for (const Shown& s : shown) black += sensor.black[static_cast<std::size_t>(s.site)];
    axis.black = black / static_cast<double>(shown.size());
    return axis;
}

std::vector<Shown> ShownOf(const RawSensor& sensor) {
    const auto colours = [](int c) { return kChannelColours[c].trace; };
    if (sensor.xtrans())
        return {{RawSite::R, "R", colours(0)}, {RawSite::G1, "G", colours(1)}, {RawSite::B, "B", colours(2)}};
    // The 2 x 2 array's order: its places row by row.
    std::vector<Shown> shown;
    for (std::size_t i = 0; i < 4; ++i) {
        const RawSite site = sensor.pattern[(i >> 1) * 2 + (i & 1)];
        switch (site) {
            case RawSite::R: shown.push_back({site, "R", colours(0)}); break;
            case RawSite::G1: shown.push_back({site, "G1", colours(1)}); break;
            case RawSite::G2: shown.push_back({site, "G2", kSecondGreen}); break;
            case RawSite::B: shown.push_back({site, "B", colours(2)}); break;
        }
    }
    return shown;
}

RawHistogramPlot BuildRawHistogram(const RawCounts* counts, Absence absence, const PlotSettings& settings) {
    RawHistogramPlot plot;
    plot.raster.assign(std::size_t(kRasterWidth) * kRasterHeight, 0);
    if (counts == nullptr || !counts->sensor) {
        switch (absence) {
            case Absence::NotRaw: plot.labels.push_back({kMargin, kMargin, "Not a camera raw picture", kNoteColour}); break;
            case Absence::DoesNotApply:
                plot.labels.push_back({kMargin, kMargin, "Does not apply to this sensor:", kNoteColour});
                plot.labels.push_back(
                    {kMargin, kMargin + kLabelRows, "no filter array of R, G and B", kNoteColour});
                plot.labels.push_back(
                    {kMargin, kMargin + 2 * kLabelRows, "(a linear DNG, or four colours)", kNoteColour});
                break;
        }
        return plot;
    }
    const auto at = [&](int x, int y) -> Pixel& { return plot.raster[std::size_t(y) * kRasterWidth + std::size_t(x)]; };
    const RawSensor& sensor = *counts->sensor;
    const Axis axis = AxisOf(*counts, settings.axis);
    const std::vector<Shown> shown = ShownOf(sensor);
    const std::vector<Band> bands = BandsOf(shown.size());
    const Pixel mark = GraticuleLit(settings.scaleColor) ? settings.scaleColor : kUnlitMark;
    const int whiteColumn = axis.white != 0 ? axis.ColumnOf(axis.white) : -1;
    const int blackColumn = axis.ColumnOf(static_cast<std::uint32_t>(std::nearbyint(axis.black)));
    for (std::size_t b = 0; b < shown.size(); ++b) {
        const Band& band = bands[b];
        const int barTop = band.top + kLabelRows;
        const int bottom = band.top + band.height;
        const int rows = bottom - barTop;
        const std::array<std::uint64_t, kColumns> columns =
            ColumnCounts(counts->histograms[static_cast<std::size_t>(shown[b].site)], axis);
        const std::uint64_t tallest = Tallest(columns, settings.scale);
        for (int c = 0; c < kColumns; ++c) {
            const int bar = BarRows(columns[std::size_t(c)], tallest, rows, settings.scale);
            for (int y = bottom - bar; y < bottom; ++y) at(kMargin + c, y) = shown[b].colour;
        }
        if (whiteColumn >= 0)
            for (int y = barTop; y < bottom; ++y) at(kMargin + whiteColumn, y) = mark;
        for (int y = barTop; y < bottom; y += kBlackDots) at(kMargin + blackColumn, y) = mark;
        const Pixel text = shown[b].colour == kSecondGreen ? kSecondGreenText
                           : shown[b].site == RawSite::R   ? kChannelColours[0].text
                           : shown[b].site == RawSite::B   ? kChannelColours[2].text
                                                           : kChannelColours[1].text;
        plot.labels.push_back({kMargin, band.top, QString::fromLatin1(shown[b].name), text});
    }
    if (sensor.xtrans())
        plot.labels.push_back({kMargin + 24, bands.front().top, "X-Trans: R, G, B (no G2)", kNoteColour});
    const QString ends = [&] {
        switch (settings.axis) {
            case RawHistogramAxis::Linear: return QStringLiteral("0 \u2013 %1").arg(axis.top - 1);
            case RawHistogramAxis::Ev:
                return QStringLiteral("\u2212%1 \u2013 0 EV%2").arg(kRawEvSpan).arg(axis.white != 0 ? "" : " (no white)");
        }
        return QString();
    }();
    plot.labels.push_back({kMargin + kColumns / 2, bands.back().top, ends, kNoteColour});
    return plot;
}

std::optional<RawReading> ReadingAt(const RawCounts* counts, RawHistogramAxis kind, int x, int y) {
    if (counts == nullptr || !counts->sensor) return std::nullopt;
    const int column = x - kMargin;
    if (column < 0 || column >= kColumns || y < 0 || y >= kRasterHeight) return std::nullopt;
    const Axis axis = AxisOf(*counts, kind);
    // The column's values: ColumnOf rises with the value.
    const auto firstOf = [&](int c) {
        std::uint32_t low = 0, high = static_cast<std::uint32_t>(korvex::kPhotositeValues);
        while (low < high) {
            const std::uint32_t mid = low + (high - low) / 2;
            if (axis.ColumnOf(mid) < c) low = mid + 1;
            else high = mid;
        }
        return low;
    };
    // A linear axis ends at its top: no photosite lies above it.
    const std::uint32_t limit = kind == RawHistogramAxis::Linear ? axis.top : static_cast<std::uint32_t>(korvex::kPhotositeValues);
    const std::uint32_t first = firstOf(column), end = std::min(firstOf(column + 1), limit);
    if (first >= end) return std::nullopt;
    RawReading reading;
    reading.first = first;
    reading.last = end - 1;
    reading.stops = axis.StopsOf(first);
    for (const Shown& s : ShownOf(*counts->sensor)) {
        const std::vector<std::uint32_t>& h = counts->histograms[static_cast<std::size_t>(s.site)];
        std::uint64_t n = 0;
        for (std::uint32_t v = first; v < end && v < h.size(); ++v) n += h[v];
        reading.counts.push_back({s.name, n});
    }
    return reading;
}

QString ReadingText(const RawReading& reading) {
    QString text = reading.first == reading.last ? QStringLiteral("Raw %1").arg(reading.first)
                                                 : QStringLiteral("Raw %1\u2013%2").arg(reading.first).arg(reading.last);
    if (reading.stops) text += QStringLiteral(", ") + Stops(*reading.stops);
    text += u':';
    for (std::size_t i = 0; i < reading.counts.size(); ++i)
        text += (i == 0 ? QStringLiteral(" ") : QStringLiteral(" \u00B7 ")) +
                QString::fromLatin1(reading.counts[i].name) + u'\u00A0' + Count(reading.counts[i].count);
    return text;
}

}  // namespace vistrel::rawhistogram
