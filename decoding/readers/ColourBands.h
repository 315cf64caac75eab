#pragma once
// The colour conversion applied to a decode band by band, whatever the reader: a
// RowReceiver and BandSink that converts each band in place before passing it on.

#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <future>
#include <mutex>
#include <optional>
#include <memory>
#include <span>
#include <vector>

#include "colour/ColourConvert.h"
#include "colour/ColourTags.h"
#include "colour/SignalSource.h"
#include "decoding/Decode.h"
#include "decoding/RowReceiver.h"

namespace vistrel {

// What a picture's colours mean to the decoder, and the one place that decides what a
// decode does with them: a conversion to sRGB and the source space's name, or no
// conversion (and no name) when they mean sRGB or the profile does not fit the samples.
struct PictureColour {
    std::shared_ptr<const colour::Converter> converter;
    QString name;
    bool hdr = false;  // a PQ or HLG signal, which the conversion renders as SDR
    // How the file's own samples are counted (sRGB's for a picture that means sRGB).
    std::shared_ptr<const colour::SignalSource> signal;

    // Whether the pixels are converted: colours other than sRGB's, and not asked for as stored.
    bool Converting(ColourHandling handling) const {
        return converter != nullptr && handling == ColourHandling::ConvertToSrgb;
    }
    // The result says what the program shows: the space's name where it is not sRGB,
    // and, when its pixels were converted, so, how many were clipped and whether an HDR
    // signal was tone-mapped.
    void Stamp(DecodeResult& result, bool converted, std::uint64_t clipped) const;
};
// From the tags a file's bytes carry (JPEG, PNG, TIFF, WebP), or those a library read
// (HEIF, JPEG XL) for samples of the given kind.
PictureColour PictureColourOf(std::span<const unsigned char> file);
PictureColour PictureColourOf(const colourtags::FileColour& tags, colourtags::SampleKind samples);

// Pixels converted from `in` to `out` (which may be the same), split over the thread
// pool when there are many; returns how many were clipped, and with `marks` which
// (Converter::Convert's marks, ceil(count / 64) words).
std::uint64_t ConvertPixels(const colour::Converter& converter, const std::uint32_t* in, std::uint32_t* out,
                            std::size_t count, std::uint64_t* marks = nullptr);

// Where a decode's samples are counted: the source that reads them and the counts of
// the picture; nothing counts without both.
struct SignalCounting {
    const colour::SignalSource* source = nullptr;
    colour::SignalCount* count = nullptr;
    explicit operator bool() const { return source != nullptr && count != nullptr; }
};
// ConvertPixels (without a converter: `in` only counted, `out` untouched, nothing
// marked), each part counted before it is converted.
std::uint64_t ConvertPixels(const colour::Converter* converter, SignalCounting counting, const std::uint32_t* in,
                            std::uint32_t* out, std::size_t count, std::uint64_t* marks = nullptr);

// Where a decode keeps which pixels its conversion clipped, band by band, when its
// receiver does not hear of them itself: a mask made on the first clipped pixel.
class ClippedMask final : public ClippedPixels {
public:
    void Start(std::uint64_t pixels) { pixels_ = pixels; }
    void Clipped(std::uint64_t first, std::size_t count, const std::uint64_t* bits) override;
    // Nothing when no pixel was clipped.
    std::shared_ptr<const korvex::PixelMask> mask() const { return mask_; }

private:
    std::uint64_t pixels_ = 0;
    std::shared_ptr<korvex::PixelMask> mask_;
};

// A band that stays where it is (the receiver's picture, the sink's own place) is
// converted on a thread of the pool while the decoder goes on with the next, and
// passed on once converted: the caller hears of each band one band later, of the last
// at once. With a signal source each band's samples are counted first, as the decoder
// made them; without a converter they are only counted. Which pixels each band's
// conversion clipped is told once the band is passed on (ClippedPixels), to the
// receiver or sink when it takes them, else kept here.
class ColourBands final : public RowReceiver, public BandSink, private WideRows {
public:
    // Either may be nullptr; the rows then end here, converted.
    ColourBands(std::shared_ptr<const colour::Converter> converter, RowReceiver* receiver, BandSink* sink,
                std::shared_ptr<const colour::SignalSource> signal = nullptr);
    ~ColourBands() override;

    // The samples' counts, once the last row has passed (a band still being counted is
    // waited for); nothing without a signal source.
    std::shared_ptr<const SignalStats> signal();

    // Pixels that left sRGB's gamut and were clipped, so far.
    std::uint64_t outOfGamut() const { return outOfGamut_ + wideClipped_.load(); }
    // Which they were, when neither the receiver nor the sink took them; nothing when
    // there were none.
    std::shared_ptr<const korvex::PixelMask> clipped() const { return kept_.mask(); }
    // False when the conversion takes inks and the reader composed them itself (a kind of
    // CMYK it does not hand over raw): its rows then pass as they are.
    bool converted() const { return converter_->input() != colourtags::SampleKind::Cmyk || inks_; }

    bool PictureStarted(Surface& picture) override;
    bool RowsReady(int rows) override;
    void PictureDropped() override;

    bool Start(int width, int height) override;
    bool Put(int first, int count, const uchar* rows) override;
    uchar* Destination(int first, int count) override;
    // A reader of wide samples converts them itself through this; the bands it reports
    // are then passed on as they are.
    WideRows* TakeWideRows() override;
    bool TakeInks() override;
    void Turning(const std::uint32_t* stored, int width, int height, int orientation) override;

private:
    void Convert(const std::uint16_t* rgba, std::uint32_t* out, std::size_t count, std::uint32_t background) override;
    void ConvertInks(const std::uint16_t* cmyk, std::uint32_t* out, std::size_t count) override;

private:
    // A band being converted: rows first .. first + count - 1 at `pixels`, and which of
    // them it clipped.
    struct Band {
        int first = 0, count = 0;
        std::uint32_t* pixels = nullptr;
        std::future<std::uint64_t> clipped;
        std::vector<std::uint64_t> marks;
        bool valid() const { return clipped.valid(); }
    };
    Band Launch(int first, int count, std::uint32_t* pixels);
    // Where clipped pixels go: the receiver's or the sink's, else kept here.
    ClippedPixels& Told();
    // Tells it of the band's pixels first .. first + count - 1 when `clipped` of them were.
    void Tell(std::uint64_t first, std::size_t count, const std::uint64_t* marks, std::uint64_t clipped);
    // Wide rows converted by the reader at `at`, with their marks, until the rows they
    // were made in are handed on: those of them that lie in `count` pixels at `rows`
    // (the band's pixels from `first` on) are told.
    struct Pending {
        const std::uint32_t* at;
        std::size_t count;
        std::vector<std::uint64_t> marks;
    };
    void Note(const std::uint32_t* at, std::size_t count, const std::uint64_t* marks);
    void TellWide(const std::uint32_t* rows, std::uint64_t first, std::size_t count);
    // Hands each pending conversion whose pixels lie in `count` pixels from `pixels` on to
    // take(pending, its offset in pixels), and forgets it; under the pending lock.
    template <class Take>
    void TakePending(const std::uint32_t* pixels, std::size_t count, Take take);
    // Whether rows are converted here; whether they are counted (the counts made on the
    // first call: a CMYK reader says before its first row whether it hands its inks).
    bool Converting() const { return converter_ != nullptr && converted(); }
    SignalCounting Counting();
    // Waits for the band being converted, if any; false when the caller no longer wants rows.
    bool PassOn(Band& band);

    const std::shared_ptr<const colour::Converter> converter_;
    const std::shared_ptr<const colour::SignalSource> signalSource_;
    std::shared_ptr<const colour::SignalSource> counted_;  // what Counting() chose to read the rows with
    std::unique_ptr<colour::SignalCount> count_;
    std::once_flag countChosen_;
    RowReceiver* const receiver_;
    BandSink* const sink_;
    std::uint64_t outOfGamut_ = 0;
    std::atomic<std::uint64_t> wideClipped_{0};  // from the wide rows a reader converted
    bool wide_ = false;  // a reader converts the rows itself
    bool inks_ = false;  // the reader hands inks
    Surface* picture_ = nullptr;
    int convertedRows_ = 0;
    std::size_t width_ = 0;
    int height_ = 0;
    Band inFlight_;
    bool toSink_ = false;  // the band in flight goes to the sink, not the receiver
    uchar* destination_ = nullptr;  // the sink's place for the band being decoded
    std::vector<std::uint32_t> band_;  // a band that came from the decoder's own buffer
    std::vector<std::uint64_t> marks_;  // a band converted here and now
    std::optional<ClippedPixels*> told_;  // where clipped pixels go, once asked
    ClippedMask kept_;  // ... when neither the receiver nor the sink takes them
    std::mutex pendingMutex_;
    std::vector<Pending> pending_;
    int wideTold_ = 0;  // rows of a receiver's picture whose wide marks were told
    // Wide rows' marks turned upright with their picture (Turning), by their upright places.
    std::unique_ptr<korvex::PixelMask> turned_;
};

}  // namespace vistrel
