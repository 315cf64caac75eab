#include "app/frmMain.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QDir>
#include <QDockWidget>
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
#include "chromaticity/frmChromaticity.h"
#include "rawhistogram/frmRawHistogram.h"
#include "histogram/frmHistogram.h"
#include "linescope/frmScope.h"
#include "platform/Controls.h"
#include "platform/Desktop.h"
#include "platform/Input.h"
#include "vectorscope/frmVector.h"
#include "view/ImageView.h"

namespace vistrel {

namespace {


// The window's caption, alone or before the loaded picture's file name.
constexpr char kProgramName[] = "Vistrel";
constexpr char kDefaultPicture[] = "30861.jpg";
constexpr char kReadme[] = "ScopeReadme.txt";

// How long the view's room must keep its size before the picture is fitted to it again:
// a drag of the window's edge fits once, at its end, not at every step.
constexpr int kRefitPauseMs = 150;
// How long start-up waits for a Wayland compositor to show the main window before its
// instruments are shown as its children.
constexpr int kExposeWaitMs = 2000;

bool OnWayland() { return QGuiApplication::platformName().startsWith(QLatin1String("wayland")); }

}  // namespace

frmMain::frmMain(QWidget* parent)
    : QMainWindow(parent), layout_(DefaultLayout(QGuiApplication::platformName())) {
    setObjectName("frmMain");
    setWindowTitle(kProgramName);
    setWindowIcon(QIcon(":/vistrel.png"));
    auto* client = new QWidget(this);
    client->setObjectName("client");
    client->resize(kClientWidth, kClientHeight);
    QFont font = client->font();
    font.setPointSizeF(8.0);
    client->setFont(font);
    setCentralWidget(client);
    buildMenus(client);
    buildControls(client);
    connectHandlers();
    buildReload();
    tmrRefit = new QTimer(this);
    tmrRefit->setSingleShot(true);
    tmrRefit->setInterval(kRefitPauseMs);
    connect(tmrRefit, &QTimer::timeout, this, [this] { RefitView(); });
    client->installEventFilter(this);
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
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
    mnuToolsLine = MakeItem(mnuTools, "mnuToolsLine", "&Line Scope", true, true);
    mnuToolsVector = MakeItem(mnuTools, "mnuToolsVector", "&Vector", true, true);
    mnuToolsHistogram = MakeItem(mnuTools, "mnuToolsHistogram", "&Histogram", true, false);
    mnuToolsChromaticity = MakeItem(mnuTools, "mnuToolsChromaticity", "&Chromaticity", true, false);
    mnuToolsRawHistogram = MakeItem(mnuTools, "mnuToolsRawHistogram", "&Raw Histogram", true, false);
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
    mnuToolsLayout = mnuTools->addMenu("Layout");
    mnuToolsLayout->setObjectName("mnuToolsLayout");
    mnuToolsLayoutOne = MakeItem(mnuToolsLayout, "mnuToolsLayoutOne", "One Window", true, false);
    mnuToolsLayoutSeparate = MakeItem(mnuToolsLayout, "mnuToolsLayoutSeparate", "Separate Windows", true, false);
    auto* layoutGroup = new QActionGroup(mnuToolsLayout);
    layoutGroup->addAction(mnuToolsLayoutOne);
    layoutGroup->addAction(mnuToolsLayoutSeparate);

    // The view brings its own controls and the Select menu, between Tools and Help.
    view_ = new ImageView(model_, *client, *bar);
    view_->AddViewTools(*mnuTools);
    // Its colour note goes on the window's last line, under the controls and any panels.
    statusBar()->setObjectName("statusBar");
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(view_->lblNote, 1);

    MarkLayout();

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
    connect(chkLineScope, &QCheckBox::toggled, this, [this] { chkLineScope_Click(); });
    connect(chkPolar, &QCheckBox::toggled, this, [this] { chkPolar_Click(); });
    view_->picImg->onDrop = [this](const QMimeData& data) { Form_OLEDragDrop(data); };

    // A checkable menu item has toggled its own mark by the time its handler runs.
    const std::pair<QAction*, void (frmMain::*)()> items[] = {
        {mnuFileChoose, &frmMain::mnuFileChoose_Click},
        {mnuFileSaveScopes, &frmMain::mnuFileSaveScopes_Click},
        {mnuFileExit, &frmMain::mnuFileExit_Click},
        {mnuFileHoldReference, &frmMain::mnuFileHoldReference_Click},
        {mnuFileDropReference, &frmMain::mnuFileDropReference_Click},
        {mnuToolsScopeLines, &frmMain::mnuToolsScopeLines_Click},
        {mnuToolsLine, &frmMain::mnuToolsLine_Click},
        {mnuToolsVector, &frmMain::mnuToolsVector_Click},
        {mnuToolsHistogram, &frmMain::mnuToolsHistogram_Click},
        {mnuToolsChromaticity, &frmMain::mnuToolsChromaticity_Click},
        {mnuToolsRawHistogram, &frmMain::mnuToolsRawHistogram_Click},
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
    connect(mnuToolsLayoutOne, &QAction::triggered, this, [this] {
        layoutChosen_ = true;
        SetLayout(Layout::OneWindow);
    });
    connect(mnuToolsLayoutSeparate, &QAction::triggered, this, [this] {
        layoutChosen_ = true;
        SetLayout(Layout::SeparateWindows);
    });

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
    if (what & Change::HistogramShown) {
        mnuToolsHistogram->setChecked(settings.histogramShown);
        ShowInstrument(frmHistogram_, settings.histogramShown);
    }
    if (what & Change::ChromaticityShown) {
        mnuToolsChromaticity->setChecked(settings.chromaticityShown);
        ShowInstrument(frmChromaticity_, settings.chromaticityShown);
    }
    if (what & Change::RawHistogramShown) {
        mnuToolsRawHistogram->setChecked(settings.rawHistogramShown);
        ShowInstrument(frmRawHistogram_, settings.rawHistogramShown);
    }
    if (what & Change::Display) mnuToolsRawClipping->setChecked(settings.rawClipping);
    // A camera raw file in the one window brings its photosites' histogram along.
    if ((what & Change::Picture) && layout_ == Layout::OneWindow && !rawHistogramChosen_ && model_.loaded() &&
        model_.picture().raw && !settings.rawHistogramShown)
        model_.Set(&Settings::rawHistogramShown, true);
    if (what & Change::NitsScale) mnuToolsColourNits->setChecked(settings.nitsScale);
}

void frmMain::Form_Load(AboutBox aboutBox) {
    const std::string folder = korvex::EnsureBackslash(desktop().programFolder().toStdString());
    txtImageFile->setText(QString::fromStdString(folder) + kDefaultPicture);

    // Made in the order the model's notices are to reach them after the view: the
    // vectorscope, the line scope, the histogram; shown in the design's order. The
    // histogram is off at start-up: made now, so that it is kept drawn and can be saved.
    frmVector_ = new frmVector(model_, this);
    frmScope_ = new frmScope(model_, this);
    frmHistogram_ = new frmHistogram(model_, this);
    frmChromaticity_ = new frmChromaticity(model_, this);
    frmRawHistogram_ = new frmRawHistogram(model_, this);
    // Focus handed back lands on the control that last had it, as the window's own would.
    const auto takeFocusBack = [this] {
        activateWindow();
        if (focusWidget() == nullptr) setFocus();
    };
    frmScope_->focusMainWindow = takeFocusBack;
    frmVector_->focusMainWindow = takeFocusBack;
    BuildPanels();
    started_ = true;

    const QString platform = QGuiApplication::platformName();
    switch (layout_) {
        case Layout::OneWindow:
            EnterOneWindow();
            frmVector_->DrawGraticule();
            show();
            break;
        case Layout::SeparateWindows:
            if (OnWayland()) {
                // A compositor learns a tool window's owner when the tool window is mapped:
                // the main window goes on screen first, and its instruments after it.
                show();
                const QDeadlineTimer deadline(kExposeWaitMs);
                while (!deadline.hasExpired() && (windowHandle() == nullptr || !windowHandle()->isExposed()))
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
                frmScope_->show();
                frmVector_->show();
                frmVector_->DrawGraticule();
                frmVector_->update();
            } else {
                frmScope_->show();
                frmVector_->show();
                frmVector_->DrawGraticule();
                frmVector_->update();
                show();
                // An X11 window manager learns a tool window's owner when the tool window
                // is mapped; the instruments came first, before their owner was on screen.
                reattachInstruments_ = platform == QLatin1String("xcb");
            }
            if (model_.settings().histogramShown) ShowInstrument(frmHistogram_, true);
            if (model_.settings().chromaticityShown) ShowInstrument(frmChromaticity_, true);
            if (model_.settings().rawHistogramShown) ShowInstrument(frmRawHistogram_, true);
            break;
    }
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

void frmMain::Form_Resize() {
    WindowState s = WindowState::Normal;
    if (windowState() & Qt::WindowMinimized)
        s = WindowState::Minimised;
    else if (windowState() & Qt::WindowMaximized)
        s = WindowState::Maximised;
    if (s == LastWindowState) return;
    // Panels go and come with the one window they are in.
    if (layout_ == Layout::OneWindow) {
        LastWindowState = s;
        return;
    }
    const bool normal = s == WindowState::Normal;
    ShowInstrument(frmScope_, chkLineScope->isChecked() && normal);
    ShowInstrument(frmVector_, chkPolar->isChecked() && normal);
    ShowInstrument(frmHistogram_, model_.settings().histogramShown && normal);
    ShowInstrument(frmChromaticity_, model_.settings().chromaticityShown && normal);
    ShowInstrument(frmRawHistogram_, model_.settings().rawHistogramShown && normal);
    LastWindowState = s;
}

void frmMain::ShowInstrument(Instrument* window, bool shown) {
    if (window == nullptr) return;
    if (layout_ == Layout::OneWindow) {
        if (QDockWidget* panel = panelOf(window); panel != nullptr && panel->isHidden() == shown) {
            panel->setVisible(shown);
            ScheduleFitPanels();
        }
        return;
    }
    if (shown && (window->windowState() & Qt::WindowMinimized))
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->setVisible(shown);
}

void frmMain::chkLineScope_Click() {
    const bool wanted = chkLineScope->isChecked();
    ShowInstrument(frmScope_, wanted);
    mnuToolsLine->setChecked(wanted);
}

void frmMain::chkPolar_Click() {
    const bool wanted = chkPolar->isChecked();
    ShowInstrument(frmVector_, wanted);
    mnuToolsVector->setChecked(wanted);
}

void frmMain::mnuToolsLine_Click() { chkLineScope->setChecked(mnuToolsLine->isChecked()); }

void frmMain::mnuToolsVector_Click() { chkPolar->setChecked(mnuToolsVector->isChecked()); }

void frmMain::mnuToolsHistogram_Click() { model_.Set(&Settings::histogramShown, mnuToolsHistogram->isChecked()); }

void frmMain::mnuToolsChromaticity_Click() {
    model_.Set(&Settings::chromaticityShown, mnuToolsChromaticity->isChecked());
}

void frmMain::mnuToolsRawHistogram_Click() {
    rawHistogramChosen_ = true;
    model_.Set(&Settings::rawHistogramShown, mnuToolsRawHistogram->isChecked());
}

void frmMain::mnuToolsRawClipping_Click() { model_.Set(&Settings::rawClipping, mnuToolsRawClipping->isChecked()); }

void frmMain::mnuToolsColourNits_Click() { model_.Set(&Settings::nitsScale, mnuToolsColourNits->isChecked()); }

void frmMain::mnuToolsSkinLine_Click() { model_.Set(&Settings::skinLine, mnuToolsSkinLine->isChecked()); }

void frmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) Form_Resize();
}

void frmMain::Form_QueryUnload() {
    if (frmScope_ != nullptr) frmScope_->close();
    if (frmVector_ != nullptr) frmVector_->close();
    if (frmHistogram_ != nullptr) frmHistogram_->close();
    if (frmChromaticity_ != nullptr) frmChromaticity_->close();
    if (frmRawHistogram_ != nullptr) frmRawHistogram_->close();
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (keepWorkspace_) keepWorkspace_(CurrentWorkspace());
    Form_QueryUnload();
    event->accept();
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
    if (reattachInstruments_ && event->type() == QEvent::Expose && watched == windowHandle() &&
        windowHandle()->isExposed()) {
        // On screen, so managed: the instruments shown again are taken in as its own.
        reattachInstruments_ = false;
        for (QWidget* instrument : {static_cast<QWidget*>(frmScope_), static_cast<QWidget*>(frmVector_),
                                    static_cast<QWidget*>(frmHistogram_), static_cast<QWidget*>(frmChromaticity_),
                                    static_cast<QWidget*>(frmRawHistogram_)})
            if (instrument != nullptr && instrument->isVisible() && instrument->isWindow()) {
                instrument->hide();
                instrument->show();
            }
        return false;
    }
    if (watched == centralWidget() && event->type() == QEvent::Resize) {
        ArrangeClient();
        if (layout_ == Layout::OneWindow && model_.loaded()) tmrRefit->start();
        return false;
    }
    if (event->type() == QEvent::Close && layout_ == Layout::OneWindow) {
        // A panel's own close button unticks its instrument, as the Tools menu would.
        if (watched == dockLine_)
            chkLineScope->setChecked(false);
        else if (watched == dockVector_)
            chkPolar->setChecked(false);
        else if (watched == dockHistogram_)
            model_.Set(&Settings::histogramShown, false);
        else if (watched == dockChromaticity_)
            model_.Set(&Settings::chromaticityShown, false);
        else if (watched == dockRawHistogram_) {
            rawHistogramChosen_ = true;
            model_.Set(&Settings::rawHistogramShown, false);
        }
    }
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
            !InPanel(widget)) {
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
