// The whole-picture waveform raster: sampling positions, level rows, colours,
// graticule placement and whole rasters against a direct reference.

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "linescope/Waveform.h"
#include "model/ScopeLines.h"
#include "model/Trace.h"
#include "support.h"

namespace {

using korvex::Pixel;
using korvex::PixelGrid;
using testing_support::Bgra;
using testing_support::MakeGrid;
using namespace vistrel::linescope;

constexpr int kRows = 256;
constexpr int kSingle = 412;
constexpr int kParade = 100;
constexpr std::uint32_t kLamp128 = 0x8080;  // lamp at 128: red = green = 128
constexpr Pixel kLamp128Pixel = 0x808000;   // the same yellow in raster order
const std::vector<int> kGraticuleRows = {230, 205, 179, 154, 128, 102, 77, 51, 26};

// The waveform as the drawing rules state it, written as plain loops and painted in
// order: behind, the lines (reference lines dotted, then the graticule solid), a held
// picture's samples in the reference colour, the picture's over them; in front, the lines last.
std::vector<std::vector<Pixel>> ReferenceWaveform(const PixelGrid& pic, int channel, bool horizontal, bool behind,
                                                  std::uint32_t scale, int columns, const PixelGrid* held = nullptr,
                                                  const std::vector<int>& lines = {}) {
    const int count = channel == 4 ? 4 : 1;
    std::vector<std::vector<Pixel>> out(count, std::vector<Pixel>(static_cast<std::size_t>(kRows * columns), 0));
    const Pixel colors[4] = {0xA02020, 0x10A010, 0x5050F0, 0xD0D0D0};
    const int shifts[4] = {16, 8, 0, 24};
    const Pixel lamp = ((scale & 0xFF) << 16) | (scale & 0xFF00) | ((scale >> 16) & 0xFF);
    auto graticule = [&] {
        if ((lamp & 0xFF00) <= 13) return;
        for (int level : lines)
            for (auto& raster : out)
                for (int c = 0; c <= columns - 2; c += 2) raster[(255 - level) * columns + c] = lamp;
        for (int row : kGraticuleRows)
            for (auto& raster : out)
                for (int c = 0; c <= columns - 2; ++c) raster[row * columns + c] = lamp;
    };
    bool under = false;
    auto plot = [&](Pixel p, int c) {
        for (int b = 0; b < count; ++b) {
            const int ch = channel == 4 ? b : channel;
            const int v = static_cast<int>((p >> shifts[ch]) & 0xFF);
            out[b][(255 - v) * columns + c] = under ? vistrel::kReferenceTrace : colors[ch];
        }
    };
    auto clampTo = [](double v, long last) { return std::clamp(static_cast<long>(v), 0L, last); };
    if (behind) graticule();
    auto sample = [&](const PixelGrid& from) {
        const long W = static_cast<long>(from.width());
        const long H = static_cast<long>(from.height());
        if (horizontal) {
            const float sx = static_cast<float>(static_cast<double>(W) / columns);
            const float sy = static_cast<float>(static_cast<double>(H) / kRows);
            for (int j = 1; j <= kRows - 1; ++j) {
                const long y = clampTo(std::floor(j * static_cast<double>(sy)), H - 1);
                for (int i = 1; i <= columns - 1; ++i) {
                    const long x = clampTo(std::floor(i * static_cast<double>(sx)), W - 1);
                    plot(from.at(x, y), i - 1);
                }
            }
        } else {
            const float sx = static_cast<float>(static_cast<double>(W) / kRows);
            const float sy = static_cast<float>(static_cast<double>(H) / columns);
            for (int j = 1; j <= kRows - 1; ++j) {
                const long x = clampTo(std::floor(j * static_cast<double>(sx)), W - 1);
                for (int i = 1; i <= columns - 1; ++i) {
                    const long y = clampTo(std::floor(i * static_cast<double>(sy)), H - 1);
                    plot(from.at(x, y), i - 1);
                }
            }
        }
    };
    if (held != nullptr) {
        under = true;
        sample(*held);
        under = false;
    }
    sample(pic);
    if (!behind) graticule();
    return out;
}

PixelGrid RandomPicture(std::size_t w, std::size_t h, unsigned seed) {
    std::mt19937 random(seed);
    return MakeGrid(w, h, [&](std::size_t, std::size_t) { return static_cast<Pixel>(random()); });
}

WaveformSettings Settings(Channel channel, Orientation orientation, ScalePlacement scale, std::uint32_t lamp) {
    WaveformSettings s;
    s.channel = channel;
    s.orientation = orientation;
    s.scale = scale;
    s.scaleColor = lamp;
    s.columns = DisplayColumns(channel, 420);
    return s;
}

Pixel At(const WaveformRasters& r, std::size_t raster, int row, int column) {
    return r.rasters[raster][static_cast<std::size_t>(row * r.columns + column)];
}

// Rows of a raster column that are lit (not black).
std::set<int> LitRows(const WaveformRasters& r, std::size_t raster, int column) {
    std::set<int> rows;
    for (int row = 0; row < kRows; ++row)
        if (At(r, raster, row, column) != 0) rows.insert(row);
    return rows;
}

TEST(LinescopeWaveformGeometry, WidthsAndHeadersFollowTheClientArea) {
    EXPECT_EQ(DisplayColumns(Channel::Red, 420), kSingle);
    EXPECT_EQ(DisplayColumns(Channel::Luma, 420), kSingle);
    EXPECT_EQ(DisplayColumns(Channel::Parade, 420), kParade);
    const auto single = ScopeRasterHeader(kSingle);
    EXPECT_EQ(single.biSize, 40u);
    EXPECT_EQ(single.biWidth, 412);
    EXPECT_EQ(single.biHeight, -256);
    EXPECT_EQ(single.biPlanes, 1);
    EXPECT_EQ(single.biBitCount, 32);
    EXPECT_EQ(single.biCompression, 0u);
    EXPECT_EQ(single.biSizeImage, 421888u);
    EXPECT_EQ(ScopeRasterHeader(kParade).biSizeImage, 102400u);
}

TEST(LinescopeWaveformSampling, HalfSizeStepsReadEverySecondColumnAndRow) {
    // 824 x 512: raster column c shows picture column 2 (c + 1) from rows 2, 4, ..., 510.
    const auto pic = MakeGrid(824, 512, [](std::size_t x, std::size_t y) {
        return Bgra(0, 0, static_cast<unsigned>((7 * x + y) & 0xFF));
    });
    const auto r = BuildWaveform(pic, Settings(Channel::Red, Orientation::Horizontal, ScalePlacement::Behind, 0));
    ASSERT_EQ(r.columns, kSingle);
    ASSERT_EQ(r.rasters.size(), 1u);
    for (int c = 0; c < kSingle - 1; ++c) {
        std::set<int> expected;
        for (int y = 2; y <= 510; y += 2) expected.insert(255 - static_cast<int>((7 * 2 * (c + 1) + y) & 0xFF));
        ASSERT_EQ(LitRows(r, 0, c), expected) << "raster column " << c;
    }
    EXPECT_TRUE(LitRows(r, 0, kSingle - 1).empty());
}

TEST(LinescopeWaveformSampling, OnePixelPictureGivesOneDotPerColumnButTheLast) {
    const auto pic = MakeGrid(1, 1, [](std::size_t, std::size_t) { return Bgra(0, 100, 0); });
    for (Orientation o : {Orientation::Horizontal, Orientation::Vertical}) {
        const auto r = BuildWaveform(pic, Settings(Channel::Green, o, ScalePlacement::Behind, 0));
        for (int c = 0; c < kSingle - 1; ++c) {
            ASSERT_EQ(LitRows(r, 0, c), std::set<int>{155}) << c;
            ASSERT_EQ(At(r, 0, 155, c), kRasterGreen);
        }
        EXPECT_TRUE(LitRows(r, 0, kSingle - 1).empty());
    }
}

TEST(LinescopeWaveformSampling, FullLevelOnTopRowAndZeroOnBottomRow) {
    // Left half at 255, right half at 0 in every byte.
    const auto pic = MakeGrid(412, 256, [](std::size_t x, std::size_t) {
        return x < 206 ? Bgra(255, 255, 255, 255) : Bgra(0, 0, 0, 0);
    });
    const auto r = BuildWaveform(pic, Settings(Channel::Parade, Orientation::Horizontal, ScalePlacement::Behind, 0));
    for (std::size_t b = 0; b < 4; ++b) {
        EXPECT_EQ(LitRows(r, b, 0), std::set<int>{0}) << b;
        EXPECT_EQ(LitRows(r, b, 97), std::set<int>{255}) << b;
    }
}

TEST(LinescopeWaveformSampling, VerticalOrientationPutsThePicturesTopAtTheLeft) {
    const auto pic = MakeGrid(300, 400, [](std::size_t, std::size_t y) {
        return y < 200 ? Bgra(0, 0, 0, 200) : Bgra(0, 0, 0, 40);
    });
    const auto r = BuildWaveform(pic, Settings(Channel::Luma, Orientation::Vertical, ScalePlacement::Behind, 0));
    // Raster column c reads picture row floor((c + 1) x 400 / 412).
    for (int c = 0; c < kSingle - 1; ++c) {
        const int y = static_cast<int>(std::floor((c + 1) * static_cast<double>(static_cast<float>(400.0 / 412))));
        ASSERT_EQ(LitRows(r, 0, c), std::set<int>{y < 200 ? 55 : 215}) << c;
    }
}

TEST(LinescopeWaveformSampling, ParadeBoxesEachShowTheirOwnChannel) {
    const auto pic = MakeGrid(50, 40, [](std::size_t, std::size_t) { return Bgra(30, 20, 10, 40); });
    const auto r = BuildWaveform(pic, Settings(Channel::Parade, Orientation::Horizontal, ScalePlacement::Behind, 0));
    ASSERT_EQ(r.rasters.size(), 4u);
    const int rows[4] = {245, 235, 225, 215};
    const Pixel colors[4] = {kRasterRed, kRasterGreen, kRasterBlue, kRasterLuma};
    for (std::size_t b = 0; b < 4; ++b) {
        EXPECT_EQ(LitRows(r, b, 50), std::set<int>{rows[b]});
        EXPECT_EQ(At(r, b, rows[b], 50), colors[b]);
    }
}

TEST(LinescopeWaveformGraticule, InFrontCoversSamplesBehindDoesNot) {
    // Level 25 lies on graticule row 230.
    const auto pic = MakeGrid(64, 64, [](std::size_t, std::size_t) { return Bgra(25, 0, 0); });
    const auto behind =
        BuildWaveform(pic, Settings(Channel::Blue, Orientation::Horizontal, ScalePlacement::Behind, kLamp128));
    const auto front =
        BuildWaveform(pic, Settings(Channel::Blue, Orientation::Horizontal, ScalePlacement::InFront, kLamp128));
    EXPECT_EQ(At(behind, 0, 230, 10), kRasterBlue);
    EXPECT_EQ(At(front, 0, 230, 10), kLamp128Pixel);
    for (int row : kGraticuleRows) {
        EXPECT_EQ(At(behind, 0, row, 0), row == 230 ? kRasterBlue : kLamp128Pixel);
        EXPECT_EQ(At(front, 0, row, kSingle - 2), kLamp128Pixel);
        EXPECT_EQ(At(front, 0, row, kSingle - 1), 0u) << "the last column stays black";
    }
}

TEST(LinescopeWaveformGraticule, LampZeroDrawsNoLinesInEitherPlacement) {
    const PixelGrid empty;
    for (ScalePlacement s : {ScalePlacement::Behind, ScalePlacement::InFront}) {
        const auto r = BuildWaveform(empty, Settings(Channel::Parade, Orientation::Horizontal, s, 0));
        for (const auto& raster : r.rasters)
            EXPECT_TRUE(std::all_of(raster.begin(), raster.end(), [](Pixel p) { return p == 0; }));
    }
    // Lamp 1 is the dimmest that still lights the lines.
    const auto dim = BuildWaveform(empty, Settings(Channel::Red, Orientation::Horizontal, ScalePlacement::Behind, 0x0101));
    EXPECT_EQ(At(dim, 0, 128, 0), 0x010100u);
}

TEST(LinescopeWaveformGraticule, EmptyPictureGivesTheGraticuleOnly) {
    const auto r =
        BuildWaveform(PixelGrid{}, Settings(Channel::Red, Orientation::Vertical, ScalePlacement::InFront, kLamp128));
    ASSERT_EQ(r.rasters.size(), 1u);
    std::size_t lit = 0;
    for (Pixel p : r.rasters[0]) lit += p != 0;
    EXPECT_EQ(lit, kGraticuleRows.size() * (kSingle - 1));
}

TEST(LinescopeWaveformGraticule, ReferenceLinesLandOnTheirLevelsRowsDotted) {
    // Shares of full scale are on the graticule's own scale: its tenths are its lines.
    const std::vector<int> tenths = vistrel::ParseScopeLines("90%, 80%, 70%, 60%, 50%, 40%, 30%, 20%, 10%").value();
    std::vector<int> tenthRows;
    for (const int level : tenths) tenthRows.push_back(255 - level);
    std::sort(tenthRows.begin(), tenthRows.end(), std::greater<>());
    EXPECT_EQ(tenthRows, kGraticuleRows);

    auto s = Settings(Channel::Luma, Orientation::Horizontal, ScalePlacement::InFront, kLamp128);
    s.lines = vistrel::ParseScopeLines(" 235,16 , 95%,5%,16").value();
    ASSERT_EQ(s.lines, (std::vector<int>{12, 16, 235, 242}));
    const auto r = BuildWaveform(PixelGrid{}, s);
    for (int row = 0; row < kRows; ++row) {
        const bool graticule = std::count(kGraticuleRows.begin(), kGraticuleRows.end(), row) > 0;
        const bool dotted = row == 255 - 12 || row == 255 - 16 || row == 255 - 235 || row == 255 - 242;
        for (int c = 0; c < kSingle; ++c) {
            const bool lit = c < kSingle - 1 && (graticule || (dotted && c % 2 == 0));
            ASSERT_EQ(At(r, 0, row, c), lit ? kLamp128Pixel : 0u) << "row " << row << ", column " << c;
        }
    }
    // Like the graticule, no line without a lamp.
    s.scaleColor = 0;
    const auto dark = BuildWaveform(PixelGrid{}, s);
    for (Pixel p : dark.rasters[0]) ASSERT_EQ(p, 0u);
}

TEST(LinescopeWaveformTrace, DensityDimsEachHitByItsSamplesAgainstTheMeanAndKeepsEveryHitLit) {
    // 824 x 512: the samples read rows 2, 4 ... 510, 63 of them at level 100 (rows 2..126)
    // and 192 at level 200, in every column; the lit pixels' mean is 255 / 2.
    const auto pic = MakeGrid(824, 512, [](std::size_t, std::size_t y) {
        const Pixel v = y < 128 ? 100 : 200;
        return Bgra(v, v, v, v);
    });
    auto s = Settings(Channel::Luma, Orientation::Horizontal, ScalePlacement::Behind, 0);
    const auto flat = BuildWaveform(pic, s);
    Pixel before100 = 0;
    for (int trace = 1; trace <= vistrel::kTraceMax; ++trace) {
        s.trace = trace;
        const auto dense = BuildWaveform(pic, s);
        const double gain = std::ldexp(1.0, trace - 4);
        const Pixel at100 = vistrel::DimColour(kRasterLuma, 1 - std::exp(-gain * 63 / 127.5));
        const Pixel at200 = vistrel::DimColour(kRasterLuma, 1 - std::exp(-gain * 192 / 127.5));
        EXPECT_GE(at100, before100) << "brighter at each step, to full colour";
        EXPECT_GE(at200, at100) << "brighter where more samples land";
        if (trace == 1) {
            EXPECT_GT(at200, at100);
        }
        before100 = at100;
        for (int row = 0; row < kRows; ++row)
            for (int c = 0; c < kSingle; ++c) {
                const Pixel want = At(flat, 0, row, c) == 0 ? 0 : (row == 155 ? at100 : at200);
                ASSERT_EQ(At(dense, 0, row, c), want) << "brightness " << trace << ", row " << row << ", column " << c;
            }
    }
}

TEST(LinescopeWaveformReference, HeldSamplesAreThePicturesOwnUnderEitherStandard) {
    using korvex::LumaStandard;
    for (const LumaStandard held : {LumaStandard::Rec601, LumaStandard::Rec709}) {
        const LumaStandard other = held == LumaStandard::Rec601 ? LumaStandard::Rec709 : LumaStandard::Rec601;
        auto pic = RandomPicture(731, 419, 11);
        auto again = RandomPicture(731, 419, 11);
        korvex::ConvertToYuv(pic, held);
        korvex::ConvertToYuv(again, other);
        vistrel::Reference reference;
        TakeWaveformSamples(pic, held, reference);
        for (const Orientation o : {Orientation::Horizontal, Orientation::Vertical})
            for (const int columns : {kSingle, kParade}) {
                const auto* own = reference.SamplesFor(held, o, columns);
                const auto* formed = reference.SamplesFor(other, o, columns);
                ASSERT_TRUE(own != nullptr && formed != nullptr);
                EXPECT_EQ(own->pixels, SampleWaveform(ViewOf(pic), o, columns).pixels);
                EXPECT_EQ(formed->pixels, SampleWaveform(ViewOf(again), o, columns).pixels);
            }
    }
}

TEST(LinescopeWaveformReuse, RastersKeptFromEarlierCallsCarryNothingOver) {
    const auto bright = MakeGrid(90, 70, [](std::size_t, std::size_t) { return Bgra(200, 200, 200, 200); });
    const auto dark = MakeGrid(90, 70, [](std::size_t x, std::size_t) {
        return Bgra(static_cast<unsigned>(x), 5, 6, 7);
    });
    const WaveformSettings calls[] = {
        Settings(Channel::Parade, Orientation::Horizontal, ScalePlacement::InFront, kLamp128),
        Settings(Channel::Blue, Orientation::Vertical, ScalePlacement::Behind, kLamp128),
        Settings(Channel::Parade, Orientation::Vertical, ScalePlacement::Behind, 0),
        Settings(Channel::Luma, Orientation::Horizontal, ScalePlacement::InFront, 0)};
    WaveformRasters kept;
    BuildWaveform(ViewOf(bright), Settings(Channel::Parade, Orientation::Horizontal, ScalePlacement::Behind, kLamp128),
                  kept);
    for (const auto& s : calls) {
        BuildWaveform(ViewOf(dark), s, kept);
        const auto fresh = BuildWaveform(dark, s);
        EXPECT_EQ(kept.columns, fresh.columns);
        EXPECT_EQ(kept.rasters, fresh.rasters);
        BuildWaveform(ViewOf(bright), s, kept);
    }
}

struct WholeCase {
    std::size_t width, height;
    int channel;
    bool horizontal, behind;
};

// "1001x701_Parade_Vertical_ScaleInFront": the case as its name and in failure messages.
std::string CaseName(const WholeCase& k) {
    static const char* const kChannels[] = {"Red", "Green", "Blue", "Luma", "Parade"};
    return std::to_string(k.width) + "x" + std::to_string(k.height) + "_" + kChannels[k.channel] + "_" +
           (k.horizontal ? "Horizontal" : "Vertical") + "_" + (k.behind ? "ScaleBehind" : "ScaleInFront");
}
void PrintTo(const WholeCase& k, std::ostream* out) { *out << CaseName(k); }

class LinescopeWaveformWhole : public ::testing::TestWithParam<WholeCase> {};

TEST_P(LinescopeWaveformWhole, MatchesTheDirectReference) {
    const WholeCase k = GetParam();
    const auto pic = RandomPicture(k.width, k.height, static_cast<unsigned>(k.width * 31 + k.height));
    const auto s = Settings(static_cast<Channel>(k.channel),
                            k.horizontal ? Orientation::Horizontal : Orientation::Vertical,
                            k.behind ? ScalePlacement::Behind : ScalePlacement::InFront, kLamp128);
    const auto got = BuildWaveform(pic, s);
    const auto want = ReferenceWaveform(pic, k.channel, k.horizontal, k.behind, kLamp128, s.columns);
    ASSERT_EQ(got.rasters.size(), want.size());
    for (std::size_t b = 0; b < want.size(); ++b) EXPECT_EQ(got.rasters[b], want[b]) << "raster " << b;

    // A held picture of other proportions drawn under this one from its samples alone, with
    // reference lines (25 lies on a graticule row, which stays solid; 0 and 255 at the ends).
    const auto held = RandomPicture(k.height + 50, k.width / 2 + 7, static_cast<unsigned>(k.width + 5));
    const vistrel::WaveformSamples samples = SampleWaveform(ViewOf(held), s.orientation, s.columns);
    auto withLines = s;
    withLines.lines = {0, 16, 25, 235, 255};
    const auto layered = BuildWaveform(ViewOf(pic), withLines, &samples);
    const auto painted =
        ReferenceWaveform(pic, k.channel, k.horizontal, k.behind, kLamp128, s.columns, &held, withLines.lines);
    ASSERT_EQ(layered.rasters.size(), painted.size());
    for (std::size_t b = 0; b < painted.size(); ++b) EXPECT_EQ(layered.rasters[b], painted[b]) << "raster " << b;
}

INSTANTIATE_TEST_SUITE_P(Pictures, LinescopeWaveformWhole,
                         ::testing::Values(WholeCase{37, 23, 0, true, true}, WholeCase{37, 23, 3, false, false},
                                           WholeCase{600, 333, 1, true, false}, WholeCase{600, 333, 2, false, true},
                                           WholeCase{1001, 701, 4, true, true}, WholeCase{1001, 701, 4, false, false},
                                           WholeCase{3, 900, 4, false, true}, WholeCase{900, 3, 0, true, true}),
                         [](const ::testing::TestParamInfo<WholeCase>& info) { return CaseName(info.param); });

}  // namespace
