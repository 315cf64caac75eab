#pragma once
// The workspace the program remembers between runs: the layout (one window holding the
// picture view and the instruments as panels, or the instruments as separate windows),
// the one window's size and its panels' sizes and arrangement, the histogram's and the raw
// histogram's state and the line scope's reference lines.
// Plain data, read from and written to a QSettings store; the program keeps it in the
// user's configuration folder.

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

#include "model/Settings.h"

class QSettings;

namespace vistrel {

enum class Layout { OneWindow, SeparateWindows };

// On Wayland no program may place or stack its own windows, so separate instruments
// would pile up wherever the compositor puts them: there the one window is the default.
// Elsewhere (X11) the separate borderless windows are.
Layout DefaultLayout(const QString& platformName);

struct SavedWorkspace {
    std::optional<Layout> layout;  // none remembered: the platform's default
    QByteArray geometry;           // the one window's size and place (QWidget::saveGeometry)
    QByteArray panels;             // its panels' sizes and arrangement (QMainWindow::saveState)
    bool histogramShown = false;
    HistogramScale histogramScale = HistogramScale::Linear;
    HistogramChannel histogramChannel = HistogramChannel::Rgb;
    std::vector<int> scopeLines;  // the line scope's reference lines, as levels
    // The view's false-colour bands and zebra level, as the bands dialog left them.
    std::vector<FalseColourBand> falseColourBands = DefaultFalseColourBands();
    int zebraLevel = kDefaultZebraLevel;
    bool chromaticityShown = false;
    bool nitsScale = false;  // Tools > Colour > Nits Scale
    // The raw histogram shown or hidden by the user; none when they never did, and the one
    // window shows it by itself for camera raw files. Its axis and its count scale.
    std::optional<bool> rawHistogramShown;
    RawHistogramAxis rawHistogramAxis = RawHistogramAxis::Linear;
    HistogramScale rawHistogramScale = HistogramScale::Linear;

    bool operator==(const SavedWorkspace&) const = default;
};

// What the store holds; a value that is missing or not understood reads as the default.
SavedWorkspace ReadWorkspace(const QSettings& store);
void WriteWorkspace(QSettings& store, const SavedWorkspace& workspace);

// The layout to start in: the remembered one, else the platform's default.
inline Layout StartLayout(const SavedWorkspace& workspace, const QString& platformName) {
    return workspace.layout.value_or(DefaultLayout(platformName));
}

}  // namespace vistrel
