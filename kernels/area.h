#pragma once
// Area-averaging resampling: each destination pixel is the mean of the source pixels
// under it, each weighted by how much of it the destination pixel covers. The same rule
// reduces and enlarges; when enlarging, each source pixel keeps its colour and only the
// destination pixels across its edges blend. Exact: integer weights, one rounding.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernels/korvex.h"

namespace korvex {

// Resamples a source picture arriving a band of rows at a time, top to bottom, into a
// destination it fills as rows complete. Pixels are 0xQQRRGGBB; the source's fourth
// byte is ignored and each destination pixel gets 0xFF there (opaque).
class AreaResampler {
public:
    // Sides of 0 make a resampler that does nothing. destination holds
    // destinationWidth x destinationHeight pixels, row after row, and must outlive it.
    AreaResampler(std::size_t sourceWidth, std::size_t sourceHeight, Pixel* destination,
                  std::size_t destinationWidth, std::size_t destinationHeight);

    // The next `count` source rows, each sourceWidth pixels, `stride` pixels apart. Rows past
    // the source's height are ignored. Every destination row they complete is written.
    void AddRows(const Pixel* rows, std::size_t count, std::size_t stride);

    // Source rows taken so far.
    std::size_t rowsDone() const { return rowsDone_; }

private:
    struct Span {
        std::size_t first, last;              // the source columns under a destination column
        std::uint32_t firstWeight, lastWeight;  // their coverage; the columns between weigh destinationWidth
    };
    void AddRow(const Pixel* row);
    // A row that touches more than one destination row, or any row of an enlargement.
    void AddWeightedRow(const Pixel* row, std::size_t top, std::size_t bottom);
    void FinishRow(std::size_t y);

    std::size_t sw_ = 0, sh_ = 0, dw_ = 0, dh_ = 0;
    Pixel* destination_ = nullptr;
    std::vector<Span> columns_;
    // Weighted column sums of the destination rows still open, a ring of rows, one plane
    // per colour: blue, then green, then red.
    std::size_t ringRows_ = 0;
    std::vector<std::uint32_t> sums_;
    // Unweighted sums of the source rows wholly inside the destination row being formed:
    // blue and red packed in halves, then green. Empty when a destination row may hold
    // more such rows than the halves can sum.
    std::vector<std::uint32_t> inner_;
    std::size_t rowsDone_ = 0;
    std::size_t nextOpen_ = 0;  // the first destination row not yet written
};

// The whole source (rows stride pixels apart) resampled into the whole destination at once.
void ResampleArea(const Pixel* source, std::size_t sourceWidth, std::size_t sourceHeight, std::size_t sourceStride,
                  Pixel* destination, std::size_t destinationWidth, std::size_t destinationHeight);

}  // namespace korvex
