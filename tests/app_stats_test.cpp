// `vistrel --stats` run as a script runs it: one JSON object per file, numbers from the
// slow way over the picture written, a failing file in the middle, bad options.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <random>

#include "model/LevelStatistics.h"
#include "model/Model.h"

namespace {

using korvex::LevelCounts;

struct Outcome {
    int exitCode = -1;
    QList<QByteArray> lines;
};

Outcome RunStats(const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
    process.setProcessEnvironment(environment);
    process.start(VISTREL_BINARY_DIR "/vistrel", QStringList{"--stats"} + arguments);
    const bool finished = process.waitForFinished(60000);
    if (!finished) process.kill();
    EXPECT_TRUE(finished);
    QByteArray out = process.readAllStandardOutput();
    if (out.endsWith('\n')) out.chop(1);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            out.isEmpty() ? QList<QByteArray>{} : out.split('\n')};
}

QJsonObject Parsed(const QByteArray& line) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
    EXPECT_TRUE(document.isObject());
    return document.object();
}

QStringList Keys(std::initializer_list<const char*> names) {
    QStringList keys;
    for (const char* name : names) keys.append(name);
    keys.sort();
    return keys;
}

TEST(AppStats, EachFileGetsItsLineWithTheSlowCountsAndAFailureLeavesTheOthersIntact) {
    QTemporaryDir dir;
    constexpr int kWidth = 37, kHeight = 23, kProbeX = 36, kProbeY = 5;
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    std::mt19937 rng(21);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            // Random colours with clipped channels and video-range edges among them.
            const auto pick = [&] {
                const unsigned r = rng() % 8;
                return r == 0 ? 0u : r == 1 ? 255u : r == 2 ? 16u + rng() % 2 : rng() % 256;
            };
            image.setPixel(x, y, qRgb(pick(), pick(), pick()));
        }
    const QString good = dir.filePath("good \"one\".png");
    ASSERT_TRUE(image.save(good, "PNG"));
    const QString missing = dir.filePath("missing.png");

    for (const korvex::LumaStandard standard : {korvex::LumaStandard::Rec601, korvex::LumaStandard::Rec709}) {
        const bool is709 = standard == korvex::LumaStandard::Rec709;
        SCOPED_TRACE(is709 ? "709" : "601");
        LevelCounts counts;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                korvex::Pixel p = image.pixel(x, y) & 0x00FFFFFFu;
                korvex::UvPair pair{};
                ++counts.bins[LevelCounts::R][(p >> 16) & 0xFF];
                ++counts.bins[LevelCounts::G][(p >> 8) & 0xFF];
                ++counts.bins[LevelCounts::B][p & 0xFF];
                korvex::ConvertToYuv(std::span(&p, 1), std::span(&pair, 1), standard);
                ++counts.bins[LevelCounts::Y][p >> 24];
            }
        const vistrel::LevelStatistics expected = vistrel::StatisticsOf(counts);
        korvex::Pixel probed = image.pixel(kProbeX, kProbeY) & 0x00FFFFFFu;
        korvex::UvPair probedPair{};
        korvex::ConvertToYuv(std::span(&probed, 1), std::span(&probedPair, 1), standard);

        QStringList arguments{good, missing, good, "--probe", QStringLiteral("%1,%2").arg(kProbeX).arg(kProbeY)};
        if (is709) arguments += QStringList{"--luma", "709"};
        const Outcome run = RunStats(arguments);
        EXPECT_EQ(run.exitCode, 1);
        ASSERT_EQ(run.lines.size(), 3);

        const QJsonObject failed = Parsed(run.lines[1]);
        EXPECT_EQ(failed.keys(), Keys({"file", "error"}));
        EXPECT_EQ(failed["file"].toString(), missing);
        EXPECT_EQ(failed["error"].toString(), "Could not load " + missing);

        for (const int index : {0, 2}) {
            const QJsonObject line = Parsed(run.lines[index]);
            EXPECT_EQ(line.keys(), Keys({"file", "width", "height", "luma", "colour", "channels", "outside_16_235",
                                         "out_of_gamut", "probe"}));
            EXPECT_EQ(line["file"].toString(), good);
            EXPECT_EQ(line["width"].toInt(), kWidth);
            EXPECT_EQ(line["height"].toInt(), kHeight);
            EXPECT_EQ(line["luma"].toString(), is709 ? "709" : "601");
            EXPECT_EQ(line["colour"].toString(), "sRGB");
            EXPECT_EQ(line["out_of_gamut"].toInt(-1), 0);
            EXPECT_EQ(line["outside_16_235"].toInteger(), static_cast<qint64>(expected.outsideVideoRange));
            const QJsonObject channels = line["channels"].toObject();
            EXPECT_EQ(channels.keys(), Keys({"R", "G", "B", "Y"}));
            const char* names[] = {"R", "G", "B", "Y"};
            for (std::size_t c = 0; c < LevelCounts::kChannels; ++c) {
                SCOPED_TRACE(names[c]);
                const QJsonObject channel = channels[names[c]].toObject();
                EXPECT_EQ(channel.keys(), Keys({"min", "max", "mean", "median", "p1", "p99", "at_0", "at_255"}));
                const vistrel::ChannelStatistics& e = expected.channels[c];
                EXPECT_EQ(channel["min"].toInt(), e.min);
                EXPECT_EQ(channel["max"].toInt(), e.max);
                EXPECT_EQ(channel["median"].toInt(), e.median);
                EXPECT_EQ(channel["p1"].toInt(), e.p1);
                EXPECT_EQ(channel["p99"].toInt(), e.p99);
                EXPECT_EQ(channel["at_0"].toInteger(), static_cast<qint64>(counts.bins[c][0]));
                EXPECT_EQ(channel["at_255"].toInteger(), static_cast<qint64>(counts.bins[c][255]));
                double sum = 0;
                for (std::size_t v = 0; v < 256; ++v) sum += static_cast<double>(v * counts.bins[c][v]);
                EXPECT_NEAR(channel["mean"].toDouble(), sum / (kWidth * kHeight), 0.0005);
            }
            const QJsonObject probe = line["probe"].toObject();
            EXPECT_EQ(probe.keys(), Keys({"x", "y", "R", "G", "B", "Y", "U", "V"}));
            EXPECT_EQ(probe["x"].toInt(), kProbeX);
            EXPECT_EQ(probe["y"].toInt(), kProbeY);
            EXPECT_EQ(probe["R"].toInt(), static_cast<int>((probed >> 16) & 0xFF));
            EXPECT_EQ(probe["G"].toInt(), static_cast<int>((probed >> 8) & 0xFF));
            EXPECT_EQ(probe["B"].toInt(), static_cast<int>(probed & 0xFF));
            EXPECT_EQ(probe["Y"].toInt(), static_cast<int>(probed >> 24));
            EXPECT_EQ(probe["U"].toInt(), probedPair.u);
            EXPECT_EQ(probe["V"].toInt(), probedPair.v);
        }
    }

    // With --render too: the line and both images; the mean prints with three decimals.
    const QString folder = dir.filePath("scopes");
    const Outcome both = RunStats({good, "--render", folder});
    EXPECT_EQ(both.exitCode, 0);
    ASSERT_EQ(both.lines.size(), 1);
    EXPECT_TRUE(QRegularExpression(R"("mean": \d+\.\d{3},)").match(both.lines[0]).hasMatch());
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath("linescope.png")));
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath("vectorscope.png")));
}

TEST(AppStats, BadOptionsExitTwoAndPrintNothing) {
    for (const QStringList& arguments :
         {QStringList{}, QStringList{"p.png", "--colour", "sideways"}, QStringList{"p.png", "--scope", "y"},
          QStringList{"a.png", "b.png", "--render", "out"}, QStringList{"p.png", "--luma", "2020"}}) {
        const Outcome run = RunStats(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.lines.isEmpty());
    }
}

}  // namespace
