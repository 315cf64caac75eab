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

// destination[k] = source[k] & mask for k below count. Source and destination may be the
// same buffer but must not otherwise overlap; null pointers are fine with count 0.
void MaskPixels(const Pixel* source, Pixel* destination, std::uint32_t mask, std::size_t count);

// destination[k] = a grey (fourth byte 0) of source[k]'s byte that the mask selects:
// 0xFF blue, 0xFF00 green, 0xFF0000 red. Any other mask selects no single byte and gives
// source[k] & channelMask, as MaskPixels does. Buffers as for MaskPixels.
void SpreadChannel(const Pixel* source, Pixel* destination, std::uint32_t channelMask, std::size_t count);

}  // namespace korvex
