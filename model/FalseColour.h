#pragma once
// False colour's bands as the user sets them, and the presets they start from. Plain data:
// the settings value holds them, the workspace keeps them between runs, and the view's
// kernel (kernels/falsecolour.h) takes their levels and colours.

#include <QString>

#include <cstdint>
#include <vector>

#include "kernels/falsecolour.h"

namespace vistrel {

// A band of luma levels, low to high (both inclusive, 0..255), its colour (0x00RRGGBB)
// and the word the legend names it by.
struct FalseColourBand {
    int low = 0;
    int high = 0;
    std::uint32_t colour = 0;
    QString name;

    bool operator==(const FalseColourBand&) const = default;
};

// The bands a monitor's false colour commonly shows for a picture's Y levels: the ends of
// the scale, middle grey, and skin one stop over it.
std::vector<FalseColourBand> DefaultFalseColourBands();

struct FalseColourPreset {
    QString name;
    std::vector<FalseColourBand> bands;
};
// The presets the bands dialog offers, the default bands first.
std::vector<FalseColourPreset> FalseColourPresets();

// The levels and colours alone, as the kernel takes them.
std::vector<korvex::LumaBand> LumaBandsOf(const std::vector<FalseColourBand>& bands);

// Whether a set of bands can be used: at most korvex::kMaxLumaBands of them, each with
// 0 <= low <= high <= 255.
bool ValidBands(const std::vector<FalseColourBand>& bands);

// Zebras mark from this Y level up by default: the top of video's nominal range, above
// which a broadcast picture's highlights have no detail.
inline constexpr int kDefaultZebraLevel = 235;

}  // namespace vistrel
