#include "app/frmMain.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QWindow>

#include "about/frmAbout.h"
#include "app/SaveScopes.h"
#include "platform/Controls.h"
#include "platform/Desktop.h"
#include "platform/Input.h"
#include "platform/Instrument.h"
#include "view/ImageView.h"

namespace vistrel {

namespace {

// The window's caption, alone or before the loaded picture's file name.
constexpr char kProgramName[] = "Vistrel";
constexpr char kDefaultPicture[] = "30861.jpg";
constexpr char kReadme[] = "ScopeReadme.txt";
// How long start-up waits for a Wayland compositor to make the main window active before
// a box is shown over it.
constexpr int kExposeWaitMs = 2000;

}  // namespace

frmMain::frmMain(QWidget* parent) : QMainWindow(parent) {
    setObjectName("frmMain");
    setWindowTitle(kProgramName);
    setWindowIcon(QIcon(":/vistrel.png"));
    auto* client = new QWidget(this);
    client->setObjectName("client");
    client->resize(kDesignClient);
    QFont font = client->font();
    font.setPointSizeF(8.0);
    client->setFont(font);
    setCentralWidget(client);
    buildMenus(client);
    buildControls(client);
    connectHandlers();
    buildReload();
    resize(DesignWindowSize(*this));
    setAcceptDrops(true);
    // Key preview: the window sees key presses before the control that has the focus.
    qApp->installEventFilter(this);
}

frmMain::~frmMain() { qApp->removeEventFilter(this); }

void frmMain::buildMenus(QWidget* client) {
    QMenuBar* bar = menuBar();
    mnuFile = bar->addMenu("&File");
    mnuFile->setObjectName("mnuFile");
    mnuFileChoose = MakeItem(mnuFile, "mnuFileChoose", "&Choose");
    mnuFileChoose->setShortcut(Qt::Key_F2);
    mnuFileSaveScopes = MakeItem(mnuFile, "mnuFileSaveScopes", "Save Scopes As...");
    mnuFileSaveScopes->setEnabled(false);
    mnuFileHoldReference = MakeItem(mnuFile, "mnuFileHoldReference", "Hold as &Reference");
    mnuFileHoldReference->setEnabled(false);
    mnuFileDropReference = MakeItem(mnuFile, "mnuFileDropReference", "&Drop Reference");
    mnuFileDropReference->setEnabled(false);
    mnuSep1 = MakeSeparator(mnuFile, "mnuSep1");
    mnuFileExit = MakeItem(mnuFile, "mnuFileExit", "E&xit       Alt-F4");

    mnuTools = bar->addMenu("&Tools");
    mnuTools->setObjectName("mnuTools");
    // The view brings its own controls and the Select menu, between Tools and Help.
    view_ = new ImageView(model_, *client, *bar);
    workspace_ = new Workspace(*this, model_, *view_, [this] { return LoadRunning; });
    workspace_->AddInstrumentItems(*mnuTools);
    mnuToolsRawClipping = MakeItem(mnuTools, "mnuToolsRawClipping", "Raw Cl&ipping", true, false);
    mnuSep4 = MakeSeparator(mnuTools, "mnuSep4");
    mnuToolsReload = MakeItem(mnuTools, "mnuToolsReload", "Reload When Changed", true, true);
    mnuToolsLuma = mnuTools->addMenu("Luma");
    mnuToolsLuma->setObjectName("mnuToolsLuma");
    mnuToolsLuma601 = MakeItem(mnuToolsLuma, "mnuToolsLuma601", "Rec. 601", true, true);
    mnuToolsLuma709 = MakeItem(mnuToolsLuma, "mnuToolsLuma709", "Rec. 709", true, false);
    auto* lumaGroup = new QActionGroup(mnuToolsLuma);
    lumaGroup->addAction(mnuToolsLuma601);
    lumaGroup->addAction(mnuToolsLuma709);
    mnuToolsSkinLine = MakeItem(mnuTools, "mnuToolsSkinLine", "Skin Tone Line", true, false);
    mnuToolsColour = mnuTools->addMenu("Colour");
    mnuToolsColour->setObjectName("mnuToolsColour");
    mnuToolsColourConvert = MakeItem(mnuToolsColour, "mnuToolsColourConvert", "Convert to sRGB", true, true);
    mnuToolsColourStored = MakeItem(mnuToolsColour, "mnuToolsColourStored", "Stored Values", true, false);
    auto* colourGroup = new QActionGroup(mnuToolsColour);
    colourGroup->addAction(mnuToolsColourConvert);
    colourGroup->addAction(mnuToolsColourStored);
    // Only a PQ or HLG picture shown as its stored values has code levels that mean nits.
    mnuToolsColour->addSeparator();
    mnuToolsColourNits = MakeItem(mnuToolsColour, "mnuToolsColourNits", "Nits Scale (PQ, HLG)", true, false);
    mnuToolsTrace = mnuTools->addMenu("Trace Brightness");
    mnuToolsTrace->setObjectName("mnuToolsTrace");
    auto* traceGroup = new QActionGroup(mnuToolsTrace);
    for (int level = kTraceFlat; level <= kTraceMax; ++level) {
        const QByteArray name = "mnuToolsTrace" + QByteArray::number(level);
        const QString caption = level == kTraceFlat ? QStringLiteral("Flat (Every Hit Full)")
                                                    : QStringLiteral("Density %1").arg(level);
        mnuToolsTraceLevel[level] = MakeItem(mnuToolsTrace, name.constData(), caption, true, level == kTraceFlat);
        traceGroup->addAction(mnuToolsTraceLevel[level]);
        connect(mnuToolsTraceLevel[level], &QAction::triggered, this, [this, level] { model_.Set(&Settings::trace, level); });
    }
    mnuToolsScopeLines = MakeItem(mnuTools, "mnuToolsScopeLines", "Reference Lines...");
    workspace_->AddLayoutMenu(*mnuTools);
    view_->AddViewTools(*mnuTools);
    // Its colour note goes on the window's last line, under the controls and any panels.
    statusBar()->setObjectName("statusBar");
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(view_->lblNote, 1);

    mnuHelp = bar->addMenu("&Help");
    mnuHelp->setObjectName("mnuHelp");
    mnuHelpReadme = MakeItem(mnuHelp, "mnuHelpReadme", "View README");
    mnuSep2 = MakeSeparator(mnuHelp, "mnuSep2");
    mnuHelpAbout = MakeItem(mnuHelp, "mnuHelpAbout", "&About");
}

void frmMain::buildControls(QWidget* client) {
    txtImageFile = new QLineEdit(kDefaultPicture, client);
    txtImageFile->setObjectName("txtImageFile");
    txtImageFile->setGeometry(TwipsRect(60, 5655, 5715, 345));
    txtImageFile->installEventFilter(this);

    cmdLoadPic = MakeButton(client, "cmdLoadPic", "&Load", TwipsRect(5910, 5670, 900, 315));
    cmdLoadPic->setDefault(true);
    cmdBrowse = MakeButton(client, "cmdBrowse", "&Browse", TwipsRect(6930, 5670, 900, 315));
    cmdReset = MakeButton(client, "cmdReset", "Clear", TwipsRect(6060, 6135, 600, 315));
    cmdExit = MakeButton(client, "cmdExit", "E&xit", TwipsRect(7170, 6135, 435, 315));

    chkLineScope = MakeCheckBox(client, "chkLineScope", "Line", TwipsRect(105, 6060, 660, 255), true);
    chkPolar = MakeCheckBox(client, "chkPolar", "Vector", TwipsRect(105, 6300, 825, 255), true);

    const ImageView& v = *view_;
    QWidget* const tabOrder[] = {txtImageFile,   cmdLoadPic, cmdBrowse,    v.picImg,     v.chkChannel[0],
                                 v.chkChannel[1], v.chkChannel[2], v.chkChroma, v.chkNeg, chkLineScope,
                                 chkPolar,       v.hscrLamp, cmdReset,     cmdExit};
    for (std::size_t k = 1; k < std::size(tabOrder); ++k) QWidget::setTabOrder(tabOrder[k - 1], tabOrder[k]);
}

void frmMain::connectHandlers() {
    connect(cmdLoadPic, &QPushButton::clicked, this, [this] { cmdLoadPic_Click(); });
    connect(txtImageFile, &QLineEdit::returnPressed, cmdLoadPic, &QPushButton::click);
    connect(cmdBrowse, &QPushButton::clicked, this, [this] { cmdBrowse_Click(); });
    connect(cmdReset, &QPushButton::clicked, this, [this] { cmdReset_Click(); });
    connect(cmdExit, &QPushButton::clicked, this, [this] { cmdExit_Click(); });
    // The boxes show and hide their instruments through the settings, and follow them.
    connect(chkLineScope, &QCheckBox::toggled, this, [this](bool on) { model_.Set(&Settings::lineScopeShown, on); });
    connect(chkPolar, &QCheckBox::toggled, this, [this](bool on) { model_.Set(&Settings::vectorscopeShown, on); });
    view_->picImg->onDrop = [this](const QMimeData& data) { Form_OLEDragDrop(data); };

    // A checkable menu item has toggled its own mark by the time its handler runs.
    const std::pair<QAction*, void (frmMain::*)()> items[] = {
        {mnuFileChoose, &frmMain::mnuFileChoose_Click},
        {mnuFileSaveScopes, &frmMain::mnuFileSaveScopes_Click},
        {mnuFileExit, &frmMain::mnuFileExit_Click},
        {mnuFileHoldReference, &frmMain::mnuFileHoldReference_Click},
        {mnuFileDropReference, &frmMain::mnuFileDropReference_Click},
        {mnuToolsScopeLines, &frmMain::mnuToolsScopeLines_Click},
        {mnuToolsRawClipping, &frmMain::mnuToolsRawClipping_Click},
        {mnuToolsColourNits, &frmMain::mnuToolsColourNits_Click},
        {mnuToolsReload, &frmMain::mnuToolsReload_Click},
        {mnuToolsLuma601, &frmMain::mnuToolsLuma601_Click},
        {mnuToolsLuma709, &frmMain::mnuToolsLuma709_Click},
        {mnuToolsSkinLine, &frmMain::mnuToolsSkinLine_Click},
        {mnuToolsColourConvert, &frmMain::mnuToolsColourConvert_Click},
        {mnuToolsColourStored, &frmMain::mnuToolsColourStored_Click},
        {mnuHelpReadme, &frmMain::mnuHelpReadme_Click},
        {mnuHelpAbout, &frmMain::mnuHelpAbout_Click}};
    for (const auto& [item, handler] : items) connect(item, &QAction::triggered, this, [this, h = handler] { (this->*h)(); });

    connect(&model_, &Model::changed, this, &frmMain::ModelChanged);
}

void frmMain::ModelChanged(Changes what) {
    const Settings& settings = model_.settings();
    if (what & (Change::Dropped | Change::Picture)) {
        const bool loaded = model_.loaded();
        setWindowTitle(loaded ? QStringLiteral("%1 - %2").arg(kProgramName, QFileInfo(model_.picture().file).fileName())
                              : QString(kProgramName));
        mnuFileSaveScopes->setEnabled(loaded);
        mnuFileHoldReference->setEnabled(loaded);
    }
    if (what & Change::Reference) mnuFileDropReference->setEnabled(model_.reference() != nullptr);
    if (what & Change::Trace) mnuToolsTraceLevel[settings.trace]->setChecked(true);
    if (what & Change::Graticule) {
        mnuToolsLuma601->setChecked(settings.luma == korvex::LumaStandard::Rec601);
        mnuToolsLuma709->setChecked(settings.luma == korvex::LumaStandard::Rec709);
        mnuToolsSkinLine->setChecked(settings.skinLine);
    }
    if (what & Change::Colour) {
        mnuToolsColourConvert->setChecked(settings.colour == ColourHandling::ConvertToSrgb);
        mnuToolsColourStored->setChecked(settings.colour == ColourHandling::StoredValues);
    }
    if (what & Change::Shown) {
        chkLineScope->setChecked(settings.lineScopeShown);
        chkPolar->setChecked(settings.vectorscopeShown);
    }
    if (what & Change::Display) mnuToolsRawClipping->setChecked(settings.rawClipping);
    if (what & Change::NitsScale) mnuToolsColourNits->setChecked(settings.nitsScale);
}

void frmMain::Form_Load(AboutBox aboutBox) {
    const std::string folder = korvex::EnsureBackslash(desktop().programFolder().toStdString());
    txtImageFile->setText(QString::fromStdString(folder) + kDefaultPicture);

    workspace_->Open();
    QCoreApplication::processEvents();
    // A compositor gives the keyboard to a box over a window only once that window is on
    // screen and active: a box mapped before its main window (the About box, or a picture
    // named on the command line that cannot be loaded) would be left without it.
    if (OnWayland()) {
        const QDeadlineTimer deadline(kExposeWaitMs);
        while (!deadline.hasExpired() &&
               (windowHandle() == nullptr || !windowHandle()->isExposed() || !isActiveWindow()))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }

    switch (aboutBox) {
        case AboutBox::Shown: {
            frmAbout about(this, this);
            desktop().showModal(about);
            break;
        }
        case AboutBox::Skipped: break;
    }
}

void frmMain::mnuToolsRawClipping_Click() { model_.Set(&Settings::rawClipping, mnuToolsRawClipping->isChecked()); }

void frmMain::mnuToolsColourNits_Click() { model_.Set(&Settings::nitsScale, mnuToolsColourNits->isChecked()); }

void frmMain::mnuToolsSkinLine_Click() { model_.Set(&Settings::skinLine, mnuToolsSkinLine->isChecked()); }

void frmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) workspace_->FollowWindowState();
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    workspace_->WindowResized();
}

void frmMain::closeEvent(QCloseEvent* event) {
    workspace_->Close();
    event->accept();
}

// File > Save Scopes As...: each instrument's picture, as its window shows it, into a
// folder the user chooses.
void frmMain::mnuFileSaveScopes_Click() {
    const std::vector<Instrument*>& instruments = workspace_->instruments();
    if (!model_.loaded() || instruments.empty()) return;
    const QString start =
        LastScopesFolder.isEmpty() ? QFileInfo(model_.source().file).absolutePath() : LastScopesFolder;
    const std::optional<QString> folder = desktop().folderDialog(this, "Save Scopes As", start);
    if (!folder) return;
    LastScopesFolder = *folder;
    const QDir into(*folder);
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        if (!ImageWrittenFor(kInstruments[i], model_)) continue;
        const QString path = into.filePath(kInstruments[i].image);
        if (!WritePngFile(InstrumentImage(*instruments[i]), path)) {
            desktop().warningBox(this, "Could not save " + QDir::toNativeSeparators(path), "Scope Save Error");
            return;
        }
    }
}

void frmMain::mnuHelpReadme_Click() {
    const QString path = desktop().programFolder() + "/" + kReadme;
    if (!desktop().fileExists(path) || desktop().openDocument(path)) return;
    // Nothing on this desktop opens text files: name the file, so the user can open it.
    desktop().warningBox(this, "No program is set up to open " + QDir::toNativeSeparators(path) +
                                   ".\nOpen it with a text viewer of your choice.",
                         "View README");
}

void frmMain::mnuHelpAbout_Click() {
    // On Wayland a box without an owner may open anywhere, under the main window too.
    frmAbout about(OnWayland() ? this : nullptr, this);
    desktop().showModal(about);
}

void frmMain::dragEnterEvent(QDragEnterEvent* event) { event->acceptProposedAction(); }

bool frmMain::TakeFileDrop(QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (drag->mimeData() == nullptr || !drag->mimeData()->hasUrls()) return false;
            drag->acceptProposedAction();
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            if (drop->mimeData() == nullptr || !drop->mimeData()->hasUrls()) return false;
            Form_OLEDragDrop(*drop->mimeData());
            drop->acceptProposedAction();
            return true;
        }
        default: return false;
    }
}

bool frmMain::PressDefaultButton(QWidget* focused, const QKeyEvent& key) {
    if (key.key() != Qt::Key_Return && key.key() != Qt::Key_Enter) return false;
    if (key.modifiers() & ~Qt::KeypadModifier) return false;
    // Only where the key landed: a control that ignored it passes it up to its parents.
    if (focused != focusWidget()) return false;
    // The file-name box presses Load itself; a focused button is pressed by Enter as by Space.
    if (qobject_cast<QLineEdit*>(focused) != nullptr) return false;
    if (auto* button = qobject_cast<QPushButton*>(focused)) {
        button->click();
        return true;
    }
    cmdLoadPic->click();
    return true;
}

void frmMain::dropEvent(QDropEvent* event) {
    if (event->mimeData() != nullptr) Form_OLEDragDrop(*event->mimeData());
    event->acceptProposedAction();
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtImageFile && event->type() == QEvent::FocusIn) {
        // Deferred, so that a click's own caret placement does not undo the selection.
        QTimer::singleShot(0, this, [this] { txtImageFile_GotFocus(); });
        return false;
    }
    if (watched == txtImageFile && TakeFileDrop(event)) return true;
    if (event->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        auto* key = static_cast<QKeyEvent*>(event);
        // The menu bar in keyboard mode (after Alt) has the focus and its own use for the keys.
        if (widget != nullptr && widget->window() == this && qobject_cast<QMenuBar*>(widget) == nullptr &&
            !workspace_->InPanel(widget)) {
            if (PressDefaultButton(widget, *key)) return true;
            int code = 0;
            switch (key->key()) {
                case Qt::Key_Left: code = 37; break;
                case Qt::Key_Up: code = 38; break;
                case Qt::Key_Right: code = 39; break;
                case Qt::Key_Down: code = 40; break;
                case Qt::Key_Home: code = 36; break;
                case Qt::Key_End: code = 35; break;
                case Qt::Key_Escape: code = 27; break;
                default: break;
            }
            if (code != 0) {
                view_->Form_KeyDown(code, ShiftState(key->modifiers()));
                if (code == 0) return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace vistrel
