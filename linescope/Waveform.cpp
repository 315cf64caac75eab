#include "linescope/Waveform.h"

#include <algorithm>
#include <cmath>

#include "model/Trace.h"

namespace vistrel::linescope {

namespace {

// The highest level; level v lands on raster row kTopLevel - v.
constexpr std::size_t kTopLevel = 255;

// Samples asked for ahead of use: in a large picture each sample lies in a
// cache line of its own, and asking early hides part of the memory latency.
constexpr std::size_t kPrefetchAhead = 16;

// A step size as the sampling holds it: a 32-bit float.
float Step(std::size_t extent, int divisions) {
    return static_cast<float>(static_cast<double>(extent) / static_cast<double>(divisions));
}

// Picture position floor(i x step), clamped into 0 .. extent - 1.
std::size_t SamplePosition(int i, float step, std::size_t extent) {
    const std::int32_t last = static_cast<std::int32_t>(extent) - 1;
    const double at = std::floor(static_cast<double>(i) * static_cast<double>(step));
    return static_cast<std::size_t>(korvex::ClampValue(0, static_cast<std::int32_t>(at), last));
}

// Picture positions floor(i x step), i = 1 .. count - 1, clamped into 0 .. extent - 1.
std::vector<std::size_t> SamplePositions(int count, float step, std::size_t extent) {
    std::vector<std::size_t> positions;
    if (count < 2) return positions;
    positions.reserve(static_cast<std::size_t>(count - 1));
    for (int i = 1; i < count; ++i) positions.push_back(SamplePosition(i, step, extent));
    return positions;
}

// The levels each raster column has seen, one bit per level: a raster's
// samples all share one colour, so a hit is all a pixel needs to know. Kept as
// bits the whole record of a 412-column raster is 13 KiB and stays in the
// first-level cache, where the rasters themselves would be written at random rows.
class LevelHits {
public:
    explicit LevelHits(std::size_t columns) : words_(columns * kWordsPerColumn, 0) {}
    void add(std::size_t column, std::uint32_t level) {
        words_[column * kWordsPerColumn + (level >> 6)] |= std::uint64_t{1} << (level & 63);
    }
    // All ones when the column has seen the level, else zero: a mask, so that
    // composing the raster does not branch on the picture's random levels.
    Pixel mask(std::size_t column, std::uint32_t level) const {
        return 0u - static_cast<Pixel>((words_[column * kWordsPerColumn + (level >> 6)] >> (level & 63)) & 1);
    }

private:
    static constexpr std::size_t kWordsPerColumn = 256 / 64;
    std::vector<std::uint64_t> words_;
};

// How many samples each raster column has seen at each level, for the density display:
// a column takes kScopeRows - 1 samples, so a count fits a byte.
class LevelTally {
public:
    explicit LevelTally(std::size_t columns) : counts_(columns * kLevels, 0) {}
    void add(std::size_t column, std::uint32_t level) { ++counts_[column * kLevels + level]; }
    std::uint8_t count(std::size_t column, std::uint32_t level) const { return counts_[column * kLevels + level]; }
    // The average count of the pixels lit at all.
    double mean() const {
        std::size_t lit = 0;
        std::size_t total = 0;
        for (const std::uint8_t count : counts_) {
            lit += count != 0 ? 1 : 0;
            total += count;
        }
        return lit == 0 ? 0 : static_cast<double>(total) / static_cast<double>(lit);
    }

private:
    static constexpr std::size_t kLevels = 256;
    std::vector<std::uint8_t> counts_;
};

// Records the level of one channel byte.
template <class Marks>
struct SinglePlot {
    Marks* hits;
    int shift;
    void operator()(Pixel pixel, std::size_t column) const { hits->add(column, (pixel >> shift) & 0xFFu); }
};

// Records red, green, blue and luma for the four parade rasters.
template <class Marks>
struct ParadePlot {
    std::array<Marks*, kParadeBoxes> hits;
    void operator()(Pixel pixel, std::size_t column) const {
        hits[0]->add(column, (pixel >> 16) & 0xFFu);
        hits[1]->add(column, (pixel >> 8) & 0xFFu);
        hits[2]->add(column, pixel & 0xFFu);
        hits[3]->add(column, pixel >> 24);
    }
};

// Raster columns follow picture columns; 255 picture rows are sampled.
template <class Plot>
void SampleHorizontal(PictureView picture, int columns, const Plot& plot) {
    const auto xs = SamplePositions(columns, Step(picture.width, columns), picture.width);
    const auto ys = SamplePositions(kScopeRows, Step(picture.height, kScopeRows), picture.height);
    for (const std::size_t y : ys) {
        const Pixel* row = picture.pixels + y * picture.pitch();
        for (std::size_t c = 0; c < xs.size(); ++c) {
            if (c + kPrefetchAhead < xs.size()) __builtin_prefetch(row + xs[c + kPrefetchAhead]);
            plot(row[xs[c]], c);
        }
    }
}

// Raster columns follow picture rows; 255 picture columns are sampled. Every
// sample of a raster has the same colour, so the order of the writes does not
// matter: walking the picture row by row keeps the reads in order.
template <class Plot>
void SampleVertical(PictureView picture, int columns, const Plot& plot) {
    const auto xs = SamplePositions(kScopeRows, Step(picture.width, kScopeRows), picture.width);
    const auto ys = SamplePositions(columns, Step(picture.height, columns), picture.height);
    for (std::size_t c = 0; c < ys.size(); ++c) {
        const Pixel* row = picture.pixels + ys[c] * picture.pitch();
        for (std::size_t j = 0; j < xs.size(); ++j) {
            if (j + kPrefetchAhead < xs.size()) __builtin_prefetch(row + xs[j + kPrefetchAhead]);
            plot(row[xs[j]], c);
        }
    }
}

template <class Plot>
void Sample(PictureView picture, Orientation orientation, int columns, const Plot& plot) {
    switch (orientation) {
        case Orientation::Horizontal:
            SampleHorizontal(picture, columns, plot);
            return;
        case Orientation::Vertical:
            SampleVertical(picture, columns, plot);
            return;
    }
}

// Samples taken before, plotted as the picture's own were: column after column.
template <class Plot>
void SampleStored(const WaveformSamples& samples, const Plot& plot) {
    const std::size_t perColumn = static_cast<std::size_t>(kScopeRows - 1);
    const std::size_t columns = samples.pixels.size() / perColumn;
    for (std::size_t c = 0; c < columns; ++c)
        for (std::size_t j = 0; j < perColumn; ++j) plot(samples.pixels[c * perColumn + j], c);
}

// One raster's marks for each box from a picture, or from samples when given.
template <class Marks>
std::vector<Marks> MarkBoxes(PictureView picture, const WaveformSamples* samples, const WaveformSettings& settings,
                             std::size_t boxes) {
    std::vector<Marks> marks(boxes, Marks(static_cast<std::size_t>(settings.columns)));
    const auto sample = [&](const auto& plot) {
        if (samples != nullptr)
            SampleStored(*samples, plot);
        else if (picture.pixels != nullptr && picture.width > 0 && picture.height > 0)
            Sample(picture, settings.orientation, settings.columns, plot);
    };
    if (IsParade(settings.channel))
        sample(ParadePlot<Marks>{{&marks[0], &marks[1], &marks[2], &marks[3]}});
    else
        sample(SinglePlot<Marks>{&marks[0], ChannelShift(settings.channel)});
    return marks;
}

// What a raster row carries besides the traces.
enum class RowLine : std::uint8_t { None, Solid, Dotted };

// What one raster shows at each pixel, as a colour (0 where nothing): at kTraceFlat a
// hit's colour whole, at a brightness its colour dimmed by its count.
class TraceColours {
public:
    TraceColours(Pixel colour, const LevelHits* hits, const LevelTally* tally, double gain)
        : hits_(hits), tally_(tally), colour_(colour) {
        if (tally_ == nullptr) return;
        const double mean = tally_->mean();
        for (std::size_t k = 0; k < table_.size(); ++k)
            table_[k] = DimColour(colour, TraceIntensity(k, mean, gain));
    }
    // One level's row across the columns; the kind of marks is chosen once for the row.
    void Row(std::uint32_t level, std::size_t columns, Pixel* out) const {
        if (tally_ != nullptr) {
            for (std::size_t c = 0; c < columns; ++c) out[c] = table_[tally_->count(c, level)];
        } else if (hits_ != nullptr) {
            for (std::size_t c = 0; c < columns; ++c) out[c] = colour_ & hits_->mask(c, level);
        } else {
            std::fill_n(out, columns, Pixel{0});
        }
    }

private:
    const LevelHits* hits_;
    const LevelTally* tally_;
    Pixel colour_;
    std::array<Pixel, 256> table_{};
};

// Writes a raster with everything a held reference, a brightness or reference lines add:
// the picture's trace over the reference's, then the lines as the scale placement says
// (a trace pixel covers a line behind it; a line in front covers the traces).
void ComposeLayers(std::vector<Pixel>& raster, std::size_t columns, const TraceColours& current,
                   const TraceColours& reference, const std::array<RowLine, kScopeRows>& rowLine, Pixel graticule,
                   ScalePlacement scale) {
    // Each kind of row's line as a mask over the columns; the last column never has one.
    std::array<std::vector<Pixel>, 3> masks;
    for (auto& mask : masks) mask.assign(columns, 0);
    for (std::size_t c = 0; c + 1 < columns; ++c) {
        masks[static_cast<std::size_t>(RowLine::Solid)][c] = ~Pixel{0};
        masks[static_cast<std::size_t>(RowLine::Dotted)][c] = c % 2 == 0 ? ~Pixel{0} : 0;
    }
    std::vector<Pixel> own(columns);
    std::vector<Pixel> under(columns);
    const auto compose = [&](auto combine) {
        for (std::size_t row = 0; row < kScopeRows; ++row) {
            const std::uint32_t level = static_cast<std::uint32_t>(kTopLevel - row);
            const std::vector<Pixel>& line = masks[static_cast<std::size_t>(rowLine[row])];
            current.Row(level, columns, own.data());
            reference.Row(level, columns, under.data());
            Pixel* out = raster.data() + row * columns;
            for (std::size_t c = 0; c < columns; ++c)
                out[c] = combine(own[c] != 0 ? own[c] : under[c], graticule & line[c], line[c]);
        }
    };
    switch (scale) {
        case ScalePlacement::Behind:
            compose([](Pixel trace, Pixel lit, Pixel) { return trace != 0 ? trace : lit; });
            return;
        case ScalePlacement::InFront:
            compose([](Pixel trace, Pixel lit, Pixel mask) { return lit | (trace & ~mask); });
            return;
    }
}

// Writes a raster from its hits: level v lights row kTopLevel - v in the
// colour; on a graticule row the lamp colour fills columns 0 .. C - 2, under
// the samples when the scale is behind, over them when it is in front.
void Compose(std::vector<Pixel>& raster, std::size_t columns, const LevelHits& hits, Pixel color,
             const std::array<bool, kScopeRows>& graticuleRow, Pixel graticule, ScalePlacement scale) {
    for (std::size_t row = 0; row < kScopeRows; ++row) {
        const std::uint32_t level = static_cast<std::uint32_t>(kTopLevel - row);
        Pixel* out = raster.data() + row * columns;
        if (!graticuleRow[row]) {
            for (std::size_t c = 0; c < columns; ++c) out[c] = color & hits.mask(c, level);
            continue;
        }
        switch (scale) {
            case ScalePlacement::Behind:
                for (std::size_t c = 0; c + 1 < columns; ++c) {
                    const Pixel hit = hits.mask(c, level);
                    out[c] = (color & hit) | (graticule & ~hit);
                }
                break;
            case ScalePlacement::InFront:
                for (std::size_t c = 0; c + 1 < columns; ++c) out[c] = graticule;
                break;
        }
        out[columns - 1] = color & hits.mask(columns - 1, level);
    }
}

}  // namespace

std::size_t WaveformPosition(std::size_t extent, int columns, int column) {
    if (extent == 0 || columns < 1) return 0;
    return SamplePosition(column + 1, Step(extent, columns), extent);
}

std::vector<int> WaveformGraticuleRows() {
    // Tenths of full scale, 10 % to 90 %, counted from the top of 257 rows
    // and taken back to rows from 0; the arithmetic is single precision.
    constexpr float kTenth = 25.6f;
    constexpr float kStop = kTenth + 1.0f;
    std::vector<int> rows;
    float t = 257.0f;
    do {
        t = t - kTenth;
        rows.push_back(static_cast<int>(std::nearbyint(t)) - 1);
    } while (t > kStop);
    return rows;
}

BitmapInfoHeader ScopeRasterHeader(int width) { return TopDownHeader(width, kScopeRows); }

int LevelRow(int level) { return static_cast<int>(kTopLevel) - std::clamp(level, 0, static_cast<int>(kTopLevel)); }

WaveformSamples SampleWaveform(PictureView picture, Orientation orientation, int columns) {
    WaveformSamples samples;
    samples.orientation = orientation;
    samples.columns = columns;
    if (columns < 2 || picture.pixels == nullptr || picture.width == 0 || picture.height == 0) return samples;
    const std::size_t perColumn = static_cast<std::size_t>(kScopeRows - 1);
    const std::size_t sampled = static_cast<std::size_t>(columns - 1);
    samples.pixels.resize(sampled * perColumn);
    std::vector<std::size_t> filled(sampled, 0);
    Sample(picture, orientation, columns, [&](Pixel pixel, std::size_t column) {
        samples.pixels[column * perColumn + filled[column]++] = pixel;
    });
    return samples;
}

void TakeWaveformSamples(const korvex::PixelGrid& picture, korvex::LumaStandard standard, Reference& reference) {
    const korvex::LumaStandard other =
        standard == korvex::LumaStandard::Rec601 ? korvex::LumaStandard::Rec709 : korvex::LumaStandard::Rec601;
    for (const Orientation orientation : {Orientation::Horizontal, Orientation::Vertical})
        for (const Channel shown : {Channel::Luma, Channel::Parade}) {
            WaveformSamples samples =
                SampleWaveform(ViewOf(picture), orientation, DisplayColumns(shown, kScopeClientWidth));
            WaveformSamples again = samples;
            std::vector<korvex::UvPair> pairs(again.pixels.size());
            korvex::ConvertToYuv(again.pixels, pairs, other);
            reference.Under(standard).waveform.push_back(std::move(samples));
            reference.Under(other).waveform.push_back(std::move(again));
        }
}

void BuildWaveform(PictureView picture, const WaveformSettings& settings, WaveformRasters& out,
                   const WaveformSamples* reference) {
    out.columns = settings.columns < 1 ? 0 : settings.columns;
    if (out.columns == 0) {
        out.rasters.clear();
        return;
    }
    const std::size_t columns = static_cast<std::size_t>(settings.columns);
    // Every pixel is written below, so the rasters are only sized here.
    out.rasters.resize(static_cast<std::size_t>(BoxesUsed(settings.channel)));
    for (auto& raster : out.rasters) raster.resize(columns * kScopeRows);

    const Pixel graticule = korvex::ColorToPixel(settings.scaleColor);
    std::array<bool, kScopeRows> graticuleRow{};
    if (GraticuleLit(graticule))
        for (const int row : settings.graticuleRows.empty() ? WaveformGraticuleRows() : settings.graticuleRows)
            graticuleRow[static_cast<std::size_t>(std::clamp(row, 0, kScopeRows - 1))] = true;

    const std::size_t boxes = out.rasters.size();
    if (reference != nullptr && (reference->orientation != settings.orientation ||
                                 reference->columns != settings.columns))
        reference = nullptr;
    const bool flat = settings.trace == kTraceFlat;
    const bool lit = GraticuleLit(graticule);
    if (flat && reference == nullptr && (settings.lines.empty() || !lit)) {
        const std::vector<LevelHits> hits = MarkBoxes<LevelHits>(picture, nullptr, settings, boxes);
        for (std::size_t b = 0; b < boxes; ++b) {
            const Channel channel = IsParade(settings.channel) ? kParadeOrder[b] : settings.channel;
            Compose(out.rasters[b], columns, hits[b], RasterColor(channel), graticuleRow, graticule, settings.scale);
        }
        return;
    }

    std::array<RowLine, kScopeRows> rowLine{};
    if (lit) {
        for (const int level : settings.lines) rowLine[static_cast<std::size_t>(LevelRow(level))] = RowLine::Dotted;
        for (std::size_t row = 0; row < kScopeRows; ++row)
            if (graticuleRow[row]) rowLine[row] = RowLine::Solid;
    }
    const double gain = flat ? 0 : TraceGain(settings.trace);
    std::vector<LevelHits> hits;
    std::vector<LevelTally> tallies;
    std::vector<LevelHits> referenceHits;
    std::vector<LevelTally> referenceTallies;
    if (flat) {
        hits = MarkBoxes<LevelHits>(picture, nullptr, settings, boxes);
        if (reference != nullptr) referenceHits = MarkBoxes<LevelHits>({}, reference, settings, boxes);
    } else {
        tallies = MarkBoxes<LevelTally>(picture, nullptr, settings, boxes);
        if (reference != nullptr) referenceTallies = MarkBoxes<LevelTally>({}, reference, settings, boxes);
    }
    const auto pick = [](const auto& marks, std::size_t b) { return marks.empty() ? nullptr : &marks[b]; };
    for (std::size_t b = 0; b < boxes; ++b) {
        const Channel channel = IsParade(settings.channel) ? kParadeOrder[b] : settings.channel;
        const TraceColours current(RasterColor(channel), pick(hits, b), pick(tallies, b), gain);
        const TraceColours under(kReferenceTrace, pick(referenceHits, b), pick(referenceTallies, b), gain);
        ComposeLayers(out.rasters[b], columns, current, under, rowLine, graticule, settings.scale);
    }
}

WaveformRasters BuildWaveform(PictureView picture, const WaveformSettings& settings,
                              const WaveformSamples* reference) {
    WaveformRasters out;
    BuildWaveform(picture, settings, out, reference);
    return out;
}

}  // namespace vistrel::linescope
