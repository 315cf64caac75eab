#pragma once
// A picture held as the reference that another is matched against: what the instruments
// draw of it, kept without the picture itself. Its level counts and (U, V) histogram are
// the whole picture's at full resolution; the waveform is a sampled plot whose samples
// are bounded by its raster, not by the picture, so the reference keeps those samples
// (about 130,000 pixels for every orientation and display width together) instead of
// the pixels they were read from. All of it is kept under both luma standards, so that
// the reference follows a change of standard as the picture loaded does.

#include <QString>

#include <array>
#include <vector>

#include "kernels/korvex.h"
#include "kernels/levels.h"
#include "model/Settings.h"

namespace vistrel {

struct Picture;

// The samples a waveform raster reads for one orientation and raster width: for each
// raster column but the last (which never gets any), the same number of pixels, column
// after column, luma in the fourth byte.
struct WaveformSamples {
    ScopeOrientation orientation = ScopeOrientation::Horizontal;
    int columns = 0;  // the raster width C they were taken for
    std::vector<korvex::Pixel> pixels;
};

// What is kept under one luma standard.
struct ReferenceCounts {
    korvex::LevelCounts levels;
    korvex::UvHistogram histogram;
    std::vector<WaveformSamples> waveform;
};

struct Reference {
    QString name;  // the file's name, as the legends print it
    std::array<ReferenceCounts, 2> counts;  // under Rec. 601, then Rec. 709

    const ReferenceCounts& Under(korvex::LumaStandard standard) const { return counts[Index(standard)]; }
    ReferenceCounts& Under(korvex::LumaStandard standard) { return counts[Index(standard)]; }
    // The waveform's samples for a raster, or none when they were not taken for it.
    const WaveformSamples* SamplesFor(korvex::LumaStandard standard, ScopeOrientation orientation,
                                      int columns) const;

    static constexpr std::size_t Index(korvex::LumaStandard standard) {
        switch (standard) {
            case korvex::LumaStandard::Rec601: return 0;
            case korvex::LumaStandard::Rec709: return 1;
        }
        return 0;
    }
};

// A loaded picture's name and counts under both standards: its own, and the other
// standard's counted afresh from copies of its pixels a band at a time (the picture's
// luma bytes stay as they are). The waveform's samples are the line scope's to take.
Reference CountReference(const Picture& picture);

}  // namespace vistrel
