#pragma once
// The command line: `vistrel [OPTIONS] [FILE]`, read before any window exists,
// so that --help, --version and a bad option need no display.

#include <QPoint>
#include <QString>
#include <QStringList>

#include <optional>

#include "kernels/region.h"
#include "model/Settings.h"

namespace vistrel {

// Stats: --stats, with --render too when renderFolder is set.
enum class CommandAction { Run, Render, Stats, Help, Version, Error };

struct CommandLine {
    CommandAction action = CommandAction::Run;
    QString file;          // the picture to load; may be empty for Run
    QStringList files;     // the pictures --stats reads, in order
    QString renderFolder;  // where --render writes its images
    Settings settings;     // as the options set them; the rest as the windows start
    std::optional<QPoint> probe;  // --probe: a locked probe at this full-size pixel
    QString reference;     // --reference: the picture held as the reference before FILE loads
    std::optional<korvex::PixelRect> region;  // --region: what the instruments and the numbers count
    bool rawHistogram = false;  // --raw-histogram: a camera raw's photosites' histogram in --stats' line
    QString text;          // the help or version text, or what is wrong
};

// Reads the arguments, the program's own path first.
CommandLine ParseCommandLine(const QStringList& arguments);

// Whether a window can open: false when the platform is the window system's (X11 or
// Wayland, or none named, which picks one of them) and neither display is set.
bool DisplayReachable(const QByteArray& platform, const QByteArray& x11Display, const QByteArray& waylandDisplay);

class frmMain;

// The start-up sequence, then `file` (if any) loaded as if typed into the file-name
// box and Load pressed; with a file, the start-up's About box is left out.
void StartWith(frmMain& window, const QString& file);

// The whole program: reads the command line, then opens the windows, renders
// headless or prints. Returns the exit code: 0, 1 (a picture that does not
// load under --render or --stats) or 2 (bad options, or no display for the windows).
int RunProgram(int argc, char* argv[]);

}  // namespace vistrel
