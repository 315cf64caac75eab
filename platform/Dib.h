#pragma once
// Device-independent bitmap transfers between a surface and a pixel buffer.

#include <cstddef>
#include <cstdint>

#include "platform/Surface.h"

namespace vistrel {

// The 40-byte bitmap information header.
struct BitmapInfoHeader {
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;  // negative: rows run top-down
    std::uint16_t biPlanes = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);
static_assert(offsetof(BitmapInfoHeader, biWidth) == 4);
static_assert(offsetof(BitmapInfoHeader, biHeight) == 8);
static_assert(offsetof(BitmapInfoHeader, biPlanes) == 12);
static_assert(offsetof(BitmapInfoHeader, biBitCount) == 14);
static_assert(offsetof(BitmapInfoHeader, biCompression) == 16);
static_assert(offsetof(BitmapInfoHeader, biSizeImage) == 20);
static_assert(offsetof(BitmapInfoHeader, biClrImportant) == 36);

inline constexpr std::uint32_t kBiRgb = 0;  // uncompressed
inline constexpr unsigned kDibRgbColors = 0;

// Bytes in one row: ((bits * width + 31) \ 32) * 4.
constexpr std::uint64_t DibStride(std::uint16_t bitCount, std::int64_t width) {
    return ((static_cast<std::uint64_t>(bitCount) * static_cast<std::uint64_t>(width) + 31) / 32) * 4;
}

// A header for a top-down 32-bit picture of the given size, image size filled in.
BitmapInfoHeader TopDownHeader(std::int32_t width, std::int32_t height);

// Reads scanLines rows of the surface from startScan on into bits, as the
// 32-bit top-down layout the header describes (its width must not exceed the
// surface's). The fourth byte of every pixel read is 0. Returns the rows copied.
int GetDIBits(const Surface& surface, int startScan, int scanLines, Pixel* bits, const BitmapInfoHeader& header);

// Writes scanLines rows of bits (32-bit top-down, the header's width) into the
// surface from row startScan on, clipped to the surface. On screen every pixel
// is opaque, whatever its fourth byte holds. Returns the rows written.
int SetDIBits(Surface& surface, int startScan, int scanLines, const Pixel* bits, const BitmapInfoHeader& header);

}  // namespace vistrel
