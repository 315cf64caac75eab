// `vistrel --stats` run as a script runs it: one JSON object per file with its exact
// keys, the numbers of the slow way over the picture written, a failing file in the
// middle, bad options.

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <random>

#include "app/Stats.h"

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
    EXPECT_TRUE(process.waitForFinished(60000));
    const QByteArray out = process.readAllStandardOutput();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            out.isEmpty() ? QList<QByteArray>{} : out.chopped(1).split('\n')};
}

QStringList KeysOf(const QByteArray& line) {
    QJsonParseError error{};
    const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
    QStringList keys = object.keys();
    for (const char* inner : {"channels", "probe"})
        for (const QString& key : object[inner].toObject().keys()) {
            keys.append(QString(inner) + "." + key);
            for (const QString& deeper : object[inner][key].toObject().keys()) keys.append(key + "." + deeper);
        }
    keys.removeDuplicates();
    keys.sort();
    return keys;
}

TEST(AppStats, EachFileGetsItsLineWithTheSlowCountsAndAFailureLeavesTheOthersIntact) {
    QTemporaryDir dir;
    constexpr int kWidth = 37, kHeight = 23;
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    std::mt19937 rng(21);
    const auto pick = [&] {  // random levels with clipped ones and the video range's edges among them
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
        LevelCounts counts;  // the slow way
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                korvex::Pixel p = image.pixel(x, y) & 0x00FFFFFFu;
                korvex::UvPair pair{};
                korvex::ConvertToYuv(std::span(&p, 1), std::span(&pair, 1), standard);
                for (const std::size_t c : {LevelCounts::R, LevelCounts::G, LevelCounts::B, LevelCounts::Y})
                    ++counts.bins[c][(p >> (c == LevelCounts::Y ? 24 : 16 - 8 * c)) & 0xFF];
            }
        korvex::Pixel probed = image.pixel(36, 5) & 0x00FFFFFFu;
        korvex::UvPair pair{};
        korvex::ConvertToYuv(std::span(&probed, 1), std::span(&pair, 1), standard);
        const vistrel::ProbeReadout readout{static_cast<int>((probed >> 16) & 0xFF),
                                            static_cast<int>((probed >> 8) & 0xFF), static_cast<int>(probed & 0xFF),
                                            static_cast<int>(probed >> 24), pair};
        const vistrel::FileStatistics expected{good, true, kWidth, kHeight, standard, {}, 0,
                                               vistrel::StatisticsOf(counts), QPoint(36, 5), readout};

        QStringList arguments{good, missing, good, "--probe", "36,5"};
        if (is709) arguments += QStringList{"--luma", "709"};
        const Outcome run = RunStats(arguments);
        EXPECT_EQ(run.exitCode, 1);
        ASSERT_EQ(run.lines.size(), 3);
        EXPECT_EQ(run.lines[0], vistrel::StatsLine(expected));
        EXPECT_EQ(run.lines[2], run.lines[0]);
        // The line's own numbers against the plain counts, so that no field is misplaced.
        const QJsonObject channels = QJsonDocument::fromJson(run.lines[0]).object()["channels"].toObject();
        for (const std::size_t c : {LevelCounts::R, LevelCounts::G, LevelCounts::B, LevelCounts::Y}) {
            const QJsonObject channel = channels[QString(QChar::fromLatin1("RGBY"[c]))].toObject();
            double sum = 0;
            for (std::size_t v = 0; v < 256; ++v) sum += static_cast<double>(v * counts.bins[c][v]);
            EXPECT_NEAR(channel["mean"].toDouble(), sum / (kWidth * kHeight), 0.0005);
            EXPECT_EQ(channel["at_0"].toInteger(), static_cast<qint64>(counts.bins[c][0]));
            EXPECT_EQ(channel["at_255"].toInteger(), static_cast<qint64>(counts.bins[c][255]));
        }
        EXPECT_EQ(QJsonDocument::fromJson(run.lines[1]).object(),
                  QJsonObject({{"file", missing}, {"error", "Could not load " + missing}}));
    }

    // The keys, exactly; and with --render too, the line and both images.
    const QString folder = dir.filePath("scopes");
    const Outcome both = RunStats({good, "--render", folder, "--probe", "1,1"});
    EXPECT_EQ(both.exitCode, 0);
    ASSERT_EQ(both.lines.size(), 1);
    QStringList keys{"file", "width", "height", "luma", "colour", "channels", "outside_16_235", "out_of_gamut", "probe"};
    for (const char* inner : {"x", "y", "R", "G", "B", "Y", "U", "V"}) keys.append(QString("probe.") + inner);
    for (const char* channel : {"R", "G", "B", "Y"}) {
        keys.append(QString("channels.") + channel);
        for (const char* number : {"min", "max", "mean", "median", "p1", "p99", "at_0", "at_255"})
            keys.append(QString(channel) + "." + number);
    }
    keys.sort();
    EXPECT_EQ(KeysOf(both.lines[0]), keys);
    EXPECT_TRUE(both.lines[0].contains(R"("luma": "601", "colour": "sRGB")"));
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
