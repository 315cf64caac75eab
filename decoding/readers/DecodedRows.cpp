#include "decoding/readers/DecodedRows.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "decoding/readers/ColourBands.h"
#include "colour/ColourConvert.h"
#include "decoding/readers/RowOutput.h"

namespace vistrel {
namespace {


template <typename Sample, int Channels>
void Convert(const Sample* in, Pixel* out, std::size_t width, std::uint32_t top, Pixel bg) {
    // The nearest of 256 levels: top is odd (2^bits - 1), so no sample lies halfway.
    const auto level = [top](std::uint32_t v) {
        if constexpr (sizeof(Sample) == 1) return v;
        return (std::min(v, top) * 255 + top / 2) / top;
    };
    for (std::size_t x = 0; x < width; ++x, in += Channels) {
        const std::uint32_t a = Channels == 4 ? level(in[3]) : 0xFF;
        out[x] = OverBackground(level(in[0]), level(in[1]), level(in[2]), a, bg);
    }
}

// A deep row, alpha composited over the background (in the file's space, as the 8-bit
// path composites before converting), scaled to 16 bits for the conversion.
void WidenRow(const DecodedPlane& plane, int y, ColorValue background, std::vector<std::uint16_t>& rgb) {
    const auto* in = reinterpret_cast<const std::uint16_t*>(plane.data + std::size_t(y) * plane.stride);
    const auto width = static_cast<std::size_t>(plane.width);
    const std::uint32_t top = (std::uint32_t{1} << std::clamp(plane.bits, 1, 16)) - 1;
    const Pixel bg = OpaquePixel(background);
    const std::uint32_t back[3] = {((bg >> 16) & 0xFF) * 257, ((bg >> 8) & 0xFF) * 257, (bg & 0xFF) * 257};
    rgb.resize(width * 3);
    const auto channels = static_cast<std::size_t>(plane.channels);
    for (std::size_t x = 0; x < width; ++x, in += channels) {
        const std::uint64_t a = channels == 4 ? std::min<std::uint32_t>(in[3], top) : top;
        for (std::size_t c = 0; c < 3; ++c) {
            const std::uint64_t v = std::uint64_t{std::min<std::uint32_t>(in[c], top)} * 65535 / top;
            rgb[3 * x + c] = static_cast<std::uint16_t>((v * a + back[c] * (top - a) + top / 2) / top);
        }
    }
}

}  // namespace

namespace decoded_rows {

void ToPixels(const DecodedPlane& plane, int y, Pixel* out, ColorValue background) {
    const unsigned char* const row = plane.data + std::size_t(y) * plane.stride;
    const auto width = static_cast<std::size_t>(plane.width);
    const Pixel bg = OpaquePixel(background);
    const std::uint32_t top = (std::uint32_t{1} << std::clamp(plane.bits, 1, 16)) - 1;
    if (plane.sixteen) {
        const auto* samples = reinterpret_cast<const std::uint16_t*>(row);
        if (plane.channels == 4) Convert<std::uint16_t, 4>(samples, out, width, top, bg);
        else Convert<std::uint16_t, 3>(samples, out, width, top, bg);
    } else if (plane.channels == 4) {
        Convert<std::uint8_t, 4>(row, out, width, top, bg);
    } else {
        Convert<std::uint8_t, 3>(row, out, width, top, bg);
    }
}

}  // namespace decoded_rows

DecodeResult DeliverDecodedRows(const DecodedPlane& plane, ColorValue background, const LibraryColour& colour,
                                ColourHandling handling, RowReceiver* receiver, BandSink* sink) {
    colourtags::FileColour tags;
    tags.profile = colour.profile;
    tags.cicp = colour.cicp;
    tags.gamma = colour.gamma;
    tags.chromaticities = colour.chromaticities;
    const PictureColour meant = PictureColourOf(tags, colour.samples);
    std::optional<ColourBands> bands;
    // Deep samples (more than 8 bits) are converted at their full precision, a row at a
    // time, and rounded to 8 bits once; 8-bit rows go band by band through ColourBands.
    const bool converting = meant.Converting(handling);
    const colour::Converter* const deep = converting && plane.sixteen ? meant.converter.get() : nullptr;
    // Rows not converted here are counted on their way all the same.
    if (deep == nullptr) {
        bands.emplace(converting ? meant.converter : nullptr, receiver, sink, meant.signal);
        receiver = &*bands;
        sink = sink != nullptr ? &*bands : nullptr;
    }
    std::optional<colour::SignalTally> deepTally;
    if (deep != nullptr && meant.signal) deepTally.emplace(&meant.signal->space());

    const int height = plane.height;
    const int bandRows = BandRowsFor(plane.width, height);
    const auto width = static_cast<std::size_t>(plane.width);
    std::vector<std::uint16_t> wide;
    std::uint64_t deepClipped = 0;
    // Which of a band's deep pixels were clipped, told once the band is handed on: to the
    // sink or receiver when it takes them, else kept for the result.
    std::vector<std::uint64_t> rowMarks, bandMarks;
    std::uint64_t bandClipped = 0;
    ClippedMask kept;
    ClippedPixels* told = nullptr;
    if (deep != nullptr) {
        rowMarks.resize((width + 63) / 64);
        bandMarks.resize((std::size_t(bandRows) * width + 63) / 64);
        told = sink != nullptr ? sink->TakeClippedPixels() : receiver != nullptr ? receiver->TakeClippedPixels() : nullptr;
        kept.Start(std::uint64_t{width} * static_cast<std::uint64_t>(height));
        if (told == nullptr) told = &kept;
    }
    const auto toPixels = [&](int y, int first, Pixel* row) {
        if (!deep) return decoded_rows::ToPixels(plane, y, row, background);
        WidenRow(plane, y, background, wide);
        if (deepTally) meant.signal->Count16(wide.data(), width, *deepTally);
        const std::uint64_t clipped = deep->Convert16(wide.data(), row, width, rowMarks.data());
        if (clipped != 0) korvex::OrBits(bandMarks.data(), std::size_t(y - first) * width, rowMarks.data(), width);
        bandClipped += clipped;
        deepClipped += clipped;
    };
    DecodeResult result;
    {
        RowOutput out(receiver, sink);
        if (!out.Start(plane.width, height, bandRows)) return DecodeResult::Failed(out.failure());
        for (int first = 0; first < height; first += bandRows) {
            const int count = std::min(bandRows, height - first);
            out.OpenBand(first, count);
            for (int y = first; y < first + count; ++y) toPixels(y, first, out.Row(y));
            if (!out.Finish(first + count)) return DecodeResult::Failed(out.failure());
            if (bandClipped != 0) {
                told->Clipped(std::uint64_t(first) * width, std::size_t(count) * width, bandMarks.data());
                std::fill(bandMarks.begin(), bandMarks.end(), 0);
                bandClipped = 0;
            }
        }
        result = out.Taken();
    }
    meant.Stamp(result, converting, bands ? bands->outOfGamut() : deepClipped);
    if (result.colourConverted) result.clipped = bands ? bands->clipped() : kept.mask();
    if (bands) {
        result.signal = bands->signal();
    } else if (deepTally) {
        auto stats = std::make_shared<SignalStats>();
        deepTally->AddTo(*stats);
        result.signal = std::move(stats);
    }
    return result;
}

}  // namespace vistrel
