#pragma once
// What the three instruments have in common as widgets: each is a borderless tool window
// at its design size and place, or a panel of the one-window workspace that grows with
// its room and shows its raster at the largest whole scale that fits (ScaledRaster); and
// each reads its plot under the pointer, in a line of its own.

#include <QImage>
#include <QWidget>

#include <functional>
#include <optional>

#include "platform/ScaledRaster.h"
#include "platform/WindowDrag.h"

class QLabel;

namespace vistrel {

// An instrument as designed: its window's client size and place on screen, the raster it
// shows, the option strip's height under the raster, and the margin its labels take
// beside the raster from x2 up (PlaceScaled).
struct InstrumentDesign {
    QSize client;
    QPoint position;
    QSize raster;
    int strip = 0;
    QSize labelMargin;
};

class Instrument : public QWidget {
    Q_OBJECT
public:
    // A borderless tool window owned by parent, at its design size and place.
    Instrument(QWidget* parent, const InstrumentDesign& design);

    // A panel grows with its room and is never dragged; a window keeps its design size,
    // at its design place. The caller gives the widget its new parent first.
    void setPanel(bool panel);
    bool isPanel() const { return panel_; }
    // Where the raster is drawn now, in device pixels: at the design's scale in the window
    // unless a panel grew.
    const ScaledPlacement& placement() const { return placed_; }
    // The instrument exactly as its window shows it, at x1, also while it is a panel.
    QImage WindowImage();
    // The smallest panel that shows the raster at scale k, in device pixels of the screen it
    // is on (labelled from twice the design size up).
    QSize PanelSizeAt(int k) const;
    // The device pixels to a logical pixel the instrument is drawn at: its screen's.
    qreal ratio() const;
    // A position in the instrument (logical pixels) as device pixels from its raster's room's
    // anchor, as RasterPixelAt takes it.
    QPointF DevicePosition(QPointF position) const;

    // Given by the main window at start-up: hands the keyboard focus back to it.
    std::function<void()> focusMainWindow;

    // A left press on the window (or a box in it) drags it until the release.
    bool dragging() const { return drag_.dragging(); }

    // The reading under the pointer, as its line shows it; empty while none shows.
    QString reading() const;
    // The pointer at a position in the instrument's own pixels (in a panel, through the
    // scale): the reading there shown in its line, or the line taken away off the plot.
    void PointAt(QPointF position);
    // The line taken away: the option strip under it shows again.
    void ClearReading();
    // A shown reading read again where the pointer is, after what the plot shows changed.
    void RefreshReading();

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void leaveEvent(QEvent* event) override;

    // Brings up to date what a picture of the instrument holds and its window, hidden, may
    // have left undrawn (WindowImage).
    virtual void DrawForImage() {}
    // What the instrument reads at a pixel of its raster, or nothing where it has no plot.
    virtual std::optional<QString> ReadingAt(QPoint rasterPixel) const = 0;
    // Lays the instrument out after placed_ has been set: the raster where it says, the
    // option controls at their design places, at the bottom of a panel.
    virtual void Arrange() = 0;

    // The window's client size, as designed.
    QSize naturalSize() const { return design_.client; }
    // The option strip, at the bottom: where the reading's line goes, over controls the
    // pointer does not need while it is on the plot.
    QRect StripRect() const { return QRect(0, height() - design_.strip, width(), design_.strip); }
    // The raster placed in the room above the option strip, at the instrument's ratio; at a
    // ratio of 1, x1 at the top-left corner in a window.
    ScaledPlacement Place() const;
    // The raster's image drawn as placed_ says, its blocks on whole device pixels: `image` is
    // the raster's own (x1); `blocks` keeps the scaled copy between paints. `room` is the
    // painter's position of the instrument's top-left corner (a child box paints with its own).
    void PaintRaster(QPainter& painter, QPointF room, QPoint at, const QImage& image, QImage& blocks) const;
    // Called at each paint: a screen whose device pixel ratio changed under the instrument
    // (its scale set anew) has the raster placed again, once the paint is over.
    void FollowRatio(const QPainter& painter);
    // How far down the option strip moved from its design place.
    int StripShift() const { return panel_ ? height() - naturalSize().height() : 0; }

    const InstrumentDesign design_;
    bool panel_ = false;
    ScaledPlacement placed_;
    WindowDrag drag_{*this};  // a panel is never dragged

private:
    void Relayout();

    // The reading's line: white on the black field, over the strip while the pointer reads
    // the plot, and hidden, so that nothing of it shows, when it does not.
    QLabel* readingLine_ = nullptr;
    QPointF pointer_;  // where the shown reading was read
    bool atDesignRatio_ = false;  // laid out at 1 device pixel to the pixel, for WindowImage
    bool relayoutDue_ = false;    // FollowRatio has asked for a new placement
};

}  // namespace vistrel
