#pragma once
// HEIF pictures: HEIC (HEVC, through libde265) and AVIF (AV1, through dav1d), with libheif.

#include <cstddef>
#include <optional>

#include "decoding/Readers.h"

namespace vistrel {

// True when the file starts with a HEIF brand box naming a brand libheif decodes.
bool LooksLikeHeif(const unsigned char* data, std::size_t size);

// Loads libheif's decoders, so that a confined worker finds them ready.
void PrepareHeif();

// The primary image, turned as its transformations say (rotation, mirror, crop), its
// alpha composited over the background and its colours converted as its colr box says
// unless stored values are asked for. Nothing (std::nullopt) when the file is no HEIF.
ReadResult DecodeHeif(const ReaderInput& input);

}  // namespace vistrel
