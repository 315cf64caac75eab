#pragma once
// What is drawn over the vectorscope plot: the graticule (circle, centre cross,
// six colour-bar targets) in the scale colour, and the probe marker, a thick
// line from the centre to a pixel's colour-difference pair in its own colour.

#include <array>

#include "kernels/korvex.h"
#include "model/Channels.h"
#include "platform/Gdi.h"

namespace vistrel {

// A target outline, right and bottom excluded.
struct TargetBox {
    int left;
    int top;
    int right;
    int bottom;
};

// The 75 % colour bars, drawn in this order: red, cyan, green, magenta, blue, yellow.
// Centred on (128 + U, 127 - V) of each bar; fixed in window pixels, whatever the zoom.
inline constexpr std::array<TargetBox, 6> kTargetBoxes{{
    {95, 5, 105, 15},
    {151, 241, 161, 251},
    {67, 222, 77, 232},
    {179, 24, 189, 34},
    {207, 142, 217, 152},
    {39, 104, 49, 114},
}};

// The 75 % colour bars' level: three quarters of 255, rounded.
inline constexpr unsigned kBarLevel = 191;

// The target boxes of a luma standard, in drawing order. Rec. 601 has the designed
// boxes above; for Rec. 709 each box is centred on the cell (128 + U, 127 - V) that
// its bar's pair lands in under that standard: Rectangle(c - 5, r - 5, c + 5, r + 5).
std::array<TargetBox, 6> TargetBoxesFor(korvex::LumaStandard standard);

// The skin-tone direction, counter-clockwise from the +U axis, under either standard.
inline constexpr double kSkinToneDegrees = 123.0;

// What the graticule shows besides its fixed circle and centre cross.
struct GraticuleOptions {
    korvex::LumaStandard luma = korvex::LumaStandard::Rec601;
    bool skinToneLine = false;  // a line from the centre to the circle along the skin tones
};

// Where the skin-tone line ends: on the circle, at the pair of radius 128 in that direction.
korvex::Point SkinToneLineEnd();

// Every marker starts here, one pixel left of where a colourless pair lands.
inline constexpr korvex::Point kMarkerOrigin{127, 127};
// The marker's line width in pixels.
inline constexpr int kMarkerWidth = 3;

// The graticule as hollow one-pixel outlines in the scale colour, with the
// given stock pen and hollow brush; nothing when the lamp is off.
void DrawGraticuleOn(Dc& dc, GdiObject pen, GdiObject hollowBrush, ColorValue scaleColor,
                     const GraticuleOptions& options = {});

// Where a pair's marker ends at a zoom: (128 + U z, 127 - V z) rounded half
// to even, each clamped to 0..255.
korvex::Point ProbeEnd(korvex::UvPair pair, float zoom);

// Adds the marker over whatever the surface holds; the dc's pen width and
// colour are left as they were.
void MarkProbeOn(Dc& dc, korvex::UvPair pair, ColorValue color, float zoom);

}  // namespace vistrel
