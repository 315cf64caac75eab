#include "app/SavedWorkspace.h"

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
// An array of bands, each its levels, its colour as #RRGGBB and its name; and a level.
constexpr char kBandsKey[] = "falsecolour/bands";
constexpr char kBandsSizeKey[] = "falsecolour/bands/size";
constexpr char kLowKey[] = "low";
constexpr char kHighKey[] = "high";
constexpr char kColourKey[] = "colour";
constexpr char kNameKey[] = "name";
constexpr char kZebraLevelKey[] = "zebra/level";
constexpr char kChromaticityShownKey[] = "chromaticity/shown";
constexpr char kNitsScaleKey[] = "hdr/nits-scale";
// Absent until the user shows or hides the raw histogram.
constexpr char kRawHistogramShownKey[] = "rawhistogram/shown";
constexpr char kRawHistogramAxisKey[] = "rawhistogram/axis";
constexpr char kRawHistogramScaleKey[] = "rawhistogram/scale";
constexpr int kTopLevel = 255;
constexpr char kOneWindow[] = "one-window";
constexpr char kSeparateWindows[] = "separate-windows";
constexpr char kLinear[] = "linear";
constexpr char kLog[] = "log";
constexpr char kEv[] = "ev";
constexpr char kTrue[] = "true";
constexpr char kFalse[] = "false";

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

QString AxisWord(RawHistogramAxis axis) {
    switch (axis) {
        case RawHistogramAxis::Linear: return kLinear;
        case RawHistogramAxis::Ev: return kEv;
    }
    return {};
}

// The bands the store holds, as QSettings keeps an array (entries numbered from 1); the
// default bands when they are missing or any of them does not read as a band (an empty
// set, kept as such, reads as empty).
std::vector<FalseColourBand> ReadBands(const QSettings& store) {
    bool sizeRead = false;
    const int size = store.value(kBandsSizeKey).toString().toInt(&sizeRead, 10);
    if (!sizeRead || size < 0 || size > static_cast<int>(korvex::kMaxLumaBands)) return DefaultFalseColourBands();
    std::vector<FalseColourBand> bands;
    for (int k = 1; k <= size; ++k) {
        const QString entry = QStringLiteral("%1/%2/").arg(QLatin1String(kBandsKey)).arg(k);
        bool lowRead = false, highRead = false, colourRead = false;
        const int low = store.value(entry + kLowKey).toString().toInt(&lowRead, 10);
        const int high = store.value(entry + kHighKey).toString().toInt(&highRead, 10);
        const QString colour = store.value(entry + kColourKey).toString();
        const std::uint32_t rgb =
            colour.startsWith('#') && colour.size() == 7 ? colour.mid(1).toUInt(&colourRead, 16) : 0u;
        if (!lowRead || !highRead || !colourRead) return DefaultFalseColourBands();
        bands.push_back({low, high, rgb, store.value(entry + kNameKey).toString()});
    }
    return ValidBands(bands) ? bands : DefaultFalseColourBands();
}

void WriteBands(QSettings& store, const std::vector<FalseColourBand>& bands) {
    store.remove(kBandsKey);
    store.beginWriteArray(kBandsKey, static_cast<int>(bands.size()));
    for (int k = 0; k < static_cast<int>(bands.size()); ++k) {
        const FalseColourBand& band = bands[static_cast<std::size_t>(k)];
        store.setArrayIndex(k);
        store.setValue(kLowKey, band.low);
        store.setValue(kHighKey, band.high);
        store.setValue(kColourKey, QStringLiteral("#%1").arg(band.colour & 0xFFFFFFu, 6, 16, QLatin1Char('0')).toUpper());
        store.setValue(kNameKey, band.name);
    }
    store.endArray();
}

}  // namespace

Layout DefaultLayout(const QString& platformName) {
    return platformName.startsWith(QLatin1String("wayland")) ? Layout::OneWindow : Layout::SeparateWindows;
}

SavedWorkspace ReadWorkspace(const QSettings& store) {
    SavedWorkspace workspace;
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
    workspace.falseColourBands = ReadBands(store);
    bool levelRead = false;
    const int level = store.value(kZebraLevelKey).toString().toInt(&levelRead, 10);
    if (levelRead && level >= 0 && level <= kTopLevel) workspace.zebraLevel = level;
    workspace.chromaticityShown = store.value(kChromaticityShownKey).toString() == QLatin1String("true");
    workspace.nitsScale = store.value(kNitsScaleKey).toString() == QLatin1String("true");
    const QString rawShown = store.value(kRawHistogramShownKey).toString();
    if (rawShown == QLatin1String(kTrue) || rawShown == QLatin1String(kFalse))
        workspace.rawHistogramShown = rawShown == QLatin1String(kTrue);
    workspace.rawHistogramAxis =
        store.value(kRawHistogramAxisKey).toString() == kEv ? RawHistogramAxis::Ev : RawHistogramAxis::Linear;
    workspace.rawHistogramScale =
        store.value(kRawHistogramScaleKey).toString() == kLog ? HistogramScale::Log : HistogramScale::Linear;
    return workspace;
}

void WriteWorkspace(QSettings& store, const SavedWorkspace& workspace) {
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
    WriteBands(store, workspace.falseColourBands);
    store.setValue(kZebraLevelKey, workspace.zebraLevel);
    store.setValue(kChromaticityShownKey, workspace.chromaticityShown ? QStringLiteral("true") : QStringLiteral("false"));
    store.setValue(kNitsScaleKey, workspace.nitsScale ? QStringLiteral("true") : QStringLiteral("false"));
    if (workspace.rawHistogramShown)
        store.setValue(kRawHistogramShownKey, QLatin1String(*workspace.rawHistogramShown ? kTrue : kFalse));
    else
        store.remove(kRawHistogramShownKey);
    store.setValue(kRawHistogramAxisKey, AxisWord(workspace.rawHistogramAxis));
    store.setValue(kRawHistogramScaleKey, ScaleWord(workspace.rawHistogramScale));
    store.sync();
}

}  // namespace vistrel
