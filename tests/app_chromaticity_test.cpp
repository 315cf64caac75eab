// The chromaticity diagram in the running program: off at start-up, drawing the builder's
// diagram and reading it under the pointer; the rendered image is its own, and the
// workspace keeps it.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <algorithm>

#include "app/Render.h"
#include "app/SaveScopes.h"
#include "app_support.h"
#include "chromaticity/ChromaticityPlot.h"
#include "chromaticity/frmChromaticity.h"

namespace {

using namespace vistrel;
using testing_support::StartedMain;

TEST(ChromaticityWindow, ShownFromToolsDrawsTheDiagramAndIsWhatRenderWrites) {
    QTemporaryDir dir;
    const QString picture = testing_support::WritePicture(dir, "gradient.png", testing_support::Gradient(300, 200));
    StartedMain w;
    auto* window = w->findChild<frmChromaticity*>("frmChromaticity");
    ASSERT_NE(window, nullptr);
    Ctl<QAction>(*w, "mnuToolsChromaticity")->trigger();
    EXPECT_TRUE(w->workspace().Current().chromaticityShown);

    testing_support::Load(*w, picture);
    ASSERT_TRUE(w->model().loaded());
    // What the window holds is the builder's diagram for the picture's counts, under the names.
    const auto plot = chromaticity::BuildChromaticity(w->model().picture().signal.get(),
                                                      ScaleColorOf(w->model().settings().lamp));
    int drawn = 0;
    for (std::size_t i = 0; i < plot.raster.size(); ++i) {
        if (plot.raster[i] == 0) continue;
        const int x = static_cast<int>(i) % chromaticity::kRasterWidth;
        const int y = static_cast<int>(i) / chromaticity::kRasterWidth;
        // The names are printed over the raster: a line of 8-point text from each corner.
        const auto named = [&](const chromaticity::PlotLabel& label) {
            return QRect(label.x, label.y, 40, 16).contains(x, y);
        };
        if (std::any_of(plot.labels.begin(), plot.labels.end(), named)) continue;
        ASSERT_EQ(window->surface().pixel(x, y), plot.raster[i]) << x << "," << y;
        ++drawn;
    }
    EXPECT_GT(drawn, 500);

    // The pointer over the plot reads the place there; off it, nothing.
    const auto moveTo = [&](QPoint at) {
        QMouseEvent move(QEvent::MouseMove, QPointF(at), window->mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(window, &move);
    };
    moveTo({104, 159});
    EXPECT_EQ(window->reading(),
              chromaticity::ReadingText(*chromaticity::ReadingAt(w->model().picture().signal.get(), 104, 159)));
    moveTo({2, 100});
    EXPECT_TRUE(window->reading().isEmpty());

    const QImage grab = InstrumentImage(*window);
    EXPECT_EQ(grab.size(), QSize(264, 280));

    QTemporaryDir rendered;
    const RenderResult result = RenderInstruments(rendered.path(), picture, Settings{});
    ASSERT_EQ(result.exitCode, 0) << result.message.toStdString();
    EXPECT_EQ(QImage(rendered.filePath(kChromaticityImage)).convertToFormat(QImage::Format_RGB32),
              grab.convertToFormat(QImage::Format_RGB32));
}

}  // namespace
