// What each instrument reads under the pointer, in its window and as a panel of the one
// window at a larger scale: the line shows the pure reading of the raster pixel under the
// pointer, goes off the plot and when the pointer leaves, and leaves the instrument pixel
// for pixel as it was.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <QRadioButton>
#include <QTemporaryDir>

#include <functional>
#include <optional>
#include <vector>

#include "app/SaveScopes.h"
#include "app_support.h"
#include "histogram/frmHistogram.h"
#include "linescope/Reading.h"
#include "linescope/frmScope.h"
#include "platform/Instrument.h"
#include "vectorscope/Plot.h"
#include "vectorscope/Reading.h"
#include "vectorscope/frmVector.h"

using namespace vistrel;

namespace {

// A move without buttons, sent to whatever part of the instrument is under the position,
// as the window system sends it; the part passes it on as it would.
void MoveTo(Instrument& instrument, QPoint at) {
    QWidget* under = instrument.childAt(at);
    QWidget* target = under != nullptr ? under : &instrument;
    const QPointF local = target->mapFrom(&instrument, QPointF(at));
    QMouseEvent move(QEvent::MouseMove, local, target->mapToGlobal(local), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
}

void Leave(Instrument& instrument) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&instrument, &leave);
}

struct Reader {
    Instrument* instrument;
    // The pure reading at a raster pixel, as the model now says.
    std::function<std::optional<QString>(QPoint)> expected;
    std::vector<QPoint> pixels;  // on the plot, at its edges and just off them
};

std::vector<Reader> Readers(frmMain& w) {
    const Model& model = w.model();
    const auto scope = [&model](QPoint p) -> std::optional<QString> {
        const Settings& s = model.settings();
        const bool trace = model.picture().probe.locked;
        // A region's columns or rows stand for the picture's from its corner on.
        const korvex::PixelRect counted = model.counted().rect;
        const linescope::ScopeLayout layout{s.scopeChannel, s.orientation, trace, 420, counted.width, counted.height};
        auto reading = linescope::ReadingAt(layout, p.x(), p.y());
        if (!reading) return std::nullopt;
        if (reading->position) *reading->position += s.orientation == ScopeOrientation::Horizontal ? counted.x : counted.y;
        return linescope::ReadingText(*reading);
    };
    const auto vector = [&model](QPoint p) -> std::optional<QString> {
        const Settings& s = model.settings();
        const auto reading = VectorReadingAt(p.x(), p.y(), ZoomFactorOf(s.zoom), s.luma);
        if (!reading) return std::nullopt;
        return VectorReadingText(*reading);
    };
    const auto bars = [&model](QPoint p) -> std::optional<QString> {
        const auto reading =
            histogram::ReadingAt(*model.counted().levels, model.settings().histogramChannel, p.x(), p.y());
        if (!reading) return std::nullopt;
        return histogram::ReadingText(*reading);
    };
    const Workspace& workspace = w.workspace();
    return {
        {workspace.instrument<frmScope>(), scope, {{4, 4}, {103, 259}, {104, 100}, {108, 100}, {415, 130}, {416, 130}, {60, 262}, {-3, 9}}},
        {workspace.instrument<frmVector>(), vector, {{128, 127}, {0, 0}, {255, 255}, {100, 10}, {40, 200}, {-3, 100}, {100, 257}}},
        {workspace.instrument<frmHistogram>(), bars, {{4, 100}, {259, 263}, {3, 100}, {260, 100}, {130, 5}, {100, 266}, {-3, 9}}},
    };
}

// Each pixel's reading, then the pointer off the plot and away: nothing of it stays.
void ReadEveryPixel(const Reader& reader) {
    Instrument& instrument = *reader.instrument;
    SCOPED_TRACE(instrument.objectName().toStdString() + " at x" + std::to_string(instrument.placement().scale));
    const QImage before = instrument.grab().toImage();
    const QImage saved = InstrumentImage(instrument);
    std::optional<QPoint> onPlot;
    for (const QPoint pixel : reader.pixels) {
        const QPoint at = ScaledRect(QRect(pixel, QSize(1, 1)), instrument.placement()).center();
        MoveTo(instrument, at);
        const std::optional<QString> expected = reader.expected(pixel);
        EXPECT_EQ(instrument.reading().toStdString(), expected.value_or(QString()).toStdString())
            << pixel.x() << "," << pixel.y();
        if (expected && !onPlot) onPlot = at;
    }
    ASSERT_TRUE(onPlot.has_value());
    MoveTo(instrument, *onPlot);
    ASSERT_FALSE(instrument.reading().isEmpty());
    EXPECT_NE(instrument.grab().toImage(), before) << "the line shows";
    EXPECT_EQ(InstrumentImage(instrument), saved) << "and is left out of the saved picture";
    Leave(instrument);
    EXPECT_TRUE(instrument.reading().isEmpty());
    EXPECT_EQ(instrument.grab().toImage(), before);
}

TEST(Readings, EachInstrumentReadsThePixelUnderThePointerInItsWindowAndAsAPanel) {
    QTemporaryDir dir;
    const QString picture = testing_support::WritePicture(dir, "gradient.png", testing_support::Gradient(300, 200));
    testing_support::StartedMain separate;
    frmMain one;
    one.workspace().SetLayout(Layout::OneWindow);
    one.start(frmMain::AboutBox::Skipped);
    for (frmMain* w : {&*separate, &one}) {
        w->findChild<QAction*>("mnuToolsHistogram")->trigger();
        testing_support::Load(*w, picture);
        ASSERT_TRUE(w->model().loaded());
        // Away from the defaults, so that a reading that ignores the zoom or the standard shows.
        Settings settings = w->model().settings();
        settings.zoom = 512;
        settings.luma = korvex::LumaStandard::Rec709;
        settings.histogramChannel = HistogramChannel::Parade;
        w->ApplySettings(settings);
    }
    one.resize(2400, 1200);
    for (int k = 0; k < 3; ++k) QApplication::processEvents();
    one.workspace().FitPanels();
    QApplication::processEvents();

    for (frmMain* w : {&*separate, &one}) {
        for (const Reader& reader : Readers(*w)) {
            EXPECT_EQ(reader.instrument->placement().scale >= 2, w == &one) << reader.instrument->objectName().toStdString();
            ReadEveryPixel(reader);
        }
        // A locked probe's trace: the columns read the positions the trace reads.
        w->LockProbeAt(150, 100);
        ReadEveryPixel(Readers(*w).front());
        // A region: the line scope's trace and the histogram read its pixels alone.
        ASSERT_TRUE(w->SetRegionAt({40, 30, 200, 150}));
        for (const Reader& reader : Readers(*w)) ReadEveryPixel(reader);
    }
}

// The histogram's channel is its own: its choice sets the model's, and the model's sets it,
// whatever the line scope shows.
TEST(Readings, TheHistogramsChannelChoiceIsItsOwn) {
    testing_support::StartedMain w;
    frmHistogram& window = *w->workspace().instrument<frmHistogram>();
    EXPECT_TRUE(Ctl<QRadioButton>(window, "optChannel[5]")->isChecked()) << "RGB by default";
    Ctl<QRadioButton>(window, "optChannel[3]")->click();
    EXPECT_EQ(w->model().settings().histogramChannel, HistogramChannel::Luma);
    EXPECT_EQ(w->model().settings().scopeChannel, ScopeChannel::Parade);
    Ctl<QRadioButton>(*w->workspace().instrument<frmScope>(), "optParade[0]")->click();
    EXPECT_EQ(w->model().settings().histogramChannel, HistogramChannel::Luma);
    Settings settings = w->model().settings();
    settings.histogramChannel = HistogramChannel::Parade;
    w->ApplySettings(settings);
    EXPECT_TRUE(Ctl<QRadioButton>(window, "optChannel[4]")->isChecked());
}

}  // namespace
