#pragma once
// Korvex: the small utility operations the program is built on. Plain C++,
// no window system; every operation is safe on empty input and never throws
// on degenerate arguments.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kernels/levels.h"

namespace korvex {

// A pixel: bytes in memory blue, green, red, fourth; read as 0xQQRRGGBB.
using Pixel = std::uint32_t;
// A colour value as pens and fills take it: red in the low byte, 0x00BBGGRR.
using ColorValue = std::uint32_t;

// A colour-difference pair: signed U in the low half, signed V in the high half.
struct UvPair {
    std::int16_t u;
    std::int16_t v;
};
static_assert(sizeof(UvPair) == 4);

// A point as Polyline takes it: x then y, each signed 32-bit.
struct Point {
    std::int32_t x;
    std::int32_t y;
};
static_assert(sizeof(Point) == 8);

// A two-dimensional array stored row after row, top row first, no padding:
// element (x, y) lies at y * width + x. Elements are not initialised. A grid
// owns its memory, or adopts memory that another object owns and keeps alive.
template <class T>
class Grid {
public:
    Grid() = default;
    Grid(std::size_t width, std::size_t height)
        : data_(width * height != 0 ? std::make_shared_for_overwrite<T[]>(width * height) : nullptr),
          width_(width * height != 0 ? width : 0), height_(width * height != 0 ? height : 0) {}
    Grid(Grid&&) noexcept = default;
    Grid& operator=(Grid&&) noexcept = default;
    Grid(const Grid&) = delete;
    Grid& operator=(const Grid&) = delete;

    // A grid over width x height elements at data, which owner keeps alive.
    static Grid Adopt(T* data, std::size_t width, std::size_t height, std::shared_ptr<void> owner) {
        Grid grid;
        if (data != nullptr && width * height != 0) {
            grid.data_ = std::shared_ptr<T[]>(std::move(owner), data);
            grid.width_ = width;
            grid.height_ = height;
        }
        return grid;
    }

    std::size_t width() const { return width_; }
    std::size_t height() const { return height_; }
    std::size_t size() const { return width_ * height_; }
    bool empty() const { return size() == 0; }
    T* data() { return data_.get(); }
    const T* data() const { return data_.get(); }
    T& at(std::size_t x, std::size_t y) { return data_[y * width_ + x]; }
    const T& at(std::size_t x, std::size_t y) const { return data_[y * width_ + x]; }
    std::span<T> span() { return {data_.get(), size()}; }
    std::span<const T> span() const { return {data_.get(), size()}; }

private:
    std::shared_ptr<T[]> data_;
    std::size_t width_ = 0;
    std::size_t height_ = 0;
};

using PixelGrid = Grid<Pixel>;
using ChromaGrid = Grid<UvPair>;

// The count grid of the vectorscope: 256 rows of 256 cells, cell (r, c) at r * 256 + c.
inline constexpr std::size_t kUvGridSide = 256;
inline constexpr std::size_t kUvGridCells = kUvGridSide * kUvGridSide;

// The parameter record FillSeries takes: twenty integers.
using SeriesParams = std::int32_t[20];

// The per-pixel operations (ConvertToYuv, CountUvPairs, MaskPixels, SpreadChannel) split
// large inputs over this many threads; 0, the default, means one per hardware thread.
// Their results are identical at any count. Negative counts are taken as 0.
void SetThreadCount(int count);

// The number of threads the per-pixel operations use now, at least 1.
int ThreadCount();

// low if value < low, high if value > high, else value (checked in that order, so a
// reversed range low > high gives low for small values and high for the rest).
std::int32_t ClampValue(std::int32_t low, std::int32_t value, std::int32_t high);

// The smaller of the two.
std::int32_t CombineValues(std::int32_t a, std::int32_t b);

// The text without its NUL characters.
std::string StripNulls(std::string_view text);

// The text without leading and trailing spaces (' ' only: tabs and other characters that
// can be part of a file name stay).
std::string TrimSpaces(std::string_view text);

// The folder ending in exactly one '/': trailing slashes collapse to one, "/" stays "/",
// and "" stays "" so that a file name joined to it remains a relative name. A backslash
// is an ordinary file-name character here and is kept as it is.
std::string EnsureBackslash(std::string_view folder);

// Pixel order (0xQQRRGGBB) to colour-value order (0x00BBGGRR), top byte 0.
ColorValue PixelToColor(Pixel pixel);

// Colour-value order to pixel order (red and blue exchanged), top byte 0.
Pixel ColorToPixel(ColorValue color);

// x of element k set to k; y members untouched. The record is not used beyond that.
void FillSeries(std::span<Point> points, const SeriesParams& params);

// The weights that luma and the colour differences are formed with.
enum class LumaStandard {
    Rec601,  // standard definition: 0.299, 0.587, 0.114; U 0.492, V 0.877
    Rec709,  // high definition: 0.2126, 0.7152, 0.0722; U 0.4698, V 0.7808
};

// Writes each pixel's luma into its fourth byte and each pixel's (U, V) into chroma
// (same count as pixels). Rec. 601: Y = nearest(0.299R + 0.587G + 0.114B),
// U = nearest(0.492 (B - Y')), V = nearest(0.877 (R - Y')); Rec. 709:
// Y = nearest(0.2126R + 0.7152G + 0.0722B), U = nearest(0.4698 (B - Y')),
// V = nearest(0.7808 (R - Y')); Y' unrounded, halves to even. Blue, green and red stay
// as they are; under either standard U lies in -111..111 and V in -157..157. Exact
// (integer arithmetic). chroma must have the pixels' count; only the common length is
// written if it has not.
void ConvertToYuv(std::span<Pixel> pixels, std::span<UvPair> chroma,
                  LumaStandard standard = LumaStandard::Rec601);

// The same over a whole picture, returning a new chroma grid of the picture's bounds.
ChromaGrid ConvertToYuv(PixelGrid& pixels, LumaStandard standard = LumaStandard::Rec601);

// Counts each pair into cell (127 - nearest(V z), 128 + nearest(U z)) of the 256 x 256 grid,
// z = zoom / 65536; pairs outside the grid are dropped. Adds to the grid's counts and returns
// the largest cell count of the grid afterwards (0 for an all-zero grid). Exact for every
// int16 pair and every zoom, negative or zero included (z = 0 counts every pair at (127, 128)).
// Cells are 32-bit: a picture of up to 2^30 pixels fits in one cell of a zeroed grid.
std::int32_t CountUvPairs(std::span<const UvPair> pairs, std::span<std::int32_t, kUvGridCells> grid,
                          std::int32_t zoom);

// How many pixels of a picture have each (U, V) pair, at full resolution: every pair
// ConvertToYuv can make has its own cell, so the vectorscope's grid at any zoom is
// re-binned from it without visiting a pixel again. About 84,000 32-bit cells: a
// picture of up to 2^32 - 1 pixels fits. The ranges hold the pairs of the usual luma
// weightings, not only the one ConvertToYuv uses (|U| <= 111, |V| <= 157): with
// Rec. 709's weights blue and red reach |U| = 0.492 x 255 x 0.9278 < 117 and
// |V| = 0.877 x 255 x 0.7874 < 177.
class BandTally;

class UvHistogram {
public:
    static constexpr std::int32_t kMinU = -117;
    static constexpr std::int32_t kMaxU = 117;
    static constexpr std::int32_t kMinV = -177;
    static constexpr std::int32_t kMaxV = 177;
    static constexpr std::size_t kColumns = static_cast<std::size_t>(kMaxU - kMinU + 1);
    static constexpr std::size_t kRows = static_cast<std::size_t>(kMaxV - kMinV + 1);
    static constexpr std::size_t kCells = kColumns * kRows;

    // All counts zero.
    UvHistogram() : counts_(kCells, 0u) {}

    // Writes each pixel's luma into its fourth byte, exactly as ConvertToYuv does under
    // the same standard, and counts the pixel's (U, V) pair. Runs on the calling thread.
    void AddPixels(std::span<Pixel> pixels, LumaStandard standard = LumaStandard::Rec601);
    // The same, and adds each pixel's red, green, blue and luma levels to levels.
    void AddPixels(std::span<Pixel> pixels, LumaStandard standard, LevelCounts& levels);
    // As AddPixels with levels, for one band of a picture counted band by band: part of
    // the counts is kept in the tally, which adds them in once the picture is done
    // (BandTally::AddTo), instead of after every band.
    void AddBand(std::span<Pixel> pixels, LumaStandard standard, LevelCounts& levels, BandTally& tally);
    // Counts the pairs and adds the levels of `rows` rows of `width` pixels, each row
    // `stride` pixels after the one above, as AddPixels would count them, without writing
    // the pixels: they must hold their luma under the standard in their fourth byte
    // already (as AddPixels leaves them), which Y's level counts read.
    void CountRows(const Pixel* first, std::size_t width, std::size_t rows, std::size_t stride,
                   LumaStandard standard, LevelCounts& levels);
    // Adds another histogram's counts (modulo 2^32).
    void Merge(const UvHistogram& other);
    // Every count back to zero.
    void Clear();

    // The count of one pair; 0 for a pair outside the ranges above.
    std::uint32_t count(std::int32_t u, std::int32_t v) const;
    // The sum of all counts.
    std::uint64_t total() const;
    // Cell (v - kMinV) * kColumns + (u - kMinU) holds the count of pair (u, v).
    std::span<const std::uint32_t> cells() const { return counts_; }

private:
    void Add(std::span<Pixel> pixels, LumaStandard standard, LevelCounts* levels, BandTally* tally);

    std::vector<std::uint32_t> counts_;
    std::vector<std::uint32_t> spare_;  // all zero between calls; see AddPixels
};

// What a picture counted band by band keeps from one band to the next, added in once
// the picture is done: every second pixel's pair, and for a picture of at least
// kPairedLevelsPixels its levels as pairs, green with blue and luma with red (one
// increment of a table of 65,536 where there would be two of a table of 256, with the
// tables' sums formed once at the end).
class BandTally {
public:
    // Below this, the tables of pairs (512 KiB of new pages, whose faults cost some 10 us
    // each on these virtual machines) and their sums cost more than they save.
    static constexpr std::size_t kPairedLevelsPixels = std::size_t{4} << 20;

    explicit BandTally(std::size_t picturePixels);

    // Adds what was kept into the histogram and the level counts, and starts afresh.
    void AddTo(UvHistogram& histogram, LevelCounts& levels);

private:
    friend class UvHistogram;
    UvHistogram odd_;
    std::vector<std::uint32_t> pairedLevels_;  // empty, or (R, G) then (B, Y) cells
};

// The pair ConvertToYuv gives for one pixel.
UvPair PairOf(Pixel pixel, LumaStandard standard = LumaStandard::Rec601);

// The same pair before its rounding: 0.492 (B - Y'), 0.877 (R - Y') under Rec. 601, or
// 0.4698 (B - Y'), 0.7808 (R - Y') under Rec. 709, from the unrounded luma Y'. Each is
// one whole number divided once, so an exact half stays exact.
struct ExactPair {
    double u;
    double v;
};
ExactPair UnroundedPairOf(Pixel pixel, LumaStandard standard = LumaStandard::Rec601);

// Writes each pixel's luma into its fourth byte and returns the histogram of the pixels'
// pairs; the rows are split over ThreadCount() threads, with the same result at any count.
UvHistogram AnalysePixels(std::span<Pixel> pixels, LumaStandard standard = LumaStandard::Rec601);
// The same, and adds the pixels' level counts to levels (per-thread counts summed).
UvHistogram AnalysePixels(std::span<Pixel> pixels, LumaStandard standard, LevelCounts& levels);

// CountUvPairs for the pairs a histogram stands for: adds each cell's count to the grid
// cell that CountUvPairs would put its pair in, and returns the largest cell count of the
// grid afterwards. The grid is identical to counting every pixel's pair one by one.
std::int32_t CountUvHistogram(const UvHistogram& histogram, std::span<std::int32_t, kUvGridCells> grid,
                              std::int32_t zoom);

// destination[k] = source[k] & mask for k below count. Source and destination may be the
// same buffer but must not otherwise overlap; null pointers are fine with count 0.
void MaskPixels(const Pixel* source, Pixel* destination, std::uint32_t mask, std::size_t count);

// destination[k] = a grey (fourth byte 0) of source[k]'s byte that the mask selects:
// 0xFF blue, 0xFF00 green, 0xFF0000 red. Any other mask selects no single byte and gives
// source[k] & channelMask, as MaskPixels does. Buffers as for MaskPixels.
void SpreadChannel(const Pixel* source, Pixel* destination, std::uint32_t channelMask, std::size_t count);

}  // namespace korvex
