#pragma once
// The histogram: a borderless tool window with the counts of the full-size picture's
// levels, with its own channel choice and a Log option under them; or a panel of the
// one-window workspace that shows the plot at the largest whole scale that fits. The
// level under the pointer, its counts and shares, show in a line over the options.

#include "histogram/HistogramPlot.h"
#include "kernels/levels.h"
#include "model/Model.h"
#include "platform/Dib.h"
#include "platform/Instrument.h"
#include "platform/Surface.h"

class QCheckBox;
class QGroupBox;
class QRadioButton;

namespace vistrel {

class frmHistogram : public Instrument {
    Q_OBJECT
public:
    explicit frmHistogram(Model& model, QWidget* parent = nullptr);

    // The counts drawn as the settings say (channel, scale, lamp).
    void DrawHistogram(const korvex::LevelCounts& counts);
    // What is current: the loaded picture's counts, or the bare graticule.
    void RefreshHistogram();

    // For inspection: the plot area's persistent image and whether a drag is on.
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
    // The model's notice: new counts, the lamp, the channel choice or the scale redraw it.
    void ModelChanged(Changes what);
    void optChannel_Click(int index);
    void chkLog_Click();

    Model& model_;
    QGroupBox* fraChannel = nullptr;
    QRadioButton* optChannel[6] = {};  // R, G, B, Y, Parade, RGB: HistogramChannel's order
    QCheckBox* chkLog = nullptr;
    Surface surface_;  // the plot area as the window repaints it
    BitmapInfoHeader PlotHeader{};
    QImage scaled_;  // the plot's blocks at the panel's scale, kept for the next paint
};

}  // namespace vistrel
