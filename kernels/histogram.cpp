// The full-resolution (U, V) histogram: counted once per picture, re-binned for the
// vectorscope at any zoom.
//
// The pairs come from ConvertToYuv itself, a short run at a time into a buffer that
// stays in the first-level cache, so the histogram can never disagree with it.

#include <algorithm>
#include <array>
#include <cassert>

#include "kernels/korvex.h"
#include "kernels/parallel.h"

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

}  // namespace

void UvHistogram::AddPixels(std::span<Pixel> pixels, LumaStandard standard) {
    std::array<UvPair, kRunPixels> pairs;
    const bool split = pixels.size() >= kSplitPixels;
    if (split && spare_.empty()) spare_.assign(kCells, 0u);
    std::uint32_t* const even = counts_.data();
    std::uint32_t* const odd = split ? spare_.data() : counts_.data();
    for (std::size_t begin = 0; begin < pixels.size(); begin += kRunPixels) {
        const std::size_t n = std::min(kRunPixels, pixels.size() - begin);
        ConvertToYuv(pixels.subspan(begin, n), std::span<UvPair>(pairs.data(), n), standard);
        std::size_t k = 0;
        for (; k + 1 < n; k += 2) {
            assert(InRange(pairs[k].u, pairs[k].v) && InRange(pairs[k + 1].u, pairs[k + 1].v));
            ++even[CellOf(pairs[k])];
            ++odd[CellOf(pairs[k + 1])];
        }
        if (k < n) ++even[CellOf(pairs[k])];
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

UvHistogram AnalysePixels(std::span<Pixel> pixels, LumaStandard standard) {
    const std::size_t chunks = detail::ChunkCount(pixels.size());
    std::vector<UvHistogram> parts(chunks);
    detail::ForEachChunk(pixels.size(), chunks, [&](std::size_t chunk, std::size_t begin, std::size_t end) {
        parts[chunk].AddPixels(pixels.subspan(begin, end - begin), standard);
    });
    for (std::size_t c = 1; c < chunks; ++c) parts[0].Merge(parts[c]);
    return std::move(parts[0]);
}

}  // namespace korvex
