// The camera raw reader (LibRaw) over any bytes, its rows going to a band sink as in the
// worker and its photosites copied, developed or as the sensor's stored values by turns. Files claiming more
// photosites than the sink takes are skipped, as the worker's limits, measured from the
// same claim, would stop them. LibRaw's own faults (it has a record of them, and a known
// one in 0.20's directory parser) end a run like ours: `make fuzz` keeps going past them,
// each kept as an artifact, since the confined decoder is what survives them in the program.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "decoding/readers/RawDecode.h"
#include "formats/FileHeaders.h"
#include "fuzz/band_check.h"

namespace {

// Copies the photosites as the program's own sink does, so that every value handed over is read.
class PhotositeCopy final : public vistrel::PhotositeSink {
public:
    bool TakePhotosites(const vistrel::RawSensor& layout, const std::uint16_t* first, std::size_t pitch) override {
        auto copy = std::make_shared<vistrel::RawSensor>(layout);
        const auto width = static_cast<std::size_t>(layout.width), height = static_cast<std::size_t>(layout.height);
        copy->values.resize(width * height);
        for (std::size_t row = 0; row < height; ++row)
            std::copy_n(first + row * pitch, width, copy->values.data() + row * width);
        sensor = std::move(copy);
        return true;
    }
    std::shared_ptr<vistrel::RawSensor> sensor;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const vistrel::headers::ClaimedSize claimed = vistrel::headers::RawClaims({data, size}).largest;
    if (claimed.known() && std::uint64_t(claimed.width) * std::uint64_t(claimed.height) >
                               std::uint64_t(fuzz::BandCheck::kMostPixels))
        return 0;
    const vistrel::ColourHandling colour =
        size % 2 == 0 ? vistrel::ColourHandling::ConvertToSrgb : vistrel::ColourHandling::StoredValues;
    fuzz::BandCheck sink;
    PhotositeCopy photosites;
    const std::optional<vistrel::DecodeResult> result =
        vistrel::DecodeRaw({{data, size}, 0x336699, colour, nullptr, &sink, &photosites});
    sink.Verify(result);
    // The photosites handed over fill their layout, of one of the two arrays, and turn to
    // the picture's sides; nothing is handed over for a picture that failed.
    if (const auto& sensor = photosites.sensor) {
        if (!result || !*result || (sensor->repeat != 2 && sensor->repeat != 6) ||
            sensor->values.size() != std::size_t(sensor->width) * std::size_t(sensor->height) || sensor->bits < 1 ||
            sensor->bits > 16 || (sensor->white >> sensor->bits) != 0)
            __builtin_trap();
    }
    // The photosites' levels keep their promises.
    if (result && *result && result->raw && result->raw->photosites) {
        const vistrel::RawPhotosites& sites = *result->raw->photosites;
        for (const vistrel::RawLevels& levels : sites.levels)
            if (levels.p99 > levels.max || sites.bits < 1 || sites.bits > 16 || (sites.white == 0 && levels.atWhite != 0))
                __builtin_trap();
    }
    return 0;
}
