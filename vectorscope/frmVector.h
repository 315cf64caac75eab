#pragma once
// The vectorscope window: a borderless tool window with the 256 x 256 plot and
// the zoom bar under it.

#include <QWidget>

#include <functional>

#include "app/modScope.h"

namespace vistrel {

class frmVector : public QWidget {
    Q_OBJECT
public:
    explicit frmVector(const ModScope& mod, QWidget* parent = nullptr);

    // Given by the main window at start-up: hands the keyboard focus back.
    std::function<void()> focusMainWindow;

    // Counts the pairs into the plot image and shows it.
    void PlotPoints(const korvex::ChromaGrid& pairs);
    // The last plot, the zoom readout and the graticule; removes probe markers.
    void ShowPoints();
    // Circle, centre cross and the six targets in the scale colour.
    void DrawGraticule();
    // A probed pixel's vector from the centre, in the pixel's colour.
    void MarkProbe(korvex::UvPair pair, ColorValue color);
    // The window's image cleared to black (the caller repaints).
    void ClearDrawing();
};

}  // namespace vistrel
