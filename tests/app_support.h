#pragma once
// Driving the main window in tests: a started window with a fake desktop, and
// pictures written to a temporary folder.

#include <QCheckBox>
#include <QImage>
#include <QTemporaryDir>

#include <array>
#include <memory>

#include "app/frmMain.h"
#include "platform/PictureBox.h"
#include "support.h"

namespace testing_support {

// A main window after its start-up sequence, with every modal UI answered by a fake.
class StartedMain {
public:
    StartedMain() {
        window = std::make_unique<vistrel::frmMain>();
        window->start();
    }
    ~StartedMain() { window.reset(); }
    vistrel::frmMain& operator*() { return *window; }
    vistrel::frmMain* operator->() { return window.get(); }
    FakeDesktop& fake() { return desk.fake; }

private:
    ScopedFakeDesktop desk;  // installed first, removed last

public:
    std::unique_ptr<vistrel::frmMain> window;
};

// Writes the image to the folder under the name (format from the extension); returns the path.
QString WritePicture(const QTemporaryDir& dir, const QString& name, const QImage& image);

// A picture whose every pixel is different: red from x, green from y, blue from both.
QImage Gradient(int width, int height);

// Loads the file through the file-name box and the Load button.
void Load(vistrel::frmMain& window, const QString& path);

}  // namespace testing_support

// The main window's control or menu item of this name and type (the name the program
// gives it: "chkNeg", "chkChannel[0]", "mnuSelectNeg").
template <class T>
T* Ctl(const QObject& window, const QString& name) {
    T* const found = window.findChild<T*>(name);
    if (found == nullptr) qFatal("no %s named %s", T::staticMetaObject.className(), qPrintable(name));
    return found;
}

// The red, green and blue boxes.
std::array<QCheckBox*, 3> Channels(const vistrel::frmMain& window);

// Runs the window's handler of this name, as its control or timer would.
void Invoke(vistrel::frmMain& window, const char* handler);

// The full-size pixel the probe reads.
korvex::Pixel ProbedPixel(const vistrel::frmMain& window);
