#include "kernels/photosites.h"

#include <algorithm>

#include "kernels/covers.h"

namespace korvex {

namespace {

struct Span {
    std::size_t begin = 0, end = 0;  // [begin, end)
};

// [begin, end) of `from` positions scaled onto `to` positions: every position the scaled
// interval touches.
Span Scaled(Span s, std::size_t from, std::size_t to) {
    if (from == to) return s;
    return {s.begin * to / from, (s.end * to + from - 1) / from};
}

// The developed picture's sides before its turn.
std::size_t DevelopedWidth(const Photosites& sites, std::size_t pw, std::size_t ph) { return (sites.flip & 4) != 0 ? ph : pw; }
std::size_t DevelopedHeight(const Photosites& sites, std::size_t pw, std::size_t ph) { return (sites.flip & 4) != 0 ? pw : ph; }

}  // namespace

PixelRect SensorRectOf(const Photosites& sites, std::size_t pictureWidth, std::size_t pictureHeight,
                       const PixelRect& picture) {
    if (picture.empty() || sites.width == 0 || sites.height == 0) return {};
    const std::size_t iw = DevelopedWidth(sites, pictureWidth, pictureHeight);
    const std::size_t ih = DevelopedHeight(sites, pictureWidth, pictureHeight);
    const Span across{picture.x, picture.x + picture.width}, down{picture.y, picture.y + picture.height};
    Span cols = (sites.flip & 4) != 0 ? down : across;
    Span rows = (sites.flip & 4) != 0 ? across : down;
    if ((sites.flip & 2) != 0) rows = {ih - rows.end, ih - rows.begin};
    if ((sites.flip & 1) != 0) cols = {iw - cols.end, iw - cols.begin};
    cols = Scaled(cols, iw, sites.width);
    rows = Scaled(rows, ih, sites.height);
    cols.end = std::min(cols.end, sites.width);
    rows.end = std::min(rows.end, sites.height);
    if (cols.begin >= cols.end || rows.begin >= rows.end) return {};
    return {cols.begin, rows.begin, cols.end - cols.begin, rows.end - rows.begin};
}

PhotositeHistograms CountPhotosites(const Photosites& sites, const PixelRect& rect) {
    PhotositeHistograms counts;
    for (std::vector<std::uint32_t>& h : counts) h.assign(kPhotositeValues, 0);
    if (rect.empty() || sites.values == nullptr || sites.repeat == 0) return counts;
    const std::size_t repeat = sites.repeat;
    std::array<std::uint32_t*, 6> tables{};  // of the columns rect.x, rect.x + 1, ... of a row
    for (std::size_t row = rect.y; row < rect.y + rect.height; ++row) {
        const std::uint8_t* classes = sites.pattern + (row % repeat) * repeat;
        for (std::size_t i = 0; i < repeat; ++i) tables[i] = counts[classes[(rect.x + i) % repeat]].data();
        const std::uint16_t* p = sites.values + row * sites.width + rect.x;
        const std::size_t n = rect.width;
        std::size_t x = 0;
        if (repeat == 2) {
            std::uint32_t* even = tables[0];
            std::uint32_t* odd = tables[1];
            for (; x + 1 < n; x += 2) {
                ++even[p[x]];
                ++odd[p[x + 1]];
            }
            if (x < n) ++even[p[x]];
        } else {
            for (; x < n; ++x) ++tables[x % repeat][p[x]];
        }
    }
    return counts;
}

std::vector<std::uint8_t> RawClipMarks(const Photosites& sites, std::uint32_t white,
                                       const std::array<std::uint8_t, kPhotositeClasses>& channelOf,
                                       std::size_t pictureWidth, std::size_t pictureHeight, std::size_t viewWidth,
                                       std::size_t viewHeight) {
    if (viewWidth == 0 || viewHeight == 0) return {};
    std::vector<std::uint8_t> marks(viewWidth * viewHeight, 0);
    if (white == 0 || sites.values == nullptr || pictureWidth == 0 || pictureHeight == 0) return marks;
    const std::size_t iw = DevelopedWidth(sites, pictureWidth, pictureHeight);
    const std::size_t ih = DevelopedHeight(sites, pictureWidth, pictureHeight);
    // The view columns (rows) that cover each picture column (row): a run, since the
    // covers rise.
    const auto viewSpans = [](std::size_t source, std::size_t view) {
        std::vector<Span> spans(source, Span{view, 0});
        const std::vector<detail::Cover> covers = detail::Covers(source, view);
        for (std::size_t v = 0; v < view; ++v)
            for (std::size_t s = covers[v].first; s <= covers[v].last; ++s) {
                spans[s].begin = std::min(spans[s].begin, v);
                spans[s].end = std::max(spans[s].end, v + 1);
            }
        return spans;
    };
    const std::vector<Span> viewColumns = viewSpans(pictureWidth, viewWidth);
    const std::vector<Span> viewRows = viewSpans(pictureHeight, viewHeight);
    // A developed position's picture column and row span, turned as the picture is.
    const auto mark = [&](Span cols, Span rows, std::uint8_t bit) {
        if ((sites.flip & 1) != 0) cols = {iw - cols.end, iw - cols.begin};
        if ((sites.flip & 2) != 0) rows = {ih - rows.end, ih - rows.begin};
        const Span across = (sites.flip & 4) != 0 ? rows : cols;
        const Span down = (sites.flip & 4) != 0 ? cols : rows;
        const Span vx{viewColumns[across.begin].begin, viewColumns[across.end - 1].end};
        const Span vy{viewRows[down.begin].begin, viewRows[down.end - 1].end};
        for (std::size_t Y = vy.begin; Y < vy.end; ++Y)
            for (std::size_t X = vx.begin; X < vx.end; ++X) marks[Y * viewWidth + X] |= bit;
    };
    const std::size_t repeat = sites.repeat;
    for (std::size_t row = 0; row < sites.height; ++row) {
        const std::uint16_t* p = sites.values + row * sites.width;
        // Most rows hold nothing at white: one pass to find out.
        if (std::none_of(p, p + sites.width, [white](std::uint16_t v) { return v >= white; })) continue;
        Span rows = Scaled({row, row + 1}, sites.height, ih);
        rows.end = std::max(rows.end, rows.begin + 1);
        rows.end = std::min(rows.end, ih);
        if (rows.begin >= rows.end) continue;
        const std::uint8_t* classes = sites.pattern + (row % repeat) * repeat;
        for (std::size_t col = 0; col < sites.width; ++col) {
            if (p[col] < white) continue;
            Span cols = Scaled({col, col + 1}, sites.width, iw);
            cols.end = std::min(std::max(cols.end, cols.begin + 1), iw);
            if (cols.begin >= cols.end) continue;
            mark(cols, rows, static_cast<std::uint8_t>(1u << channelOf[classes[col % repeat]]));
        }
    }
    return marks;
}

void ApplyRawClipMarks(const Pixel* view, const std::uint8_t* marks, Pixel* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t m = marks[i];
        out[i] = m == 0 ? view[i]
                        : ((m & 1) != 0 ? 0xFF0000u : 0u) | ((m & 2) != 0 ? 0x00FF00u : 0u) | ((m & 4) != 0 ? 0x0000FFu : 0u);
    }
}

}  // namespace korvex
