#pragma once
// The narrow seam between a decoder and whoever reads its rows as they land: the
// decoder owns the full-size buffer and says how far it is filled; the reader does not
// care where the rows come from.

#include "platform/Surface.h"

namespace vistrel {

class RowReceiver {
public:
    virtual ~RowReceiver() = default;
    // The picture's buffer exists at its final size; no row is filled yet. It stays where
    // it is until the decode ends. False stops the decode.
    virtual bool PictureStarted(Surface& picture) = 0;
    // Rows 0 .. rows - 1 hold their final pixels (rows only grows). False stops the decode.
    virtual bool RowsReady(int rows) = 0;
    // After PictureStarted, a decode that fails or is stopped calls this before it frees
    // the buffer; the receiver returns once it no longer touches the buffer. A decode that
    // succeeds hands the buffer over instead and never calls it.
    virtual void PictureDropped() = 0;
};

}  // namespace vistrel
