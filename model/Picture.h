#pragma once
// The loaded picture as the model holds it: its full-size pixels and counts, the view
// fitted to it with the mapping between the two, and the probe on it. Plain data and
// pure functions: a load's results assembled, positions mapped, readouts formed.

#include <QString>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "kernels/falsecolour.h"
#include "kernels/korvex.h"
#include "kernels/levels.h"
#include "kernels/region.h"
#include "decoding/Decode.h"
#include "model/RawCounts.h"
#include "platform/Surface.h"

namespace vistrel {

// The probe on the loaded picture: the full-size pixel it reads and what it read there,
// and where the view shows it.
struct Probe {
    bool locked = false;    // Ctrl+press: it stays after the release, moved by the bars and keys
    bool dragging = false;  // shown: a press held on the view, or the probe locked
    std::int32_t column = 0;
    std::int32_t row = 0;
    korvex::Pixel sample = 0;  // the full-size pixel there, luma in the fourth byte
    // Its crosshair's column and row on the view.
    std::int32_t viewX = 0;
    std::int32_t viewY = 0;
};

// What the probe readouts show for one full-size pixel: red, green, blue and luma as the
// picture holds them (luma in the fourth byte), and its (U, V) pair under the standard.
struct ProbeReadout {
    int r = 0, g = 0, b = 0, y = 0;
    korvex::UvPair uv{0, 0};
};
ProbeReadout ReadoutOf(korvex::Pixel sample, korvex::LumaStandard standard);

// The view box fitted to a picture: it keeps its outer height and takes the picture's
// proportions while that width fits in maxOuterWidth; a wider picture takes the whole of
// maxOuterWidth and a height that follows its proportions. Extreme proportions are held
// to at least one displayed column and row and at most the largest picture side, so
// that the fitted copy neither vanishes nor needs gigabytes. On a screen of `ratio` device
// pixels to the logical pixel the box keeps its logical size, and the view's pixels are the
// device pixels nearest its inner size (NearestDevicePixels), shown one to one.
struct ViewFit {
    int outerWidth = 0;   // logical pixels
    int outerHeight = 0;
    int width = 0;   // inner, in view pixels: logical at a ratio of 1, else device
    int height = 0;  // inner, in view pixels
    double ratio = 1;  // the device pixels to a logical pixel the view's pixels were made for
};
// No bound on the width but the largest picture side.
inline constexpr int kAnyViewWidth = std::numeric_limits<int>::max();
ViewFit FitView(int pictureWidth, int pictureHeight, int outerHeight, int border, int maxOuterWidth = kAnyViewWidth,
                double ratio = 1);

// The mapping between the view and the full-size picture, one axis at a time; scale is
// full-size pixels per view pixel (ScaleX or ScaleY), last the view's last column or row.
// The view pixel under a pointer position, which may lie outside the view: nearest,
// clamped to 0..last.
std::int32_t ViewPosition(float pointer, std::int32_t last);
// The full-size pixel a view pixel stands for: nearest(view x scale), clamped into a
// picture of `size` pixels (an enlarged picture's last view pixel maps to size itself).
std::int32_t PicturePosition(std::int32_t view, float scale, std::int32_t size);
// The view pixel that shows a full-size pixel: nearest(position / scale), clamped to
// 0..last; on a reduced picture several full-size pixels share one.
std::int32_t ViewPositionOf(std::int32_t position, float scale, std::int32_t last);

// Everything a load produces. A load or reload builds a new one and the model takes it whole.
struct Picture {
    QString file;                      // the file it was read from
    korvex::PixelGrid pixels;          // full size, luma in the fourth byte
    korvex::UvHistogram histogram;     // how many full-size pixels have each (U, V) pair
    korvex::LevelCounts levels;        // how many full-size pixels sit at each level of R, G, B and Y
    korvex::LumaStandard luma = korvex::LumaStandard::Rec601;  // what pixels and counts were analysed under
    float scaleX = 0;                  // full-size pixels per displayed pixel, across
    float scaleY = 0;                  // and down
    std::int32_t viewMaxX = 0;         // last displayed column
    std::int32_t viewMaxY = 0;         // last displayed row
    ViewFit fit;                       // the view box the displayed picture was fitted to
    std::vector<korvex::Pixel> viewPixels;  // the displayed picture as loaded
    std::vector<korvex::Pixel> viewWork;    // the displayed picture as the display mode made it
    Probe probe;
    // Which view pixels cover clipped full-size pixels (korvex::ClipMark bits), made the
    // first time they are shown and kept for the picture's life; and the view with them.
    std::vector<std::uint8_t> clipMarks;
    bool clipMarksValid = false;
    std::vector<korvex::Pixel> viewMarked;
    // Which luma bands and zebra level the full-size pixels under each view pixel reach
    // (korvex::LumaMarks), with the marking they were made for; kept until the bands, the
    // zebra level or the luma standard change. The view's pixels with their own luma in
    // the fourth byte (empty until false colour first needs them), and the false colour.
    std::vector<std::uint32_t> lumaMarks;
    korvex::LumaMarking lumaMarking;
    bool lumaMarksValid = false;
    std::vector<korvex::Pixel> viewLuma;
    std::vector<korvex::Pixel> viewFalseColour;
    // The colour space the file says its numbers are in, empty when it means sRGB (or says
    // nothing); whether the pixels were converted from it to sRGB, and how many of them
    // left sRGB's gamut on the way and were clipped.
    QString colourSpace;
    bool colourConverted = false;
    std::uint64_t outOfGamut = 0;
    bool hdrToneMapped = false;  // an HDR signal (PQ or HLG) whose light the conversion rendered as SDR
    // A picture developed from a camera raw file: its camera and photosites; and whether it
    // shows the sensor's stored values (linear, not white-balanced) instead.
    std::optional<RawPicture> raw;
    bool rawValues = false;
    // Its sensor's photosites counted whole, when it came with them; and which view pixels
    // stand over photosites at or above the white level (korvex::RawClipMarks), made the
    // first time they are shown and kept until the view is fitted again.
    std::shared_ptr<const RawCounts> rawCounts;
    std::vector<std::uint8_t> rawClipMarks;
    bool rawClipMarksValid = false;
    // What the file's own samples hold, counted at their full precision; nothing when the
    // decoder did not count them.
    std::shared_ptr<const SignalStats> signal;

    std::int32_t width() const { return static_cast<std::int32_t>(pixels.width()); }
    std::int32_t height() const { return static_cast<std::int32_t>(pixels.height()); }
};

// A load's picture and fitted view assembled into the model's picture: the decoded
// surface's pixels are shared, not copied (the analysis has put the luma in their fourth
// bytes, and the surface is never shown again), the view's geometry follows the fit, and
// the fitted copy (fit.width x fit.height, top row first) is the view as loaded.
Picture AssemblePicture(Surface& decoded, const ViewFit& fit, const std::vector<korvex::Pixel>& fitted);

// The note on a picture's colours, which always names what was done with them. A
// converted picture: its space and, when any pixels were clipped, their share of the
// picture ("Adobe RGB (1998) → sRGB, 3.2 % clipped"; a share that would show as 0.0 reads
// "< 0.1 %"; with wholePicture, "clipped in the whole picture"); a tone-mapped HDR signal's says so. A picture of another space read as its
// file stores it: "Stored values: Adobe RGB (1998), not converted". An sRGB or untagged
// picture, the same either way: "sRGB".
QString ColourNote(const QString& space, bool converted, bool toneMapped, std::uint64_t clipped,
                   std::uint64_t pixels, bool wholePicture = false);
// An HDR signal's transfer and light, whole nits: "PQ (ST 2084), MaxCLL 1180 nits,
// MaxFALL 212 nits" (HLG: "HLG (BT.2100), ..."); empty for any other signal.
QString LightNote(const SignalStats& signal);
// A picture's note: the one above, followed for a PQ or HLG picture by " · " and its
// light note, or for a camera raw file's picture the camera and that
// it was developed from raw ("Canon EOS R6, developed from raw"), or that it shows the
// sensor's values ("Raw values, linear, not white-balanced").
QString ColourNote(const Picture& picture);
// The note with a region of interest: the region named after it ("Region 1200 x 800 at
// 300,200"); a clipped share, which is counted over the whole picture, then says so
// ("3.2 % clipped in the whole picture").
QString ColourNote(const Picture& picture, const std::optional<korvex::PixelRect>& region);
// The region as the note names it.
QString RegionNote(const korvex::PixelRect& region);

}  // namespace vistrel
