#include "view/ImageView.h"

#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QSignalBlocker>

#include "platform/Controls.h"
#include "platform/Dib.h"
#include "platform/FittingText.h"
#include "platform/Input.h"
#include "platform/Numbers.h"
#include "platform/Desktop.h"
#include "view/frmFalseColour.h"

namespace vistrel {

using korvex::ClampValue;

namespace {

// The crosshair bars' large step: Ctrl and an arrow key move a locked probe this far.
// (The vertical bar's own large step follows each picture's height.)
constexpr int kCrossLargeStep = 10;

// Virtual-key codes of the keys a locked probe answers to.
enum KeyCode : int { kEscape = 27, kEnd = 35, kHome = 36, kLeft = 37, kUp = 38, kRight = 39, kDown = 40 };

QString Digits(double value) { return FormatNumber(value, "000"); }

// The design's places of the view and its crosshair bars, in twips.
QRect DesignView() { return TwipsRect(240, 225, 30, 5010); }
QRect DesignAcross() { return TwipsRect(240, 30, 5010, 195); }
QRect DesignDown() { return TwipsRect(15, 225, 195, 5010); }

// The legend of what the view's false colour and zebras show, for the note line (rich
// text: each band's colour as a square before its levels, and the zebra level) and for
// its tip (plain, each band named). Empty when neither is shown.
struct Legend {
    QString line;
    QString tip;
};

Legend LegendOf(const Settings& settings) {
    Legend legend;
    const QString square = QStringLiteral("\u25A0");
    if (settings.falseColour) {
        QStringList shown, named;
        for (const FalseColourBand& band : settings.falseColourBands) {
            const QString levels = QStringLiteral("%1-%2").arg(band.low).arg(band.high);
            shown << QStringLiteral("<span style=\"color:#%1\">%2</span>%3")
                         .arg(band.colour & 0xFFFFFFu, 6, 16, QLatin1Char('0'))
                         .arg(square, levels);
            named << (band.name.isEmpty() ? levels : levels + " " + band.name);
        }
        legend.line = shown.join(' ');
        legend.tip = "False colour by Y: " + named.join(", ") + "; other levels as grey";
    }
    if (settings.zebra) {
        const QString zebra = QStringLiteral("Zebra %1+").arg(settings.zebraLevel);
        legend.line += (legend.line.isEmpty() ? "" : " &middot; ") + zebra;
        legend.tip += (legend.tip.isEmpty() ? "" : "\n") + QStringLiteral("Zebra stripes where Y is %1 or more").arg(settings.zebraLevel);
    }
    return legend;
}

}  // namespace

ImageView::ImageView(Model& model, QWidget& client, QMenuBar& bar) : QObject(&client), model_(model) {
    QWidget* const at = &client;
    hscrCross = MakeScrollBar(at, "hscrCross", Qt::Horizontal, DesignAcross(), 333, 1, kCrossLargeStep);
    vscrCross = MakeScrollBar(at, "vscrCross", Qt::Vertical, DesignDown(), 333, 166, kCrossLargeStep);
    hscrCross->hide();
    vscrCross->hide();

    // The view: a one-pixel border, so its empty design width of 2 pixels shows no picture.
    picImg = new PictureBox(1, 0xFFFFFF, at);
    picImg->setObjectName("picImg");
    picImg->setGeometry(DesignView());
    picImg->setCursor(Qt::CrossCursor);
    picImg->setFocusPolicy(Qt::StrongFocus);
    picImg->setAcceptDrops(true);

    picHidden = new PictureBox(0, CompositingBackground(client.palette()), at);
    picHidden->setObjectName("picHidden");
    picHidden->setGeometry(TwipsRect(0, 5318, 255, 255));
    picHidden->hide();

    fraChannels = new QFrame(at);
    fraChannels->setObjectName("fraChannels");
    fraChannels->setGeometry(TwipsRect(3870, 5325, 3645, 270));
    fraChannels->setFrameShape(QFrame::NoFrame);
    const char* const channelNames[3] = {"chkChannel[0]", "chkChannel[1]", "chkChannel[2]"};
    const char* const channelCaptions[3] = {"R", "G", "B"};
    const int channelLefts[3] = {60, 575, 1090};
    for (int i = 0; i < 3; ++i)
        chkChannel[i] =
            MakeCheckBox(fraChannels, channelNames[i], channelCaptions[i], TwipsRect(channelLefts[i], -15, 405, 240), true);
    chkChroma = MakeCheckBox(fraChannels, "chkChroma", "B/W Sep", TwipsRect(1785, -15, 1005, 240), false);
    chkChroma->setToolTip("Show Single Channels as B & W");
    chkNeg = MakeCheckBox(fraChannels, "chkNeg", "Neg", TwipsRect(2880, -15, 690, 240), false);
    fraChannels->hide();

    QFont bold = client.font();
    bold.setBold(true);
    lblPosn = new QLabel(at);
    lblPosn->setObjectName("lblPosn");
    lblPosn->setGeometry(TwipsRect(315, 5325, 1155, 240));
    lblPosn->setAlignment(Qt::AlignCenter);
    lblPosn->setFont(bold);
    lblStatus = new FittingLabel(at);
    lblStatus->setObjectName("lblStatus");
    lblStatus->setGeometry(TwipsRect(1605, 5325, 1710, 240));
    lblStatus->setAlignment(Qt::AlignCenter);
    lblStatus->setFont(bold);

    lblNote = new QLabel(at);
    lblNote->setObjectName("lblNote");
    lblNote->setFont(bold);

    shpPatch = new QFrame(at);
    shpPatch->setObjectName("shpPatch");
    shpPatch->setGeometry(TwipsRect(3435, 5280, 330, 330));
    shpPatch->setFrameShape(QFrame::Box);
    shpPatch->setAutoFillBackground(true);

    lblX[0] = new QLabel("Scale Bright", at);
    lblX[0]->setObjectName("lblX[0]");
    lblX[0]->setGeometry(TwipsRect(1508, 6090, 855, 195));
    // The design's narrow face fitted this caption into 57 pixels; ours may need a
    // smaller or narrower one, never below a readable size. Should even that not
    // fit, the caption takes the width it needs, centred where its box was.
    lblX[0]->setFont(FittingFont(client.font(), lblX[0]->text(), lblX[0]->width(), kSmallestReadablePoints));
    const int needed = QFontMetrics(lblX[0]->font()).horizontalAdvance(lblX[0]->text());
    if (needed > lblX[0]->width()) {
        const QRect box = lblX[0]->geometry();
        lblX[0]->setGeometry(box.center().x() - needed / 2, box.top(), needed, box.height());
        lblX[0]->setAlignment(Qt::AlignCenter);
    }
    hscrLamp = MakeScrollBar(at, "hscrLamp", Qt::Horizontal, TwipsRect(1050, 6345, 1770, 165), kLampMax,
                             model_.settings().lamp, 20);
    hscrLamp->setSingleStep(5);
    hscrLamp->setFocusPolicy(Qt::StrongFocus);

    mnuSelect = bar.addMenu("&Select");
    mnuSelect->setObjectName("mnuSelect");
    mnuSelectChannels = mnuSelect->addMenu("&Channels");
    mnuSelectChannels->setObjectName("mnuSelectChannels");
    mnuSelectChannels->setEnabled(false);
    mnuSelectChanR = MakeItem(mnuSelectChannels, "mnuSelectChanR", "&Red", true, true);
    mnuSelectChanG = MakeItem(mnuSelectChannels, "mnuSelectChanG", "&Green", true, true);
    mnuSelectChanB = MakeItem(mnuSelectChannels, "mnuSelectChanB", "&Blue", true, true);
    mnuSep3 = MakeSeparator(mnuSelect, "mnuSep3");
    mnuSelectChroma = MakeItem(mnuSelect, "mnuSelectChroma", "Color &Seps as Mono", true, false);
    mnuSelectChroma->setEnabled(false);
    mnuSelectNeg = MakeItem(mnuSelect, "mnuSelectNeg", "Show &Negative Image", true, false);
    mnuSelectNeg->setEnabled(false);
    mnuSelectClipping = MakeItem(mnuSelect, "mnuSelectClipping", "Show C&lipping", true, false);

    for (int i = 0; i < 3; ++i) connect(chkChannel[i], &QCheckBox::toggled, this, [this, i] { chkChannel_Click(i); });
    connect(chkChroma, &QCheckBox::toggled, this, [this] { chkChroma_Click(); });
    connect(chkNeg, &QCheckBox::toggled, this, [this] { chkNeg_Click(); });
    connect(hscrCross, &QScrollBar::valueChanged, this, [this] { hscrCross_Change(); });
    connect(vscrCross, &QScrollBar::valueChanged, this, [this] { vscrCross_Change(); });
    connect(hscrLamp, &QScrollBar::valueChanged, this, [this] { hscrLamp_Change(); });
    picImg->onMouseDown = [this](int b, int s, float x, float y) { picImg_MouseDown(b, s, x, y); };
    picImg->onMouseMove = [this](int b, int s, float x, float y) { picImg_MouseMove(b, s, x, y); };
    picImg->onMouseUp = [this](int b, int s, float x, float y) { picImg_MouseUp(b, s, x, y); };
    // On a screen of other device pixels the picture is fitted to them (nothing, if it is already).
    picImg->onRatioChange = [this] {
        if (model_.loaded()) model_.Refit(FitFor(model_.picture().width(), model_.picture().height()));
    };
    // A checkable menu item has toggled its own mark by the time its handler runs.
    connect(mnuSelectChanR, &QAction::triggered, this, [this] { mnuSelectChanR_Click(); });
    connect(mnuSelectChanG, &QAction::triggered, this, [this] { mnuSelectChanG_Click(); });
    connect(mnuSelectChanB, &QAction::triggered, this, [this] { mnuSelectChanB_Click(); });
    connect(mnuSelectChroma, &QAction::triggered, this, [this] { mnuSelectChroma_Click(); });
    connect(mnuSelectNeg, &QAction::triggered, this, [this] { mnuSelectNeg_Click(); });
    connect(mnuSelectClipping, &QAction::triggered, this, [this] { mnuSelectClipping_Click(); });
    connect(&model_, &Model::changed, this, &ImageView::ModelChanged);
}

int ImageView::Room() const { return room_ ? room_->width() : picImg->parentWidget()->width() - picImg->x(); }

double ImageView::Ratio() const { return designRatio_ ? 1.0 : picImg->devicePixelRatioF(); }

ViewFit ImageView::FitFor(int pictureWidth, int pictureHeight) const {
    return FitView(pictureWidth, pictureHeight, FitHeight(), picImg->border(), Room(), Ratio());
}

void ImageView::SetRoom(std::optional<QRect> room) {
    if (room == room_) return;
    room_ = room;
    if (!room_) {
        // The design's places, as the controls were made.
        picImg->move(DesignView().topLeft());
        hscrCross->move(DesignAcross().topLeft());
        vscrCross->move(DesignDown().topLeft());
        if (!model_.loaded()) ClearPicture();
        return;
    }
    if (!model_.loaded()) ClearPicture();
    PlaceInRoom();
}

void ImageView::PlaceInRoom() {
    if (!room_) return;
    const QRect& room = *room_;
    picImg->move(room.left() + std::max(0, (room.width() - picImg->width()) / 2),
                 room.top() + std::max(0, (room.height() - picImg->height()) / 2));
    hscrCross->setGeometry(picImg->x(), picImg->y() - hscrCross->height(), picImg->width(), hscrCross->height());
    vscrCross->setGeometry(picImg->x() - vscrCross->width(), picImg->y(), vscrCross->width(), picImg->height());
}

void ImageView::ShowColourNote() {
    ShowNote();
    lblStatus->clear();
}

void ImageView::ShowNote() {
    const QString note = model_.loaded() ? ColourNote(model_.picture(), model_.region(), model_.counted().clipped) : QString();
    const Legend legend = model_.loaded() ? LegendOf(model_.settings()) : Legend{};
    if (legend.line.isEmpty()) {
        lblNote->setTextFormat(Qt::AutoText);
        lblNote->setText(note);
        lblNote->setToolTip(note);
        return;
    }
    lblNote->setTextFormat(Qt::RichText);
    // In the regular weight, so that the default bands and a zebra fit the design's width.
    lblNote->setText(note.toHtmlEscaped() + " &middot; <span style=\"font-weight:normal\">" + legend.line + "</span>");
    lblNote->setToolTip(note + "\n" + legend.tip);
}

void ImageView::AddViewTools(QMenu& tools) {
    mnuSep5 = MakeSeparator(&tools, "mnuSep5");
    mnuToolsFalseColour = MakeItem(&tools, "mnuToolsFalseColour", "&False Colour", true, model_.settings().falseColour);
    mnuToolsZebra = MakeItem(&tools, "mnuToolsZebra", "&Zebra", true, model_.settings().zebra);
    mnuToolsFalseColourBands = MakeItem(&tools, "mnuToolsFalseColourBands", "False Colour &Bands...");
    connect(mnuToolsFalseColour, &QAction::triggered, this, [this] { mnuToolsFalseColour_Click(); });
    connect(mnuToolsZebra, &QAction::triggered, this, [this] { mnuToolsZebra_Click(); });
    connect(mnuToolsFalseColourBands, &QAction::triggered, this, [this] { mnuToolsFalseColourBands_Click(); });
}

// --- Widget events: each edits the model ---

void ImageView::picImg_MouseDown(int button, int shift, float x, float y) {
    const Picture& picture = model_.picture();
    if (button == kLeftButton && (shift & kShiftKey) != 0) {
        // Shift+drag: a region's box follows the pointer until the release sets it.
        if (!model_.loaded()) return;
        regionFrom_ = QPointF(x, y);
        regionTo_ = *regionFrom_;
        ShowRegion();
    } else if (button == kLeftButton) {
        // A Shift+drag whose release was lost ends here, its box taken away.
        if (regionFrom_) {
            regionFrom_.reset();
            ShowRegion();
        }
        model_.PressProbe(x, y, (shift & kCtrlKey) != 0);
    } else if (button == kRightButton) {
        if (!model_.loaded() || picture.probe.dragging) return;
        const auto W = static_cast<std::int64_t>(picture.width());
        const auto H = static_cast<std::int64_t>(picture.height());
        lblPosn->setText(Digits(static_cast<double>(W)) + " x " + Digits(static_cast<double>(H)));
        // Whole numbers all the way: the largest picture's 3 GiB must read exactly.
        lblStatus->setText(FormatNumber(static_cast<double>(W * H * 3 / 1024), "0,0") + " Kb");
    }
}

void ImageView::picImg_MouseMove(int button, int, float x, float y) {
    if (regionFrom_) {
        regionTo_ = QPointF(x, y);
        ShowRegion();
    } else if (button == kLeftButton) {
        model_.DragProbe(x, y);
    }
}

void ImageView::picImg_MouseUp(int button, int, float x, float y) {
    if (button == kLeftButton && regionFrom_) {
        const QPointF from = *regionFrom_;
        regionFrom_.reset();
        model_.SelectRegion(static_cast<float>(from.x()), static_cast<float>(from.y()), x, y);
        ShowRegion();
    } else if (button == kLeftButton) {
        model_.ReleaseProbe();
    } else if (button == kRightButton && !model_.picture().probe.dragging) {
        ShowColourNote();
        lblPosn->clear();
    }
}

void ImageView::TrackCrossBars() { model_.MoveLockedProbe(hscrCross->value(), vscrCross->value()); }

void ImageView::Form_KeyDown(int& keyCode, int shift) {
    if (keyCode == kEscape) {
        if (!model_.region() || !model_.loaded()) return;
        model_.ClearRegion();
        keyCode = 0;
        return;
    }
    const Picture& picture = model_.picture();
    const Probe& probe = picture.probe;
    if (!probe.locked) return;
    // Ctrl steps by the horizontal bar's large step on both axes.
    const int step = (shift & kCtrlKey) ? kCrossLargeStep : 1;
    switch (keyCode) {
        case kLeft: model_.MoveLockedProbe(probe.column - step, probe.row); break;
        case kRight: model_.MoveLockedProbe(probe.column + step, probe.row); break;
        case kUp: model_.MoveLockedProbe(probe.column, probe.row - step); break;
        case kDown: model_.MoveLockedProbe(probe.column, probe.row + step); break;
        case kHome:
            // The row first, as the vertical bar's change comes first.
            model_.MoveLockedProbe(probe.column, (picture.height() - 1) / 2);
            model_.MoveLockedProbe((picture.width() - 1) / 2, probe.row);
            break;
        case kEnd: break;
        default: return;
    }
    keyCode = 0;
}

void ImageView::chkChannel_Click(int) {
    Settings next = model_.settings();
    for (int i = 0; i < 3; ++i) next.channels[static_cast<std::size_t>(i)] = chkChannel[i]->isChecked();
    next.mono = chkChroma->isChecked();
    next.negative = chkNeg->isChecked();
    model_.Apply(next);
}

void ImageView::chkChroma_Click() { chkChannel_Click(4); }

void ImageView::chkNeg_Click() { chkChannel_Click(4); }

void ImageView::SetChannel(int index, bool shown) {
    std::array<bool, 3> channels = model_.settings().channels;
    channels[static_cast<std::size_t>(index)] = shown;
    model_.Set(&Settings::channels, channels);
}

void ImageView::mnuSelectChanR_Click() { SetChannel(0, mnuSelectChanR->isChecked()); }
void ImageView::mnuSelectChanG_Click() { SetChannel(1, mnuSelectChanG->isChecked()); }
void ImageView::mnuSelectChanB_Click() { SetChannel(2, mnuSelectChanB->isChecked()); }
void ImageView::mnuSelectChroma_Click() { model_.Set(&Settings::mono, mnuSelectChroma->isChecked()); }
void ImageView::mnuSelectNeg_Click() { model_.Set(&Settings::negative, mnuSelectNeg->isChecked()); }
void ImageView::mnuSelectClipping_Click() { model_.Set(&Settings::showClipping, mnuSelectClipping->isChecked()); }

void ImageView::mnuToolsFalseColour_Click() { model_.Set(&Settings::falseColour, mnuToolsFalseColour->isChecked()); }
void ImageView::mnuToolsZebra_Click() { model_.Set(&Settings::zebra, mnuToolsZebra->isChecked()); }

void ImageView::mnuToolsFalseColourBands_Click() {
    // A child of the main window, so that a compositor keeps it over it.
    frmFalseColour dialog(model_.settings(), picImg->window());
    desktop().showModal(dialog);
    if (dialog.result() != QDialog::Accepted) return;
    const std::optional<std::vector<FalseColourBand>> bands = dialog.ReadBands();
    if (!bands) return;
    Settings next = model_.settings();
    next.falseColourBands = *bands;
    next.zebraLevel = dialog.zebraLevel();
    model_.Apply(next);
}

void ImageView::hscrLamp_Change() { model_.Set(&Settings::lamp, hscrLamp->value()); }

// --- The model's notices: each shows what changed ---

void ImageView::ModelChanged(Changes what) {
    if (what & Change::Dropped) ResetControls();
    if (what & (Change::Dropped | Change::Display | Change::Lamp)) ShowSettings();
    if (what & Change::Picture) {
        if (model_.loaded())
            ShowLoadedPicture();
        else
            ClearPicture();
    } else if (what & Change::Fit) {
        ShowLoadedPicture();
    } else if (what & Change::Display) {
        ShowView();
    }
    // The legend follows the display settings; a load's own note comes with its picture.
    if ((what & Change::Display) && !(what & (Change::Dropped | Change::Picture)) && model_.loaded()) ShowNote();
    if (what & (Change::Probe | Change::Fit))
        ShowProbe();
    else if ((what & Change::Analysis) && model_.picture().probe.locked)
        ShowReadouts();
    if (what & (Change::Picture | Change::Fit | Change::Region)) ShowRegion();
    // The note names the region; a probe's readouts keep the status line meanwhile.
    if ((what & Change::Region) && model_.loaded()) ShowNote();
}

void ImageView::ResetControls() {
    // The crosshair and the region's box go with the picture they were drawn on, which the
    // next one replaces.
    crosshair_.reset();
    regionBox_.reset();
    regionFrom_.reset();
    lblStatus->clear();
    lblPosn->clear();
    SetPatchColour(picImg->parentWidget()->palette().color(QPalette::Window));
    hscrCross->hide();
    vscrCross->hide();
    fraChannels->hide();
    mnuSelectChannels->setEnabled(false);
}

void ImageView::ShowSettings() {
    const Settings& settings = model_.settings();
    for (int i = 0; i < 3; ++i) {
        const QSignalBlocker quiet(chkChannel[i]);
        chkChannel[i]->setChecked(settings.channels[static_cast<std::size_t>(i)]);
    }
    {
        const QSignalBlocker quietChroma(chkChroma);
        const QSignalBlocker quietNeg(chkNeg);
        chkChroma->setChecked(settings.mono);
        chkNeg->setChecked(settings.negative);
    }
    mnuSelectChanR->setChecked(settings.channels[0]);
    mnuSelectChanG->setChecked(settings.channels[1]);
    mnuSelectChanB->setChecked(settings.channels[2]);
    mnuSelectChroma->setChecked(settings.mono);
    mnuSelectNeg->setChecked(settings.negative);
    mnuSelectClipping->setChecked(settings.showClipping);
    if (mnuToolsFalseColour != nullptr) mnuToolsFalseColour->setChecked(settings.falseColour);
    if (mnuToolsZebra != nullptr) mnuToolsZebra->setChecked(settings.zebra);
    // Two channels together have no single-channel greys, and no negative from the menu.
    const bool two = MixOf(settings.channels) == ChannelMix::Two;
    chkChroma->setEnabled(!two);
    mnuSelectChroma->setEnabled(selectItemsOn_ && !two);
    mnuSelectNeg->setEnabled(selectItemsOn_ && !two);
    const QSignalBlocker quietLamp(hscrLamp);
    hscrLamp->setValue(settings.lamp);
}

void ImageView::ShowLoadedPicture() {
    const Picture& picture = model_.picture();
    const int W = picture.width();
    const int H = picture.height();
    {
        const QSignalBlocker quietAcross(hscrCross);
        const QSignalBlocker quietDown(vscrCross);
        hscrCross->setMaximum(static_cast<std::int16_t>(W - 1));
        vscrCross->setMaximum(static_cast<std::int16_t>(H - 1));
        vscrCross->setPageStep(ClampValue(1, korvex::CombineValues(H / 100, 10), 10));
    }
    // The view keeps its outer height and takes the picture's proportions, or, for a
    // picture too wide for the window, the window's width and a height that follows.
    // At a ratio other than 1 the view's pixels are device pixels: the box is the fit's own.
    const int frame = 2 * picImg->border();
    if (picture.fit.ratio == 1)
        picImg->setOuterSize(picture.viewMaxX + 1 + frame, picture.viewMaxY + 1 + frame);
    else
        picImg->setOuterSize(picture.fit.outerWidth, picture.fit.outerHeight, picture.fit.ratio);
    crosshair_.reset();
    regionBox_.reset();
    ShowView();
    picImg->repaint();

    // The crosshair bars span the picture; the horizontal one stops 4 pixels short of the
    // window's edge when the picture reaches it.
    const int wv = picImg->width();
    const int room = Room();
    hscrCross->resize(room > wv ? wv : room - 4, hscrCross->height());
    vscrCross->resize(vscrCross->width(), picImg->height());
    PlaceInRoom();

    fraChannels->setEnabled(true);
    fraChannels->show();
    mnuSelectChannels->setEnabled(true);
    selectItemsOn_ = true;
    ShowSettings();
}

void ImageView::ClearPicture() {
    crosshair_.reset();
    regionBox_.reset();
    regionFrom_.reset();
    lblNote->clear();
    lblNote->setToolTip({});
    picImg->clearPicture();
    picImg->setOuterSize(2, FitHeight());
    vscrCross->resize(vscrCross->width(), FitHeight());
    PlaceInRoom();
}

void ImageView::ShowView() {
    // With no picture loaded the emptied view keeps showing nothing.
    if (!model_.loaded()) return;
    const std::vector<Pixel>& buffer = model_.ShownView();
    Surface& view = picImg->surface();
    if (view.isNull() || buffer.size() != static_cast<std::size_t>(view.width()) * view.height()) return;
    SetDIBits(view, 0, view.height(), buffer.data(), TopDownHeader(view.width(), view.height()));
    // A crosshair on the view is drawn again over the new picture, so that drawing it
    // once more still erases it.
    if (crosshair_) DrawCrosshair(*crosshair_);
    if (regionBox_) DrawRegionBox(*regionBox_);
    picImg->update();
}

void ImageView::ShowProbe() {
    const Probe& probe = model_.picture().probe;
    const bool shown = probe.dragging || probe.locked;
    if (crosshair_) DrawCrosshair(*crosshair_);
    crosshair_.reset();
    if (shown) {
        crosshair_ = QPoint(probe.viewX, probe.viewY);
        DrawCrosshair(*crosshair_);
    }
    if (probe.locked) {
        const QSignalBlocker quietAcross(hscrCross);
        const QSignalBlocker quietDown(vscrCross);
        hscrCross->setValue(probe.column);
        vscrCross->setValue(probe.row);
        hscrCross->show();
        vscrCross->show();
    } else {
        vscrCross->hide();
        hscrCross->hide();
    }
    // The channels stay as they are while a probe is locked.
    fraChannels->setEnabled(!probe.locked);
    mnuSelectChannels->setEnabled(!probe.locked);
    if (shown) {
        ShowReadouts();
    } else {
        ShowColourNote();
        lblPosn->clear();
        SetPatchColour(picImg->parentWidget()->palette().color(QPalette::Window));
    }
}

void ImageView::ShowReadouts() {
    const Probe& probe = model_.picture().probe;
    lblPosn->setText(Digits(probe.column) + " / " + Digits(probe.row));
    const ProbeReadout readout = ReadoutOf(probe.sample, model_.settings().luma);
    lblStatus->setText(Digits(readout.r) + ", " + Digits(readout.g) + ", " + Digits(readout.b) + ", " +
                       Digits(readout.y));
    SetPatchColour(QColor::fromRgb(OpaquePixel(korvex::PixelToColor(probe.sample))));
}

void ImageView::DrawCrosshair(QPoint at) {
    Dc& dc = picImg->dc();
    const DrawMode mode = dc.rop2();
    dc.SetROP2(DrawMode::NotXorPen);
    dc.SetDCPenColor(0);  // the view's foreground colour: black, so the not-XOR pen inverts
    const Picture& picture = model_.picture();
    dc.Line(at.x(), 0, at.x(), picture.viewMaxY);
    dc.Line(0, at.y(), picture.viewMaxX, at.y());
    dc.SetROP2(mode);
    picImg->update();
}

void ImageView::ShowRegion() {
    std::optional<QRect> wanted;
    const Picture& picture = model_.picture();
    if (!model_.loaded()) {
        // Nothing to draw on.
    } else if (regionFrom_) {
        const int x0 = ViewPosition(static_cast<float>(regionFrom_->x()), picture.viewMaxX);
        const int y0 = ViewPosition(static_cast<float>(regionFrom_->y()), picture.viewMaxY);
        const int x1 = ViewPosition(static_cast<float>(regionTo_.x()), picture.viewMaxX);
        const int y1 = ViewPosition(static_cast<float>(regionTo_.y()), picture.viewMaxY);
        wanted = QRect(QPoint(std::min(x0, x1), std::min(y0, y1)), QPoint(std::max(x0, x1), std::max(y0, y1)));
    } else if (const auto& region = model_.region()) {
        const auto x = static_cast<std::int32_t>(region->x);
        const auto y = static_cast<std::int32_t>(region->y);
        const auto right = static_cast<std::int32_t>(region->x + region->width - 1);
        const auto bottom = static_cast<std::int32_t>(region->y + region->height - 1);
        wanted = QRect(QPoint(ViewPositionOf(x, picture.scaleX, picture.viewMaxX),
                              ViewPositionOf(y, picture.scaleY, picture.viewMaxY)),
                       QPoint(ViewPositionOf(right, picture.scaleX, picture.viewMaxX),
                              ViewPositionOf(bottom, picture.scaleY, picture.viewMaxY)));
    }
    if (wanted == regionBox_) return;
    if (regionBox_) DrawRegionBox(*regionBox_);
    regionBox_ = wanted;
    if (regionBox_) DrawRegionBox(*regionBox_);
}

void ImageView::DrawRegionBox(const QRect& box) {
    Dc& dc = picImg->dc();
    const DrawMode mode = dc.rop2();
    dc.SetROP2(DrawMode::NotXorPen);
    dc.SetDCPenColor(0);  // black: the not-XOR pen inverts, as for the crosshair
    dc.Rectangle(box.left(), box.top(), box.right() + 1, box.bottom() + 1);
    dc.SetROP2(mode);
    picImg->update();
}

void ImageView::SetPatchColour(const QColor& colour) {
    QPalette patch = shpPatch->palette();
    patch.setColor(QPalette::Window, colour);
    shpPatch->setPalette(patch);
}

}  // namespace vistrel
