// The picture model without a window: the display modes it makes of the loaded view,
// the view fitted to a picture and the mapping between the two, a load's results
// assembled, the probe's operations, and the one notice each edit gives.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "decoding/Decode.h"
#include "model/Model.h"

namespace {

using korvex::Pixel;
using vistrel::Change;
using vistrel::Changes;
using vistrel::Model;
using vistrel::Picture;
using vistrel::Probe;
using vistrel::Settings;

// Every notice the model gives, with its probe as it stood then.
struct Notices {
    explicit Notices(Model& model) {
        QObject::connect(&model, &Model::changed, [this, &model](Changes what) {
            seen.push_back(what);
            probes.push_back(model.picture().probe);
        });
    }
    std::vector<Changes> seen;
    std::vector<Probe> probes;
};

// The view's pixel as a display mode shows it, worked out per pixel.
Pixel Shown(Pixel p, const Settings& s) {
    const int on = s.channels[0] + s.channels[1] + s.channels[2];
    Pixel out = 0;
    if (s.mono && on == 1) {
        const int shift = s.channels[0] ? 16 : s.channels[1] ? 8 : 0;
        const Pixel level = (p >> shift) & 0xFF;
        out = level << 16 | level << 8 | level;
    } else {
        out = p & ((s.channels[0] ? 0xFF0000u : 0u) | (s.channels[1] ? 0xFF00u : 0u) | (s.channels[2] ? 0xFFu : 0u));
    }
    return s.negative ? ~out : out;
}

std::vector<Pixel> LoadedView() {
    std::vector<Pixel> view;
    for (Pixel k = 0; k < 64; ++k) view.push_back(0x5A000000u | (k * 0x3F1D07u & 0xFFFFFFu));
    return view;
}

TEST(ModelDisplay, EveryModeMatchesThePixelRuleWhateverCameBefore) {
    // Every setting after every other, so that the all-channels-off buffer kept for
    // reuse is met in each state it can be left in.
    std::vector<Settings> all;
    for (int bits = 0; bits < 32; ++bits) {
        Settings s;
        s.channels = {(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0};
        s.mono = (bits & 8) != 0;
        s.negative = (bits & 16) != 0;
        all.push_back(s);
    }
    for (const Settings& before : all)
        for (const Settings& now : all) {
            Model model;
            Picture picture;
            picture.viewPixels = LoadedView();
            model.Load(std::move(picture));
            model.Apply(before);
            model.DisplayView();
            model.Apply(now);
            const std::vector<Pixel> shown = model.DisplayView();
            const std::vector<Pixel>& source = model.picture().viewPixels;
            ASSERT_EQ(shown.size(), source.size());
            for (std::size_t k = 0; k < source.size(); ++k)
                ASSERT_EQ(shown[k] & 0xFFFFFFu, Shown(source[k], now) & 0xFFFFFFu) << k;
            ASSERT_EQ(source, LoadedView()) << "the loaded view is never touched";
        }
}

// Each setting is named by its own change, once, and setting it again says nothing.
TEST(ModelNotice, EachSettingIsNamedByItsOwnChangeAndOnlyOnce) {
    struct Row {
        std::function<void(Settings&)> edit;
        Changes expected;
    };
    const Row rows[] = {
        {[](Settings& s) { s.channels[1] = false; }, Change::Display},
        {[](Settings& s) { s.mono = true; }, Change::Display},
        {[](Settings& s) { s.negative = true; }, Change::Display},
        {[](Settings& s) { s.showClipping = true; }, Change::Display},
        {[](Settings& s) { s.lamp = 0; }, Change::Lamp},
        {[](Settings& s) { s.zoom = vistrel::kZoomMax; }, Change::Zoom},
        {[](Settings& s) { s.scopeChannel = vistrel::ScopeChannel::Luma; }, Change::Scope},
        {[](Settings& s) { s.orientation = vistrel::ScopeOrientation::Vertical; }, Change::Scope},
        {[](Settings& s) { s.scale = vistrel::ScalePlacement::InFront; }, Change::Scope},
        {[](Settings& s) { s.luma = korvex::LumaStandard::Rec709; }, Change::Graticule},
        {[](Settings& s) { s.skinLine = true; }, Change::Graticule},
        {[](Settings& s) { s.histogramScale = vistrel::HistogramScale::Log; }, Change::HistogramScale},
        {[](Settings& s) { s.lineScopeShown = false; }, Change::Shown},
        {[](Settings& s) { s.vectorscopeShown = false; }, Change::Shown},
        {[](Settings& s) { s.histogramShown = true; }, Change::Shown},
        {[](Settings& s) { s.chromaticityShown = true; }, Change::Shown},
        {[](Settings& s) { s.histogramChannel = vistrel::HistogramChannel::Parade; }, Change::HistogramChannel},
        {[](Settings& s) { s.colour = vistrel::ColourHandling::StoredValues; }, Change::Colour},
        {[](Settings& s) { s.trace = vistrel::kTraceMax; }, Change::Trace},
        {[](Settings& s) { s.scopeLines = {16, 235}; }, Change::Scope},
        {[](Settings& s) { s.falseColour = true; }, Change::Display},
        {[](Settings& s) { s.falseColourBands.pop_back(); }, Change::Display},
        {[](Settings& s) { s.zebra = true; }, Change::Display},
        {[](Settings& s) { s.zebraLevel = 200; }, Change::Display},
    };
    Changes every;
    for (const Row& row : rows) {
        Settings edited;
        row.edit(edited);
        EXPECT_EQ(vistrel::ChangesBetween(Settings{}, edited), row.expected);
        Model model;
        Notices notices(model);
        model.Apply(edited);
        model.Apply(edited);
        EXPECT_EQ(notices.seen, std::vector<Changes>{row.expected});
        EXPECT_TRUE(model.settings() == edited);
        every |= row.expected;
    }
    // Every change a setting can make has its row.
    EXPECT_EQ(every, Change::Display | Change::Lamp | Change::Zoom | Change::Scope | Change::Graticule |
                         Change::HistogramScale | Change::Shown | Change::HistogramChannel |
                         Change::Colour | Change::Trace);

    // With a picture in, a new standard forms its luma and counts again, and says so.
    Model model;
    Picture picture;
    picture.pixels = korvex::PixelGrid(3, 2);
    for (Pixel& p : picture.pixels.span()) p = 0x00C83214u;
    model.Load(std::move(picture));
    model.LockProbe(2, 1);
    Notices notices(model);
    model.Set(&Settings::luma, korvex::LumaStandard::Rec709);
    EXPECT_EQ(notices.seen, std::vector<Changes>{Change::Graticule | Change::Analysis});
    std::vector<Pixel> copy(6, 0x00C83214u);
    const korvex::UvHistogram expected = korvex::AnalysePixels(copy, korvex::LumaStandard::Rec709);
    EXPECT_TRUE(std::ranges::equal(model.picture().histogram.cells(), expected.cells()));
    EXPECT_EQ(model.picture().pixels.at(0, 0), copy[0]) << "luma formed again in the fourth byte";
    EXPECT_EQ(model.picture().probe.sample, copy[0]) << "the locked probe reads the new luma";
    EXPECT_EQ(model.picture().luma, korvex::LumaStandard::Rec709);
}

TEST(ModelReference, KeepsThePicturesCountsUnderBothStandardsAcrossLoadsUntilDropped) {
    using korvex::LumaStandard;
    // More pixels than the reference counts under the other standard at a time.
    const std::size_t width = 2100;
    const std::size_t height = 2011;
    std::vector<Pixel> colours(width * height);
    std::uint32_t state = 7;
    for (Pixel& p : colours) p = (state = state * 1664525u + 1013904223u) >> 8;
    for (const LumaStandard loaded : {LumaStandard::Rec601, LumaStandard::Rec709}) {
        Picture picture;
        picture.file = "/pictures/held one.png";
        picture.luma = loaded;
        picture.pixels = korvex::PixelGrid(width, height);
        std::copy(colours.begin(), colours.end(), picture.pixels.data());
        picture.histogram = korvex::AnalysePixels(picture.pixels.span(), loaded, picture.levels);
        const vistrel::Reference reference = vistrel::CountReference(picture);
        EXPECT_EQ(reference.name, QStringLiteral("held one.png"));
        for (const LumaStandard standard : {LumaStandard::Rec601, LumaStandard::Rec709}) {
            std::vector<Pixel> copy = colours;
            korvex::LevelCounts levels;
            const korvex::UvHistogram histogram = korvex::AnalysePixels(copy, standard, levels);
            EXPECT_EQ(reference.Under(standard).levels, levels);
            EXPECT_TRUE(std::ranges::equal(reference.Under(standard).histogram.cells(), histogram.cells()));
        }
        EXPECT_TRUE(std::ranges::equal(picture.pixels.span(), [&] {
            std::vector<Pixel> copy = colours;
            korvex::AnalysePixels(copy, loaded);
            return copy;
        }())) << "the picture's own luma bytes stay";

        Model model;
        Notices notices(model);
        model.Load(std::move(picture));
        model.HoldReference(reference);
        model.Drop();
        model.Load(Picture{});
        ASSERT_NE(model.reference(), nullptr) << "kept from one load to the next";
        EXPECT_EQ(model.reference()->name, reference.name);
        model.DropReference();
        model.DropReference();
        EXPECT_EQ(model.reference(), nullptr);
        EXPECT_EQ(notices.seen, (std::vector<Changes>{Change::Picture, Change::Reference, Change::Dropped,
                                                      Change::Picture, Change::Reference}));
    }
}

// Every picture that fits the room keeps the fit it had without a bound, pixel for pixel;
// any wider one fills the room with a height that follows its proportions.
TEST(ModelView, FitWithinTheRoomOverManyProportions) {
    constexpr int kRoom = 512, kHeight = 334, kFrame = 2;
    int fitting = 0, bounded = 0;
    for (int width = 1; width <= 6000; width += 37)
        for (int height = 1; height <= 4000; height += 53) {
            const vistrel::ViewFit free = vistrel::FitView(width, height, kHeight, 1);
            const vistrel::ViewFit fit = vistrel::FitView(width, height, kHeight, 1, kRoom);
            ASSERT_LE(fit.outerWidth, kRoom);
            ASSERT_GE(fit.width, 1);
            ASSERT_GE(fit.height, 1);
            ASSERT_EQ(fit.width, fit.outerWidth - kFrame);
            ASSERT_EQ(fit.height, fit.outerHeight - kFrame);
            if (free.outerWidth <= kRoom) {
                ++fitting;
                ASSERT_EQ(fit.outerWidth, free.outerWidth) << width << " x " << height;
                ASSERT_EQ(fit.outerHeight, kHeight) << width << " x " << height;
                ASSERT_EQ(fit.height, free.height);
            } else {
                ++bounded;
                ASSERT_EQ(fit.outerWidth, kRoom) << width << " x " << height;
                const double exact = kRoom * static_cast<double>(height) / width;
                ASSERT_LE(std::fabs(fit.outerHeight - std::max(exact, 3.0)), 0.5 + 1e-3) << width << " x " << height;
                ASSERT_LE(fit.outerHeight, kHeight);
            }
        }
    EXPECT_GT(fitting, 1000);
    EXPECT_GT(bounded, 1000);
    // 100 x 80 in a 334-pixel box with a 1-pixel frame: 417.5 rounds to even. The narrowest
    // panorama keeps one column; the widest stops at the largest side.
    EXPECT_EQ(vistrel::FitView(100, 80, 334, 1).outerWidth, 418);
    EXPECT_EQ(vistrel::FitView(1, 32768, 334, 1).width, 1);
    EXPECT_EQ(vistrel::FitView(32768, 1, 334, 1).width, vistrel::kMaxPictureSide);
}

// Over many picture sides and the view sides they are shown at: a click anywhere lands
// inside the picture and never goes back as the pointer goes on; on a reduced picture
// each view pixel's full-size pixel is shown on that very view pixel, and on an
// enlarged one every full-size pixel is reached by the click on the view pixel that shows it.
TEST(ModelView, TheMappingKeepsEveryClickInsideAndEveryPixelWithinReach) {
    using vistrel::PicturePosition;
    using vistrel::ViewPosition;
    using vistrel::ViewPositionOf;
    int reduced = 0, enlarged = 0;  // pictures shown reduced or enlarged
    for (int size = 1; size <= 3000; size = size * 5 / 4 + 1)
        for (int view = 1; view <= 700; view = view * 4 / 3 + 1) {
            const float scale = static_cast<float>(size) / static_cast<float>(view);
            const int last = view - 1;
            EXPECT_TRUE(ViewPosition(-40.7f, last) == 0 && ViewPosition(view + 60.0f, last) == last);
            int before = 0;
            for (int v = 0; v <= last; ++v) {
                const int p = PicturePosition(v, scale, size);
                ASSERT_TRUE(p >= 0 && p < size && p >= before) << size << " on " << view << " at " << v;
                ASSERT_LE(std::abs(p - v * static_cast<double>(size) / view), 0.5 + 1e-3 + (p == size - 1 ? 1 : 0));
                if (scale >= 1.0f) {
                    ASSERT_EQ(ViewPositionOf(p, scale, last), v) << size << " on " << view;
                }
                before = p;
            }
            if (scale < 1.0f) {
                ++enlarged;
                for (int p = 0; p < size; ++p)
                    ASSERT_EQ(PicturePosition(ViewPositionOf(p, scale, last), scale, size), p) << size << " on " << view;
            } else {
                ++reduced;
            }
        }
    EXPECT_GT(reduced, 100);
    EXPECT_GT(enlarged, 100);
    // 100 x 80 enlarged to 416 wide maps its last view column past the picture (99.76), held
    // to its last column.
    EXPECT_EQ(PicturePosition(415, 100.0f / 416.0f, 100), 99);
}

TEST(ModelPicture, AssemblySharesTheDecodedPixelsAndTakesTheViewWithoutItsFourthBytes) {
    vistrel::Surface decoded(7, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) decoded.row(y)[x] = static_cast<Pixel>(0x9C000000u | (y * 7 + x) * 0x030507u);
    const Pixel* const bits = decoded.row(0);
    const vistrel::ViewFit fit = vistrel::FitView(7, 5, 10, 1);
    std::vector<Pixel> fitted(static_cast<std::size_t>(fit.width * fit.height));
    for (std::size_t k = 0; k < fitted.size(); ++k) fitted[k] = static_cast<Pixel>(0x7F000000u | k * 0x010203u);

    const Picture picture = vistrel::AssemblePicture(decoded, fit, fitted);
    decoded.release();
    EXPECT_EQ(picture.pixels.data(), bits) << "shared, not copied";
    EXPECT_TRUE(picture.width() == 7 && picture.height() == 5);
    EXPECT_FLOAT_EQ(picture.scaleX, 7.0f / static_cast<float>(fit.width));
    EXPECT_FLOAT_EQ(picture.scaleY, 5.0f / static_cast<float>(fit.height));
    EXPECT_EQ(picture.viewMaxX, fit.width - 1);
    EXPECT_EQ(picture.viewMaxY, fit.height - 1);
    ASSERT_EQ(picture.viewPixels.size(), fitted.size());
    for (std::size_t k = 0; k < fitted.size(); ++k) ASSERT_EQ(picture.viewPixels[k], fitted[k] & 0xFFFFFFu) << k;
    EXPECT_EQ(picture.viewWork, picture.viewPixels);
}

// The view fitted again to a grown room: each view pixel the mean of the full-size pixels it
// covers (blocks of one colour here, so that the mean is exact whatever the rounding), the
// probe kept on its full-size pixel, and one notice that only the view redraws from.
TEST(ModelPicture, RefitAveragesTheFullSizePictureIntoTheNewViewAndKeepsTheProbe) {
    constexpr int kWidth = 12;
    constexpr int kHeight = 8;
    const auto blockColour = [](int bx, int by) { return static_cast<Pixel>((bx * 0x2A1101u + by * 0x05330Bu) & 0xFFFFFFu); };
    vistrel::Surface decoded(kWidth, kHeight);
    // Blocks of 3 x 2 full-size pixels share a colour; the fourth byte is luma, never shown.
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) decoded.row(y)[x] = 0xC3000000u | blockColour(x / 3, y / 2);
    const vistrel::ViewFit first = vistrel::FitView(kWidth, kHeight, 2 + 2, 1);
    std::vector<Pixel> fitted(static_cast<std::size_t>(first.width * first.height), 0u);
    Model model;
    model.Load(vistrel::AssemblePicture(decoded, first, fitted));
    model.LockProbe(7, 5);
    Notices notices(model);

    vistrel::ViewFit grown;
    grown.width = kWidth / 3;
    grown.height = kHeight / 2;
    model.Refit(grown);
    ASSERT_EQ(notices.seen.size(), 1u);
    EXPECT_EQ(notices.seen[0], Changes(Change::Fit));
    const Picture& picture = model.picture();
    EXPECT_EQ(picture.viewMaxX, grown.width - 1);
    EXPECT_EQ(picture.viewMaxY, grown.height - 1);
    EXPECT_FLOAT_EQ(picture.scaleX, 3.0f);
    EXPECT_FLOAT_EQ(picture.scaleY, 2.0f);
    ASSERT_EQ(picture.viewPixels.size(), static_cast<std::size_t>(grown.width * grown.height));
    for (int by = 0; by < grown.height; ++by)
        for (int bx = 0; bx < grown.width; ++bx)
            ASSERT_EQ(picture.viewPixels[static_cast<std::size_t>(by * grown.width + bx)], blockColour(bx, by))
                << bx << "," << by;
    EXPECT_EQ(model.DisplayView(), picture.viewPixels);
    // The probe stays on its full-size pixel; its crosshair moves to the view pixel showing it.
    EXPECT_TRUE(picture.probe.locked);
    EXPECT_EQ(picture.probe.column, 7);
    EXPECT_EQ(picture.probe.row, 5);
    EXPECT_EQ(picture.probe.viewX, 2);
    EXPECT_EQ(picture.probe.viewY, 2);
    // Clipping marks made for the old view are made again for the new one.
    model.Set(&Settings::showClipping, true);
    EXPECT_EQ(model.ShownView().size(), picture.viewPixels.size());

    // The same fit again, or no picture: nothing to do and nothing said.
    notices.seen.clear();
    model.Refit(grown);
    EXPECT_TRUE(notices.seen.empty());
    model.Drop();
    notices.seen.clear();
    model.Refit(first);
    EXPECT_TRUE(notices.seen.empty());
}

// The probe as the view's mouse and the crosshair bars move it, one notice for each step
// that changes it and none for one that does not; then the picture let go and cleared.
TEST(ModelProbe, FollowsThePressDragReleaseAndLockAsTheViewAsksAndGoesWithThePicture) {
    Model model;
    Notices notices(model);
    model.PressProbe(5, 5, false);
    EXPECT_TRUE(notices.seen.empty()) << "no picture, no probe";

    // 40 x 30 shown at 80 x 60: every view pixel stands for half a full-size pixel.
    Picture picture;
    picture.pixels = korvex::PixelGrid(40, 30);
    for (std::size_t k = 0; k < picture.pixels.size(); ++k) picture.pixels.span()[k] = static_cast<Pixel>(k);
    picture.scaleX = picture.scaleY = 0.5f;
    picture.viewMaxX = 79;
    picture.viewMaxY = 59;
    model.Load(std::move(picture));
    notices.seen.clear();
    notices.probes.clear();
    const auto at = [&](int column, int row) { return static_cast<Pixel>(row * 40 + column); };

    model.PressProbe(21.4f, 9.6f, false);       // view (21, 10): 10.5 halves to 10, and 5
    model.DragProbe(-3.0f, 500.0f);             // pinned to the view's edges
    model.ReleaseProbe();
    model.DragProbe(30, 30);                    // no button held: nothing
    model.ReleaseProbe();
    model.PressProbe(79, 59, true);             // the last view pixel: held to the last full-size one
    model.DragProbe(10, 10);                    // locked: a drag does nothing
    model.ReleaseProbe();                       // nor does the release
    model.MoveLockedProbe(50, -2);              // the bars: clamped into the picture
    model.MoveLockedProbe(39, 0);               // already there: nothing
    model.PressProbe(2, 2, false);              // over a locked probe: unlocked first
    model.ReleaseProbe();
    model.LockProbe(7, 8);
    model.Set(&Settings::negative, true);
    model.Set(&Settings::lamp, 7);
    model.Drop();  // the picture and the probe go, and the display modes start again
    model.Drop();
    model.Clear();
    struct Expected {
        bool dragging, locked;
        int column, row, viewX, viewY;
    };
    const Expected expected[] = {{true, false, 10, 5, 21, 10},   {true, false, 0, 29, 0, 59},
                                 {false, false, 0, 29, 0, 59},   {true, true, 39, 29, 79, 59},
                                 {true, true, 39, 0, 78, 0},     {false, false, 39, 0, 78, 0},
                                 {true, false, 1, 1, 2, 2},      {false, false, 1, 1, 2, 2},
                                 {true, true, 7, 8, 14, 16}};
    const std::vector<Changes> last(notices.seen.end() - 5, notices.seen.end());
    EXPECT_EQ(last, (std::vector<Changes>{Change::Display, Change::Lamp, Change::Dropped | Change::Display,
                                          Change::Dropped, Change::Picture}));
    EXPECT_FALSE(model.loaded() || model.picture().probe.locked || model.settings().negative);
    EXPECT_TRUE(model.picture().pixels.empty());
    EXPECT_EQ(model.settings().lamp, 7) << "only the display modes start again";
    ASSERT_EQ(notices.seen.size(), std::size(expected) + last.size());
    for (std::size_t k = 0; k < std::size(expected); ++k) {
        SCOPED_TRACE(k);
        const Probe& p = notices.probes[k];
        const Expected& e = expected[k];
        EXPECT_EQ(notices.seen[k], Changes(Change::Probe));
        EXPECT_TRUE(p.dragging == e.dragging && p.locked == e.locked);
        EXPECT_TRUE(p.column == e.column && p.row == e.row) << p.column << "," << p.row;
        EXPECT_TRUE(p.viewX == e.viewX && p.viewY == e.viewY) << p.viewX << "," << p.viewY;
        EXPECT_EQ(p.sample, at(p.column, p.row));
    }
}

// False colour over every Y level under both luma standards, alone and with the clipping
// marks and the zebras over it, on a view as large as the picture: each view pixel is its
// level's band colour or its grey, a clipped pixel's mark over that, and the stripes on
// top, worked out per pixel from the colour itself. The standard changed back and forth
// makes the luma and the marks again.
TEST(ModelFalseColour, EveryLevelShowsItsBandOrItsGreyUnderBothStandardsWithTheMarksInOrder) {
    struct Band {
        int low, high;
        Pixel colour;
    };
    const Band bands[] = {{0, 4, 0x800080},      {5, 12, 0x0000FF},    {13, 25, 0x00A0FF}, {97, 107, 0x00C000},
                          {138, 148, 0xFF80C0}, {230, 244, 0xFFFF00}, {245, 255, 0xFF0000}};
    const auto lumaOf = [](Pixel p, korvex::LumaStandard standard) {
        const double r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        return standard == korvex::LumaStandard::Rec601
                   ? static_cast<int>(std::nearbyint((299 * r + 587 * g + 114 * b) / 1000))
                   : static_cast<int>(std::nearbyint((2126 * r + 7152 * g + 722 * b) / 10000));
    };
    // Every grey, and for every level under each standard up to three colours that reach it.
    std::vector<Pixel> colours;
    for (Pixel v = 0; v < 256; ++v) colours.push_back(v * 0x010101u);
    int found[2][256] = {};
    for (Pixel k = 0; k < (1u << 24); k += 4099) {
        const Pixel colour = (k * 0x9E3779B1u) & 0xFFFFFFu;
        const int y601 = lumaOf(colour, korvex::LumaStandard::Rec601);
        const int y709 = lumaOf(colour, korvex::LumaStandard::Rec709);
        if (found[0][y601] < 3 || found[1][y709] < 3) colours.push_back(colour), ++found[0][y601], ++found[1][y709];
    }
    for (const Pixel clipped : {0xFF2010u, 0x10FF20u, 0x2010FFu, 0x00A0B0u, 0x80FF00u}) colours.push_back(clipped);
    constexpr int kWidth = 61;
    const int height = static_cast<int>((colours.size() + kWidth - 1) / kWidth);
    colours.resize(static_cast<std::size_t>(kWidth * height), 0x7F7F7Fu);

    vistrel::Surface decoded(kWidth, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < kWidth; ++x) decoded.row(y)[x] = colours[static_cast<std::size_t>(y * kWidth + x)];
    vistrel::ViewFit fit;
    fit.width = kWidth;
    fit.height = height;
    Picture picture = vistrel::AssemblePicture(decoded, fit, colours);
    picture.histogram = korvex::AnalysePixels(picture.pixels.span(), korvex::LumaStandard::Rec601, picture.levels);
    Model model;
    model.Load(std::move(picture));

    for (const korvex::LumaStandard standard :
         {korvex::LumaStandard::Rec601, korvex::LumaStandard::Rec709, korvex::LumaStandard::Rec601}) {
        model.Set(&Settings::luma, standard);
        std::vector<bool> seen(256, false);
        // Each standard's first showing has the marks the last one left, made from the luma
        // of the standard before.
        for (const int combination : {1, 3, 4, 5, 6, 7, 9, 11, 12, 13, 14, 15, 1}) {
            Settings s = model.settings();
            s.falseColour = (combination & 1) != 0;
            s.showClipping = (combination & 2) != 0;
            s.zebra = (combination & 4) != 0;
            s.zebraLevel = (combination & 8) != 0 ? 200 : vistrel::kDefaultZebraLevel;
            model.Apply(s);
            const std::vector<Pixel> shown = model.ShownView();
            ASSERT_EQ(shown.size(), colours.size());
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < kWidth; ++x) {
                    const Pixel colour = colours[static_cast<std::size_t>(y * kWidth + x)];
                    const int level = lumaOf(colour, standard);
                    seen[static_cast<std::size_t>(level)] = true;
                    Pixel expected = colour;
                    if (s.falseColour) {
                        expected = static_cast<Pixel>(level) * 0x010101u;
                        for (const Band& band : bands)
                            if (level >= band.low && level <= band.high) expected = band.colour;
                    }
                    const Pixel r = colour >> 16, g = (colour >> 8) & 0xFF, b = colour & 0xFF;
                    if (s.showClipping && (r == 255 || g == 255 || b == 255))
                        expected = vistrel::kClipHighlightColour;
                    else if (s.showClipping && (r == 0 || g == 0 || b == 0))
                        expected = vistrel::kClipShadowColour;
                    if (s.zebra && level >= s.zebraLevel && (x + y) % 4 < 2)
                        expected = lumaOf(expected, korvex::LumaStandard::Rec601) >= 128 ? 0x000000u : 0xFFFFFFu;
                    ASSERT_EQ(shown[static_cast<std::size_t>(y * kWidth + x)], expected)
                        << "level " << level << " colour " << std::hex << colour << " combination " << combination
                        << " at " << std::dec << x << "," << y;
                }
        }
        EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256) << "every level is in the picture";
    }
}

}  // namespace
