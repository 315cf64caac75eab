#pragma once
// Which source positions each view position covers when the view is fitted to the picture
// by area: internal to the kernels that mark the view from the full-size picture.

#include <cstddef>
#include <vector>

namespace korvex::detail {

// The source positions a view position touches: [first, last], both inclusive.
struct Cover {
    std::size_t first, last;
};

// View position v stands for the source interval [v * source / view, (v + 1) * source / view);
// every source position that interval touches, however little, is covered.
inline std::vector<Cover> Covers(std::size_t source, std::size_t view) {
    std::vector<Cover> covers(view);
    for (std::size_t v = 0; v < view; ++v) {
        const std::size_t begin = v * source, end = (v + 1) * source;
        covers[v] = {begin / view, (end - 1) / view};
    }
    return covers;
}

}  // namespace korvex::detail
