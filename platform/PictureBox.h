#pragma once
// A picture box: a control that keeps a persistent image (what is drawn into
// it stays in its own bitmap and is shown on repaint), with an optional
// one-pixel border around the image. Mouse events and file drops are passed
// on to whoever owns the box.

#include <QPalette>
#include <QWidget>

#include <functional>

#include "platform/Gdi.h"
#include "platform/Input.h"
#include "platform/Surface.h"

class QMimeData;

namespace vistrel {

// The colour a picture's transparent parts are composited over: the palette's base
// colour, which the window's hidden full-size holder is filled with.
ColorValue CompositingBackground(const QPalette& palette);

class PictureBox : public QWidget {
    Q_OBJECT
public:
    PictureBox(int border, ColorValue background, QWidget* parent = nullptr);

    // Inner (client) size: the outer size less the border on each side, never negative.
    int innerWidth() const;
    int innerHeight() const;
    int border() const { return border_; }
    // Sets the outer size (logical pixels); the image takes the new inner size, cleared to the
    // background. At a ratio other than 1 its pixels are the device pixels nearest the inner
    // size (NearestDevicePixels), each shown on one device pixel of a screen of that ratio.
    void setOuterSize(int width, int height, double ratio = 1);

    Surface& surface() { return surface_; }
    const Surface& surface() const { return surface_; }
    // The drawing context of the persistent image (pen, drawing mode, position).
    Dc& dc() { return dc_; }
    // Removes the picture: the image is cleared to the background colour.
    void clearPicture();
    ColorValue background() const { return background_; }

    // Handlers: (button code, shift state, x, y in the image's pixels: inner logical pixels,
    // or at a ratio other than 1 device pixels from where the image's first pixel is drawn).
    std::function<void(int, int, float, float)> onMouseDown;
    std::function<void(int, int, float, float)> onMouseMove;
    std::function<void(int, int, float, float)> onMouseUp;
    std::function<void(const QMimeData&)> onDrop;
    // Called once a paint is over whose device pixel ratio is not the image's: the screen
    // under the box changed, and whoever fills it may fit its picture again.
    std::function<void()> onRatioChange;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void call(const std::function<void(int, int, float, float)>& handler, int button, QMouseEvent* event);
    // The image made again at the size the inner size and the ratio give, if it is not.
    void fitImage();

    int border_;
    ColorValue background_;
    double ratio_ = 1;
    bool ratioChangeDue_ = false;
    Surface surface_;
    Dc dc_{surface_};
};

}  // namespace vistrel
