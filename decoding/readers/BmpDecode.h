#pragma once
// BMP decoding by our own code, row by row into the 32-bit top-down surface or a band sink.

#include <cstddef>
#include <optional>

#include "decoding/Readers.h"

namespace vistrel {

// Decodes a BMP of the common kinds: 24 bits, 32 bits with the 40-byte header (the fourth
// byte unused), palettes of 1, 4 and 8 bits, bottom-up or top-down, as Qt's reader gives
// them; 16 bits (five a colour) and bit fields of 16 and 32 bits, each field widened to 8
// bits by repeating its top bits, an alpha field composited over the background; and
// run-length coded rows of 4 and 8 bits, whose pixels no code sets show the background.
// The 12-, 40-, 52-, 56-, 108- and 124-byte headers. An index past the palette is an
// opaque black. The receiver, when given, hears of the buffer and of each band of rows
// as it lands; with a sink, the bands go there instead from a band buffer of their own,
// and the result holds a null surface. A file too short for its palette, masks or rows,
// run-length codes of the wrong depth or stored top-down, and a mask whose bits are not
// side by side fail as unreadable. Nothing (std::nullopt) for the other kinds (32 bits
// with a later header, which Qt reads an alpha mask from; odd headers and depths): Qt's
// reader takes them.
ReadResult DecodeBmp(const ReaderInput& input);

}  // namespace vistrel
