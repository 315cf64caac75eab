#pragma once
// Camera raw files the tests, the benchmarks and the fuzz seeds write themselves: DNGs
// of one uncompressed 16-bit colour filter array (2 x 2), with black and white levels,
// ColorMatrix1, AsShotNeutral and an orientation, written with libtiff. Other raw
// formats cannot be written here; LibRaw reads them all through the same calls.

#include <QByteArray>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace dng_pictures {

enum class Cfa { Rggb, Bggr, Grbg, Gbrg };
inline constexpr Cfa kEveryCfa[] = {Cfa::Rggb, Cfa::Bggr, Cfa::Grbg, Cfa::Gbrg};

// The colour (0 R, 1 G, 2 B) at the positions (0, 0), (0, 1), (1, 0) and (1, 1).
std::array<int, 4> CfaColours(Cfa cfa);
const char* CfaName(Cfa cfa);

struct Description {
    std::uint32_t width = 64;
    std::uint32_t height = 48;
    Cfa cfa = Cfa::Rggb;
    std::array<std::uint16_t, 4> black{512, 512, 512, 512};  // in the CFA's order (BlackLevelRepeatDim 2 x 2)
    bool singleBlackLevel = false;  // BlackLevelRepeatDim 1 x 1 with black[0] instead
    std::uint32_t white = 16383;
    // XYZ to the camera's RGB, row by row, as ColorMatrix1 holds it.
    std::array<float, 9> colorMatrix1{0.6722f, -0.0635f, -0.0963f, -0.4287f, 1.2460f, 0.2028f, -0.0908f, 0.2162f, 0.5668f};
    std::uint16_t calibrationIlluminant1 = 21;  // D65
    std::array<float, 3> asShotNeutral{0.5f, 1.0f, 0.8f};  // the camera's R, G and B of something grey
    std::uint16_t orientation = 1;  // EXIF's 1 .. 8
    std::string make = "Vistrel";
    std::string model = "Test Camera";
    bool withPreview = false;  // a small RGB preview first, the photosites in its sub-directory
    std::vector<unsigned char> previewProfile;  // an ICC profile of the preview's, when there is one
    // The directory before the photosites, as cameras write it (a cut then falls in them).
    bool directoryFirst = false;
    std::string dateTime;  // "YYYY:MM:DD HH:MM:SS", or none
    bool bigEndian = false;  // "MM", as some cameras write
    // A linear DNG (LinearRaw): red, green and blue at every pixel, and a black level a
    // colour (black[0..2]), which LibRaw keeps in its per-colour slots.
    bool linear = false;
};

// width * height photosites, row by row (three samples each in a linear DNG). Empty on success, else what went wrong.
std::string WriteDng(const std::string& path, const Description& dng, const std::vector<std::uint16_t>& photosites);
// The same file's bytes; empty when it could not be written.
QByteArray DngBytes(const Description& dng, const std::vector<std::uint16_t>& photosites);

// A photograph-like scene for the description's filter array (not a linear DNG's): hue
// and brightness ramps with noise, exposed so that the top rows clip; no photosite above
// the white level.
std::vector<std::uint16_t> Scene(const Description& dng, std::uint32_t seed = 1);

// What the photosites written hold, counted the slow way (sorted), for each colour (0 R,
// 1 G with both greens, 2 B): the highest, the ceil(0.99 N)-th smallest, and how many are
// at or above the white level.
struct CountedLevels {
    std::uint32_t max = 0, p99 = 0;
    std::uint64_t atWhite = 0;
};
std::array<CountedLevels, 3> CountLevels(const Description& dng, const std::vector<std::uint16_t>& photosites);

// The photosite under a pixel of the upright picture (the DNG's orientation applied, as
// EXIF defines it), as (column, row) of the photosites written.
std::array<std::uint32_t, 2> SensorPositionOf(const Description& dng, std::uint32_t x, std::uint32_t y);
// The photosites under a rectangle of the upright picture, all of them without one, by
// their place in the 2 x 2 array (0 .. 3, row by row), each place's values sorted.
struct UprightRect {
    std::uint32_t x = 0, y = 0, width = 0, height = 0;
};
std::array<std::vector<std::uint16_t>, 4> SitesUnder(const Description& dng, const std::vector<std::uint16_t>& photosites,
                                                     const UprightRect* region = nullptr);

}  // namespace dng_pictures
