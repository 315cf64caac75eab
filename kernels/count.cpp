// Counting colour-difference pairs into the vectorscope's 256 x 256 grid.
//
// Each thread counts its share of the pairs into two private grids (256 KiB each, which
// stay in the core's cache), each with one extra cell that collects the pairs that fall
// outside; the private grids are added into the caller's grid at the end. Rows and
// columns come from tables built once per call for the zoom in use.

#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

#include "kernels/korvex.h"
#include "kernels/parallel.h"

namespace korvex {

namespace {

// The private grids' extra cell, where pairs outside the grid are counted and forgotten.
constexpr std::uint32_t kOutside = static_cast<std::uint32_t>(kUvGridCells);
constexpr std::size_t kPrivateCells = kUvGridCells + 1;
// Private grids per thread; 2 x 256 KiB still sits in a core's cache.
constexpr std::size_t kSubGrids = 2;
constexpr std::size_t kCellsPerChunk = kSubGrids * kPrivateCells;

// The tables cover components in [-kTableHalf, kTableHalf): every pair ConvertToYuv
// makes (|U| <= 111, |V| <= 157) with room to spare; rarer values are computed directly.
constexpr std::int32_t kTableHalf = 512;
constexpr std::size_t kTableSize = 2 * kTableHalf;

// nearest(numerator / 65536), halves to even, exactly.
std::int64_t NearestOver65536(std::int64_t numerator) {
    const std::int64_t quotient = numerator >> 16;  // floor, also for negative numerators
    const std::int64_t remainder = numerator - quotient * 65536;  // 0 .. 65535
    if (remainder > 32768) return quotient + 1;
    if (remainder < 32768) return quotient;
    return quotient + (quotient & 1);
}

// Part of the cell index for a U component: the column 128 + nearest(U z), or kOutside.
std::uint32_t ColumnCode(std::int32_t u, std::int32_t zoom) {
    const std::int64_t column = 128 + NearestOver65536(std::int64_t{u} * zoom);
    return column >= 0 && column < 256 ? static_cast<std::uint32_t>(column) : kOutside;
}

// Part of the cell index for a V component: 256 times the row 127 - nearest(V z), or kOutside.
std::uint32_t RowCode(std::int32_t v, std::int32_t zoom) {
    const std::int64_t row = 127 - NearestOver65536(std::int64_t{v} * zoom);
    return row >= 0 && row < 256 ? static_cast<std::uint32_t>(row) * 256 : kOutside;
}

struct ZoomTables {
    std::uint32_t column[kTableSize];
    std::uint32_t row[kTableSize];
};

// The private cell of one pair: row and column, or kOutside.
inline std::uint32_t CellOf(UvPair pair, const ZoomTables& tables, std::int32_t zoom) {
    const std::int32_t u = pair.u;
    const std::int32_t v = pair.v;
    const std::uint32_t tu = static_cast<std::uint32_t>(u + kTableHalf);
    const std::uint32_t tv = static_cast<std::uint32_t>(v + kTableHalf);
    const std::uint32_t cell = (tu | tv) < kTableSize ? tables.row[tv] + tables.column[tu]
                                                      : RowCode(v, zoom) + ColumnCode(u, zoom);
    // A code of kOutside in either part puts the sum at or past the extra cell.
    return std::min(cell, kOutside);
}

// Counts pairs into kSubGrids private grids of kPrivateCells cells each, pair k into
// grid k % kSubGrids: runs of equal pairs (flat areas) then do not wait on one
// counter's previous increment.
void CountRange(const UvPair* pairs, std::size_t count, const ZoomTables& tables, std::int32_t zoom,
                std::uint32_t* cells) {
    static_assert(kSubGrids == 2, "pairs alternate between two grids");
    std::uint32_t* const even = cells;
    std::uint32_t* const odd = cells + kPrivateCells;
    std::size_t k = 0;
    for (; k + 1 < count; k += 2) {
        ++even[CellOf(pairs[k], tables, zoom)];
        ++odd[CellOf(pairs[k + 1], tables, zoom)];
    }
    if (k < count) ++even[CellOf(pairs[k], tables, zoom)];
}

// The largest count of the grid.
std::int32_t LargestCell(std::span<const std::int32_t, kUvGridCells> grid) {
    std::int32_t largest = grid[0];
    for (std::size_t cell = 1; cell < kUvGridCells; ++cell) largest = std::max(largest, grid[cell]);
    return largest;
}

}  // namespace

std::int32_t CountUvPairs(std::span<const UvPair> pairs, std::span<std::int32_t, kUvGridCells> grid,
                          std::int32_t zoom) {
    static_assert(kTableSize - 1 <= 0xFFFFu, "the range check above relies on small tables");
    ZoomTables tables;
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(kTableSize); ++i) {
        tables.column[i] = ColumnCode(i - kTableHalf, zoom);
        tables.row[i] = RowCode(i - kTableHalf, zoom);
    }

    const std::size_t n = pairs.size();
    const std::size_t chunks = detail::ChunkCount(n);
    std::vector<std::uint32_t> privateCells(chunks * kCellsPerChunk, 0u);
    const UvPair* const data = pairs.data();
    detail::ForEachChunk(n, chunks, [&](std::size_t chunk, std::size_t begin, std::size_t end) {
        CountRange(data + begin, end - begin, tables, zoom, privateCells.data() + chunk * kCellsPerChunk);
    });

    // Counts add modulo 2^32 (no overflow trap); they stay exact while every cell fits in 32 bits.
    for (std::size_t cell = 0; cell < kUvGridCells; ++cell) {
        std::uint32_t sum = static_cast<std::uint32_t>(grid[cell]);
        for (std::size_t sub = 0; sub < chunks * kSubGrids; ++sub) sum += privateCells[sub * kPrivateCells + cell];
        grid[cell] = static_cast<std::int32_t>(sum);
    }
    return LargestCell(grid);
}

std::int32_t CountUvHistogram(const UvHistogram& histogram, std::span<std::int32_t, kUvGridCells> grid,
                              std::int32_t zoom) {
    std::uint32_t columns[UvHistogram::kColumns];
    for (std::size_t k = 0; k < UvHistogram::kColumns; ++k)
        columns[k] = ColumnCode(UvHistogram::kMinU + static_cast<std::int32_t>(k), zoom);
    const std::span<const std::uint32_t> counts = histogram.cells();
    for (std::size_t row = 0; row < UvHistogram::kRows; ++row) {
        const std::uint32_t rowCode = RowCode(UvHistogram::kMinV + static_cast<std::int32_t>(row), zoom);
        const std::uint32_t* const line = counts.data() + row * UvHistogram::kColumns;
        for (std::size_t k = 0; k < UvHistogram::kColumns; ++k) {
            // A code of kOutside in either part puts the sum at or past it.
            const std::uint32_t cell = rowCode + columns[k];
            if (line[k] == 0 || cell >= kOutside) continue;
            grid[cell] = static_cast<std::int32_t>(static_cast<std::uint32_t>(grid[cell]) + line[k]);
        }
    }
    return LargestCell(grid);
}

}  // namespace korvex
