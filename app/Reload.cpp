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
    lblStatus->setText("Could not reload " + QFileInfo(WatchedFile).fileName());
}

frmMain::ReloadOutcome frmMain::ReloadPicture() {
    const QString path = model_.source().file;
    // This version is being read: reports of it that arrive while it decodes change nothing.
    model_.NoteStamp(Stamp(path));
    // Decoded before anything is dropped, so that a failure leaves the picture shown.
    PictureLoad load(path, picHidden->background(), kViewOuterHeight, picImg->border(), model_.settings.luma, ViewRoom(),
                     model_.settings.colour);
    // Esc gives this version up, as a failure after its last retry would, but quietly.
    if (RunLoad(load)) {
        ShowColourNote();
        return ReloadOutcome::Cancelled;
    }
    if (!load.decoded()) {
        ShowColourNote();
        return ReloadOutcome::Undecoded;
    }

    const Settings kept = model_.settings;
    const bool locked = model_.picture().probe.locked;
    const std::int32_t column = hscrCross->value();
    const std::int32_t row = vscrCross->value();

    DropPicture();
    const bool shown = TryShowLoadedPicture(load);
    ShowIdle();
    if (!shown) {
        ClearPictures();
        lblStatus->setText("Could not reload " + QFileInfo(path).fileName());
        return ReloadOutcome::Dropped;
    }

    // Everything the user set, kept across the reload; what it changes is redrawn.
    ApplySettings(kept);
    ShowColourNote();
    if (locked && column <= hscrCross->maximum() && row <= vscrCross->maximum()) RelockProbe(column, row);
    return ReloadOutcome::Shown;
}

void frmMain::SetColourHandling(ColourHandling choice) {
    mnuToolsColourConvert->setChecked(choice == ColourHandling::ConvertToSrgb);
    mnuToolsColourStored->setChecked(choice == ColourHandling::StoredValues);
    const ColourHandling before = model_.settings.colour;
    if (choice == before) return;
    model_.settings.colour = choice;
    // With no picture, the next load reads under the new choice.
    if (!model_.loaded() || LoadRunning) return;
    switch (ReloadPicture()) {
        case ReloadOutcome::Shown:
        case ReloadOutcome::Dropped: return;
        case ReloadOutcome::Undecoded:
            lblStatus->setText("Could not reload " + QFileInfo(model_.source().file).fileName());
            break;
        case ReloadOutcome::Cancelled: break;
    }
    // The picture shown is still the one read under the choice before.
    model_.settings.colour = before;
    mnuToolsColourConvert->setChecked(before == ColourHandling::ConvertToSrgb);
    mnuToolsColourStored->setChecked(before == ColourHandling::StoredValues);
}

void frmMain::RelockProbe(std::int32_t column, std::int32_t row) {
    // As a Ctrl+press would lock it, but at the full-size pixel itself.
    SavedDrawMode = picImg->dc().rop2();
    picImg->dc().SetROP2(DrawMode::NotXorPen);
    hscrCross->setValue(column);
    hscrCross->show();
    vscrCross->setValue(row);
    vscrCross->show();
    model_.SetProbeDragging(true);
    model_.LockProbe(column, row);
    fraChannels->setEnabled(false);
    mnuSelectChannels->setEnabled(false);
    CrossX = column;
    CrossY = row;
    PlaceProbeAt(CrossX, CrossY);
    DrawCrosshair();
    ShowProbe(CrossX, CrossY);
}

}  // namespace vistrel
