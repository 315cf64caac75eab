#include "app/Render.h"

#include <QDir>
#include <QFileInfo>

#include "app/PictureLoad.h"
#include "app/SaveScopes.h"
#include "app/frmMain.h"
#include "platform/Desktop.h"
#include "platform/Instrument.h"
#include "view/ImageView.h"

namespace vistrel {

namespace {

// The desktop's services without its modal UI: a box that would wait on the user
// is noted instead, so that a headless run can never hang on one.
class HeadlessDesktop : public Desktop {
public:
    QString programFolder() override { return real_.programFolder(); }
    bool fileExists(const QString& path) override { return real_.fileExists(path); }
    bool openDocument(const QString&) override { return false; }
    void warningBox(QWidget*, const QString& text, const QString&) override { lastWarning = text; }
    std::optional<QString> openFileDialog(QWidget*, const OpenFileRequest&) override { return std::nullopt; }
    void showModal(QDialog&) override {}

    QString lastWarning;

private:
    QtDesktop real_;
};

// Installs a desktop for a scope's lifetime, then puts back the one it replaced.
class InstalledDesktop {
public:
    explicit InstalledDesktop(Desktop& replacement) : previous_(&desktop()) { setDesktop(&replacement); }
    ~InstalledDesktop() { setDesktop(previous_); }
    InstalledDesktop(const InstalledDesktop&) = delete;
    InstalledDesktop& operator=(const InstalledDesktop&) = delete;

private:
    Desktop* previous_;
};

}  // namespace

void LoadAsTyped(frmMain& window, const QString& path) { window.LoadFile(path); }

namespace {

// The folders of the path that do not exist yet, deepest first.
QStringList MissingFolders(const QString& folder) {
    QStringList missing;
    for (QString path = QDir::cleanPath(QDir(folder).absolutePath()); !QFileInfo::exists(path);
         path = QFileInfo(path).path())
        missing.append(path);
    return missing;
}

// Takes away the folders a render made, deepest first, as long as they are empty.
void RemoveFolders(const QStringList& made) {
    for (const QString& path : made)
        if (!QDir().rmdir(path)) return;
}

}  // namespace

QString RegionOutside(const korvex::PixelRect& region, int width, int height) {
    return QStringLiteral("The region %1,%2,%3,%4 does not lie wholly inside the %5 x %6 picture")
        .arg(region.x)
        .arg(region.y)
        .arg(region.width)
        .arg(region.height)
        .arg(width)
        .arg(height);
}

RenderResult RenderInstruments(const QString& folder, const QString& file, const Settings& settings,
                               std::optional<QPoint> probe, std::optional<korvex::PixelRect> region,
                               const QString& reference) {
    // A folder that does not exist is made (as mkdir -p would) once there is something to
    // write into it, so that a picture that fails leaves nothing behind.
    const QStringList missing = MissingFolders(folder);
    const QFileInfo output(folder);
    if (missing.isEmpty() && (!output.isDir() || !output.isWritable()))
        return {2, QStringLiteral("Cannot write into the folder %1").arg(folder)};

    HeadlessDesktop headless;
    const InstalledDesktop installed(headless);
    frmMain window;
    // The view is written as fitted at the design's size, whatever the screen's ratio.
    window.imageView()->KeepDesignRatio();
    window.start();

    // The settings are in place before the load, which then draws with them once.
    window.ApplySettings(settings);
    if (!reference.isEmpty()) {
        window.LoadFile(reference);
        if (!window.model().loaded())
            return {1, "Could not load " + reference + ": " + FailureReason(window.lastLoadFailure(), reference)};
        window.HoldReference();
    }
    window.LoadFile(file);
    if (!window.model().loaded())
        return {1, "Could not load " + file + ": " + FailureReason(window.lastLoadFailure(), file)};

    if (probe) {
        const QPoint pixel = *probe;
        const auto width = static_cast<int>(window.model().picture().pixels.width());
        const auto height = static_cast<int>(window.model().picture().pixels.height());
        if (pixel.x() >= width || pixel.y() >= height)
            return {2, QStringLiteral("The probe %1,%2 lies outside the %3 x %4 picture")
                           .arg(pixel.x())
                           .arg(pixel.y())
                           .arg(width)
                           .arg(height)};
        window.LockProbeAt(pixel.x(), pixel.y());
    }
    if (region) {
        const auto width = static_cast<int>(window.model().picture().pixels.width());
        const auto height = static_cast<int>(window.model().picture().pixels.height());
        if (!window.SetRegionAt(*region)) return {2, RegionOutside(*region, width, height)};
    }

    if (!missing.isEmpty() && !QDir().mkpath(folder)) {
        RemoveFolders(missing);
        return {2, QStringLiteral("Cannot create the folder %1").arg(folder)};
    }
    // Each instrument's image, then the view's picture inside its one-pixel frame, at the
    // size the design's window fits it to; a failure takes back what was written.
    const std::vector<Instrument*>& instruments = window.workspace().instruments();
    QStringList written;
    for (std::size_t i = 0; i <= instruments.size(); ++i) {
        const bool view = i == instruments.size();
        if (!view && !ImageWrittenFor(kInstruments[i], window.model())) continue;
        const QString path = QDir(folder).filePath(view ? kViewImage : kInstruments[i].image);
        const QImage image = view ? window.imageView()->picImg->surface().image() : InstrumentImage(*instruments[i]);
        if (!WritePngFile(image, path)) {
            for (const QString& done : written) QFile::remove(done);
            RemoveFolders(missing);
            return {2, "Cannot write " + path};
        }
        written.append(path);
    }
    return {0, {}};
}

}  // namespace vistrel
