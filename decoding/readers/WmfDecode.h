#pragma once
// Windows metafiles rendered to pixels through libwmf.

#include <cstdint>

#include "decoding/Readers.h"

namespace vistrel {

// The most pixels a metafile is drawn with: 16 megapixels (a 4096-pixel square), a
// large print's worth.
inline constexpr std::int64_t kMetafileSquareSide = 4096;
inline constexpr std::int64_t kMetafilePixelBudget = kMetafileSquareSide * kMetafileSquareSide;

// The metafile drawn at its natural size at 96 dots per inch (scaled down to the pixel
// budget when that is larger, its proportions kept) over the background colour, handed
// to the receiver whole. Colours are drawn as they are stored.
ReadResult DecodeMetafile(const ReaderInput& input);

}  // namespace vistrel
