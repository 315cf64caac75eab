#pragma once
// JPEG XL pictures (a bare codestream or the container), with libjxl.

#include <cstddef>
#include <optional>

#include "decoding/Decode.h"
#include "decoding/RowReceiver.h"

namespace vistrel {

// True when the file starts with a JPEG XL codestream's or container's signature.
bool LooksLikeJxl(const unsigned char* data, std::size_t size);

// The first frame (an animation's coalesced first frame), turned upright as the file's
// orientation says, its alpha composited over the background and its colours converted
// as its colour encoding or ICC profile says unless stored values are asked for.
// Nothing (std::nullopt) when the file is no JPEG XL.
std::optional<DecodeResult> DecodeJxl(const unsigned char* data, std::size_t size, ColorValue background,
                                      RowReceiver* receiver, BandSink* sink, ColourHandling colour);

}  // namespace vistrel
