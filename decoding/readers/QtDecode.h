#pragma once
// Every format Qt's image plugins read that no reader of ours takes (icons, the
// portable anymaps, XBM, XPM, TGA, ...), and those ours leave to them: the last row of
// the reader table.

#include <QByteArray>

#include "decoding/Readers.h"

namespace vistrel {

// Whatever Qt's plugins make of the file: an icon's largest image, any other format's
// first, turned upright as the file records; NotAPicture when no plugin takes it. A
// format whose reader reads exactly what its header declares (BMP, TIFF, XBM) and asks
// for bytes past the end was cut short, whatever the reader then reports.
ReadResult DecodeWithQt(const ReaderInput& input);

// Qt's reader and the conversion to opaque pixels alone, without any of the checks
// above: what every picture gave before our own readers took its format, for their tests.
DecodeResult DecodeWithQtReader(QByteArray bytes, ColorValue background);

}  // namespace vistrel
