#include "linescope/LineTrace.h"

#include <cmath>

#include "platform/Numbers.h"

namespace vistrel::linescope {

namespace {

// The parameter record that has FillSeries number the x members 0, 1, 2...:
// all zero but the 16th to 18th entries, 1, 1 and 4.
void SeriesParameters(korvex::SeriesParams& params) {
    for (auto& p : params) p = 0;
    params[15] = 1;
    params[16] = 1;
    params[17] = 4;
}

}  // namespace

std::vector<std::size_t> TracePositions(std::size_t extent, int columns) {
    std::vector<std::size_t> positions;
    if (extent == 0 || columns < 1) return positions;
    const float step = static_cast<float>(static_cast<double>(extent) / static_cast<double>(columns));
    const std::int32_t last = static_cast<std::int32_t>(extent) - 1;
    positions.reserve(static_cast<std::size_t>(columns));
    for (int k = 0; k < columns; ++k) {
        const std::int32_t at = nearestInt(static_cast<double>(k) * static_cast<double>(step));
        positions.push_back(static_cast<std::size_t>(korvex::ClampValue(0, at, last)));
    }
    return positions;
}

std::vector<std::vector<korvex::Point>> TracePoints(PictureView picture, int column, int row,
                                                    const TraceSettings& settings) {
    std::vector<std::vector<korvex::Point>> arrays;
    if (picture.pixels == nullptr || picture.width == 0 || picture.height == 0 || settings.columns < 1)
        return arrays;

    const std::size_t count = static_cast<std::size_t>(settings.columns);
    std::vector<korvex::Point> first(count, korvex::Point{0, 0});
    korvex::SeriesParams params;
    SeriesParameters(params);
    korvex::FillSeries(first, params);
    arrays.assign(static_cast<std::size_t>(BoxesUsed(settings.channel)), first);

    // The probed line is fixed; the samples run along the other axis.
    const bool horizontal = settings.orientation == Orientation::Horizontal;
    const std::int32_t lastColumn = static_cast<std::int32_t>(picture.width) - 1;
    const std::int32_t lastRow = static_cast<std::int32_t>(picture.height) - 1;
    const std::size_t fixed = static_cast<std::size_t>(
        horizontal ? korvex::ClampValue(0, row, lastRow) : korvex::ClampValue(0, column, lastColumn));
    const auto positions = TracePositions(horizontal ? picture.width : picture.height, settings.columns);
    // The probed line as a base and a stride: a row runs along x, a column along y.
    const korvex::Pixel* line = horizontal ? picture.pixels + fixed * picture.pitch() : picture.pixels + fixed;
    const std::size_t stride = horizontal ? 1 : picture.pitch();
    const auto at = [&](std::size_t p) { return line[p * stride]; };
    const auto levelRow = [](korvex::Pixel pixel, int shift) {
        return static_cast<std::int32_t>(255 - ((pixel >> shift) & 0xFFu));
    };

    if (IsParade(settings.channel)) {
        for (std::size_t k = 0; k < count; ++k) {
            const korvex::Pixel pixel = at(positions[k]);
            for (std::size_t box = 0; box < kParadeBoxes; ++box)
                arrays[box][k].y = levelRow(pixel, ChannelShift(kParadeOrder[box]));
        }
    } else {
        const int shift = ChannelShift(settings.channel);
        for (std::size_t k = 0; k < count; ++k) arrays[0][k].y = levelRow(at(positions[k]), shift);
    }
    return arrays;
}

std::vector<int> TraceGraticuleRows() {
    // Tenths of full scale down from the top of 256 rows, 10 % to 90 %; the
    // arithmetic is single precision.
    constexpr float kTenth = 25.6f;
    std::vector<int> rows;
    float t = 256.0f;
    for (;;) {
        t = t - kTenth;
        rows.push_back(static_cast<int>(std::nearbyint(t)));
        if (t < kTenth) break;
    }
    return rows;
}

}  // namespace vistrel::linescope
