#pragma once
// The bands dialog (Tools > False Colour Bands...): false colour's bands, each a range of
// Y levels with its colour and its name in the legend, started from a preset or edited one
// by one, and the level the zebras mark from. It edits a copy; OK hands it back.

#include <QDialog>

#include <optional>
#include <vector>

#include "model/Settings.h"

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace vistrel {

class frmFalseColour : public QDialog {
    Q_OBJECT
public:
    frmFalseColour(const Settings& settings, QWidget* owner);

    // The bands as the table holds them, when every row reads as a band; else nothing,
    // and lblProblem says which row is wrong and why.
    std::optional<std::vector<FalseColourBand>> ReadBands();
    int zebraLevel() const;
    // The table filled with these bands (a preset's, or the settings').
    void ShowBands(const std::vector<FalseColourBand>& bands);

    // OK closes the dialog only when the bands read.
    void accept() override;

    // Controls, named as the program knows them.
    QComboBox* cboPreset = nullptr;
    QTableWidget* grdBands = nullptr;
    QPushButton* cmdAddBand = nullptr;
    QPushButton* cmdRemoveBand = nullptr;
    QSpinBox* spnZebraLevel = nullptr;
    QLabel* lblProblem = nullptr;
    QDialogButtonBox* cmdButtons = nullptr;

private:
    void cboPreset_Activated(int index);
    void cmdAddBand_Click();
    void cmdRemoveBand_Click();
    // A colour cell shows its colour behind its text once the text reads as one.
    void grdBands_Changed(int row, int column);

    std::vector<FalseColourPreset> presets_;
};

}  // namespace vistrel
