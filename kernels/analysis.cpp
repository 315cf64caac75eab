#include "kernels/analysis.h"

#include <algorithm>

#include "kernels/parallel.h"

namespace korvex {

BandAnalysis::BandAnalysis(Pixel* picture, std::size_t width, std::size_t height, std::size_t stride, Pixel* view,
                           std::size_t viewWidth, std::size_t viewHeight, LumaStandard standard)
    : picture_(picture),
      width_(picture != nullptr && width != 0 ? width : 0),
      height_(picture != nullptr && width != 0 ? height : 0),
      stride_(stride),
      view_(width_, height_, view, viewWidth, viewHeight),
      standard_(standard) {}

void BandAnalysis::AnalyseTo(std::size_t rows, bool allThreads) {
    rows = std::min(rows, height_);
    if (rows <= rowsDone_) return;
    Pixel* const first = picture_ + rowsDone_ * stride_;
    const std::size_t count = rows - rowsDone_;
    // The view reads blue, green and red only, so it may follow the luma pass.
    if (stride_ == width_ && allThreads && detail::ChunkCount(count * width_) > 1) {
        histogram_.Merge(AnalysePixels(std::span<Pixel>(first, count * width_), standard_, levels_));
    } else if (stride_ == width_) {
        histogram_.AddPixelsAlternating(std::span<Pixel>(first, count * width_), standard_, levels_, odd_);
    } else {
        for (std::size_t y = 0; y < count; ++y)
            histogram_.AddPixelsAlternating(std::span<Pixel>(first + y * stride_, width_), standard_, levels_, odd_);
    }
    view_.AddRows(first, count, stride_);
    rowsDone_ = rows;
    if (finished()) {
        histogram_.Merge(odd_);
        odd_.Clear();
    }
}

}  // namespace korvex
