#pragma once
// The chromaticity diagram: a borderless tool window with where the picture file's own
// colours land on the CIE 1931 xy diagram, or a panel of the one-window workspace that
// shows it at the largest whole scale that fits. The place under the pointer and the
// share of the picture's pixels there show in a line at its bottom.

#include "chromaticity/ChromaticityPlot.h"
#include "model/Model.h"
#include "platform/Dib.h"
#include "platform/Instrument.h"
#include "platform/Surface.h"

namespace vistrel {

class frmChromaticity : public Instrument {
    Q_OBJECT
public:
    explicit frmChromaticity(Model& model, QWidget* parent = nullptr);

    // The counts drawn over the diagram with the lamp; none: the diagram alone.
    void DrawChromaticity(const SignalStats* stats);
    // What is current: the loaded picture's counts, or the bare diagram.
    void RefreshChromaticity();

    // For inspection: the plot's persistent image.
    const Surface& surface() const { return surface_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // The picture's counts, counted first if need be: a file of the diagram holds them.
    void DrawForImage() override;
    void Arrange() override;
    std::optional<QString> ReadingAt(QPoint rasterPixel) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // The model's notice: a new picture or the lamp redraw it.
    void ModelChanged(Changes what);
    const SignalStats* Counts() const;

    Model& model_;
    Surface surface_;
    BitmapInfoHeader PlotHeader{};
    QImage scaled_;  // the plot's blocks at the panel's scale, kept for the next paint
};

}  // namespace vistrel
