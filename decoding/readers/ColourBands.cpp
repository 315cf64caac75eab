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
#include "decoding/readers/Orientation.h"

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
                            std::size_t count, std::uint64_t* marks) {
    return ConvertPixels(&converter, {}, in, out, count, marks);
}

namespace {

// One part of ConvertPixels: counted, then converted.
std::uint64_t ConvertPart(const colour::Converter* converter, SignalCounting counting, const std::uint32_t* in,
                          std::uint32_t* out, std::size_t count, std::uint64_t* marks) {
    if (counting) {
        const colour::SignalCount::Lease tally(*counting.count);
        counting.source->Count(in, count, *tally);
    }
    return converter != nullptr ? converter->Convert(in, out, count, marks) : 0;
}

}  // namespace

void ClippedMask::Clipped(std::uint64_t first, std::size_t count, const std::uint64_t* bits) {
    if (!mask_) mask_ = std::make_shared<korvex::PixelMask>(pixels_);
    mask_->Mark(first, count, bits);
}

std::uint64_t ConvertPixels(const colour::Converter* converter, SignalCounting counting, const std::uint32_t* in,
                            std::uint32_t* out, std::size_t count, std::uint64_t* marks) {
    const std::size_t parts =
        std::clamp<std::size_t>(count / kPixelsPerThread, 1, static_cast<std::size_t>(std::max(1, QThread::idealThreadCount())));
    if (converter == nullptr) marks = nullptr;
    if (parts == 1) return ConvertPart(converter, counting, in, out, count, marks);
    // The pool's idle threads take a part each; a part no thread is free for is done here.
    // Parts start on whole words of the marks, so that no two threads write one.
    std::atomic<std::uint64_t> clipped{0};
    std::latch done(static_cast<std::ptrdiff_t>(parts - 1));
    const auto part = [&](std::size_t k) {
        const auto start = [&](std::size_t j) { return j == parts ? count : count * j / parts / 64 * 64; };
        const std::size_t from = start(k), to = start(k + 1);
        clipped += ConvertPart(converter, counting, in + from, out + from, to - from,
                               marks != nullptr ? marks + from / 64 : nullptr);
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
    Band band{first, count, pixels, {}, {}};
    const std::size_t n = std::size_t(count) * width_;
    const colour::Converter* const converter = converter_.get();
    band.marks.resize((n + 63) / 64);
    auto task = std::make_shared<std::packaged_task<std::uint64_t()>>(
        [converter, counting = Counting(), pixels, n, marks = band.marks.data()] {
            return ConvertPart(converter, counting, pixels, pixels, n, marks);
        });
    band.clipped = task->get_future();
    if (!QThreadPool::globalInstance()->tryStart([task] { (*task)(); })) (*task)();
    return band;
}

ClippedPixels& ColourBands::Told() {
    if (!told_) {
        ClippedPixels* taker = toSink_ ? (sink_ != nullptr ? sink_->TakeClippedPixels() : nullptr)
                                       : (receiver_ != nullptr ? receiver_->TakeClippedPixels() : nullptr);
        if (taker == nullptr) {
            kept_.Start(std::uint64_t{width_} * static_cast<std::uint64_t>(height_));
            taker = &kept_;
        }
        told_ = taker;
    }
    return **told_;
}

void ColourBands::Tell(std::uint64_t first, std::size_t count, const std::uint64_t* marks, std::uint64_t clipped) {
    if (clipped != 0) Told().Clipped(first, count, marks);
}

bool ColourBands::PassOn(Band& band) {
    if (!band.valid()) return true;
    const std::uint64_t clipped = band.clipped.get();
    outOfGamut_ += clipped;
    const Band done = std::move(band);
    band = Band{};
    const bool wanted =
        toSink_ ? sink_ == nullptr || sink_->Put(done.first, done.count, reinterpret_cast<const uchar*>(done.pixels))
                : receiver_ == nullptr || receiver_->RowsReady(done.first + done.count);
    Tell(std::uint64_t(done.first) * width_, std::size_t(done.count) * width_, done.marks.data(), clipped);
    return wanted;
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
    if (wide_) {
        const int from = std::exchange(wideTold_, std::max(wideTold_, rows));
        const bool wanted = receiver_ == nullptr || receiver_->RowsReady(rows);
        if (rows > from)
            TellWide(reinterpret_cast<const std::uint32_t*>(picture_->image().constScanLine(from)),
                     std::uint64_t(from) * width_, std::size_t(rows - from) * width_);
        return wanted;
    }
    if (!Converting() && !Counting()) return receiver_ == nullptr || receiver_->RowsReady(rows);
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
        const std::size_t n = std::size_t(rows - from) * width_;
        marks_.resize((n + 63) / 64);
        const std::uint64_t clipped = ConvertPixels(converter_.get(), Counting(), pixels, pixels, n, marks_.data());
        outOfGamut_ += clipped;
        const bool wanted = receiver_ == nullptr || receiver_->RowsReady(rows);
        Tell(std::uint64_t(from) * width_, n, marks_.data(), clipped);
        return wanted;
    }
    Band band = Launch(from, rows - from, pixels);
    const bool wanted = PassOn(inFlight_);
    inFlight_ = std::move(band);
    return wanted;
}

void ColourBands::PictureDropped() {
    if (inFlight_.valid()) inFlight_.clipped.wait();
    inFlight_ = Band{};
    const std::lock_guard lock(pendingMutex_);
    pending_.clear();
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
    if (wide_) {
        const bool wanted = sink_ == nullptr || sink_->Put(first, count, rows);
        TellWide(reinterpret_cast<const std::uint32_t*>(rows), std::uint64_t(first) * width_, std::size_t(count) * width_);
        return wanted;
    }
    if (!Converting() && !Counting()) return sink_ == nullptr || sink_->Put(first, count, rows);
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
        const std::size_t pixels = std::size_t(count) * width_;
        marks_.resize((pixels + 63) / 64);
        std::uint64_t clipped = 0;
        bool wanted = true;
        if (rows == destination_ && destination_ != nullptr) {
            auto* const band = reinterpret_cast<std::uint32_t*>(destination_);
            destination_ = nullptr;
            clipped = ConvertPixels(converter, Counting(), band, band, pixels, marks_.data());
            outOfGamut_ += clipped;
            wanted = sink_ == nullptr || sink_->Put(first, count, rows);
        } else {
            const auto* const in = reinterpret_cast<const std::uint32_t*>(rows);
            band_.resize(pixels);
            clipped = ConvertPixels(converter, Counting(), in, band_.data(), pixels, marks_.data());
            outOfGamut_ += clipped;
            wanted = sink_ == nullptr || sink_->Put(first, count, reinterpret_cast<const uchar*>(band_.data()));
        }
        Tell(std::uint64_t(first) * width_, pixels, marks_.data(), clipped);
        return wanted;
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
    std::vector<std::uint64_t> marks((count + 63) / 64);
    const std::uint64_t clipped = converter_->ConvertInks16(cmyk, out, count, marks.data());
    if (clipped != 0) Note(out, count, marks.data());
    wideClipped_ += clipped;
}

void ColourBands::Note(const std::uint32_t* at, std::size_t count, const std::uint64_t* marks) {
    const std::lock_guard lock(pendingMutex_);
    pending_.push_back({at, count, std::vector<std::uint64_t>(marks, marks + (count + 63) / 64)});
}

template <class Take>
void ColourBands::TakePending(const std::uint32_t* pixels, std::size_t count, Take take) {
    // Places compared as numbers: the pixels and a pending conversion's may be different buffers.
    const auto begin = reinterpret_cast<std::uintptr_t>(pixels);
    const std::uintptr_t end = begin + count * sizeof *pixels;
    const std::lock_guard lock(pendingMutex_);
    for (auto it = pending_.begin(); it != pending_.end();) {
        const auto at = reinterpret_cast<std::uintptr_t>(it->at);
        if (at < begin || at >= end) {
            ++it;
            continue;
        }
        take(*it, (at - begin) / sizeof *pixels);
        it = pending_.erase(it);
    }
}

void ColourBands::TellWide(const std::uint32_t* rows, std::uint64_t first, std::size_t count) {
    std::vector<std::uint64_t> marks;
    TakePending(rows, count, [&](const Pending& pending, std::size_t offset) {
        if (marks.empty()) marks.assign((count + 63) / 64, 0);
        korvex::OrBits(marks.data(), offset, pending.marks.data(), pending.count);
    });
    if (turned_) {
        std::vector<std::uint64_t> turned((count + 63) / 64);
        turned_->Bits(first, count, turned.data());
        if (marks.empty()) marks.assign(turned.size(), 0);
        korvex::OrBits(marks.data(), 0, turned.data(), count);
    }
    if (!marks.empty()) Tell(first, count, marks.data(), korvex::CountBits(marks.data(), count));
}

void ColourBands::Turning(const std::uint32_t* stored, int width, int height, int orientation) {
    TakePending(stored, std::size_t(width) * std::size_t(height), [&](const Pending& pending, std::size_t offset) {
        if (!turned_) turned_ = std::make_unique<korvex::PixelMask>(std::uint64_t(width) * std::uint64_t(height));
        for (std::size_t i = 0; i < pending.count; ++i) {
            if (((pending.marks[i / 64] >> (i % 64)) & 1) == 0) continue;
            const std::size_t place = offset + i;
            const UprightPlace upright = UprightPlaceOf(orientation, int(place % std::size_t(width)), int(place / std::size_t(width)), width, height);
            turned_->MarkRun(std::uint64_t(upright.y) * std::uint64_t(upright.width) + std::uint64_t(upright.x), 1);
        }
    });
}

void ColourBands::Convert(const std::uint16_t* rgba, std::uint32_t* out, std::size_t count, std::uint32_t background) {
    // Laid over the background at 16 bits (its levels widened by 257), a chunk at a time
    // (a whole number of mark words).
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
        std::array<std::uint64_t, kChunk / 64> marks;
        const std::uint64_t here = converter_->Convert16(rgb.data(), out + at, n, marks.data());
        if (here != 0) Note(out + at, n, marks.data());
        clipped += here;
    }
    wideClipped_ += clipped;
}

}  // namespace vistrel
