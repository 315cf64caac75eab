#include "model/Reference.h"

#include <QFileInfo>

#include <algorithm>

#include "model/Picture.h"

namespace vistrel {

namespace {

// Pixels copied and counted at a time under the other standard: 16 MiB of scratch,
// enough for the analysis to split over its threads.
constexpr std::size_t kScratchPixels = std::size_t{1} << 22;

korvex::LumaStandard Other(korvex::LumaStandard standard) {
    switch (standard) {
        case korvex::LumaStandard::Rec601: return korvex::LumaStandard::Rec709;
        case korvex::LumaStandard::Rec709: return korvex::LumaStandard::Rec601;
    }
    return korvex::LumaStandard::Rec601;
}

}  // namespace

const WaveformSamples* Reference::SamplesFor(korvex::LumaStandard standard, ScopeOrientation orientation,
                                             int columns) const {
    for (const WaveformSamples& samples : Under(standard).waveform)
        if (samples.orientation == orientation && samples.columns == columns) return &samples;
    return nullptr;
}

Reference CountReference(const Picture& picture) {
    Reference reference;
    reference.name = QFileInfo(picture.file).fileName();
    ReferenceCounts& own = reference.Under(picture.luma);
    own.levels = picture.levels;
    own.histogram = picture.histogram;

    ReferenceCounts& other = reference.Under(Other(picture.luma));
    const std::span<const korvex::Pixel> pixels = picture.pixels.span();
    std::vector<korvex::Pixel> band(std::min(kScratchPixels, pixels.size()));
    for (std::size_t first = 0; first < pixels.size(); first += band.size()) {
        const std::size_t count = std::min(band.size(), pixels.size() - first);
        std::copy_n(pixels.begin() + static_cast<std::ptrdiff_t>(first), count, band.begin());
        other.histogram.Merge(
            korvex::AnalysePixels(std::span(band.data(), count), Other(picture.luma), other.levels));
    }
    return reference;
}

}  // namespace vistrel
