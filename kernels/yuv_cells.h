#pragma once
// Internal to the kernels: ConvertToYuv's luma for the histogram's own counting.

#include <cstddef>
#include <cstdint>

#include "kernels/korvex.h"

namespace korvex::detail {

// Writes each pixel's luma into its fourth byte as ConvertToYuv does, and each pixel's
// pair as its cell in UvHistogram's table, (v - kMinV) * kColumns + (u - kMinU). On the
// calling thread.
void ConvertToCells(Pixel* pixels, std::uint32_t* cells, std::size_t count, LumaStandard standard);
// The cells alone, the pixels only read.
void CellsOf(const Pixel* pixels, std::uint32_t* cells, std::size_t count, LumaStandard standard);

}  // namespace korvex::detail
