#pragma once
// Making a window's controls and menu items at their design places, named as the
// program knows them. Design positions are in twips, 15 to the pixel.

#include <QRect>
#include <QString>

class QAction;
class QCheckBox;
class QMenu;
class QPushButton;
class QScrollBar;
class QWidget;

namespace vistrel {

// A design rectangle in twips as pixels, each value rounded on its own.
QRect TwipsRect(int left, int top, int width, int height);

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QString& caption, QRect at, bool checked);
// A button that Enter on another control does not press by itself.
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, QRect at);
// A scroll bar from 0 to maximum, stepping by 1 and by pageStep (ScrollBar: no tracking).
QScrollBar* MakeScrollBar(QWidget* parent, const char* name, Qt::Orientation orientation, QRect at, int maximum,
                          int value, int pageStep);
QAction* MakeItem(QMenu* menu, const char* name, const QString& caption, bool checkable = false,
                  bool checked = false);
QAction* MakeSeparator(QMenu* menu, const char* name);

}  // namespace vistrel
