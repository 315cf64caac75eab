#include "linescope/Waveform.h"

#include <algorithm>
#include <cmath>

namespace vistrel::linescope {

namespace {

// The highest level; level v lands on raster row kTopLevel - v.
constexpr std::size_t kTopLevel = 255;

// A step size as the sampling holds it: a 32-bit float.
float Step(std::size_t extent, int divisions) {
    return static_cast<float>(static_cast<double>(extent) / static_cast<double>(divisions));
}

// Picture positions floor(i x step), i = 1 .. count - 1, clamped into 0 .. extent - 1.
std::vector<std::size_t> SamplePositions(int count, float step, std::size_t extent) {
    std::vector<std::size_t> positions;
    if (count < 2) return positions;
    positions.reserve(static_cast<std::size_t>(count - 1));
    const std::int32_t last = static_cast<std::int32_t>(extent) - 1;
    for (int i = 1; i < count; ++i) {
        const double at = std::floor(static_cast<double>(i) * static_cast<double>(step));
        positions.push_back(static_cast<std::size_t>(korvex::ClampValue(0, static_cast<std::int32_t>(at), last)));
    }
    return positions;
}

// Lights the level of one channel byte in one raster.
struct SinglePlot {
    Pixel* raster;
    std::size_t columns;
    int shift;
    Pixel color;
    void operator()(Pixel pixel, std::size_t column) const {
        const std::size_t level = (pixel >> shift) & 0xFFu;
        raster[(kTopLevel - level) * columns + column] = color;
    }
};

// Lights red, green, blue and luma in the four parade rasters.
struct ParadePlot {
    std::array<Pixel*, kParadeBoxes> rasters;
    std::size_t columns;
    void operator()(Pixel pixel, std::size_t column) const {
        rasters[0][(kTopLevel - ((pixel >> 16) & 0xFFu)) * columns + column] = kRasterRed;
        rasters[1][(kTopLevel - ((pixel >> 8) & 0xFFu)) * columns + column] = kRasterGreen;
        rasters[2][(kTopLevel - (pixel & 0xFFu)) * columns + column] = kRasterBlue;
        rasters[3][(kTopLevel - (pixel >> 24)) * columns + column] = kRasterLuma;
    }
};

// Raster columns follow picture columns; 255 picture rows are sampled.
template <class Plot>
void SampleHorizontal(PictureView picture, int columns, const Plot& plot) {
    const auto xs = SamplePositions(columns, Step(picture.width, columns), picture.width);
    const auto ys = SamplePositions(kScopeRows, Step(picture.height, kScopeRows), picture.height);
    for (const std::size_t y : ys) {
        const Pixel* row = picture.pixels + y * picture.width;
        for (std::size_t c = 0; c < xs.size(); ++c) plot(row[xs[c]], c);
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
        const Pixel* row = picture.pixels + ys[c] * picture.width;
        for (const std::size_t x : xs) plot(row[x], c);
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

void WriteGraticule(WaveformRasters& out, Pixel color) {
    const std::size_t columns = static_cast<std::size_t>(out.columns);
    for (const int row : WaveformGraticuleRows())
        for (auto& raster : out.rasters) {
            Pixel* line = raster.data() + static_cast<std::size_t>(row) * columns;
            std::fill(line, line + (columns - 1), color);
        }
}

}  // namespace

Pixel RasterColor(Channel channel) {
    switch (channel) {
        case Channel::Red:
            return kRasterRed;
        case Channel::Green:
            return kRasterGreen;
        case Channel::Blue:
            return kRasterBlue;
        case Channel::Luma:
        case Channel::Parade:
            return kRasterLuma;
    }
    return kRasterLuma;
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

BitmapInfoHeader ScopeRasterHeader(int width) {
    BitmapInfoHeader header;
    header.biSize = sizeof(BitmapInfoHeader);
    header.biWidth = width;
    header.biHeight = -kScopeRows;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = kBiRgb;
    header.biSizeImage = static_cast<std::uint32_t>(DibStride(32, width) * kScopeRows);
    return header;
}

WaveformRasters BuildWaveform(PictureView picture, const WaveformSettings& settings) {
    WaveformRasters out;
    if (settings.columns < 1) return out;
    out.columns = settings.columns;
    const std::size_t columns = static_cast<std::size_t>(settings.columns);
    out.rasters.assign(static_cast<std::size_t>(BoxesUsed(settings.channel)),
                       std::vector<Pixel>(columns * kScopeRows, 0));

    const Pixel graticule = korvex::ColorToPixel(settings.scaleColor);
    const bool lit = GraticuleLit(graticule);
    const bool sampled = picture.pixels != nullptr && picture.width > 0 && picture.height > 0;

    if (lit && settings.scale == ScalePlacement::Behind) WriteGraticule(out, graticule);
    if (sampled) {
        if (IsParade(settings.channel)) {
            const ParadePlot plot{{out.rasters[0].data(), out.rasters[1].data(), out.rasters[2].data(),
                                   out.rasters[3].data()},
                                  columns};
            Sample(picture, settings.orientation, settings.columns, plot);
        } else {
            const SinglePlot plot{out.rasters[0].data(), columns, ChannelShift(settings.channel),
                                  RasterColor(settings.channel)};
            Sample(picture, settings.orientation, settings.columns, plot);
        }
    }
    if (lit && settings.scale == ScalePlacement::InFront) WriteGraticule(out, graticule);
    return out;
}

}  // namespace vistrel::linescope
