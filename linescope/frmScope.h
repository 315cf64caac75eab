#pragma once
// The line scope: a borderless tool window with four channel boxes and a strip of
// options, or a panel of the one-window workspace that shows the boxes at the largest
// whole scale that fits, the graticule lines labelled in a margin from x2 up; shows the
// whole-picture waveform or a single-line trace.

#include <QPoint>

#include "model/Model.h"
#include "linescope/ScopeSettings.h"
#include "linescope/Waveform.h"
#include "platform/Dib.h"
#include "platform/Instrument.h"

class QCheckBox;
class QGroupBox;
class QMouseEvent;
class QRadioButton;

namespace vistrel {

namespace linescope {
class ScopeBox;
}

class frmScope : public Instrument {
    Q_OBJECT
public:
    explicit frmScope(Model& model, QWidget* parent = nullptr);

    // Boxes 0 to 3 cleared to black, then the window repainted.
    void ClearScope();
    // The whole-picture waveform of the chosen channel or the parade.
    void DrawWaveform(const korvex::PixelGrid& pixels) { DrawWaveform(linescope::ViewOf(pixels)); }
    void DrawWaveform(linescope::PictureView pixels);
    // The single-line trace through the probed pixel.
    void DrawLineTrace(const korvex::PixelGrid& pixels, int column, int row) {
        DrawLineTrace(linescope::ViewOf(pixels), column, row);
    }
    void DrawLineTrace(linescope::PictureView pixels, int column, int row);
    // Redraws what is current: the trace while a probe is locked, else the waveform.
    void RefreshScope();
    // The trace through the probe, or the waveform, of what the instruments count.
    void DrawCountedTrace();
    void DrawCountedWaveform();

    // For tests: the boxes, their images and the window's drawing state.
    linescope::ScopeBox* box(int index) const;
    const Surface& boxSurface(int index) const;
    int scopeChannel() const { return static_cast<int>(model_.settings().scopeChannel); }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void Arrange() override;
    std::optional<QString> ReadingAt(QPoint rasterPixel) const override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    // The model's notice: a new picture, a probe, the lamp or the options redraw the boxes.
    void ModelChanged(Changes what);
    // The options set as the model's settings say.
    void ShowSettings();
    // An option clicked under a locked probe gives the keys back to the main window.
    void HandFocusBack();
    void optParade_Click(int index);
    void optHorz_Click(int index);
    void chkScaleBG_Click();

    // Mouse handlers of the window and of the boxes; positions in the window's pixels.
    void Form_MouseDown(Qt::MouseButton button, QPointF position);
    void Form_MouseMove(QPointF globalPosition);
    void Form_MouseUp(Qt::MouseButton button);

    // The nine scale lines of the trace display in the lamp colour, and the reference lines dotted.
    void DrawScopeGraticule(bool parade);
    // The graticule's rows on an HDR picture's nits scale; none off it.
    std::vector<int> NitsRows() const;
    // The names of the reference and the picture over the waveform.
    void DrawLegend(const Reference& reference);

    linescope::Channel channel() const;
    linescope::Orientation orientation() const;
    linescope::ScalePlacement scalePlacement() const;

    Model& model_;

    linescope::ScopeBox* picChan[4] = {};
    QGroupBox* fraParade = nullptr;
    QRadioButton* optParade[5] = {};
    QCheckBox* chkScaleBG = nullptr;
    QGroupBox* fraHorz = nullptr;
    QRadioButton* optHorz[2] = {};

    BitmapInfoHeader SingleHeader;
    BitmapInfoHeader ParadeHeader;
    linescope::WaveformRasters rasters_;  // the last waveform, its memory reused by the next
    bool traceShown_ = false;  // the boxes hold a line trace, whose graticule rows differ slightly
};

}  // namespace vistrel
