#pragma once
// The main window: a thin shell over the model. It lays out the picture view (which
// works on its own, view/ImageView) with the file-name box, the buttons and the
// instrument switches, builds the menus and runs the loads: decoding and analysis off the
// GUI thread, then the picture handed to the model, whose notice every view and
// instrument redraws from. Its workspace (app/Workspace) places the instruments.

#include <QMainWindow>

#include "app/Workspace.h"

#include "decoding/Decode.h"
#include "model/Model.h"

class QAction;
class QCheckBox;
class QFileSystemWatcher;
class QKeyEvent;
class QLineEdit;
class QMenu;
class QMimeData;
class QPushButton;
class QTimer;

namespace vistrel {

class ImageView;
class PictureLoad;

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // The start-up sequence: instrument windows, the main window, then the About box,
    // which a start with a picture to load leaves out.
    enum class AboutBox { Shown, Skipped };
    void start(AboutBox about = AboutBox::Shown) { Form_Load(about); }

    // The loaded picture, the settings and the followed file, for reading.
    const Model& model() const { return model_; }
    // The picture in the file loaded as if typed into the file-name box and Load pressed.
    void LoadFile(const QString& path);
    // The settings in place, and what they change redrawn; a new colour handling reads a
    // loaded picture again.
    void ApplySettings(const Settings& settings);
    // The probe locked at a full-size pixel of the loaded picture, as the crosshair bars would set it.
    void LockProbeAt(std::int32_t column, std::int32_t row) { model_.LockProbe(column, row); }
    // File > Hold as Reference: the picture loaded now held as the reference (its counts,
    // not its pixels); nothing without a picture.
    void HoldReference();
    // The region of interest, as a Shift+drag would set it (--region); false outside the picture.
    bool SetRegionAt(const korvex::PixelRect& region) { return model_.SetRegion(region); }
    ImageView* imageView() const { return view_; }
    // The instruments, their windows or panels, and the layout.
    Workspace& workspace() const { return *workspace_; }
    // Why the last load that failed did (not set by a cancelled one).
    DecodeError lastLoadFailure() const { return LastLoadFailure; }

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
    // Handlers invoked by name, as their control or timer would.
    void txtImageFile_GotFocus();
    // Live reload (app/Reload.cpp): the watcher saw the file or its folder change, and a
    // reload follows after a pause; the pause is over: reload, retry later, or give up.
    void WatchedFile_Change();
    void tmrReload_Timer();

private:
    Model model_;  // the view and every instrument subscribe to its notices
    ImageView* view_ = nullptr;
    Workspace* workspace_ = nullptr;

    // Controls, named as the program knows them.
    QLineEdit* txtImageFile = nullptr;
    QPushButton* cmdLoadPic = nullptr;
    QPushButton* cmdBrowse = nullptr;
    QPushButton* cmdReset = nullptr;
    QPushButton* cmdExit = nullptr;
    QCheckBox* chkLineScope = nullptr;
    QCheckBox* chkPolar = nullptr;
    QMenu* mnuFile = nullptr;
    QAction* mnuFileChoose = nullptr;
    QAction* mnuFileSaveScopes = nullptr;
    QAction* mnuFileHoldReference = nullptr;
    QAction* mnuFileDropReference = nullptr;
    QAction* mnuSep1 = nullptr;
    QAction* mnuFileExit = nullptr;
    QMenu* mnuTools = nullptr;
    QAction* mnuToolsRawClipping = nullptr;
    QAction* mnuSep4 = nullptr;
    QAction* mnuToolsReload = nullptr;
    QMenu* mnuToolsLuma = nullptr;
    QAction* mnuToolsLuma601 = nullptr;
    QAction* mnuToolsLuma709 = nullptr;
    QAction* mnuToolsSkinLine = nullptr;
    QMenu* mnuToolsColour = nullptr;
    QAction* mnuToolsColourConvert = nullptr;
    QAction* mnuToolsColourStored = nullptr;
    QAction* mnuToolsColourNits = nullptr;
    QMenu* mnuToolsTrace = nullptr;
    QAction* mnuToolsTraceLevel[kTraceMax + 1] = {};  // Flat, then the brightnesses 1 .. kTraceMax
    QAction* mnuToolsScopeLines = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuHelpReadme = nullptr;
    QAction* mnuSep2 = nullptr;
    QAction* mnuHelpAbout = nullptr;

    void buildControls(QWidget* client);
    void buildMenus(QWidget* client);
    void connectHandlers();
    // The model's notice: the caption, the File and Tools menus and the instrument switches.
    void ModelChanged(Changes what);

    // The handlers of the controls and menu items, by the controls' names.
    void Form_Load(AboutBox about);
    void Form_OLEDragDrop(const QMimeData& data);
    void cmdLoadPic_Click() { LoadPictureFile(); }
    void cmdBrowse_Click();
    void cmdReset_Click();
    void cmdExit_Click() { close(); }
    void mnuFileChoose_Click() { cmdBrowse_Click(); }
    void mnuFileSaveScopes_Click();
    void mnuFileExit_Click() { cmdExit_Click(); }
    void mnuFileHoldReference_Click() { HoldReference(); }
    void mnuFileDropReference_Click() { model_.DropReference(); }
    // Tools > Reference Lines...: the levels asked for in a small dialog.
    void mnuToolsScopeLines_Click();
    void mnuToolsRawClipping_Click();
    void mnuToolsColourNits_Click();
    void mnuToolsReload_Click();
    void mnuToolsLuma601_Click() { model_.Set(&Settings::luma, korvex::LumaStandard::Rec601); }
    void mnuToolsLuma709_Click() { model_.Set(&Settings::luma, korvex::LumaStandard::Rec709); }
    void mnuToolsSkinLine_Click();
    void mnuToolsColourConvert_Click() { SetColourHandling(ColourHandling::ConvertToSrgb); }
    void mnuToolsColourStored_Click() { SetColourHandling(ColourHandling::StoredValues); }
    void mnuHelpReadme_Click();
    void mnuHelpAbout_Click();

    // --- Loading (app/Loading.cpp) ---
    void LoadPictureFile();
    // Runs the load off this thread, taking only Esc (which cancels it) until it is
    // over; shows its progress after a moment. True when Esc cancelled it.
    bool RunLoad(PictureLoad& load);
    // The decoded and analysed picture handed to the model; false, with the picture
    // dropped, when memory runs out on the way.
    bool ShowLoadedPicture(PictureLoad& load);
    // No picture shown: the view and the instruments emptied.
    void ClearPictures() { model_.Clear(); }
    void FailLoad(DecodeError reason);
    // The hourglass on the window and the view and "Working..." in the status line; and not.
    void ShowBusy();
    void ShowIdle();
    // Tools > Colour: a loaded picture read again under the choice, as a reload reads it; a
    // picture that cannot be read again stays as it was, and so does the choice.
    void SetColourHandling(ColourHandling handling);

    // --- Live reload (app/Reload.cpp) ---
    void buildReload();
    // Watches this file (the one just loaded) for the reload, or nothing for an empty path.
    void WatchLoadedFile(const QString& path);
    void StartWatching();
    void StopWatching();
    // The followed file decoded again and shown, keeping what the user set. Cancelled (Esc) and
    // Undecoded leave the picture as it was; Dropped: memory ran out and no picture is shown.
    enum class ReloadOutcome { Shown, Cancelled, Undecoded, Dropped };
    ReloadOutcome ReloadPicture();
    QFileSystemWatcher* FileWatcher = nullptr;
    QTimer* tmrReload = nullptr;
    int ReloadRetries = 0;
    // A load is running: its wait lets timers fire, and a reload must not start inside it.
    bool LoadRunning = false;

    // A file dragged onto the file-name box is the window's, as anywhere else on it;
    // true when the event was taken.
    bool TakeFileDrop(QEvent* event);
    // Enter where the focused control has no use for it presses the default button, Load.
    bool PressDefaultButton(QWidget* focused, const QKeyEvent& key);

    DecodeError LastLoadFailure = DecodeError::Unreadable;
    QString LastChosenFile;
    QString LastScopesFolder;  // where the instruments were last saved
};

}  // namespace vistrel
