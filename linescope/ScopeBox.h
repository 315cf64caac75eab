#pragma once
// A channel box of the line scope: a borderless black area that owns a
// persistent image, into which the scope draws, and paints itself from it.

#include <QWidget>

#include "platform/Gdi.h"
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
    void place(int left, int top, int width, int height);
    void setBoxWidth(int width) { place(x(), y(), width, height()); }
    // Every pixel of the image black.
    void clearImage();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Surface surface_;
    Dc dc_{surface_};
};

}  // namespace vistrel::linescope
