#include "app/Render.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include <cassert>

#include "app/PictureLoad.h"
#include "app/SaveScopes.h"
#include "app/frmMain.h"
#include "linescope/frmScope.h"
#include "platform/Desktop.h"
#include "platform/Input.h"
#include "platform/Numbers.h"
#include "vectorscope/frmVector.h"

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

template <typename Control>
Control& ControlOf(QWidget& window, const QString& name) {
    auto* control = window.findChild<Control*>(name);
    assert(control != nullptr);
    return *control;
}

// Clicks a button as the user would, when that changes its state.
void ClickTo(QAbstractButton& button, bool checked) {
    if (button.isChecked() != checked) button.click();
}

// The probe locked at a full-size pixel as a Ctrl+click there locks it. A click
// reaches only the pixels that some view position stands for; any other is
// reached with the crosshair bars, and the vectorscope keeps only its marker.
void LockProbe(frmMain& window, QPoint pixel) {
    const float x = static_cast<float>(nearestInt(pixel.x() / static_cast<double>(window.ScaleX)));
    const float y = static_cast<float>(nearestInt(pixel.y() / static_cast<double>(window.ScaleY)));
    window.picImg_MouseDown(kLeftButton, kCtrlKey, x, y);
    window.picImg_MouseUp(kLeftButton, kCtrlKey, x, y);
    if (window.hscrCross->value() == pixel.x() && window.vscrCross->value() == pixel.y()) return;
    window.hscrCross->setValue(pixel.x());
    window.vscrCross->setValue(pixel.y());
    // A right-click on the vectorscope clears the markers the path left behind.
    window.vectorWindow()->Form_MouseUp(kRightButton, 0, 0.0f, 0.0f);
    window.ShowProbe(pixel.x(), pixel.y());
}

}  // namespace

void LoadAsTyped(frmMain& window, const QString& path) {
    window.txtImageFile->setText(path);
    window.cmdLoadPic->click();
}

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

RenderResult RenderInstruments(const QString& folder, const QString& file, const RenderSettings& settings) {
    // A folder that does not exist is made (as mkdir -p would) once there is something to
    // write into it, so that a picture that fails leaves nothing behind.
    const QStringList missing = MissingFolders(folder);
    const QFileInfo output(folder);
    if (missing.isEmpty() && (!output.isDir() || !output.isWritable()))
        return {2, QStringLiteral("Cannot write into the folder %1").arg(folder)};

    HeadlessDesktop headless;
    const InstalledDesktop installed(headless);
    frmMain window;
    window.start();
    frmScope& scope = *window.scopeWindow();
    frmVector& vector = *window.vectorWindow();

    // The controls are set before the load, which then draws with them once.
    ClickTo(ControlOf<QRadioButton>(scope, QStringLiteral("optParade[%1]").arg(settings.channel)), true);
    ClickTo(ControlOf<QRadioButton>(scope, settings.vertical ? "optHorz[0]" : "optHorz[1]"), true);
    ClickTo(ControlOf<QCheckBox>(scope, "chkScaleBG"), !settings.scaleInFront);
    window.hscrLamp->setValue(settings.lamp);
    vector.zoomBar()->setValue(settings.zoom);
    switch (settings.luma) {
        case korvex::LumaStandard::Rec601: break;
        case korvex::LumaStandard::Rec709: window.mnuToolsLuma709->trigger(); break;
    }
    if (settings.skinLine) window.mnuToolsSkinLine->trigger();

    LoadAsTyped(window, file);
    if (!window.modScope.PicLoaded)
        return {1, "Could not load " + file + ": " + FailureReason(window.LastLoadFailure, file)};

    if (settings.probe) {
        const QPoint pixel = *settings.probe;
        const int width = window.picHidden->surface().width();
        const int height = window.picHidden->surface().height();
        if (pixel.x() >= width || pixel.y() >= height)
            return {2, QStringLiteral("The probe %1,%2 lies outside the %3 x %4 picture")
                           .arg(pixel.x())
                           .arg(pixel.y())
                           .arg(width)
                           .arg(height)};
        LockProbe(window, pixel);
    }

    if (!missing.isEmpty() && !QDir().mkpath(folder)) {
        RemoveFolders(missing);
        return {2, QStringLiteral("Cannot create the folder %1").arg(folder)};
    }
    const QString lineScopePath = QDir(folder).filePath(kLineScopeImage);
    const QString vectorscopePath = QDir(folder).filePath(kVectorscopeImage);
    if (!WritePngFile(InstrumentImage(scope), lineScopePath)) {
        RemoveFolders(missing);
        return {2, "Cannot write " + lineScopePath};
    }
    if (!WritePngFile(InstrumentImage(vector), vectorscopePath)) {
        QFile::remove(lineScopePath);
        RemoveFolders(missing);
        return {2, "Cannot write " + vectorscopePath};
    }
    return {0, {}};
}

}  // namespace vistrel
