// The histogram window in the running program: off at start-up, shown from the Tools
// menu, drawing the loaded picture's counts as its channel choice says; the saved and
// rendered images are its own; and the view's clipping markers.

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QRadioButton>
#include <QTemporaryDir>

#include <span>

#include "app/Render.h"
#include "app/SaveScopes.h"
#include "app_support.h"
#include "histogram/HistogramPlot.h"
#include "histogram/frmHistogram.h"
#include "linescope/frmScope.h"
#include "platform/PictureBox.h"

namespace {

using testing_support::StartedMain;

// Mid-grey with a blown pixel near the top-left and a crushed one near the bottom-right.
QImage GreyWithTwoClippedPixels() {
    QImage image(1200, 800, QImage::Format_RGB32);
    image.fill(qRgb(120, 130, 140));
    image.setPixel(10, 10, qRgb(255, 130, 140));
    image.setPixel(1100, 700, qRgb(120, 0, 140));
    return image;
}

QImage Rendered(const QString& picture, const vistrel::Settings& settings) {
    QTemporaryDir out;
    const vistrel::RenderResult result = vistrel::RenderInstruments(out.path(), picture, settings);
    EXPECT_EQ(result.exitCode, 0) << result.message.toStdString();
    return QImage(out.filePath(vistrel::kHistogramImage)).convertToFormat(QImage::Format_RGB32);
}

TEST(HistogramWindow, ShownFromToolsDrawsTheCountsAndIsWhatRenderWrites) {
    QTemporaryDir dir;
    const QString picture = testing_support::WritePicture(dir, "grey.png", GreyWithTwoClippedPixels());
    StartedMain w;
    auto* window = w->findChild<vistrel::frmHistogram*>("frmHistogram");
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->isVisible()) << "off at start-up";
    w->findChild<QAction*>("mnuToolsHistogram")->trigger();
    EXPECT_TRUE(window->isVisible());

    testing_support::Load(*w, picture);
    ASSERT_TRUE(w->model().loaded());
    // Red: the window shows the builder's red bars for the model's counts.
    vistrel::Settings red = w->model().settings();
    red.histogramChannel = vistrel::HistogramChannel::Red;
    w->ApplySettings(red);
    const vistrel::Settings& settings = w->model().settings();
    const auto plot = vistrel::histogram::BuildHistogram(
        w->model().picture().levels, {settings.histogramChannel, settings.histogramScale, vistrel::ScaleColorOf(settings.lamp)});
    int bars = 0;
    for (std::size_t i = 0; i < plot.raster.size(); ++i) {
        const int x = static_cast<int>(i) % vistrel::histogram::kRasterWidth;
        const int y = static_cast<int>(i) / vistrel::histogram::kRasterWidth;
        // The field, and the strips under the printed shares, are not compared.
        if (plot.raster[i] != 0) {
            ASSERT_EQ(window->surface().pixel(x, y), plot.raster[i]) << x << "," << y;
        }
        bars += plot.raster[i] == 0xA02020;
    }
    EXPECT_EQ(bars, 244 + 1) << "level 120 the tallest, level 255 one row, no other level";

    const QImage grab = vistrel::InstrumentImage(*window);

    red = {};
    red.histogramChannel = vistrel::HistogramChannel::Red;
    EXPECT_EQ(Rendered(picture, red), grab);
    EXPECT_NE(Rendered(picture, {}), grab) << "the three overlaid are another picture";
}

// A picture with a fifth of its pixels black and a fifth white, and broad mid-tones in
// every channel and in luma between them: each colour a grey of 30 to 222 with red lifted
// and blue lowered, the greys spread as two columns' and rows' offsets add.
QImage ClippedAtBothEnds() {
    QImage image(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int grey = 30 + x % 97 + y % 97;
            image.setPixel(x, y, y < 60 ? qRgb(0, 0, 0) : y >= 240 ? qRgb(255, 255, 255) : qRgb(grey + 12, grey, grey - 14));
        }
    return image;
}

// Every linear pane draws its mid-tones however tall the clipped ends: in the rendered
// image, at least 90 % of the levels that hold pixels rise above the band's bottom row, the
// tallest level between the ends reaches the top of the bars, and both ends, taller still,
// carry their off-scale flags. Counted the slow way from the picture written.
TEST(HistogramWindow, EveryLinearPaneDrawsTheMidTonesOfAPictureClippedAtBothEnds) {
    using namespace vistrel::histogram;
    QTemporaryDir dir;
    const QImage image = ClippedAtBothEnds();
    const QString picture = testing_support::WritePicture(dir, "clipped.png", image);
    korvex::LevelCounts counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            korvex::Pixel p = image.pixel(x, y) & 0xFFFFFFu;
            korvex::UvPair pair{};
            korvex::ConvertToYuv(std::span(&p, 1), std::span(&pair, 1));
            ++counts.bins[korvex::LevelCounts::R][(p >> 16) & 0xFF];
            ++counts.bins[korvex::LevelCounts::G][(p >> 8) & 0xFF];
            ++counts.bins[korvex::LevelCounts::B][p & 0xFF];
            ++counts.bins[korvex::LevelCounts::Y][p >> 24];
        }
    const auto bins = [&](vistrel::ScopeChannel c) -> const std::array<std::uint64_t, 256>& {
        switch (c) {
            case vistrel::ScopeChannel::Red: return counts.bins[korvex::LevelCounts::R];
            case vistrel::ScopeChannel::Green: return counts.bins[korvex::LevelCounts::G];
            case vistrel::ScopeChannel::Blue: return counts.bins[korvex::LevelCounts::B];
            case vistrel::ScopeChannel::Luma:
            case vistrel::ScopeChannel::Parade: break;
        }
        return counts.bins[korvex::LevelCounts::Y];
    };
    for (const auto channel : {vistrel::HistogramChannel::Red, vistrel::HistogramChannel::Green,
                               vistrel::HistogramChannel::Blue, vistrel::HistogramChannel::Luma,
                               vistrel::HistogramChannel::Parade, vistrel::HistogramChannel::Rgb}) {
        vistrel::Settings settings;
        settings.histogramChannel = channel;
        settings.lamp = 0;  // no graticule: every lit pixel of the field is a bar or a flag
        const QImage rendered = Rendered(picture, settings);
        const std::vector<Band> bands = BandsOf(channel);
        for (std::size_t b = 0; b < bands.size(); ++b) {
            SCOPED_TRACE(testing::Message() << "choice " << static_cast<int>(channel) << ", band " << b);
            const std::vector<vistrel::ScopeChannel> shown = BandChannels(channel, b);
            const int barTop = bands[b].top + kLabelRows * static_cast<int>(shown.size());
            const int bottom = bands[b].top + bands[b].height;
            const auto lit = [&](int x, int y) { return (rendered.pixel(x, y) & 0xFFFFFFu) != 0; };
            int occupied = 0, risen = 0, tallestLevel = 1;
            std::uint64_t tallest = 0;
            for (int level = 0; level < kLevels; ++level) {
                std::uint64_t most = 0;
                for (const auto c : shown) most = std::max(most, bins(c)[static_cast<std::size_t>(level)]);
                if (most == 0) continue;
                ++occupied;
                risen += lit(kMargin + level, bottom - 2);
                if (level > 0 && level < 255 && most > tallest) tallest = most, tallestLevel = level;
            }
            EXPECT_GT(occupied, 150);
            EXPECT_GE(risen * 10, occupied * 9) << risen << " of " << occupied;
            EXPECT_TRUE(lit(kMargin + tallestLevel, barTop)) << "the tallest, level " << tallestLevel;
            EXPECT_TRUE(lit(kMargin - 1, barTop) && lit(kMargin + kLevels, barTop)) << "both ends flagged";
        }
    }
}

TEST(ShowClipping, MarksTheViewPixelsOverClippedPixelsWithTheChannelModesAndTakesThemAwayAgain) {
    QTemporaryDir dir;
    StartedMain w;
    testing_support::Load(*w, testing_support::WritePicture(dir, "grey.png", GreyWithTwoClippedPixels()));
    const vistrel::Surface& view = w->findChild<vistrel::PictureBox*>("picImg")->surface();
    const QImage before = view.image().copy();
    auto* item = w->findChild<QAction*>("mnuSelectClipping");
    item->trigger();
    w->findChild<QAction*>("mnuSelectChanG")->trigger();  // green off: the markers stay over red and blue

    const vistrel::Picture& p = w->model().picture();
    ASSERT_GT(p.scaleX, 2.0f) << "the view is less than half the picture's size";
    // The view pixel that holds each clipped pixel's corner; at most two columns and two rows each.
    const int blown[2] = {static_cast<int>(10 / p.scaleX), static_cast<int>(10 / p.scaleY)};
    const int crushed[2] = {static_cast<int>(1100 / p.scaleX), static_cast<int>(700 / p.scaleY)};
    EXPECT_EQ(view.pixel(blown[0], blown[1]), vistrel::kClipHighlightColour);
    EXPECT_EQ(view.pixel(crushed[0], crushed[1]), vistrel::kClipShadowColour);
    int marked = 0;
    for (int y = 0; y < view.height(); ++y)
        for (int x = 0; x < view.width(); ++x) {
            const auto pixel = view.pixel(x, y);
            if (pixel == vistrel::kClipHighlightColour || pixel == vistrel::kClipShadowColour) {
                ++marked;
            } else {
                ASSERT_EQ(pixel, before.pixel(x, y) & 0xFF00FFu) << x << "," << y;
            }
        }
    EXPECT_GE(marked, 2);
    EXPECT_LE(marked, 8);

    w->findChild<QAction*>("mnuSelectChanG")->trigger();
    item->trigger();
    EXPECT_EQ(view.image(), before);
}

}  // namespace
