#pragma once
// Camera raw files (DNG, CR2, CR3, NEF, ARW, RAF, ORF, RW2, PEF, SRW, 3FR, IIQ and the
// rest LibRaw reads), developed with LibRaw.

#include <cstdint>

#include "decoding/Readers.h"

namespace vistrel {

// Bytes a photosite may take at once, where other readers take 12 a pixel: LibRaw's raw
// buffer (2), its working image of four 16-bit samples (8) and AHD's tiles and
// histogram; the rows leave in bands of a few megabytes. Each further OpenMP thread adds
// a fixed amount (its stack and its tile buffer), which the worker's margin holds. Raws
// of three full colours a photosite (linear DNG) take more, within that margin at any
// size a camera makes.
inline constexpr std::uint64_t kRawBytesPerPixelAtPeak = 16;

// The first picture of a camera raw file, developed at full size with AHD and turned as
// the camera was held. Converted to sRGB (the default): the camera's as-shot white
// balance and its colour matrix into sRGB, linear light rounded once to 8 bits through
// sRGB's curve, never brightened. Stored values: the sensor's own RGB, each photosite's
// black level subtracted, linear, not white-balanced, the white level at 255 (rounded to
// nearest, halves to even). The result says so (DecodeResult::raw), with the camera's
// name and, for 2 x 2 colour filter arrays, the photosites' levels before demosaicing.
// Nothing (std::nullopt) when the file is no camera raw.
ReadResult DecodeRaw(const ReaderInput& input);

// Before the worker is confined: LibRaw's OpenMP threads (at most a few, whatever the
// machine) and the time zone, which the C library would otherwise read from a file when
// LibRaw reads a file's time stamp.
void PrepareRaw();

}  // namespace vistrel
