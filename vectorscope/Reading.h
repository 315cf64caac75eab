#pragma once
// What the vectorscope reads under the pointer: the colour-difference pair a plot pixel
// stands for at the zoom, its hue angle and its saturation against the 75 % colour
// bars. Pure: a plot position, the zoom and the luma standard in, the reading out.

#include <QString>

#include <optional>

#include "kernels/korvex.h"

namespace vistrel {

struct VectorReading {
    double u = 0;  // blue minus luma, to the right
    double v = 0;  // red minus luma, upwards
    // Counter-clockwise from the +U axis, 0 up to 360; none at the centre, where there is no hue.
    std::optional<double> hueDegrees;
    // The distance from the centre as a share of the distance, in the same direction, to the
    // outline through the six 75 % colour bars' pairs (each bar reads 1, at the centre of its
    // target). The bars lie 86 to 122 pixels out, so no one circle holds them; between two of
    // them the outline is the straight edge that every colour of their saturation lands on,
    // so that the share is a colour's spread of levels (largest minus smallest) over 191.
    double saturation = 0;
};

// The reading at plot pixel (x, y), 0 .. 255 each: U = (x - 128) / zoom, V = (127 - y) / zoom,
// the inverse of where the plot counts a pair; nothing outside the plot.
std::optional<VectorReading> VectorReadingAt(int x, int y, float zoom, korvex::LumaStandard standard);

// The share of the 75 % outline for a pair (u, v) under a standard (VectorReading::saturation).
double TargetShare(double u, double v, korvex::LumaStandard standard);

// "U -28, V 117, hue 103°, sat 100 %": U and V to the nearest whole number, the hue in whole
// degrees, the saturation in whole percent.
QString VectorReadingText(const VectorReading& reading);

}  // namespace vistrel
