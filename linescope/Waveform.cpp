#include "linescope/Waveform.h"

#include <algorithm>
#include <cmath>

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

// Records the level of one channel byte.
struct SinglePlot {
    LevelHits* hits;
    int shift;
    void operator()(Pixel pixel, std::size_t column) const { hits->add(column, (pixel >> shift) & 0xFFu); }
};

// Records red, green, blue and luma for the four parade rasters.
struct ParadePlot {
    std::array<LevelHits*, kParadeBoxes> hits;
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

void BuildWaveform(PictureView picture, const WaveformSettings& settings, WaveformRasters& out) {
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
        for (const int row : WaveformGraticuleRows()) graticuleRow[static_cast<std::size_t>(row)] = true;

    const std::size_t boxes = out.rasters.size();
    std::vector<LevelHits> hits(boxes, LevelHits(columns));
    if (picture.pixels != nullptr && picture.width > 0 && picture.height > 0) {
        if (IsParade(settings.channel)) {
            const ParadePlot plot{{&hits[0], &hits[1], &hits[2], &hits[3]}};
            Sample(picture, settings.orientation, settings.columns, plot);
        } else {
            const SinglePlot plot{&hits[0], ChannelShift(settings.channel)};
            Sample(picture, settings.orientation, settings.columns, plot);
        }
    }
    for (std::size_t b = 0; b < boxes; ++b) {
        const Channel channel = IsParade(settings.channel) ? kParadeOrder[b] : settings.channel;
        Compose(out.rasters[b], columns, hits[b], RasterColor(channel), graticuleRow, graticule, settings.scale);
    }
}

WaveformRasters BuildWaveform(PictureView picture, const WaveformSettings& settings) {
    WaveformRasters out;
    BuildWaveform(picture, settings, out);
    return out;
}

}  // namespace vistrel::linescope
