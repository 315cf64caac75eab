#pragma once
// The About box: the program's name and version, centred on the main window.

#include <QDialog>
#include <QLocale>
#include <QString>

class QLabel;
class QPushButton;

namespace vistrel {

// "Version 00.095.001", with "BETA " in front while the major number is below 1.
QString VersionText(int major, int minor, int revision, const QLocale& locale = QLocale());

// The dialog's top-left corner, in pixels, that centres a dialog of the given
// outer size on the main window's outer rectangle (computed in twips).
QPoint CentredPosition(const QRect& mainWindow, const QSize& dialog);

class frmAbout : public QDialog {
    Q_OBJECT
public:
    // owner: the window it is shown over (none from the Help menu);
    // mainWindow: the window it centres itself on.
    frmAbout(QWidget* owner, const QWidget* mainWindow);

    QLabel* lblX[1] = {};
    QLabel* lblVersion = nullptr;
    QPushButton* cmdExit = nullptr;

private:
    void Form_Load(const QWidget* mainWindow);
};

}  // namespace vistrel
