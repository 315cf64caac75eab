#include "platform/Controls.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QPushButton>

#include "platform/Numbers.h"
#include "platform/ScrollBar.h"

namespace vistrel {

namespace {
int Px(int twips) { return nearestInt(twips / static_cast<double>(kTwipsPerPixel)); }
}  // namespace

QRect TwipsRect(int left, int top, int width, int height) { return QRect(Px(left), Px(top), Px(width), Px(height)); }

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QString& caption, QRect at, bool checked) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    box->setGeometry(at);
    box->setChecked(checked);
    return box;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, QRect at) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(at);
    button->setAutoDefault(false);
    return button;
}

QScrollBar* MakeScrollBar(QWidget* parent, const char* name, Qt::Orientation orientation, QRect at, int maximum,
                          int value, int pageStep) {
    auto* bar = new ScrollBar(orientation, parent);
    bar->setObjectName(name);
    bar->setGeometry(at);
    bar->setRange(0, maximum);
    bar->setValue(value);
    bar->setSingleStep(1);
    bar->setPageStep(pageStep);
    return bar;
}

QAction* MakeItem(QMenu* menu, const char* name, const QString& caption, bool checkable, bool checked) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    action->setCheckable(checkable);
    action->setChecked(checked);
    return action;
}

QAction* MakeSeparator(QMenu* menu, const char* name) {
    QAction* action = menu->addSeparator();
    action->setObjectName(name);
    return action;
}

}  // namespace vistrel
