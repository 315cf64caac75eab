// The command line as read, and the program run as a process the way a script runs it.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <QLineEdit>

#include "app/CommandLine.h"
#include "app/frmMain.h"
#include "platform/PictureBox.h"
#include "app_support.h"
#include "support.h"

namespace {

using vistrel::CommandAction;
using vistrel::CommandLine;
using vistrel::ParseCommandLine;

CommandLine Parse(QStringList arguments) {
    arguments.prepend("vistrel");
    return ParseCommandLine(arguments);
}

TEST(CommandLine, AcceptsEveryRenderOptionAtItsLimitsAndRejectsJustBeyond) {
    struct Case {
        QStringList arguments;
        bool accepted;
    };
    const QString at = "--render";
    const Case cases[] = {
        {{at, "out", "p.jpg", "--lamp", "0"}, true},      {{at, "out", "p.jpg", "--lamp", "255"}, true},
        {{at, "out", "p.jpg", "--lamp", "-1"}, false},    {{at, "out", "p.jpg", "--lamp", "256"}, false},
        {{at, "out", "p.jpg", "--lamp", "1e2"}, false},   {{at, "out", "p.jpg", "--zoom", "64"}, true},
        {{at, "out", "p.jpg", "--zoom", "1024"}, true},   {{at, "out", "p.jpg", "--zoom", "63"}, false},
        {{at, "out", "p.jpg", "--zoom", "1025"}, false},  {{at, "out", "p.jpg", "--zoom", "x"}, false},
        {{at, "out", "p.jpg", "--probe", "0,0"}, true},   {{at, "out", "p.jpg", "--probe", "3"}, false},
        {{at, "out", "p.jpg", "--probe", "3,4,5"}, false}, {{at, "out", "p.jpg", "--probe", "-1,4"}, false},
        {{at, "out", "p.jpg", "--probe", "a,b"}, false},  {{at, "out", "p.jpg", "--scope", "Y"}, true},
        {{at, "out", "p.jpg", "--scope", "luma"}, false}, {{at, "out"}, false},
        {{at, "out", "a.jpg", "b.jpg"}, false},           {{"--zoom", "300", "p.jpg"}, false},
        {{"--vertical"}, false},                          {{"--bogus"}, false},
        {{"p.jpg"}, true},                                {{}, true},
        {{at, "out", "p.jpg", "--luma", "601"}, true},   {{at, "out", "p.jpg", "--luma", "709"}, true},
        {{at, "out", "p.jpg", "--luma", "2020"}, false}, {{"--luma", "709", "p.jpg"}, false},
        {{at, "out", "p.jpg", "--skin-line"}, true},     {{"--skin-line", "p.jpg"}, false},
        {{at, "out", "p.jpg", "--histogram", "RGB"}, true}, {{at, "out", "p.jpg", "--histogram", "parade"}, true},
        {{at, "out", "p.jpg", "--histogram", "rg"}, false}, {{"--histogram", "r", "p.jpg"}, false},
        {{at, "out", "p.jpg", "--trace", "0"}, true},    {{at, "out", "p.jpg", "--trace", "8"}, true},
        {{at, "out", "p.jpg", "--trace", "9"}, false},   {{at, "out", "p.jpg", "--trace", "-1"}, false},
        {{at, "out", "p.jpg", "--lines", "0,255"}, true}, {{at, "out", "p.jpg", "--lines", "0%,100%"}, true},
        {{at, "out", "p.jpg", "--lines", "256"}, false}, {{at, "out", "p.jpg", "--lines", "101%"}, false},
        {{at, "out", "p.jpg", "--lines", "16,,235"}, false}, {{"--lines", "16", "p.jpg"}, false},
        {{at, "out", "p.jpg", "--reference", "r.jpg"}, true}, {{at, "out", "p.jpg", "--reference", ""}, false},
        {{"--stats", "p.jpg", "--reference", "r.jpg"}, false}, {{"--reference", "r.jpg", "p.jpg"}, false},
        {{at, "out", "p.jpg", "--false-colour"}, true},  {{"--false-colour", "p.jpg"}, false},
        {{at, "out", "p.jpg", "--zebra", "0"}, true},     {{at, "out", "p.jpg", "--zebra", "255"}, true},
        {{at, "out", "p.jpg", "--zebra", "-1"}, false},   {{at, "out", "p.jpg", "--zebra", "256"}, false},
        {{at, "out", "p.jpg", "--zebra"}, false},         {{"--stats", "p.jpg", "--zebra", "200"}, false},
        {{at, "out", "p.jpg", "--raw-axis", "linear"}, true}, {{at, "out", "p.jpg", "--raw-axis", "stops"}, false},
        {{at, "out", "p.jpg", "--raw-axis"}, false},      {{"--stats", "p.jpg", "--raw-axis", "ev"}, false},
        {{"--raw-log", "p.jpg"}, false},                  {{"--raw-clipping", "p.jpg"}, false},
        {{"--stats", "p.jpg", "--raw-histogram"}, true},  {{at, "out", "p.jpg", "--raw-histogram"}, false},
    };
    for (const Case& c : cases) {
        const CommandLine line = Parse(c.arguments);
        EXPECT_EQ(line.action != CommandAction::Error, c.accepted) << c.arguments.join(' ').toStdString();
        if (!c.accepted) {
            EXPECT_FALSE(line.text.isEmpty()) << "no reason given";
        }
    }
}

TEST(CommandLine, CarriesTheSettingsAndTheNamesExactlyAsGiven) {
    const CommandLine plain = Parse({"--render", "out dir", "pic.jpg"});
    ASSERT_EQ(plain.action, CommandAction::Render);
    EXPECT_TRUE(plain.settings == vistrel::Settings{});
    EXPECT_FALSE(plain.probe.has_value());

    const CommandLine all = Parse({"--scope", "b", "--histogram", "y", "--vertical", "--scale-front", "--lamp", "7",
                                   "--zoom", "900", "--probe", "12,34", "--luma", "709", "--skin-line", "--render",
                                   "out", "--trace", "3", "--lines", "235, 5%", "--reference", "ref näme.png",
                                   "--false-colour", "--zebra", "200", "--raw-clipping", "--raw-axis", "ev", "--raw-log",
                                   "--", "-odd näme .jpg"});
    ASSERT_EQ(all.action, CommandAction::Render) << all.text.toStdString();
    EXPECT_EQ(all.file, QString("-odd näme .jpg"));
    EXPECT_EQ(all.renderFolder, QString("out"));
    vistrel::Settings expected;
    expected.scopeChannel = vistrel::ScopeChannel::Blue;
    expected.histogramChannel = vistrel::HistogramChannel::Luma;
    expected.orientation = vistrel::ScopeOrientation::Vertical;
    expected.scale = vistrel::ScalePlacement::InFront;
    expected.lamp = 7;
    expected.zoom = 900;
    expected.luma = korvex::LumaStandard::Rec709;
    expected.skinLine = true;
    expected.trace = 3;
    expected.scopeLines = {12, 235};
    expected.falseColour = true;
    expected.zebra = true;
    expected.zebraLevel = 200;
    expected.rawClipping = true;
    expected.rawHistogramAxis = vistrel::RawHistogramAxis::Ev;
    expected.rawHistogramScale = vistrel::HistogramScale::Log;
    EXPECT_TRUE(all.settings == expected);
    EXPECT_EQ(all.reference, QString("ref näme.png"));
    EXPECT_TRUE(plain.reference.isEmpty());
    EXPECT_EQ(all.probe, QPoint(12, 34));

    const CommandLine run = Parse({" spaced name.jpg "});
    EXPECT_EQ(run.action, CommandAction::Run);
    EXPECT_EQ(run.file, QString(" spaced name.jpg "));
    EXPECT_EQ(Parse({"--version"}).text, QString("Vistrel 0.95.1"));
}

// The program itself, with no display at all, as a script would run it.
struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Outcome RunVistrel(const QStringList& arguments, const QList<std::pair<QString, QString>>& setting = {}) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"})
        environment.remove(name);
    for (const auto& [name, value] : setting) environment.insert(name, value);
    process.setProcessEnvironment(environment);
    process.start(VISTREL_BINARY_DIR "/vistrel", arguments);
    const bool finished = process.waitForFinished(60000);
    if (!finished) process.kill();
    EXPECT_TRUE(finished) << arguments.join(' ').toStdString();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

TEST(CommandLineProcess, PrintsWithoutADisplayAndFailsWithTheRightCodes) {
    const Outcome version = RunVistrel({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, QByteArray("Vistrel 0.95.1\n"));

    const Outcome help = RunVistrel({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--render", "--scope", "--histogram", "--vertical", "--scale-front", "--lamp", "--zoom",
                               "--probe", "--luma", "--skin-line", "--stats", "--colour", "--false-colour", "--zebra",
                               "view.png", "--region"})
        EXPECT_TRUE(help.out.contains(option)) << option;
    // Every format read, named once; the three instruments.
    for (const char* format : {"GIF", "BMP", "JPEG,", "PNG", "TIFF", "WebP", "HEIC", "AVIF", "JPEG XL", "icons",
                               "Windows metafiles"})
        EXPECT_EQ(help.out.count(format), 1) << format;
    for (const char* instrument : {"line scope", "vectorscope", "histogram"})
        EXPECT_TRUE(help.out.toLower().contains(instrument)) << instrument;

    const Outcome unknown = RunVistrel({"--bogus"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.contains("bogus"));
    EXPECT_TRUE(unknown.out.isEmpty());

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Outcome zoom = RunVistrel({"--render", dir.path(), "--zoom", "2000", VISTREL_BINARY_DIR "/30861.jpg"});
    EXPECT_EQ(zoom.exitCode, 2);
    EXPECT_TRUE(zoom.err.contains("--zoom"));
}

TEST(CommandLineProcess, WithoutADisplayTheWindowsAreNotTriedAndRenderIsSuggested) {
    for (const QStringList& arguments : {QStringList{}, QStringList{VISTREL_BINARY_DIR "/30861.jpg"}}) {
        const Outcome run = RunVistrel(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.contains("no display")) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("--render") && run.err.contains("three instruments"));
        EXPECT_TRUE(run.err.contains("--stats"));
    }
    // A platform named needs its own display server, and offscreen none.
    EXPECT_FALSE(vistrel::DisplayReachable("xcb", "", "wayland-0"));
    EXPECT_FALSE(vistrel::DisplayReachable("wayland-egl", ":0", ""));
    EXPECT_TRUE(vistrel::DisplayReachable("xcb:nograb", ":1", ""));
    EXPECT_TRUE(vistrel::DisplayReachable("offscreen", "", ""));
}

TEST(CommandLineProcess, ADisplayThatCannotBeReachedIsSaidPlainlyAndExits2NeverAborts) {
    QTemporaryDir runtime;  // a Wayland runtime folder with no compositor's socket in it
    ASSERT_TRUE(runtime.isValid());
    // An X display number no server listens on.
    int free = 87;
    while (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(free))) ++free;
    const QString x11 = QStringLiteral(":%1").arg(free);
    const QList<QList<std::pair<QString, QString>>> sessions = {
        {{"DISPLAY", x11}},
        {{"DISPLAY", x11}, {"QT_QPA_PLATFORM", "xcb"}},
        {{"WAYLAND_DISPLAY", "wayland-vistrel-none"}, {"XDG_RUNTIME_DIR", runtime.path()}, {"QT_QPA_PLATFORM", "wayland"}},
        {{"WAYLAND_DISPLAY", "wayland-vistrel-none"}, {"XDG_RUNTIME_DIR", runtime.path()}, {"XDG_SESSION_TYPE", "wayland"}},
        {{"DISPLAY", x11}, {"QT_QPA_PLATFORM", "no-such-window-system"}},
    };
    for (const auto& session : sessions) {
        QString named;
        for (const auto& [name, value] : session) named += name + "=" + value + " ";
        const Outcome run = RunVistrel({VISTREL_BINARY_DIR "/30861.jpg"}, session);
        EXPECT_EQ(run.exitCode, 2) << named.toStdString() << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("could not open a window")) << named.toStdString() << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("--render")) << named.toStdString();
    }
}

TEST(CommandLineProcess, RendersAnOddlyNamedPictureAndWritesNothingForOneThatDoesNotLoad) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString odd = dir.filePath("-card ü 1.jpg");
    ASSERT_TRUE(QFile::copy(VISTREL_BINARY_DIR "/30861.jpg", odd));
    const QString out = dir.filePath("out");
    ASSERT_TRUE(QDir().mkdir(out));

    const QString missing = dir.filePath("missing.jpg");
    const Outcome failed = RunVistrel({"--render", out, missing});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(QString::fromLocal8Bit(failed.err), "Could not load " + missing + ": not found\n");
    EXPECT_TRUE(QDir(out).isEmpty());

    const Outcome written = RunVistrel({"--render", out, "--scope", "r", "--probe", "100,100", "--", odd});
    EXPECT_EQ(written.exitCode, 0) << written.err.toStdString();
    EXPECT_TRUE(written.err.isEmpty()) << written.err.toStdString();
    EXPECT_EQ(QImage(out + "/linescope.png").size(), QSize(420, 286));
    EXPECT_EQ(QImage(out + "/vectorscope.png").size(), QSize(256, 266));
}

}  // namespace

namespace {

// A file named on the command line, in the running program.
TEST(CommandLineStart, LoadsTheFileAtOnceWithoutTheAboutBoxAndFailsAsATypedNameWould) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString picture = dir.filePath("named on the line.png");
    ASSERT_TRUE(QImage(40, 30, QImage::Format_RGB32).save(picture));

    testing_support::ScopedFakeDesktop desk;
    vistrel::frmMain window;
    vistrel::StartWith(window, picture);
    EXPECT_TRUE(desk.fake.modalShown.empty());
    EXPECT_EQ(Ctl<QLineEdit>(window, "txtImageFile")->text(), picture);
    EXPECT_TRUE(window.model().loaded());
    EXPECT_EQ(window.model().picture().pixels.width(), 40u);
    EXPECT_EQ(window.windowTitle(), "Vistrel - named on the line.png");
    EXPECT_TRUE(desk.fake.warnings.empty());

    // Without a file the About box comes up as ever, over a window without a picture.
    vistrel::frmMain bare;
    QString titleAtAbout;
    desk.fake.onModal = [&](QDialog&) { titleAtAbout = bare.windowTitle(); };
    vistrel::StartWith(bare, {});
    EXPECT_EQ(desk.fake.modalShown, (std::vector<QString>{"frmAbout"}));
    EXPECT_EQ(titleAtAbout, "Vistrel");

    vistrel::frmMain failing;
    desk.fake.onModal = nullptr;
    const QString missing = dir.filePath("-missing.jpg");
    vistrel::StartWith(failing, missing);
    ASSERT_EQ(desk.fake.warnings.size(), 1u);
    EXPECT_EQ(desk.fake.warnings[0].first, "Could not load " + missing + "\nNot found.");
    EXPECT_EQ(desk.fake.warnings[0].second, QString("Picture Load Error"));
    EXPECT_FALSE(failing.model().loaded());
    EXPECT_EQ(failing.windowTitle(), "Vistrel");
    EXPECT_EQ(Ctl<QLineEdit>(failing, "txtImageFile")->text(), missing);
}

}  // namespace
