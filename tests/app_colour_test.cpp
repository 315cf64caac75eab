#include <gtest/gtest.h>

#include <QAction>
#include <QBuffer>
#include <QColorSpace>
#include <QLabel>

#include <lcms2.h>
#include <zlib.h>

#include "app/PictureLoad.h"
#include "app/Render.h"
#include "app_support.h"
#include "dng_pictures.h"
#include "colour/ColourConvert.h"
#include "linescope/frmScope.h"
#include "vectorscope/frmVector.h"

using namespace vistrel;

namespace {

// 75 % bars (red fifth) as Adobe RGB stores them, by lcms2 from sRGB, 60 pixels each.
constexpr std::uint32_t kBars[7] = {0xBFBFBF, 0xBFBF00, 0x00BFBF, 0x00BF00, 0xBF00BF, 0xBF0000, 0x0000BF};
QImage AdobeBars(std::uint32_t (&stored)[7]) {
    const auto srgb = colour::StandardProfile(colour::StandardSpace::Srgb);
    const auto adobe = colour::StandardProfile(colour::StandardSpace::AdobeRgb);
    cmsHPROFILE from = cmsOpenProfileFromMem(srgb.data(), cmsUInt32Number(srgb.size()));
    cmsHPROFILE to = cmsOpenProfileFromMem(adobe.data(), cmsUInt32Number(adobe.size()));
    cmsHTRANSFORM t = cmsCreateTransform(from, TYPE_BGRA_8, to, TYPE_BGRA_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsDoTransform(t, kBars, stored, 7);
    cmsDeleteTransform(t), cmsCloseProfile(from), cmsCloseProfile(to);
    QImage image(7 * 60, 90, QImage::Format_RGB32);
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y) image.setPixel(x, y, 0xFF000000u | stored[x / 60]);
    image.setColorSpace(QColorSpace::fromIccProfile(QByteArray(reinterpret_cast<const char*>(adobe.data()), qsizetype(adobe.size()))));
    return image;
}

// How far the probe's readout ("R, G, B, Y") is from a colour, in levels.
int ReadoutFrom(const QLabel& status, std::uint32_t colour) {
    const QStringList parts = status.text().split(", ");
    int most = parts.size() == 4 ? 0 : 256;
    for (int k = 0; k < 3 && most < 256; ++k) most = std::max(most, std::abs(parts[k].toInt() - int(colour >> (16 - 8 * k) & 0xFF)));
    return most;
}

}  // namespace

TEST(AppColour, TaggedBarsConvertNameTheirSpaceAndSwitchToStoredValuesAsTheRenderDoes) {
    QTemporaryDir dir;
    std::uint32_t stored[7];
    const QString path = testing_support::WritePicture(dir, "bars.png", AdobeBars(stored));
    testing_support::StartedMain main;
    auto* status = main->findChild<QLabel*>("lblStatus");
    auto* note = main->findChild<QLabel*>("lblNote");
    auto* convert = main->findChild<QAction*>("mnuToolsColourConvert");
    auto* storedValues = main->findChild<QAction*>("mnuToolsColourStored");
    ASSERT_TRUE(status && note && convert && storedValues && convert->isChecked() && !storedValues->isChecked());
    // An untagged picture: the status line as empty as it always was, the note saying sRGB.
    testing_support::Load(*main, testing_support::WritePicture(dir, "plain.png", testing_support::Gradient(40, 30)));
    EXPECT_EQ(status->text(), "");
    EXPECT_EQ(note->text(), "sRGB");

    testing_support::Load(*main, path);
    EXPECT_EQ(note->text(), QStringLiteral("Adobe RGB (1998) \u2192 sRGB"));
    EXPECT_EQ(status->text(), "") << "the note has a line of its own";
    EXPECT_TRUE(main->model().picture().colourConverted);
    Settings settings = main->model().settings();
    settings.luma = korvex::LumaStandard::Rec709, settings.lamp = 77, settings.skinLine = true, settings.zoom = 400;
    main->ApplySettings(settings);
    for (int bar = 0; bar < 7; ++bar) {
        main->LockProbeAt(bar * 60 + 7, 45);
        EXPECT_LE(ReadoutFrom(*status, kBars[bar]), 2) << status->text().toStdString();
        EXPECT_TRUE(bar != 5 || ReadoutFrom(*status, stored[bar]) > 10);  // else the test would prove nothing
    }
    main->LockProbeAt(5 * 60 + 59, 89);  // the red bar's last pixel
    EXPECT_EQ(note->text(), QStringLiteral("Adobe RGB (1998) \u2192 sRGB")) << "the probe's readouts leave it";

    storedValues->trigger();
    settings.colour = ColourHandling::StoredValues;
    EXPECT_EQ(main->model().settings(), settings);
    EXPECT_TRUE(storedValues->isChecked() && !convert->isChecked());
    const Picture& reread = main->model().picture();
    EXPECT_TRUE(!reread.colourConverted && reread.colourSpace == "Adobe RGB (1998)");
    EXPECT_TRUE(reread.probe.locked && reread.probe.column == 5 * 60 + 59 && reread.probe.row == 89);
    EXPECT_EQ(ReadoutFrom(*status, stored[5]), 0) << status->text().toStdString();
    EXPECT_EQ(note->text(), "Stored values: Adobe RGB (1998), not converted");

    QTemporaryDir out;
    ASSERT_EQ(RenderInstruments(out.path(), path, settings, QPoint(5 * 60 + 59, 89)).exitCode, 0);
    const Workspace& workspace = main->workspace();
    EXPECT_EQ(QImage(out.filePath(kLineScopeImage)).convertToFormat(QImage::Format_RGB32),
              InstrumentImage(*workspace.instrument<frmScope>()));
    EXPECT_EQ(QImage(out.filePath(kVectorscopeImage)).convertToFormat(QImage::Format_RGB32),
              InstrumentImage(*workspace.instrument<frmVector>()));
    // A switch whose reload fails (the file is no picture any more) leaves the picture,
    // its probe, and the choice it was read under as they were, and says so.
    QFile broken(path);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("no longer a picture");
    broken.close();
    convert->trigger();
    EXPECT_EQ(main->model().settings(), settings);
    EXPECT_TRUE(storedValues->isChecked() && !convert->isChecked());
    EXPECT_EQ(status->text(), "Could not reload bars.png");
    EXPECT_EQ(note->text(), "Stored values: Adobe RGB (1998), not converted");
    EXPECT_TRUE(main->model().loaded() && !main->model().picture().colourConverted);
    EXPECT_TRUE(main->model().picture().probe.locked);
    // --colour takes convert or stored, and only with --render.
    const auto parsed = [](QStringList options) { return ParseCommandLine(QStringList{"vistrel", "--render", "o"} + options + QStringList{"p.png"}); };
    EXPECT_EQ(parsed({"--colour", "stored"}).settings.colour, ColourHandling::StoredValues);
    EXPECT_EQ(parsed({"--colour", "srgb"}).action, CommandAction::Error);
    EXPECT_EQ(ParseCommandLine({"vistrel", "--colour", "stored", "p.png"}).action, CommandAction::Error);
}

TEST(AppColour, NoteGivesTheClippedShareInTenthsOfAPercentRoundedOnce) {
    // Every note names what was done: converted, stored as the file has it, or nothing to do.
    EXPECT_EQ(ColourNote("P3", false, false, 5, 100), "Stored values: P3, not converted");
    EXPECT_EQ(ColourNote("", false, false, 0, 100), "sRGB");
    EXPECT_EQ(ColourNote("", true, false, 0, 100), "sRGB");
    for (const auto& [clipped, share] : {std::pair{0, ""}, {320, ", 3.2 % clipped"}, {5, ", < 0.1 % clipped"},
                                         {25, ", 0.2 % clipped"}, {9999, ", 100.0 % clipped"}})
        EXPECT_EQ(ColourNote("P3", true, false, std::uint64_t(clipped), 10000), QStringLiteral("P3 \u2192 sRGB") + share);
    // The flag the decoder reports, not the space's name, says it was tone-mapped.
    EXPECT_EQ(ColourNote("Rec. 2020 PQ", true, true, 0, 100), QStringLiteral("Rec. 2020 PQ \u2192 sRGB (HDR tone-mapped)"));
    EXPECT_EQ(ColourNote("Rec. 2020 PQ", true, false, 0, 100), QStringLiteral("Rec. 2020 PQ \u2192 sRGB"));
    // A PQ or HLG signal's light follows, in whole nits rounded once; SDR has none.
    SignalStats signal;
    signal.pixels = 4;
    signal.transfer = SignalTransfer::Pq;
    signal.light.emplace();
    signal.light->maxCll = 1180.5;
    signal.light->sumNits = 4 * 211.5;
    EXPECT_EQ(LightNote(signal), "PQ (ST 2084), MaxCLL 1180 nits, MaxFALL 212 nits");
    signal.transfer = SignalTransfer::Hlg;
    EXPECT_EQ(LightNote(signal), "HLG (BT.2100), MaxCLL 1180 nits, MaxFALL 212 nits");
    signal.transfer = SignalTransfer::Sdr;
    signal.light.reset();
    EXPECT_EQ(LightNote(signal), "");
}

// A camera raw file's note line names its camera and how it was developed, and says
// when it shows the sensor's own values instead; the choice reads the file again.
TEST(AppColour, ARawFileNamesItsCameraAndSaysWhenItShowsTheSensorsValues) {
    QTemporaryDir dir;
    dng_pictures::Description dng;
    dng.model = "Test Camera \u00b5";  // not ASCII: LibRaw's name is shown as it is readable
    const QString path = dir.filePath("a.dng");
    ASSERT_EQ(dng_pictures::WriteDng(path.toStdString(), dng, dng_pictures::Scene(dng)), "");
    testing_support::StartedMain main;
    auto* note = main->findChild<QLabel*>("lblNote");
    auto* convert = main->findChild<QAction*>("mnuToolsColourConvert");
    auto* storedValues = main->findChild<QAction*>("mnuToolsColourStored");
    ASSERT_TRUE(note && convert && storedValues);

    testing_support::Load(*main, path);
    ASSERT_TRUE(main->model().loaded() && main->model().picture().raw);
    EXPECT_EQ(note->text(), "Vistrel Test Camera ??, developed from raw");
    const korvex::Pixel developed = main->model().picture().pixels.at(10, 40);
    storedValues->trigger();
    EXPECT_EQ(note->text(), "Raw values, linear, not white-balanced");
    EXPECT_TRUE(main->model().picture().rawValues);
    EXPECT_NE(main->model().picture().pixels.at(10, 40) & 0xFFFFFF, developed & 0xFFFFFF);
    convert->trigger();
    EXPECT_EQ(note->text(), "Vistrel Test Camera ??, developed from raw");
    EXPECT_EQ(main->model().picture().pixels.at(10, 40), developed);
}

// A PQ picture's note names its transfer and light after what was done with its colours:
// 3068 pixels at 82.0 nits (the red channel's PQ code 32000) and four at 1004.1 (49300).
TEST(AppColour, AnHdrPicturesNoteNamesItsTransferWithItsMaxCllAndMaxFall) {
    QImage image(64, 48, QImage::Format_RGBX64);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, y == 0 && x < 4 ? QColor::fromRgba64(49300, 0, 0) : QColor::fromRgba64(32000, 30000, 30000));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "png"));
    const char cicp[4] = {9, 16, 0, 1};  // BT.2020, PQ, RGB, full range
    const QByteArray typed = QByteArray("cICP") + QByteArray(cicp, 4);
    const auto crc = std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size())));
    const auto be32 = [](std::uint32_t v) {
        const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        return QByteArray(b, 4);
    };
    png.insert(33, be32(4) + typed + be32(crc));
    QTemporaryDir dir;
    QFile file(dir.filePath("pq.png"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(png);
    file.close();
    testing_support::StartedMain main;
    auto* note = main->findChild<QLabel*>("lblNote");
    ASSERT_NE(note, nullptr);
    testing_support::Load(*main, file.fileName());
    EXPECT_TRUE(note->text().startsWith(QStringLiteral("Rec. 2020 PQ \u2192 sRGB (HDR tone-mapped)"))) << note->text().toStdString();
    EXPECT_TRUE(note->text().endsWith(QStringLiteral(" \u00B7 PQ (ST 2084), MaxCLL 1004 nits, MaxFALL 83 nits")))
        << note->text().toStdString();
    // An SDR picture's note has no light.
    testing_support::Load(*main, testing_support::WritePicture(dir, "plain.png", testing_support::Gradient(40, 30)));
    EXPECT_EQ(note->text(), "sRGB");
}
