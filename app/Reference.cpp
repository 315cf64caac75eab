// Matching one picture to another: the picture loaded now held as the reference, and
// the line scope's reference lines asked for.

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/frmMain.h"
#include "linescope/Waveform.h"
#include "model/ScopeLines.h"
#include "platform/Desktop.h"

namespace vistrel {

void frmMain::HoldReference() {
    if (!model_.loaded()) return;
    const Picture& picture = model_.picture();
    Reference reference = CountReference(picture);
    linescope::TakeWaveformSamples(picture.pixels, picture.luma, reference);
    model_.HoldReference(std::move(reference));
}

void frmMain::mnuToolsScopeLines_Click() {
    QDialog dialog(this);
    dialog.setObjectName("frmScopeLines");
    dialog.setWindowTitle("Reference Lines");
    auto* layout = new QVBoxLayout(&dialog);
    auto* prompt = new QLabel("Levels for the line scope's dotted lines, separated by commas:\n"
                              "0 to 255, or shares of full scale (16,235 or 5%,95%). None: empty.",
                              &dialog);
    auto* txtScopeLines = new QLineEdit(ScopeLinesText(model_.settings().scopeLines), &dialog);
    txtScopeLines->setObjectName("txtScopeLines");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->setObjectName("cmdScopeLines");
    layout->addWidget(prompt);
    layout->addWidget(txtScopeLines);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    desktop().showModal(dialog);
    if (dialog.result() != QDialog::Accepted) return;
    const auto levels = ParseScopeLines(txtScopeLines->text());
    if (!levels) {
        desktop().warningBox(this,
                             QStringLiteral("'%1' is not a list of levels from 0 to 255 or of shares from 0% to "
                                            "100%, at most %2 of them.")
                                 .arg(txtScopeLines->text(), QString::number(kMaxScopeLines)),
                             "Reference Lines");
        return;
    }
    model_.Set(&Settings::scopeLines, *levels);
}

}  // namespace vistrel
