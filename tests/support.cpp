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

}  // namespace testing_support
