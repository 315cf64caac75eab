#include "decoding/readers/ColourBands.h"

#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <array>
#include <atomic>
#include <latch>
#include <optional>
#include <utility>

#include "colour/ColourTags.h"

namespace vistrel {
namespace {

// Fewer pixels than this are converted by the calling thread alone: handing them to
// another thread would cost more than it saves.
constexpr std::size_t kPixelsPerThread = std::size_t{64} * 1024;

}  // namespace

PictureColour PictureColourOf(const colourtags::FileColour& tags, colourtags::SampleKind samples) {
    const colour::SourceColour source = colour::SourceColourOf(tags);
    PictureColour meant;
    meant.converter = colour::ConverterFor(source, samples);
    if (meant.converter) meant.name = QString::fromStdString(source.name);
    meant.hdr = meant.converter && source.hdrToneMapped;
    // Colours that mean sRGB, or a profile that does not fit the samples, are not counted
    // here: they are sRGB's, inside every gamut, and the program counts their cells from
    // its own pixels when it needs them (colour::CountSrgbPixels). A profile lcms2 cannot
    // describe to the counting is counted as sRGB.
    if (meant.converter) meant.signal = colour::SignalSource::For(source, samples);
    if (meant.converter && !meant.signal) meant.signal = colour::SignalSource::Srgb();
    return meant;
}

PictureColour PictureColourOf(std::span<const unsigned char> file) {
    const colourtags::FileColour tags = colourtags::ReadFileColour(file);
    return PictureColourOf(tags, tags.samples);
}

void PictureColour::Stamp(DecodeResult& result, bool converted, std::uint64_t clipped) const {
    if (!name.isEmpty()) result.colourSpace = name;
    if (!converted) return;
    result.colourConverted = true;
    result.outOfGamut = clipped;
    result.hdrToneMapped = hdr;
}

std::uint64_t ConvertPixels(const colour::Converter& converter, const std::uint32_t* in, std::uint32_t* out,
                            std::size_t count) {
    return ConvertPixels(&converter, {}, in, out, count);
}

namespace {

// One part of ConvertPixels: counted, then converted.
std::uint64_t ConvertPart(const colour::Converter* converter, SignalCounting counting, const std::uint32_t* in,
                          std::uint32_t* out, std::size_t count) {
    if (counting) {
        const colour::SignalCount::Lease tally(*counting.count);
        counting.source->Count(in, count, *tally);
    }
    return converter != nullptr ? converter->Convert(in, out, count) : 0;
}

}  // namespace

std::uint64_t ConvertPixels(const colour::Converter* converter, SignalCounting counting, const std::uint32_t* in,
                            std::uint32_t* out, std::size_t count) {
    const std::size_t parts =
        std::clamp<std::size_t>(count / kPixelsPerThread, 1, static_cast<std::size_t>(std::max(1, QThread::idealThreadCount())));
    if (parts == 1) return ConvertPart(converter, counting, in, out, count);
    // The pool's idle threads take a part each; a part no thread is free for is done here.
    std::atomic<std::uint64_t> clipped{0};
    std::latch done(static_cast<std::ptrdiff_t>(parts - 1));
    const auto part = [&](std::size_t k) {
        const std::size_t from = count * k / parts, to = count * (k + 1) / parts;
        clipped += ConvertPart(converter, counting, in + from, out + from, to - from);
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

ColourBands::ColourBands(std::shared_ptr<const colour::Converter> converter, RowReceiver* receiver, BandSink* sink,
                         std::shared_ptr<const colour::SignalSource> signal)
    : converter_(std::move(converter)), signalSource_(std::move(signal)), receiver_(receiver), sink_(sink) {}

SignalCounting ColourBands::Counting() {
    std::call_once(countChosen_, [this] {
        if (!signalSource_) return;
        // Inks the reader composed itself arrive as RGB: counted as sRGB, as they are shown.
        counted_ = signalSource_->inks() && !inks_ ? colour::SignalSource::Srgb() : signalSource_;
        count_ = std::make_unique<colour::SignalCount>(counted_->space());
    });
    return {counted_.get(), count_.get()};
}

std::shared_ptr<const SignalStats> ColourBands::signal() {
    if (inFlight_.valid()) inFlight_.clipped.wait();
    if (!count_) return nullptr;
    return std::make_shared<const SignalStats>(count_->Stats());
}

ColourBands::~ColourBands() {
    if (inFlight_.valid()) inFlight_.clipped.wait();
}

ColourBands::Band ColourBands::Launch(int first, int count, std::uint32_t* pixels) {
    Band band{first, count, pixels, {}};
    const std::size_t n = std::size_t(count) * width_;
    const colour::Converter* const converter = converter_.get();
    auto task = std::make_shared<std::packaged_task<std::uint64_t()>>(
        [converter, counting = Counting(), pixels, n] { return ConvertPart(converter, counting, pixels, pixels, n); });
    band.clipped = task->get_future();
    if (!QThreadPool::globalInstance()->tryStart([task] { (*task)(); })) (*task)();
    return band;
}

bool ColourBands::PassOn(Band& band) {
    if (!band.valid()) return true;
    outOfGamut_ += band.clipped.get();
    const Band done = std::move(band);
    band = Band{};
    if (toSink_) return sink_ == nullptr || sink_->Put(done.first, done.count, reinterpret_cast<const uchar*>(done.pixels));
    return receiver_ == nullptr || receiver_->RowsReady(done.first + done.count);
}

bool ColourBands::PictureStarted(Surface& picture) {
    picture_ = &picture;
    convertedRows_ = 0;
    width_ = static_cast<std::size_t>(picture.width());
    height_ = picture.height();
    toSink_ = false;
    return receiver_ == nullptr || receiver_->PictureStarted(picture);
}

bool ColourBands::RowsReady(int rows) {
    if (wide_ || (!Converting() && !Counting())) return receiver_ == nullptr || receiver_->RowsReady(rows);
    if (rows <= convertedRows_) return receiver_ == nullptr || receiver_->RowsReady(rows);
    QImage& image = picture_->image();
    Q_ASSERT(image.format() == QImage::Format_RGB32 && std::size_t(image.bytesPerLine()) == width_ * 4);
    auto* const pixels = reinterpret_cast<std::uint32_t*>(image.scanLine(convertedRows_));
    const int from = std::exchange(convertedRows_, rows);
    if (!Converting()) {
        // Only counted: at once, so that the receiver hears of each band as the reader
        // tells it, and never reads a band the count still reads.
        ConvertPixels(nullptr, Counting(), pixels, pixels, std::size_t(rows - from) * width_);
        return receiver_ == nullptr || receiver_->RowsReady(rows);
    }
    if (rows == height_) {
        // The last band (or the whole picture at once): split over the pool, waited for.
        if (!PassOn(inFlight_)) return false;
        outOfGamut_ += ConvertPixels(Converting() ? converter_.get() : nullptr, Counting(), pixels, pixels,
                                     std::size_t(rows - from) * width_);
        return receiver_ == nullptr || receiver_->RowsReady(rows);
    }
    Band band = Launch(from, rows - from, pixels);
    const bool wanted = PassOn(inFlight_);
    inFlight_ = std::move(band);
    return wanted;
}

void ColourBands::PictureDropped() {
    if (inFlight_.valid()) inFlight_.clipped.wait();
    inFlight_ = Band{};
    if (receiver_ != nullptr) receiver_->PictureDropped();
}

bool ColourBands::Start(int width, int height) {
    width_ = static_cast<std::size_t>(width);
    height_ = height;
    toSink_ = true;
    return sink_ == nullptr || sink_->Start(width, height);
}

uchar* ColourBands::Destination(int first, int count) {
    destination_ = sink_ != nullptr ? sink_->Destination(first, count) : nullptr;
    return destination_;
}

bool ColourBands::Put(int first, int count, const uchar* rows) {
    if (wide_ || (!Converting() && !Counting())) return sink_ == nullptr || sink_->Put(first, count, rows);
    if (!Converting()) {
        // Only counted, at once: the rows pass on as they came, when the reader puts them.
        const auto* const in = reinterpret_cast<const std::uint32_t*>(rows);
        ConvertPixels(nullptr, Counting(), in, const_cast<std::uint32_t*>(in), std::size_t(count) * width_);
        destination_ = nullptr;
        return sink_ == nullptr || sink_->Put(first, count, rows);
    }
    const colour::Converter* const converter = converter_.get();
    if (rows != destination_ || destination_ == nullptr || first + count == height_) {
        // The decoder's own band buffer, which it fills again next, or the last band:
        // converted now, split over the pool.
        if (!PassOn(inFlight_)) return false;
        if (rows == destination_ && destination_ != nullptr) {
            auto* const band = reinterpret_cast<std::uint32_t*>(destination_);
            destination_ = nullptr;
            outOfGamut_ += ConvertPixels(converter, Counting(), band, band, std::size_t(count) * width_);
            return sink_ == nullptr || sink_->Put(first, count, rows);
        }
        const std::size_t pixels = std::size_t(count) * width_;
        const auto* const in = reinterpret_cast<const std::uint32_t*>(rows);
        band_.resize(pixels);
        outOfGamut_ += ConvertPixels(converter, Counting(), in, band_.data(), pixels);
        return sink_ == nullptr || sink_->Put(first, count, reinterpret_cast<const uchar*>(band_.data()));
    }
    // Decoded straight into the sink's place, which stays and is ours to change.
    Band band = Launch(first, count, reinterpret_cast<std::uint32_t*>(destination_));
    destination_ = nullptr;
    const bool wanted = PassOn(inFlight_);
    inFlight_ = std::move(band);
    return wanted;
}

WideRows* ColourBands::TakeWideRows() {
    // Only counted, or CMYK composed by the reader: nothing to convert, and the reader
    // rounds its samples as it always does.
    if (!Converting()) return nullptr;
    wide_ = true;
    return this;
}

bool ColourBands::TakeInks() {
    inks_ = converter_ != nullptr && converter_->input() == colourtags::SampleKind::Cmyk;
    return inks_;
}

void ColourBands::ConvertInks(const std::uint16_t* cmyk, std::uint32_t* out, std::size_t count) {
    if (const SignalCounting counting = Counting()) {
        const colour::SignalCount::Lease tally(*counting.count);
        counting.source->CountInks16(cmyk, count, *tally);
    }
    wideClipped_ += converter_->ConvertInks16(cmyk, out, count);
}

void ColourBands::Convert(const std::uint16_t* rgba, std::uint32_t* out, std::size_t count, std::uint32_t background) {
    // Laid over the background at 16 bits (its levels widened by 257), a chunk at a time.
    constexpr std::size_t kChunk = 1024;
    constexpr std::uint32_t kOpaque = 0xFFFF;
    const std::uint32_t under[3] = {((background >> 16) & 0xFF) * 257, ((background >> 8) & 0xFF) * 257,
                                    (background & 0xFF) * 257};
    std::array<std::uint16_t, 3 * kChunk> rgb;
    std::uint64_t clipped = 0;
    const SignalCounting counting = Counting();
    std::optional<colour::SignalCount::Lease> tally;
    if (counting) tally.emplace(*counting.count);
    for (std::size_t at = 0; at < count; at += kChunk) {
        const std::size_t n = std::min(kChunk, count - at);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint16_t* p = rgba + 4 * (at + i);
            const std::uint32_t a = p[3];
            for (std::size_t k = 0; k < 3; ++k)
                rgb[3 * i + k] = a == kOpaque ? p[k]
                                              : static_cast<std::uint16_t>((std::uint64_t{p[k]} * a +
                                                                            std::uint64_t{under[k]} * (kOpaque - a) + kOpaque / 2) /
                                                                           kOpaque);
        }
        if (tally) counting.source->Count16(rgb.data(), n, **tally);
        clipped += converter_->Convert16(rgb.data(), out + at, n);
    }
    wideClipped_ += clipped;
}

}  // namespace vistrel
