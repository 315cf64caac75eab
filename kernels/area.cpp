// Area averaging, separably and exactly.
//
// Distances are counted in units that make both grids whole: across, a source column is
// destinationWidth units wide and a destination column sourceWidth units, so both span
// sourceWidth x destinationWidth units; down likewise. A destination pixel's value is
// then  sum over the source pixels under it of (overlap across x overlap down x level),
// divided by sourceWidth x sourceHeight (its own area in those units), rounded to the
// nearest level, halves to even.
//
// Source rows arrive in order. Each is added, weighted by its overlap down, into the
// column sums of the one or more destination rows it touches (at most 255 x sourceHeight
// each: 32 bits); a destination row whose last source row has arrived is then summed
// across with the column weights (64 bits), divided and written.

#include "kernels/area.h"

#include <algorithm>
#include <cassert>

#include "kernels/simd.h"

namespace korvex {

namespace {

KORVEX_ALWAYS_INLINE void AddWeightedBody(const Pixel* row, std::size_t width, std::uint32_t weight, std::uint32_t* blue,
                                          std::uint32_t* green, std::uint32_t* red) {
    for (std::size_t x = 0; x < width; ++x) {
        const Pixel p = row[x];
        blue[x] += weight * (p & 0xFFu);
        green[x] += weight * ((p >> 8) & 0xFFu);
        red[x] += weight * ((p >> 16) & 0xFFu);
    }
}

void AddWeightedPlain(const Pixel* row, std::size_t width, std::uint32_t weight, std::uint32_t* blue,
                      std::uint32_t* green, std::uint32_t* red) {
    AddWeightedBody(row, width, weight, blue, green, red);
}

KORVEX_TARGET_WIDE void AddWeightedWide(const Pixel* row, std::size_t width, std::uint32_t weight,
                                        std::uint32_t* blue, std::uint32_t* green, std::uint32_t* red) {
    AddWeightedBody(row, width, weight, blue, green, red);
}

// The rows of a reduction that lie wholly inside one destination row all weigh the same
// (destinationHeight), so they are added unweighted, blue and red packed into the halves
// of one 32-bit sum: a quarter of the work of a weighted row. Their sums are weighted once,
// as the destination row finishes.
KORVEX_ALWAYS_INLINE void AddInnerBody(const Pixel* row, std::size_t width, std::uint32_t* blueRed,
                                       std::uint32_t* green) {
    for (std::size_t x = 0; x < width; ++x) {
        const Pixel p = row[x];
        blueRed[x] += p & 0x00FF00FFu;
        green[x] += (p >> 8) & 0xFFu;
    }
}

void AddInnerPlain(const Pixel* row, std::size_t width, std::uint32_t* blueRed, std::uint32_t* green) {
    AddInnerBody(row, width, blueRed, green);
}

KORVEX_TARGET_WIDE void AddInnerWide(const Pixel* row, std::size_t width, std::uint32_t* blueRed, std::uint32_t* green) {
    AddInnerBody(row, width, blueRed, green);
}

KORVEX_TARGET_WIDEST void AddInnerWidest(const Pixel* row, std::size_t width, std::uint32_t* blueRed,
                                         std::uint32_t* green) {
    AddInnerBody(row, width, blueRed, green);
}

// The inner rows' sums, weighted, into a destination row's column sums; the inner sums
// back to zero.
KORVEX_ALWAYS_INLINE void FoldInnerBody(std::uint32_t* blueRed, std::uint32_t* green, std::size_t width,
                                        std::uint32_t weight, std::uint32_t* blue, std::uint32_t* greenSums,
                                        std::uint32_t* red) {
    for (std::size_t x = 0; x < width; ++x) {
        blue[x] += weight * (blueRed[x] & 0xFFFFu);
        red[x] += weight * (blueRed[x] >> 16);
        greenSums[x] += weight * green[x];
        blueRed[x] = 0;
        green[x] = 0;
    }
}

void FoldInnerPlain(std::uint32_t* blueRed, std::uint32_t* green, std::size_t width, std::uint32_t weight,
                    std::uint32_t* blue, std::uint32_t* greenSums, std::uint32_t* red) {
    FoldInnerBody(blueRed, green, width, weight, blue, greenSums, red);
}

KORVEX_TARGET_WIDE void FoldInnerWide(std::uint32_t* blueRed, std::uint32_t* green, std::size_t width,
                                      std::uint32_t weight, std::uint32_t* blue, std::uint32_t* greenSums,
                                      std::uint32_t* red) {
    FoldInnerBody(blueRed, green, width, weight, blue, greenSums, red);
}

// Packed halves hold 65,535: 257 rows of 255.
constexpr std::size_t kMostInnerRows = 257;

// nearest(total / area), halves to even.
std::uint32_t NearestLevel(std::uint64_t total, std::uint64_t area) {
    const std::uint64_t q = total / area;
    const std::uint64_t twice = 2 * (total - q * area);
    if (twice > area || (twice == area && (q & 1) != 0)) return static_cast<std::uint32_t>(q + 1);
    return static_cast<std::uint32_t>(q);
}

}  // namespace

AreaResampler::AreaResampler(std::size_t sourceWidth, std::size_t sourceHeight, Pixel* destination,
                             std::size_t destinationWidth, std::size_t destinationHeight) {
    if (sourceWidth == 0 || sourceHeight == 0 || destinationWidth == 0 || destinationHeight == 0 ||
        destination == nullptr)
        return;
    sw_ = sourceWidth;
    sh_ = sourceHeight;
    dw_ = destinationWidth;
    dh_ = destinationHeight;
    destination_ = destination;
    columns_.resize(dw_);
    for (std::size_t X = 0; X < dw_; ++X) {
        Span& s = columns_[X];
        const std::size_t begin = X * sw_, end = (X + 1) * sw_;
        s.first = begin / dw_;
        s.last = (end - 1) / dw_;
        const auto overlap = [&](std::size_t x) {
            return static_cast<std::uint32_t>(std::min((x + 1) * dw_, end) - std::max(x * dw_, begin));
        };
        s.firstWeight = overlap(s.first);
        s.lastWeight = s.last > s.first ? overlap(s.last) : 0;
    }
    // A source row touches at most dh / sh + 2 destination rows, and rows finish in order.
    ringRows_ = std::min(dh_, dh_ / sh_ + 2);
    sums_.assign(ringRows_ * 3 * sw_, 0u);
    // At most sh / dh source rows lie wholly inside one destination row.
    if (sh_ <= kMostInnerRows * dh_) inner_.assign(2 * sw_, 0u);
}

void AreaResampler::AddRows(const Pixel* rows, std::size_t count, std::size_t stride) {
    for (std::size_t k = 0; k < count && rowsDone_ < sh_; ++k) AddRow(rows + k * stride);
}

void AreaResampler::AddRow(const Pixel* row) {
    const std::size_t y = rowsDone_++;
    const std::size_t top = y * dh_, bottom = (y + 1) * dh_;
    if (top / sh_ == (bottom - 1) / sh_ && !inner_.empty()) {
        // Wholly inside one destination row (weight dh): added unweighted, weighed in FinishRow.
        const auto add = detail::UseWidestVectors() ? &AddInnerWidest
                         : detail::UseWideVectors() ? &AddInnerWide
                                                    : &AddInnerPlain;
        add(row, sw_, inner_.data(), inner_.data() + sw_);
    } else {
        AddWeightedRow(row, top, bottom);
    }
    while (nextOpen_ < dh_ && (nextOpen_ + 1) * sh_ <= bottom) FinishRow(nextOpen_++);
}

void AreaResampler::AddWeightedRow(const Pixel* row, std::size_t top, std::size_t bottom) {
    const auto add = detail::UseWideVectors() ? &AddWeightedWide : &AddWeightedPlain;
    for (std::size_t Y = top / sh_; Y <= (bottom - 1) / sh_; ++Y) {
        const auto weight =
            static_cast<std::uint32_t>(std::min(bottom, (Y + 1) * sh_) - std::max(top, Y * sh_));
        std::uint32_t* const blue = sums_.data() + (Y % ringRows_) * 3 * sw_;
        add(row, sw_, weight, blue, blue + sw_, blue + 2 * sw_);
    }
}

void AreaResampler::FinishRow(std::size_t Y) {
    std::uint32_t* const planes = sums_.data() + (Y % ringRows_) * 3 * sw_;
    if (!inner_.empty()) {
        const auto fold = detail::UseWideVectors() ? &FoldInnerWide : &FoldInnerPlain;
        fold(inner_.data(), inner_.data() + sw_, sw_, static_cast<std::uint32_t>(dh_), planes, planes + sw_,
             planes + 2 * sw_);
    }
    const std::uint64_t area = std::uint64_t{sw_} * sh_;
    Pixel* const out = destination_ + Y * dw_;
    for (std::size_t X = 0; X < dw_; ++X) {
        const Span& s = columns_[X];
        Pixel pixel = 0xFF000000u;
        for (std::size_t c = 0; c < 3; ++c) {
            const std::uint32_t* const sums = planes + c * sw_;
            std::uint64_t total = std::uint64_t{s.firstWeight} * sums[s.first];
            if (s.last > s.first) {
                std::uint64_t inner = 0;
                for (std::size_t x = s.first + 1; x < s.last; ++x) inner += sums[x];
                total += inner * dw_ + std::uint64_t{s.lastWeight} * sums[s.last];
            }
            pixel |= NearestLevel(total, area) << (8 * c);
        }
        out[X] = pixel;
    }
    std::fill(planes, planes + 3 * sw_, 0u);
}

void ResampleArea(const Pixel* source, std::size_t sourceWidth, std::size_t sourceHeight, std::size_t sourceStride,
                  Pixel* destination, std::size_t destinationWidth, std::size_t destinationHeight) {
    AreaResampler resampler(sourceWidth, sourceHeight, destination, destinationWidth, destinationHeight);
    resampler.AddRows(source, sourceHeight, sourceStride);
}

}  // namespace korvex
