// Live reload: while "Reload When Changed" is on, the loaded picture's file and its
// folder are watched (editors often save by writing a new file and renaming it over
// the old one), and a change is followed, after a pause, by a reload that keeps
// everything the user set.

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QTimer>


#include "app/frmMain.h"
#include "app/PictureLoad.h"
#include "platform/Numbers.h"

namespace vistrel {

namespace {

// An editor's save is a burst of writes; the reload waits this long after the last one.
constexpr int kReloadPauseMs = 300;
// A file still being written does not decode; it is tried again this often...
constexpr int kRetryPauseMs = 250;
// ...this many times more, so about 2 seconds after the first failure the user is told.
constexpr int kRetries = 8;

// What identifies one version of a file: its size and its change times. Empty when
// there is no such file.
QString Stamp(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile()) return {};
    return QString::number(info.size()) + '|' +
           QString::number(info.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch()) + '|' +
           QString::number(info.fileTime(QFileDevice::FileMetadataChangeTime).toMSecsSinceEpoch());
}

}  // namespace

void frmMain::buildReload() {
    FileWatcher = new QFileSystemWatcher(this);
    FileWatcher->setObjectName("FileWatcher");
    connect(FileWatcher, &QFileSystemWatcher::fileChanged, this, [this] { WatchedFile_Change(); });
    connect(FileWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { WatchedFile_Change(); });
    tmrReload = new QTimer(this);
    tmrReload->setObjectName("tmrReload");
    tmrReload->setSingleShot(true);
    connect(tmrReload, &QTimer::timeout, this, [this] { tmrReload_Timer(); });
}

void frmMain::StartWatching() {
    if (WatchedFile.isEmpty()) return;
    const QFileInfo info(WatchedFile);
    FileWatcher->addPath(info.absolutePath());
    if (info.exists()) FileWatcher->addPath(WatchedFile);
}

void frmMain::StopWatching() {
    tmrReload->stop();
    ReloadRetries = 0;
    const QStringList watched = FileWatcher->files() + FileWatcher->directories();
    if (!watched.isEmpty()) FileWatcher->removePaths(watched);
}

void frmMain::WatchLoadedFile(const QString& path) {
    StopWatching();
    WatchedFile = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    WatchedStamp = Stamp(WatchedFile);
    if (mnuToolsReload->isChecked()) StartWatching();
}

void frmMain::mnuToolsReload_Click() {
    if (!mnuToolsReload->isChecked()) {
        StopWatching();
        return;
    }
    StartWatching();
    // A change made while watching was off is shown now.
    if (!WatchedFile.isEmpty() && Stamp(WatchedFile) != WatchedStamp) WatchedFile_Change();
}

void frmMain::WatchedFile_Change() {
    if (WatchedFile.isEmpty() || !mnuToolsReload->isChecked()) return;
    // A file replaced by a rename is a new file: the watcher has let go of the old one.
    if (!FileWatcher->files().contains(WatchedFile) && QFileInfo::exists(WatchedFile))
        FileWatcher->addPath(WatchedFile);
    // The folder reports every file in it; only a new version of ours counts. A file
    // that is gone leaves the picture as it is, until one appears under its name again.
    const QString now = Stamp(WatchedFile);
    if (now.isEmpty() || now == WatchedStamp) return;
    ReloadRetries = 0;
    tmrReload->start(kReloadPauseMs);
}

void frmMain::tmrReload_Timer() {
    tmrReload->stop();
    if (WatchedFile.isEmpty()) return;
    if (LoadRunning) {
        // A save that lands while a picture loads is shown once that load is over.
        tmrReload->start(kReloadPauseMs);
        return;
    }
    if (ReloadPicture()) return;
    if (ReloadRetries < kRetries) {
        ++ReloadRetries;
        tmrReload->start(kRetryPauseMs);
        return;
    }
    ReloadRetries = 0;
    // This version is given up; a later write tries again.
    WatchedStamp = Stamp(WatchedFile);
    lblStatus->setText("Could not reload " + QFileInfo(WatchedFile).fileName());
}

bool frmMain::ReloadPicture() {
    const QString path = WatchedFile;
    // This version is being read: reports of it that arrive while it decodes change nothing.
    WatchedStamp = Stamp(path);
    // Decoded before anything is dropped, so that a failure leaves the picture shown.
    PictureLoad load(path, picHidden->background(), kViewOuterHeight, picImg->border(), modScope.Luma, ViewRoom());
    // Esc gives this version up, as a failure after its last retry would, but quietly.
    if (RunLoad(load)) {
        lblStatus->clear();
        return true;
    }
    if (!load.decoded()) {
        lblStatus->clear();
        return false;
    }

    bool channels[3];
    for (int i = 0; i < 3; ++i) channels[i] = chkChannel[i]->isChecked();
    const bool mono = chkChroma->isChecked();
    const bool negative = chkNeg->isChecked();
    const bool locked = modScope.ProbeLocked;
    const std::int32_t column = hscrCross->value();
    const std::int32_t row = vscrCross->value();

    DropPicture();
    const bool shown = TryShowLoadedPicture(load);
    ShowIdle();
    if (!shown) {
        ClearPictures();
        lblStatus->setText("Could not reload " + QFileInfo(path).fileName());
        return true;
    }

    // Each box that changes runs its handler, which redraws the view as a click would.
    for (int i = 0; i < 3; ++i) chkChannel[i]->setChecked(channels[i]);
    chkChroma->setChecked(mono);
    chkNeg->setChecked(negative);
    if (locked && column <= hscrCross->maximum() && row <= vscrCross->maximum()) RelockProbe(column, row);
    return true;
}

void frmMain::RelockProbe(std::int32_t column, std::int32_t row) {
    // As a Ctrl+press would lock it, but at the full-size pixel itself.
    SavedDrawMode = picImg->dc().rop2();
    picImg->dc().SetROP2(DrawMode::NotXorPen);
    hscrCross->setValue(column);
    hscrCross->show();
    vscrCross->setValue(row);
    vscrCross->show();
    ProbeDragging = true;
    modScope.ProbeLocked = true;
    fraChannels->setEnabled(false);
    mnuSelectChannels->setEnabled(false);
    CrossX = column;
    CrossY = row;
    ProbeViewX = korvex::ClampValue(0, nearestInt(CrossX / static_cast<double>(ScaleX)), ViewMaxX);
    ProbeViewY = korvex::ClampValue(0, nearestInt(CrossY / static_cast<double>(ScaleY)), ViewMaxY);
    DrawCrosshair();
    ShowProbe(CrossX, CrossY);
}

}  // namespace vistrel
