#pragma once
// A scroll bar as the program's controls expect it: its value changes once per
// step and once at the end of a thumb drag (no tracking), and on a horizontal
// bar the Left and Right keys step the way they point. (Qt's scroll bars invert
// their controls for the mouse wheel, which turns the arrow keys around too.)

#include <QScrollBar>

namespace vistrel {

class ScrollBar : public QScrollBar {
    Q_OBJECT
public:
    explicit ScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace vistrel
