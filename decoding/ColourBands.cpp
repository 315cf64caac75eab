#include "decoding/ColourBands.h"

#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <latch>

#include "decoding/ColourTags.h"

namespace vistrel {
namespace {

// Fewer pixels than this are converted by the calling thread alone: handing them to
// another thread would cost more than it saves.
constexpr std::size_t kPixelsPerThread = std::size_t{64} * 1024;

}  // namespace

PictureColour PictureColourOf(std::span<const unsigned char> file) {
    const colour::SourceColour source = colour::SourceColourOf(colourtags::ReadFileColour(file));
    PictureColour meant;
    if (source.profile.empty()) return meant;
    meant.converter = colour::Converter::Cached(source.profile);
    if (meant.converter) meant.name = QString::fromStdString(source.name);
    return meant;
}

std::uint64_t ConvertPixels(const colour::Converter& converter, const std::uint32_t* in, std::uint32_t* out,
                            std::size_t count) {
    const std::size_t parts =
        std::clamp<std::size_t>(count / kPixelsPerThread, 1, static_cast<std::size_t>(std::max(1, QThread::idealThreadCount())));
    if (parts == 1) return converter.Convert(in, out, count);
    // The pool's idle threads take a part each; a part no thread is free for is done here.
    std::atomic<std::uint64_t> clipped{0};
    std::latch done(static_cast<std::ptrdiff_t>(parts - 1));
    const auto part = [&](std::size_t k) {
        const std::size_t from = count * k / parts, to = count * (k + 1) / parts;
        clipped += converter.Convert(in + from, out + from, to - from);
    };
    for (std::size_t k = 1; k < parts; ++k) {
        const auto helper = [&part, &done, k] {
            part(k);
            done.count_down();
        };
        if (!QThreadPool::globalInstance()->tryStart(helper)) helper();
    }
    part(0);
    done.wait();
    return clipped;
}

ColourBands::ColourBands(std::shared_ptr<const colour::Converter> converter, RowReceiver* receiver, BandSink* sink)
    : converter_(std::move(converter)), receiver_(receiver), sink_(sink) {}

bool ColourBands::PictureStarted(Surface& picture) {
    picture_ = &picture;
    convertedRows_ = 0;
    return receiver_ == nullptr || receiver_->PictureStarted(picture);
}

bool ColourBands::RowsReady(int rows) {
    if (rows > convertedRows_) {
        QImage& image = picture_->image();
        Q_ASSERT(image.format() == QImage::Format_RGB32 && std::size_t(image.bytesPerLine()) == std::size_t(image.width()) * 4);
        auto* first = reinterpret_cast<std::uint32_t*>(image.scanLine(convertedRows_));
        outOfGamut_ += ConvertPixels(*converter_, first, first, std::size_t(rows - convertedRows_) * std::size_t(image.width()));
        convertedRows_ = rows;
    }
    return receiver_ == nullptr || receiver_->RowsReady(rows);
}

void ColourBands::PictureDropped() {
    if (receiver_ != nullptr) receiver_->PictureDropped();
}

bool ColourBands::Start(int width, int height) {
    width_ = static_cast<std::size_t>(width);
    return sink_ == nullptr || sink_->Start(width, height);
}

uchar* ColourBands::Destination(int first, int count) {
    destination_ = sink_ != nullptr ? sink_->Destination(first, count) : nullptr;
    return destination_;
}

bool ColourBands::Put(int first, int count, const uchar* rows) {
    const std::size_t pixels = std::size_t(count) * width_;
    const uchar* converted = rows;
    if (rows == destination_ && destination_ != nullptr) {
        // Decoded straight into the sink's place, which is ours to change.
        auto* const band = reinterpret_cast<std::uint32_t*>(destination_);
        outOfGamut_ += ConvertPixels(*converter_, band, band, pixels);
    } else {
        band_.resize(pixels);
        outOfGamut_ += ConvertPixels(*converter_, reinterpret_cast<const std::uint32_t*>(rows), band_.data(), pixels);
        converted = reinterpret_cast<const uchar*>(band_.data());
    }
    destination_ = nullptr;
    return sink_ == nullptr || sink_->Put(first, count, converted);
}

}  // namespace vistrel
