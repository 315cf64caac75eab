// The program's reader of a decoder worker's messages, fed whatever bytes a worker
// might send, split where the input's first byte says. Whatever it accepts must keep
// the reader's promises; anything else is a fault.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "decoding/worker/WorkerMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 16;
    ++data;
    --size;
    vistrel::WorkerMessageReader reader(64);
    std::vector<vistrel::WorkerEvent> events;
    for (std::size_t at = 0; at < size; at += piece) reader.Feed(data + at, std::min(piece, size - at), events);
    int width = -1, height = -1, rows = 0, sensors = 0;
    bool ended = false;
    for (const vistrel::WorkerEvent& e : events) {
        if (ended) std::abort();
        switch (e.kind) {
            case vistrel::WorkerMessageKind::Size:
                if (height != -1 || e.width < 1 || e.width > 64 || e.height < 1 || e.height > 64) std::abort();
                width = e.width;
                height = e.height;
                break;
            case vistrel::WorkerMessageKind::Rows:
                if (e.rows <= rows || e.rows > height) std::abort();
                rows = e.rows;
                break;
            case vistrel::WorkerMessageKind::Done:
                if (rows != height || e.outOfGamut > static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height))
                    std::abort();
                // Nothing is clipped or tone-mapped in colours that were not converted.
                if (!e.colourConverted && (e.hdrToneMapped || e.outOfGamut != 0)) std::abort();
                ended = true;
                break;
            case vistrel::WorkerMessageKind::RawSensorBlack: {
                // Once, after the last row, a layout of one of the two filter arrays, turned
                // to within a factor of two of the picture.
                const std::optional<vistrel::RawSensor>& s = reader.sensor();
                if (sensors++ != 0 || rows != height || !s || (s->repeat != 2 && s->repeat != 6)) std::abort();
                std::array<int, vistrel::kRawSites> places{};
                for (int i = 0; i < s->repeat * s->repeat; ++i) ++places[std::size_t(s->pattern[std::size_t(i)])];
                for (const int n : places)
                    if (s->repeat == 2 && n != 1) std::abort();
                if (s->repeat == 6 && places[std::size_t(vistrel::RawSite::G2)] != 0) std::abort();
                const int across = (s->flip & 4) != 0 ? s->height : s->width;
                const int down = (s->flip & 4) != 0 ? s->width : s->height;
                if (across > 2 * width || 2 * across < width || down > 2 * height || 2 * down < height) std::abort();
                if (s->bits < 1 || s->bits > 16 || (s->white >> s->bits) != 0) std::abort();
                break;
            }
            case vistrel::WorkerMessageKind::ColourName:
            case vistrel::WorkerMessageKind::RawSensor:
            case vistrel::WorkerMessageKind::RawSensorLayout:
            case vistrel::WorkerMessageKind::RawSensorPattern:
            case vistrel::WorkerMessageKind::RawCamera:
            case vistrel::WorkerMessageKind::RawLayout:
            case vistrel::WorkerMessageKind::RawBlack:
            case vistrel::WorkerMessageKind::RawLevels:
            case vistrel::WorkerMessageKind::SignalHead:
            case vistrel::WorkerMessageKind::SignalOutside:
            case vistrel::WorkerMessageKind::SignalLightMax:
            case vistrel::WorkerMessageKind::SignalLightSum:
            case vistrel::WorkerMessageKind::SignalLightBin:
            case vistrel::WorkerMessageKind::SignalCell:
                std::abort();  // the reader keeps what they say; they are no events
            case vistrel::WorkerMessageKind::Failed:
                // Only the program itself names these: no worker may.
                if (e.error == vistrel::DecodeError::EmptyName || e.error == vistrel::DecodeError::Cancelled ||
                    e.error == vistrel::DecodeError::WorkerStopped)
                    std::abort();
                ended = true;
                break;
        }
    }
    if (!reader.malformed() && reader.finished() != ended) std::abort();
    if (static_cast<std::size_t>(reader.colourSpace().size()) > vistrel::kMaxColourNameBytes ||
        reader.colourSpace().contains('\0'))
        std::abort();
    // A raw picture's photosites: whole, within the picture, from a camera with a name.
    if (const std::optional<vistrel::RawPicture> raw = reader.raw()) {
        // At most a character a byte, whatever the bytes were.
        if (raw->camera.isEmpty() || raw->camera.size() > qsizetype(vistrel::kMaxCameraNameBytes)) std::abort();
        if (raw->photosites) {
            std::uint64_t atWhite = 0;
            for (const vistrel::RawLevels& levels : raw->photosites->levels) {
                if (levels.p99 > levels.max) std::abort();
                atWhite += levels.atWhite;
            }
            if (atWhite > std::uint64_t(std::max(width, 0)) * std::uint64_t(std::max(height, 0))) std::abort();
            // No white level, and nothing at it.
            if (raw->photosites->white == 0 && atWhite != 0) std::abort();
        }
    }
    // The signal's counts: only at the end, every pixel in one light bin, no more of
    // them in the cells or outside a gamut than the picture has, no light beyond PQ's peak.
    if (const std::shared_ptr<const vistrel::SignalStats> signal = reader.signal()) {
        if (!ended) std::abort();
        const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
        if (signal->pixels != pixels) std::abort();
        std::uint64_t cells = 0;
        for (const std::uint32_t c : signal->chromaticity) cells += c;
        if (cells > pixels) std::abort();
        for (const std::uint64_t outside : signal->outside)
            if (outside > pixels) std::abort();
        if (signal->light.has_value() != (signal->transfer != vistrel::SignalTransfer::Sdr)) std::abort();
        if (const auto& light = signal->light) {
            std::uint64_t binned = 0;
            for (const std::uint64_t b : light->histogram) binned += b;
            if (binned != pixels || !(light->maxCll >= 0 && light->maxCll <= vistrel::SignalLight::kMaxNits) ||
                !(light->sumNits >= 0 && light->sumNits <= light->maxCll * double(pixels) * (1 + 1e-9)))
                std::abort();
        }
    }
    return 0;
}
