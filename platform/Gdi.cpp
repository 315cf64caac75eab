#include "platform/Gdi.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace vistrel {

GdiObject GetStockObject(StockObject which) { return GdiObject{which}; }

void Dc::SelectObject(GdiObject object) {
    switch (object.stock) {
        case StockObject::NullBrush:
            nullBrush_ = true;
            break;
        case StockObject::DcPen:
            break;
    }
}

namespace {

// Pixels of one drawing call, each applied once however often the shape
// passes over it, so that an inverting pen stays reversible.
class PixelSet {
public:
    void add(int x, int y) { points_.push_back((static_cast<long long>(y) << 32) | static_cast<unsigned>(x)); }
    template <class Fn>
    void forEach(Fn fn) {
        std::sort(points_.begin(), points_.end());
        points_.erase(std::unique(points_.begin(), points_.end()), points_.end());
        for (long long p : points_) fn(static_cast<int>(p & 0xFFFFFFFF), static_cast<int>(p >> 32));
    }

private:
    std::vector<long long> points_;
};

// Walks the Bresenham line from (x0, y0) to (x1, y1), the end point only when asked.
template <class Fn>
void Walk(int x0, int y0, int x1, int y1, bool includeEnd, Fn fn) {
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        if (x0 == x1 && y0 == y1) {
            if (includeEnd) fn(x0, y0);
            return;
        }
        fn(x0, y0);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

}  // namespace

// The surface's bits and the pen, fetched once per drawing call rather than per pixel.
class Dc::Target {
public:
    explicit Target(const Dc& dc)
        : bits_(dc.surface_->isNull() ? nullptr : dc.surface_->row(0)),
          stride_(dc.surface_->isNull() ? 0 : static_cast<std::size_t>(dc.surface_->image().bytesPerLine()) / 4),
          width_(dc.surface_->width()),
          height_(dc.surface_->height()),
          pen_(OpaquePixel(dc.penColor_)),
          mode_(dc.mode_) {}

    void operator()(int x, int y) const {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
        Pixel& target = bits_[static_cast<std::size_t>(y) * stride_ + static_cast<std::size_t>(x)];
        switch (mode_) {
            case DrawMode::CopyPen:
                target = pen_;
                break;
            case DrawMode::NotXorPen:
                target = ~(pen_ ^ target) | 0xFF000000u;
                break;
        }
    }

private:
    Pixel* bits_;
    std::size_t stride_;
    int width_;
    int height_;
    Pixel pen_;
    DrawMode mode_;
};

void Dc::segment(int x0, int y0, int x1, int y1, bool includeEnd) {
    const Target plot(*this);
    if (penWidth_ == 1) {
        Walk(x0, y0, x1, y1, includeEnd, plot);
        return;
    }
    // A square pen: every point of the line stamps a width x width block around itself.
    const int before = (penWidth_ - 1) / 2;
    const int after = penWidth_ / 2;
    PixelSet pixels;
    Walk(x0, y0, x1, y1, includeEnd, [&](int x, int y) {
        for (int dy = -before; dy <= after; ++dy)
            for (int dx = -before; dx <= after; ++dx) pixels.add(x + dx, y + dy);
    });
    pixels.forEach(plot);
}

void Dc::MoveToEx(int x, int y) {
    curX_ = x;
    curY_ = y;
}

void Dc::LineTo(int x, int y) {
    segment(curX_, curY_, x, y, false);
    MoveToEx(x, y);
}

void Dc::Polyline(std::span<const korvex::Point> points) {
    if (points.size() < 2) return;
    for (std::size_t k = 1; k < points.size(); ++k)
        segment(points[k - 1].x, points[k - 1].y, points[k].x, points[k].y, false);
}

void Dc::Line(int x1, int y1, int x2, int y2) { segment(x1, y1, x2, y2, true); }

void Dc::Rectangle(int left, int top, int right, int bottom) {
    if (right < left) std::swap(left, right);
    if (bottom < top) std::swap(top, bottom);
    const int x1 = right - 1;
    const int y1 = bottom - 1;
    if (x1 < left || y1 < top) return;
    PixelSet pixels;
    for (int x = left; x <= x1; ++x) {
        pixels.add(x, top);
        pixels.add(x, y1);
    }
    for (int y = top; y <= y1; ++y) {
        pixels.add(left, y);
        pixels.add(x1, y);
    }
    pixels.forEach(Target(*this));
}

void Dc::Ellipse(int left, int top, int right, int bottom) {
    if (right < left) std::swap(left, right);
    if (bottom < top) std::swap(top, bottom);
    const int x1 = right - 1;
    const int y1 = bottom - 1;
    if (x1 < left || y1 < top) return;
    // Semi-axes and centre of the inclusive box; an even-sized box has its centre between pixels.
    const double a = (x1 - left) / 2.0;
    const double b = (y1 - top) / 2.0;
    const double cx = (left + x1) / 2.0;
    const double cy = (top + y1) / 2.0;
    PixelSet pixels;
    // Offsets are measured inward from the box's edges, so both halves mirror exactly.
    const auto inset = [](double semi, double reach) {
        return static_cast<int>(std::floor(semi - reach + 0.5));
    };
    for (int x = left; x <= x1; ++x) {
        const double u = a > 0 ? (x - cx) / a : 0.0;
        const int k = inset(b, b * std::sqrt(std::max(0.0, 1.0 - u * u)));
        pixels.add(x, top + k);
        pixels.add(x, y1 - k);
    }
    for (int y = top; y <= y1; ++y) {
        const double v = b > 0 ? (y - cy) / b : 0.0;
        const int k = inset(a, a * std::sqrt(std::max(0.0, 1.0 - v * v)));
        pixels.add(left + k, y);
        pixels.add(x1 - k, y);
    }
    pixels.forEach(Target(*this));
}

void DrawTextAt(Surface& surface, int x, int y, const QString& text, ColorValue color, const QFont& font) {
    if (surface.isNull()) return;
    QPainter painter(&surface.image());
    painter.setFont(font);
    painter.setPen(QColor::fromRgb(OpaquePixel(color)));
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.drawText(QRect(x, y, surface.width() - x + 4096, surface.height() - y + 4096),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, text);
}

void DrawTextRuns(Surface& surface, int x, int y, int width, const std::vector<TextRun>& runs, const QFont& font) {
    const QFontMetrics metrics(font);
    int left = x;
    for (const TextRun& run : runs) {
        const int room = x + width - left;
        if (room <= 0) return;
        const QString shown = metrics.elidedText(run.text, Qt::ElideRight, room);
        DrawTextAt(surface, left, y, shown, run.color, font);
        left += metrics.horizontalAdvance(shown);
    }
}

}  // namespace vistrel
