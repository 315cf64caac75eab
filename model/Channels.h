#pragma once
// What every instrument shares about the channels it shows: the single channels and
// the parade's order of them, where each sits in a pixel, the colours each is drawn
// in, and when the lamp lights a graticule at all.

#include <cstdint>

#include "model/Settings.h"

namespace vistrel {

// The parade shows every single channel side by side: red, green, blue and luma.
inline constexpr int kParadeChannels = 4;
inline constexpr ScopeChannel kParadeOrder[kParadeChannels] = {ScopeChannel::Red, ScopeChannel::Green,
                                                               ScopeChannel::Blue, ScopeChannel::Luma};

constexpr bool IsParade(ScopeChannel channel) { return channel == ScopeChannel::Parade; }

// How many channels a choice shows: one, or the parade's four.
constexpr int ChannelsShown(ScopeChannel channel) { return IsParade(channel) ? kParadeChannels : 1; }

// Bit position of a channel's byte within a pixel (blue, green, red, luma from the low byte).
constexpr int ChannelShift(ScopeChannel channel) {
    switch (channel) {
        case ScopeChannel::Red: return 16;
        case ScopeChannel::Green: return 8;
        case ScopeChannel::Blue: return 0;
        case ScopeChannel::Luma: return 24;
        case ScopeChannel::Parade: return 24;  // no single byte: the parade reads each channel's own
    }
    return 0;
}

// Each single channel's colours (0x00RRGGBB), indexed by channel: red, green, blue, luma.
// A cloud of hits (the waveform, the histogram's bars) and a one-pixel line (the trace)
// agree except in blue, where the cloud is the lighter 0x5050F0 and the line the deeper
// 0x4040F0: the two have always been drawn so, and their tests pin both.
struct ChannelColours {
    std::uint32_t waveform;
    std::uint32_t trace;
};
inline constexpr ChannelColours kChannelColours[kParadeChannels] = {
    {0x00A02020, 0x00A02020}, {0x0010A010, 0x0010A010}, {0x005050F0, 0x004040F0}, {0x00D0D0D0, 0x00D0D0D0}};

// A channel's colours; the parade's are luma's, the colour its last channel shows.
constexpr const ChannelColours& ColoursOf(ScopeChannel channel) {
    switch (channel) {
        case ScopeChannel::Red: return kChannelColours[0];
        case ScopeChannel::Green: return kChannelColours[1];
        case ScopeChannel::Blue: return kChannelColours[2];
        case ScopeChannel::Luma:
        case ScopeChannel::Parade: return kChannelColours[3];
    }
    return kChannelColours[3];
}

// Whether a lamp colour (ScaleColorOf, or the same as a pixel: the lamp's level is its
// green byte either way) lights a graticule: at lamp level 0 none is drawn.
constexpr bool GraticuleLit(std::uint32_t lampColour) { return (lampColour & 0xFF00u) != 0; }

}  // namespace vistrel
