#pragma once
// What the three instruments have in common as widgets: each is a borderless tool window
// at its design size and place, or a panel of the one-window workspace that grows with
// its room and shows its raster at the largest whole scale that fits (ScaledRaster).

#include <QImage>
#include <QWidget>

#include "platform/ScaledRaster.h"

namespace vistrel {

class Instrument : public QWidget {
    Q_OBJECT
public:
    // A borderless tool window owned by parent.
    explicit Instrument(QWidget* parent);

    // A panel grows with its room and is never dragged; a window keeps its design size,
    // at its design place. The caller gives the widget its new parent first.
    void setPanel(bool panel);
    bool isPanel() const { return panel_; }
    // Where the raster is drawn now: at x1 in the window's own pixels unless a panel grew.
    const ScaledPlacement& placement() const { return placed_; }
    // The instrument exactly as its window shows it, at x1, also while it is a panel.
    QImage WindowImage();
    // The smallest panel that shows the raster at scale k (labelled from x2 up).
    QSize PanelSizeAt(int k) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

    // The window's client size and its place on screen, as designed.
    virtual QSize naturalSize() const = 0;
    virtual QPoint designPosition() const = 0;
    // Lays the instrument out after placed_ has been set: the raster where it says, the
    // option controls at their design places, at the bottom of a panel.
    virtual void Arrange() = 0;
    // The window's drag ends: a panel is never dragged.
    virtual void EndDrag() = 0;

    // The raster, the option strip's height under it and the labels' margin (PlaceScaled).
    virtual QSize rasterSize() const = 0;
    virtual int stripHeight() const = 0;
    virtual QSize labelMargin() const = 0;
    // The raster placed in the room above the option strip; x1 at the top-left corner in a window.
    ScaledPlacement Place() const;
    // How far down the option strip moved from its design place.
    int StripShift() const { return panel_ ? height() - naturalSize().height() : 0; }

    bool panel_ = false;
    ScaledPlacement placed_;

private:
    void Relayout();
};

}  // namespace vistrel
