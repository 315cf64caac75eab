#pragma once
// The main window: a thin shell over the model. It lays out the picture view (which
// works on its own, view/ImageView) with the file-name box, the buttons and the
// instrument switches, builds the menus, starts the instruments, and runs the loads:
// decoding and analysis off the GUI thread, then the picture handed to the model, whose
// notice every view and instrument redraws from. The instruments are windows of their
// own beside it (Separate Windows), or panels inside it (One Window), where the picture
// view and each instrument grow with the room they are given.

#include <QHash>
#include <QMainWindow>

#include <functional>

#include "app/Workspace.h"

#include "decoding/Decode.h"
#include "model/Model.h"

class QAction;
class QCheckBox;
class QDockWidget;
class QFileSystemWatcher;
class QKeyEvent;
class QLineEdit;
class QMenu;
class QMimeData;
class QPushButton;
class QTimer;

namespace vistrel {

class frmScope;
class frmVector;
class frmHistogram;
class frmChromaticity;
class frmRawHistogram;
class ImageView;
class Instrument;
class PictureLoad;

// Window states as the resize handler reads them.
enum class WindowState : int { Normal = 0, Minimised = 1, Maximised = 2 };

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // The client area of the design, below the menu bar.
    static constexpr int kClientWidth = 528;
    static constexpr int kClientHeight = 440;

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
    frmScope* scopeWindow() const { return frmScope_; }
    frmVector* vectorWindow() const { return frmVector_; }
    frmHistogram* histogramWindow() const { return frmHistogram_; }
    frmChromaticity* chromaticityWindow() const { return frmChromaticity_; }
    frmRawHistogram* rawHistogramWindow() const { return frmRawHistogram_; }
    ImageView* imageView() const { return view_; }
    // Why the last load that failed did (not set by a cancelled one).
    DecodeError lastLoadFailure() const { return LastLoadFailure; }

    // Before start: the workspace remembered from the last run (its layout, the one window's
    // size and panels, the histogram's state), and where the workspace goes when the window
    // closes. Without it the window starts in the platform's default layout and keeps nothing.
    void RememberWorkspace(const Workspace& remembered, std::function<void(const Workspace&)> keep);
    // View > Layout: the instruments moved into panels of this window, or out into windows
    // of their own; before start, the layout to start in.
    void SetLayout(Layout layout);
    Layout layout() const { return layout_; }
    // The panel that holds an instrument in the one window.
    QDockWidget* panelOf(const Instrument* instrument) const;
    // The workspace as closing the window now would keep it.
    Workspace CurrentWorkspace() const;

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
    // The view fitted again to its room, once the room has stopped changing (tmrRefit).
    void RefitView();
    // The panels side by side under the view (as they first come) sized for the largest
    // whole scale each instrument can have in the window, the line scope's first, the view
    // keeping the rest; an arrangement the user made otherwise (tabbed, stacked, at a side)
    // is left as it is. Runs once the window's layout has settled.
    void FitPanelsToWindow();

private:
    Model model_;  // the view and every instrument window subscribe to its notices
    ImageView* view_ = nullptr;
    frmScope* frmScope_ = nullptr;
    frmVector* frmVector_ = nullptr;
    frmHistogram* frmHistogram_ = nullptr;
    frmChromaticity* frmChromaticity_ = nullptr;
    frmRawHistogram* frmRawHistogram_ = nullptr;

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
    QAction* mnuToolsLine = nullptr;
    QAction* mnuToolsVector = nullptr;
    QAction* mnuToolsHistogram = nullptr;
    QAction* mnuToolsChromaticity = nullptr;
    QAction* mnuToolsRawHistogram = nullptr;
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
    QMenu* mnuToolsLayout = nullptr;
    QAction* mnuToolsLayoutOne = nullptr;
    QAction* mnuToolsLayoutSeparate = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuHelpReadme = nullptr;
    QAction* mnuSep2 = nullptr;
    QAction* mnuHelpAbout = nullptr;

    void buildControls(QWidget* client);
    void buildMenus(QWidget* client);
    void connectHandlers();
    // The model's notice: the caption, the File and Tools menus and the histogram window.
    void ModelChanged(Changes what);

    // The handlers of the controls and menu items, by the controls' names.
    void Form_Load(AboutBox about);
    void Form_Resize();
    void Form_QueryUnload();
    void Form_OLEDragDrop(const QMimeData& data);
    void cmdLoadPic_Click() { LoadPictureFile(); }
    void cmdBrowse_Click();
    void cmdReset_Click();
    void cmdExit_Click() { close(); }
    void chkLineScope_Click();
    void chkPolar_Click();
    void mnuFileChoose_Click() { cmdBrowse_Click(); }
    void mnuFileSaveScopes_Click();
    void mnuFileExit_Click() { cmdExit_Click(); }
    void mnuFileHoldReference_Click() { HoldReference(); }
    void mnuFileDropReference_Click() { model_.DropReference(); }
    // Tools > Reference Lines...: the levels asked for in a small dialog.
    void mnuToolsScopeLines_Click();
    // An item that mirrors a box sets the box, whose handler does the work and marks it again.
    void mnuToolsLine_Click();
    void mnuToolsVector_Click();
    void mnuToolsHistogram_Click();
    void mnuToolsChromaticity_Click();
    void mnuToolsRawHistogram_Click();
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

    // Shows or hides an instrument: its panel in the one window; or its window, which
    // shown comes back in its normal state: a window manager that minimised it with the
    // main window leaves it marked minimised, and mapping it so would minimise the main
    // window again.
    void ShowInstrument(Instrument* instrument, bool shown);

    // --- The workspace (app/Workspace.cpp keeps it between runs) ---
    // The three panels, empty until the instruments move in.
    void BuildPanels();
    void EnterOneWindow();
    void EnterSeparateWindows();
    // The client area laid out for the layout: in the one window the picture view's room
    // grows with it and the controls under the view keep to its bottom; else the design's.
    void ArrangeClient();
    void ScheduleFitPanels();
    bool fitPanelsPending_ = false;
    // A widget inside one of the panels (whose keys are the panel's own).
    bool InPanel(const QWidget* widget) const;
    void MarkLayout();
    Layout layout_;
    bool layoutChosen_ = false;  // the user picked it from the menu this run
    bool started_ = false;
    Workspace remembered_;
    std::function<void(const Workspace&)> keepWorkspace_;
    QDockWidget* dockLine_ = nullptr;
    QDockWidget* dockVector_ = nullptr;
    QDockWidget* dockHistogram_ = nullptr;
    QDockWidget* dockChromaticity_ = nullptr;
    QDockWidget* dockRawHistogram_ = nullptr;
    // The raw histogram shows by itself when a raw file loads in the one window, until the
    // user shows or hides it.
    bool rawHistogramChosen_ = false;
    bool panelsPlaced_ = false;  // the panels have had their first arrangement
    QHash<QWidget*, int> designTop_;  // the controls under the view, at their design tops
    QTimer* tmrRefit = nullptr;
    // A file dragged onto the file-name box is the window's, as anywhere else on it;
    // true when the event was taken.
    bool TakeFileDrop(QEvent* event);
    // Enter where the focused control has no use for it presses the default button, Load.
    bool PressDefaultButton(QWidget* focused, const QKeyEvent& key);

    DecodeError LastLoadFailure = DecodeError::Unreadable;
    QString LastChosenFile;
    QString LastScopesFolder;  // where the instruments were last saved
    WindowState LastWindowState = WindowState::Normal;
    // The instruments are to be shown again once the main window is on screen.
    bool reattachInstruments_ = false;
};

}  // namespace vistrel
