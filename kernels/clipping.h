#pragma once
// Where a picture is clipped, as the view shows it: a view pixel is marked when any
// full-size pixel it covers has a channel at 255 (a highlight) or at 0 (a shadow), so
// that a single clipped pixel never hides in the view's average.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernels/korvex.h"

namespace korvex {

// One byte a view pixel: which kinds of clipping the full-size pixels under it show.
enum ClipMark : std::uint8_t { kClipNone = 0, kClipHighlight = 1, kClipShadow = 2 };

// The marks of a viewWidth x viewHeight view of a sourceWidth x sourceHeight picture
// (rows `stride` pixels apart; the fourth byte of each pixel is ignored). The view
// covers the picture as the area resampling fits it: view column X stands for the
// source columns [X * sw / vw, (X + 1) * sw / vw), and every source column that
// interval touches, however little, counts; the same down. Empty for an empty side.
std::vector<std::uint8_t> ClipMarks(const Pixel* source, std::size_t sourceWidth, std::size_t sourceHeight,
                                    std::size_t stride, std::size_t viewWidth, std::size_t viewHeight);

// out[i] = view[i] where marks[i] is 0, else the highlight colour when the highlight bit
// is set (a pixel both blown and crushed shows as blown), else the shadow colour.
// Colours are 0x00RRGGBB; view, marks and out hold n elements each.
void ApplyClipMarks(const Pixel* view, const std::uint8_t* marks, Pixel* out, std::size_t n, Pixel highlight,
                    Pixel shadow);

}  // namespace korvex
