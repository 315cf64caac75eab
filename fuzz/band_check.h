#pragma once
// A band sink for the readers' fuzz targets: it takes pictures up to a few megapixels,
// reads every byte of every band it is handed (so that the sanitizer sees any read past
// the reader's buffer), and traps when bands come out of order, past the picture's end,
// or a success arrives before the last row.

#include <cstdint>
#include <optional>

#include "decoding/Decode.h"

namespace fuzz {

class BandCheck final : public vistrel::BandSink {
public:
    // Larger pictures are refused as if memory ran out: a fuzz run has no room for them.
    static constexpr std::int64_t kMostPixels = std::int64_t{4} << 20;

    bool Start(int width, int height) override {
        if (started_ || width < 1 || height < 1) __builtin_trap();
        started_ = true;
        width_ = width;
        height_ = height;
        return std::int64_t{width} * height <= kMostPixels;
    }
    bool Put(int first, int count, const uchar* rows) override {
        if (!started_ || first != next_ || count < 1 || count > height_ - first) __builtin_trap();
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i < std::size_t(count) * std::size_t(width_) * 4; ++i) sum += rows[i];
        checksum_ += sum;
        next_ = first + count;
        return true;
    }
    // A success has handed on every row, or none and returned the picture (one decoded
    // whole to be turned).
    void Verify(const std::optional<vistrel::DecodeResult>& result) const {
        if (!result || !*result) return;
        const bool returned = !result->surface->isNull();
        if (returned ? started_ : !started_ || next_ != height_) __builtin_trap();
    }

private:
    bool started_ = false;
    int width_ = 0, height_ = 0, next_ = 0;
    std::uint32_t checksum_ = 0;
};

}  // namespace fuzz
