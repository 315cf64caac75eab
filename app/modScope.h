#pragma once
// The state the windows share. Only the main window writes it; the instrument
// windows read it. Everything starts zeroed.

#include "kernels/korvex.h"
#include "platform/Gdi.h"

namespace vistrel {

struct ModScope {
    GdiObject DcPen{};          // stock DC pen, its colour set per drawing
    GdiObject NullBrush{};      // stock hollow brush
    ColorValue ScaleColor = 0;  // graticule colour of both instruments: lamp v gives v * 256 + v
    bool PicLoaded = false;     // a picture is loaded and analysed
    bool ProbeLocked = false;   // a probe is locked and the crosshair bars are shown
    korvex::PixelGrid PicPixels;  // the picture at full size, luma in the fourth byte
    korvex::UvHistogram PicHistogram;  // how many full-size pixels have each (U, V) pair
    korvex::LumaStandard Luma = korvex::LumaStandard::Rec601;  // weights of luma and (U, V), and the targets
    bool SkinToneLine = false;    // the vectorscope's graticule shows the skin-tone line
};

}  // namespace vistrel
