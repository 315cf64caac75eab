#pragma once
// Driving the main window in tests: a started window with a fake desktop, and
// pictures written to a temporary folder.

#include <QImage>
#include <QTemporaryDir>

#include <memory>

#include "app/frmMain.h"
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
