#pragma once
// The vectorscope: a borderless tool window with the 256 x 256 plot and the zoom bar
// under it, or a panel of the one-window workspace that shows the plot at the largest
// whole scale that fits, the targets named in a margin beside it from x2 up.

#include "model/Model.h"
#include "platform/Dib.h"
#include "platform/Gdi.h"
#include "platform/Instrument.h"
#include "platform/Surface.h"
#include "vectorscope/Plot.h"

class QPainter;
class QScrollBar;

namespace vistrel {

class frmVector : public Instrument {
    Q_OBJECT
public:
    explicit frmVector(Model& model, QWidget* parent = nullptr);

    // Counts the picture's pairs into the plot image and shows it.
    void PlotPoints(const korvex::UvHistogram& pairs);
    // The last plot, the zoom readout and the graticule; removes probe markers.
    void ShowPoints();
    // Circle, centre cross and the six targets in the scale colour.
    void DrawGraticule();
    // A probed pixel's vector from the centre, in the pixel's colour.
    void MarkProbe(korvex::UvPair pair, ColorValue color);
    // The window's image cleared to black (the caller repaints).
    void ClearDrawing();

    // For inspection: the plot area's persistent image, the last plot and the zoom.
    const Surface& surface() const { return surface_; }
    const PlotBuffer& plotImage() const { return PlotImage; }
    float zoomFactor() const { return ZoomFactor; }
    QScrollBar* zoomBar() const { return hscrZoom; }

    // The window's handlers; the Qt events below forward to them.
    void Form_Load();
    void Form_MouseDown(int button, int shift, float x, float y);
    void Form_MouseMove(int button, int shift, float x, float y);
    void Form_MouseUp(int button, int shift, float x, float y);
    void Form_DblClick();
    void hscrZoom_Change();

protected:
    void paintEvent(QPaintEvent* event) override;
    void Arrange() override;
    std::optional<QString> ReadingAt(QPoint rasterPixel) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // The model's notice: a new picture, a probe, the lamp, the zoom or the graticule's
    // standard and skin line redraw the plot.
    void ModelChanged(Changes what);
    // The targets' names in the margin, each on the line from the centre through its target.
    void DrawTargetLabels(QPainter& painter) const;
    // A pointer position in the widget as the plot pixel under it (the window's own pixels at x1).
    QPointF PlotPosition(QPointF widget) const;

    Model& model_;
    QScrollBar* hscrZoom = nullptr;

    Surface surface_;  // the plot area as the window repaints it
    Dc dc_;            // the window's drawing context on that image

    BitmapInfoHeader PlotHeader{};
    PlotBuffer PlotImage{};
    float ZoomFactor = 1.0f;

    QImage scaled_;  // the plot's blocks at the panel's scale, kept for the next paint
};

}  // namespace vistrel
