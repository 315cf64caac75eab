#pragma once
// The instrument windows' black field: the window's own background black, its option
// boxes in the ordinary control colours, set role by role so that they do not inherit
// the black.

#include <QPalette>
#include <QWidget>

namespace vistrel {

// Paints the window's background black and returns the palette its controls keep.
inline QPalette PaintBlackField(QWidget& window) {
    QPalette controls = window.palette();
    for (const QPalette::ColorRole role : {QPalette::Window, QPalette::WindowText, QPalette::Button,
                                           QPalette::ButtonText, QPalette::Base, QPalette::Text})
        controls.setColor(role, controls.color(role));
    QPalette black = window.palette();
    black.setColor(QPalette::Window, Qt::black);
    window.setPalette(black);
    window.setAutoFillBackground(true);
    return controls;
}

}  // namespace vistrel
