// Saving the instruments: both windows' pictures into a folder the user chooses.

#include "app/SaveScopes.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QWidget>

#include "app/frmMain.h"
#include "chromaticity/frmChromaticity.h"
#include "rawhistogram/frmRawHistogram.h"
#include "histogram/frmHistogram.h"
#include "linescope/frmScope.h"
#include "platform/Desktop.h"
#include "vectorscope/frmVector.h"

namespace vistrel {

QImage InstrumentImage(Instrument& instrument) { return instrument.WindowImage(); }

bool WritePngFile(const QImage& image, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (!image.save(&file, "PNG")) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

void frmMain::mnuFileSaveScopes_Click() {
    if (!model_.loaded() || frmScope_ == nullptr || frmVector_ == nullptr || frmHistogram_ == nullptr ||
        frmChromaticity_ == nullptr || frmRawHistogram_ == nullptr)
        return;
    const QString start =
        LastScopesFolder.isEmpty() ? QFileInfo(model_.source().file).absolutePath() : LastScopesFolder;
    const std::optional<QString> folder = desktop().folderDialog(this, "Save Scopes As", start);
    if (!folder) return;
    LastScopesFolder = *folder;
    const QDir into(*folder);
    frmChromaticity_->DrawCounted();
    const std::pair<const char*, Instrument*> windows[] = {
        {kLineScopeImage, frmScope_}, {kVectorscopeImage, frmVector_}, {kHistogramImage, frmHistogram_},
        {kChromaticityImage, frmChromaticity_}, {kRawHistogramImage, frmRawHistogram_}};
    for (const auto& [name, window] : windows) {
        if (window == frmRawHistogram_ && !model_.picture().raw) continue;
        const QString path = into.filePath(name);
        if (!WritePngFile(InstrumentImage(*window), path)) {
            desktop().warningBox(this, "Could not save " + QDir::toNativeSeparators(path), "Scope Save Error");
            return;
        }
    }
}

}  // namespace vistrel
