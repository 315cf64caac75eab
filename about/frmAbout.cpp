#include "about/frmAbout.h"

#include <QLabel>
#include <QPushButton>

#include "platform/Numbers.h"
#include "vistrel_version.h"

namespace vistrel {

namespace {
constexpr int kTwipsPerPixel = 15;
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

frmAbout::frmAbout(QWidget* owner, const QWidget* mainWindow) : QDialog(owner) {
    setObjectName("frmAbout");
    setWindowTitle("Vistrel");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
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

    Form_Load(mainWindow);
}

void frmAbout::Form_Load(const QWidget* mainWindow) {
    if (mainWindow != nullptr) {
        // Before it is shown the dialog has no frame yet: its outer size is its client size.
        move(CentredPosition(mainWindow->frameGeometry(), frameGeometry().size()));
    }
    lblVersion->setText(VersionText(VISTREL_VERSION_MAJOR, VISTREL_VERSION_MINOR, VISTREL_VERSION_PATCH));
    lblVersion->adjustSize();
    lblVersion->move(static_cast<int>((frameGeometry().width() - lblVersion->width()) / 2.0f), lblVersion->y());
}

}  // namespace vistrel
