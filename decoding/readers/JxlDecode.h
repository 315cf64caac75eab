#pragma once
// JPEG XL pictures (a bare codestream or the container), with libjxl.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "decoding/Readers.h"

namespace vistrel {

// Bytes a pixel may take at once while libjxl decodes, where other readers take 12: it
// keeps the picture in floating point, more than once on the way (4 bytes for each
// colour and extra channel), beside the 16-bit output. Measured at 48 megapixels: about
// 45 bytes a pixel for 8-bit RGB, 67 for 16-bit RGB with alpha.
inline constexpr std::uint64_t kJxlBytesPerPixelAtPeak = 80;

// The first frame (an animation's coalesced first frame), turned upright as the file's
// orientation says, its alpha composited over the background and its colours converted
// as its colour encoding or ICC profile says unless stored values are asked for.
// Nothing (std::nullopt) when the file is no JPEG XL.
ReadResult DecodeJxl(const ReaderInput& input);

}  // namespace vistrel
