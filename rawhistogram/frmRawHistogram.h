#pragma once
// The raw histogram: a borderless tool window with the counts of a camera raw's
// photosites before demosaicing, each class of its colour filter array apart, with an EV
// axis and a Log option under them; or a panel of the one-window workspace that shows the
// plot at the largest whole scale that fits. The raw values under the pointer, their
// stops below white and each class's count there show in a line over the options.

#include "model/Model.h"
#include "platform/Dib.h"
#include "platform/Instrument.h"
#include "platform/Surface.h"
#include "rawhistogram/RawHistogramPlot.h"

class QCheckBox;

namespace vistrel {

class frmRawHistogram : public Instrument {
    Q_OBJECT
public:
    explicit frmRawHistogram(Model& model, QWidget* parent = nullptr);

    // What is current: the loaded picture's photosites (the region's when there is one),
    // or why there are none.
    void RefreshRawHistogram();

    // For inspection: the plot's persistent image.
    const Surface& surface() const { return surface_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void Arrange() override;
    std::optional<QString> ReadingAt(QPoint rasterPixel) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void ModelChanged(Changes what);

    Model& model_;
    QCheckBox* chkEv = nullptr;
    QCheckBox* chkLog = nullptr;
    Surface surface_;
    BitmapInfoHeader PlotHeader{};
    QImage scaled_;  // the plot's blocks at the panel's scale, kept for the next paint
};

}  // namespace vistrel
