#pragma once
// The About box: the program's name and version, centred on the main window.

#include <QDialog>
#include <QLocale>
#include <QPointer>
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
    frmAbout(QWidget* owner, QWidget* mainWindow);
    ~frmAbout() override;

    QLabel* lblX[1] = {};
    QLabel* lblVersion = nullptr;
    QPushButton* cmdExit = nullptr;

    // The dialog's outer size: its client size with the window manager's frame,
    // or, before the frame is known, with a frame like the main window's.
    QSize OuterSize() const;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    // Centres the dialog on the main window's outer frame and the version label
    // on the dialog's outer width; does nothing while neither has changed, so a
    // dialog the user moved stays where it was put.
    void Centre();

    QPointer<QWidget> mainWindow_;
    QRect centredOn_;      // the main window's outer frame at the last centring
    QSize centredAsSize_;  // the dialog's outer size at the last centring
};

}  // namespace vistrel
