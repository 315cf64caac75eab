// The workspace: the layout a platform starts in, what is remembered between runs, and the
// one window whose panels show the instruments at the largest whole scale that fits.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDockWidget>
#include <QLineEdit>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QProcess>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>

#include <map>
#include <set>

#include "app/SaveScopes.h"
#include "app/SavedWorkspace.h"
#include "app/Workspace.h"
#include "app_support.h"
#include "histogram/frmHistogram.h"
#include "linescope/frmScope.h"
#include "platform/Instrument.h"
#include "platform/WindowDrag.h"
#include "vectorscope/frmVector.h"
#include "view/ImageView.h"

using namespace vistrel;

namespace {

// The part of the panel that shows the raster, and the raster as a separate window of
// another main window shows it, at x1.
struct RasterShown {
    QImage onScreen;  // what the panel paints where the raster's blocks go
    QImage expected;  // the window's raster, each pixel a k x k block
};

RasterShown Compare(Instrument& panel, Instrument& window, QSize raster) {
    EXPECT_FALSE(window.isPanel());
    QImage expected;
    ScaleBlocks(InstrumentImage(window).copy(QRect(QPoint(), raster)), panel.placement().scale, expected);
    const QImage shown = panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
    return {shown.copy(ScaledRect(QRect(QPoint(), raster), panel.placement())), expected};
}

void Settle(frmMain& window) {
    QApplication::processEvents();
    window.workspace().FitPanels();
    QApplication::processEvents();
    window.workspace().RefitView();
    QApplication::processEvents();
}

}  // namespace

TEST(Workspace, PlatformDefaultsAndWhatTheStoreKeeps) {
    EXPECT_EQ(DefaultLayout("wayland"), Layout::OneWindow);
    EXPECT_EQ(DefaultLayout("wayland-egl"), Layout::OneWindow);
    for (const char* platform : {"xcb", "offscreen", "vnc", ""}) EXPECT_EQ(DefaultLayout(platform), Layout::SeparateWindows) << platform;
    // Moves through the window system: Wayland always; X11 only inside a Wayland session.
    EXPECT_TRUE(MovesThroughWindowSystem("wayland", false));
    EXPECT_TRUE(MovesThroughWindowSystem("xcb", true));
    EXPECT_FALSE(MovesThroughWindowSystem("xcb", false));
    EXPECT_FALSE(MovesThroughWindowSystem("offscreen", true));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("vistrel.conf");
    {
        // Nothing remembered: the platform decides, the histogram as it starts.
        const QSettings empty(file, QSettings::IniFormat);
        const SavedWorkspace none = ReadWorkspace(empty);
        EXPECT_EQ(none, SavedWorkspace{});
        EXPECT_EQ(StartLayout(none, "wayland"), Layout::OneWindow);
        EXPECT_EQ(StartLayout(none, "xcb"), Layout::SeparateWindows);
    }
    for (const Layout layout : {Layout::OneWindow, Layout::SeparateWindows}) {
        SavedWorkspace kept;
        kept.layout = layout;
        kept.geometry = QByteArray("\x01\x00geometry\xff", 11);
        kept.panels = QByteArray("\x00\x02panels", 8);
        kept.histogramShown = layout == Layout::OneWindow;
        kept.histogramScale = layout == Layout::OneWindow ? HistogramScale::Log : HistogramScale::Linear;
        kept.histogramChannel = layout == Layout::OneWindow ? vistrel::HistogramChannel::Parade
                                                            : vistrel::HistogramChannel::Luma;
        kept.scopeLines = layout == Layout::OneWindow ? std::vector<int>{12, 16, 235} : std::vector<int>{};
        // Bands of another preset, renamed, and none at all; another zebra level.
        kept.falseColourBands = layout == Layout::OneWindow ? FalseColourPresets().back().bands
                                                            : std::vector<FalseColourBand>{};
        if (layout == Layout::OneWindow) kept.falseColourBands.front().name = QStringLiteral("tief, ünter");
        kept.zebraLevel = layout == Layout::OneWindow ? 0 : 255;
        kept.chromaticityShown = layout == Layout::SeparateWindows;
        kept.nitsScale = layout == Layout::OneWindow;
        kept.rawHistogramShown = layout == Layout::SeparateWindows;
        kept.rawHistogramAxis = layout == Layout::OneWindow ? vistrel::RawHistogramAxis::Ev : vistrel::RawHistogramAxis::Linear;
        kept.rawHistogramScale = layout == Layout::OneWindow ? HistogramScale::Linear : HistogramScale::Log;
        {
            QSettings store(file, QSettings::IniFormat);
            WriteWorkspace(store, kept);
        }
        const QSettings again(file, QSettings::IniFormat);
        EXPECT_EQ(ReadWorkspace(again), kept);
        EXPECT_EQ(StartLayout(ReadWorkspace(again), "xcb"), layout) << "a remembered choice beats the default";
    }
    {
        // What a person or an older version left there that means nothing reads as nothing.
        QSettings store(file, QSettings::IniFormat);
        store.setValue("workspace/layout", "three-windows");
        store.setValue("histogram/shown", "perhaps");
        store.setValue("histogram/scale", "cubic");
        store.setValue("histogram/channel", "cmyk");
        store.setValue("linescope/lines", "16,bright");
        store.setValue("falsecolour/bands/size", 2);
        for (const auto& [key, value] : {std::pair{"1/low", "0"}, {"1/high", "4"}, {"1/colour", "#800080"},
                                         {"2/low", "5"}, {"2/high", "300"}, {"2/colour", "#0000FF"}})
            store.setValue(QStringLiteral("falsecolour/bands/") + key, value);
        store.setValue("zebra/level", "256");
        store.setValue("rawhistogram/shown", "perhaps");
        store.setValue("rawhistogram/axis", "stops");
        store.setValue("rawhistogram/scale", "cubic");
    }
    const QSettings odd(file, QSettings::IniFormat);
    const SavedWorkspace read = ReadWorkspace(odd);
    EXPECT_FALSE(read.layout.has_value());
    EXPECT_FALSE(read.histogramShown);
    EXPECT_EQ(read.histogramScale, HistogramScale::Linear);
    EXPECT_EQ(read.histogramChannel, vistrel::HistogramChannel::Rgb);
    EXPECT_TRUE(read.scopeLines.empty());
    EXPECT_EQ(read.falseColourBands, DefaultFalseColourBands()) << "a band out of range gives the default bands";
    EXPECT_EQ(read.zebraLevel, kDefaultZebraLevel);
    EXPECT_FALSE(read.rawHistogramShown.has_value()) << "no choice read";
    EXPECT_EQ(read.rawHistogramAxis, vistrel::RawHistogramAxis::Linear);
    EXPECT_EQ(read.rawHistogramScale, HistogramScale::Linear);
}

// Every instrument of the list in both layouts: its Tools item, its box (the line scope's
// and the vectorscope's), its panel's close button and the settings show and hide it alike,
// each follows the others, and the other instruments stay as they were.
TEST(Workspace, EveryWayOfShowingAnInstrumentIsItsSettingAndTouchesNoOther) {
    testing_support::ScopedFakeDesktop desk;
    frmMain w;
    w.start(frmMain::AboutBox::Skipped);
    const std::map<QString, const char*> boxes = {{"Line", "chkLineScope"}, {"Vector", "chkPolar"}};
    for (const Layout layout : {Layout::SeparateWindows, Layout::OneWindow}) {
        w.workspace().SetLayout(layout);
        for (std::size_t i = 0; i < kInstruments.size(); ++i) {
            const InstrumentKind& kind = kInstruments[i];
            const auto seen = [&w, layout](std::size_t k) -> const QWidget* {
                Instrument* instrument = w.workspace().instruments()[k];
                if (layout == Layout::OneWindow) return w.workspace().panelOf(instrument);
                return instrument;
            };
            auto* item = Ctl<QAction>(w, QStringLiteral("mnuTools") + kind.name);
            auto* box = boxes.count(kind.name) != 0 ? Ctl<QCheckBox>(w, boxes.at(kind.name)) : nullptr;
            std::vector<bool> others;
            for (std::size_t k = 0; k < kInstruments.size(); ++k) others.push_back(seen(k)->isVisible());
            const auto shownAs = [&](bool on, const char* how) {
                SCOPED_TRACE(std::string(kind.name) + " " + how + (layout == Layout::OneWindow ? " in one window" : ""));
                EXPECT_EQ(w.model().settings().*kind.shown, on);
                EXPECT_EQ(item->isChecked(), on);
                if (box != nullptr) {
                    EXPECT_EQ(box->isChecked(), on);
                }
                for (std::size_t k = 0; k < kInstruments.size(); ++k) EXPECT_EQ(seen(k)->isVisible(), k == i ? on : others[k]);
            };
            const bool start = w.model().settings().*kind.shown;
            item->trigger();
            shownAs(!start, "item");
            item->trigger();
            shownAs(start, "item again");
            if (box != nullptr) {
                box->click();
                shownAs(!start, "box");
                box->click();
                shownAs(start, "box again");
            }
            Settings flipped = w.model().settings();
            flipped.*kind.shown = !start;
            w.ApplySettings(flipped);
            shownAs(!start, "settings");
            if (layout == Layout::OneWindow && !start) {
                w.workspace().panelOf(w.workspace().instruments()[i])->close();
                shownAs(false, "panel's close button");
            } else {
                item->trigger();
            }
            shownAs(start, "back");
        }
    }
}

TEST(OneWindow, PanelsShowTheModelPixelExactAtTheLargestScaleAndTheViewGrowsCentred) {
    testing_support::ScopedFakeDesktop desk;
    QTemporaryDir dir;
    const QString path = testing_support::WritePicture(dir, "tall.png", testing_support::Gradient(150, 400));
    frmMain window;
    window.workspace().SetLayout(Layout::OneWindow);
    window.start(frmMain::AboutBox::Skipped);
    frmScope& scope = *window.workspace().instrument<frmScope>();
    frmVector& vector = *window.workspace().instrument<frmVector>();
    frmHistogram& histogram = *window.workspace().instrument<frmHistogram>();
    EXPECT_TRUE(scope.isPanel() && vector.isPanel() && histogram.isPanel());
    EXPECT_FALSE(scope.isWindow());
    EXPECT_EQ(window.workspace().panelOf(&scope)->widget(), &scope);
    EXPECT_TRUE(window.findChild<QAction*>("mnuToolsLayoutOne")->isChecked());

    testing_support::Load(window, path);
    ASSERT_TRUE(window.model().loaded());
    // The same picture in separate windows, for what the instruments look like at x1.
    frmMain separate;
    separate.start(frmMain::AboutBox::Skipped);
    testing_support::Load(separate, path);
    window.resize(1600, 1000);
    Settle(window);
    EXPECT_GE(scope.placement().scale, 2);
    EXPECT_GE(vector.placement().scale, 2);
    EXPECT_TRUE(scope.placement().labelled && vector.placement().labelled);

    // The panels show exactly what their windows would, each pixel a k x k block: the
    // waveform of the parade and of one channel (whose box widens over the others), then a
    // locked probe's trace and vector.
    for (const bool locked : {false, true}) {
        if (locked) {
            window.LockProbeAt(70, 300);
            separate.LockProbeAt(70, 300);
        }
        for (const ScopeChannel channel : {ScopeChannel::Green, ScopeChannel::Parade}) {
            Settings settings = window.model().settings();
            settings.scopeChannel = channel;
            window.ApplySettings(settings);
            separate.ApplySettings(settings);
            const RasterShown line = Compare(scope, *separate.workspace().instrument<frmScope>(), QSize(420, 265));
            EXPECT_TRUE(line.onScreen == line.expected)
                << "line scope, locked " << locked << ", channel " << static_cast<int>(channel);
        }
        const RasterShown plot = Compare(vector, *separate.workspace().instrument<frmVector>(), QSize(256, 256));
        EXPECT_TRUE(plot.onScreen == plot.expected) << "vectorscope, locked " << locked;
    }

    // The tall picture is fitted to the grown room and centred in it; its view is what a
    // load into that room makes.
    const ImageView* view = window.findChild<ImageView*>();
    ASSERT_NE(view, nullptr);
    const QWidget& client = *window.centralWidget();
    const PictureBox& box = *view->picImg;
    // The room: from the design's view corner (16, 15), as much space kept on the right, and
    // the design's height grown with the client area.
    const int roomHeight = ImageView::kViewOuterHeight + client.height() - 440;
    EXPECT_EQ(box.height(), roomHeight) << "a tall picture takes the room's height";
    EXPECT_EQ(box.x() - 16, (client.width() - 32 - box.width()) / 2) << "centred across";
    const std::vector<korvex::Pixel> refitted = window.model().picture().viewPixels;
    const int viewWidth = window.model().picture().viewMaxX + 1;
    testing_support::Load(window, path);
    testing_support::Load(separate, path);
    ASSERT_EQ(window.model().picture().viewMaxX + 1, viewWidth);
    EXPECT_TRUE(window.model().picture().viewPixels == refitted) << "refitted view equals a load's";

    // The histogram's panel too, when it is shown; saving writes the windows' x1 pictures.
    window.findChild<QAction*>("mnuToolsHistogram")->trigger();
    Settle(window);
    EXPECT_TRUE(window.workspace().panelOf(&histogram)->isVisible());
    const RasterShown bars = Compare(histogram, *separate.workspace().instrument<frmHistogram>(), QSize(264, 264));
    EXPECT_TRUE(bars.onScreen == bars.expected);
    const QImage lineAtOne = InstrumentImage(scope);
    EXPECT_TRUE(lineAtOne == InstrumentImage(*separate.workspace().instrument<frmScope>())) << "saved as the window shows it";

    // Back to separate windows, the vectorscope off: the design's sizes, places and pictures.
    Ctl<QCheckBox>(window, "chkPolar")->setChecked(false);
    window.findChild<QAction*>("mnuToolsLayoutSeparate")->trigger();
    Settle(window);
    EXPECT_EQ(window.workspace().layout(), Layout::SeparateWindows);
    EXPECT_TRUE(scope.isWindow() && scope.isVisible());
    EXPECT_FALSE(vector.isVisible());
    EXPECT_EQ(scope.size(), QSize(420, 286));
    EXPECT_EQ(scope.pos(), QPoint(4, 514));
    EXPECT_EQ(scope.placement(), ScaledPlacement{});
    EXPECT_EQ(box.pos(), QPoint(16, 15));
    EXPECT_EQ(box.height(), ImageView::kViewOuterHeight);
    EXPECT_TRUE(InstrumentImage(scope) == lineAtOne);
}

// On a screen of a fractional device pixel ratio (the headless platform fakes one from
// QT_SCALE_FACTOR, so the test runs itself again under each), every raster pixel of every
// panel and window shows as a whole k x k block of device pixels, wherever in the window its
// panel starts; a pointer on a block reads that block's pixel; a design-size window shows its
// raster at k = 1 device pixel.
TEST(OneWindow, AtFractionalRatiosEveryRasterPixelIsAWholeBlockOfDevicePixels) {
    if (qApp->devicePixelRatio() == 1) {
        for (const char* factor : {"1.5", "1.25", "1.75"}) {
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("QT_SCALE_FACTOR", factor);
            child.setProcessEnvironment(environment);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QCoreApplication::applicationFilePath(),
                        {"--gtest_filter=OneWindow.AtFractionalRatiosEveryRasterPixelIsAWholeBlockOfDevicePixels"});
            ASSERT_TRUE(child.waitForFinished(240000)) << factor;
            const QString log = QString::fromLocal8Bit(child.readAll());
            EXPECT_EQ(child.exitCode(), 0) << "at " << factor << "\n" << log.toStdString();
            EXPECT_TRUE(log.contains("[  PASSED  ] 1 test")) << "at " << factor << "\n" << log.toStdString();
        }
        return;
    }
    const qreal ratio = qApp->devicePixelRatio();
    testing_support::ScopedFakeDesktop desk;
    QTemporaryDir dir;
    const QString path = testing_support::WritePicture(dir, "tall.png", testing_support::Gradient(150, 400));
    frmMain window;
    window.workspace().SetLayout(Layout::OneWindow);
    window.start(frmMain::AboutBox::Skipped);
    testing_support::Load(window, path);
    window.findChild<QAction*>("mnuToolsHistogram")->trigger();
    frmMain separate;
    separate.start(frmMain::AboutBox::Skipped);
    testing_support::Load(separate, path);
    separate.findChild<QAction*>("mnuToolsHistogram")->trigger();
    window.LockProbeAt(70, 300);
    separate.LockProbeAt(70, 300);
    QApplication::processEvents();

    const struct {
        Instrument* panel;
        Instrument* window;
        QSize raster;
    } instruments[] = {{window.workspace().instrument<frmScope>(), separate.workspace().instrument<frmScope>(), QSize(420, 265)},
                       {window.workspace().instrument<frmVector>(), separate.workspace().instrument<frmVector>(), QSize(256, 256)},
                       {window.workspace().instrument<frmHistogram>(), separate.workspace().instrument<frmHistogram>(), QSize(264, 264)}};
    // Each raster on a shot of its window (device pixels) where its placement says, and each
    // block read back by the pointer.
    const auto check = [ratio](QWidget& top, Instrument& shown, Instrument& atOne, QSize raster) {
        const ScaledPlacement& placed = shown.placement();
        SCOPED_TRACE(shown.objectName().toStdString() + (shown.isPanel() ? " panel" : " window") + " at x" +
                     std::to_string(placed.scale));
        EXPECT_EQ(placed.ratio, ratio);
        const QImage shot = top.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QPointF corner = QPointF(shown.mapTo(&top, QPoint())) * ratio;
        const QRect blocks = ScaledRect(QRect(QPoint(), raster), placed).translated(DeviceAnchor(corner));
        QImage expected;
        ScaleBlocks(InstrumentImage(atOne).copy(QRect(QPoint(), raster)), placed.scale, expected);
        EXPECT_TRUE(shot.copy(blocks) == expected);
        const int k = placed.scale;
        for (const QPoint pixel : {QPoint(0, 0), QPoint(raster.width() - 1, raster.height() - 1),
                                   QPoint(raster.width() / 3, raster.height() / 2)})
            for (const double within : {0.05, 0.5, 0.95}) {
                const QPointF device = QPointF(blocks.topLeft() + pixel * k) + QPointF(k, k) * within;
                EXPECT_EQ(RasterPixelAt(shown.DevicePosition((device - corner) / ratio), placed), pixel);
            }
    };
    for (const auto& [panel, alone, raster] : instruments) {
        // A design-size window: x1 in device pixels, centred, never a pixel and a half.
        EXPECT_EQ(alone->placement().scale, 1);
        check(*alone, *alone, *alone, raster);
    }
    std::set<int> scales;
    for (const QSize size : {QSize(1000, 760), QSize(1250, 820), QSize(1600, 1000)}) {
        window.resize(size);
        Settle(window);
        for (const auto& [panel, alone, raster] : instruments) {
            ASSERT_TRUE(panel->isPanel() && panel->isVisible());
            scales.insert(panel->placement().scale);
            check(window, *panel, *alone, raster);
        }
    }
    EXPECT_GE(scales.size(), 2u) << "the rooms give more than one scale";
}

TEST(OneWindow, ClosingKeepsTheLayoutPanelsAndHistogramForTheNextRun) {
    testing_support::ScopedFakeDesktop desk;
    SavedWorkspace kept;
    {
        frmMain first;
        first.workspace().Remember({}, [&kept](const SavedWorkspace& w) { kept = w; });
        EXPECT_EQ(first.workspace().layout(), Layout::SeparateWindows) << "this platform's default";
        first.start(frmMain::AboutBox::Skipped);
        first.findChild<QAction*>("mnuToolsLayoutOne")->trigger();
        first.findChild<QAction*>("mnuToolsHistogram")->trigger();
        Ctl<QCheckBox>(*first.workspace().instrument<frmHistogram>(), "chkLog")->click();
        Ctl<QRadioButton>(*first.workspace().instrument<frmHistogram>(), "optChannel[1]")->click();
        // Reference lines typed into their dialog, once wrongly (a warning, nothing kept).
        for (const char* typed : {"16, 300", "235, 5%"}) {
            desk.fake.onModal = [typed](QDialog& dialog) {
                dialog.findChild<QLineEdit*>("txtScopeLines")->setText(typed);
                dialog.accept();
            };
            first.findChild<QAction*>("mnuToolsScopeLines")->trigger();
        }
        EXPECT_EQ(desk.fake.warnings.size(), 1u);
        first.workspace().panelOf(first.workspace().instrument<frmScope>())->close();
        // The bands dialog: a preset, a level that is no level (OK keeps the dialog open and
        // says why), then that band's colour and name edited, and a zebra level.
        desk.fake.onModal = [](QDialog& dialog) {
            auto* bands = dialog.findChild<QTableWidget*>("grdBands");
            Q_EMIT dialog.findChild<QComboBox*>("cboPreset")->activated(1);
            bands->item(1, 0)->setText("300");
            dialog.findChild<QDialogButtonBox*>("cmdButtons")->button(QDialogButtonBox::Ok)->click();
            EXPECT_NE(dialog.result(), QDialog::Accepted);
            EXPECT_EQ(dialog.findChild<QLabel*>("lblProblem")->text(), "Band 2: the levels are whole numbers from 0 to 255.");
            bands->item(1, 0)->setText("240");
            bands->item(1, 2)->setText("ff8000");
            bands->item(1, 3)->setText("hot");
            dialog.findChild<QSpinBox*>("spnZebraLevel")->setValue(180);
            dialog.findChild<QDialogButtonBox*>("cmdButtons")->button(QDialogButtonBox::Ok)->click();
        };
        first.findChild<QAction*>("mnuToolsFalseColourBands")->trigger();
        first.close();
    }
    std::vector<FalseColourBand> edited = FalseColourPresets()[1].bands;
    edited[1] = {240, 255, 0xFF8000, "hot"};
    EXPECT_EQ(kept.falseColourBands, edited);
    EXPECT_EQ(kept.zebraLevel, 180);
    ASSERT_EQ(kept.layout, Layout::OneWindow);
    EXPECT_TRUE(kept.histogramShown);
    EXPECT_EQ(kept.histogramScale, HistogramScale::Log);
    EXPECT_EQ(kept.histogramChannel, vistrel::HistogramChannel::Green);
    EXPECT_EQ(kept.scopeLines, (std::vector<int>{12, 235}));
    EXPECT_FALSE(kept.panels.isEmpty());
    EXPECT_FALSE(kept.geometry.isEmpty());

    frmMain second;
    SavedWorkspace none;
    second.workspace().Remember(kept, [&none](const SavedWorkspace& w) { none = w; });
    second.start(frmMain::AboutBox::Skipped);
    EXPECT_EQ(second.workspace().layout(), Layout::OneWindow);
    EXPECT_TRUE(second.workspace().panelOf(second.workspace().instrument<frmHistogram>())->isVisible());
    EXPECT_TRUE(second.workspace().panelOf(second.workspace().instrument<frmScope>())->isHidden());
    EXPECT_FALSE(Ctl<QCheckBox>(second, "chkLineScope")->isChecked()) << "the box follows the panel";
    EXPECT_TRUE(second.model().settings().histogramShown);
    EXPECT_TRUE(Ctl<QCheckBox>(*second.workspace().instrument<frmHistogram>(), "chkLog")->isChecked());
    EXPECT_TRUE(Ctl<QRadioButton>(*second.workspace().instrument<frmHistogram>(), "optChannel[1]")->isChecked());
    EXPECT_EQ(second.model().settings().scopeLines, (std::vector<int>{12, 235}));
    EXPECT_EQ(second.model().settings().falseColourBands, edited);
    EXPECT_EQ(second.model().settings().zebraLevel, 180);
}
