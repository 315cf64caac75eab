// One step of a probe drag on the real main window: the crosshair erased and
// drawn again, the readouts, the patch, the vectorscope marker and the line
// scope's trace. At 1 and 48 megapixels and on an enlarged small picture; the
// goal is at most 1 ms a step at any size. And one pointer move over each
// instrument, its reading formed and shown, at 24 megapixels: under 1 ms too.

#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QMouseEvent>
#include <QScrollBar>

#include <cstdint>
#include <memory>

#include "app/frmMain.h"
#include "histogram/frmHistogram.h"
#include "linescope/frmScope.h"
#include "platform/Desktop.h"
#include "desktop.h"
#include "platform/Instrument.h"
#include "platform/PictureBox.h"
#include "vectorscope/frmVector.h"

namespace {

// A varied picture: ramps and fine texture, so that rows and columns differ.
QImage Synthetic(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            std::uint32_t h = static_cast<std::uint32_t>(x) * 2654435761u ^ static_cast<std::uint32_t>(y) * 40503u;
            h ^= h >> 13;
            const std::uint32_t r = (static_cast<std::uint32_t>(x) * 255u / static_cast<std::uint32_t>(width) + (h & 0x1F)) & 0xFF;
            const std::uint32_t g = (static_cast<std::uint32_t>(y) * 255u / static_cast<std::uint32_t>(height) + (h >> 8 & 0x0F)) & 0xFF;
            const std::uint32_t b = (static_cast<std::uint32_t>(x + y) / 64u * 37u) & 0xFF;
            row[x] = 0xFF000000u | r << 16 | g << 8 | b;
        }
    }
    return image;
}

std::unique_ptr<vistrel::frmMain> window;

// The window goes while the application still exists, not among the static destructors after it.
void DropWindow() { window.reset(); }

// The main window with the picture of that size loaded from a BMP file (fast to
// write and to read); built once per size and kept for the run.
vistrel::frmMain& WindowWith(int width, int height) {
    static bench::QuietDesktop desk;
    static QSize loaded;
    if (window == nullptr) {
        vistrel::setDesktop(&desk);
        window = std::make_unique<vistrel::frmMain>();
        window->start();
        qAddPostRoutine(DropWindow);
    }
    if (loaded != QSize(width, height)) {
        const QString path = QDir::temp().filePath(QString("vistrel_probe_bench_%1x%2.bmp").arg(width).arg(height));
        Synthetic(width, height).save(path);
        window->LoadFile(path);
        QFile::remove(path);
        loaded = QSize(width, height);
    }
    return *window;
}

void ProbeMove(benchmark::State& state) {
    vistrel::frmMain& w = WindowWith(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    if (!w.model().loaded()) {
        state.SkipWithError("the picture did not load");
        return;
    }
    // One press, then moves between two places that differ in column and row.
    const float x0 = static_cast<float>(w.model().picture().viewMaxX) / 3;
    const float y0 = static_cast<float>(w.model().picture().viewMaxY) / 3;
    const float x1 = static_cast<float>(w.model().picture().viewMaxX) * 2 / 3;
    const float y1 = static_cast<float>(w.model().picture().viewMaxY) * 2 / 3;
    // The view's mouse handlers, as a press, a move and a release on it run them.
    const vistrel::PictureBox& view = *w.findChild<vistrel::PictureBox*>("picImg");
    view.onMouseDown(vistrel::kLeftButton, 0, x0, y0);
    bool there = false;
    for (auto _ : state) {
        there = !there;
        view.onMouseMove(vistrel::kLeftButton, 0, there ? x1 : x0, there ? y1 : y0);
    }
    view.onMouseUp(vistrel::kLeftButton, 0, x0, y0);
    state.counters["picture_MP"] = static_cast<double>(state.range(0)) * static_cast<double>(state.range(1)) / 1e6;
}

// The same with the picture held as the reference (File > Hold as Reference), and a
// zoom change of the vectorscope with and without it: the plot re-binned from both
// pictures' pair histograms and shown. Under 2 ms.
vistrel::frmMain& WithReference(benchmark::State& state, bool held) {
    vistrel::frmMain& w = WindowWith(6000, 4000);
    if (!w.model().loaded()) state.SkipWithError("the picture did not load");
    if (held) w.HoldReference();
    return w;
}

void LetReferenceGo(vistrel::frmMain& w) { w.findChild<QAction*>("mnuFileDropReference")->trigger(); }

void ProbeMoveWithReference(benchmark::State& state) {
    vistrel::frmMain& w = WithReference(state, true);
    ProbeMove(state);
    LetReferenceGo(w);
}

void ZoomChange(benchmark::State& state) {
    vistrel::frmMain& w = WithReference(state, state.range(0) != 0);
    QScrollBar* zoom = w.workspace().instrument<vistrel::frmVector>()->zoomBar();
    bool there = false;
    for (auto _ : state) {
        there = !there;
        zoom->setValue(there ? 300 : 256);
    }
    LetReferenceGo(w);
}

// A move without buttons over the instrument, sent to the part of it under the pointer.
void MoveOver(vistrel::Instrument& instrument, QPoint at) {
    QWidget* under = instrument.childAt(at);
    QWidget* target = under != nullptr ? under : &instrument;
    const QPointF local = target->mapFrom(&instrument, QPointF(at));
    QMouseEvent move(QEvent::MouseMove, local, target->mapToGlobal(local), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
}

// The pointer moved between two places of an instrument's plot (0 the line scope, 1 the
// vectorscope, 2 the histogram in RGB), each move reading the plot there and showing it.
void PointerReading(benchmark::State& state) {
    vistrel::frmMain& w = WindowWith(6000, 4000);
    if (!w.model().loaded()) {
        state.SkipWithError("the picture did not load");
        return;
    }
    const vistrel::Workspace& workspace = w.workspace();
    vistrel::Instrument* const instruments[] = {workspace.instrument<vistrel::frmScope>(),
                                                workspace.instrument<vistrel::frmVector>(),
                                                workspace.instrument<vistrel::frmHistogram>()};
    vistrel::Instrument& instrument = *instruments[state.range(0)];
    const QPoint places[2] = {{60, 70}, {180, 200}};
    bool there = false;
    for (auto _ : state) {
        there = !there;
        MoveOver(instrument, places[there ? 1 : 0]);
    }
    if (instrument.reading().isEmpty()) state.SkipWithError("nothing was read");
    instrument.ClearReading();
    state.counters["picture_MP"] = 24;
}

}  // namespace

BENCHMARK(PointerReading)->ArgName("instrument")->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

BENCHMARK(ZoomChange)->ArgName("reference")->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);
BENCHMARK(ProbeMoveWithReference)->ArgNames({"width", "height"})->Args({6000, 4000})->Unit(benchmark::kMicrosecond);

BENCHMARK(ProbeMove)
    ->ArgNames({"width", "height"})
    ->Args({100, 80})      // enlarged: ScaleX below 0.5
    ->Args({1200, 834})    // about 1 megapixel
    ->Args({8000, 6000})   // 48 megapixels
    ->Unit(benchmark::kMicrosecond);
