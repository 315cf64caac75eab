#pragma once
// What every streaming reader promises, checked over any bytes: the bands reach the sink
// in order, end to end and within the picture; a receiver sees rows only grow, and a
// failed decode that told it of a buffer tells it to let go.

#include <cstdint>
#include <optional>

#include "decoding/Decode.h"
#include "decoding/RowReceiver.h"

namespace fuzz_checks {

// Claimed pictures larger than this are skipped: the program sizes the worker's memory
// for what a header claims, the fuzzer's own limit is far smaller.
constexpr std::uint64_t kMaxPixels = std::uint64_t{4096} * 4096;

class CheckedSink final : public vistrel::BandSink {
public:
    bool Start(int width, int height) override {
        if (started_ || width < 1 || height < 1 || width > vistrel::kMaxPictureSide || height > vistrel::kMaxPictureSide)
            __builtin_trap();
        started_ = true;
        height_ = height;
        return true;
    }
    bool Put(int first, int count, const uchar* rows) override {
        if (!started_ || first != filled_ || count < 1 || count > height_ - first || rows == nullptr) __builtin_trap();
        filled_ += count;
        return true;
    }
    // A success has handed on every row, or, for a reader that decodes a turned picture
    // whole, none and returned the picture instead.
    void Finished(const std::optional<vistrel::DecodeResult>& result, bool mayReturnWhole = false) const {
        if (!result || !*result) return;
        const bool returned = !result->surface->isNull();
        if (returned && !mayReturnWhole) __builtin_trap();
        if (returned ? started_ : !started_ || filled_ != height_) __builtin_trap();
    }

private:
    bool started_ = false;
    int height_ = 0, filled_ = 0;
};

class CheckedReceiver final : public vistrel::RowReceiver {
public:
    bool PictureStarted(vistrel::Surface& picture) override {
        if (starts_++ != 0) __builtin_trap();
        height_ = picture.height();
        return true;
    }
    bool RowsReady(int rows) override {
        if (starts_ != 1 || rows <= rows_ || rows > height_) __builtin_trap();
        rows_ = rows;
        return true;
    }
    void PictureDropped() override {
        if (starts_ != 1 || drops_++ != 0) __builtin_trap();
    }
    void Finished(const std::optional<vistrel::DecodeResult>& result) const {
        if (!result) return;
        if (*result && (starts_ != 1 || rows_ != height_ || drops_ != 0)) __builtin_trap();
        if (!*result && drops_ != starts_) __builtin_trap();
    }

private:
    int starts_ = 0, drops_ = 0, rows_ = 0, height_ = 0;
};

}  // namespace fuzz_checks
