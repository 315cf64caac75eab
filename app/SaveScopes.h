#pragma once
// The instruments as pictures: what a window shows, and writing it to a file.

#include <QImage>
#include <QString>

class QWidget;

namespace vistrel {

// The window's client area exactly as it is shown now, child controls included.
QImage InstrumentImage(QWidget& window);

// Writes the image as PNG to a temporary file beside path and renames it into place,
// so that a failure leaves no half-written file; false on any failure.
bool WritePngFile(const QImage& image, const QString& path);

}  // namespace vistrel
