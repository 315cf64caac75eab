// The raw histogram in the running program: off at start-up in separate windows, shown by
// itself for a raw file in the one window until the user shows or hides it, a choice kept
// with the workspace; drawing the builder's
// plot of the photosites (a region's alone once one is drawn) and reading it under the
// pointer; written by Save Scopes for raw files alone; and Tools > Raw Clipping sets the
// view's raw clipping marks.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDockWidget>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <algorithm>

#include "app/SaveScopes.h"
#include "app/SavedWorkspace.h"
#include "app/frmMain.h"
#include "app_support.h"
#include "dng_pictures.h"
#include "model/RawCounts.h"
#include "rawhistogram/RawHistogramPlot.h"
#include "rawhistogram/frmRawHistogram.h"

namespace {

using namespace vistrel;
using testing_support::StartedMain;

TEST(RawHistogramWindow, ShownForRawFilesInTheOneWindowDrawsTheirPhotositesAndIsSavedForThemAlone) {
    QTemporaryDir dir;
    dng_pictures::Description dng;
    dng.width = 200;
    dng.height = 120;
    dng.orientation = 6;
    const QString raw = dir.filePath("scene.dng");
    ASSERT_EQ(dng_pictures::WriteDng(raw.toStdString(), dng, dng_pictures::Scene(dng, 9)), "");
    const QString png = testing_support::WritePicture(dir, "gradient.png", testing_support::Gradient(300, 200));

    StartedMain w;
    auto* window = w->workspace().instrument<frmRawHistogram>();
    ASSERT_NE(window, nullptr);
    auto* item = w->findChild<QAction*>("mnuToolsRawHistogram");
    ASSERT_NE(item, nullptr);
    EXPECT_FALSE(window->isVisible()) << "off at start-up";
    testing_support::Load(*w, raw);
    ASSERT_TRUE(w->model().loaded());
    EXPECT_FALSE(w->model().settings().rawHistogramShown) << "separate windows open none by themselves";

    // What it holds is the builder's plot of the photosites, under the names printed over it.
    const auto expectDrawn = [&](const RawCounts* counts) {
        ASSERT_NE(counts, nullptr);
        const Settings& settings = w->model().settings();
        const auto plot = rawhistogram::BuildRawHistogram(
            counts, rawhistogram::Absence::DoesNotApply,
            {settings.rawHistogramAxis, settings.rawHistogramScale, ScaleColorOf(settings.lamp)});
        int drawn = 0;
        for (std::size_t i = 0; i < plot.raster.size(); ++i) {
            const int x = static_cast<int>(i) % rawhistogram::kRasterWidth, y = static_cast<int>(i) / rawhistogram::kRasterWidth;
            const auto named = [&](const rawhistogram::PlotLabel& label) { return QRect(label.x, label.y, 130, 14).contains(x, y); };
            if (std::any_of(plot.labels.begin(), plot.labels.end(), named)) continue;
            ASSERT_EQ(window->surface().pixel(x, y), plot.raster[i]) << x << "," << y;
            drawn += plot.raster[i] != 0;
        }
        EXPECT_GT(drawn, 1000);
    };
    expectDrawn(w->model().rawCounted());
    // A region counts the photosites under it alone, turned back onto the sensor.
    const korvex::PixelRect region{10, 20, 50, 70};
    ASSERT_TRUE(w->SetRegionAt(region));
    const RawCounts* counted = w->model().rawCounted();
    ASSERT_NE(counted, nullptr);
    EXPECT_EQ(counted->counted, korvex::SensorRectOf(PhotositesOf(*counted->sensor), 120, 200, region));
    EXPECT_EQ(counted->histograms, CountRaw(counted->sensor, 120, 200, region).histograms);
    expectDrawn(counted);

    // Shown from Tools, the pointer reads the raw values under it.
    item->trigger();
    EXPECT_TRUE(window->isVisible());
    window->findChild<QCheckBox*>("chkEv")->click();
    ASSERT_EQ(w->model().settings().rawHistogramAxis, RawHistogramAxis::Ev);
    expectDrawn(counted);
    const QPoint at{150, 200};
    QMouseEvent move(QEvent::MouseMove, QPointF(at), window->mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window, &move);
    EXPECT_EQ(window->reading(), rawhistogram::ReadingText(*rawhistogram::ReadingAt(counted, RawHistogramAxis::Ev, 150, 200)));

    // Save Scopes writes it for a raw file, as it is shown; not for another picture.
    QTemporaryDir out, other;
    w.fake().folderAnswer = out.path();
    w->findChild<QAction*>("mnuFileSaveScopes")->trigger();
    EXPECT_EQ(QImage(out.filePath(kRawHistogramImage)).convertToFormat(QImage::Format_RGB32),
              InstrumentImage(*window).convertToFormat(QImage::Format_RGB32));
    testing_support::Load(*w, png);
    w.fake().folderAnswer = other.path();
    w->findChild<QAction*>("mnuFileSaveScopes")->trigger();
    EXPECT_FALSE(QFileInfo::exists(other.filePath(kRawHistogramImage)));
    EXPECT_TRUE(QFileInfo::exists(other.filePath(kHistogramImage)));
    EXPECT_EQ(w->model().rawCounted(), nullptr);

    // Tools > Raw Clipping is the setting the view's marks follow.
    auto* clipping = w->findChild<QAction*>("mnuToolsRawClipping");
    ASSERT_NE(clipping, nullptr);
    clipping->trigger();
    EXPECT_TRUE(w->model().settings().rawClipping);
}

// Shown by itself until the user closes it, and the choice, the axis and the scale kept
// for the next run; a run whose user never chose keeps no choice.
TEST(RawHistogramWindow, TheOneWindowShowsItForARawFileUntilTheUserChoosesAndRemembersTheChoice) {
    testing_support::ScopedFakeDesktop desk;
    QTemporaryDir dir;
    dng_pictures::Description dng;
    const QString raw = dir.filePath("scene.dng");
    ASSERT_EQ(dng_pictures::WriteDng(raw.toStdString(), dng, dng_pictures::Scene(dng, 2)), "");
    const QString png = testing_support::WritePicture(dir, "gradient.png", testing_support::Gradient(60, 40));
    const auto panelOf = [](frmMain& w) { return w.workspace().panelOf(w.workspace().instrument<frmRawHistogram>()); };

    SavedWorkspace kept;
    {
        frmMain first;
        first.workspace().Remember({}, [&kept](const SavedWorkspace& saved) { kept = saved; });
        first.start(frmMain::AboutBox::Skipped);
        first.findChild<QAction*>("mnuToolsLayoutOne")->trigger();
        QDockWidget* panel = panelOf(first);
        ASSERT_NE(panel, nullptr);
        EXPECT_TRUE(panel->isHidden());
        testing_support::Load(first, png);
        EXPECT_TRUE(panel->isHidden()) << "not for another picture";
        testing_support::Load(first, raw);
        EXPECT_FALSE(panel->isHidden()) << "a raw file brings it along";
        EXPECT_TRUE(first.findChild<QAction*>("mnuToolsRawHistogram")->isChecked());
        first.workspace().instrument<frmRawHistogram>()->findChild<QCheckBox*>("chkEv")->click();
        EXPECT_EQ(first.workspace().Current().rawHistogramShown, std::nullopt) << "shown by itself is no choice";
        panel->close();
        EXPECT_FALSE(first.model().settings().rawHistogramShown);
        testing_support::Load(first, raw);
        EXPECT_TRUE(panel->isHidden()) << "closed by the user, it stays closed";
        first.close();
    }
    EXPECT_EQ(kept.rawHistogramShown, std::optional<bool>(false));
    EXPECT_EQ(kept.rawHistogramAxis, RawHistogramAxis::Ev);
    EXPECT_EQ(kept.rawHistogramScale, HistogramScale::Linear);

    frmMain second;
    second.workspace().Remember(kept, [](const SavedWorkspace&) {});
    second.start(frmMain::AboutBox::Skipped);
    ASSERT_EQ(second.workspace().layout(), Layout::OneWindow);
    EXPECT_TRUE(second.workspace().instrument<frmRawHistogram>()->findChild<QCheckBox*>("chkEv")->isChecked());
    testing_support::Load(second, raw);
    EXPECT_TRUE(panelOf(second)->isHidden()) << "the last run's choice holds";
    second.findChild<QAction*>("mnuToolsRawHistogram")->trigger();
    EXPECT_FALSE(panelOf(second)->isHidden());
    EXPECT_EQ(second.workspace().Current().rawHistogramShown, std::optional<bool>(true));

    // A raw file already loaded when the user switches to the one window brings it along too.
    frmMain third;
    third.workspace().Remember({}, [](const SavedWorkspace&) {});
    third.start(frmMain::AboutBox::Skipped);
    testing_support::Load(third, raw);
    EXPECT_FALSE(third.model().settings().rawHistogramShown);
    third.findChild<QAction*>("mnuToolsLayoutOne")->trigger();
    EXPECT_FALSE(panelOf(third)->isHidden());
}

}  // namespace
