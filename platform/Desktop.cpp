#include "platform/Desktop.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <QWindow>

namespace vistrel {

namespace {
Desktop* installed = nullptr;
}  // namespace

Desktop& desktop() {
    static QtDesktop real;
    return installed != nullptr ? *installed : real;
}

void setDesktop(Desktop* replacement) { installed = replacement; }

QString ShippedFilesFolder(const QString& executableFolder) {
    const QFileInfo installed(QDir(executableFolder).filePath("../share/vistrel"));
    if (installed.isDir()) return QDir::cleanPath(installed.absoluteFilePath());
    return executableFolder;
}

QString QtDesktop::programFolder() { return ShippedFilesFolder(QCoreApplication::applicationDirPath()); }

bool QtDesktop::fileExists(const QString& path) { return QFileInfo::exists(path); }

bool QtDesktop::openDocument(const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

namespace {

// A modal box asks for the keyboard once it is on screen: a compositor that mapped it without
// giving it focus (Wayland's do not let a program take focus otherwise) hands it over then,
// so that Return and Esc reach it. It is asked again, every kActivateRetryMs up to
// kActivateTries times, while the box is not yet exposed or not yet active.
constexpr int kActivateRetryMs = 20;
constexpr int kActivateTries = 100;

void ActivateWhenShown(QDialog& dialog, int tries = kActivateTries) {
    QTimer::singleShot(tries == kActivateTries ? 0 : kActivateRetryMs, &dialog, [&dialog, tries] {
        if (!dialog.isVisible() || dialog.isActiveWindow()) return;
        const QWindow* window = dialog.windowHandle();
        if (window != nullptr && window->isExposed()) {
            dialog.raise();
            dialog.activateWindow();
        }
        if (tries > 1) ActivateWhenShown(dialog, tries - 1);
    });
}

// The keys the program has seen go down and not yet up. A Wayland compositor that gives a
// window the keyboard while a key is down says so in its enter event, without a press: a
// start-up box that got the keyboard with Return or Esc already down then sees only the
// release. Such a release over a modal box, of a press no window of the program received,
// is taken as the key pressed there; a key pressed in another of the program's windows and
// let go over the box (Return on the file name that fails to load) does nothing, as before.
class KeysDown final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        // A key event goes to a window first, then to its widgets: it is counted once, there.
        if ((type != QEvent::KeyPress && type != QEvent::KeyRelease) || !watched->isWindowType()) return false;
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->isAutoRepeat()) return false;
        if (type == QEvent::KeyPress) {
            down_.insert(key->key());
            return false;
        }
        if (down_.remove(key->key()) || !Answers(key->key())) return false;
        const QWidget* modal = QApplication::activeModalWidget();
        auto* window = static_cast<QWindow*>(watched);
        if (modal == nullptr || modal->windowHandle() != window) return false;
        QKeyEvent press(QEvent::KeyPress, key->key(), key->modifiers(), key->nativeScanCode(), key->nativeVirtualKey(),
                        key->nativeModifiers(), key->text());
        QCoreApplication::sendEvent(window, &press);
        return false;
    }

private:
    static bool Answers(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape; }

    QSet<int> down_;
};

}  // namespace

void WatchKeysDown(QCoreApplication& application) {
    static KeysDown* watching = nullptr;
    if (watching != nullptr) return;
    watching = new KeysDown(&application);
    application.installEventFilter(watching);
}

void QtDesktop::warningBox(QWidget* owner, const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, owner);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    ActivateWhenShown(box);
    box.exec();
}

std::optional<QString> QtDesktop::openFileDialog(QWidget* owner, const OpenFileRequest& request) {
    QFileDialog dialog(owner, request.title);
    // Qt's own dialog matches the name filters without regard to case, as users of
    // pictures named PHOTO.JPG expect; the native one may not.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(request.filters);
    if (!request.filters.isEmpty()) dialog.selectNameFilter(request.filters.front());
    const QFileInfo start(request.startPath);
    if (start.isDir()) {
        dialog.setDirectory(start.absoluteFilePath());
    } else {
        dialog.setDirectory(start.absolutePath());
        if (start.exists()) dialog.selectFile(start.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front();
}

void QtDesktop::showModal(QDialog& dialog) {
    ActivateWhenShown(dialog);
    dialog.exec();
}

std::optional<QString> QtDesktop::folderDialog(QWidget* owner, const QString& title, const QString& startFolder) {
    QFileDialog dialog(owner, title, startFolder);
    // The same dialog as for opening pictures, whatever the desktop offers.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front();
}

}  // namespace vistrel
