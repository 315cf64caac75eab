#include "app/frmMain.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QWindow>

#include <algorithm>

#include "about/frmAbout.h"
#include "app/PictureLoad.h"
#include "histogram/frmHistogram.h"
#include "linescope/frmScope.h"
#include "platform/Controls.h"
#include "platform/Desktop.h"
#include "platform/FittingText.h"
#include "platform/Numbers.h"
#include "vectorscope/frmVector.h"

namespace vistrel {

namespace {

// The client area of the design, below the menu bar.
constexpr int kClientWidth = 528;
constexpr int kClientHeight = 440;

constexpr char kDefaultPicture[] = "30861.jpg";
constexpr char kReadme[] = "ScopeReadme.txt";

}  // namespace

frmMain::frmMain(QWidget* parent) : QMainWindow(parent) {
    setObjectName("frmMain");
    setWindowTitle("Vistrel");
    setWindowIcon(QIcon(":/vistrel.png"));
    buildControls();
    buildMenus();
    connectHandlers();
    buildReload();
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    setAcceptDrops(true);
    // Key preview: the window sees key presses before the control that has the focus.
    qApp->installEventFilter(this);
}

frmMain::~frmMain() { qApp->removeEventFilter(this); }

void frmMain::buildControls() {
    auto* client = new QWidget(this);
    client->setObjectName("client");
    client->resize(kClientWidth, kClientHeight);
    QFont font = client->font();
    font.setPointSizeF(8.0);
    client->setFont(font);
    setCentralWidget(client);

    hscrCross = MakeScrollBar(client, "hscrCross", Qt::Horizontal, TwipsRect(240, 30, 5010, 195), 333, 1, 10);
    vscrCross = MakeScrollBar(client, "vscrCross", Qt::Vertical, TwipsRect(15, 225, 195, 5010), 333, 166, 10);
    hscrCross->hide();
    vscrCross->hide();

    // The view: a one-pixel border, so its empty design width of 2 pixels shows no picture.
    picImg = new PictureBox(1, 0xFFFFFF, client);
    picImg->setObjectName("picImg");
    picImg->setGeometry(TwipsRect(240, 225, 30, 5010));
    picImg->setCursor(Qt::CrossCursor);
    picImg->setFocusPolicy(Qt::StrongFocus);
    picImg->setAcceptDrops(true);

    // The full-size holder: never shown, no border, sized by each picture.
    picHidden = new PictureBox(0, CompositingBackground(palette()), client);
    picHidden->setObjectName("picHidden");
    picHidden->setGeometry(TwipsRect(0, 5318, 255, 255));
    picHidden->hide();

    txtImageFile = new QLineEdit(kDefaultPicture, client);
    txtImageFile->setObjectName("txtImageFile");
    txtImageFile->setGeometry(TwipsRect(60, 5655, 5715, 345));
    txtImageFile->installEventFilter(this);

    cmdLoadPic = MakeButton(client, "cmdLoadPic", "&Load", TwipsRect(5910, 5670, 900, 315));
    cmdLoadPic->setDefault(true);
    cmdBrowse = MakeButton(client, "cmdBrowse", "&Browse", TwipsRect(6930, 5670, 900, 315));
    cmdReset = MakeButton(client, "cmdReset", "Clear", TwipsRect(6060, 6135, 600, 315));
    cmdExit = MakeButton(client, "cmdExit", "E&xit", TwipsRect(7170, 6135, 435, 315));

    fraChannels = new QFrame(client);
    fraChannels->setObjectName("fraChannels");
    fraChannels->setGeometry(TwipsRect(3870, 5325, 3645, 270));
    fraChannels->setFrameShape(QFrame::NoFrame);
    const char* const channelNames[3] = {"chkChannel[0]", "chkChannel[1]", "chkChannel[2]"};
    const char* const channelCaptions[3] = {"R", "G", "B"};
    const int channelLefts[3] = {60, 575, 1090};
    for (int i = 0; i < 3; ++i)
        chkChannel[i] = MakeCheckBox(fraChannels, channelNames[i], channelCaptions[i], TwipsRect(channelLefts[i], -15, 405, 240), true);
    chkChroma = MakeCheckBox(fraChannels, "chkChroma", "B/W Sep", TwipsRect(1785, -15, 1005, 240), false);
    chkChroma->setToolTip("Show Single Channels as B & W");
    chkNeg = MakeCheckBox(fraChannels, "chkNeg", "Neg", TwipsRect(2880, -15, 690, 240), false);
    fraChannels->hide();

    QFont bold = font;
    bold.setBold(true);
    lblPosn = new QLabel(client);
    lblPosn->setObjectName("lblPosn");
    lblPosn->setGeometry(TwipsRect(315, 5325, 1155, 240));
    lblPosn->setAlignment(Qt::AlignCenter);
    lblPosn->setFont(bold);
    lblStatus = new FittingLabel(client);
    lblStatus->setObjectName("lblStatus");
    lblStatus->setGeometry(TwipsRect(1605, 5325, 1710, 240));
    lblStatus->setAlignment(Qt::AlignCenter);
    lblStatus->setFont(bold);

    shpPatch = new QFrame(client);
    shpPatch->setObjectName("shpPatch");
    shpPatch->setGeometry(TwipsRect(3435, 5280, 330, 330));
    shpPatch->setFrameShape(QFrame::Box);
    shpPatch->setAutoFillBackground(true);

    chkLineScope = MakeCheckBox(client, "chkLineScope", "Line", TwipsRect(105, 6060, 660, 255), true);
    chkPolar = MakeCheckBox(client, "chkPolar", "Vector", TwipsRect(105, 6300, 825, 255), true);

    lblX[0] = new QLabel("Scale Bright", client);
    lblX[0]->setObjectName("lblX[0]");
    lblX[0]->setGeometry(TwipsRect(1508, 6090, 855, 195));
    // The design's narrow face fitted this caption into 57 pixels; ours may need a
    // smaller or narrower one, never below a readable size. Should even that not
    // fit, the caption takes the width it needs, centred where its box was.
    lblX[0]->setFont(FittingFont(font, lblX[0]->text(), lblX[0]->width(), kSmallestReadablePoints));
    const int needed = QFontMetrics(lblX[0]->font()).horizontalAdvance(lblX[0]->text());
    if (needed > lblX[0]->width()) {
        const QRect box = lblX[0]->geometry();
        lblX[0]->setGeometry(box.center().x() - needed / 2, box.top(), needed, box.height());
        lblX[0]->setAlignment(Qt::AlignCenter);
    }
    hscrLamp = MakeScrollBar(client, "hscrLamp", Qt::Horizontal, TwipsRect(1050, 6345, 1770, 165), 255, 128, 20);
    hscrLamp->setSingleStep(5);
    hscrLamp->setFocusPolicy(Qt::StrongFocus);

    QWidget::setTabOrder(txtImageFile, cmdLoadPic);
    QWidget::setTabOrder(cmdLoadPic, cmdBrowse);
    QWidget::setTabOrder(cmdBrowse, picImg);
    QWidget::setTabOrder(picImg, chkChannel[0]);
    QWidget::setTabOrder(chkChannel[0], chkChannel[1]);
    QWidget::setTabOrder(chkChannel[1], chkChannel[2]);
    QWidget::setTabOrder(chkChannel[2], chkChroma);
    QWidget::setTabOrder(chkChroma, chkNeg);
    QWidget::setTabOrder(chkNeg, chkLineScope);
    QWidget::setTabOrder(chkLineScope, chkPolar);
    QWidget::setTabOrder(chkPolar, hscrLamp);
    QWidget::setTabOrder(hscrLamp, cmdReset);
    QWidget::setTabOrder(cmdReset, cmdExit);
}

void frmMain::buildMenus() {
    QMenuBar* bar = menuBar();
    mnuFile = bar->addMenu("&File");
    mnuFile->setObjectName("mnuFile");
    mnuFileChoose = MakeItem(mnuFile, "mnuFileChoose", "&Choose");
    mnuFileChoose->setShortcut(Qt::Key_F2);
    mnuFileSaveScopes = MakeItem(mnuFile, "mnuFileSaveScopes", "Save Scopes As...");
    mnuFileSaveScopes->setEnabled(false);
    mnuSep1 = MakeSeparator(mnuFile, "mnuSep1");
    mnuFileExit = MakeItem(mnuFile, "mnuFileExit", "E&xit       Alt-F4");

    mnuTools = bar->addMenu("&Tools");
    mnuTools->setObjectName("mnuTools");
    mnuToolsLine = MakeItem(mnuTools, "mnuToolsLine", "&Line Scope", true, true);
    mnuToolsVector = MakeItem(mnuTools, "mnuToolsVector", "&Vector", true, true);
    mnuToolsHistogram = MakeItem(mnuTools, "mnuToolsHistogram", "&Histogram", true, false);
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

    mnuSelect = bar->addMenu("&Select");
    mnuSelect->setObjectName("mnuSelect");
    mnuSelectChannels = mnuSelect->addMenu("&Channels");
    mnuSelectChannels->setObjectName("mnuSelectChannels");
    mnuSelectChannels->setEnabled(false);
    mnuSelectChanR = MakeItem(mnuSelectChannels, "mnuSelectChanR", "&Red", true, true);
    mnuSelectChanG = MakeItem(mnuSelectChannels, "mnuSelectChanG", "&Green", true, true);
    mnuSelectChanB = MakeItem(mnuSelectChannels, "mnuSelectChanB", "&Blue", true, true);
    mnuSep3 = MakeSeparator(mnuSelect, "mnuSep3");
    mnuSelectChroma = MakeItem(mnuSelect, "mnuSelectChroma", "Color &Seps as Mono", true, false);
    mnuSelectChroma->setEnabled(false);
    mnuSelectNeg = MakeItem(mnuSelect, "mnuSelectNeg", "Show &Negative Image", true, false);
    mnuSelectNeg->setEnabled(false);
    mnuSelectClipping = MakeItem(mnuSelect, "mnuSelectClipping", "Show C&lipping", true, false);

    mnuHelp = bar->addMenu("&Help");
    mnuHelp->setObjectName("mnuHelp");
    mnuHelpReadme = MakeItem(mnuHelp, "mnuHelpReadme", "View README");
    mnuSep2 = MakeSeparator(mnuHelp, "mnuSep2");
    mnuHelpAbout = MakeItem(mnuHelp, "mnuHelpAbout", "&About");
}

void frmMain::connectHandlers() {
    connect(cmdLoadPic, &QPushButton::clicked, this, [this] { cmdLoadPic_Click(); });
    connect(txtImageFile, &QLineEdit::returnPressed, cmdLoadPic, &QPushButton::click);
    connect(cmdBrowse, &QPushButton::clicked, this, [this] { cmdBrowse_Click(); });
    connect(cmdReset, &QPushButton::clicked, this, [this] { cmdReset_Click(); });
    connect(cmdExit, &QPushButton::clicked, this, [this] { cmdExit_Click(); });

    for (int i = 0; i < 3; ++i) connect(chkChannel[i], &QCheckBox::toggled, this, [this, i] { chkChannel_Click(i); });
    connect(chkChroma, &QCheckBox::toggled, this, [this] { chkChroma_Click(); });
    connect(chkNeg, &QCheckBox::toggled, this, [this] { chkNeg_Click(); });
    connect(chkLineScope, &QCheckBox::toggled, this, [this] { chkLineScope_Click(); });
    connect(chkPolar, &QCheckBox::toggled, this, [this] { chkPolar_Click(); });

    connect(hscrCross, &QScrollBar::valueChanged, this, [this] { hscrCross_Change(); });
    connect(vscrCross, &QScrollBar::valueChanged, this, [this] { vscrCross_Change(); });
    connect(hscrLamp, &QScrollBar::valueChanged, this, [this] { hscrLamp_Change(); });

    picImg->onMouseDown = [this](int b, int s, float x, float y) { picImg_MouseDown(b, s, x, y); };
    picImg->onMouseMove = [this](int b, int s, float x, float y) { picImg_MouseMove(b, s, x, y); };
    picImg->onMouseUp = [this](int b, int s, float x, float y) { picImg_MouseUp(b, s, x, y); };
    picImg->onDrop = [this](const QMimeData& data) { picImg_OLEDragDrop(data); };

    // A checkable menu item has toggled its own mark by the time its handler runs.
    connect(mnuFileChoose, &QAction::triggered, this, [this] { mnuFileChoose_Click(); });
    connect(mnuFileExit, &QAction::triggered, this, [this] { mnuFileExit_Click(); });
    connect(mnuToolsLine, &QAction::triggered, this, [this] { mnuToolsLine_Click(); });
    connect(mnuToolsVector, &QAction::triggered, this, [this] { mnuToolsVector_Click(); });
    connect(mnuToolsHistogram, &QAction::triggered, this, [this] { mnuToolsHistogram_Click(); });
    connect(mnuSelectClipping, &QAction::triggered, this, [this] { mnuSelectClipping_Click(); });
    connect(mnuSelectChanR, &QAction::triggered, this, [this] { mnuSelectChanR_Click(); });
    connect(mnuSelectChanG, &QAction::triggered, this, [this] { mnuSelectChanG_Click(); });
    connect(mnuSelectChanB, &QAction::triggered, this, [this] { mnuSelectChanB_Click(); });
    connect(mnuSelectChroma, &QAction::triggered, this, [this] { mnuSelectChroma_Click(); });
    connect(mnuSelectNeg, &QAction::triggered, this, [this] { mnuSelectNeg_Click(); });
    connect(mnuFileSaveScopes, &QAction::triggered, this, [this] { mnuFileSaveScopes_Click(); });
    connect(mnuToolsReload, &QAction::triggered, this, [this] { mnuToolsReload_Click(); });
    connect(mnuToolsLuma601, &QAction::triggered, this, [this] { mnuToolsLuma601_Click(); });
    connect(mnuToolsLuma709, &QAction::triggered, this, [this] { mnuToolsLuma709_Click(); });
    connect(mnuToolsSkinLine, &QAction::triggered, this, [this] { mnuToolsSkinLine_Click(); });
    connect(mnuToolsColourConvert, &QAction::triggered, this, [this] { mnuToolsColourConvert_Click(); });
    connect(mnuToolsColourStored, &QAction::triggered, this, [this] { mnuToolsColourStored_Click(); });
    connect(mnuHelpReadme, &QAction::triggered, this, [this] { mnuHelpReadme_Click(); });
    connect(mnuHelpAbout, &QAction::triggered, this, [this] { mnuHelpAbout_Click(); });
}

void frmMain::Form_Load(AboutBox aboutBox) {
    model_.settings.lamp = hscrLamp->value();

    const std::string folder = korvex::EnsureBackslash(desktop().programFolder().toStdString());
    txtImageFile->setText(QString::fromStdString(folder) + kDefaultPicture);

    ViewHeader.biSize = sizeof(BitmapInfoHeader);
    ViewHeader.biPlanes = 1;
    ViewHeader.biBitCount = 32;
    ViewHeader.biCompression = kBiRgb;

    frmScope_ = new frmScope(model_, this);
    // Focus handed back lands on the control that last had it, as the window's own would.
    const auto takeFocusBack = [this] {
        activateWindow();
        if (focusWidget() == nullptr) setFocus();
    };
    frmScope_->focusMainWindow = takeFocusBack;
    frmScope_->show();

    frmVector_ = new frmVector(model_, this);
    frmVector_->focusMainWindow = takeFocusBack;
    frmVector_->show();
    frmVector_->DrawGraticule();
    frmVector_->update();

    // Off at start-up: made now, so that it is kept drawn and can be saved, and shown when asked.
    frmHistogram_ = new frmHistogram(model_, this);
    frmScope_->channelChanged = [this] { RedrawHistogram(); };

    show();
    // An X11 window manager, and a Wayland compositor, learn a tool window's owner
    // when the tool window is mapped; the instruments came first, before their
    // owner was on screen.
    const QString platform = QGuiApplication::platformName();
    reattachInstruments_ = platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"));
    QCoreApplication::processEvents();

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
    const bool normal = s == WindowState::Normal;
    ShowInstrument(frmScope_, chkLineScope->isChecked() && normal);
    ShowInstrument(frmVector_, chkPolar->isChecked() && normal);
    ShowInstrument(frmHistogram_, model_.settings.histogramShown && normal);
    LastWindowState = s;
}

void frmMain::ShowInstrument(QWidget* window, bool shown) {
    if (window == nullptr) return;
    if (shown && (window->windowState() & Qt::WindowMinimized))
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->setVisible(shown);
}

void frmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) Form_Resize();
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void frmMain::Form_QueryUnload() {
    if (frmScope_ != nullptr) frmScope_->close();
    if (frmVector_ != nullptr) frmVector_->close();
    if (frmHistogram_ != nullptr) frmHistogram_->close();
}

void frmMain::closeEvent(QCloseEvent* event) {
    Form_QueryUnload();
    event->accept();
}

void frmMain::SetPatchColour(const QColor& colour) {
    QPalette patch = shpPatch->palette();
    patch.setColor(QPalette::Window, colour);
    shpPatch->setPalette(patch);
}

void frmMain::cmdExit_Click() { close(); }

void frmMain::mnuFileExit_Click() { cmdExit->click(); }

void frmMain::mnuFileChoose_Click() { cmdBrowse->click(); }

void frmMain::mnuHelpReadme_Click() {
    const QString path = desktop().programFolder() + "/" + kReadme;
    if (!desktop().fileExists(path) || desktop().openDocument(path)) return;
    // Nothing on this desktop opens text files: name the file, so the user can open it.
    desktop().warningBox(this, "No program is set up to open " + QDir::toNativeSeparators(path) +
                                   ".\nOpen it with a text viewer of your choice.",
                         "View README");
}

void frmMain::mnuHelpAbout_Click() {
    frmAbout about(nullptr, this);
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
                                    static_cast<QWidget*>(frmHistogram_)})
            if (instrument != nullptr && instrument->isVisible()) {
                instrument->hide();
                instrument->show();
            }
        return false;
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
        if (widget != nullptr && widget->window() == this && qobject_cast<QMenuBar*>(widget) == nullptr) {
            if (PressDefaultButton(widget, *key)) return true;
            int code = 0;
            switch (key->key()) {
                case Qt::Key_Left: code = 37; break;
                case Qt::Key_Up: code = 38; break;
                case Qt::Key_Right: code = 39; break;
                case Qt::Key_Down: code = 40; break;
                case Qt::Key_Home: code = 36; break;
                case Qt::Key_End: code = 35; break;
                default: break;
            }
            if (code != 0) {
                Form_KeyDown(code, ShiftState(key->modifiers()));
                if (code == 0) return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace vistrel
