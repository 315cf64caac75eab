#pragma once
// Windows metafiles rendered to pixels through libwmf; private to Decode.cpp.

#include <QImage>

#include <cstddef>

#include "decoding/Decode.h"

namespace vistrel::wmf {

// True when the bytes start like a metafile: the placeable key, or a plain
// metafile header (type 1 or 2, a header of 9 words, version 1 or 3).
bool LooksLikeMetafile(const unsigned char* data, std::size_t size);

// The metafile drawn at its natural size at 96 dots per inch over the
// background colour, as a Format_RGB32 image; or why it could not be.
struct WmfResult {
    QImage image;
    DecodeError error = DecodeError::Unreadable;
};
WmfResult RenderMetafile(const unsigned char* data, std::size_t size, ColorValue background);

}  // namespace vistrel::wmf
