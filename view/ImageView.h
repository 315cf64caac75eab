#pragma once
// The picture view and what works on it: the fitted picture in its display modes (the
// channel boxes and the Select menu), the probe with its crosshair, crosshair bars,
// readouts and colour patch, the keys that move a locked probe, and the lamp. Each
// widget event edits the model; the model's notices redraw the view. The main window
// lays it out among its own controls and holds it.

#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QRect>

#include <optional>

#include "model/Model.h"
#include "platform/PictureBox.h"

class QAction;
class QCheckBox;
class QColor;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QScrollBar;

namespace vistrel {

class ImageView : public QObject {
    Q_OBJECT
public:
    // The view's controls made on client at their design places, the Select menu added to
    // bar, and the view subscribed to the model's notices.
    ImageView(Model& model, QWidget& client, QMenuBar& bar);

    // The view's outer height as designed (5010 twips): every picture whose width then
    // fits the window is shown this tall.
    static constexpr int kViewOuterHeight = 334;
    // The outer width the view may take: from its left edge to the client area's right edge,
    // or the width of the room a growing workspace gives it.
    int Room() const;
    // The outer height a picture is fitted to: the design's, or the room's.
    int FitHeight() const { return room_ ? room_->height() : kViewOuterHeight; }
    // The device pixels to a logical pixel the view's picture is fitted for: its screen's,
    // or 1 once KeepDesignRatio has been called.
    double Ratio() const;
    // The view fitted in logical pixels whatever the screen, as --render writes it.
    void KeepDesignRatio() { designRatio_ = true; }
    // The view box fitted to a picture of this size in the room the view has now, at Ratio.
    ViewFit FitFor(int pictureWidth, int pictureHeight) const;
    // The room the view box grows in, in the client area's pixels (the crosshair bars go just
    // above and left of it); the picture fitted to it is centred there. Without one the view
    // keeps the design's place and height, the picture at its left edge.
    void SetRoom(std::optional<QRect> room);
    // The note line names the loaded picture's colours (ColourNote), also in its tip; the
    // status line, which readouts and messages take for a while, is empty again.
    void ShowColourNote();
    // Tools > False Colour, Zebra and the bands dialog, added at the end of the Tools menu.
    void AddViewTools(QMenu& tools);

    // Key preview (virtual-key codes, the shift state's bit 2 for Ctrl): the keys that move
    // a locked probe are taken, and keyCode set to 0; every other key passes on.
    void Form_KeyDown(int& keyCode, int shift);

    // Controls, named as the program knows them.
    PictureBox* picImg = nullptr;
    PictureBox* picHidden = nullptr;  // never shown: the colour transparent parts are put over
    QScrollBar* hscrCross = nullptr;
    QScrollBar* vscrCross = nullptr;
    QFrame* fraChannels = nullptr;
    QCheckBox* chkChannel[3] = {};
    QCheckBox* chkChroma = nullptr;
    QCheckBox* chkNeg = nullptr;
    QLabel* lblPosn = nullptr;
    QLabel* lblStatus = nullptr;
    // The colour note, on a line of its own across the window (its status bar): no readout
    // or message takes its place, and it has the room a long note needs.
    QLabel* lblNote = nullptr;
    QFrame* shpPatch = nullptr;
    QLabel* lblX[1] = {};
    QScrollBar* hscrLamp = nullptr;
    QMenu* mnuSelect = nullptr;
    QMenu* mnuSelectChannels = nullptr;
    QAction* mnuSelectChanR = nullptr;
    QAction* mnuSelectChanG = nullptr;
    QAction* mnuSelectChanB = nullptr;
    QAction* mnuSep3 = nullptr;
    QAction* mnuSelectChroma = nullptr;
    QAction* mnuSelectNeg = nullptr;
    QAction* mnuSelectClipping = nullptr;
    QAction* mnuSep5 = nullptr;
    QAction* mnuToolsFalseColour = nullptr;
    QAction* mnuToolsZebra = nullptr;
    QAction* mnuToolsFalseColourBands = nullptr;

private:
    void picImg_MouseDown(int button, int shift, float x, float y);
    void picImg_MouseMove(int button, int shift, float x, float y);
    void picImg_MouseUp(int button, int shift, float x, float y);
    void hscrCross_Change() { TrackCrossBars(); }
    void vscrCross_Change() { TrackCrossBars(); }
    void TrackCrossBars();
    // A box's click sets the display modes as all five boxes say; index is the channel
    // box's (0 to 2), 4 for the greys and the negative.
    void chkChannel_Click(int index);
    void chkChroma_Click();
    void chkNeg_Click();
    // A menu item's click sets its own mode as its mark says.
    void SetChannel(int index, bool shown);
    void mnuSelectChanR_Click();
    void mnuSelectChanG_Click();
    void mnuSelectChanB_Click();
    void mnuSelectChroma_Click();
    void mnuSelectNeg_Click();
    void mnuSelectClipping_Click();
    void mnuToolsFalseColour_Click();
    void mnuToolsZebra_Click();
    // The bands dialog; OK puts its bands and zebra level in the settings.
    void mnuToolsFalseColourBands_Click();
    void hscrLamp_Change();

    // The model's notice: what it names is shown again.
    void ModelChanged(Changes what);
    // Dropped: the controls in their no-picture state; what the view shows stays.
    void ResetControls();
    // A new picture: the view fitted to it, the bars spanning it, the channel controls on.
    void ShowLoadedPicture();
    // No picture: the view emptied, at its design width.
    void ClearPicture();
    // The note line: the colour note, and the legend of false colour and zebras when shown.
    void ShowNote();
    // The boxes, their menu marks and the lamp as the settings say.
    void ShowSettings();
    // The view as the display mode and the clipping markers make it, any crosshair over it.
    void ShowView();
    // The probe as the model holds it: the crosshair moved there, its readouts and patch,
    // the bars and the channel controls as a locked probe wants them.
    void ShowProbe();
    // The probed pixel's position and values, and its colour in the patch.
    void ShowReadouts();
    // The crosshair drawn with the not-XOR pen, at a view position; drawn twice, it is gone.
    void DrawCrosshair(QPoint at);
    // The region's box drawn with the not-XOR pen round view pixels box.left() .. right(),
    // top() .. bottom(); drawn twice, it is gone.
    void DrawRegionBox(const QRect& box);
    // The box as a Shift+drag under way, or else the model's region, wants it.
    void ShowRegion();
    void SetPatchColour(const QColor& colour);

    // The view box and its crosshair bars where the room wants them.
    void PlaceInRoom();

    Model& model_;
    std::optional<QRect> room_;
    // Where the crosshair is drawn on the view now, if it is.
    std::optional<QPoint> crosshair_;
    // The region's box as drawn on the view now, if it is; and a Shift+drag's corners, in
    // pointer positions, while the button is held.
    std::optional<QRect> regionBox_;
    std::optional<QPointF> regionFrom_;
    QPointF regionTo_;
    // The Select menu's greys and negative items are enabled by the first picture.
    bool selectItemsOn_ = false;
    bool designRatio_ = false;
};

}  // namespace vistrel
