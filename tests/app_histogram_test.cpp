// The histogram window in the running program: off at start-up, shown from the Tools
// menu, drawing the loaded picture's counts as its channel choice says; the saved and
// rendered images are its own; and the view's clipping markers.

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QRadioButton>
#include <QTemporaryDir>

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

TEST(HistogramWindow, ShownFromToolsDrawsTheCountsAndIsWhatSaveAndRenderWrite) {
    QTemporaryDir dir;
    const QString picture = testing_support::WritePicture(dir, "grey.png", GreyWithTwoClippedPixels());
    StartedMain w;
    auto* window = w->findChild<vistrel::frmHistogram*>("frmHistogram");
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->isVisible()) << "off at start-up";
    w->findChild<QAction*>("mnuToolsHistogram")->trigger();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(w->model().settings().histogramShown);

    testing_support::Load(*w, picture);
    ASSERT_TRUE(w->model().loaded());
    // Red in the line scope: the window shows the builder's red bars for the model's counts.
    w->scopeWindow()->findChild<QRadioButton*>("optParade[0]")->click();
    const vistrel::Settings& settings = w->model().settings();
    const auto plot = vistrel::histogram::BuildHistogram(
        w->model().picture().levels, {settings.scopeChannel, settings.histogramScale, vistrel::ScaleColorOf(settings.lamp)});
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

    QTemporaryDir out;
    w.fake().folderAnswer = out.path();
    w->findChild<QAction*>("mnuFileSaveScopes")->trigger();
    const QImage grab = vistrel::InstrumentImage(*window);
    EXPECT_EQ(QImage(out.filePath("histogram.png")).convertToFormat(QImage::Format_RGB32), grab);

    vistrel::Settings red;
    red.scopeChannel = vistrel::ScopeChannel::Red;
    EXPECT_EQ(Rendered(picture, red), grab);
    EXPECT_NE(Rendered(picture, {}), grab) << "the parade is another picture";
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
