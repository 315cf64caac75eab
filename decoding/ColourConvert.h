#pragma once
// Conversion of a picture's colours to the working space, sRGB (relative colorimetric),
// with lcms2. No Qt: pixels are 32-bit words, blue in the lowest byte (Qt's RGB32),
// the top byte left as it is.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decoding/ColourTags.h"

namespace vistrel::colour {

// Spaces whose profiles are built here from their primaries and tone curves.
enum class StandardSpace { Srgb, AdobeRgb, DisplayP3, ProPhoto, Rec2020 };

// The space's ICC profile (matrix and tone curves), its description the space's name.
std::vector<unsigned char> StandardProfile(StandardSpace space);

// The colours a file means, as one profile: its own, or one built from its tags (PNG's
// cICP, gAMA and cHRM, EXIF's Adobe RGB marker). Empty when the file means sRGB: it
// says nothing, says sRGB, or says something this program does not take (a profile
// that is damaged or not RGB, a cICP code point it does not know).
struct SourceColour {
    std::vector<unsigned char> profile;
    std::string name;  // from the profile's description, or the tags'
    bool hdrToneMapped = false;  // a PQ or HLG signal, whose curve renders it as SDR
};
SourceColour SourceColourOf(const colourtags::FileColour& file);

// A conversion from one source profile to sRGB, built once and then used by any number
// of threads at a time.
class Converter {
public:
    // Nothing for a profile lcms2 cannot read, one that is not RGB, or one that means
    // sRGB itself (by its colorants and tone curves, whatever its name): its pixels
    // are then left exactly as they are.
    static std::shared_ptr<const Converter> For(const std::vector<unsigned char>& profile);

    // The same, kept for the next picture with the same profile.
    static std::shared_ptr<const Converter> Cached(const std::vector<unsigned char>& profile);

    virtual ~Converter() = default;
    // Converts `count` pixels from `in` to `out` (which may be the same); returns how
    // many left sRGB's gamut (by more than 1/255 of full-scale light) and were clipped.
    virtual std::uint64_t Convert(const std::uint32_t* in, std::uint32_t* out, std::size_t count) const = 0;
    // The same from 16-bit samples, red, green and blue three to a pixel (0 .. 65535),
    // converted at their full precision and rounded to 8 bits once, at the end; `out`
    // is opaque (top byte 0xFF).
    virtual std::uint64_t Convert16(const std::uint16_t* rgb, std::uint32_t* out, std::size_t count) const = 0;
    // True for the matrix-and-curves fast path, false for lcms2's general transform.
    virtual bool fast() const = 0;
};

}  // namespace vistrel::colour
