#pragma once
// The instruments as pictures: what a window shows, and writing it to a file.

#include <QImage>
#include <QString>

namespace vistrel {
class Instrument;
}

namespace vistrel {

// The names of the instruments' images inside a folder they are written to.
inline constexpr char kLineScopeImage[] = "linescope.png";
// The picture view as the window shows it, display modes and overlays included (--render).
inline constexpr char kViewImage[] = "view.png";
inline constexpr char kVectorscopeImage[] = "vectorscope.png";
// Written whether its window is on or not: the window is kept drawn while hidden, so the
// image is what it would show, and a folder of saved instruments always holds all three.
inline constexpr char kHistogramImage[] = "histogram.png";
// The chromaticity diagram, written as the histogram is, shown or not.
inline constexpr char kChromaticityImage[] = "chromaticity.png";
// A camera raw file's photosites' histogram, written for raw pictures alone, shown or not.
inline constexpr char kRawHistogramImage[] = "rawhistogram.png";

// The instrument's window client area exactly as it is shown, child controls included (a
// borderless window's client area is the whole window); a panel of the workspace as its
// window would show it, at x1.
QImage InstrumentImage(Instrument& instrument);

// Writes the image as PNG to a temporary file beside path and renames it into place,
// so that a failure leaves no half-written file; false on any failure.
bool WritePngFile(const QImage& image, const QString& path);

}  // namespace vistrel
