// The histogram window in the running program: off at start-up, shown from the Tools
// menu, drawing the loaded picture's counts as its channel choice says; the saved and
// rendered images are its own; and the view's clipping markers.

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QRadioButton>
#include <QTemporaryDir>

#include <cstdlib>

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

QImage Rendered(const QString& picture, const vistrel::RenderSettings& settings) {
    QTemporaryDir out;
    const vistrel::RenderResult result = vistrel::RenderInstruments(out.path(), picture, settings);
    EXPECT_EQ(result.exitCode, 0) << result.message.toStdString();
    return QImage(out.filePath(vistrel::kHistogramImage)).convertToFormat(QImage::Format_RGB32);
}

TEST(HistogramWindow, ShownFromToolsDrawsTheCountsAndIsWhatSaveAndRenderWrite) {
    QTemporaryDir dir;
    const QString picture = testing_support::WritePicture(dir, "grey.png", GreyWithTwoClippedPixels());
    StartedMain w;
    auto* window = w->findChild<vistrel::frmHistogram*>("frmHistogram");
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->isVisible()) << "off at start-up";
    w->findChild<QAction*>("mnuToolsHistogram")->trigger();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(w->model().settings.histogramShown);

    testing_support::Load(*w, picture);
    ASSERT_TRUE(w->model().loaded());
    // Red in the line scope: the window shows the builder's red bars for the model's counts.
    w->scopeWindow()->findChild<QRadioButton*>("optParade[0]")->click();
    const vistrel::Settings& settings = w->model().settings;
    const auto plot = vistrel::histogram::BuildHistogram(
        w->model().picture().levels, {settings.scopeChannel, settings.histogramScale, vistrel::ScaleColorOf(settings.lamp)});
    int bars = 0;
    for (int y = 0; y < vistrel::histogram::kRasterHeight; ++y)
        for (int x = 0; x < vistrel::histogram::kRasterWidth; ++x) {
            const auto expected = plot.raster[static_cast<std::size_t>(y) * vistrel::histogram::kRasterWidth + x];
            if (expected == 0) continue;  // the field, and under the printed shares
            ASSERT_EQ(window->surface().pixel(x, y), expected) << x << "," << y;
            bars += expected == 0xA02020 ? 1 : 0;
        }
    EXPECT_EQ(bars, 244 + 1) << "level 120 the tallest, level 255 one row, no other level";

    QTemporaryDir out;
    w.fake().folderAnswer = out.path();
    w->findChild<QAction*>("mnuFileSaveScopes")->trigger();
    const QImage grab = vistrel::InstrumentImage(*window);
    EXPECT_EQ(QImage(out.filePath("histogram.png")).convertToFormat(QImage::Format_RGB32), grab);

    vistrel::RenderSettings red;
    red.channel = 0;
    EXPECT_EQ(Rendered(picture, red), grab);
    EXPECT_NE(Rendered(picture, {}), grab) << "the parade is another picture";
}

TEST(ShowClipping, MarksTheViewPixelsOverClippedPixelsAndTakesThemAwayAgain) {
    QTemporaryDir dir;
    StartedMain w;
    testing_support::Load(*w, testing_support::WritePicture(dir, "grey.png", GreyWithTwoClippedPixels()));
    ASSERT_TRUE(w->model().loaded());
    const vistrel::Surface& view = w->findChild<vistrel::PictureBox*>("picImg")->surface();
    const QImage before = view.image().copy();
    auto* item = w->findChild<QAction*>("mnuSelectClipping");
    item->trigger();
    EXPECT_TRUE(w->model().settings.showClipping);

    const vistrel::Picture& p = w->model().picture();
    const int blownX = static_cast<int>(10 / p.scaleX), blownY = static_cast<int>(10 / p.scaleY);
    const int crushedX = static_cast<int>(1100 / p.scaleX), crushedY = static_cast<int>(700 / p.scaleY);
    ASSERT_GT(p.scaleX, 2.0f) << "the view is less than half the picture's size";
    int changed = 0;
    for (int y = 0; y < view.height(); ++y)
        for (int x = 0; x < view.width(); ++x)
            if (view.pixel(x, y) != (before.pixel(x, y) & 0xFFFFFFu)) {
                ++changed;
                EXPECT_LE(std::abs(x - blownX) + std::abs(y - blownY) < 3 ? 0 : std::abs(x - crushedX) + std::abs(y - crushedY), 2)
                    << "a marker far from both clipped pixels at " << x << "," << y;
            }
    EXPECT_EQ(view.pixel(blownX, blownY), vistrel::kClipHighlightColour);
    EXPECT_EQ(view.pixel(crushedX, crushedY), vistrel::kClipShadowColour);
    EXPECT_GE(changed, 2);
    EXPECT_LE(changed, 8) << "each clipped pixel lies under at most two view columns and rows";

    // The channel modes redraw with the markers over them.
    w->findChild<QAction*>("mnuSelectChanG")->trigger();
    EXPECT_EQ(view.pixel(blownX, blownY), vistrel::kClipHighlightColour);
    w->findChild<QAction*>("mnuSelectChanG")->trigger();
    item->trigger();
    EXPECT_EQ(view.image(), before);
}

}  // namespace
