#include "app/CommandLine.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#include "app/Render.h"
#include "app/Stats.h"
#include "app/SavedWorkspace.h"
#include "app/frmMain.h"
#include "model/ScopeLines.h"
#include "decoding/worker/ReaderMessages.h"
#include "decoding/worker/WorkerClient.h"
#include "platform/Desktop.h"
#include "vistrel_version.h"

namespace vistrel {

namespace {

// The desktop entry's name without ".desktop": lets the desktop match our windows to it.
constexpr char kDesktopId[] = "io.github.vistrel.Vistrel";

// --scope's names, in the order of the line scope's channel options.
const QStringList kScopeNames = {"r", "g", "b", "y", "parade"};
// --histogram's names, in the order of HistogramChannel.
const QStringList kHistogramNames = {"r", "g", "b", "y", "parade", "rgb"};

std::optional<int> WholeNumber(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok) return std::nullopt;
    return value;
}

CommandLine Failed(QString reason) {
    CommandLine line;
    line.action = CommandAction::Error;
    line.text = std::move(reason);
    return line;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Line scope (waveform monitor), vectorscope and histogram for still pictures.\n"
        "Reads GIF, BMP, JPEG, PNG, TIFF, WebP, HEIC, AVIF, JPEG XL, icons and Windows metafiles.\n"
        "With FILE, loads it at once.\n"
        "With --render, draws the three instruments without a window and writes\n"
        "DIR/linescope.png, DIR/vectorscope.png and DIR/histogram.png, and the picture\n"
        "view as the window shows it in DIR/view.png; with --reference REF, REF's traces\n"
        "under FILE's.\n"
        "With --stats, prints one line of JSON per FILE, in order, without a window:\n"
        "size, luma standard, colour space, and for R, G, B and Y the min, max, mean,\n"
        "median, p1, p99 and the pixels at 0 and at 255. Every file with more than\n"
        "1 % of its pixels clipped in the highlights of Y, for instance:\n"
        "  vistrel --stats -- *.jpg | jq -r 'select(.channels.Y.at_255 > 0.01 * .width * .height) | .file'");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption render("render", "Write the instruments' images into the folder <dir> (made if missing).",
                                    "dir");
    const QCommandLineOption scope("scope", "Line scope channel: r, g, b, y or parade (default).", "channel");
    const QCommandLineOption histogram(
        "histogram", "Histogram channel: r, g, b, y, parade, or rgb (default: the three overlaid).", "channel");
    const QCommandLineOption vertical("vertical", "Line scope plotted against vertical position.");
    const QCommandLineOption scaleFront("scale-front", "Line scope graticule in front of the trace.");
    const QCommandLineOption lamp(
        "lamp", QStringLiteral("Scale brightness, 0 to %1 (default %2).").arg(kLampMax).arg(kDefaultLamp), "level");
    const QCommandLineOption zoom("zoom",
                                  QStringLiteral("Vectorscope zoom, %1 to %2, %3 being 1.0 (default %4).")
                                      .arg(kZoomMin)
                                      .arg(kZoomMax)
                                      .arg(kZoomUnity)
                                      .arg(kDefaultZoom),
                                  "value");
    const QCommandLineOption probe("probe", "Lock the probe at full-size pixel X,Y (with --stats: add its values).",
                                   "x,y");
    const QCommandLineOption region(
        "region", "Count only the rectangle of full-size pixels W x H at X,Y (with --stats: add it).", "x,y,w,h");
    const QCommandLineOption luma("luma", "Luma and colour differences after Rec. 601 (default) or 709.", "601|709");
    const QCommandLineOption skinLine("skin-line", "Vectorscope graticule with the skin-tone line.");
    const QCommandLineOption stats("stats", "Print each FILE's numbers as one line of JSON (JSON Lines).");
    const QCommandLineOption colour("colour",
                                    "A picture whose file says its colours are not sRGB's: converted to sRGB\n"
                                    "(convert, the default) or its numbers as stored (stored).",
                                    "convert|stored");
    const QCommandLineOption reference("reference",
                                       "Hold the picture REF as the reference: the instruments draw its traces "
                                       "under FILE's, in a dim cyan.",
                                       "ref");
    const QCommandLineOption trace(
        "trace",
        QStringLiteral("Trace brightness of the waveform and the vectorscope: 0 draws every hit "
                       "at full colour (default); 1 to %1 a density display, its gain doubling "
                       "at each step.")
            .arg(kTraceMax),
        "level");
    const QCommandLineOption lines("lines",
                                   "Line scope reference lines, dotted, at these levels: 0 to 255 or "
                                   "shares of full scale, separated by commas (16,235 or 5%,95%).",
                                   "levels");
    const QCommandLineOption falseColour("false-colour",
                                         "The view in false colour: its luma bands in their colours, other levels grey.");
    const QCommandLineOption zebra(
        "zebra", QStringLiteral("Zebra stripes on the view where Y is at or above <level>, 0 to 255 (%1 is usual).")
                     .arg(kDefaultZebraLevel),
        "level");
    const QCommandLineOption rawClipping("raw-clipping",
                                         "The view marked where a camera raw's photosites reach the white level, "
                                         "in their channel's colour.");
    const QCommandLineOption rawAxis("raw-axis",
                                     "Raw histogram axis: raw values (linear, the default) or stops below the "
                                     "white level (ev).",
                                     "linear|ev");
    const QCommandLineOption rawLog("raw-log", "Raw histogram counts on a logarithmic scale.");
    const QCommandLineOption rawHistogram("raw-histogram",
                                          "With --stats: a camera raw's photosites counted in bins, per channel.");
    const QCommandLineOption renderOnly[] = {scope, histogram, vertical,    scaleFront, lamp,    zoom,  skinLine, reference,
                                             trace, lines,     falseColour, zebra,      rawClipping, rawAxis, rawLog};
    // Taken by --stats as well as by --render.
    const QCommandLineOption shared[] = {probe, luma, colour, region};
    parser.addOption(render);
    parser.addOption(stats);
    for (const QCommandLineOption& option : renderOnly)
        parser.addOption(option);
    for (const QCommandLineOption& option : shared)
        parser.addOption(option);
    parser.addOption(rawHistogram);
    parser.addPositionalArgument("file", "The picture to load; --stats takes several.", "[FILE...]");

    if (!parser.parse(arguments)) return Failed(parser.errorText());

    CommandLine line;
    if (parser.isSet(help) || parser.isSet("help-all")) {
        line.action = CommandAction::Help;
        line.text = parser.helpText();
        return line;
    }
    if (parser.isSet(version)) {
        line.action = CommandAction::Version;
        line.text = QStringLiteral("Vistrel %1.%2.%3")
                        .arg(VISTREL_VERSION_MAJOR)
                        .arg(VISTREL_VERSION_MINOR)
                        .arg(VISTREL_VERSION_PATCH);
        return line;
    }

    const QStringList files = parser.positionalArguments();
    const bool rendering = parser.isSet(render);
    const bool counting = parser.isSet(stats);
    if (files.size() > 1 && counting && rendering) return Failed("--render with --stats takes one FILE.");
    if (files.size() > 1 && !counting)
        return Failed("Only one FILE may be given; put -- before a name that begins with a dash.");
    if (!files.isEmpty()) line.file = files.front();

    if (!rendering) {
        for (const QCommandLineOption& option : renderOnly)
            if (parser.isSet(option)) return Failed(QStringLiteral("--%1 needs --render.").arg(option.names().front()));
        if (!counting) {
            for (const QCommandLineOption& option : shared)
                if (parser.isSet(option))
                    return Failed(QStringLiteral("--%1 needs --render or --stats.").arg(option.names().front()));
        }
    }
    if (parser.isSet(rawHistogram) && !counting) return Failed("--raw-histogram needs --stats.");
    if (!rendering && !counting) return line;

    if (counting) {
        line.action = CommandAction::Stats;
        line.files = files;
        if (files.isEmpty()) return Failed("--stats needs at least one FILE.");
    } else {
        line.action = CommandAction::Render;
    }
    if (rendering) {
        line.renderFolder = parser.value(render);
        if (line.renderFolder.isEmpty()) return Failed("--render needs a folder.");
        if (line.file.isEmpty()) return Failed("--render needs a FILE.");
    }
    Settings& settings = line.settings;
    if (parser.isSet(scope)) {
        const auto index = kScopeNames.indexOf(parser.value(scope).toLower());
        if (index < 0) return Failed(QStringLiteral("--scope takes r, g, b, y or parade, not '%1'.").arg(parser.value(scope)));
        settings.scopeChannel = static_cast<ScopeChannel>(index);
    }
    if (parser.isSet(histogram)) {
        const auto index = kHistogramNames.indexOf(parser.value(histogram).toLower());
        if (index < 0)
            return Failed(QStringLiteral("--histogram takes r, g, b, y, parade or rgb, not '%1'.")
                              .arg(parser.value(histogram)));
        settings.histogramChannel = static_cast<HistogramChannel>(index);
    }
    if (parser.isSet(vertical)) settings.orientation = ScopeOrientation::Vertical;
    if (parser.isSet(scaleFront)) settings.scale = ScalePlacement::InFront;
    if (parser.isSet(lamp)) {
        const auto value = WholeNumber(parser.value(lamp));
        if (!value || *value < 0 || *value > kLampMax)
            return Failed(QStringLiteral("--lamp takes a whole number from 0 to %1, not '%2'.")
                              .arg(kLampMax)
                              .arg(parser.value(lamp)));
        settings.lamp = *value;
    }
    if (parser.isSet(zoom)) {
        const auto value = WholeNumber(parser.value(zoom));
        if (!value || *value < kZoomMin || *value > kZoomMax)
            return Failed(QStringLiteral("--zoom takes a whole number from %1 to %2, not '%3'.")
                              .arg(kZoomMin)
                              .arg(kZoomMax)
                              .arg(parser.value(zoom)));
        settings.zoom = *value;
    }
    if (parser.isSet(probe)) {
        const QStringList parts = parser.value(probe).split(',');
        const auto x = parts.size() == 2 ? WholeNumber(parts[0]) : std::nullopt;
        const auto y = parts.size() == 2 ? WholeNumber(parts[1]) : std::nullopt;
        if (!x || !y || *x < 0 || *y < 0)
            return Failed(QStringLiteral("--probe takes a pixel as X,Y (two whole numbers from 0), not '%1'.")
                              .arg(parser.value(probe)));
        line.probe = QPoint(*x, *y);
    }
    if (parser.isSet(region)) {
        const QStringList parts = parser.value(region).split(',');
        std::optional<int> numbers[4];
        if (parts.size() == 4)
            for (int k = 0; k < 4; ++k) numbers[k] = WholeNumber(parts[k]);
        const bool whole = std::all_of(std::begin(numbers), std::end(numbers), [](const std::optional<int>& n) { return n.has_value(); });
        if (!whole || *numbers[0] < 0 || *numbers[1] < 0 || *numbers[2] < 1 || *numbers[3] < 1)
            return Failed(QStringLiteral("--region takes a rectangle as X,Y,W,H (whole numbers, X and Y from 0, W and H "
                                         "from 1), not '%1'.")
                              .arg(parser.value(region)));
        line.region = korvex::PixelRect{static_cast<std::size_t>(*numbers[0]), static_cast<std::size_t>(*numbers[1]),
                                        static_cast<std::size_t>(*numbers[2]), static_cast<std::size_t>(*numbers[3])};
    }
    if (parser.isSet(luma)) {
        const QString value = parser.value(luma);
        if (value == "709")
            settings.luma = korvex::LumaStandard::Rec709;
        else if (value != "601")
            return Failed(QStringLiteral("--luma takes 601 or 709, not '%1'.").arg(value));
    }
    settings.skinLine = parser.isSet(skinLine);
    if (parser.isSet(reference)) {
        line.reference = parser.value(reference);
        if (line.reference.isEmpty()) return Failed("--reference needs a picture.");
    }
    if (parser.isSet(trace)) {
        const auto value = WholeNumber(parser.value(trace));
        if (!value || *value < kTraceFlat || *value > kTraceMax)
            return Failed(QStringLiteral("--trace takes a whole number from %1 to %2, not '%3'.")
                              .arg(QString::number(kTraceFlat), QString::number(kTraceMax), parser.value(trace)));
        settings.trace = *value;
    }
    if (parser.isSet(lines)) {
        const auto levels = ParseScopeLines(parser.value(lines));
        if (!levels)
            return Failed(QStringLiteral("--lines takes levels from 0 to 255 or shares from 0% to 100%, at most %1, "
                                         "separated by commas, not '%2'.")
                              .arg(QString::number(kMaxScopeLines), parser.value(lines)));
        settings.scopeLines = *levels;
    }
    settings.falseColour = parser.isSet(falseColour);
    settings.rawClipping = parser.isSet(rawClipping);
    if (parser.isSet(rawAxis)) {
        const QString value = parser.value(rawAxis);
        if (value == "ev")
            settings.rawHistogramAxis = RawHistogramAxis::Ev;
        else if (value != "linear")
            return Failed(QStringLiteral("--raw-axis takes linear or ev, not '%1'.").arg(value));
    }
    if (parser.isSet(rawLog)) settings.rawHistogramScale = HistogramScale::Log;
    line.rawHistogram = parser.isSet(rawHistogram);
    if (parser.isSet(zebra)) {
        const auto value = WholeNumber(parser.value(zebra));
        if (!value || *value < 0 || *value > 255)
            return Failed(QStringLiteral("--zebra takes a whole number from 0 to 255, not '%1'.").arg(parser.value(zebra)));
        settings.zebra = true;
        settings.zebraLevel = *value;
    }
    if (parser.isSet(colour)) {
        const QString value = parser.value(colour);
        if (value == "stored")
            settings.colour = ColourHandling::StoredValues;
        else if (value != "convert")
            return Failed(QStringLiteral("--colour takes convert or stored, not '%1'.").arg(value));
    }
    return line;
}

namespace {

void Print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

QtMessageHandler standardHandler = nullptr;

// The headless platform reports each window operation it cannot carry out, and
// Qt notes a missing runtime folder (as under cron); a script reading stderr
// wants only the outcome.
void QuietHeadless(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith("This plugin does not support") || message.startsWith("QStandardPaths: XDG_RUNTIME_DIR"))
        return;
    if (standardHandler != nullptr) standardHandler(type, context, message);
}

// A command's end once all it writes is written: the application is not torn down, since
// its teardown would only read the whole font configuration (Qt's font database reads it
// to free it), tens of milliseconds a script pays for every file, and nothing else of it
// outlives the process.
[[noreturn]] void ExitNow(int code) {
    EndWorkers();
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(code);
}

int Render(int argc, char* argv[], const CommandLine& line) {
    // No display is needed or looked for: Qt's own headless platform draws the windows.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    standardHandler = qInstallMessageHandler(QuietHeadless);
    // The decoder gets ready while the windows are built.
    KeepWorkersReadyFor(line.reference.isEmpty() ? 1 : 2);
    QApplication application(argc, argv);
    const RenderResult result =
        RenderInstruments(line.renderFolder, line.file, line.settings, line.probe, line.region,
                          line.reference);
    KeepWorkerReady(false);
    if (result.exitCode != 0) Print(stderr, result.message + "\n");
    ExitNow(result.exitCode);
}

int Stats(int argc, char* argv[], const CommandLine& line) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    standardHandler = qInstallMessageHandler(QuietHeadless);
    // One decoder waits between the files, as the window keeps one between loads, and
    // none after the last.
    KeepWorkersReadyFor(static_cast<int>(line.files.size()) + (line.renderFolder.isEmpty() ? 0 : 1) +
                        (line.reference.isEmpty() ? 0 : 1));
    QApplication application(argc, argv);
    int code = WriteStatistics(line.files, line.settings, line.probe, stdout, line.region, line.rawHistogram);
    if (!line.renderFolder.isEmpty()) {
        const RenderResult result =
            RenderInstruments(line.renderFolder, line.file, line.settings, line.probe, line.region,
                              line.reference);
        if (result.exitCode != 0) Print(stderr, result.message + "\n");
        code = std::max(code, result.exitCode);
    }
    KeepWorkerReady(false);
    ExitNow(code);
}

// While the application starts: Qt ends the program (abort, exit 134) when no platform
// plugin can start, as when the display named cannot be reached. That is said plainly
// instead, and the program exits 2 as for any start-up it cannot make.
void RefuseUnreachableDisplay(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        if (standardHandler != nullptr) standardHandler(type, context, message);
        return;
    }
    const auto named = [](const char* variable) {
        const QByteArray value = qgetenv(variable);
        return QStringLiteral("%1=%2").arg(QLatin1String(variable),
                                          value.isEmpty() ? QStringLiteral("(not set)") : QString::fromLocal8Bit(value));
    };
    Print(stderr, QStringLiteral("vistrel: could not open a window: the display could not be reached, or no window "
                                 "system plugin could start on it (%1, %2, %3).\n"
                                 "Without a display, 'vistrel --render DIR FILE' writes the instruments as PNG "
                                 "images; see 'vistrel --help'.\n")
                      .arg(named("WAYLAND_DISPLAY"), named("DISPLAY"), named("QT_QPA_PLATFORM")));
    std::_Exit(2);
}

int Run(int argc, char* argv[], const CommandLine& line) {
    // Without a display Qt would abort with advice to reinstall the program.
    if (!DisplayReachable(qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY"))) {
        Print(stderr,
              "vistrel: there is no display to open the windows on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
              "Without one, 'vistrel --render DIR FILE' writes the three instruments as PNG images\n"
              "and 'vistrel --stats FILE...' prints each picture's numbers as JSON; see 'vistrel --help'.\n");
        return 2;
    }
    standardHandler = qInstallMessageHandler(RefuseUnreachableDisplay);
    // A screen of 1.5 device pixels to the pixel is taken as it is, not rounded to 2: the
    // instruments place their rasters on its device pixels themselves.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication application(argc, argv);
    qInstallMessageHandler(standardHandler);
    WatchKeysDown(application);
    // A decoder stays ready from start-up, so that no load waits for one to start.
    KeepWorkerReady(true);
    QGuiApplication::setDesktopFileName(kDesktopId);
    // The workspace as the user left it, in the user's configuration folder.
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("vistrel"),
                    QStringLiteral("vistrel"));
    frmMain window;
    window.workspace().Remember(ReadWorkspace(store), [&store](const SavedWorkspace& workspace) {
        WriteWorkspace(store, workspace);
    });
    StartWith(window, line.file);
    // Closed while the start-up's About box was up, before the event loop ran: nothing
    // is left to wait for (the loop would run on with no window).
    const int code = window.isVisible() ? application.exec() : 0;
    EndWorkers();
    return code;
}

}  // namespace

bool DisplayReachable(const QByteArray& platform, const QByteArray& x11Display, const QByteArray& waylandDisplay) {
    // The platform name may carry options after a colon ("xcb:nograb").
    const QByteArray name = platform.left(platform.indexOf(':') < 0 ? platform.size() : platform.indexOf(':'));
    if (name == "xcb") return !x11Display.isEmpty();
    if (name.startsWith("wayland")) return !waylandDisplay.isEmpty();
    if (!name.isEmpty()) return true;  // offscreen, vnc, eglfs...: no display server needed
    return !x11Display.isEmpty() || !waylandDisplay.isEmpty();
}

void StartWith(frmMain& window, const QString& file) {
    // A picture asked for (as "Open With" does) is what the user wants to see first.
    window.start(file.isEmpty() ? frmMain::AboutBox::Shown : frmMain::AboutBox::Skipped);
    if (!file.isEmpty()) LoadAsTyped(window, file);
}

int RunProgram(int argc, char* argv[]) {
    QuietPictureReaders();
    CommandLine line;
    {
        // Reading the arguments needs no display, so --help and --version work without one.
        QCoreApplication reader(argc, argv);
        line = ParseCommandLine(QCoreApplication::arguments());
    }
    switch (line.action) {
        case CommandAction::Help:
            Print(stdout, line.text);
            return 0;
        case CommandAction::Version:
            Print(stdout, line.text + "\n");
            return 0;
        case CommandAction::Error:
            Print(stderr, "vistrel: " + line.text + "\nTry 'vistrel --help' for more information.\n");
            return 2;
        case CommandAction::Render:
            return Render(argc, argv, line);
        case CommandAction::Stats:
            return Stats(argc, argv, line);
        case CommandAction::Run:
            return Run(argc, argv, line);
    }
    return 2;
}

}  // namespace vistrel
