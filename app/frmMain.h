#pragma once
// The main window: the picture view, the file-name box and its buttons, the
// channel boxes, the readouts and the lamp, with the menus. One class; its
// handlers live beside the subsystem that owns them: app/ (shell, start-up,
// loading, file choice) and view/ (display modes, probe, keys, lamp).

#include <QMainWindow>

#include <vector>

#include "model/Model.h"
#include "decoding/Decode.h"
#include "platform/Dib.h"
#include "platform/PictureBox.h"

class QAction;
class QFileSystemWatcher;
class QTimer;
class QCheckBox;
class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QMimeData;
class QPushButton;
class QScrollBar;

namespace vistrel {

class frmScope;
class frmVector;
class frmHistogram;
class frmAbout;
class PictureLoad;

// Window states as the resize handler reads them.
enum class WindowState : int { Normal = 0, Minimised = 1, Maximised = 2 };

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
    // Every control set as the settings say, and what they show redrawn.
    void ApplySettings(const Settings& settings);
    // The probe locked at a full-size pixel of the loaded picture, as the crosshair bars would set it.
    void LockProbeAt(std::int32_t column, std::int32_t row) { RelockProbe(column, row); }
    frmScope* scopeWindow() const { return frmScope_; }
    frmVector* vectorWindow() const { return frmVector_; }
    frmHistogram* histogramWindow() const { return frmHistogram_; }
    // Why the last load that failed did (not set by a cancelled one).
    DecodeError lastLoadFailure() const { return LastLoadFailure; }

private:
    // Controls, named as the program knows them.
    PictureBox* picImg = nullptr;
    PictureBox* picHidden = nullptr;
    QScrollBar* hscrCross = nullptr;
    QScrollBar* vscrCross = nullptr;
    QLineEdit* txtImageFile = nullptr;
    QPushButton* cmdLoadPic = nullptr;
    QPushButton* cmdBrowse = nullptr;
    QPushButton* cmdReset = nullptr;
    QPushButton* cmdExit = nullptr;
    QFrame* fraChannels = nullptr;
    QCheckBox* chkChannel[3] = {};
    QCheckBox* chkChroma = nullptr;
    QCheckBox* chkNeg = nullptr;
    QLabel* lblPosn = nullptr;
    QLabel* lblStatus = nullptr;
    QFrame* shpPatch = nullptr;
    QCheckBox* chkLineScope = nullptr;
    QCheckBox* chkPolar = nullptr;
    QLabel* lblX[1] = {};
    QScrollBar* hscrLamp = nullptr;

    QMenu* mnuFile = nullptr;
    QAction* mnuFileChoose = nullptr;
    QAction* mnuFileSaveScopes = nullptr;
    QAction* mnuSep1 = nullptr;
    QAction* mnuFileExit = nullptr;
    QMenu* mnuTools = nullptr;
    QAction* mnuToolsLine = nullptr;
    QAction* mnuToolsVector = nullptr;
    QAction* mnuToolsReload = nullptr;
    QAction* mnuToolsLuma601 = nullptr;
    QAction* mnuToolsLuma709 = nullptr;
    QAction* mnuToolsSkinLine = nullptr;
    QMenu* mnuSelect = nullptr;
    QMenu* mnuSelectChannels = nullptr;
    QAction* mnuSelectChanR = nullptr;
    QAction* mnuSelectChanG = nullptr;
    QAction* mnuSelectChanB = nullptr;
    QAction* mnuSep3 = nullptr;
    QAction* mnuSelectChroma = nullptr;
    QAction* mnuSelectNeg = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuHelpReadme = nullptr;
    QAction* mnuSep2 = nullptr;
    QAction* mnuHelpAbout = nullptr;

    // --- Loading (app/Loading.cpp) ---
    void LoadPictureFile();

private Q_SLOTS:
    // --- Live reload (app/Reload.cpp) ---
    // The watcher saw the file or its folder change: a reload follows after a pause.
    void WatchedFile_Change();
    // The pause is over: reload, or retry a little later, or give up and say so.
    void tmrReload_Timer();

private:
    // --- Luma standard and skin-tone line (app/Luma.cpp) ---
    // Analyses the loaded picture again under the standard and redraws what shows luma or colour.
    void SetLumaStandard(korvex::LumaStandard standard);

private Q_SLOTS:
    // --- File choice (app/FileChoice.cpp) ---
    void txtImageFile_GotFocus();

    // --- Probe (view/Probe.cpp) ---
    void picImg_MouseDown(int button, int shift, float x, float y);
    void picImg_MouseMove(int button, int shift, float x, float y);
    void picImg_MouseUp(int button, int shift, float x, float y);

private:
    // The full-size pixel the probe reads, as last shown.
    Pixel ProbeSample = 0;

    // Why the last load that failed did (not set by a cancelled one).
    DecodeError LastLoadFailure = DecodeError::Unreadable;

    QString LastChosenFile;

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
    // The handlers of the controls and menu items, by the controls' names.
    void cmdExit_Click();
    void mnuFileExit_Click();
    void mnuFileChoose_Click();
    void mnuHelpReadme_Click();
    void mnuHelpAbout_Click();
    void cmdLoadPic_Click() { LoadPictureFile(); }
    void cmdReset_Click();
    void mnuToolsReload_Click();
    void mnuToolsLuma601_Click() { SetLumaStandard(korvex::LumaStandard::Rec601); }
    void mnuToolsLuma709_Click() { SetLumaStandard(korvex::LumaStandard::Rec709); }
    void mnuToolsSkinLine_Click();
    void mnuFileSaveScopes_Click();
    void cmdBrowse_Click();
    void chkChannel_Click(int index);
    void chkChroma_Click();
    void chkNeg_Click();
    void mnuSelectChanR_Click();
    void mnuSelectChanG_Click();
    void mnuSelectChanB_Click();
    void mnuSelectChroma_Click();
    void mnuSelectNeg_Click();
    void hscrCross_Change() { TrackCrossBars(); }
    void vscrCross_Change() { TrackCrossBars(); }
    void hscrLamp_Change();
    void chkLineScope_Click();
    void chkPolar_Click();
    void mnuToolsLine_Click();
    void mnuToolsVector_Click();
    void mnuToolsHistogram_Click();
    void mnuSelectClipping_Click();
    void mnuToolsColourConvert_Click() { SetColourHandling(ColourHandling::ConvertToSrgb); }
    void mnuToolsColourStored_Click() { SetColourHandling(ColourHandling::StoredValues); }

private:
    QAction* mnuToolsHistogram = nullptr;
    QAction* mnuSelectClipping = nullptr;
    frmHistogram* frmHistogram_ = nullptr;
    // The view as the display mode and the clipping markers make it.
    void ShowView();
    // The histogram drawn again from what is current, when its window exists.
    void RedrawHistogram();
    QAction* mnuSep4 = nullptr;
    QMenu* mnuToolsLuma = nullptr;
    // Tools > Colour: a picture whose file says its colours are not sRGB's is shown
    // converted to sRGB, or with the numbers the file stores.
    QMenu* mnuToolsColour = nullptr;
    QAction* mnuToolsColourConvert = nullptr;
    QAction* mnuToolsColourStored = nullptr;
    // The choice marked and kept; a loaded picture is read again under it, as a reload
    // reads it (the settings and a locked probe kept). A picture that cannot be read again
    // stays as it was, and so does the choice.
    void SetColourHandling(ColourHandling choice);
    // The status line's note on the loaded picture's colours (ColourNote), also its tip.
    void ShowColourNote();
    void Form_Load(AboutBox about = AboutBox::Shown);
    void Form_Resize();
    void Form_QueryUnload();
    void ResetControls();
    void ClearPictures();
    // Watches this file (the one just loaded) for the reload, or nothing for an empty path.
    void WatchLoadedFile(const QString& path);
    // Decodes the watched file again and shows it, keeping what the user set. Cancelled
    // (Esc) and Undecoded leave the picture shown as it was; Dropped: decoded, but memory
    // ran out on the way and no picture is shown.
    enum class ReloadOutcome { Shown, Cancelled, Undecoded, Dropped };
    ReloadOutcome ReloadPicture();
    void Form_OLEDragDrop(const QMimeData& data);
    void picImg_OLEDragDrop(const QMimeData& data) { Form_OLEDragDrop(data); }
    void ShowProbe(int column, int row);
    void TrackCrossBars();
    void UnlockProbe();
    void Form_KeyDown(int& keyCode, int shift);
    // The view's outer height as designed (5010 twips): every picture whose width then
    // fits the window is shown this tall.
    static constexpr int kViewOuterHeight = 334;
    // The outer width the view may take: from its left edge to the window's right edge.
    int ViewRoom() const;
    DrawMode SavedDrawMode = DrawMode::CopyPen;
    std::int32_t CrossX = 0;
    std::int32_t CrossY = 0;
    QString LastScopesFolder;  // where the instruments were last saved
    WindowState LastWindowState = WindowState::Normal;

    Model model_;
    BitmapInfoHeader ViewHeader;  // describes the view's buffers

    // The view's pixels as the load fitted them.
    std::vector<Pixel> ReadViewPixels(PictureBox& surface);
    void buildControls();
    void buildMenus();
    void connectHandlers();
    // The crosshair pair at the probe's position, drawn with the view's pen.
    void DrawCrosshair();
    // The probe at a pointer position, clamped to the view.
    void PlaceProbe(float x, float y);
    // The probe at the view position that stands for a full-size pixel.
    void PlaceProbeAt(std::int32_t column, std::int32_t row);
    // The full-size column and row the probe's view position stands for.
    std::int32_t ProbeColumn() const;
    std::int32_t ProbeRow() const;
    // The header's size fields for a top-down 32-bit picture of the surface's size.
    static void DescribeSurface(BitmapInfoHeader& header, const Surface& surface);
    // The view's picture replaced by a buffer of the view's size.
    void ShowViewBuffer(const std::vector<Pixel>& buffer);
    // Runs the load off this thread, taking only Esc (which cancels it) until it is
    // over; shows its progress after a moment. True when Esc cancelled it.
    bool RunLoad(PictureLoad& load);
    // The load after a successful decode and analysis; throws std::bad_alloc when memory runs out.
    void ShowLoadedPicture(PictureLoad& load);
    // ShowLoadedPicture, or the no-picture state with the buffers freed when memory runs
    // out; true when the picture is shown.
    bool TryShowLoadedPicture(PictureLoad& load);
    // The no-picture state of the controls, with the full-size buffers freed.
    void DropPicture();
    // No hourglass and no "Working..." any more.
    void ShowIdle();
    void FailLoad(DecodeError reason);
    // The hourglass on the window and the view, and "Working..." in the status line.
    void ShowBusy();
    // A menu item that mirrors a check box: the item has toggled its own mark when
    // this runs; the box follows, and its handler redraws and marks the item again.
    // The probe patch's fill colour.
    void SetPatchColour(const QColor& colour);
    static void MirrorToBox(bool& busy, QAction* item, QCheckBox* box);
    // Shows or hides an instrument window. Shown, it comes back in its normal
    // state: a window manager that minimised it with the main window leaves it
    // marked minimised, and mapping it so would minimise the main window again.
    static void ShowInstrument(QWidget* window, bool shown);
    // A file dragged onto the file-name box is the window's, as anywhere else on it;
    // true when the event was taken.
    bool TakeFileDrop(QEvent* event);
    // Enter where the focused control has no use for it presses the default button, Load.
    bool PressDefaultButton(QWidget* focused, const QKeyEvent& key);

    frmScope* frmScope_ = nullptr;
    frmVector* frmVector_ = nullptr;

    // Live reload: the file of the loaded picture, the watcher on it and its folder, the
    // pause timer, the retries made so far, and the file's state when it was last read.
    void buildReload();
    void StartWatching();
    void StopWatching();
    void RelockProbe(std::int32_t column, std::int32_t row);
    // The vectorscope's graticule drawn again, over the plot when a picture is loaded.
    void RedrawVectorscope();
    QFileSystemWatcher* FileWatcher = nullptr;
    QTimer* tmrReload = nullptr;
    int ReloadRetries = 0;
    // A load is running: its wait lets timers fire, and a reload must not start inside it.
    bool LoadRunning = false;

    // Busy flags of the menu handlers that set a check box.
    bool busyChanR_ = false;
    bool busyChanG_ = false;
    bool busyChanB_ = false;
    bool busyChroma_ = false;
    bool busyNeg_ = false;
    bool busyToolsLine_ = false;
    bool busyToolsVector_ = false;
    // The instruments are to be shown again once the main window is on screen.
    bool reattachInstruments_ = false;
};

}  // namespace vistrel
