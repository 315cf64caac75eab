#include "model/Model.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "colour/SignalSource.h"
#include "kernels/area.h"
#include "kernels/clipping.h"
#include "kernels/falsecolour.h"
#include "kernels/photosites.h"

namespace vistrel {

namespace {

constexpr std::uint32_t kRedMask = 0xFF0000;
constexpr std::uint32_t kGreenMask = 0x00FF00;
constexpr std::uint32_t kBlueMask = 0x0000FF;

void Complement(std::vector<korvex::Pixel>& buffer) {
    for (korvex::Pixel& p : buffer) p = ~p;
}

}  // namespace

std::uint32_t ChannelMask(const std::array<bool, 3>& channels) {
    return (channels[0] ? kRedMask : 0u) | (channels[1] ? kGreenMask : 0u) | (channels[2] ? kBlueMask : 0u);
}

ChannelMix MixOf(const std::array<bool, 3>& channels) {
    switch (static_cast<int>(channels[0]) + static_cast<int>(channels[1]) + static_cast<int>(channels[2])) {
        case 0: return ChannelMix::None;
        case 1: return ChannelMix::Single;
        case 3: return ChannelMix::All;
        default: return ChannelMix::Two;
    }
}

Changes ChangesBetween(const Settings& a, const Settings& b) {
    Changes what;
    if (a.channels != b.channels || a.mono != b.mono || a.negative != b.negative || a.showClipping != b.showClipping)
        what |= Change::Display;
    if (a.falseColour != b.falseColour || a.falseColourBands != b.falseColourBands || a.zebra != b.zebra ||
        a.zebraLevel != b.zebraLevel)
        what |= Change::Display;
    if (a.lamp != b.lamp) what |= Change::Lamp;
    if (a.scopeChannel != b.scopeChannel || a.orientation != b.orientation || a.scale != b.scale)
        what |= Change::Scope;
    if (a.zoom != b.zoom) what |= Change::Zoom;
    if (a.luma != b.luma || a.skinLine != b.skinLine) what |= Change::Graticule;
    if (a.histogramScale != b.histogramScale) what |= Change::HistogramScale;
    if (a.histogramChannel != b.histogramChannel) what |= Change::HistogramChannel;
    if (a.lineScopeShown != b.lineScopeShown || a.vectorscopeShown != b.vectorscopeShown ||
        a.histogramShown != b.histogramShown || a.chromaticityShown != b.chromaticityShown ||
        a.rawHistogramShown != b.rawHistogramShown)
        what |= Change::Shown;
    if (a.colour != b.colour) what |= Change::Colour;
    if (a.trace != b.trace) what |= Change::Trace;
    if (a.scopeLines != b.scopeLines) what |= Change::Scope;
    if (a.nitsScale != b.nitsScale) what |= Change::NitsScale;
    if (a.rawHistogramAxis != b.rawHistogramAxis || a.rawHistogramScale != b.rawHistogramScale)
        what |= Change::RawHistogramScale;
    if (a.rawClipping != b.rawClipping) what |= Change::Display;
    return what;
}

SignalTransfer Model::NitsTransfer() const {
    if (!settings_.nitsScale || !loaded_ || settings_.colour != ColourHandling::StoredValues || !picture_.signal)
        return SignalTransfer::Sdr;
    return picture_.signal->transfer;
}

const SignalStats* Model::CountedSignal() {
    if (!loaded_) return nullptr;
    if (!picture_.signal)
        picture_.signal =
            std::make_shared<const SignalStats>(colour::CountSrgbPixels(picture_.pixels.data(), picture_.pixels.size()));
    return picture_.signal.get();
}

void Model::Apply(const Settings& next) {
    Changes what = ChangesBetween(settings_, next);
    if (!what) return;
    const bool reanalyse = next.luma != settings_.luma;
    settings_ = next;
    if (reanalyse) {
        picture_.luma = next.luma;
        if (loaded_) {
            // The colours are untouched: only the luma bytes and the colour differences are
            // formed again. Y's level counts follow the standard, so all four are counted again.
            picture_.levels = {};
            picture_.histogram = korvex::AnalysePixels(picture_.pixels.span(), next.luma, picture_.levels);
            // The luma bytes the marks were made from, and the view's own luma, are new.
            picture_.lumaMarksValid = false;
            picture_.viewLuma.clear();
            if (region_) CountRegion();
            const Probe& probe = picture_.probe;
            PlaceProbe(probe.column, probe.row, probe.viewX, probe.viewY);
            what |= Change::Analysis;
        }
    }
    Say(what);
}

void Model::Load(Picture picture) {
    picture_ = std::move(picture);
    loaded_ = true;
    Changes what = Change::Picture;
    if (region_) {
        what |= Change::Region;
        if (picture_.width() == regionWidth_ && picture_.height() == regionHeight_)
            CountRegion();
        else
            region_.reset();
    }
    Say(what);
}

void Model::HoldReference(Reference reference) {
    reference_ = std::move(reference);
    Say(Change::Reference);
}

void Model::DropReference() {
    if (!reference_) return;
    reference_.reset();
    Say(Change::Reference);
}

void Model::Drop() {
    picture_ = {};
    // The region's rectangle waits for the next picture; its counts go with this one.
    regionCounts_ = {};
    regionRaw_.reset();
    loaded_ = false;
    Settings next = settings_;
    const Settings start;
    next.channels = start.channels;
    next.mono = start.mono;
    next.negative = start.negative;
    const Changes what = ChangesBetween(settings_, next);
    settings_ = next;
    Say(Change::Dropped | what);
}

void Model::Clear() {
    Q_ASSERT(!loaded_);
    Changes what = Change::Picture;
    if (region_) what |= Change::Region;
    region_.reset();
    Say(what);
}

Counted Model::counted() const {
    const korvex::PixelGrid& pixels = picture_.pixels;
    Counted c;
    c.stride = pixels.width();
    if (region_ && loaded_) {
        c.rect = *region_;
        c.pixels = pixels.data() + c.rect.y * c.stride + c.rect.x;
        c.histogram = &regionCounts_.histogram;
        c.levels = &regionCounts_.levels;
    } else {
        c.rect = {0, 0, pixels.width(), pixels.height()};
        c.pixels = pixels.data();
        c.histogram = &picture_.histogram;
        c.levels = &picture_.levels;
    }
    c.width = c.rect.width;
    c.height = c.rect.height;
    return c;
}

void Model::CountRegion() {
    regionCounts_ = korvex::CountRegion(picture_.pixels.data(), picture_.pixels.width(), *region_, picture_.luma);
    regionRaw_.reset();
    if (picture_.rawCounts && picture_.rawCounts->sensor)
        regionRaw_ = CountRaw(picture_.rawCounts->sensor, picture_.width(), picture_.height(), region_);
}

const RawCounts* Model::rawCounted() const {
    if (!loaded_ || !picture_.rawCounts) return nullptr;
    if (region_ && regionRaw_) return &*regionRaw_;
    return picture_.rawCounts.get();
}

bool Model::SetRegion(const korvex::PixelRect& region) {
    if (!loaded_ || !region.inside(picture_.pixels.width(), picture_.pixels.height())) return false;
    if (region_ == region) return false;
    region_ = region;
    regionWidth_ = picture_.width();
    regionHeight_ = picture_.height();
    CountRegion();
    Say(Change::Region);
    return true;
}

void Model::SelectRegion(float x0, float y0, float x1, float y1) {
    if (!loaded_ || picture_.pixels.empty()) return;
    const Picture& p = picture_;
    // One axis: the view pixels from the lower to the higher corner, and the full-size
    // pixels from the first one's to where the pixel after the last one begins.
    const auto span = [](float a, float b, std::int32_t last, float scale, std::int32_t size) {
        const std::int32_t from = std::min(ViewPosition(a, last), ViewPosition(b, last));
        const std::int32_t to = std::max(ViewPosition(a, last), ViewPosition(b, last));
        const std::int32_t begin = PicturePosition(from, scale, size);
        // The last view pixel stands for the picture up to its edge.
        const auto next = static_cast<std::int64_t>(std::nearbyint((to + 1) * static_cast<double>(scale)));
        const std::int32_t end =
            to == last ? size : static_cast<std::int32_t>(std::clamp<std::int64_t>(next, begin + 1, size));
        return std::pair<std::size_t, std::size_t>(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
    };
    const auto [x, width] = span(x0, x1, p.viewMaxX, p.scaleX, p.width());
    const auto [y, height] = span(y0, y1, p.viewMaxY, p.scaleY, p.height());
    SetRegion({x, y, width, height});
}

void Model::ClearRegion() {
    if (!region_) return;
    region_.reset();
    regionCounts_ = {};
    regionRaw_.reset();
    Say(Change::Region);
}

void Model::Refit(const ViewFit& fit) {
    Picture& p = picture_;
    if (!loaded_ || p.pixels.empty() || fit.width < 1 || fit.height < 1) return;
    if (fit.width == p.viewMaxX + 1 && fit.height == p.viewMaxY + 1 && fit.ratio == p.fit.ratio) return;
    const auto width = static_cast<std::size_t>(fit.width);
    const auto height = static_cast<std::size_t>(fit.height);
    p.viewPixels.assign(width * height, 0u);
    korvex::ResampleArea(p.pixels.data(), p.pixels.width(), p.pixels.height(), p.pixels.width(), p.viewPixels.data(),
                         width, height);
    // The view's pixels as a bitmap holds them: colour only, no fourth byte.
    for (korvex::Pixel& pixel : p.viewPixels) pixel &= 0x00FFFFFFu;
    p.viewWork = p.viewPixels;
    p.clipMarks.clear();
    p.clipMarksValid = false;
    p.rawClipMarks.clear();
    p.rawClipMarksValid = false;
    p.lumaMarks.clear();
    p.lumaMarksValid = false;
    p.viewLuma.clear();
    p.scaleX = static_cast<float>(p.width()) / static_cast<float>(fit.width);
    p.scaleY = static_cast<float>(p.height()) / static_cast<float>(fit.height);
    p.viewMaxX = fit.width - 1;
    p.viewMaxY = fit.height - 1;
    p.fit = fit;
    Probe& probe = p.probe;
    probe.viewX = ViewPositionOf(probe.column, p.scaleX, p.viewMaxX);
    probe.viewY = ViewPositionOf(probe.row, p.scaleY, p.viewMaxY);
    Say(Change::Fit);
}

void Model::MakeDisplayView(std::vector<korvex::Pixel>& out) const {
    const Picture& p = picture_;
    const std::uint32_t mask = ChannelMask(settings_.channels);
    out.resize(p.viewPixels.size());
    if (settings_.mono && MixOf(settings_.channels) == ChannelMix::Single)
        korvex::SpreadChannel(p.viewPixels.data(), out.data(), mask, p.viewPixels.size());
    else
        korvex::MaskPixels(p.viewPixels.data(), out.data(), mask, p.viewPixels.size());
    if (settings_.negative) Complement(out);
}

std::vector<korvex::Pixel> Model::DisplayView() const {
    std::vector<korvex::Pixel> view;
    MakeDisplayView(view);
    return view;
}

const std::vector<std::uint32_t>& Model::LumaMarksOfView() {
    Picture& p = picture_;
    const korvex::LumaMarking marking =
        korvex::MarkingOf(LumaBandsOf(settings_.falseColourBands), settings_.zebraLevel);
    if (!p.lumaMarksValid || marking != p.lumaMarking) {
        const auto width = static_cast<std::size_t>(p.viewMaxX) + 1;
        const auto height = static_cast<std::size_t>(p.viewMaxY) + 1;
        p.lumaMarks = korvex::LumaMarks(p.pixels.data(), p.pixels.width(), p.pixels.height(), p.pixels.width(), width,
                                        height, marking);
        p.lumaMarking = marking;
        p.lumaMarksValid = true;
    }
    return p.lumaMarks;
}

const std::vector<korvex::Pixel>& Model::FalseColourView() {
    Picture& p = picture_;
    const std::vector<std::uint32_t>& marks = LumaMarksOfView();
    const std::size_t n = p.viewPixels.size();
    if (marks.size() != n) {
        MakeDisplayView(p.viewWork);
        return p.viewWork;
    }
    if (p.viewLuma.size() != n) {
        // The view pixel's own luma, formed as the full-size pixels' is.
        p.viewLuma = p.viewPixels;
        std::vector<korvex::UvPair> unused(n);
        korvex::ConvertToYuv(p.viewLuma, unused, p.luma);
    }
    p.viewFalseColour.resize(n);
    korvex::ApplyFalseColour(p.viewLuma.data(), marks.data(), p.viewFalseColour.data(), n, p.lumaMarking);
    return p.viewFalseColour;
}

const std::vector<korvex::Pixel>& Model::ShownView() {
    Picture& p = picture_;
    if (!settings_.falseColour) MakeDisplayView(p.viewWork);
    const std::vector<korvex::Pixel>& view = settings_.falseColour ? FalseColourView() : p.viewWork;
    const bool rawClipping = settings_.rawClipping && p.rawCounts && p.rawCounts->sensor;
    if (!settings_.showClipping && !rawClipping && !settings_.zebra) return view;
    const auto width = static_cast<std::size_t>(p.viewMaxX) + 1;
    const auto height = static_cast<std::size_t>(p.viewMaxY) + 1;
    if (view.size() != width * height) return view;
    p.viewMarked.resize(view.size());
    if (settings_.showClipping) {
        if (!p.clipMarksValid) {
            p.clipMarks = korvex::ClipMarks(p.pixels.data(), p.pixels.width(), p.pixels.height(), p.pixels.width(),
                                            width, height);
            p.clipMarksValid = true;
        }
        korvex::ApplyClipMarks(view.data(), p.clipMarks.data(), p.viewMarked.data(), view.size(),
                               kClipHighlightColour, kClipShadowColour);
    } else {
        std::copy(view.begin(), view.end(), p.viewMarked.begin());
    }
    // The sensor's own clipping over the developed picture's: a photosite at white is what
    // no development can bring back. The zebra stripes stay on top, as a level of the picture.
    if (rawClipping) {
        if (!p.rawClipMarksValid) {
            const RawSensor& sensor = *p.rawCounts->sensor;
            std::array<std::uint8_t, korvex::kPhotositeClasses> channelOf{0, 1, 1, 2};  // R, G1, G2, B
            p.rawClipMarks = korvex::RawClipMarks(PhotositesOf(sensor), sensor.white, channelOf, p.pixels.width(),
                                                  p.pixels.height(), width, height);
            p.rawClipMarksValid = true;
        }
        korvex::ApplyRawClipMarks(p.viewMarked.data(), p.rawClipMarks.data(), p.viewMarked.data(), view.size());
    }
    if (settings_.zebra) {
        const std::vector<std::uint32_t>& marks = LumaMarksOfView();
        if (marks.size() == view.size()) korvex::ApplyZebra(p.viewMarked.data(), marks.data(), width, height);
    }
    return p.viewMarked;
}

void Model::PlaceProbe(std::int32_t column, std::int32_t row, std::int32_t viewX, std::int32_t viewY) {
    Probe& probe = picture_.probe;
    const Picture& p = picture_;
    if (!p.pixels.empty()) {
        column = korvex::ClampValue(0, column, p.width() - 1);
        row = korvex::ClampValue(0, row, p.height() - 1);
    }
    probe.column = column;
    probe.row = row;
    probe.viewX = viewX;
    probe.viewY = viewY;
    probe.sample = p.pixels.empty() ? 0 : p.pixels.at(static_cast<std::size_t>(column), static_cast<std::size_t>(row));
}

void Model::PressProbe(float x, float y, bool lock) {
    if (!loaded_) return;
    const Picture& p = picture_;
    const std::int32_t viewX = ViewPosition(x, p.viewMaxX);
    const std::int32_t viewY = ViewPosition(y, p.viewMaxY);
    const std::int32_t column = PicturePosition(viewX, p.scaleX, p.width());
    const std::int32_t row = PicturePosition(viewY, p.scaleY, p.height());
    // A press outside the region lets it go; inside, it probes the region.
    if (region_ && !region_->contains(static_cast<std::size_t>(column), static_cast<std::size_t>(row))) ClearRegion();
    if (picture_.probe.locked) UnlockProbe();
    PlaceProbe(column, row, viewX, viewY);
    picture_.probe.dragging = true;
    picture_.probe.locked = lock;
    Say(Change::Probe);
}

void Model::DragProbe(float x, float y) {
    const Probe& probe = picture_.probe;
    if (!loaded_ || probe.locked || !probe.dragging) return;
    const Picture& p = picture_;
    const std::int32_t viewX = ViewPosition(x, p.viewMaxX);
    const std::int32_t viewY = ViewPosition(y, p.viewMaxY);
    PlaceProbe(PicturePosition(viewX, p.scaleX, p.width()), PicturePosition(viewY, p.scaleY, p.height()), viewX, viewY);
    Say(Change::Probe);
}

void Model::ReleaseProbe() {
    Probe& probe = picture_.probe;
    if (probe.locked || !probe.dragging) return;
    probe.dragging = false;
    Say(Change::Probe);
}

void Model::UnlockProbe() {
    Probe& probe = picture_.probe;
    if (!probe.locked) return;
    probe.locked = false;
    probe.dragging = false;
    Say(Change::Probe);
}

void Model::MoveLockedProbe(std::int32_t column, std::int32_t row) {
    const Probe& probe = picture_.probe;
    const Picture& p = picture_;
    if (!probe.locked || p.pixels.empty()) return;
    column = korvex::ClampValue(0, column, p.width() - 1);
    row = korvex::ClampValue(0, row, p.height() - 1);
    if (column == probe.column && row == probe.row) return;
    PlaceProbe(column, row, ViewPositionOf(column, p.scaleX, p.viewMaxX), ViewPositionOf(row, p.scaleY, p.viewMaxY));
    Say(Change::Probe);
}

void Model::LockProbe(std::int32_t column, std::int32_t row) {
    if (!loaded_) return;
    const Picture& p = picture_;
    PlaceProbe(column, row, ViewPositionOf(column, p.scaleX, p.viewMaxX), ViewPositionOf(row, p.scaleY, p.viewMaxY));
    picture_.probe.locked = true;
    picture_.probe.dragging = true;
    Say(Change::Probe);
}

}  // namespace vistrel
