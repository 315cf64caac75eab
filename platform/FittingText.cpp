#include "platform/FittingText.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

namespace vistrel {

QFont FittingFont(QFont font, const QString& text, int width, double smallestPoints) {
    const auto fits = [&] { return QFontMetrics(font).horizontalAdvance(text) <= width; };
    // Half a point at a time, while the face is still drawn at the smallest size or
    // larger (it is drawn at whole pixels: 7 points may come out as 6.75); then
    // narrower widths of the face.
    while (!fits()) {
        QFont smaller = font;
        smaller.setPointSizeF(font.pointSizeF() - 0.5);
        if (QFontInfo(smaller).pointSizeF() < smallestPoints) break;
        font = smaller;
    }
    for (const QFont::Stretch narrower : {QFont::SemiCondensed, QFont::Condensed, QFont::ExtraCondensed}) {
        if (fits()) break;
        font.setStretch(narrower);
    }
    return font;
}

void FittingLabel::paintEvent(QPaintEvent* event) {
    const QRect box = contentsRect();
    if (QFontMetrics(font()).horizontalAdvance(text()) <= box.width()) {
        QLabel::paintEvent(event);
        return;
    }
    const QFont fitted = FittingFont(font(), text(), box.width(), kSmallestReadablePoints);
    QPainter painter(this);
    painter.setFont(fitted);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(box, static_cast<int>(alignment()), QFontMetrics(fitted).elidedText(text(), Qt::ElideRight, box.width()));
}

}  // namespace vistrel
