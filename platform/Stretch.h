#pragma once
// The halftone stretch: the whole of one surface scaled onto the whole of
// another by area averaging (each destination pixel the coverage-weighted mean of
// the source pixels under it), each axis on its own.

#include "platform/Surface.h"

namespace vistrel {

// Fills all of destination (its size is kept) from all of source.
void HalftoneStretch(const Surface& source, Surface& destination);

}  // namespace vistrel
