#include "view/frmFalseColour.h"

#include <QColor>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vistrel {

namespace {

enum Column : int { kLow = 0, kHigh = 1, kColour = 2, kName = 3, kColumns = 4 };

constexpr int kTopLevel = 255;

QString ColourText(std::uint32_t colour) {
    return QStringLiteral("#%1").arg(colour & 0xFFFFFFu, 6, 16, QLatin1Char('0')).toUpper();
}

// "#RRGGBB" or "RRGGBB", either case.
std::optional<std::uint32_t> ReadColour(QString text) {
    text = text.trimmed();
    if (text.startsWith('#')) text.remove(0, 1);
    if (text.size() != 6) return std::nullopt;
    bool ok = false;
    const std::uint32_t value = text.toUInt(&ok, 16);
    if (!ok) return std::nullopt;
    return value;
}

std::optional<int> ReadLevel(const QTableWidgetItem* item) {
    if (item == nullptr) return std::nullopt;
    bool ok = false;
    const int value = item->text().trimmed().toInt(&ok, 10);
    if (!ok || value < 0 || value > kTopLevel) return std::nullopt;
    return value;
}

QString CellText(const QTableWidget& table, int row, int column) {
    const QTableWidgetItem* item = table.item(row, column);
    return item == nullptr ? QString() : item->text();
}

}  // namespace

frmFalseColour::frmFalseColour(const Settings& settings, QWidget* owner)
    : QDialog(owner), presets_(FalseColourPresets()) {
    setObjectName("frmFalseColour");
    setWindowTitle("False Colour Bands");
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    auto* presetRow = new QHBoxLayout;
    auto* presetCaption = new QLabel("&Preset:", this);
    cboPreset = new QComboBox(this);
    cboPreset->setObjectName("cboPreset");
    for (const FalseColourPreset& preset : presets_) cboPreset->addItem(preset.name);
    cboPreset->setPlaceholderText("Custom");
    presetCaption->setBuddy(cboPreset);
    presetRow->addWidget(presetCaption);
    presetRow->addWidget(cboPreset, 1);
    layout->addLayout(presetRow);

    grdBands = new QTableWidget(0, kColumns, this);
    grdBands->setObjectName("grdBands");
    grdBands->setHorizontalHeaderLabels({"From Y", "To Y", "Colour", "Name"});
    for (const int column : {kLow, kHigh, kColour})
        grdBands->horizontalHeader()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    grdBands->horizontalHeader()->setSectionResizeMode(kName, QHeaderView::Stretch);
    grdBands->verticalHeader()->hide();
    grdBands->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdBands->setWordWrap(false);
    // Room for the default bands and a name as long as theirs, without scrolling.
    grdBands->setMinimumSize(420, grdBands->horizontalHeader()->sizeHint().height() +
                                      8 * grdBands->verticalHeader()->defaultSectionSize() + 4);
    layout->addWidget(grdBands, 1);

    auto* rowButtons = new QHBoxLayout;
    cmdAddBand = new QPushButton("&Add Band", this);
    cmdAddBand->setObjectName("cmdAddBand");
    cmdAddBand->setAutoDefault(false);
    cmdRemoveBand = new QPushButton("&Remove Band", this);
    cmdRemoveBand->setObjectName("cmdRemoveBand");
    cmdRemoveBand->setAutoDefault(false);
    rowButtons->addWidget(cmdAddBand);
    rowButtons->addWidget(cmdRemoveBand);
    rowButtons->addStretch(1);
    layout->addLayout(rowButtons);

    auto* zebraRow = new QHBoxLayout;
    auto* zebraCaption = new QLabel("&Zebra stripes from Y:", this);
    spnZebraLevel = new QSpinBox(this);
    spnZebraLevel->setObjectName("spnZebraLevel");
    spnZebraLevel->setRange(0, kTopLevel);
    spnZebraLevel->setValue(settings.zebraLevel);
    zebraCaption->setBuddy(spnZebraLevel);
    zebraRow->addWidget(zebraCaption);
    zebraRow->addWidget(spnZebraLevel);
    zebraRow->addStretch(1);
    layout->addLayout(zebraRow);

    lblProblem = new QLabel(this);
    lblProblem->setObjectName("lblProblem");
    lblProblem->setWordWrap(true);
    layout->addWidget(lblProblem);

    cmdButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    cmdButtons->setObjectName("cmdButtons");
    layout->addWidget(cmdButtons);

    ShowBands(settings.falseColourBands);

    connect(cboPreset, &QComboBox::activated, this, [this](int index) { cboPreset_Activated(index); });
    connect(cmdAddBand, &QPushButton::clicked, this, [this] { cmdAddBand_Click(); });
    connect(cmdRemoveBand, &QPushButton::clicked, this, [this] { cmdRemoveBand_Click(); });
    connect(grdBands, &QTableWidget::cellChanged, this, [this](int row, int column) { grdBands_Changed(row, column); });
    connect(cmdButtons, &QDialogButtonBox::accepted, this, &frmFalseColour::accept);
    connect(cmdButtons, &QDialogButtonBox::rejected, this, &frmFalseColour::reject);
}

void frmFalseColour::ShowBands(const std::vector<FalseColourBand>& bands) {
    {
        const QSignalBlocker quiet(grdBands);
        grdBands->setRowCount(0);
        for (const FalseColourBand& band : bands) {
            const int row = grdBands->rowCount();
            grdBands->insertRow(row);
            grdBands->setItem(row, kLow, new QTableWidgetItem(QString::number(band.low)));
            grdBands->setItem(row, kHigh, new QTableWidgetItem(QString::number(band.high)));
            grdBands->setItem(row, kColour, new QTableWidgetItem(ColourText(band.colour)));
            grdBands->setItem(row, kName, new QTableWidgetItem(band.name));
            grdBands_Changed(row, kColour);
        }
    }
    int matching = -1;
    for (std::size_t k = 0; k < presets_.size(); ++k)
        if (presets_[k].bands == bands) matching = static_cast<int>(k);
    cboPreset->setCurrentIndex(matching);
    lblProblem->clear();
}

std::optional<std::vector<FalseColourBand>> frmFalseColour::ReadBands() {
    std::vector<FalseColourBand> bands;
    const auto fail = [this](int row, const QString& why) {
        lblProblem->setText(QStringLiteral("Band %1: %2").arg(row + 1).arg(why));
        return std::nullopt;
    };
    if (grdBands->rowCount() > static_cast<int>(korvex::kMaxLumaBands)) {
        lblProblem->setText(QStringLiteral("At most %1 bands.").arg(korvex::kMaxLumaBands));
        return std::nullopt;
    }
    for (int row = 0; row < grdBands->rowCount(); ++row) {
        const std::optional<int> low = ReadLevel(grdBands->item(row, kLow));
        const std::optional<int> high = ReadLevel(grdBands->item(row, kHigh));
        if (!low || !high) return fail(row, "the levels are whole numbers from 0 to 255.");
        if (*low > *high) return fail(row, "its first level is above its last.");
        const std::optional<std::uint32_t> colour = ReadColour(CellText(*grdBands, row, kColour));
        if (!colour) return fail(row, "the colour is written #RRGGBB.");
        bands.push_back({*low, *high, *colour, CellText(*grdBands, row, kName).trimmed()});
    }
    lblProblem->clear();
    return bands;
}

int frmFalseColour::zebraLevel() const { return spnZebraLevel->value(); }

void frmFalseColour::accept() {
    if (ReadBands()) QDialog::accept();
}

void frmFalseColour::cboPreset_Activated(int index) {
    if (index < 0 || index >= static_cast<int>(presets_.size())) return;
    ShowBands(presets_[static_cast<std::size_t>(index)].bands);
}

void frmFalseColour::cmdAddBand_Click() {
    if (grdBands->rowCount() >= static_cast<int>(korvex::kMaxLumaBands)) return;
    // A new band takes the middle level in grey, to be edited.
    const int row = grdBands->rowCount();
    {
        const QSignalBlocker quiet(grdBands);
        grdBands->insertRow(row);
        grdBands->setItem(row, kLow, new QTableWidgetItem("128"));
        grdBands->setItem(row, kHigh, new QTableWidgetItem("128"));
        grdBands->setItem(row, kColour, new QTableWidgetItem(ColourText(0x808080)));
        grdBands->setItem(row, kName, new QTableWidgetItem(QString()));
        grdBands_Changed(row, kColour);
    }
    cboPreset->setCurrentIndex(-1);
    grdBands->setCurrentCell(row, kLow);
}

void frmFalseColour::cmdRemoveBand_Click() {
    const int row = grdBands->currentRow();
    if (row < 0) return;
    grdBands->removeRow(row);
    cboPreset->setCurrentIndex(-1);
}

void frmFalseColour::grdBands_Changed(int row, int column) {
    if (!signalsBlocked() && !grdBands->signalsBlocked()) cboPreset->setCurrentIndex(-1);
    if (column != kColour) return;
    QTableWidgetItem* item = grdBands->item(row, column);
    if (item == nullptr) return;
    const std::optional<std::uint32_t> colour = ReadColour(item->text());
    const QSignalBlocker quiet(grdBands);
    if (!colour) {
        item->setData(Qt::BackgroundRole, {});
        item->setData(Qt::ForegroundRole, {});
        return;
    }
    const QColor shown = QColor::fromRgb(*colour);
    item->setBackground(shown);
    // Text that stays readable over its own colour.
    const int luma = (299 * shown.red() + 587 * shown.green() + 114 * shown.blue()) / 1000;
    item->setForeground(luma >= 128 ? Qt::black : Qt::white);
}

}  // namespace vistrel
