#include <gtest/gtest.h>

#include <QAction>
#include <QColorSpace>
#include <QLabel>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cstdlib>

#include <lcms2.h>

#include "app/CommandLine.h"
#include "app/PictureLoad.h"
#include "app/Render.h"
#include "app/SaveScopes.h"
#include "app/frmMain.h"
#include "app_support.h"
#include "decoding/ColourConvert.h"
#include "linescope/frmScope.h"
#include "vectorscope/frmVector.h"

using namespace vistrel;
using testing_support::StartedMain;

namespace {

// 75 % colour bars in sRGB, 0x00RRGGBB.
constexpr std::array<std::uint32_t, 7> kBars = {0xBFBFBF, 0xBFBF00, 0x00BFBF, 0x00BF00, 0xBF00BF, 0xBF0000, 0x0000BF};
constexpr int kBarWidth = 60, kBarsHeight = 90;
constexpr std::size_t kRedBar = 5;

// The bars as Adobe RGB stores them (lcms2's conversion from sRGB), tagged with its profile.
QImage AdobeBars(std::array<std::uint32_t, 7>& stored) {
    const std::vector<unsigned char> srgb = colour::StandardProfile(colour::StandardSpace::Srgb);
    const std::vector<unsigned char> adobe = colour::StandardProfile(colour::StandardSpace::AdobeRgb);
    cmsHPROFILE from = cmsOpenProfileFromMem(srgb.data(), cmsUInt32Number(srgb.size()));
    cmsHPROFILE to = cmsOpenProfileFromMem(adobe.data(), cmsUInt32Number(adobe.size()));
    cmsHTRANSFORM t = cmsCreateTransform(from, TYPE_BGRA_8, to, TYPE_BGRA_8, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    cmsDoTransform(t, kBars.data(), stored.data(), cmsUInt32Number(kBars.size()));
    cmsDeleteTransform(t);
    cmsCloseProfile(from);
    cmsCloseProfile(to);
    QImage image(kBarWidth * int(kBars.size()), kBarsHeight, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, 0xFF000000u | stored[std::size_t(x / kBarWidth)]);
    image.setColorSpace(QColorSpace::fromIccProfile(QByteArray(reinterpret_cast<const char*>(adobe.data()), qsizetype(adobe.size()))));
    return image;
}

// The probe's readout "R, G, B, Y" as red, green and blue.
std::array<int, 3> ReadOut(const QString& text) {
    const QStringList parts = text.split(", ");
    EXPECT_EQ(parts.size(), 4) << text.toStdString();
    if (parts.size() != 4) return {-1, -1, -1};
    return {parts[0].toInt(), parts[1].toInt(), parts[2].toInt()};
}

int Furthest(const std::array<int, 3>& got, std::uint32_t want) {
    int most = 0;
    for (int k = 0; k < 3; ++k) most = std::max(most, std::abs(got[std::size_t(k)] - int((want >> (16 - 8 * k)) & 0xFF)));
    return most;
}

}  // namespace

TEST(AppColour, TaggedPictureConvertsNamesItsSpaceAndSwitchesToStoredValuesKeepingProbeAndSettings) {
    QTemporaryDir dir;
    std::array<std::uint32_t, 7> stored{};
    const QString path = testing_support::WritePicture(dir, "adobe-bars.png", AdobeBars(stored));
    ASSERT_GT(Furthest({int(stored[kRedBar] >> 16 & 0xFF), int(stored[kRedBar] >> 8 & 0xFF), int(stored[kRedBar] & 0xFF)},
                       kBars[kRedBar]),
              10);  // stored far from the sRGB bar, or the test would prove nothing

    StartedMain main;
    auto* status = main->findChild<QLabel*>("lblStatus");
    auto* convert = main->findChild<QAction*>("mnuToolsColourConvert");
    auto* storedValues = main->findChild<QAction*>("mnuToolsColourStored");
    ASSERT_TRUE(status && convert && storedValues);
    EXPECT_TRUE(convert->isChecked());
    EXPECT_FALSE(storedValues->isChecked());

    testing_support::Load(*main, path);
    ASSERT_TRUE(main->model().loaded());
    const Picture& loaded = main->model().picture();
    EXPECT_EQ(loaded.colourSpace, "Adobe RGB (1998)");
    EXPECT_TRUE(loaded.colourConverted);
    EXPECT_EQ(loaded.outOfGamut, 0u);
    EXPECT_EQ(status->text(), QStringLiteral("Adobe RGB (1998) \u2192 sRGB"));

    // Settings away from their defaults, and the probe locked on the red bar's last row.
    Settings settings = main->model().settings;
    settings.luma = korvex::LumaStandard::Rec709;
    settings.lamp = 77;
    settings.skinLine = true;
    settings.zoom = 400;
    main->ApplySettings(settings);
    const int column = int(kRedBar) * kBarWidth + kBarWidth / 2, row = kBarsHeight - 1;
    main->LockProbeAt(column, row);
    for (std::size_t i = 0; i < kBars.size(); ++i) {
        main->LockProbeAt(int(i) * kBarWidth + 7, row / 2);
        EXPECT_LE(Furthest(ReadOut(status->text()), kBars[i]), 2) << "bar " << i << ": " << status->text().toStdString();
    }
    main->LockProbeAt(column, row);

    storedValues->trigger();
    ASSERT_TRUE(main->model().loaded());
    const Picture& reread = main->model().picture();
    EXPECT_FALSE(reread.colourConverted);
    EXPECT_EQ(reread.colourSpace, "Adobe RGB (1998)");
    settings.colour = ColourChoice::StoredValues;
    EXPECT_EQ(main->model().settings, settings);
    EXPECT_TRUE(storedValues->isChecked());
    EXPECT_FALSE(convert->isChecked());
    ASSERT_TRUE(reread.probe.locked);
    EXPECT_EQ(reread.probe.column, column);
    EXPECT_EQ(reread.probe.row, row);
    EXPECT_EQ(Furthest(ReadOut(status->text()), stored[kRedBar]), 0) << status->text().toStdString();

    // The same picture and settings drawn headless are the windows' pixels.
    RenderSettings options;
    options.lamp = settings.lamp;
    options.zoom = settings.zoom;
    options.luma = settings.luma;
    options.skinLine = settings.skinLine;
    options.colour = ColourChoice::StoredValues;
    options.probe = QPoint(column, row);
    QTemporaryDir out;
    const RenderResult result = RenderInstruments(out.path(), path, options);
    ASSERT_EQ(result.exitCode, 0) << result.message.toStdString();
    EXPECT_EQ(QImage(out.filePath(kLineScopeImage)).convertToFormat(QImage::Format_RGB32),
              InstrumentImage(*main->scopeWindow()));
    EXPECT_EQ(QImage(out.filePath(kVectorscopeImage)).convertToFormat(QImage::Format_RGB32),
              InstrumentImage(*main->vectorWindow()));

    // Back to the conversion: the note returns once the probe lets go.
    convert->trigger();
    EXPECT_TRUE(main->model().picture().colourConverted);
    EXPECT_LE(Furthest(ReadOut(status->text()), kBars[kRedBar]), 2) << status->text().toStdString();
    main->picImg_MouseDown(kLeftButton, 0, 3, 3);
    main->picImg_MouseUp(kLeftButton, 0, 3, 3);
    EXPECT_EQ(status->text(), QStringLiteral("Adobe RGB (1998) \u2192 sRGB"));
}

TEST(AppColour, NoteNamesTheSpaceAndTheClippedShareInTenthsOfAPercent) {
    EXPECT_EQ(ColourNote("Display P3", false, 5, 100), "");
    EXPECT_EQ(ColourNote("Display P3", true, 0, 100), QStringLiteral("Display P3 \u2192 sRGB"));
    struct Case {
        std::uint64_t clipped, pixels;
        const char* share;
    };
    for (const Case& c : {Case{32, 1000, "3.2"}, Case{1, 1000000, "< 0.1"}, Case{5, 10000, "< 0.1"},
                          Case{15, 10000, "0.2"}, Case{25, 10000, "0.2"}, Case{1000, 1000, "100.0"},
                          Case{999999, 1000000, "100.0"}, Case{99949, 100000, "99.9"}})
        EXPECT_EQ(ColourNote("P", true, c.clipped, c.pixels), QStringLiteral("P \u2192 sRGB, %1 % clipped").arg(c.share))
            << c.clipped << " of " << c.pixels;
}

TEST(AppColour, ColourOptionTakesConvertOrStoredWithRenderOnly) {
    const auto parse = [](QStringList extra) {
        return ParseCommandLine(QStringList{"vistrel"} + extra + QStringList{"--", "x.png"});
    };
    EXPECT_EQ(parse({"--render", "out"}).settings.colour, ColourChoice::ConvertToSrgb);
    EXPECT_EQ(parse({"--render", "out", "--colour", "convert"}).settings.colour, ColourChoice::ConvertToSrgb);
    const CommandLine stored = parse({"--render", "out", "--colour", "stored"});
    EXPECT_EQ(stored.action, CommandAction::Render);
    EXPECT_EQ(stored.settings.colour, ColourChoice::StoredValues);
    for (const QStringList& bad : {QStringList{"--render", "out", "--colour", "srgb"}, QStringList{"--colour", "stored"},
                                   QStringList{"--render", "out", "--colour", "Stored"}})
        EXPECT_EQ(parse(bad).action, CommandAction::Error) << bad.join(' ').toStdString();
}
