#pragma once
// The line scope's display settings as its builders take them, and the
// display widths that follow from the window's client width.

#include "model/Channels.h"

namespace vistrel::linescope {

// The choices themselves belong to the settings value.
using Channel = ScopeChannel;
using Orientation = ScopeOrientation;
using ScalePlacement = vistrel::ScalePlacement;

// Height of every channel box and raster: one row per 8-bit level, 255 at the top.
inline constexpr int kScopeRows = 256;

// The line scope window's client width, from which its display widths follow.
inline constexpr int kScopeClientWidth = 420;

// Pixels the single box leaves free across the client area: 4 each side.
inline constexpr int kSingleMargin = 8;
// Pixels the parade leaves free: 4 each side and 4 between each pair of boxes.
inline constexpr int kParadeMargin = 20;
inline constexpr int kParadeBoxes = kParadeChannels;

// The channel boxes in the window's client area: the first one's top-left corner, and
// the parade's boxes one pitch apart (their width, 100, and a 4-pixel gap).
inline constexpr int kBoxLeft = 4;
inline constexpr int kBoxTop = 4;
inline constexpr int kBoxPitch = 104;

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

// Number of boxes a display fills: one per channel it shows.
constexpr int BoxesUsed(Channel channel) { return ChannelsShown(channel); }

// The channels' vocabulary, shared with the other instruments.
using vistrel::ChannelShift;
using vistrel::ColoursOf;
using vistrel::GraticuleLit;
using vistrel::IsParade;
using vistrel::kParadeOrder;

}  // namespace vistrel::linescope
