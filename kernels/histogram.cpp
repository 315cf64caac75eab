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
#include "kernels/simd.h"
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

// Levels counted as pairs: cell 256 G + B of the first table, 256 Y + R of the second,
// the pixel's low and high halves as they are. Half the increments of four tables of 256,
// in tables whose cells a photograph's noise spreads its neighbouring pixels over, so that
// few increments wait on the one before. A picture has at most 2^30 pixels: the 32-bit
// cells never overflow.
constexpr std::size_t kPairCells = LevelCounts::kLevels * LevelCounts::kLevels;
constexpr std::size_t kPairedLevelCells = 2 * kPairCells;

// How a call counts levels, chosen once outside its pixel loop.
enum class LevelWay {
    None,    // pairs only
    Tables,  // four tables of 256, two sets (LevelTables)
    Paired,  // the two tables of pairs
};

// The next run's lines are asked for while this one is counted, a cache line every
// kLinePixels: the loop computes too long per line for the processor's own prefetcher
// to keep ahead, and without this it waits on memory for a good part of its time.
constexpr std::size_t kLinePixels = 64 / sizeof(Pixel);

// One pixel's red, green, blue and luma (fourth byte) into set `set` of the level tables.
template <LevelWay kWay>
KORVEX_ALWAYS_INLINE void CountLevels(Pixel pixel, std::uint32_t* levels, std::size_t set) {
    if constexpr (kWay == LevelWay::Tables) {
        std::uint32_t* const tables = levels + set * LevelTables::kTable;
        ++tables[LevelCounts::R * LevelCounts::kLevels + ((pixel >> 16) & 0xFF)];
        ++tables[LevelCounts::G * LevelCounts::kLevels + ((pixel >> 8) & 0xFF)];
        ++tables[LevelCounts::B * LevelCounts::kLevels + (pixel & 0xFF)];
        ++tables[LevelCounts::Y * LevelCounts::kLevels + (pixel >> 24)];
    } else if constexpr (kWay == LevelWay::Paired) {
        // 0xYYRRGGBB: the low half is 256 G + B, the high half 256 Y + R.
        ++levels[pixel & 0xFFFFu];
        ++levels[kPairCells + (pixel >> 16)];
    }
}

// Counts a run's cells into the even and odd tables of pairs, alternately, and its pixels'
// levels, asking for the `ahead` pixels at `next` meanwhile (for writing when kForWriting).
template <LevelWay kWay, bool kForWriting>
KORVEX_ALWAYS_INLINE void CountRun(const std::uint32_t* cells, const Pixel* run, std::size_t n, const Pixel* next,
                                   std::size_t ahead, std::uint32_t* even, std::uint32_t* odd, std::uint32_t* levels) {
    std::size_t k = 0;
    for (; k + 1 < n; k += 2) {
        assert(cells[k] < UvHistogram::kCells && cells[k + 1] < UvHistogram::kCells);
        if (k % kLinePixels == 0 && k < ahead) __builtin_prefetch(next + k, kForWriting ? 1 : 0);
        ++even[cells[k]];
        ++odd[cells[k + 1]];
        CountLevels<kWay>(run[k], levels, 0);
        CountLevels<kWay>(run[k + 1], levels, 1);
    }
    if (k < n) {
        ++even[cells[k]];
        CountLevels<kWay>(run[k], levels, 0);
    }
}

// Converts the pixels a run at a time (luma into their fourth bytes) and counts them.
template <LevelWay kWay>
void ConvertAndCount(std::span<Pixel> pixels, LumaStandard standard, std::uint32_t* even, std::uint32_t* odd,
                     std::uint32_t* levels) {
    std::array<std::uint32_t, kRunPixels> cells;
    for (std::size_t begin = 0; begin < pixels.size(); begin += kRunPixels) {
        const std::size_t n = std::min(kRunPixels, pixels.size() - begin);
        detail::ConvertToCells(pixels.data() + begin, cells.data(), n, standard);
        // The next run's lines, asked for while this one is counted; its luma is written
        // back, hence for writing.
        const std::size_t nextBegin = std::min(pixels.size(), begin + kRunPixels);
        const std::size_t ahead = std::min(kRunPixels, pixels.size() - nextBegin);
        CountRun<kWay, true>(cells.data(), pixels.data() + begin, n, pixels.data() + nextBegin, ahead, even, odd,
                             levels);
    }
}

// Counts `rows` rows of pixels that already carry their luma, only reading them.
template <LevelWay kWay>
void CountReadOnly(const Pixel* first, std::size_t width, std::size_t rows, std::size_t stride, LumaStandard standard,
                   std::uint32_t* even, std::uint32_t* odd, std::uint32_t* levels) {
    std::array<std::uint32_t, kRunPixels> cells;
    for (std::size_t r = 0; r < rows; ++r) {
        const Pixel* const row = first + r * stride;
        for (std::size_t begin = 0; begin < width; begin += kRunPixels) {
            const std::size_t n = std::min(kRunPixels, width - begin);
            detail::CellsOf(row + begin, cells.data(), n, standard);
            // The next run's lines, this row's or the next row's, asked for while this one is counted.
            const bool rowGoesOn = begin + kRunPixels < width;
            const Pixel* const next = rowGoesOn ? row + begin + kRunPixels : row + stride;
            const std::size_t ahead = rowGoesOn ? std::min(kRunPixels, width - begin - kRunPixels)
                                                : (r + 1 < rows ? std::min(kRunPixels, width) : 0);
            CountRun<kWay, false>(cells.data(), row + begin, n, next, ahead, even, odd, levels);
        }
    }
}

// Adds the sums of a table of pairs' rows to `first`'s levels and of its columns to `second`'s.
void AddPairSums(const std::uint32_t* pairs, std::array<std::uint64_t, LevelCounts::kLevels>& first,
                 std::array<std::uint64_t, LevelCounts::kLevels>& second) {
    std::array<std::uint64_t, LevelCounts::kLevels> columns{};
    for (std::size_t row = 0; row < LevelCounts::kLevels; ++row) {
        const std::uint32_t* const cells = pairs + row * LevelCounts::kLevels;
        std::uint64_t sum = 0;
        for (std::size_t column = 0; column < LevelCounts::kLevels; ++column) {
            sum += cells[column];
            columns[column] += cells[column];
        }
        first[row] += sum;
    }
    for (std::size_t column = 0; column < LevelCounts::kLevels; ++column) second[column] += columns[column];
}

void AddPairedLevels(const std::uint32_t* paired, LevelCounts& levels) {
    AddPairSums(paired, levels.bins[LevelCounts::G], levels.bins[LevelCounts::B]);
    AddPairSums(paired + kPairCells, levels.bins[LevelCounts::Y], levels.bins[LevelCounts::R]);
}

void AddLevels(LevelCounts& into, const LevelCounts& from) {
    for (std::size_t c = 0; c < LevelCounts::kChannels; ++c)
        for (std::size_t v = 0; v < LevelCounts::kLevels; ++v) into.bins[c][v] += from.bins[c][v];
}

}  // namespace

BandTally::BandTally(std::size_t picturePixels) {
    if (picturePixels >= kPairedLevelsPixels) pairedLevels_.assign(kPairedLevelCells, 0u);
}

void BandTally::AddTo(UvHistogram& histogram, LevelCounts& levels) {
    histogram.Merge(odd_);
    odd_.Clear();
    if (!pairedLevels_.empty()) {
        AddPairedLevels(pairedLevels_.data(), levels);
        std::fill(pairedLevels_.begin(), pairedLevels_.end(), 0u);
    }
}

void UvHistogram::AddPixels(std::span<Pixel> pixels, LumaStandard standard) { Add(pixels, standard, nullptr, nullptr); }

void UvHistogram::AddPixels(std::span<Pixel> pixels, LumaStandard standard, LevelCounts& levels) {
    Add(pixels, standard, &levels, nullptr);
}

void UvHistogram::AddBand(std::span<Pixel> pixels, LumaStandard standard, LevelCounts& levels, BandTally& tally) {
    assert(&tally.odd_ != this);
    Add(pixels, standard, &levels, &tally);
}

void UvHistogram::Add(std::span<Pixel> pixels, LumaStandard standard, LevelCounts* levels, BandTally* tally) {
    if (levels != nullptr && pixels.size() > kLevelBlockPixels) {
        for (std::size_t begin = 0; begin < pixels.size(); begin += kLevelBlockPixels)
            Add(pixels.subspan(begin, std::min(kLevelBlockPixels, pixels.size() - begin)), standard, levels, tally);
        return;
    }
    // A tally's odd table is added in when its picture is done; the spare one at the end here.
    const bool split = tally == nullptr && pixels.size() >= kSplitPixels;
    if (split && spare_.empty()) spare_.assign(kCells, 0u);
    std::uint32_t* const even = counts_.data();
    std::uint32_t* const odd = tally != nullptr ? tally->odd_.counts_.data() : split ? spare_.data() : counts_.data();
    if (levels == nullptr) {
        ConvertAndCount<LevelWay::None>(pixels, standard, even, odd, nullptr);
    } else if (tally != nullptr && !tally->pairedLevels_.empty()) {
        ConvertAndCount<LevelWay::Paired>(pixels, standard, even, odd, tally->pairedLevels_.data());
    } else if (tally == nullptr && pixels.size() >= BandTally::kPairedLevelsPixels) {
        std::vector<std::uint32_t> paired(kPairedLevelCells, 0u);
        ConvertAndCount<LevelWay::Paired>(pixels, standard, even, odd, paired.data());
        AddPairedLevels(paired.data(), *levels);
    } else {
        LevelTables tables;
        ConvertAndCount<LevelWay::Tables>(pixels, standard, even, odd, tables.counts.data());
        tables.AddTo(*levels);
    }
    if (split) {
        for (std::size_t c = 0; c < kCells; ++c) even[c] += odd[c];
        std::fill(spare_.begin(), spare_.end(), 0u);
    }
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
    const bool split = width * rows >= kSplitPixels;
    if (split && spare_.empty()) spare_.assign(kCells, 0u);
    std::uint32_t* const even = counts_.data();
    std::uint32_t* const odd = split ? spare_.data() : counts_.data();
    if (width * rows >= BandTally::kPairedLevelsPixels) {
        std::vector<std::uint32_t> paired(kPairedLevelCells, 0u);
        CountReadOnly<LevelWay::Paired>(first, width, rows, stride, standard, even, odd, paired.data());
        AddPairedLevels(paired.data(), levels);
    } else {
        LevelTables tables;
        CountReadOnly<LevelWay::Tables>(first, width, rows, stride, standard, even, odd, tables.counts.data());
        tables.AddTo(levels);
    }
    if (split) {
        for (std::size_t c = 0; c < kCells; ++c) even[c] += odd[c];
        std::fill(spare_.begin(), spare_.end(), 0u);
    }
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
