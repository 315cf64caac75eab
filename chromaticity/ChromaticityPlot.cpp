#include "chromaticity/ChromaticityPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "model/Channels.h"
#include "platform/Numbers.h"

namespace vistrel::chromaticity {

namespace {

constexpr int kCells = SignalStats::kChromaCells;
// The width of a counted cell, in x or y.
constexpr double kCellSpan = SignalStats::kChromaSpan / kCells;

// The D65 point: a plus of this many pixels each way from its centre.
constexpr int kWhiteArm = 2;
constexpr Pixel kWhiteText = 0xE0E0E0;
// A triangle's name sits right of its green corner, clear of the next triangle's name.
constexpr int kNameOffsetX = 4;
constexpr int kNameOffsetY = -6;

std::uint64_t PixelCount(const std::vector<std::uint32_t>& cells, int px, int py) {
    std::uint64_t count = 0;
    const int cx = px * kCellsPerPixel;
    const int cy = py * kCellsPerPixel;
    for (int dy = 0; dy < kCellsPerPixel; ++dy)
        for (int dx = 0; dx < kCellsPerPixel; ++dx)
            count += cells[static_cast<std::size_t>(cy + dy) * kCells + static_cast<std::size_t>(cx + dx)];
    return count;
}

bool HasCounts(const SignalStats* stats) {
    return stats != nullptr && stats->chromaticity.size() == static_cast<std::size_t>(kCells) * kCells;
}

class Canvas {
public:
    explicit Canvas(std::vector<Pixel>& raster) : raster_(raster) {}
    void Set(int x, int y, Pixel colour) {
        if (x < 0 || y < 0 || x >= kRasterWidth || y >= kRasterHeight) return;
        raster_[static_cast<std::size_t>(y) * kRasterWidth + static_cast<std::size_t>(x)] = colour;
    }
    // Both ends drawn (Bresenham): the segments of a closed outline meet at their corners.
    void Line(RasterPixel from, RasterPixel to, Pixel colour) {
        const int dx = std::abs(to.x - from.x);
        const int dy = -std::abs(to.y - from.y);
        const int sx = from.x < to.x ? 1 : -1;
        const int sy = from.y < to.y ? 1 : -1;
        int error = dx + dy;
        for (RasterPixel at = from;;) {
            Set(at.x, at.y, colour);
            if (at == to) return;
            const int twice = 2 * error;
            if (twice >= dy) {
                error += dy;
                at.x += sx;
            }
            if (twice <= dx) {
                error += dx;
                at.y += sy;
            }
        }
    }

private:
    std::vector<Pixel>& raster_;
};

}  // namespace

const std::array<Gamut, 3>& Gamuts() {
    static const std::array<Gamut, 3> gamuts{{
        {"sRGB", {{{0.640, 0.330}, {0.300, 0.600}, {0.150, 0.060}}}, 0xE05050},
        {"P3", {{{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}}}, 0x40C040},
        {"2020", {{{0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}}}, 0x5080FF},
    }};
    return gamuts;
}

const std::vector<Chromaticity>& SpectralLocus() {
    // CIE 1931 2° colour-matching functions as chromaticities, 380, 385 ... 700 nm.
    static const std::vector<Chromaticity> locus{
        {0.1741, 0.0050}, {0.1740, 0.0050}, {0.1738, 0.0049}, {0.1736, 0.0049}, {0.1733, 0.0048},
        {0.1730, 0.0048}, {0.1726, 0.0048}, {0.1721, 0.0048}, {0.1714, 0.0051}, {0.1703, 0.0058},
        {0.1689, 0.0069}, {0.1669, 0.0086}, {0.1644, 0.0109}, {0.1611, 0.0138}, {0.1566, 0.0177},
        {0.1510, 0.0227}, {0.1440, 0.0297}, {0.1355, 0.0399}, {0.1241, 0.0578}, {0.1096, 0.0868},
        {0.0913, 0.1327}, {0.0687, 0.2007}, {0.0454, 0.2950}, {0.0235, 0.4127}, {0.0082, 0.5384},
        {0.0039, 0.6548}, {0.0139, 0.7502}, {0.0389, 0.8120}, {0.0743, 0.8338}, {0.1142, 0.8262},
        {0.1547, 0.8059}, {0.1929, 0.7816}, {0.2296, 0.7543}, {0.2658, 0.7243}, {0.3016, 0.6923},
        {0.3373, 0.6589}, {0.3731, 0.6245}, {0.4087, 0.5896}, {0.4441, 0.5547}, {0.4788, 0.5202},
        {0.5125, 0.4866}, {0.5448, 0.4544}, {0.5752, 0.4242}, {0.6029, 0.3965}, {0.6270, 0.3725},
        {0.6482, 0.3514}, {0.6658, 0.3340}, {0.6801, 0.3197}, {0.6915, 0.3083}, {0.7006, 0.2993},
        {0.7079, 0.2920}, {0.7140, 0.2859}, {0.7190, 0.2809}, {0.7230, 0.2770}, {0.7260, 0.2740},
        {0.7283, 0.2717}, {0.7300, 0.2700}, {0.7311, 0.2689}, {0.7320, 0.2680}, {0.7327, 0.2673},
        {0.7334, 0.2666}, {0.7340, 0.2660}, {0.7344, 0.2656}, {0.7346, 0.2654}, {0.7347, 0.2653},
    };
    return locus;
}

RasterPixel PixelOf(Chromaticity c) {
    return {kMargin + SignalStats::ChromaCell(c.x) / kCellsPerPixel,
            kMargin + kPlotSize - 1 - SignalStats::ChromaCell(c.y) / kCellsPerPixel};
}

int DensityLevel(std::uint64_t count, std::uint64_t peak) {
    if (count == 0 || peak == 0) return 0;
    if (count >= peak || peak == 1) return 255;
    const double share = std::log(static_cast<double>(count)) / std::log(static_cast<double>(peak));
    return std::clamp(kDensityFloor + nearestInt(share * (255 - kDensityFloor)), kDensityFloor, 255);
}

ChromaticityPlot BuildChromaticity(const SignalStats* stats, korvex::ColorValue scaleColor) {
    ChromaticityPlot plot;
    plot.raster.assign(static_cast<std::size_t>(kRasterWidth) * kRasterHeight, 0);
    Canvas canvas(plot.raster);

    if (HasCounts(stats)) {
        std::uint64_t peak = 0;
        for (int py = 0; py < kPlotSize; ++py)
            for (int px = 0; px < kPlotSize; ++px) peak = std::max(peak, PixelCount(stats->chromaticity, px, py));
        for (int py = 0; py < kPlotSize; ++py)
            for (int px = 0; px < kPlotSize; ++px) {
                const auto level = static_cast<Pixel>(DensityLevel(PixelCount(stats->chromaticity, px, py), peak));
                if (level != 0) canvas.Set(kMargin + px, kMargin + kPlotSize - 1 - py, level * 0x010101u);
            }
    }

    for (const Gamut& gamut : Gamuts()) {
        for (std::size_t k = 0; k < gamut.primaries.size(); ++k)
            canvas.Line(PixelOf(gamut.primaries[k]), PixelOf(gamut.primaries[(k + 1) % gamut.primaries.size()]),
                        gamut.colour);
        const RasterPixel green = PixelOf(gamut.primaries[1]);
        plot.labels.push_back({green.x + kNameOffsetX, green.y + kNameOffsetY, QString::fromLatin1(gamut.name),
                               gamut.colour});
    }

    const Pixel graticule = korvex::ColorToPixel(scaleColor);
    if (GraticuleLit(graticule)) {
        const std::vector<Chromaticity>& locus = SpectralLocus();
        for (std::size_t k = 0; k < locus.size(); ++k)
            canvas.Line(PixelOf(locus[k]), PixelOf(locus[(k + 1) % locus.size()]), graticule);
        const RasterPixel white = PixelOf(kD65);
        for (int d = -kWhiteArm; d <= kWhiteArm; ++d) {
            canvas.Set(white.x + d, white.y, graticule);
            canvas.Set(white.x, white.y + d, graticule);
        }
        plot.labels.push_back({white.x + kNameOffsetX, white.y, QStringLiteral("D65"), kWhiteText});
    }
    return plot;
}

std::optional<ChromaticityReading> ReadingAt(const SignalStats* stats, int x, int y) {
    const int px = x - kMargin;
    const int py = kPlotSize - 1 - (y - kMargin);
    if (px < 0 || py < 0 || px >= kPlotSize || py >= kPlotSize) return std::nullopt;
    ChromaticityReading reading;
    reading.at = {(px + 0.5) * kCellsPerPixel * kCellSpan, (py + 0.5) * kCellsPerPixel * kCellSpan};
    if (HasCounts(stats)) {
        reading.count = PixelCount(stats->chromaticity, px, py);
        reading.total = stats->pixels;
    }
    return reading;
}

QString ReadingText(const ChromaticityReading& reading) {
    QString text = QStringLiteral("x %1, y %2").arg(FormatNumber(reading.at.x, "0.0000"), FormatNumber(reading.at.y, "0.0000"));
    if (reading.total == 0) return text;
    const double percent = 100.0 * static_cast<double>(reading.count) / static_cast<double>(reading.total);
    // Two decimals: a share that rounds to none of the last digit would read 0.00.
    const QString share = reading.count > 0 && nearest(percent * 100.0) == 0 ? QStringLiteral("<0.01 %")
                                                                              : FormatNumber(percent, "0.00") + " %";
    return text + QStringLiteral(": %1 px (%2)").arg(FormatNumber(static_cast<double>(reading.count), ",0"), share);
}

}  // namespace vistrel::chromaticity
