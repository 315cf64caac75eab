#pragma once
// The picture model: the loaded picture, the settings value and the file the view
// follows. No widgets: the main window edits it through its operations and shows
// the result; the instruments read it.

#include <QString>

#include <cstdint>
#include <vector>

#include "kernels/korvex.h"
#include "kernels/levels.h"
#include "model/Settings.h"

namespace vistrel {

// The probe on the loaded picture: the full-size pixel it reads, and whether it is locked.
struct Probe {
    bool locked = false;
    std::int32_t column = 0;
    std::int32_t row = 0;
    // Where the view shows it: its crosshair's column and row on the view, and whether
    // the crosshair is drawn (a press held on the view, or the probe locked).
    std::int32_t viewX = 0;
    std::int32_t viewY = 0;
    bool dragging = false;
};

// What the probe readouts show for one full-size pixel: red, green, blue and luma as the
// picture holds them (luma in the fourth byte), and its (U, V) pair under the standard.
struct ProbeReadout {
    int r = 0, g = 0, b = 0, y = 0;
    korvex::UvPair uv{0, 0};
};
ProbeReadout ReadoutOf(korvex::Pixel sample, korvex::LumaStandard standard);

// Everything a load produces. A load or reload builds a new one and the model takes it whole.
struct Picture {
    korvex::PixelGrid pixels;          // full size, luma in the fourth byte
    korvex::UvHistogram histogram;     // how many full-size pixels have each (U, V) pair
    korvex::LevelCounts levels;        // how many full-size pixels sit at each level of R, G, B and Y
    korvex::LumaStandard luma = korvex::LumaStandard::Rec601;  // what pixels and counts were analysed under
    float scaleX = 0;                  // full-size pixels per displayed pixel, across
    float scaleY = 0;                  // and down
    std::int32_t viewMaxX = 0;         // last displayed column
    std::int32_t viewMaxY = 0;         // last displayed row
    std::vector<korvex::Pixel> viewPixels;  // the displayed picture as loaded
    std::vector<korvex::Pixel> viewWork;    // the displayed picture as the display mode made it
    std::vector<korvex::Pixel> blankView;   // the all-channels-off picture, kept for reuse
    bool blankViewValid = false;
    Probe probe;
    // Which view pixels cover clipped full-size pixels (korvex::ClipMark bits), made the
    // first time they are shown and kept for the picture's life; and the view with them.
    std::vector<std::uint8_t> clipMarks;
    bool clipMarksValid = false;
    std::vector<korvex::Pixel> viewMarked;
    // The colour space the file says its numbers are in, empty when it means sRGB (or says
    // nothing); whether the pixels were converted from it to sRGB, and how many of them
    // left sRGB's gamut on the way and were clipped.
    QString colourSpace;
    bool colourConverted = false;
    std::uint64_t outOfGamut = 0;
    bool hdrToneMapped = false;  // an HDR signal (PQ or HLG) whose light the conversion rendered as SDR
};

// The file the view follows for a reload, and the version of it last read. It outlives
// a picture that failed to reload, so that the next save is tried again.
struct Source {
    QString file;   // absolute; empty when nothing is followed
    QString stamp;  // size and change times of the version last read
};

class Model {
public:
    Settings settings;

    bool loaded() const { return loaded_; }
    const Picture& picture() const { return picture_; }
    const Source& source() const { return source_; }

    // The new picture replaces the old one in one step.
    void Load(Picture picture);
    // No picture: the full-size buffers are let go.
    void Drop();
    // The loaded picture's luma, histogram and level counts formed again under the standard.
    void Reanalyse(korvex::LumaStandard standard);

    // The view's picture as the display settings (channels, mono, negative) make it.
    // The all-channels-off picture is kept for reuse: shown negative, it is inverted
    // in place and made again next time.
    const std::vector<korvex::Pixel>& DisplayView();
    // DisplayView with the clipping markers over it when the settings show them.
    const std::vector<korvex::Pixel>& ShownView();

    void LockProbe(std::int32_t column, std::int32_t row);
    void MoveProbe(std::int32_t column, std::int32_t row);
    void UnlockProbe() { picture_.probe.locked = false; }
    void PlaceProbeOnView(std::int32_t x, std::int32_t y) {
        picture_.probe.viewX = x;
        picture_.probe.viewY = y;
    }
    void SetProbeDragging(bool dragging) { picture_.probe.dragging = dragging; }

    void Follow(const QString& file, const QString& stamp) { source_ = {file, stamp}; }
    void NoteStamp(const QString& stamp) { source_.stamp = stamp; }

private:
    Picture picture_;
    Source source_;
    bool loaded_ = false;
};

}  // namespace vistrel
