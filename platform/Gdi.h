#pragma once
// GDI-like drawing on a surface, pixel-exact: one-pixel lines that stop short
// of their end point, polylines, hollow rectangles and ellipses that exclude
// their right and bottom edges, the not-XOR pen and wide lines.

#include <span>
#include <vector>

#include <QFont>
#include <QString>

#include "platform/Surface.h"

namespace vistrel {

// Raster operations of the pen (the drawing modes of the forms runtime).
enum class DrawMode : int {
    NotXorPen = 10,  // pixel = NOT (pen XOR pixel); a black pen inverts, twice restores
    CopyPen = 13,    // pixel = pen
};

// Stock drawing objects, by their stock numbers.
enum class StockObject : int {
    NullBrush = 5,  // closed shapes stay unfilled
    DcPen = 19,     // a solid pen whose colour is set per drawing
};

// A handle to a stock object.
struct GdiObject {
    StockObject stock;
};
GdiObject GetStockObject(StockObject which);

// A drawing context bound to one surface: current position, pen colour and
// width, drawing mode, selected pen and brush.
class Dc {
public:
    explicit Dc(Surface& surface) : surface_(&surface) {}

    Surface& surface() { return *surface_; }
    void SelectObject(GdiObject object);
    void SetDCPenColor(ColorValue color) { penColor_ = color; }
    ColorValue penColor() const { return penColor_; }
    void SetPenWidth(int width) { penWidth_ = width < 1 ? 1 : width; }
    int penWidth() const { return penWidth_; }
    void SetROP2(DrawMode mode) { mode_ = mode; }
    DrawMode rop2() const { return mode_; }

    // Sets the current position.
    void MoveToEx(int x, int y);
    // Draws from the current position up to, not including, (x, y), which becomes current.
    void LineTo(int x, int y);
    // Segments through all points, each end-exclusive: the very last point is not drawn.
    void Polyline(std::span<const korvex::Point> points);
    // Outline of columns left..right-1 and rows top..bottom-1.
    void Rectangle(int left, int top, int right, int bottom);
    // Outline of the ellipse inscribed in columns left..right-1 and rows top..bottom-1.
    void Ellipse(int left, int top, int right, int bottom);
    // The forms runtime's line: both end points drawn, in the pen width (square pen).
    void Line(int x1, int y1, int x2, int y2);

private:
    class Target;
    void segment(int x0, int y0, int x1, int y1, bool includeEnd);

    Surface* surface_;
    int curX_ = 0;
    int curY_ = 0;
    ColorValue penColor_ = 0;
    int penWidth_ = 1;
    DrawMode mode_ = DrawMode::CopyPen;
    bool nullBrush_ = false;
};

// Text with its top-left corner at (x, y), in the colour, without a background box.
void DrawTextAt(Surface& surface, int x, int y, const QString& text, ColorValue color, const QFont& font);

// Texts printed one after another on one line from (x, y), each in its own colour; the
// line ends in an ellipsis where it would pass x + width.
struct TextRun {
    QString text;
    ColorValue color = 0;
};
void DrawTextRuns(Surface& surface, int x, int y, int width, const std::vector<TextRun>& runs, const QFont& font);

}  // namespace vistrel
