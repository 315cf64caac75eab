#pragma once
// A camera sensor's photosites before demosaicing, counted and marked: how many of each
// class of the colour filter array sit at each raw value inside a rectangle, and which
// view pixels stand over photosites at or above the white level. The photosites are the
// sensor's visible area in its own orientation; the developed picture is that area turned
// (LibRaw's flip bits) and, for pixels that are not square, stretched.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernels/region.h"

namespace korvex {

// Every raw value a photosite can hold.
inline constexpr std::size_t kPhotositeValues = 65536;
// The classes of a filter array's places (R, G1, G2, B).
inline constexpr std::size_t kPhotositeClasses = 4;

struct Photosites {
    const std::uint16_t* values = nullptr;  // width x height, row by row
    std::size_t width = 0;
    std::size_t height = 0;
    std::size_t repeat = 2;               // the filter array's side
    const std::uint8_t* pattern = nullptr;  // repeat x repeat classes (0 .. 3), row by row
    int flip = 0;  // 1 mirrored left to right, 2 top to bottom, 4 rows and columns swapped
};

// The photosites under a rectangle of the developed picture (pictureWidth x
// pictureHeight, the sensor turned): its rows and columns turned back onto the sensor,
// and scaled where the picture's sides are not the sensor's. Empty for an empty rectangle.
PixelRect SensorRectOf(const Photosites& sites, std::size_t pictureWidth, std::size_t pictureHeight,
                       const PixelRect& picture);

// How many photosites of each class inside `rect` (a rectangle of the sensor, wholly
// inside it) hold each raw value: kPhotositeClasses tables of kPhotositeValues counts.
using PhotositeHistograms = std::array<std::vector<std::uint32_t>, kPhotositeClasses>;
PhotositeHistograms CountPhotosites(const Photosites& sites, const PixelRect& rect);

// The raw clipping marks of a viewWidth x viewHeight view of the developed picture,
// fitted by area as ClipMarks fits it: bit (1 << channel) of a view pixel (0 red, 1 green,
// 2 blue) is set when any photosite of that channel at or above `white` lies under any
// picture pixel the view pixel covers. channelOf names each class's channel. All zeros
// when white is 0 (no white level).
std::vector<std::uint8_t> RawClipMarks(const Photosites& sites, std::uint32_t white,
                                       const std::array<std::uint8_t, kPhotositeClasses>& channelOf,
                                       std::size_t pictureWidth, std::size_t pictureHeight, std::size_t viewWidth,
                                       std::size_t viewHeight);

// out[i] = view[i] where marks[i] is 0, else the marked channels' colours added (red
// 0xFF0000, green 0x00FF00, blue 0x0000FF: a red and green photosite clipped under one
// view pixel show yellow). view, marks and out hold n elements each; out may be view.
void ApplyRawClipMarks(const Pixel* view, const std::uint8_t* marks, Pixel* out, std::size_t n);

}  // namespace korvex
