#pragma once
// What the line scope reads under the pointer: the level of the row and the picture
// position of the column it points at. Pure: the scope's layout and a position in the
// window's client area in, the reading out.

#include <QString>

#include <cstddef>
#include <optional>

#include "linescope/ScopeSettings.h"

namespace vistrel::linescope {

// What the scope shows and over what picture.
struct ScopeLayout {
    Channel channel = Channel::Parade;
    Orientation orientation = Orientation::Horizontal;
    bool trace = false;    // the single-line trace through a probe, not the whole-picture waveform
    int clientWidth = 0;   // the window's, which sets the display's columns
    std::size_t pictureWidth = 0;   // 0: no picture
    std::size_t pictureHeight = 0;
};

struct ScopeReading {
    Channel channel = Channel::Luma;  // the box's: one channel, never the parade
    int level = 0;                    // 0 at the box's bottom row, 255 at its top
    Orientation orientation = Orientation::Horizontal;  // the position is a column (horizontal) or a row
    // The picture column or row the pointed column shows, as the waveform samples it or the
    // trace reads it; none without a picture.
    std::optional<std::size_t> position;
    // The light the level carries, on an HDR picture's nits scale.
    std::optional<double> nits{};
    bool operator==(const ScopeReading&) const = default;
};

// The reading at (x, y) in the client area; nothing outside the boxes' displays (the
// gaps between the parade's boxes and the margins included).
std::optional<ScopeReading> ReadingAt(const ScopeLayout& layout, int x, int y);

// A level as a whole percentage of full scale, 255 being 100 %.
int LevelPercent(int level);

// "R level 200 / 78 %, x 1234" (y for a row); on the nits scale "R level 200 / 1,234 nits, x 1234".
QString ReadingText(const ScopeReading& reading);

}  // namespace vistrel::linescope
