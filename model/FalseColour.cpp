#include "model/FalseColour.h"

namespace vistrel {

std::vector<FalseColourBand> DefaultFalseColourBands() {
    return {
        {0, 4, 0x800080, QStringLiteral("black")},
        {5, 12, 0x0000FF, QStringLiteral("near black")},
        {13, 25, 0x00A0FF, QStringLiteral("deep shadow")},
        {97, 107, 0x00C000, QStringLiteral("middle grey")},
        {138, 148, 0xFF80C0, QStringLiteral("skin, one stop over grey")},
        {230, 244, 0xFFFF00, QStringLiteral("near white")},
        {245, 255, 0xFF0000, QStringLiteral("white")},
    };
}

std::vector<FalseColourPreset> FalseColourPresets() {
    return {
        {QStringLiteral("Standard"), DefaultFalseColourBands()},
        // Video's nominal range puts black at 16 and white at 235: what lies outside it is
        // lost to a studio-range signal.
        {QStringLiteral("Video range (16-235)"),
         {{0, 15, 0x0000FF, QStringLiteral("below video black")},
          {236, 255, 0xFF0000, QStringLiteral("above video white")}}},
    };
}

std::vector<korvex::LumaBand> LumaBandsOf(const std::vector<FalseColourBand>& bands) {
    std::vector<korvex::LumaBand> levels;
    levels.reserve(bands.size());
    for (const FalseColourBand& band : bands) levels.push_back({band.low, band.high, band.colour});
    return levels;
}

bool ValidBands(const std::vector<FalseColourBand>& bands) {
    if (bands.size() > korvex::kMaxLumaBands) return false;
    for (const FalseColourBand& band : bands)
        if (band.low < 0 || band.high > 255 || band.low > band.high) return false;
    return true;
}

}  // namespace vistrel
