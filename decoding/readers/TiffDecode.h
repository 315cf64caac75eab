#pragma once
// TIFF decoding with libtiff, strip by strip or tile row by tile row, into the 32-bit
// top-down surface.

#include <cstddef>
#include <optional>

#include "decoding/Readers.h"

namespace vistrel {

// Decodes the first page of a TIFF file band by band, to the same pixels Qt's reader and
// the shared conversion give. 8- and 16-bit RGB with or without alpha, 8- and 16-bit
// grey and 8-bit palettes are read raw, row by row, as Qt reads them, their samples
// stored side by side or in separate planes (16-bit RGB in separate planes as well,
// which Qt's reader gets wrong); the kinds Qt has libtiff's RGBA reader compose (CMYK,
// YCbCr and JPEG, fewer than 8 bits, grey and alpha) go through that reader a band of
// whole strips or tiles at a time.
// The receiver, when given, hears of the buffer and of each band of rows as it lands;
// with a sink, the bands go there from a band buffer of their own and the result holds
// a null surface. Nothing (std::nullopt) for the kinds left to Qt's reader: a turned
// picture, floating point, and a composed kind stored in strips or tiles too large to
// read a band at a time.
ReadResult DecodeTiff(const ReaderInput& input);

}  // namespace vistrel
