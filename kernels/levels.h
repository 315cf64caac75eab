#pragma once
// How many pixels of a picture sit at each level of each channel: the counts the
// histogram instrument draws and the statistics are read from. Counted in the load's
// one pass over the full-size picture, never from a sample or the view.

#include <array>
#include <cstddef>
#include <cstdint>

namespace korvex {

struct LevelCounts {
    // The channels counted, in this order; Y is the program's own integer luma, the
    // value the waveform draws, so it follows the luma standard.
    enum Channel : std::size_t { R = 0, G = 1, B = 2, Y = 3 };
    static constexpr std::size_t kChannels = 4;
    static constexpr std::size_t kLevels = 256;

    std::array<std::array<std::uint64_t, kLevels>, kChannels> bins{};

    bool operator==(const LevelCounts&) const = default;
};

}  // namespace korvex
