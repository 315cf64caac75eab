#pragma once
// The line scope's display settings as its builders take them, and the
// display widths that follow from the window's client width.

#include <cstdint>

#include "model/Settings.h"

namespace vistrel::linescope {

// The choices themselves belong to the settings value.
using Channel = ScopeChannel;
using Orientation = ScopeOrientation;
using ScalePlacement = vistrel::ScalePlacement;

// Height of every channel box and raster: one row per 8-bit level, 255 at the top.
inline constexpr int kScopeRows = 256;

// Pixels the single box leaves free across the client area: 4 each side.
inline constexpr int kSingleMargin = 8;
// Pixels the parade leaves free: 4 each side and 4 between each pair of boxes.
inline constexpr int kParadeMargin = 20;
inline constexpr int kParadeBoxes = 4;

// Width of the display (raster or trace) for a client area this wide.
constexpr int DisplayColumns(Channel channel, int clientWidth) {
    switch (channel) {
        case Channel::Red:
        case Channel::Green:
        case Channel::Blue:
        case Channel::Luma:
            return clientWidth - kSingleMargin;
        case Channel::Parade:
            return (clientWidth - kParadeMargin) / kParadeBoxes;
    }
    return 0;
}

constexpr bool IsParade(Channel channel) { return channel == Channel::Parade; }

// Number of boxes a display fills.
constexpr int BoxesUsed(Channel channel) { return IsParade(channel) ? kParadeBoxes : 1; }

// Bit position of a channel's byte within a pixel (blue, green, red, luma from the low byte).
constexpr int ChannelShift(Channel channel) {
    switch (channel) {
        case Channel::Red:
            return 16;
        case Channel::Green:
            return 8;
        case Channel::Blue:
            return 0;
        case Channel::Luma:
            return 24;
        case Channel::Parade:  // no single byte: the parade reads each box's own channel
            return 24;
    }
    return 0;
}

// Each single channel's colours (0x00RRGGBB), indexed by channel: red, green, blue, luma.
// The waveform's cloud of hits and the trace's one-pixel line agree except in blue,
// where the waveform is the lighter 0x5050F0 and the trace the deeper 0x4040F0: the
// two displays have always been drawn so, and their tests pin both.
struct ChannelColours {
    std::uint32_t waveform;
    std::uint32_t trace;
};
inline constexpr ChannelColours kChannelColours[kParadeBoxes] = {
    {0x00A02020, 0x00A02020}, {0x0010A010, 0x0010A010}, {0x005050F0, 0x004040F0}, {0x00D0D0D0, 0x00D0D0D0}};

// A channel's colours; the parade's are luma's, the colour its fourth box shows.
constexpr const ChannelColours& ColoursOf(Channel channel) {
    switch (channel) {
        case Channel::Red: return kChannelColours[0];
        case Channel::Green: return kChannelColours[1];
        case Channel::Blue: return kChannelColours[2];
        case Channel::Luma:
        case Channel::Parade: return kChannelColours[3];
    }
    return kChannelColours[3];
}

// The single channels in the order of the parade's boxes.
inline constexpr Channel kParadeOrder[kParadeBoxes] = {Channel::Red, Channel::Green, Channel::Blue, Channel::Luma};

}  // namespace vistrel::linescope
