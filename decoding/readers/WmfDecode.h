#pragma once
// Windows metafiles rendered to pixels through libwmf; private to Decode.cpp.

#include <QImage>

#include <cstddef>
#include <cstdint>

#include "decoding/Decode.h"

namespace vistrel::wmf {

// True when the bytes start like a metafile: the placeable key, or a plain
// metafile header (type 1 or 2, a header of 9 words, version 1 or 3).
bool LooksLikeMetafile(const unsigned char* data, std::size_t size);

// The most pixels a metafile is drawn with: 16 megapixels, a large print's worth.
inline constexpr std::int64_t kMetafilePixelBudget = std::int64_t{16} << 20;

// The metafile drawn at its natural size at 96 dots per inch (scaled down to the
// pixel budget when that is larger, its proportions kept) over the background colour, as a Format_RGB32 image; or why it could not be.
struct WmfResult {
    QImage image;
    DecodeError error = DecodeError::Unreadable;
};
WmfResult RenderMetafile(const unsigned char* data, std::size_t size, ColorValue background);

}  // namespace vistrel::wmf
