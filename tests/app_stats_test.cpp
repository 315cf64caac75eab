// `vistrel --stats` run as a script runs it: one JSON object per file, exactly the one
// the slow way gives for the picture written; a failing file in the middle; bad options.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <lcms2.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <zlib.h>

#include "app/Stats.h"
#include "dng_pictures.h"
#include "kernels/korvex.h"
#include "kernels/region.h"
#include "model/LevelStatistics.h"

namespace {

using korvex::LevelCounts;

struct Outcome {
    int exitCode = -1;
    std::vector<QJsonObject> lines;
    std::vector<QByteArray> texts;  // the lines as printed
};

// Every run also shows that the command leaves none of its decoders behind: they would
// become this process's children (a subreaper's), as they become process 1's for a shell.
Outcome RunStats(const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
    process.setProcessEnvironment(environment);
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    process.start(VISTREL_BINARY_DIR "/vistrel", QStringList{"--stats"} + arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(::waitpid(-1, nullptr, 0), -1) << "a decoder outlived the command";
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    Outcome outcome{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, {}, {}};
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        QJsonParseError error{};
        if (!line.isEmpty()) outcome.lines.push_back(QJsonDocument::fromJson(line, &error).object()), outcome.texts.push_back(line);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
    }
    return outcome;
}

TEST(AppStats, EachFileGetsTheSlowWaysLineAndAFailureLeavesTheOthersIntact) {
    QTemporaryDir dir;
    constexpr int kWidth = 37, kHeight = 23, kProbeX = 36, kProbeY = 5;
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    std::mt19937 rng(21);
    const auto pick = [&] {  // random levels, clipped ones and the video range's edges among them
        const unsigned r = rng() % 8;
        return r == 0 ? 0u : r == 1 ? 255u : r == 2 ? 16u + rng() % 2 : rng() % 256;
    };
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) image.setPixel(x, y, qRgb(pick(), pick(), pick()));
    const QString good = dir.filePath("good \"one\".png");
    ASSERT_TRUE(image.save(good, "PNG"));
    const QString missing = dir.filePath("missing.png");

    for (const korvex::LumaStandard standard : {korvex::LumaStandard::Rec601, korvex::LumaStandard::Rec709}) {
        const bool is709 = standard == korvex::LumaStandard::Rec709;
        LevelCounts counts;  // the slow way, pixel by pixel
        QJsonObject probe{{"x", kProbeX}, {"y", kProbeY}};
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                korvex::Pixel p = image.pixel(x, y) & 0x00FFFFFFu;
                korvex::UvPair pair{};
                korvex::ConvertToYuv(std::span(&p, 1), std::span(&pair, 1), standard);
                for (const std::size_t c : {LevelCounts::R, LevelCounts::G, LevelCounts::B, LevelCounts::Y}) {
                    const int level = static_cast<int>((p >> (c == LevelCounts::Y ? 24 : 16 - 8 * c)) & 0xFF);
                    ++counts.bins[c][static_cast<std::size_t>(level)];
                    if (x == kProbeX && y == kProbeY) probe[QString(QChar::fromLatin1("RGBY"[c]))] = level;
                }
                if (x == kProbeX && y == kProbeY) probe["U"] = pair.u, probe["V"] = pair.v;
            }
        const vistrel::LevelStatistics stats = vistrel::StatisticsOf(counts);
        QJsonObject channels;
        for (const std::size_t c : {LevelCounts::R, LevelCounts::G, LevelCounts::B, LevelCounts::Y}) {
            const vistrel::ChannelStatistics& s = stats.channels[c];
            channels[QString(QChar::fromLatin1("RGBY"[c]))] = QJsonObject{
                {"min", s.min}, {"max", s.max}, {"mean", static_cast<double>(s.meanThousandths) / 1000.0},
                {"median", s.median}, {"p1", s.p1}, {"p99", s.p99},
                {"at_0", static_cast<qint64>(counts.bins[c][0])}, {"at_255", static_cast<qint64>(counts.bins[c][255])}};
        }
        const QJsonObject expected{{"file", good}, {"width", kWidth}, {"height", kHeight},
                                   {"luma", is709 ? "709" : "601"}, {"colour", "sRGB"}, {"channels", channels},
                                   {"outside_16_235", static_cast<qint64>(stats.outsideVideoRange)},
                                   {"out_of_gamut", 0}, {"probe", probe},
                                   {"gamut", QJsonObject{{"outside_srgb", 0}, {"outside_p3", 0}, {"outside_rec2020", 0}}}};

        QStringList arguments{good, missing, good, "--probe", QStringLiteral("%1,%2").arg(kProbeX).arg(kProbeY)};
        if (is709) arguments += QStringList{"--luma", "709"};
        const Outcome run = RunStats(arguments);
        EXPECT_EQ(run.exitCode, 1);
        ASSERT_EQ(run.lines.size(), 3u);
        EXPECT_EQ(run.lines[0], expected);
        EXPECT_EQ(run.lines[1],
                  QJsonObject({{"file", missing}, {"error", "Could not load " + missing}, {"reason", "Not found."}}));
        EXPECT_EQ(run.lines[2], expected);
    }

    // The probe on the last column and row reads that pixel; one past either reads
    // nothing, whichever row or column it is on.
    const std::pair<QPoint, bool> probes[] = {
        {{kWidth - 1, kHeight - 1}, true}, {{kWidth - 1, 0}, true}, {{0, kHeight - 1}, true},
        {{kWidth, 0}, false},              {{kWidth, kHeight - 2}, false},  {{0, kHeight}, false},
        {{kWidth - 1, kHeight}, false},    {{kWidth, kHeight}, false},
    };
    for (const auto& [at, inside] : probes) {
        SCOPED_TRACE(testing::Message() << "probe " << at.x() << "," << at.y());
        const vistrel::FileStatistics measured = vistrel::MeasureFile(good, {}, at, 0);  // opaque: no background shows
        ASSERT_TRUE(measured.loaded);
        ASSERT_EQ(measured.readout.has_value(), inside);
        EXPECT_EQ(vistrel::StatsLine(measured).contains("\"probe\": null"), !inside);
        if (inside) {
            EXPECT_EQ(qRgb(measured.readout->r, measured.readout->g, measured.readout->b), image.pixel(at));
        }
    }

    // With --render too: the line and both images.
    const QString folder = dir.filePath("scopes");
    const Outcome both = RunStats({good, "--render", folder});
    EXPECT_EQ(both.exitCode, 0);
    EXPECT_EQ(both.lines.size(), 1u);
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath("linescope.png")));
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath("vectorscope.png")));
}

// One channel of the "raw" object as counting sorted photosites gives it: max, p99, at
// or above white, and the stops from p99 and from the median to white.
QJsonObject RawChannel(const std::vector<std::uint16_t>& sorted, double black, double white) {
    const auto stops = [&](double v) {
        return v > black ? QJsonValue(std::nearbyint(100 * std::log2((white - black) / (v - black))) / 100)
                         : QJsonValue(QJsonValue::Null);
    };
    const double p99 = sorted[(99 * sorted.size() + 99) / 100 - 1], p50 = sorted[(sorted.size() + 1) / 2 - 1];
    return {{"max", qint64(sorted.back())}, {"p99", qint64(p99)}, {"at_white", qint64(sorted.end() - std::lower_bound(sorted.begin(), sorted.end(), white))},
            {"headroom_ev", stops(p99)}, {"ev_p50", stops(p50)}};
}

// The "raw" object of a GRBG DNG as counting its photosites (under a region of the upright
// picture) gives it; with bins, their histograms too, `width` raw values a bin.
QJsonObject ExpectedRaw(const dng_pictures::Description& dng, const std::vector<std::uint16_t>& sites,
                        const dng_pictures::UprightRect* region, int binWidth = 0) {
    const std::array<std::vector<std::uint16_t>, 4> under = dng_pictures::SitesUnder(dng, sites, region);
    std::vector<std::uint16_t> greens = under[0];
    greens.insert(greens.end(), under[3].begin(), under[3].end());
    std::sort(greens.begin(), greens.end());
    QJsonObject raw{{"camera", "Vistrel Test Camera"}, {"cfa", "GRBG"}, {"bits", 14}, {"white", 16383},
                    {"black", QJsonArray{dng.black[0], dng.black[1], dng.black[2], dng.black[3]}}};
    raw["R"] = RawChannel(under[1], dng.black[1], dng.white);
    raw["G"] = RawChannel(greens, (dng.black[0] + dng.black[3]) / 2.0, dng.white);
    raw["B"] = RawChannel(under[2], dng.black[2], dng.white);
    raw["G1"] = RawChannel(under[0], dng.black[0], dng.white);
    raw["G2"] = RawChannel(under[3], dng.black[3], dng.white);
    if (binWidth > 0) {
        QJsonObject histogram{{"bin_width", binWidth}, {"bins", 16384 / binWidth}};
        for (const auto& [name, place] : {std::pair{"R", 1}, std::pair{"G1", 0}, std::pair{"G2", 3}, std::pair{"B", 2}}) {
            std::vector<qint64> bins(std::size_t(16384 / binWidth), 0);
            for (const std::uint16_t v : under[std::size_t(place)]) ++bins[v / std::size_t(binWidth)];
            QJsonArray array;
            for (const qint64 n : bins) array.append(n);
            histogram[name] = array;
        }
        raw["histogram"] = histogram;
    }
    return raw;
}

// A camera raw file the size a photographer's camera makes, through the program's
// decoder as --stats loads it: its "raw" object is that of counting the photosites
// written, each green apart too, whichever colour handling is asked for, and its headroom
// is printed to two decimals (null where p99 is at black); under a region of the turned
// picture, that of counting the photosites under it, their histogram with --raw-histogram.
TEST(AppStats, ARawFilesPhotositesAreCountedExactlyAt24Megapixels) {
    QTemporaryDir dir;
    dng_pictures::Description dng;
    dng.width = 6000;
    dng.height = 4000;
    dng.orientation = 8;
    dng.cfa = dng_pictures::Cfa::Grbg;
    dng.black = {510, 514, 516, 514};  // the greens' mean black is 512
    std::vector<std::uint16_t> sites = dng_pictures::Scene(dng, 24);
    // Blue in the dark: every photosite at or below its black.
    for (std::size_t y = 1; y < dng.height; y += 2)
        for (std::size_t x = 0; x < dng.width; x += 2) sites[y * dng.width + x] = std::min<std::uint16_t>(sites[y * dng.width + x], 516);
    const QString path = dir.filePath("big.dng");
    ASSERT_EQ(dng_pictures::WriteDng(path.toStdString(), dng, sites), "");
    const std::array<dng_pictures::CountedLevels, 3> counted = dng_pictures::CountLevels(dng, sites);

    const QJsonObject raw = ExpectedRaw(dng, sites, nullptr);
    ASSERT_TRUE(raw["B"].toObject()["headroom_ev"].isNull());
    ASSERT_GT(counted[1].atWhite, 0u);
    const Outcome run = RunStats({path, path, "--colour", "stored"});
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_EQ(run.exitCode, 0);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(run.lines[i]["width"].toInt(), 4000);
        EXPECT_EQ(run.lines[i]["raw"].toObject(), raw);
        const QByteArray& text = run.texts[i];
        for (const char* colour : {"\"R\": {", "\"G\": {"}) {
            const qsizetype at = text.indexOf("\"headroom_ev\": ", text.indexOf(colour)) + 15;
            EXPECT_TRUE(QRegularExpression("^-?[0-9]+\\.[0-9][0-9][,}]").match(QString::fromLatin1(text.mid(at, 12))).hasMatch())
                << text.mid(at, 12).toStdString();
        }
        // The new keys after the old ones: the median's stops last in a channel, the greens
        // apart after B.
        EXPECT_TRUE(QRegularExpression("\"R\": \\{\"max\": [0-9]+, \"p99\": [0-9]+, \"at_white\": [0-9]+, \"headroom_ev\": [-0-9.]+, "
                                       "\"ev_p50\": [-0-9.]+\\}, \"G\": \\{[^}]*\\}, \"B\": \\{[^}]*\\}, \"G1\": \\{[^}]*\\}, \"G2\": \\{[^}]*\\}\\}")
                        .match(QString::fromLatin1(text))
                        .hasMatch())
            << text.toStdString();
    }
    // A region of the turned picture counts the photosites under it alone.
    const dng_pictures::UprightRect region{1001, 2999, 1234, 777};
    const Outcome inside = RunStats({path, "--raw-histogram", "--region", "1001,2999,1234,777"});
    ASSERT_EQ(inside.lines.size(), 1u);
    EXPECT_EQ(inside.exitCode, 0);
    EXPECT_EQ(inside.lines[0]["raw"].toObject(), ExpectedRaw(dng, sites, &region, 4));
    // Hundredths as they are: 0.05 is no 0.5, and no headroom reads "-0.00".
    vistrel::FileStatistics stats;
    stats.loaded = true;
    vistrel::RawPhotosites photosites;
    photosites.cfa = {'R', 'G', 'G', 'B'};
    photosites.white = 1000;
    photosites.levels = {vistrel::RawLevels{1000, 966, 1}, vistrel::RawLevels{1000, 1002, 0}, vistrel::RawLevels{}};
    stats.raw = vistrel::RawPicture{"C", photosites, nullptr};
    const QByteArray line = vistrel::StatsLine(stats);
    EXPECT_TRUE(line.contains("\"R\": {\"max\": 1000, \"p99\": 966, \"at_white\": 1, \"headroom_ev\": 0.05}")) << line.toStdString();
    EXPECT_TRUE(line.contains("\"headroom_ev\": 0.00}")) << line.toStdString();
    EXPECT_TRUE(line.contains("\"B\": {\"max\": 0, \"p99\": 0, \"at_white\": 0, \"headroom_ev\": null}")) << line.toStdString();
    // A file with no usable white level: none, and nothing counted against it.
    stats.raw->photosites->white = 0;
    const QByteArray none = vistrel::StatsLine(stats);
    EXPECT_TRUE(none.contains("\"white\": null, \"R\": {\"max\": 1000, \"p99\": 966, \"at_white\": null, \"headroom_ev\": null}"))
        << none.toStdString();
}

// Every mean a channel can have, 0.000 to 255.000, printed with three decimals as the
// C library prints the same number: a field cut short shows where the decimals start
// with a zero (0.050, 1.005, 0.001), which a picture's mean seldom hits.
TEST(AppStats, EveryMeanPrintsWithItsThreeDecimals) {
    vistrel::FileStatistics stats;
    stats.file = "p.png";
    stats.loaded = true;
    constexpr std::uint64_t kHighestThousandths = 255000;
    constexpr std::size_t kChannels = std::tuple_size_v<decltype(stats.levels.channels)>;
    const QByteArray field = "\"mean\": ";
    for (std::uint64_t first = 0; first <= kHighestThousandths; first += kChannels) {
        for (std::size_t c = 0; c < kChannels; ++c) stats.levels.channels[c].meanThousandths = first + c;
        const QByteArray line = vistrel::StatsLine(stats);
        qsizetype at = 0;
        for (std::uint64_t value = first; value < first + kChannels; ++value) {
            at = line.indexOf(field, at);
            ASSERT_GE(at, 0) << line.toStdString();
            at += field.size();
            char expected[16];
            std::snprintf(expected, sizeof expected, "%.3f", static_cast<double>(value) / 1000.0);
            ASSERT_EQ(line.mid(at, line.indexOf(',', at) - at).toStdString(), std::string(expected));
        }
    }
}

// A grey picture with its own grey profile (gamma 1.8) is converted through it, and its
// line names the profile's space; its mean is lcms2's within half a level.
TEST(AppStats, AGreyProfileIsNamedAndApplied) {
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.8);
    cmsHPROFILE grey = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsFreeToneCurve(curve);
    cmsMLU* name = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(name, "en", "US", "Grey, gamma 1.8");
    cmsWriteTag(grey, cmsSigProfileDescriptionTag, name);
    cmsMLUfree(name);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(grey, nullptr, &size);
    QByteArray profile(qsizetype(size), '\0');
    cmsSaveProfileToMem(grey, profile.data(), &size);

    QImage image(64, 64, QImage::Format_Grayscale8);
    double lcms = 0;  // the mean of lcms2's levels
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(grey, TYPE_GRAY_DBL, srgb, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const int level = (x * 4 + y) % 256;
            image.scanLine(y)[x] = uchar(level);
            const double in = level / 255.0;
            double out[3];
            cmsDoTransform(transform, &in, out, 1);
            lcms += std::nearbyint(std::clamp(out[1], 0.0, 1.0) * 255) / (64 * 64);
        }
    cmsDeleteTransform(transform), cmsCloseProfile(srgb), cmsCloseProfile(grey);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "PNG"));
    // An iCCP chunk after the IHDR (8 bytes of signature, 25 of IHDR).
    const QByteArray data = "grey" + QByteArray(2, '\0') + qCompress(profile).mid(4);  // qCompress leads with the length
    QByteArray chunk = "iCCP" + data;
    const auto big = [](std::uint32_t v) {
        const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        return QByteArray(bytes, 4);
    };
    chunk = big(std::uint32_t(data.size())) + chunk + big(std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(chunk.constData()), uInt(chunk.size()))));
    QTemporaryDir dir;
    QFile file(dir.filePath("grey.png"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(png.insert(33, chunk));
    file.close();

    const Outcome run = RunStats({file.fileName()});
    ASSERT_EQ(run.lines.size(), 1u);
    EXPECT_EQ(run.lines[0]["colour"].toString(), "Grey, gamma 1.8");
    EXPECT_EQ(run.lines[0]["out_of_gamut"].toInt(), 0);
    for (const char* channel : {"R", "G", "B"})
        EXPECT_NEAR(run.lines[0]["channels"][channel]["mean"].toDouble(), lcms, 0.5) << channel;
}

// A file that fails says why in the window's words, and its "error" stays what scripts read.
TEST(AppStats, AFailureGivesTheReasonTheWindowGives) {
    QTemporaryDir dir;
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(qRgb(90, 120, 200));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "PNG"));
    QFile cut(dir.filePath("cut.png"));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(png.left(png.size() / 2));
    cut.close();
    QFile notes(dir.filePath("notes.png"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("plain words, whatever the name says");
    notes.close();
    const QString missing = dir.filePath("missing.jpg");

    const Outcome run = RunStats({missing, cut.fileName(), notes.fileName()});
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.lines.size(), 3u);
    const std::pair<QString, const char*> expected[] = {
        {missing, "Not found."}, {cut.fileName(), "Damaged or cut short."},
        {notes.fileName(), "Not a picture format Vistrel reads."}};
    for (std::size_t k = 0; k < 3; ++k) {
        const auto& [file, reason] = expected[k];
        EXPECT_EQ(run.lines[k], QJsonObject({{"file", file}, {"error", "Could not load " + file}, {"reason", reason}}));
    }
}

TEST(AppStats, BadOptionsExitTwoAndPrintNothing) {
    for (const QStringList& arguments : {QStringList{}, QStringList{"p.png", "--colour", "sideways"},
                                         QStringList{"p.png", "--scope", "y"},
                                         QStringList{"a.png", "b.png", "--render", "o"}}) {
        const Outcome run = RunStats(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.lines.empty());
    }
}

// A region's numbers are the crop's, counted the slow way pixel by pixel, under both
// luma standards: the whole picture, its edges, single pixels and an inner rectangle.
// Its line names it; one outside the picture, by a pixel, is an error that exits 2.
TEST(AppStats, ARegionCountsExactlyItsCropsPixelsAndOneOutsideThePictureExitsTwo) {
    QTemporaryDir dir;
    constexpr int kWidth = 41, kHeight = 29;
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    std::mt19937 rng(39);
    const auto pick = [&] {  // noise, with clipped levels and the video range's edges among it
        const unsigned r = rng() % 8;
        return r == 0 ? 0u : r == 1 ? 255u : r == 2 ? 235u + rng() % 2 : rng() % 256;
    };
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) image.setPixel(x, y, qRgb(pick(), pick(), pick()));
    const QString file = dir.filePath("noise.png");
    ASSERT_TRUE(image.save(file, "PNG"));

    const korvex::PixelRect regions[] = {{0, 0, kWidth, kHeight}, {kWidth - 1, 0, 1, kHeight}, {0, kHeight - 1, kWidth, 1},
                                         {kWidth - 1, kHeight - 1, 1, 1}, {0, 0, 1, 1}, {7, 3, 19, 11}};
    for (const korvex::LumaStandard standard : {korvex::LumaStandard::Rec601, korvex::LumaStandard::Rec709}) {
        vistrel::Settings settings;
        settings.luma = standard;
        for (const korvex::PixelRect& r : regions) {
            SCOPED_TRACE(testing::Message() << r.x << "," << r.y << "," << r.width << "," << r.height);
            LevelCounts counts;
            for (std::size_t y = r.y; y < r.y + r.height; ++y)
                for (std::size_t x = r.x; x < r.x + r.width; ++x) {
                    korvex::Pixel p = image.pixel(static_cast<int>(x), static_cast<int>(y)) & 0x00FFFFFFu;
                    korvex::UvPair pair{};
                    korvex::ConvertToYuv(std::span(&p, 1), std::span(&pair, 1), standard);
                    ++counts.bins[LevelCounts::R][(p >> 16) & 0xFF];
                    ++counts.bins[LevelCounts::G][(p >> 8) & 0xFF];
                    ++counts.bins[LevelCounts::B][p & 0xFF];
                    ++counts.bins[LevelCounts::Y][p >> 24];
                }
            vistrel::FileStatistics expected;
            expected.file = file;
            expected.loaded = true;
            expected.width = kWidth;
            expected.height = kHeight;
            expected.luma = standard;
            expected.levels = vistrel::StatisticsOf(counts);
            expected.region = r;
            const vistrel::FileStatistics measured = vistrel::MeasureFile(file, settings, {}, 0, r);
            expected.signal = measured.signal;  // the whole picture's samples, whatever the region
            EXPECT_EQ(vistrel::StatsLine(measured), vistrel::StatsLine(expected));
        }
    }

    // As a script runs it: the region named after the size, and the whole line unchanged
    // without one.
    const Outcome inner = RunStats({file, "--region", "7,3,19,11", "--luma", "709"});
    EXPECT_EQ(inner.exitCode, 0);
    ASSERT_EQ(inner.texts.size(), 1u);
    EXPECT_TRUE(inner.texts[0].startsWith("{\"file\": \"" + file.toUtf8() + "\", \"width\": 41, \"height\": 29, \"region\": [7, 3, 19, 11], \"luma\": \"709\""))
        << inner.texts[0].toStdString();
    const Outcome plain = RunStats({file});
    ASSERT_EQ(plain.texts.size(), 1u);
    EXPECT_EQ(plain.texts[0], vistrel::StatsLine(vistrel::MeasureFile(file, {}, {}, 0)));
    EXPECT_FALSE(plain.texts[0].contains("region"));

    for (const QString& outside : {QStringLiteral("0,0,42,29"), QStringLiteral("40,28,1,2"), QStringLiteral("41,0,1,1")}) {
        const Outcome run = RunStats({file, "--region", outside});
        EXPECT_EQ(run.exitCode, 2) << outside.toStdString();
        ASSERT_EQ(run.lines.size(), 1u);
        EXPECT_EQ(run.lines[0]["error"].toString(),
                  "The region " + outside + " does not lie wholly inside the 41 x 29 picture");
    }
    for (const char* malformed : {"1,2,3", "1,2,3,4,5", "-1,0,1,1", "0,0,0,1", "0,0,1,x", ""}) {
        const Outcome run = RunStats({file, "--region", malformed});
        EXPECT_EQ(run.exitCode, 2) << malformed;
        EXPECT_TRUE(run.lines.empty()) << malformed;
    }
}

}  // namespace

namespace {

QByteArray BigEndian32(std::uint32_t v) {
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
}

// A 16-bit PNG of the image with a cICP chunk after its header (full range, RGB).
QByteArray CicpPng(const QImage& image, int primaries, int transfer) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    const char data[4] = {char(primaries), char(transfer), 0, 1};
    const QByteArray typed = QByteArray("cICP") + QByteArray(data, 4);
    const auto crc = std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size())));
    return png.insert(33, BigEndian32(4) + typed + BigEndian32(crc));
}

double PqNits(double e) {
    const double m1 = 2610.0 / 16384, m2 = 2523.0 / 32, c1 = 3424.0 / 4096, c2 = 2413.0 / 128, c3 = 2392.0 / 128;
    const double p = std::pow(e, 1 / m2);
    return 10000 * std::pow(std::max(p - c1, 0.0) / (c2 - c3 * p), 1 / m1);
}

}  // namespace

// The counts of the file's own samples come last, after every key of before, which keep
// their bytes: a BT.2020 PQ picture's light within 0.5 % of ST 2084 over its samples, a
// half pure Display P3 green picture half outside sRGB alone, an sRGB one outside nothing.
TEST(AppStats, AFilesOwnSamplesGiveItsLightAndGamutSharesAfterTheOtherKeys) {
    QTemporaryDir dir;
    constexpr int kWidth = 200, kHeight = 150;
    QImage hdr(kWidth, kHeight, QImage::Format_RGBX64);
    std::mt19937 rng(5);
    std::vector<double> nits;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            // Mostly below 203 nits (code 0.58), a few highlights.
            const auto code = [&] { return std::uint16_t(rng() % 100 == 0 ? 40000 + rng() % 20000 : rng() % 38000); };
            const std::uint16_t r = code(), g = code(), b = code();
            hdr.setPixelColor(x, y, QColor::fromRgba64(r, g, b));
            nits.push_back(PqNits(std::max({r, g, b}) / 65535.0));
        }
    const QString pq = dir.filePath("pq.png");
    {
        QFile file(pq);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(CicpPng(hdr, 9, 16));
    }
    QImage p3(64, 40, QImage::Format_RGBX64);
    for (int y = 0; y < p3.height(); ++y)
        for (int x = 0; x < p3.width(); ++x)
            p3.setPixelColor(x, y, x < 32 ? QColor::fromRgba64(0, 65535, 0) : QColor::fromRgba64(30000, 30000, 30000));
    const QString green = dir.filePath("p3.png"), srgb = dir.filePath("srgb.png");
    {
        QFile file(green);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(CicpPng(p3, 12, 13));
    }
    ASSERT_TRUE(p3.save(srgb));

    const Outcome run = RunStats({pq, green, srgb});
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.lines.size(), 3u);
    const QJsonObject light = run.lines[0]["light"].toObject();
    const double maxCll = *std::max_element(nits.begin(), nits.end());
    double sum = 0;
    for (const double n : nits) sum += n;
    EXPECT_NEAR(light["max_cll"].toDouble(), maxCll, 0.005 * maxCll);
    EXPECT_NEAR(light["max_fall"].toDouble(), sum / double(nits.size()), 0.005 * sum / double(nits.size()));
    // p99: the upper edge of the 1024-step log bin that reaches 99 %, one bin above it at most.
    std::sort(nits.begin(), nits.end());
    const double p99 = nits[(nits.size() * 99 + 99) / 100 - 1];
    EXPECT_GE(light["p99_nits"].toDouble(), p99 - 0.05);
    EXPECT_LE(light["p99_nits"].toDouble(), p99 * std::pow(1e6, 1.0 / 1024) + 0.05);
    EXPECT_TRUE(run.texts[0].contains(", \"light\": {\"max_cll\": "));
    EXPECT_FALSE(run.lines[1].contains("light"));
    EXPECT_FALSE(run.lines[2].contains("light"));
    // Every key of before, then the new ones: the line's bytes up to them are the old line's.
    for (const QByteArray& text : run.texts)
        EXPECT_TRUE(QRegularExpression(R"("out_of_gamut": \d+(, "light": \{[^}]*\})?, "gamut": \{[^}]*\}\}$)")
                        .match(QString::fromUtf8(text))
                        .hasMatch())
            << text.toStdString();
    EXPECT_TRUE(run.texts[1].endsWith(R"("gamut": {"outside_srgb": 0.5000, "outside_p3": 0.0000, "outside_rec2020": 0.0000}})"))
        << run.texts[1].toStdString();
    EXPECT_TRUE(run.texts[2].endsWith(R"("gamut": {"outside_srgb": 0.0000, "outside_p3": 0.0000, "outside_rec2020": 0.0000}})"))
        << run.texts[2].toStdString();
}
