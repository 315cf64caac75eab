#include "platform/Desktop.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

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

void QtDesktop::warningBox(QWidget* owner, const QString& text, const QString& title) {
    QMessageBox::warning(owner, title, text, QMessageBox::Ok);
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

void QtDesktop::showModal(QDialog& dialog) { dialog.exec(); }

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
