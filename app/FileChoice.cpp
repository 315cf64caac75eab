// Choosing the picture file: the open dialog, drops from the desktop, and
// the whole-text selection of the file-name box.

#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include "app/frmMain.h"
#include "platform/Desktop.h"
#include "view/ImageView.h"

namespace vistrel {

void frmMain::cmdBrowse_Click() {
    OpenFileRequest request;
    request.title = "Vistrel - Open Graphics File";
    // The formats the decoder reads, listed whatever the case of their extension; camera
    // raw files among them, and on their own.
    const QString raw = QStringLiteral(
        "*.dng *.cr2 *.cr3 *.crw *.nef *.nrw *.arw *.sr2 *.raf *.orf *.rw2 *.rwl *.pef *.srw *.3fr *.fff *.iiq *.erf "
        "*.mef *.mos *.mrw");
    request.filters = {"Graphics Files (*.gif *.bmp *.jpg *.ico *.wmf *.jpeg *.png *.tif *.tiff *.webp *.heic *.heif *.avif "
                       "*.jxl " + raw + ")",
                       "Camera raw (" + raw + ")", "All Files (*)"};
    request.startPath = LastChosenFile.isEmpty() ? txtImageFile->text() : LastChosenFile;

    const std::optional<QString> chosen = desktop().openFileDialog(this, request);
    // A path is used exactly as given: Linux names may begin or end with blanks.
    if (!chosen || chosen->isEmpty()) return;

    view_->picImg->clearPicture();
    view_->picImg->repaint();
    LastChosenFile = *chosen;
    txtImageFile->setText(*chosen);
    cmdLoadPic->click();
}

void frmMain::Form_OLEDragDrop(const QMimeData& data) {
    if (!data.hasUrls()) return;
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile()) continue;
        txtImageFile->setText(url.toLocalFile());
        cmdLoadPic->click();
        return;
    }
}

void frmMain::txtImageFile_GotFocus() { txtImageFile->selectAll(); }

}  // namespace vistrel
