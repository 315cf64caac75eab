#include "support.h"

#include <QDialog>

#include <algorithm>

namespace testing_support {

korvex::PixelGrid MakeGrid(std::size_t width, std::size_t height,
                           const std::function<korvex::Pixel(std::size_t, std::size_t)>& fn) {
    korvex::PixelGrid grid(width, height);
    for (std::size_t y = 0; y < height; ++y)
        for (std::size_t x = 0; x < width; ++x) grid.at(x, y) = fn(x, y);
    return grid;
}

std::vector<std::string> SurfaceMap(const vistrel::Surface& surface,
                                    const std::function<char(korvex::Pixel)>& legend) {
    std::vector<std::string> rows;
    for (int y = 0; y < surface.height(); ++y) {
        std::string row;
        for (int x = 0; x < surface.width(); ++x) row += legend(surface.pixel(x, y));
        rows.push_back(row);
    }
    return rows;
}

bool FakeDesktop::fileExists(const QString& path) {
    return std::find(existing.begin(), existing.end(), path) != existing.end();
}

void FakeDesktop::showModal(QDialog& dialog) {
    modalShown.push_back(dialog.objectName());
    if (onModal) onModal(dialog);
}

const EveryPairPicture& PictureOfEveryPair() {
    static const EveryPairPicture picture = [] {
        constexpr std::size_t kColours = std::size_t{1} << 24;
        std::vector<korvex::Pixel> colours(kColours);
        for (std::size_t k = 0; k < kColours; ++k) colours[k] = static_cast<korvex::Pixel>(k);
        std::vector<korvex::UvPair> pairs(kColours);
        korvex::ConvertToYuv(colours, pairs);
        using korvex::UvHistogram;
        std::vector<bool> seen(UvHistogram::kCells, false);
        EveryPairPicture out;
        std::size_t index = 0;
        for (std::size_t k = 0; k < kColours; ++k) {
            const std::size_t cell = static_cast<std::size_t>(pairs[k].v - UvHistogram::kMinV) * UvHistogram::kColumns +
                                     static_cast<std::size_t>(pairs[k].u - UvHistogram::kMinU);
            if (seen[cell]) continue;
            seen[cell] = true;
            for (std::size_t r = 0; r <= index % 5; ++r) {
                out.pixels.push_back(static_cast<korvex::Pixel>(k));
                out.pairs.push_back(pairs[k]);
            }
            ++index;
        }
        return out;
    }();
    return picture;
}

}  // namespace testing_support
