#include "about/frmAbout.h"

#include <QLabel>
#include <QPushButton>
#include <QWindow>

#include "platform/Numbers.h"
#include "vistrel_version.h"

namespace vistrel {

namespace {
constexpr int kClientWidth = 226;   // 3390 twips
constexpr int kClientHeight = 205;  // 3075 twips
}  // namespace

QString VersionText(int major, int minor, int revision, const QLocale& locale) {
    QString text = "Version " + FormatNumber(major, "00.", locale) + FormatNumber(minor, "000.", locale) +
                   FormatNumber(revision, "000", locale);
    if (major < 1) text = "BETA " + text;
    return text;
}

QPoint CentredPosition(const QRect& mainWindow, const QSize& dialog) {
    const std::int64_t lm = std::int64_t{mainWindow.left()} * kTwipsPerPixel;
    const std::int64_t tm = std::int64_t{mainWindow.top()} * kTwipsPerPixel;
    const std::int64_t wm = std::int64_t{mainWindow.width()} * kTwipsPerPixel;
    const std::int64_t hm = std::int64_t{mainWindow.height()} * kTwipsPerPixel;
    const std::int64_t wa = std::int64_t{dialog.width()} * kTwipsPerPixel;
    const std::int64_t ha = std::int64_t{dialog.height()} * kTwipsPerPixel;
    // Integer division truncates toward zero, also for a main window smaller than the dialog.
    const std::int64_t left = lm + (wm - wa) / 2;
    const std::int64_t top = tm + (hm - ha) / 2;
    return QPoint(nearestInt(static_cast<double>(left) / kTwipsPerPixel),
                  nearestInt(static_cast<double>(top) / kTwipsPerPixel));
}

frmAbout::frmAbout(QWidget* owner, QWidget* mainWindow) : QDialog(owner), mainWindow_(mainWindow) {
    setObjectName("frmAbout");
    setWindowTitle("Vistrel");
    // A fixed dialog: title and close box only, no minimise or maximise button.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    lblX[0] = new QLabel("Vistrel", this);
    lblX[0]->setObjectName("lblX[0]");
    QFont title("DejaVu Sans");
    title.setPointSizeF(13.5);
    title.setBold(true);
    lblX[0]->setFont(title);
    lblX[0]->setAlignment(Qt::AlignCenter);
    lblX[0]->adjustSize();
    lblX[0]->move((kClientWidth - lblX[0]->width()) / 2, 1);

    lblVersion = new QLabel(this);
    lblVersion->setObjectName("lblVersion");
    QFont body("DejaVu Sans");
    body.setPointSizeF(9.75);
    lblVersion->setFont(body);
    lblVersion->setAlignment(Qt::AlignCenter);
    lblVersion->move(104, 61);

    cmdExit = new QPushButton("OK", this);
    cmdExit->setObjectName("cmdExit");
    cmdExit->setGeometry(87, 180, 52, 20);
    cmdExit->setDefault(true);
    connect(cmdExit, &QPushButton::clicked, this, &QDialog::accept);

    // The main window may still be placed or moved by the window manager while the box is up.
    if (mainWindow_ != nullptr) mainWindow_->installEventFilter(this);
    create();
    Form_Load();
}

frmAbout::~frmAbout() {
    if (mainWindow_ != nullptr) mainWindow_->removeEventFilter(this);
}

void frmAbout::Form_Load() {
    lblVersion->setText(VersionText(VISTREL_VERSION_MAJOR, VISTREL_VERSION_MINOR, VISTREL_VERSION_PATCH));
    lblVersion->adjustSize();
    Centre();
}

QSize frmAbout::OuterSize() const {
    QMargins frame;
    if (windowHandle() != nullptr && isVisible()) frame = windowHandle()->frameMargins();
    if (frame.isNull() && mainWindow_ != nullptr) {
        const QRect outer = mainWindow_->frameGeometry();
        const QRect inner = mainWindow_->geometry();
        frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                         outer.bottom() - inner.bottom());
    }
    return size().grownBy(frame);
}

void frmAbout::Centre() {
    const QSize outer = OuterSize();
    const QRect mainFrame = mainWindow_ != nullptr ? mainWindow_->frameGeometry() : QRect();
    if (outer == centredAsSize_ && mainFrame == centredOn_) return;
    centredAsSize_ = outer;
    centredOn_ = mainFrame;
    if (mainWindow_ != nullptr) {
        const QPoint corner = CentredPosition(mainFrame, outer);
        // The widget's own record first, so that showing keeps the place (and the
        // dialog does not centre itself again); then the frame's corner, which the
        // window manager keeps whatever the border, also before the frame is known.
        if (!isVisible()) move(corner);
        windowHandle()->setFramePosition(corner);
    }
    // Centred on the outer width: one side border right of the client area's centre.
    lblVersion->move(static_cast<int>((outer.width() - lblVersion->width()) / 2.0f), lblVersion->y());
}

bool frmAbout::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
            // The window manager's frame becomes known once the dialog is on screen.
            Centre();
            break;
        default: break;
    }
    return handled;
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == mainWindow_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize)) Centre();
    return QDialog::eventFilter(watched, event);
}

}  // namespace vistrel
