// The full-resolution (U, V) histogram: counted once per picture, re-binned for the
// vectorscope at any zoom.
//
// The pairs come from ConvertToYuv's own arithmetic, already as cells of the table, a
// short run at a time into a buffer that stays in the first-level cache, so the histogram
// can never disagree with it. The level counts of red, green, blue and luma are taken in
// the same loop, while the run is in that cache.

#include <algorithm>
#include <array>
#include <cassert>

#include "kernels/korvex.h"
#include "kernels/parallel.h"
#include "kernels/yuv_cells.h"

namespace korvex {

namespace {

// Pixels converted per run: 8 KiB of pairs, well inside the first-level cache.
constexpr std::size_t kRunPixels = 2048;
// From this many pixels on, pairs alternate between the counts and a spare table added in
// at the end: runs of equal pairs (smooth areas) then do not wait on one counter's previous
// increment. Below it, adding the spare table in would cost more than it saves.
constexpr std::size_t kSplitPixels = std::size_t{64} * 1024;

inline std::size_t CellOf(UvPair pair) {
    return static_cast<std::size_t>(pair.v - UvHistogram::kMinV) * UvHistogram::kColumns +
           static_cast<std::size_t>(pair.u - UvHistogram::kMinU);
}

bool InRange(std::int32_t u, std::int32_t v) {
    return u >= UvHistogram::kMinU && u <= UvHistogram::kMaxU && v >= UvHistogram::kMinV && v <= UvHistogram::kMaxV;
}

// The level counts of one call, as the hot loop keeps them: 32-bit, so that both sets
// fit in 8 KiB of the first-level cache beside the run. Even pixels count into one set,
// odd ones into the other, so that runs of equal levels do not wait on one counter's
// previous increment; the two are added into the 64-bit counts at the end.
struct LevelTables {
    static constexpr std::size_t kTable = LevelCounts::kChannels * LevelCounts::kLevels;
    std::array<std::uint32_t, 2 * kTable> counts{};

    void AddTo(LevelCounts& levels) const {
        for (std::size_t c = 0; c < LevelCounts::kChannels; ++c)
            for (std::size_t v = 0; v < LevelCounts::kLevels; ++v) {
                const std::size_t k = c * LevelCounts::kLevels + v;
                levels.bins[c][v] += std::uint64_t{counts[k]} + counts[kTable + k];
            }
    }
};
// Pixels of one call counted in 32-bit tables: each set's counters then stay below 2^31.
constexpr std::size_t kLevelBlockPixels = std::size_t{1} << 32;

// One pixel's red, green, blue and luma (fourth byte) into a set of four tables of 256
// levels, laid out as LevelCounts' bins.
inline void CountLevels(Pixel pixel, std::uint32_t* tables) {
    ++tables[LevelCounts::R * LevelCounts::kLevels + ((pixel >> 16) & 0xFF)];
    ++tables[LevelCounts::G * LevelCounts::kLevels + ((pixel >> 8) & 0xFF)];
    ++tables[LevelCounts::B * LevelCounts::kLevels + (pixel & 0xFF)];
    ++tables[LevelCounts::Y * LevelCounts::kLevels + (pixel >> 24)];
}

// The loop asks for the run after this one as it counts this one, a cache line every
// kLinePixels: it computes too long per line for the processor's own prefetcher to keep
// ahead, and without this it waits on memory for a good part of its time. The run's luma
// is written back, hence for writing.
constexpr std::size_t kLinePixels = 64 / sizeof(Pixel);

void AddLevels(LevelCounts& into, const LevelCounts& from) {
    for (std::size_t c = 0; c < LevelCounts::kChannels; ++c)
        for (std::size_t v = 0; v < LevelCounts::kLevels; ++v) into.bins[c][v] += from.bins[c][v];
}

}  // namespace

void UvHistogram::AddPixels(std::span<Pixel> pixels, LumaStandard standard) { Add(pixels, standard, nullptr); }

void UvHistogram::AddPixels(std::span<Pixel> pixels, LumaStandard standard, LevelCounts& levels) {
    Add(pixels, standard, &levels);
}

void UvHistogram::AddPixelsAlternating(std::span<Pixel> pixels, LumaStandard standard, LevelCounts& levels,
                                       UvHistogram& odd) {
    assert(&odd != this);
    Add(pixels, standard, &levels, odd.counts_.data());
}

void UvHistogram::Add(std::span<Pixel> pixels, LumaStandard standard, LevelCounts* levels, std::uint32_t* oddCounts) {
    if (levels != nullptr && pixels.size() > kLevelBlockPixels) {
        for (std::size_t begin = 0; begin < pixels.size(); begin += kLevelBlockPixels)
            Add(pixels.subspan(begin, std::min(kLevelBlockPixels, pixels.size() - begin)), standard, levels, oddCounts);
        return;
    }
    std::array<std::uint32_t, kRunPixels> cells;
    // A caller's own odd table is never added in here; the spare one is, at the end.
    const bool split = oddCounts == nullptr && pixels.size() >= kSplitPixels;
    if (split && spare_.empty()) spare_.assign(kCells, 0u);
    std::uint32_t* const even = counts_.data();
    std::uint32_t* const odd = oddCounts != nullptr ? oddCounts : split ? spare_.data() : counts_.data();
    LevelTables tables;
    std::uint32_t* const evenLevels = tables.counts.data();
    std::uint32_t* const oddLevels = tables.counts.data() + LevelTables::kTable;
    for (std::size_t begin = 0; begin < pixels.size(); begin += kRunPixels) {
        const std::size_t n = std::min(kRunPixels, pixels.size() - begin);
        detail::ConvertToCells(pixels.data() + begin, cells.data(), n, standard);
        std::size_t k = 0;
        // The next run's lines, asked for while this one is counted.
        const std::size_t nextBegin = std::min(pixels.size(), begin + kRunPixels);
        const Pixel* const next = pixels.data() + nextBegin;
        const std::size_t ahead = std::min(kRunPixels, pixels.size() - nextBegin);
        if (levels != nullptr) {
            const Pixel* const run = pixels.data() + begin;
            for (; k + 1 < n; k += 2) {
                assert(cells[k] < kCells && cells[k + 1] < kCells);
                if (k % kLinePixels == 0 && k < ahead) __builtin_prefetch(next + k, 1);
                ++even[cells[k]];
                ++odd[cells[k + 1]];
                CountLevels(run[k], evenLevels);
                CountLevels(run[k + 1], oddLevels);
            }
            if (k < n) CountLevels(run[k], evenLevels);
        } else {
            for (; k + 1 < n; k += 2) {
                assert(cells[k] < kCells && cells[k + 1] < kCells);
                if (k % kLinePixels == 0 && k < ahead) __builtin_prefetch(next + k, 1);
                ++even[cells[k]];
                ++odd[cells[k + 1]];
            }
        }
        if (k < n) ++even[cells[k]];
    }
    if (split) {
        for (std::size_t c = 0; c < kCells; ++c) even[c] += odd[c];
        std::fill(spare_.begin(), spare_.end(), 0u);
    }
    if (levels != nullptr) tables.AddTo(*levels);
}

void UvHistogram::CountRows(const Pixel* first, std::size_t width, std::size_t rows, std::size_t stride,
                            LumaStandard standard, LevelCounts& levels) {
    if (width == 0 || rows == 0) return;
    const std::size_t blockRows = std::max<std::size_t>(1, kLevelBlockPixels / width);
    if (rows > blockRows) {
        for (std::size_t r = 0; r < rows; r += blockRows)
            CountRows(first + r * stride, width, std::min(blockRows, rows - r), stride, standard, levels);
        return;
    }
    // The pixels are only read: their luma is the one their fourth byte holds, and none of
    // their lines is written back to memory.
    std::array<std::uint32_t, kRunPixels> cells;
    const bool split = width * rows >= kSplitPixels;
    if (split && spare_.empty()) spare_.assign(kCells, 0u);
    std::uint32_t* const even = counts_.data();
    std::uint32_t* const odd = split ? spare_.data() : counts_.data();
    LevelTables tables;
    std::uint32_t* const evenLevels = tables.counts.data();
    std::uint32_t* const oddLevels = tables.counts.data() + LevelTables::kTable;
    for (std::size_t r = 0; r < rows; ++r) {
        const Pixel* const row = first + r * stride;
        for (std::size_t begin = 0; begin < width; begin += kRunPixels) {
            const std::size_t n = std::min(kRunPixels, width - begin);
            const Pixel* const run = row + begin;
            detail::CellsOf(run, cells.data(), n, standard);
            // The next run's lines, this row's or the next row's, asked for while this one is counted.
            const bool rowGoesOn = begin + kRunPixels < width;
            const Pixel* const next = rowGoesOn ? row + begin + kRunPixels : row + stride;
            const std::size_t ahead = rowGoesOn ? std::min(kRunPixels, width - begin - kRunPixels)
                                                : (r + 1 < rows ? std::min(kRunPixels, width) : 0);
            std::size_t k = 0;
            for (; k + 1 < n; k += 2) {
                assert(cells[k] < kCells && cells[k + 1] < kCells);
                if (k % kLinePixels == 0 && k < ahead) __builtin_prefetch(next + k);
                ++even[cells[k]];
                ++odd[cells[k + 1]];
                CountLevels(run[k], evenLevels);
                CountLevels(run[k + 1], oddLevels);
            }
            if (k < n) {
                ++even[cells[k]];
                CountLevels(run[k], evenLevels);
            }
        }
    }
    if (split) {
        for (std::size_t c = 0; c < kCells; ++c) even[c] += odd[c];
        std::fill(spare_.begin(), spare_.end(), 0u);
    }
    tables.AddTo(levels);
}

void UvHistogram::Merge(const UvHistogram& other) {
    for (std::size_t k = 0; k < kCells; ++k) counts_[k] += other.counts_[k];
}

void UvHistogram::Clear() { std::fill(counts_.begin(), counts_.end(), 0u); }

std::uint32_t UvHistogram::count(std::int32_t u, std::int32_t v) const {
    if (!InRange(u, v)) return 0;
    return counts_[CellOf(UvPair{static_cast<std::int16_t>(u), static_cast<std::int16_t>(v)})];
}

std::uint64_t UvHistogram::total() const {
    std::uint64_t sum = 0;
    for (const std::uint32_t c : counts_) sum += c;
    return sum;
}

UvPair PairOf(Pixel pixel, LumaStandard standard) {
    UvPair pair{0, 0};
    ConvertToYuv(std::span<Pixel>(&pixel, 1), std::span<UvPair>(&pair, 1), standard);
    return pair;
}

ExactPair UnroundedPairOf(Pixel pixel, LumaStandard standard) {
    const std::int64_t b = pixel & 0xFFu;
    const std::int64_t g = (pixel >> 8) & 0xFFu;
    const std::int64_t r = (pixel >> 16) & 0xFFu;
    switch (standard) {
        case LumaStandard::Rec601: {
            const std::int64_t s = 299 * r + 587 * g + 114 * b;  // 1000 Y'
            return {static_cast<double>(492 * (1000 * b - s)) / 1e6, static_cast<double>(877 * (1000 * r - s)) / 1e6};
        }
        case LumaStandard::Rec709: {
            const std::int64_t s = 2126 * r + 7152 * g + 722 * b;  // 10^4 Y'
            return {static_cast<double>(4698 * (10000 * b - s)) / 1e8,
                    static_cast<double>(7808 * (10000 * r - s)) / 1e8};
        }
    }
    return {0, 0};
}

namespace {

UvHistogram Analyse(std::span<Pixel> pixels, LumaStandard standard, LevelCounts* levels) {
    const std::size_t chunks = detail::ChunkCount(pixels.size());
    std::vector<UvHistogram> parts(chunks);
    std::vector<LevelCounts> partLevels(levels != nullptr ? chunks : 0);
    detail::ForEachChunk(pixels.size(), chunks, [&](std::size_t chunk, std::size_t begin, std::size_t end) {
        const std::span<Pixel> piece = pixels.subspan(begin, end - begin);
        if (levels != nullptr)
            parts[chunk].AddPixels(piece, standard, partLevels[chunk]);
        else
            parts[chunk].AddPixels(piece, standard);
    });
    for (std::size_t c = 1; c < chunks; ++c) parts[0].Merge(parts[c]);
    for (const LevelCounts& part : partLevels) AddLevels(*levels, part);
    return std::move(parts[0]);
}

}  // namespace

UvHistogram AnalysePixels(std::span<Pixel> pixels, LumaStandard standard) { return Analyse(pixels, standard, nullptr); }

UvHistogram AnalysePixels(std::span<Pixel> pixels, LumaStandard standard, LevelCounts& levels) {
    return Analyse(pixels, standard, &levels);
}

}  // namespace korvex
