#pragma once
// The picture model: the loaded picture with its fitted view, the probe on it, the
// settings value and the file the view follows. No widgets. A widget event edits it
// through its operations; each operation that changes something says so once, in one
// notice naming what changed, and the view and the instruments, which subscribe to it,
// redraw themselves from what the model now holds.
//
// A notice reaches its subscribers in the order they subscribed. The main window and its
// workspace make them in the order a user sees a probe's redraws: the view (crosshair,
// readouts, patch), then the vectorscope, then the line scope and the other instruments.

#include <QFlags>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "kernels/region.h"
#include "model/Picture.h"
#include "model/Reference.h"
#include "model/Settings.h"

namespace vistrel {

// What changed, as a notice names it; one notice may name several.
enum class Change : std::uint32_t {
    // The picture let go as a load or Clear begins: the controls go to their no-picture
    // state and the display modes back to the start, while the view and the instruments
    // keep what they show until the next Picture.
    Dropped = 1u << 0,
    Picture = 1u << 1,    // a new picture in, or none: what shows is replaced or emptied
    Analysis = 1u << 2,   // the same picture analysed again: its luma bytes and all its counts
    Probe = 1u << 3,      // the probe placed, moved, locked, unlocked or let go
    Display = 1u << 4,    // the view's channels, greys, negative or clipping marks
    Lamp = 1u << 5,       // the graticules' brightness
    Scope = 1u << 6,      // the line scope's channel, orientation or scale placement
    Zoom = 1u << 7,       // the vectorscope's zoom
    Graticule = 1u << 8,  // the luma standard or the skin-tone line, which the vectorscope's graticule shows
    HistogramScale = 1u << 9,
    Shown = 1u << 10,  // an instrument shown or hidden
    Colour = 1u << 11,  // what the decoder is asked to make of a tagged picture's colours
    Fit = 1u << 12,     // the same picture's view fitted again to a new size (the view alone redraws)
    HistogramChannel = 1u << 13,
    Reference = 1u << 16,  // a picture held as the reference, or the reference dropped
    Trace = 1u << 17,      // the traces' brightness
    // The region of interest set, kept for a new picture of its size, or let go: what the
    // instruments count, and the box the view draws.
    Region = 1u << 14,
    NitsScale = 1u << 25,          // an HDR picture's line scope and histogram scaled in nits, or not
    RawHistogramScale = 1u << 27,  // the raw histogram's axis or count scale
};
Q_DECLARE_FLAGS(Changes, Change)
Q_DECLARE_OPERATORS_FOR_FLAGS(Changes)

// What differs between two settings values, as a notice names it.
Changes ChangesBetween(const Settings& before, const Settings& after);

// The file the view follows for a reload, and the version of it last read. It outlives
// a picture that failed to reload, so that the next save is tried again.
struct Source {
    QString file;   // absolute; empty when nothing is followed
    QString stamp;  // size and change times of the version last read
};

// What the instruments count and draw: the pixels of the region of interest and their
// counts when there is one, else the whole picture's. The pixels are a rectangle of the
// full-size picture, rows `stride` pixels apart, `rect` where it lies in the picture.
struct Counted {
    const korvex::Pixel* pixels = nullptr;
    std::size_t width = 0;
    std::size_t height = 0;
    std::size_t stride = 0;
    korvex::PixelRect rect;
    const korvex::UvHistogram* histogram = nullptr;
    const korvex::LevelCounts* levels = nullptr;
};

class Model : public QObject {
    Q_OBJECT
public:
    const Settings& settings() const { return settings_; }
    bool loaded() const { return loaded_; }
    const Picture& picture() const { return picture_; }
    // What the picture's own samples hold: the decoder's counts, or, for a picture it left
    // uncounted (its colours mean sRGB), its pixels counted on this first ask and kept
    // with the picture, so that a picture pays for the count only once something shows
    // it. Nothing without a picture.
    const SignalStats* CountedSignal();
    const Source& source() const { return source_; }
    // The picture held to match against, kept from one load to the next; none at start.
    const Reference* reference() const { return reference_ ? &*reference_ : nullptr; }

    // The transfer the nits scale follows: the loaded picture's PQ or HLG while the scale is
    // on and the picture shows its stored values; else Sdr, and no nits anywhere.
    SignalTransfer NitsTransfer() const;

    // The settings replaced whole; a new luma standard analyses a loaded picture again.
    void Apply(const Settings& next);
    // One setting changed.
    template <class T>
    void Set(T Settings::*field, T value) {
        Settings next = settings_;
        next.*field = std::move(value);
        Apply(next);
    }

    // The new picture replaces the old one in one step.
    void Load(Picture picture);
    // No picture: the full-size buffers are let go, the probe goes and the display modes
    // start again; what shows stays until Load or Clear.
    void Drop();
    // No picture shown: the view and the instruments emptied.
    void Clear();
    // The loaded picture's view fitted again, to a view box that has grown or shrunk: its
    // pixels area-averaged afresh from the full-size picture, the probe kept on its pixel.
    // Nothing happens, and nothing is said, without a picture or when the fit is the same.
    void Refit(const ViewFit& fit);

    // The view's picture as the display settings (channels, mono, negative) make it, made
    // afresh from the view's pixels; the model is left as it was.
    std::vector<korvex::Pixel> DisplayView() const;
    // The view as the window shows it: DisplayView, or the false colour in its place when
    // the settings show it (it replaces the display modes); the clipping markers over that;
    // the sensor's clipping marks (a camera raw's photosites at white) over those; then the
    // zebra stripes on top. This is the one step that fills the view's buffers kept
    // in the picture: viewWork, the false colour and the marked view are made again at each
    // call; the clipping marks are made once for the view, and the luma marks again when
    // the marking changes. The reference holds until the next call.
    const std::vector<korvex::Pixel>& ShownView();

    // The probe, from the view: a left press at a pointer position in view pixels puts
    // it there, shown while the button is held, locked there with lock (Ctrl); a press
    // over a locked probe unlocks it first, and one outside the region lets the region go.
    // Moves and the release count only while the button holds an unlocked probe.
    void PressProbe(float x, float y, bool lock);
    void DragProbe(float x, float y);
    void ReleaseProbe();
    void UnlockProbe();
    // The locked probe moved to a full-size pixel, clamped into the picture (the crosshair
    // bars and the keys); nothing changes, and nothing is said, when it is there already.
    void MoveLockedProbe(std::int32_t column, std::int32_t row);
    // The probe locked at a full-size pixel, as a Ctrl+press would lock it but at the
    // pixel itself (a reload keeping it, --render's --probe).
    void LockProbe(std::int32_t column, std::int32_t row);

    // A reference held (the counts made from the picture loaded now, MakeReference), in
    // place of any before; and let go. Each says Reference.
    void HoldReference(Reference reference);
    void DropReference();
    // The region of interest, in full-size pixels, while there is one.
    const std::optional<korvex::PixelRect>& region() const { return region_; }
    // The region, or the whole picture, as the instruments count it.
    Counted counted() const;
    // The photosites under the region, or the whole sensor's, for a picture developed from
    // a camera raw that came with them; nothing otherwise.
    const RawCounts* rawCounted() const;
    // The region set: one wholly inside the loaded picture is counted and says so; any
    // other, or the same one again, changes nothing and gives false.
    bool SetRegion(const korvex::PixelRect& region);
    // The region from the view: the full-size pixels that the view pixels under two
    // pointer positions (corners, in either order) and those between them stand for.
    void SelectRegion(float x0, float y0, float x1, float y1);
    // No region: the instruments count the whole picture again.
    void ClearRegion();

    void Follow(const QString& file, const QString& stamp) { source_ = {file, stamp}; }
    void NoteStamp(const QString& stamp) { source_.stamp = stamp; }

Q_SIGNALS:
    void changed(vistrel::Changes what);

private:
    // The probe at a full-size pixel and at the view pixel given, its sample read again.
    void PlaceProbe(std::int32_t column, std::int32_t row, std::int32_t viewX, std::int32_t viewY);
    void Say(Changes what) { Q_EMIT changed(what); }
    // The display modes' picture into `out`, resized to the view.
    void MakeDisplayView(std::vector<korvex::Pixel>& out) const;
    // The view's luma marks for the bands and zebra level the settings hold, made again
    // when they changed; and the false-colour view.
    const std::vector<std::uint32_t>& LumaMarksOfView();
    const std::vector<korvex::Pixel>& FalseColourView();
    // The region's counts formed again from the picture's pixels under its luma standard.
    void CountRegion();

    Settings settings_;
    Picture picture_;
    Source source_;
    std::optional<Reference> reference_;
    bool loaded_ = false;
    // The region and the size of the picture it was drawn on: it outlives a load that drops
    // the picture, and a new picture of that size keeps it.
    std::optional<korvex::PixelRect> region_;
    std::int32_t regionWidth_ = 0;
    std::int32_t regionHeight_ = 0;
    korvex::RegionCounts regionCounts_;
    std::optional<RawCounts> regionRaw_;  // the photosites under the region
};

}  // namespace vistrel
