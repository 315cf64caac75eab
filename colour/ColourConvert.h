#pragma once
// Conversion of a picture's colours to the working space, sRGB (relative colorimetric),
// with lcms2. No Qt: pixels are 32-bit words, blue in the lowest byte (Qt's RGB32),
// the top byte left as it is; a CMYK picture's pixels hold its inks instead.

#include <cstddef>
#include <cstdint>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "colour/ColourTags.h"
#include "colour/Signal.h"

namespace vistrel::colour {

// Spaces whose profiles are built here from their primaries and tone curves.
enum class StandardSpace { Srgb, AdobeRgb, DisplayP3, ProPhoto, Rec2020 };

// The space's ICC profile (matrix and tone curves), its description the space's name.
std::vector<unsigned char> StandardProfile(StandardSpace space);

// The colours a file means, as one profile: its own, or one built from its tags (PNG's
// cICP, gAMA and cHRM, JPEG XL's gamma, EXIF's Adobe RGB marker). Empty when the file
// means sRGB: it says nothing, says sRGB, or says something this program does not take
// (a cICP code point it does not know).
//
// A bare gamma of about 1/2.2 (PNG's gAMA 45455, JPEG XL's gamma 0.45455) with sRGB's
// primaries or none is sRGB, as browsers take it: it is what writers put for sRGB
// before there was a better way to say so, and the same picture must not read
// differently in PNG and in JPEG XL. Code points (cICP's transfer 4, gamma 2.2) say
// exactly what they mean and are taken as they say.
struct SourceColour {
    std::vector<unsigned char> profile;
    std::string name;  // from the profile's description, or the tags'
    bool hdrToneMapped = false;  // a PQ or HLG signal, whose curve renders it as SDR
    bool fromTags = false;  // built here (RGB), not the file's own profile
    // The transfer the tags name, for light in nits: PQ and HLG's own curves, not the
    // profile's, which renders them as SDR.
    SignalTransfer transfer = SignalTransfer::Sdr;
    // The primaries and white a space built from tags has (x and y of red, green, blue
    // and white), for counting its light exactly; none for a file's own profile.
    std::optional<std::array<double, 8>> primaries;
};
SourceColour SourceColourOf(const colourtags::FileColour& file);

// A conversion from one source profile to sRGB, built once and then used by any number
// of threads at a time.
class Converter {
public:
    // Nothing for a profile lcms2 cannot read, one that is neither RGB nor grey nor CMYK,
    // or one that means sRGB itself (by its colorants and tone curves, whatever its
    // name; for grey, sRGB's curve): its pixels are then left exactly as they are.
    static std::shared_ptr<const Converter> For(const std::vector<unsigned char>& profile);

    // The same, kept for the next picture with the same profile.
    static std::shared_ptr<const Converter> Cached(const std::vector<unsigned char>& profile);

    virtual ~Converter() = default;
    // What the profile describes: Rgb, Grey (whose pixels are RGB with equal channels, or
    // laid over a coloured background: each channel is converted as a grey) or Cmyk.
    virtual colourtags::SampleKind input() const = 0;
    // Converts `count` pixels from `in` to `out` (which may be the same); returns how
    // many left sRGB's gamut (by more than 1/255 of full-scale light) and were clipped.
    // For CMYK each pixel holds its inks, cyan, magenta, yellow and black a byte each in
    // that order in memory (0 no ink), and `out` is opaque.
    //
    // With `marks`, which pixels those were: bit i of marks[i / 64] for pixel i, each of
    // the ceil(count / 64) words written whole (the bits past count 0).
    virtual std::uint64_t Convert(const std::uint32_t* in, std::uint32_t* out, std::size_t count,
                                  std::uint64_t* marks) const = 0;
    // The same from 16-bit samples, red, green and blue three to a pixel (0 .. 65535),
    // converted at their full precision and rounded to 8 bits once, at the end; `out`
    // is opaque (top byte 0xFF). Not for CMYK.
    virtual std::uint64_t Convert16(const std::uint16_t* rgb, std::uint32_t* out, std::size_t count,
                                    std::uint64_t* marks) const = 0;
    // For CMYK only: 16-bit inks, four to a pixel, as Convert16 converts its samples.
    virtual std::uint64_t ConvertInks16(const std::uint16_t* cmyk, std::uint32_t* out, std::size_t count,
                                        std::uint64_t* marks) const;
    // The same, counting only.
    std::uint64_t Convert(const std::uint32_t* in, std::uint32_t* out, std::size_t count) const {
        return Convert(in, out, count, nullptr);
    }
    std::uint64_t Convert16(const std::uint16_t* rgb, std::uint32_t* out, std::size_t count) const {
        return Convert16(rgb, out, count, nullptr);
    }
    std::uint64_t ConvertInks16(const std::uint16_t* cmyk, std::uint32_t* out, std::size_t count) const {
        return ConvertInks16(cmyk, out, count, nullptr);
    }
    // True for the matrix-and-curves fast path, false for lcms2's general transform
    // (and for grey and CMYK).
    virtual bool fast() const = 0;
};

// The conversion of a picture whose samples are of the given kind: nothing when its
// colours mean sRGB, or when its profile does not describe such samples (a grey profile
// on an RGB picture, RGB on grey or CMYK), which is then ignored as a damaged profile
// is. A profile built from tags (RGB) serves grey pictures too, whose pixels are RGB
// with equal channels; an unknown kind takes RGB profiles only.
std::shared_ptr<const Converter> ConverterFor(const SourceColour& source, colourtags::SampleKind samples);

}  // namespace vistrel::colour
