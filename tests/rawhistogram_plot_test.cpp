// The raw histogram's builder: each band's bars against the counts of the raw values its
// columns hold, found the slow way; the marks at black and white; the readings' columns
// covering every raw value once; and what it says without photosites.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <set>

#include "model/RawCounts.h"
#include "rawhistogram/RawHistogramPlot.h"

using namespace vistrel;
using namespace vistrel::rawhistogram;

namespace {

// A sensor of `repeat` with random photosites, some at or above white, counted whole.
RawCounts Counted(int repeat, std::uint32_t white, int bits, std::uint32_t seed) {
    auto sensor = std::make_shared<RawSensor>();
    sensor->width = 36;
    sensor->height = 24;
    sensor->repeat = repeat;
    sensor->bits = bits;
    sensor->white = white;
    sensor->black = {512, 500, repeat == 6 ? 0u : 520u, 516};
    for (int i = 0; i < repeat * repeat; ++i)
        sensor->pattern[std::size_t(i)] = repeat == 2 ? std::array{RawSite::G1, RawSite::R, RawSite::B, RawSite::G2}[std::size_t(i)]
                                                      : std::array{RawSite::R, RawSite::G1, RawSite::B}[std::size_t(i % 3)];
    std::mt19937 random(seed);
    const std::uint32_t top = white != 0 ? white + 300 : (1u << bits) - 1;
    for (int i = 0; i < sensor->width * sensor->height; ++i)
        sensor->values.push_back(static_cast<std::uint16_t>(random() % 6 == 0 ? top - random() % 400 : 400 + random() % 3000));
    return CountRaw(sensor, sensor->height, sensor->width, std::nullopt);
}

}  // namespace

TEST(RawHistogramPlot, BarsFollowTheSlowCountsOfEachColumnsValuesOnBothAxesAndScales) {
    for (const int repeat : {2, 6})
        for (const RawHistogramAxis axis : {RawHistogramAxis::Linear, RawHistogramAxis::Ev})
            for (const HistogramScale scale : {HistogramScale::Linear, HistogramScale::Log}) {
                SCOPED_TRACE(std::to_string(repeat) + (axis == RawHistogramAxis::Ev ? " EV" : " linear") +
                             (scale == HistogramScale::Log ? " log" : ""));
                const RawCounts counts = Counted(repeat, 15000, 14, 7);
                const Axis a = AxisOf(counts, axis);
                const RawHistogramPlot plot = BuildRawHistogram(&counts, Absence::NotRaw, {axis, scale, 0x008080});
                ASSERT_EQ(plot.raster.size(), std::size_t(kRasterWidth) * kRasterHeight);
                const std::vector<Shown> shown = ShownOf(*counts.sensor);
                ASSERT_EQ(shown.size(), repeat == 2 ? 4u : 3u);
                // The array's order: G1 R / B G2 read row by row; X-Trans R, G, B.
                EXPECT_STREQ(shown[0].name, repeat == 2 ? "G1" : "R");
                const int whiteColumn = a.ColumnOf(15000), blackColumn = a.ColumnOf(static_cast<std::uint32_t>(std::nearbyint(a.black)));
                EXPECT_EQ(whiteColumn, axis == RawHistogramAxis::Ev ? kColumns - 1 : 15000 * kColumns / 16384);
                // Each band: a column is lit in its colour from its bottom row up, as high as
                // its count asks, and not at all where no photosite's value falls.
                const int bandHeight = (kBandArea - (int(shown.size()) - 1) * kBandGap) / int(shown.size());
                for (std::size_t b = 0; b < shown.size(); ++b) {
                    const std::vector<std::uint32_t>& h = counts.histograms[std::size_t(shown[b].site)];
                    std::vector<std::uint64_t> columns(kColumns, 0);
                    for (std::size_t v = 0; v < h.size(); ++v) columns[std::size_t(a.ColumnOf(std::uint32_t(v)))] += h[v];
                    const int bottom = kMargin + int(b) * (bandHeight + kBandGap) + bandHeight;
                    for (int c = 0; c < kColumns; ++c) {
                        if (c == whiteColumn || c == blackColumn) continue;  // the marks' columns
                        const int x = kMargin + c;
                        const bool lit = plot.raster[std::size_t(bottom - 1) * kRasterWidth + std::size_t(x)] == shown[b].colour;
                        EXPECT_EQ(lit, columns[std::size_t(c)] > 0) << "band " << b << " column " << c;
                    }
                    // The white level's mark runs down the band's bars, solid.
                    EXPECT_EQ(plot.raster[std::size_t(bottom - 1) * kRasterWidth + std::size_t(kMargin + whiteColumn)], 0x008080u);
                }
                // Every raw value is read in exactly one column, and its counts add up.
                std::uint64_t read = 0, total = 0;
                std::uint32_t next = 0;
                for (const auto& h : counts.histograms)
                    for (const std::uint32_t n : h) total += n;
                for (int c = 0; c < kColumns; ++c) {
                    const auto reading = ReadingAt(&counts, axis, kMargin + c, 10);
                    if (!reading) continue;
                    EXPECT_EQ(reading->first, next) << "column " << c;
                    next = reading->last + 1;
                    for (const SiteCount& n : reading->counts) read += n.count;
                }
                EXPECT_EQ(next, axis == RawHistogramAxis::Ev ? korvex::kPhotositeValues : 16384u);
                EXPECT_EQ(read, total);
                EXPECT_FALSE(ReadingAt(&counts, axis, kMargin - 1, 10));
                EXPECT_FALSE(ReadingAt(&counts, axis, kMargin + kColumns, 10));
            }
}

TEST(RawHistogramPlot, StopsAreCountedDownFromWhiteAboveBlackAndReadAsTheLineSaysThem) {
    const RawCounts counts = Counted(2, 16383, 14, 3);
    const Axis ev = AxisOf(counts, RawHistogramAxis::Ev);
    EXPECT_DOUBLE_EQ(ev.black, (512 + 500 + 520 + 516) / 4.0);
    // One stop below white is half the range above black, 11/12 of the way across: the
    // column that holds 234.67 of 256.
    const double half = ev.black + (16383 - ev.black) / 2;
    EXPECT_NEAR(*ev.StopsOf(half), 1.0, 1e-12);
    EXPECT_EQ(ev.ColumnOf(static_cast<std::uint32_t>(std::ceil(half))), 234);
    EXPECT_EQ(ev.ColumnOf(static_cast<std::uint32_t>(std::floor(half))), 234);
    EXPECT_EQ(ev.ColumnOf(16382), kColumns - 1);
    EXPECT_EQ(ev.ColumnOf(0), 0);
    EXPECT_FALSE(ev.StopsOf(ev.black));
    RawReading reading;
    reading.first = 4012;
    reading.last = 4075;
    reading.stops = 2.031;
    reading.counts = {{"R", 1234}, {"G1", 0}};
    EXPECT_EQ(ReadingText(reading), QString::fromUtf8("Raw 4012\u20134075, \u22122.03 EV: R\u00A01,234 \u00B7 G1\u00A00"));
    reading.last = 4012;
    reading.stops.reset();
    EXPECT_EQ(ReadingText(reading), QString::fromUtf8("Raw 4012: R\u00A01,234 \u00B7 G1\u00A00"));
}

TEST(RawHistogramPlot, WithoutPhotositesTheFieldSaysWhy) {
    for (const Absence absence : {Absence::NotRaw, Absence::DoesNotApply}) {
        const RawHistogramPlot plot = BuildRawHistogram(nullptr, absence, {});
        EXPECT_EQ(plot.raster, std::vector<Pixel>(std::size_t(kRasterWidth) * kRasterHeight, 0));
        ASSERT_FALSE(plot.labels.empty());
        EXPECT_EQ(plot.labels.front().text.startsWith("Does not apply"), absence == Absence::DoesNotApply);
    }
    // An X-Trans sensor says its greens are one set.
    const RawCounts xtrans = Counted(6, 16383, 14, 1);
    bool said = false;
    for (const PlotLabel& label : BuildRawHistogram(&xtrans, Absence::NotRaw, {}).labels) said = said || label.text.contains("X-Trans");
    EXPECT_TRUE(said);
}
