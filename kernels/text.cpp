// The scalar operations: clamping, texts and paths, colour orders, the point series.

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <limits>

#include "kernels/korvex.h"

namespace korvex {

std::int32_t ClampValue(std::int32_t low, std::int32_t value, std::int32_t high) {
    if (value < low) return low;
    if (value > high) return high;
    return value;
}

std::int32_t CombineValues(std::int32_t a, std::int32_t b) { return std::min(a, b); }

std::string StripNulls(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (const char c : text)
        if (c != '\0') result.push_back(c);
    return result;
}

std::string TrimSpaces(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

std::string EnsureBackslash(std::string_view folder) {
    if (folder.empty()) return {};
    const std::size_t last = folder.find_last_not_of('/');
    if (last == std::string_view::npos) return "/";
    std::string result(folder.substr(0, last + 1));
    result.push_back('/');
    return result;
}

ColorValue PixelToColor(Pixel pixel) {
    const std::uint32_t blue = pixel & 0xFFu;
    const std::uint32_t green = (pixel >> 8) & 0xFFu;
    const std::uint32_t red = (pixel >> 16) & 0xFFu;
    return (blue << 16) | (green << 8) | red;
}

Pixel ColorToPixel(ColorValue color) {
    // The exchange of red and blue is its own inverse.
    return PixelToColor(color);
}

void FillSeries(std::span<Point> points, const SeriesParams& params) {
    static_cast<void>(params);
    assert(points.size() <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) + 1);
    for (std::size_t k = 0; k < points.size(); ++k) points[k].x = static_cast<std::int32_t>(k);
}

}  // namespace korvex
