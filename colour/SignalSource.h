#pragma once
// How a picture's own samples become the linear light SignalTally counts, built once a
// picture from the colours it means: per-channel tables for matrix-and-curves profiles,
// grey curves and sRGB (8-bit levels, and 16-bit ones on the first wide row), lcms2's
// transform to XYZ for any other profile. Used by any number of threads at once.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "colour/ColourConvert.h"
#include "colour/SignalCount.h"

namespace vistrel::colour {

class SignalSource {
public:
    // For the colours `source` means (sRGB when it has no profile), samples of the kind
    // given; nothing when lcms2 cannot read its profile.
    static std::shared_ptr<const SignalSource> For(const SourceColour& source, colourtags::SampleKind samples);
    // sRGB's own.
    static std::shared_ptr<const SignalSource> Srgb();

    virtual ~SignalSource() = default;
    const SignalSpace& space() const { return space_; }
    // Whether Count reads each pixel as inks (a CMYK profile's), not as red, green, blue.
    virtual bool inks() const { return false; }

    // n 8-bit pixels as the conversion takes them (0xAARRGGBB, or inks a byte each for
    // CMYK), counted into tally.
    virtual void Count(const std::uint32_t* pixels, std::size_t n, SignalTally& tally) const = 0;
    // n pixels of 16-bit red, green and blue, three to a pixel.
    virtual void Count16(const std::uint16_t* rgb, std::size_t n, SignalTally& tally) const = 0;
    // n pixels of 16-bit inks, four to a pixel (CMYK only).
    virtual void CountInks16(const std::uint16_t* cmyk, std::size_t n, SignalTally& tally) const;

protected:
    explicit SignalSource(const SignalSpace& space) : space_(space) {}
    // Pixels counted together: their floats stay in the first level of cache.
    static constexpr std::size_t kChunk = 256;

private:
    SignalSpace space_;
};

// A space counted from per-channel tables: each channel's linear light, as SignalTally
// takes it, for every 8-bit (and 16-bit) level, from `linear` (the channel, 0 1 or 2,
// and the sample, 0 .. 1). A PQ space's channels are all PQ's, whose light the tables
// then also hold.
std::shared_ptr<const SignalSource> TabulatedSignalSource(const SignalSpace& space,
                                                          std::function<double(int, double)> linear);

// The counts of a picture whose colours mean sRGB, from its 8-bit pixels (0x..RRGGBB;
// the top byte is not read), split over threads. The decoder leaves such pictures
// uncounted: their gamut shares are 0 whatever their pixels, and only the chromaticity
// diagram needs their cells, which it asks for here once it is shown.
SignalStats CountSrgbPixels(const std::uint32_t* pixels, std::size_t n);

}  // namespace vistrel::colour
