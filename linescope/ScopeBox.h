#pragma once
// A channel box of the line scope: a borderless black area that owns a
// persistent image, into which the scope draws, and paints itself from it; in a
// panel of the workspace, each image pixel as a block at the panel's scale.

#include <QWidget>

#include "platform/Gdi.h"
#include "platform/ScaledRaster.h"
#include "platform/Surface.h"

namespace vistrel::linescope {

class ScopeBox : public QWidget {
public:
    explicit ScopeBox(QWidget* parent = nullptr);

    Surface& surface() { return surface_; }
    const Surface& surface() const { return surface_; }
    // The drawing context of the persistent image; it keeps its pen between drawings.
    Dc& dc() { return dc_; }

    // Places the box; the image takes the new size, keeping what it held where
    // the two overlap, black elsewhere.
    // Left, top, width and height are the window's own pixels, as at x1.
    void place(int left, int top, int width, int height);
    void setBoxWidth(int width) { place(raster_.x(), raster_.y(), width, raster_.height()); }
    // Where the box is in the window's own pixels, whatever the scale.
    const QRect& rasterRect() const { return raster_; }
    // The box shown through a placement: its geometry and its pixels scaled.
    void setPlacement(const ScaledPlacement& placement);
    // Every pixel of the image black.
    void clearImage();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect raster_;
    ScaledPlacement placement_;
    QImage scaled_;  // the image's blocks at the scale, made afresh at each paint
    Surface surface_;
    Dc dc_{surface_};
};

}  // namespace vistrel::linescope
