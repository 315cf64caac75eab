#include "kernels/region.h"

#include <algorithm>
#include <vector>

#include "kernels/parallel.h"

namespace korvex {

RegionCounts CountRegion(const Pixel* picture, std::size_t stride, const PixelRect& rect, LumaStandard standard) {
    RegionCounts counts;
    if (picture == nullptr || rect.empty()) return counts;
    const Pixel* const first = picture + rect.y * stride + rect.x;
    // Split by rows: a chunk is a band of whole rows, so a thread's reads run in order.
    const std::size_t chunks = std::min(detail::ChunkCount(rect.width * rect.height), rect.height);
    std::vector<UvHistogram> parts(chunks - 1);
    std::vector<LevelCounts> partLevels(chunks - 1);
    detail::ForEachChunk(rect.height, chunks, [&](std::size_t chunk, std::size_t begin, std::size_t end) {
        UvHistogram& histogram = chunk == 0 ? counts.histogram : parts[chunk - 1];
        LevelCounts& levels = chunk == 0 ? counts.levels : partLevels[chunk - 1];
        histogram.CountRows(first + begin * stride, rect.width, end - begin, stride, standard, levels);
    });
    for (std::size_t c = 0; c + 1 < chunks; ++c) {
        counts.histogram.Merge(parts[c]);
        for (std::size_t channel = 0; channel < LevelCounts::kChannels; ++channel)
            for (std::size_t v = 0; v < LevelCounts::kLevels; ++v)
                counts.levels.bins[channel][v] += partLevels[c].bins[channel][v];
    }
    return counts;
}

}  // namespace korvex
