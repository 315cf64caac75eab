// Live reload: while "Reload When Changed" is on, the loaded picture's file and its
// folder are watched (editors often save by writing a new file and renaming it over
// the old one), and a change is followed, after a pause, by a reload that keeps
// everything the user set.

#include <QAction>
#include <QDateTime>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QTimer>

#include "app/PictureLoad.h"
#include "app/frmMain.h"
#include "view/ImageView.h"

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
    const QString& WatchedFile = model_.source().file;
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
    const QString file = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    model_.Follow(file, Stamp(file));
    if (mnuToolsReload->isChecked()) StartWatching();
}

void frmMain::mnuToolsReload_Click() {
    if (!mnuToolsReload->isChecked()) {
        StopWatching();
        return;
    }
    StartWatching();
    // A change made while watching was off is shown now.
    const Source& watched = model_.source();
    if (!watched.file.isEmpty() && Stamp(watched.file) != watched.stamp) WatchedFile_Change();
}

void frmMain::WatchedFile_Change() {
    const QString& WatchedFile = model_.source().file;
    if (WatchedFile.isEmpty() || !mnuToolsReload->isChecked()) return;
    // A file replaced by a rename is a new file: the watcher has let go of the old one.
    if (!FileWatcher->files().contains(WatchedFile) && QFileInfo::exists(WatchedFile))
        FileWatcher->addPath(WatchedFile);
    // The folder reports every file in it; only a new version of ours counts. A file
    // that is gone leaves the picture as it is, until one appears under its name again.
    const QString now = Stamp(WatchedFile);
    if (now.isEmpty() || now == model_.source().stamp) return;
    ReloadRetries = 0;
    tmrReload->start(kReloadPauseMs);
}

void frmMain::tmrReload_Timer() {
    tmrReload->stop();
    const QString WatchedFile = model_.source().file;
    if (WatchedFile.isEmpty()) return;
    if (LoadRunning) {
        // A save that lands while a picture loads is shown once that load is over.
        tmrReload->start(kReloadPauseMs);
        return;
    }
    if (ReloadPicture() != ReloadOutcome::Undecoded) return;
    if (ReloadRetries < kRetries) {
        ++ReloadRetries;
        tmrReload->start(kRetryPauseMs);
        return;
    }
    ReloadRetries = 0;
    // This version is given up; a later write tries again.
    model_.NoteStamp(Stamp(WatchedFile));
    view_->lblStatus->setText("Could not reload " + QFileInfo(WatchedFile).fileName());
}

frmMain::ReloadOutcome frmMain::ReloadPicture() {
    const QString path = model_.source().file;
    // This version is being read: reports of it that arrive while it decodes change nothing.
    model_.NoteStamp(Stamp(path));
    // Decoded before anything is dropped, so that a failure leaves the picture shown.
    PictureLoad load(path, view_->picHidden->background(), view_->FitHeight(), view_->picImg->border(),
                     model_.settings(), view_->Room(), view_->Ratio());
    // Esc gives this version up, as a failure after its last retry would, but quietly.
    if (RunLoad(load)) {
        view_->ShowColourNote();
        return ReloadOutcome::Cancelled;
    }
    if (!load.decoded()) {
        view_->ShowColourNote();
        return ReloadOutcome::Undecoded;
    }

    const Settings kept = model_.settings();
    const Probe probe = model_.picture().probe;
    model_.Drop();
    const bool shown = ShowLoadedPicture(load);
    ShowIdle();
    if (!shown) {
        ClearPictures();
        view_->lblStatus->setText("Could not reload " + QFileInfo(path).fileName());
        return ReloadOutcome::Dropped;
    }

    // Everything the user set, kept across the reload; what it changes is redrawn.
    ApplySettings(kept);
    view_->ShowColourNote();
    const Picture& now = model_.picture();
    if (probe.locked && probe.column < now.width() && probe.row < now.height()) model_.LockProbe(probe.column, probe.row);
    return ReloadOutcome::Shown;
}

}  // namespace vistrel
