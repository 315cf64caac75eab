#pragma once
// The analysis of a picture as its rows arrive: each band's luma into the fourth byte,
// its (U, V) pairs into the histogram, its levels into the level counts and its share
// of the area-averaged view. The
// result is the same however the rows are split into bands, at any thread count.

#include <cstddef>

#include "kernels/area.h"
#include "kernels/korvex.h"
#include "kernels/levels.h"

namespace korvex {

class BandAnalysis {
public:
    // picture: height rows of width pixels, stride pixels apart, analysed in place; view:
    // viewWidth x viewHeight pixels, filled as rows complete. Both must outlive the analysis.
    // Luma and the pairs are formed with the standard's weights.
    BandAnalysis(Pixel* picture, std::size_t width, std::size_t height, std::size_t stride, Pixel* view,
                 std::size_t viewWidth, std::size_t viewHeight, LumaStandard standard = LumaStandard::Rec601);

    // Analyses rows rowsDone() .. rows - 1 (rows is clamped to the height). With
    // allThreads, large bands are split over ThreadCount() threads; otherwise all the
    // work stays on the calling thread.
    void AnalyseTo(std::size_t rows, bool allThreads);

    std::size_t rowsDone() const { return rowsDone_; }
    std::size_t height() const { return height_; }
    bool finished() const { return rowsDone_ == height_; }
    // The pairs of the picture, once finished().
    const UvHistogram& histogram() const { return histogram_; }
    UvHistogram& histogram() { return histogram_; }
    // The red, green, blue and luma level counts of the rows analysed so far.
    const LevelCounts& levels() const { return levels_; }

private:
    Pixel* picture_;
    std::size_t width_, height_, stride_;
    AreaResampler view_;
    UvHistogram histogram_;
    // What the bands counted on the calling thread keep (every second pixel's pair, a
    // large picture's levels as pairs), added into histogram_ and levels_ when the last
    // row is in: a spare table added in once per band cost more than the counting it
    // spared on a photograph's noise.
    BandTally tally_;
    LevelCounts levels_;
    LumaStandard standard_;
    std::size_t rowsDone_ = 0;
};

}  // namespace korvex
