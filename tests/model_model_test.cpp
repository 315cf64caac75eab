// The picture model: the display modes it makes of the loaded view, a picture
// swapped in whole, and the luma analysis formed again.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "model/Model.h"

namespace {

using korvex::Pixel;
using vistrel::Model;
using vistrel::Picture;
using vistrel::Settings;

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

Model Loaded() {
    Picture picture;
    for (Pixel k = 0; k < 64; ++k) picture.viewPixels.push_back(0x5A000000u | (k * 0x3F1D07u & 0xFFFFFFu));
    picture.viewWork = picture.viewPixels;
    Model model;
    model.Load(std::move(picture));
    return model;
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
            Model model = Loaded();
            model.settings = before;
            model.DisplayView();
            model.settings = now;
            const std::vector<Pixel> shown = model.DisplayView();
            const std::vector<Pixel>& source = model.picture().viewPixels;
            ASSERT_EQ(shown.size(), source.size());
            for (std::size_t k = 0; k < source.size(); ++k)
                ASSERT_EQ(shown[k] & 0xFFFFFFu, Shown(source[k], now) & 0xFFFFFFu) << k;
            ASSERT_EQ(model.picture().viewPixels, Loaded().picture().viewPixels) << "the loaded view is never touched";
        }
}

TEST(ModelPicture, DropLetsGoAndReanalyseFollowsTheStandard) {
    Picture picture;
    picture.pixels = korvex::PixelGrid(3, 2);
    for (Pixel& p : picture.pixels.span()) p = 0x00C83214u;
    Model model;
    model.Load(std::move(picture));
    model.LockProbe(2, 1);
    model.Reanalyse(korvex::LumaStandard::Rec709);
    std::vector<Pixel> copy(6, 0x00C83214u);
    const korvex::UvHistogram expected = korvex::AnalysePixels(copy, korvex::LumaStandard::Rec709);
    EXPECT_TRUE(std::ranges::equal(model.picture().histogram.cells(), expected.cells()));
    EXPECT_EQ(model.picture().pixels.at(0, 0), copy[0]) << "luma formed again in the fourth byte";
    EXPECT_EQ(model.picture().luma, korvex::LumaStandard::Rec709);
    model.Drop();
    EXPECT_FALSE(model.loaded());
    EXPECT_TRUE(model.picture().pixels.empty());
    EXPECT_FALSE(model.picture().probe.locked);
}

}  // namespace
