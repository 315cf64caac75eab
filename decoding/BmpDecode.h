#pragma once
// BMP decoding by our own code, row by row into the 32-bit top-down surface or a band sink.

#include <cstddef>
#include <optional>

#include "decoding/Decode.h"
#include "decoding/RowReceiver.h"

namespace vistrel {

// Decodes an uncompressed BMP of the common kinds: 24 bits, 32 bits with the 40-byte
// header (the fourth byte unused), and palettes of 1, 4 and 8 bits; bottom-up or
// top-down; the 12-, 40-, 108- and 124-byte headers. The pixels are those of Qt's reader.
// The receiver, when given, hears of the buffer and of each band of rows as it lands;
// with a sink, the bands go there instead from a band buffer of their own, and the
// result holds a null surface. Nothing (std::nullopt) for the other kinds (run-length
// coding, bit fields, 16 bits, 32 bits with an alpha mask, odd headers): Qt's reader
// takes them.
std::optional<DecodeResult> DecodeBmp(const unsigned char* data, std::size_t size, RowReceiver* receiver,
                                      BandSink* sink = nullptr);

}  // namespace vistrel
