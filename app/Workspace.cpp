#include "app/Workspace.h"

#include <QSettings>

#include <iterator>

#include "model/ScopeLines.h"

namespace vistrel {

namespace {

// The store's keys and the words it holds, readable in the file by a person.
constexpr char kLayoutKey[] = "workspace/layout";
constexpr char kGeometryKey[] = "workspace/geometry";
constexpr char kPanelsKey[] = "workspace/panels";
constexpr char kHistogramShownKey[] = "histogram/shown";
constexpr char kHistogramScaleKey[] = "histogram/scale";
constexpr char kHistogramChannelKey[] = "histogram/channel";
// The reference lines as --lines takes them, levels only ("16,235").
constexpr char kScopeLinesKey[] = "linescope/lines";
// The channels' words, in HistogramChannel's order, as --histogram takes them.
constexpr const char* kChannelWords[] = {"r", "g", "b", "y", "parade", "rgb"};
constexpr char kOneWindow[] = "one-window";
constexpr char kSeparateWindows[] = "separate-windows";
constexpr char kLinear[] = "linear";
constexpr char kLog[] = "log";

QString LayoutWord(Layout layout) {
    switch (layout) {
        case Layout::OneWindow: return kOneWindow;
        case Layout::SeparateWindows: return kSeparateWindows;
    }
    return {};
}

QString ScaleWord(HistogramScale scale) {
    switch (scale) {
        case HistogramScale::Linear: return kLinear;
        case HistogramScale::Log: return kLog;
    }
    return {};
}

}  // namespace

Layout DefaultLayout(const QString& platformName) {
    return platformName.startsWith(QLatin1String("wayland")) ? Layout::OneWindow : Layout::SeparateWindows;
}

Workspace ReadWorkspace(const QSettings& store) {
    Workspace workspace;
    const QString layout = store.value(kLayoutKey).toString();
    if (layout == kOneWindow)
        workspace.layout = Layout::OneWindow;
    else if (layout == kSeparateWindows)
        workspace.layout = Layout::SeparateWindows;
    workspace.geometry = store.value(kGeometryKey).toByteArray();
    workspace.panels = store.value(kPanelsKey).toByteArray();
    const QString shown = store.value(kHistogramShownKey).toString();
    workspace.histogramShown = shown == QLatin1String("true");
    workspace.histogramScale =
        store.value(kHistogramScaleKey).toString() == kLog ? HistogramScale::Log : HistogramScale::Linear;
    const QString channel = store.value(kHistogramChannelKey).toString();
    for (int k = 0; k < static_cast<int>(std::size(kChannelWords)); ++k)
        if (channel == QLatin1String(kChannelWords[k])) workspace.histogramChannel = static_cast<HistogramChannel>(k);
    workspace.scopeLines = ParseScopeLines(store.value(kScopeLinesKey).toString()).value_or(std::vector<int>{});
    return workspace;
}

void WriteWorkspace(QSettings& store, const Workspace& workspace) {
    if (workspace.layout)
        store.setValue(kLayoutKey, LayoutWord(*workspace.layout));
    else
        store.remove(kLayoutKey);
    store.setValue(kGeometryKey, workspace.geometry);
    store.setValue(kPanelsKey, workspace.panels);
    store.setValue(kHistogramShownKey, workspace.histogramShown ? QStringLiteral("true") : QStringLiteral("false"));
    store.setValue(kHistogramScaleKey, ScaleWord(workspace.histogramScale));
    store.setValue(kHistogramChannelKey, QLatin1String(kChannelWords[static_cast<int>(workspace.histogramChannel)]));
    if (workspace.scopeLines.empty())
        store.remove(kScopeLinesKey);
    else
        store.setValue(kScopeLinesKey, ScopeLinesText(workspace.scopeLines));
    store.sync();
}

}  // namespace vistrel
