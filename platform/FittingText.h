#pragma once
// Captions and status texts drawn in whatever face fits their box.

#include <QFont>
#include <QLabel>
#include <QString>

namespace vistrel {

// The font for a caption of the given width: the font itself if the text fits,
// else smaller in half points while it is still drawn at smallestPoints or more,
// then narrower. The text may still not fit a width too small for it.
QFont FittingFont(QFont font, const QString& text, int width, double smallestPoints);

// Captions are not set smaller than this: smaller text is hard to read on screen.
inline constexpr double kSmallestReadablePoints = 7.0;

// A label whose text, when wider than its box, is drawn in a smaller or narrower face
// (FittingFont), and cut short with an ellipsis only if even that does not fit; the
// label's text itself stays whole.
class FittingLabel final : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace vistrel
