#pragma once
// The program's modal UI and shell services behind one small seam. The program
// installs the Qt implementation; tests install a fake that records what was
// asked and never waits on a window.

#include <QString>
#include <QStringList>

#include <optional>

class QCoreApplication;
class QDialog;
class QWidget;

namespace vistrel {

// What the open-file dialog is asked for.
struct OpenFileRequest {
    QString title;
    QStringList filters;  // "Description (*.a *.b)" entries, the first one selected
    QString startPath;    // a file or a folder to start in
};

class Desktop {
public:
    virtual ~Desktop() = default;

    // The folder of the program's shipped files (test card, user's guide), without
    // a trailing '/' (except at the root): see ShippedFilesFolder.
    virtual QString programFolder() = 0;
    virtual bool fileExists(const QString& path) = 0;
    // Opens a document with its associated program; false when no program could be started for it.
    virtual bool openDocument(const QString& path) = 0;
    // A modal message box with the warning icon and an OK button.
    virtual void warningBox(QWidget* owner, const QString& text, const QString& title) = 0;
    // The modal open-file dialog (existing files only); nothing when cancelled.
    virtual std::optional<QString> openFileDialog(QWidget* owner, const OpenFileRequest& request) = 0;
    // Shows the dialog modally and returns when it is closed.
    virtual void showModal(QDialog& dialog) = 0;
    // The modal folder chooser (existing folders only), starting in startFolder; nothing when
    // cancelled. A desktop without one answers as if it had been cancelled.
    virtual std::optional<QString> folderDialog(QWidget* owner, const QString& title, const QString& startFolder) {
        (void)owner, (void)title, (void)startFolder;
        return std::nullopt;
    }
};

// Where the shipped files of a program in `executableFolder` are: share/vistrel
// beside an installed copy's bin folder (PREFIX/bin -> PREFIX/share/vistrel),
// else the executable's own folder, as in the build folder.
QString ShippedFilesFolder(const QString& executableFolder);

// The seam in force; the Qt implementation unless a test installed another.
Desktop& desktop();
// Installs a replacement (nullptr puts the Qt implementation back). Not owned.
void setDesktop(Desktop* replacement);

// From here on, a Return or Esc whose press reached none of the program's windows (a Wayland
// compositor that gave a start-up box the keyboard with the key already down) is still
// taken by the modal box it is let go over. Called once the application object exists.
void WatchKeysDown(QCoreApplication& application);

// The real services, on Qt.
class QtDesktop : public Desktop {
public:
    QString programFolder() override;
    bool fileExists(const QString& path) override;
    bool openDocument(const QString& path) override;
    void warningBox(QWidget* owner, const QString& text, const QString& title) override;
    std::optional<QString> openFileDialog(QWidget* owner, const OpenFileRequest& request) override;
    void showModal(QDialog& dialog) override;
    std::optional<QString> folderDialog(QWidget* owner, const QString& title, const QString& startFolder) override;
};

}  // namespace vistrel
