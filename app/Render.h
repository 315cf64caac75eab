#pragma once
// Drawing the instruments without a screen: the real main window loads the
// picture and sets the instrument windows' controls, and each window's client
// area is written out as the window would show it.

#include <QImage>
#include <QString>

#include "app/CommandLine.h"
#include "app/SaveScopes.h"

class QWidget;

namespace vistrel {

class frmMain;

// The picture loaded as if typed into the file-name box and Load pressed.
void LoadAsTyped(frmMain& window, const QString& path);

// The message for a region that does not lie wholly inside a width x height picture.
QString RegionOutside(const korvex::PixelRect& region, int width, int height);

struct RenderResult {
    int exitCode = 0;  // 0 written, 1 the picture did not load, 2 a bad option
    QString message;   // for stderr when the exit code is not 0
};

// Loads `file`, sets the instruments as `settings` say (with the probe locked at that
// full-size pixel, and counting only the region of interest, when given) and writes their
// images, and the picture view's, into `folder`, made with its missing parents once the
// picture has loaded; writes nothing, and makes no folder, unless everything succeeds.
// With a reference, that picture is loaded first and held as the reference (File > Hold
// as Reference), so that its traces show under the file's; a reference that does not
// load fails as the file would. Needs a QApplication; shows no modal box.
RenderResult RenderInstruments(const QString& folder, const QString& file, const Settings& settings,
                               std::optional<QPoint> probe = {}, std::optional<korvex::PixelRect> region = {},
                               const QString& reference = {});

}  // namespace vistrel
