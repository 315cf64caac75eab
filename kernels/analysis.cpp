#include "kernels/analysis.h"

#include <algorithm>

#include "kernels/parallel.h"

namespace korvex {

namespace {
// Rows counted and then added to the view in one go hold about this many bytes: well
// inside a core's second-level cache.
constexpr std::size_t kCachedBytes = std::size_t{128} * 1024;
// A backlog of at least this many pixels is split over the threads once the decoder is
// done. Each thread counts into tables of its own, some 700 KiB of new pages: their page
// faults (some 10 us each on these virtual machines) cost more than a smaller split saves.
constexpr std::size_t kSplitBacklogPixels = std::size_t{4} << 20;
}  // namespace

BandAnalysis::BandAnalysis(Pixel* picture, std::size_t width, std::size_t height, std::size_t stride, Pixel* view,
                           std::size_t viewWidth, std::size_t viewHeight, LumaStandard standard)
    : picture_(picture),
      width_(picture != nullptr && width != 0 ? width : 0),
      height_(picture != nullptr && width != 0 ? height : 0),
      stride_(stride),
      view_(width_, height_, view, viewWidth, viewHeight),
      tally_(width_ * height_),
      standard_(standard) {}

void BandAnalysis::AnalyseTo(std::size_t rows, bool allThreads) {
    rows = std::min(rows, height_);
    if (rows <= rowsDone_) return;
    Pixel* const first = picture_ + rowsDone_ * stride_;
    const std::size_t count = rows - rowsDone_;
    // The view reads blue, green and red only, so it may follow the luma pass.
    if (stride_ == width_ && allThreads && count * width_ >= kSplitBacklogPixels && detail::ChunkCount(count * width_) > 1) {
        histogram_.Merge(AnalysePixels(std::span<Pixel>(first, count * width_), standard_, levels_));
        view_.AddRows(first, count, stride_);
    } else {
        // A few rows at a time, so that the view reads them while the counting pass has
        // left them in the core's cache.
        const std::size_t step = std::max<std::size_t>(1, kCachedBytes / (width_ * sizeof(Pixel)));
        for (std::size_t done = 0; done < count; done += step) {
            const std::size_t n = std::min(step, count - done);
            Pixel* const part = first + done * stride_;
            if (stride_ == width_) {
                histogram_.AddBand(std::span<Pixel>(part, n * width_), standard_, levels_, tally_);
            } else {
                for (std::size_t y = 0; y < n; ++y)
                    histogram_.AddBand(std::span<Pixel>(part + y * stride_, width_), standard_, levels_, tally_);
            }
            view_.AddRows(part, n, stride_);
        }
    }
    rowsDone_ = rows;
    if (finished()) tally_.AddTo(histogram_, levels_);
}

}  // namespace korvex
