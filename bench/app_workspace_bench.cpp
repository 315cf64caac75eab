// A resize of the one-window workspace with a 24-megapixel picture loaded and the
// instruments at x2: the panels laid out again and the whole window drawn into a kept
// buffer, as a window system's backing store keeps one. The panels draw from their kept
// rasters and the view keeps its fitted copy until the resize is over (its refit is
// timed apart), so no step reads the picture; the goal is under 16 ms.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>

#include <memory>

#include "app/frmMain.h"
#include "linescope/frmScope.h"
#include "platform/Desktop.h"
#include "desktop.h"
#include "vectorscope/frmVector.h"
#include "pictures.h"

namespace {

std::unique_ptr<vistrel::frmMain> window;

void DropWindow() { window.reset(); }

vistrel::frmMain& Workspace24MP() {
    static bench::QuietDesktop desk;
    if (window == nullptr) {
        vistrel::setDesktop(&desk);
        window = std::make_unique<vistrel::frmMain>();
        window->workspace().SetLayout(vistrel::Layout::OneWindow);
        window->start(vistrel::frmMain::AboutBox::Skipped);
        window->LoadFile(bench::Bmp24MP());
        qAddPostRoutine(DropWindow);
    }
    return *window;
}

// Lays the window out at a size and draws it whole, as the window system's resize would.
void ResizeAndDraw(vistrel::frmMain& w, QSize size) {
    static QImage canvas(1600, 1000, QImage::Format_RGB32);
    w.resize(size);
    QApplication::sendPostedEvents();
    w.workspace().FitPanels();
    QApplication::sendPostedEvents();
    w.render(&canvas);
    benchmark::DoNotOptimize(canvas.constBits());
}

void WorkspaceResizeAtX2(benchmark::State& state) {
    vistrel::frmMain& w = Workspace24MP();
    if (!w.model().loaded()) {
        state.SkipWithError("the picture did not load");
        return;
    }
    // Two sizes a window edge passes through on the way, both with the instruments at x2.
    const QSize sizes[] = {{1600, 1000}, {1580, 990}};
    ResizeAndDraw(w, sizes[0]);
    const vistrel::Workspace& workspace = w.workspace();
    if (workspace.instrument<vistrel::frmScope>()->placement().scale < 2 ||
        workspace.instrument<vistrel::frmVector>()->placement().scale < 2) {
        state.SkipWithError("the instruments are not at x2");
        return;
    }
    bool other = false;
    for (auto _ : state) {
        other = !other;
        ResizeAndDraw(w, sizes[other ? 1 : 0]);
    }
    state.counters["scale"] = w.workspace().instrument<vistrel::frmScope>()->placement().scale;
}

// The view fitted again once the resize is over: the one step that reads the picture.
void WorkspaceRefitAfterResize(benchmark::State& state) {
    vistrel::frmMain& w = Workspace24MP();
    if (!w.model().loaded()) {
        state.SkipWithError("the picture did not load");
        return;
    }
    const QSize sizes[] = {{1600, 1000}, {1580, 990}};
    bool other = false;
    for (auto _ : state) {
        state.PauseTiming();
        other = !other;
        ResizeAndDraw(w, sizes[other ? 1 : 0]);
        state.ResumeTiming();
        w.workspace().RefitView();
    }
}

}  // namespace

BENCHMARK(WorkspaceResizeAtX2)->Unit(benchmark::kMillisecond);
BENCHMARK(WorkspaceRefitAfterResize)->Unit(benchmark::kMillisecond);
