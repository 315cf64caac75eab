// The view's marks from the full-size picture against slow references that look, for
// every view pixel, at each source pixel whose area it overlaps: the clipping marks (a
// channel at 0 or at 255), and false colour's bands and the zebras (its luma levels).

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "kernels/clipping.h"
#include "kernels/falsecolour.h"
#include "kernels/photosites.h"

namespace {

using korvex::Pixel;

struct Geometry {
    std::size_t sw, sh, vw, vh;
};

std::vector<std::uint8_t> Reference(const std::vector<Pixel>& source, std::size_t stride, const Geometry& g) {
    std::vector<std::uint8_t> marks(g.vw * g.vh, 0);
    for (std::size_t Y = 0; Y < g.vh; ++Y)
        for (std::size_t X = 0; X < g.vw; ++X)
            for (std::size_t y = 0; y < g.sh; ++y)
                for (std::size_t x = 0; x < g.sw; ++x) {
                    // [x, x + 1) meets [X sw / vw, (X + 1) sw / vw), in units of 1 / vw; the same down.
                    if (x * g.vw >= (X + 1) * g.sw || (x + 1) * g.vw <= X * g.sw) continue;
                    if (y * g.vh >= (Y + 1) * g.sh || (y + 1) * g.vh <= Y * g.sh) continue;
                    for (int c = 0; c < 3; ++c) {
                        const unsigned level = (source[y * stride + x] >> (8 * c)) & 0xFF;
                        if (level == 255) marks[Y * g.vw + X] |= korvex::kClipHighlight;
                        if (level == 0) marks[Y * g.vw + X] |= korvex::kClipShadow;
                    }
                }
    return marks;
}

TEST(ClipMarks, MatchTheSlowReferenceOverReducingEnlargingAndMixedGeometries) {
    // The last is large enough to be split over threads.
    const Geometry geometries[] = {{37, 23, 7, 5}, {64, 48, 64, 48}, {5, 4, 13, 11}, {50, 9, 17, 20},
                                   {1, 1, 3, 2},   {29, 31, 28, 30}, {700, 600, 7, 5}};
    std::mt19937 random(1);
    std::uniform_int_distribution<int> level(1, 254), pick(0, 99999), fourth(0, 255);
    for (const Geometry& g : geometries) {
        // Mid-levels with a sprinkling of single channels at 255 or 0 (rarer in the large
        // picture), and a fourth byte (luma) that is often 0 or 255 and must never count.
        // Three padding pixels a row, all clipped, must never count either.
        const std::size_t stride = g.sw + 3;
        const int odds = g.sw * g.sh > 10000 ? 4 : 2000;
        std::vector<Pixel> source(stride * g.sh, 0x00FF00FFu);
        for (std::size_t y = 0; y < g.sh; ++y)
            for (std::size_t x = 0; x < g.sw; ++x) {
                Pixel p = static_cast<Pixel>(level(random) | level(random) << 8 | level(random) << 16 |
                                             (fourth(random) & 0x81) << 24);
                const int k = pick(random);
                if (k < odds) p = k % 2 ? p | 0xFFu << (8 * (k % 3)) : p & ~(0xFFu << (8 * (k % 3)));
                source[y * stride + x] = p;
            }
        EXPECT_EQ(korvex::ClipMarks(source.data(), g.sw, g.sh, stride, g.vw, g.vh), Reference(source, stride, g))
            << g.sw << "x" << g.sh << " -> " << g.vw << "x" << g.vh;
    }
}

// The photosite under a picture pixel, as LibRaw walks its image turned (flip bits: 1
// mirrored left to right, 2 top to bottom, 4 rows and columns swapped).
std::pair<std::size_t, std::size_t> SensorOf(int flip, std::size_t sensorWidth, std::size_t sensorHeight, std::size_t x,
                                             std::size_t y) {
    std::size_t row = (flip & 4) != 0 ? x : y, col = (flip & 4) != 0 ? y : x;
    if ((flip & 2) != 0) row = sensorHeight - 1 - row;
    if ((flip & 1) != 0) col = sensorWidth - 1 - col;
    return {col, row};
}

// The sensor's clipping marks against a slow reference that looks, for every view pixel,
// at every picture pixel it overlaps and the photosite under that pixel; in every turn, for
// 2 x 2 and 6 x 6 filter arrays; and a region's photosites are those under its pixels.
TEST(RawClipMarks, MatchTheSlowReferenceInEveryTurnOverGeometriesAndFilterArrays) {
    const Geometry geometries[] = {{37, 23, 7, 5}, {64, 48, 64, 48}, {5, 4, 13, 11}, {50, 9, 17, 20},
                                   {1, 1, 3, 2},   {29, 31, 28, 30}, {300, 200, 7, 5}};
    std::mt19937 random(3);
    const std::uint32_t white = 4000;
    const std::uint8_t bayer[4] = {1, 0, 3, 2};  // G1 R / B G2
    std::uint8_t xtrans[36];
    for (std::size_t i = 0; i < 36; ++i) xtrans[i] = static_cast<std::uint8_t>((i * 7 + i / 6) % 3 == 0 ? 0 : (i % 5 == 0 ? 3 : 1));
    const std::array<std::uint8_t, korvex::kPhotositeClasses> channelOf{0, 1, 1, 2};
    for (const Geometry& g : geometries)
        for (int flip = 0; flip < 8; ++flip) {
            SCOPED_TRACE(std::to_string(g.sw) + "x" + std::to_string(g.sh) + " -> " + std::to_string(g.vw) + "x" +
                         std::to_string(g.vh) + " flip " + std::to_string(flip));
            const std::size_t width = (flip & 4) != 0 ? g.sh : g.sw, height = (flip & 4) != 0 ? g.sw : g.sh;
            std::vector<std::uint16_t> values(width * height);
            for (std::uint16_t& v : values) v = random() % 50 == 0 ? static_cast<std::uint16_t>(white + random() % 3) : static_cast<std::uint16_t>(random() % white);
            korvex::Photosites sites{values.data(), width, height, flip % 2 == 0 ? 2u : 6u, flip % 2 == 0 ? bayer : xtrans, flip};
            std::vector<std::uint8_t> want(g.vw * g.vh, 0);
            for (std::size_t Y = 0; Y < g.vh; ++Y)
                for (std::size_t X = 0; X < g.vw; ++X)
                    for (std::size_t y = 0; y < g.sh; ++y)
                        for (std::size_t x = 0; x < g.sw; ++x) {
                            if (x * g.vw >= (X + 1) * g.sw || (x + 1) * g.vw <= X * g.sw) continue;
                            if (y * g.vh >= (Y + 1) * g.sh || (y + 1) * g.vh <= Y * g.sh) continue;
                            const auto [col, row] = SensorOf(flip, width, height, x, y);
                            if (values[row * width + col] < white) continue;
                            const std::uint8_t site = sites.pattern[(row % sites.repeat) * sites.repeat + col % sites.repeat];
                            want[Y * g.vw + X] |= static_cast<std::uint8_t>(1u << channelOf[site]);
                        }
            EXPECT_EQ(korvex::RawClipMarks(sites, white, channelOf, g.sw, g.sh, g.vw, g.vh), want);
            // No white level, no marks.
            EXPECT_EQ(korvex::RawClipMarks(sites, 0, channelOf, g.sw, g.sh, g.vw, g.vh),
                      std::vector<std::uint8_t>(g.vw * g.vh, 0));
            // A region's photosites: the bounding box of those under its pixels, counted.
            const korvex::PixelRect region{g.sw / 3, g.sh / 4, g.sw - g.sw / 3 - g.sw / 5, g.sh - g.sh / 4};
            if (region.empty()) continue;
            std::size_t left = width, top = height, right = 0, bottom = 0;
            korvex::PhotositeHistograms counted;
            for (auto& h : counted) h.assign(korvex::kPhotositeValues, 0);
            for (std::size_t y = region.y; y < region.y + region.height; ++y)
                for (std::size_t x = region.x; x < region.x + region.width; ++x) {
                    const auto [col, row] = SensorOf(flip, width, height, x, y);
                    left = std::min(left, col), right = std::max(right, col + 1);
                    top = std::min(top, row), bottom = std::max(bottom, row + 1);
                    ++counted[sites.pattern[(row % sites.repeat) * sites.repeat + col % sites.repeat]][values[row * width + col]];
                }
            const korvex::PixelRect sensorRect = korvex::SensorRectOf(sites, g.sw, g.sh, region);
            EXPECT_EQ(sensorRect, (korvex::PixelRect{left, top, right - left, bottom - top}));
            EXPECT_TRUE(korvex::CountPhotosites(sites, sensorRect) == counted);
        }
}

TEST(ApplyRawClipMarks, EachMarkedChannelAddsItsColourAndUnmarkedPixelsPassThrough) {
    const Pixel view[5] = {0x112233, 0x445566, 0x778899, 0xAABBCC, 0x010203};
    const std::uint8_t marks[5] = {0, 1, 2, 4, 3};
    Pixel out[5] = {};
    korvex::ApplyRawClipMarks(view, marks, out, 5);
    EXPECT_EQ(std::vector<Pixel>(out, out + 5), (std::vector<Pixel>{0x112233, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00}));
}

TEST(ApplyClipMarks, HighlightWinsOverShadowAndUnmarkedPixelsPassThrough) {
    const Pixel view[4] = {0x112233, 0x445566, 0x778899, 0xAABBCC};
    const std::uint8_t marks[4] = {0, korvex::kClipHighlight, korvex::kClipShadow, 3};
    Pixel out[4] = {};
    korvex::ApplyClipMarks(view, marks, out, 4, 0xFF0000, 0x0000FF);
    EXPECT_EQ(std::vector<Pixel>(out, out + 4), (std::vector<Pixel>{0x112233, 0xFF0000, 0x0000FF, 0xFF0000}));
}

}  // namespace

// False colour and zebras against a slow reference that collects, for every view pixel,
// the set of luma levels of the source pixels whose area it overlaps, and picks the band
// by its definition: of the bands holding one of those levels, the one with a level
// farthest from 127.5, then the brighter, then the first given.
namespace {

using korvex::LumaBand;

struct Marked {
    std::vector<Pixel> falseColour;  // the false-colour view
    std::vector<Pixel> zebra;        // the plain view with stripes
};

bool Overlaps(std::size_t x, std::size_t X, std::size_t s, std::size_t v) {
    return x * v < (X + 1) * s && (x + 1) * v > X * s;
}

Marked SlowFalseColour(const std::vector<Pixel>& source, std::size_t stride, const Geometry& g,
                       const std::vector<Pixel>& view, const std::vector<LumaBand>& bands, int zebraLevel) {
    Marked out{std::vector<Pixel>(view.size()), view};
    for (std::size_t Y = 0; Y < g.vh; ++Y)
        for (std::size_t X = 0; X < g.vw; ++X) {
            std::vector<bool> present(256, false);
            for (std::size_t y = 0; y < g.sh; ++y)
                for (std::size_t x = 0; x < g.sw; ++x)
                    if (Overlaps(x, X, g.sw, g.vw) && Overlaps(y, Y, g.sh, g.vh)) present[source[y * stride + x] >> 24] = true;
            const std::size_t i = Y * g.vw + X;
            int best = -1, bestReach = -1;
            for (std::size_t b = 0; b < bands.size(); ++b) {
                bool hit = false;
                int reach = -1;
                for (int level = bands[b].low; level <= bands[b].high; ++level) {
                    hit = hit || present[static_cast<std::size_t>(level)];
                    reach = std::max(reach, std::abs(2 * level - 255));
                }
                if (!hit) continue;
                const bool better = best < 0 || reach > bestReach ||
                                    (reach == bestReach && (bands[b].high > bands[static_cast<std::size_t>(best)].high ||
                                                            (bands[b].high == bands[static_cast<std::size_t>(best)].high &&
                                                             bands[b].low > bands[static_cast<std::size_t>(best)].low)));
                if (better) best = static_cast<int>(b), bestReach = reach;
            }
            out.falseColour[i] = best >= 0 ? bands[static_cast<std::size_t>(best)].colour : (view[i] >> 24) * 0x010101u;
            bool zebra = false;
            for (int level = std::max(zebraLevel, 0); level < 256; ++level) zebra = zebra || present[static_cast<std::size_t>(level)];
            if (zebra && (X + Y) % 4 < 2) {
                const Pixel p = view[i];
                const double luma = 0.299 * ((p >> 16) & 0xFF) + 0.587 * ((p >> 8) & 0xFF) + 0.114 * (p & 0xFF);
                out.zebra[i] = luma >= 128 ? 0x000000u : 0xFFFFFFu;
            }
        }
    return out;
}

Marked FastFalseColour(const std::vector<Pixel>& source, std::size_t stride, const Geometry& g,
                       const std::vector<Pixel>& view, const std::vector<LumaBand>& bands, int zebraLevel) {
    const korvex::LumaMarking marking = korvex::MarkingOf(bands, zebraLevel);
    const std::vector<std::uint32_t> marks = korvex::LumaMarks(source.data(), g.sw, g.sh, stride, g.vw, g.vh, marking);
    Marked out{std::vector<Pixel>(view.size()), view};
    EXPECT_EQ(marks.size(), view.size());
    if (marks.size() != view.size()) return out;
    korvex::ApplyFalseColour(view.data(), marks.data(), out.falseColour.data(), view.size(), marking);
    korvex::ApplyZebra(out.zebra.data(), marks.data(), g.vw, g.vh);
    return out;
}

}  // namespace

TEST(FalseColour, BandsAndZebrasMatchTheSlowReferenceOverGeometriesAndOverlappingBands) {
    const Geometry geometries[] = {{37, 23, 7, 5}, {64, 48, 64, 48}, {5, 4, 13, 11}, {50, 9, 17, 20},
                                   {1, 1, 3, 2},   {29, 31, 28, 30}, {700, 600, 7, 5}};
    // The default bands; then overlapping ones, one empty (low above high), one a single
    // level, ends at equal reach from the middle, and bands given least extreme first.
    const std::vector<std::vector<LumaBand>> bandSets = {
        {{0, 4, 0x800080}, {5, 12, 0x0000FF}, {13, 25, 0x00A0FF}, {97, 107, 0x00C000}, {138, 148, 0xFF80C0},
         {230, 244, 0xFFFF00}, {245, 255, 0xFF0000}},
        {{100, 160, 0x111111}, {120, 130, 0x222222}, {90, 10, 0x333333}, {200, 200, 0x444444}, {0, 55, 0x555555},
         {200, 255, 0x666666}, {60, 195, 0x777777}},
    };
    std::mt19937 random(7);
    std::uniform_int_distribution<int> level(0, 255), colour(0, 0xFFFFFF), pick(0, 99);
    for (const auto& bands : bandSets)
        for (const int zebraLevel : {235, 0, 256, 128})
            for (const Geometry& g : geometries) {
                // Levels mostly in the gaps between the default bands, with a sprinkling in
                // them, so that a band often falls under only some of a view pixel's pixels.
                const std::size_t stride = g.sw + 2;
                std::vector<Pixel> source(stride * g.sh, 0xFF000000u);
                for (std::size_t y = 0; y < g.sh; ++y)
                    for (std::size_t x = 0; x < g.sw; ++x) {
                        const int l = pick(random) < 90 ? 30 + level(random) % 60 : level(random);
                        source[y * stride + x] = static_cast<Pixel>(l) << 24 | static_cast<Pixel>(colour(random));
                    }
                std::vector<Pixel> view(g.vw * g.vh);
                for (Pixel& p : view) p = static_cast<Pixel>(level(random)) << 24 | static_cast<Pixel>(colour(random));
                const Marked slow = SlowFalseColour(source, stride, g, view, bands, zebraLevel);
                const Marked fast = FastFalseColour(source, stride, g, view, bands, zebraLevel);
                const std::string label = std::to_string(g.sw) + "x" + std::to_string(g.sh) + " -> " +
                                          std::to_string(g.vw) + "x" + std::to_string(g.vh) + " zebra " +
                                          std::to_string(zebraLevel) + " bands " + std::to_string(bands.size());
                EXPECT_EQ(fast.falseColour, slow.falseColour) << label;
                EXPECT_EQ(fast.zebra, slow.zebra) << label;
            }
}

TEST(FalseColour, ASingleFullSizePixelInABandShowsInAReducedView) {
    // 1999 x 1201 pixels at Y 60 (no band), one at Y 250 (the red band); a view of 100 x 60.
    const Geometry g{1999, 1201, 100, 60};
    std::vector<Pixel> source(g.sw * g.sh, 60u << 24 | 0x3C3C3Cu);
    const std::size_t x = 1234, y = 777;
    source[y * g.sw + x] = 250u << 24 | 0xFAFAFAu;
    const std::vector<Pixel> view(g.vw * g.vh, 60u << 24 | 0x3C3C3Cu);
    const Marked fast = FastFalseColour(source, g.sw, g, view,
                                        {{0, 4, 0x800080}, {97, 107, 0x00C000}, {245, 255, 0xFF0000}}, 250);
    for (std::size_t Y = 0; Y < g.vh; ++Y)
        for (std::size_t X = 0; X < g.vw; ++X) {
            const bool covers = Overlaps(x, X, g.sw, g.vw) && Overlaps(y, Y, g.sh, g.vh);
            ASSERT_EQ(fast.falseColour[Y * g.vw + X], covers ? 0xFF0000u : 0x3C3C3Cu) << X << "," << Y;
            const bool striped = covers && (X + Y) % 4 < 2;
            ASSERT_EQ(fast.zebra[Y * g.vw + X], striped ? 0xFFFFFFu : view[Y * g.vw + X]) << X << "," << Y;
        }
    EXPECT_EQ(x * g.vw / g.sw, 61u) << "the view pixel that covers it";
}
