#pragma once
// JPEG decoding with libjpeg straight into the 32-bit top-down surface, band by band.

#include <cstddef>
#include <optional>

#include "decoding/Readers.h"

namespace vistrel {

// Decodes a whole JPEG stream (its structure already checked) and turns it upright as
// its EXIF orientation says. The receiver, when given, hears of the buffer and of each
// band of rows as it lands. With a sink, an upright picture's bands go there instead,
// from a band buffer of their own, and the result holds a null surface. CMYK and YCCK
// streams are decoded to inks for a receiver (or sink) that takes them
// (RowReceiver::TakeInks); for the others nothing (std::nullopt): another reader must
// take them.
// libjpeg's warnings of corrupt data are failures here, not grey rows.
ReadResult DecodeJpeg(const ReaderInput& input);

}  // namespace vistrel
