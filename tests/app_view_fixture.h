#pragma once
// A started main window with a fake desktop, pictures written to a temporary
// folder, and the mouse on the view as a user would use it. Shared by the
// view interaction tests (probe, display modes, keys).

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "app/frmMain.h"
#include "app_support.h"
#include "platform/Numbers.h"
#include "support.h"

namespace view_testing {

using korvex::Pixel;

// A picture whose colours come from a function of the position (0x00RRGGBB).
inline QImage Picture(int width, int height, const std::function<Pixel(int, int)>& colour) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<Pixel*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) row[x] = 0xFF000000u | colour(x, y);
    }
    return image;
}

// Red from the column, green from the row, blue from both: neighbours always differ.
inline QImage Gradient(int width, int height) {
    return Picture(width, height, [](int x, int y) {
        return static_cast<Pixel>(((x & 0xFF) << 16) | ((y & 0xFF) << 8) | ((x * 7 + y * 13) & 0xFF));
    });
}

// The view's pixels as 0x00RRGGBB, row after row.
inline std::vector<Pixel> ViewNow(const vistrel::Surface& view) {
    std::vector<Pixel> pixels;
    pixels.reserve(static_cast<std::size_t>(view.width()) * static_cast<std::size_t>(view.height()));
    for (int y = 0; y < view.height(); ++y)
        for (int x = 0; x < view.width(); ++x) pixels.push_back(view.pixel(x, y));
    return pixels;
}

// A buffer without its fourth bytes.
inline std::vector<Pixel> Rgb(std::vector<Pixel> pixels) {
    for (Pixel& p : pixels) p &= 0x00FFFFFFu;
    return pixels;
}

// The picture with the crosshair through (x, y): the column inverted, then the
// row, so the pixel where they meet is inverted twice and shows unchanged.
inline std::vector<Pixel> WithCrosshair(std::vector<Pixel> pixels, int width, int height, int x, int y) {
    const auto at = [width](int col, int row) {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(width) + static_cast<std::size_t>(col);
    };
    for (int row = 0; row < height; ++row) pixels[at(x, row)] = ~pixels[at(x, row)] & 0x00FFFFFFu;
    for (int col = 0; col < width; ++col) pixels[at(col, y)] = ~pixels[at(col, y)] & 0x00FFFFFFu;
    return pixels;
}

// Bit for bit, the fourth bytes included.
inline bool SameBits(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.format() != b.format()) return false;
    const auto rowBytes = static_cast<std::size_t>(a.width()) * 4;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), rowBytes) != 0) return false;
    return true;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        w = std::make_unique<vistrel::frmMain>();
        w->start();
    }
    void TearDown() override { w.reset(); }

    // Writes the picture as a PNG (exact pixel values) and loads it through the box and Load.
    void LoadPicture(const QImage& image, const QString& name = "picture.png") {
        const QString path = dir.filePath(name);
        ASSERT_TRUE(image.save(path));
        testing_support::Load(*w, path);
        ASSERT_TRUE(w->model().loaded()) << path.toStdString();
    }

    vistrel::Surface& view() { return Ctl<vistrel::PictureBox>(*w, "picImg")->surface(); }
    int viewWidth() { return view().width(); }
    int viewHeight() { return view().height(); }

    // View pixel (x, y) lies at widget position (x + 1, y + 1), inside the view's border.
    static QPoint At(int x, int y) { return QPoint(x + 1, y + 1); }

    void Press(int x, int y, Qt::KeyboardModifiers modifiers = Qt::NoModifier, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(Ctl<vistrel::PictureBox>(*w, "picImg"), button, modifiers, At(x, y));
    }
    void Release(int x, int y, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                 Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseRelease(Ctl<vistrel::PictureBox>(*w, "picImg"), button, modifiers, At(x, y));
    }
    // A move with the left button held (QTest's own moves carry no buttons).
    void Drag(int x, int y, Qt::MouseButtons held = Qt::LeftButton) {
        const QPointF local(At(x, y));
        QMouseEvent move(QEvent::MouseMove, local, Ctl<vistrel::PictureBox>(*w, "picImg")->mapToGlobal(local),
                         Qt::NoButton, held, Qt::NoModifier);
        QApplication::sendEvent(Ctl<vistrel::PictureBox>(*w, "picImg"), &move);
    }

    // The full-size pixel a view position maps to, as the probe computes it.
    int ColumnOf(int viewX) { return vistrel::nearestInt(viewX * static_cast<double>(w->model().picture().scaleX)); }
    int RowOf(int viewY) { return vistrel::nearestInt(viewY * static_cast<double>(w->model().picture().scaleY)); }

    testing_support::ScopedFakeDesktop desk;  // outlives the window
    QTemporaryDir dir;
    std::unique_ptr<vistrel::frmMain> w;
};

}  // namespace view_testing
