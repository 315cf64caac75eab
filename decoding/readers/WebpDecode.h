#pragma once
// Still WebP pictures (lossy or lossless, with or without alpha) decoded with libwebp's
// incremental decoder, the rows handed on as they are finished.

#include <cstddef>
#include <optional>

#include "decoding/Readers.h"

namespace vistrel {

// Decodes a still WebP file to the same pixels Qt's reader and the shared conversion
// give. The receiver, when given, hears of the buffer and of each band of rows as it
// lands; with a sink, the bands go there and the result holds a null surface, while the
// rows already handed on give their memory back. An extended file whose EXIF chunk
// records an orientation other than 1 is decoded whole, turned upright and handed to the
// receiver at once (never to the sink), as a turned JPEG is. Nothing (std::nullopt) for
// an animation or a file whose chunks do not parse: Qt's reader takes those.
ReadResult DecodeWebp(const ReaderInput& input);

}  // namespace vistrel
