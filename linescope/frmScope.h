#pragma once
// The line scope window: a borderless tool window with four channel boxes and
// a strip of options; shows the whole-picture waveform or a single-line trace.

#include <QPoint>
#include <QWidget>

#include <functional>

#include "app/modScope.h"

namespace vistrel {

class frmScope : public QWidget {
    Q_OBJECT
public:
    explicit frmScope(const ModScope& mod, QWidget* parent = nullptr);

    // Given by the main window at start-up: the crosshair bars' values
    // (x = hscrCross, y = vscrCross) and handing the keyboard focus back.
    std::function<QPoint()> crossBarValues;
    std::function<void()> focusMainWindow;

    // Boxes 0 to 3 cleared to black, then the window repainted.
    void ClearScope();
    // The whole-picture waveform of the chosen channel or the parade.
    void DrawWaveform(const korvex::PixelGrid& pixels);
    // The single-line trace through the probed pixel.
    void DrawLineTrace(const korvex::PixelGrid& pixels, int column, int row);
    // Redraws what is current: the trace while a probe is locked, else the waveform.
    void RefreshScope();
};

}  // namespace vistrel
