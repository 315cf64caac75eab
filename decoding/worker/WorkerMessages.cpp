#include "decoding/worker/WorkerMessages.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

namespace vistrel {
namespace {

std::uint32_t Word(const std::uint8_t* p) {
    std::uint32_t value = 0;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// The failures a worker may report: it has its file's bytes, so the name-level
// failures found before it starts and the program's own cancel are not among them.
std::optional<DecodeError> ErrorFromCode(std::uint32_t code) {
    for (const DecodeError error :
         {DecodeError::Unreadable, DecodeError::TooLarge, DecodeError::TooManyPixelsForItsFile, DecodeError::OutOfMemory,
          DecodeError::NotFound, DecodeError::NotARegularFile, DecodeError::NotAPicture})
        if (WorkerErrorCode(error) == code) return error;
    return std::nullopt;
}

}  // namespace

QByteArray EncodeWorkerRequest(const QByteArray& fileName, ColorValue background, ColourHandling colour,
                               bool photosites) {
    std::uint32_t handling = 0;
    switch (colour) {
        case ColourHandling::ConvertToSrgb: handling = 0; break;
        case ColourHandling::StoredValues: handling = 1; break;
    }
    if (photosites) handling |= kRequestPhotosites;
    const std::uint32_t words[kWorkerRequestWords] = {static_cast<std::uint32_t>(fileName.size()),
                                                      static_cast<std::uint32_t>(background), handling};
    QByteArray request(reinterpret_cast<const char*>(words), sizeof words);
    request.append(fileName);
    return request;
}

WorkerMessageBytes EncodeWorkerMessage(WorkerMessageKind kind, std::uint32_t first, std::uint32_t second) {
    WorkerMessageBytes bytes{};
    const std::uint32_t words[3] = {static_cast<std::uint32_t>(kind), first, second};
    std::memcpy(bytes.data(), words, sizeof words);
    return bytes;
}

namespace {

void Append(QByteArray& bytes, WorkerMessageKind kind, std::uint32_t first, std::uint32_t second) {
    const WorkerMessageBytes message = EncodeWorkerMessage(kind, first, second);
    bytes.append(reinterpret_cast<const char*>(message.data()), static_cast<qsizetype>(message.size()));
}

// A name eight bytes a message, cut to `most` bytes on a character's boundary (never
// before a UTF-8 continuation byte), with no zero bytes.
void AppendName(QByteArray& bytes, WorkerMessageKind kind, const QByteArray& text, std::size_t most) {
    QByteArray name = text.left(static_cast<qsizetype>(most));
    if (name.size() < text.size())
        while (!name.isEmpty() && (static_cast<unsigned char>(text[name.size()]) & 0xC0) == 0x80) name.chop(1);
    name.replace('\0', ' ');
    for (qsizetype at = 0; at < name.size(); at += 8) {
        std::uint8_t piece[8] = {};
        std::memcpy(piece, name.constData() + at, static_cast<std::size_t>(std::min<qsizetype>(8, name.size() - at)));
        Append(bytes, kind, Word(piece), Word(piece + 4));
    }
}

// A name's next eight bytes, as AppendName sends them, onto `name`: text, then zeros to
// the end of the message, at least one byte of text and at most `most` in all. False
// otherwise; `ended` once a message was not full.
bool TakeName(const std::uint8_t* message, QByteArray& name, bool& ended, std::size_t most) {
    if (ended) return false;
    std::size_t length = 0;
    while (length < 8 && message[4 + length] != 0) ++length;
    for (std::size_t i = length; i < 8; ++i)
        if (message[4 + i] != 0) return false;
    if (length == 0 || static_cast<std::size_t>(name.size()) + length > most) return false;
    name.append(reinterpret_cast<const char*>(message + 4), static_cast<qsizetype>(length));
    ended = length < 8;
    return true;
}

constexpr std::uint32_t kLow16 = 0xFFFF;

}  // namespace

QByteArray EncodeWorkerRaw(const RawPicture& raw) {
    QByteArray bytes;
    AppendName(bytes, WorkerMessageKind::RawCamera, raw.camera.toUtf8(), kMaxCameraNameBytes);
    if (!raw.photosites || bytes.isEmpty()) return bytes;
    const RawPhotosites& sites = *raw.photosites;
    std::uint8_t cfa[4] = {};
    std::memcpy(cfa, sites.cfa.data(), 4);
    Append(bytes, WorkerMessageKind::RawLayout, Word(cfa), (sites.white & kLow16) | std::uint32_t(sites.bits) << 16);
    Append(bytes, WorkerMessageKind::RawBlack, (sites.black[0] & kLow16) | (sites.black[1] & kLow16) << 16,
           (sites.black[2] & kLow16) | (sites.black[3] & kLow16) << 16);
    for (const RawLevels& levels : sites.levels)
        Append(bytes, WorkerMessageKind::RawLevels, (levels.max & kLow16) | (levels.p99 & kLow16) << 16,
               static_cast<std::uint32_t>(levels.atWhite));
    return bytes;
}

namespace {

std::uint32_t TransferCode(SignalTransfer transfer) {
    switch (transfer) {
        case SignalTransfer::Sdr: return 0;
        case SignalTransfer::Pq: return 1;
        case SignalTransfer::Hlg: return 2;
    }
    return 0;
}

void AppendDouble(QByteArray& bytes, WorkerMessageKind kind, double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    Append(bytes, kind, static_cast<std::uint32_t>(bits), static_cast<std::uint32_t>(bits >> 32));
}

double DoubleOf(std::uint32_t low, std::uint32_t high) {
    const std::uint64_t bits = std::uint64_t{low} | std::uint64_t{high} << 32;
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

QByteArray EncodeWorkerSignal(const SignalStats& signal) {
    QByteArray bytes;
    Append(bytes, WorkerMessageKind::SignalHead, TransferCode(signal.transfer), 0);
    for (std::uint32_t g = 0; g < 3; ++g)
        Append(bytes, WorkerMessageKind::SignalOutside, g, static_cast<std::uint32_t>(signal.outside[g]));
    if (signal.transfer != SignalTransfer::Sdr) {
        const SignalLight light = signal.light.value_or(SignalLight{});
        AppendDouble(bytes, WorkerMessageKind::SignalLightMax, light.maxCll);
        AppendDouble(bytes, WorkerMessageKind::SignalLightSum, light.sumNits);
        for (std::size_t b = 0; b < light.histogram.size(); ++b)
            if (light.histogram[b] != 0)
                Append(bytes, WorkerMessageKind::SignalLightBin, static_cast<std::uint32_t>(b),
                       static_cast<std::uint32_t>(light.histogram[b]));
    }
    for (std::size_t c = 0; c < signal.chromaticity.size(); ++c)
        if (signal.chromaticity[c] != 0)
            Append(bytes, WorkerMessageKind::SignalCell, static_cast<std::uint32_t>(c), signal.chromaticity[c]);
    return bytes;
}

QByteArray EncodeWorkerSensor(const RawSensor& layout) {
    QByteArray bytes;
    Append(bytes, WorkerMessageKind::RawSensor, static_cast<std::uint32_t>(layout.width),
           static_cast<std::uint32_t>(layout.height));
    Append(bytes, WorkerMessageKind::RawSensorLayout,
           static_cast<std::uint32_t>(layout.repeat) | static_cast<std::uint32_t>(layout.flip) << 8,
           (layout.white & kLow16) | static_cast<std::uint32_t>(layout.bits) << 16);
    for (int row = 0; row < layout.repeat; ++row) {
        std::uint32_t classes = 0;
        for (int col = 0; col < layout.repeat; ++col)
            classes |= static_cast<std::uint32_t>(layout.pattern[std::size_t(row * layout.repeat + col)]) << (4 * col);
        Append(bytes, WorkerMessageKind::RawSensorPattern, static_cast<std::uint32_t>(row), classes);
    }
    Append(bytes, WorkerMessageKind::RawSensorBlack, (layout.black[0] & kLow16) | (layout.black[1] & kLow16) << 16,
           (layout.black[2] & kLow16) | (layout.black[3] & kLow16) << 16);
    return bytes;
}

QByteArray EncodeWorkerDone(const WorkerColour& colour) {
    QByteArray bytes;
    AppendName(bytes, WorkerMessageKind::ColourName, colour.space, kMaxColourNameBytes);
    const std::uint32_t flags = (colour.converted ? kDoneConverted : 0) | (colour.toneMapped ? kDoneToneMapped : 0);
    Append(bytes, WorkerMessageKind::Done, static_cast<std::uint32_t>(colour.outOfGamut), flags);
    return bytes;
}

std::uint32_t WorkerErrorCode(DecodeError error) {
    switch (error) {
        case DecodeError::EmptyName: return 1;
        case DecodeError::NotFound: return 2;
        case DecodeError::NotARegularFile: return 3;
        case DecodeError::Unreadable: return 4;
        case DecodeError::TooLarge: return 5;
        case DecodeError::OutOfMemory: return 6;
        case DecodeError::Cancelled: return 7;
        case DecodeError::NotAPicture: return 8;
        case DecodeError::WorkerStopped: return 9;
        case DecodeError::TooManyPixelsForItsFile: return 10;
    }
    return 0;
}

bool WorkerMessageReader::Feed(const std::uint8_t* data, std::size_t size, std::vector<WorkerEvent>& events) {
    if (finished() && size > 0) state_ = State::Malformed;  // nothing may follow the end
    while (size > 0 && !malformed()) {
        const std::size_t take = std::min(size, kWorkerMessageBytes - partialBytes_);
        std::memcpy(partial_.data() + partialBytes_, data, take);
        partialBytes_ += take;
        data += take;
        size -= take;
        if (partialBytes_ < kWorkerMessageBytes) break;
        partialBytes_ = 0;
        if (!Take(partial_.data(), events)) state_ = State::Malformed;
    }
    return !malformed();
}

bool WorkerMessageReader::Take(const std::uint8_t* message, std::vector<WorkerEvent>& events) {
    const std::uint32_t kind = Word(message), first = Word(message + 4), second = Word(message + 8);
    const auto side = [&](std::uint32_t v) { return v >= 1 && v <= static_cast<std::uint32_t>(maxSide_); };
    WorkerEvent event;
    switch (state_) {
        case State::ExpectSize:
        case State::Streaming:
            break;
        case State::Finished:
        case State::Malformed:
            return false;  // nothing may follow the end
    }
    if (kind == static_cast<std::uint32_t>(WorkerMessageKind::Size)) {
        if (state_ != State::ExpectSize || !side(first) || !side(second)) return false;
        event.kind = WorkerMessageKind::Size;
        event.width = width_ = static_cast<int>(first);
        event.height = height_ = static_cast<int>(second);
        state_ = State::Streaming;
    } else if (kind == static_cast<std::uint32_t>(WorkerMessageKind::Rows)) {
        if (state_ != State::Streaming || second != 0) return false;
        if (first <= static_cast<std::uint32_t>(rows_) || first > static_cast<std::uint32_t>(height_)) return false;
        event.kind = WorkerMessageKind::Rows;
        event.rows = rows_ = static_cast<int>(first);
    } else if (kind == static_cast<std::uint32_t>(WorkerMessageKind::ColourName)) {
        return state_ == State::Streaming && SignalWhole() && TakeName(message, colourSpace_, nameEnded_, kMaxColourNameBytes);
    } else if (kind >= static_cast<std::uint32_t>(WorkerMessageKind::RawCamera) &&
               kind <= static_cast<std::uint32_t>(WorkerMessageKind::RawLevels)) {
        return state_ == State::Streaming && TakeRaw(static_cast<WorkerMessageKind>(kind), message);
    } else if (kind >= static_cast<std::uint32_t>(WorkerMessageKind::RawSensor) &&
               kind <= static_cast<std::uint32_t>(WorkerMessageKind::RawSensorBlack)) {
        // After the last row, before the camera's name and anything after it.
        if (state_ != State::Streaming || rows_ != height_ || !camera_.isEmpty() || signalStage_ != SignalStage::None ||
            !colourSpace_.isEmpty() || !TakeSensor(static_cast<WorkerMessageKind>(kind), message))
            return false;
        if (!sensor_) return true;
        event.kind = WorkerMessageKind::RawSensorBlack;
    } else if (kind >= static_cast<std::uint32_t>(WorkerMessageKind::SignalHead) &&
               kind <= static_cast<std::uint32_t>(WorkerMessageKind::SignalCell)) {
        // After the last row, and before the colour space's name.
        return state_ == State::Streaming && rows_ == height_ && colourSpace_.isEmpty() &&
               TakeSignal(static_cast<WorkerMessageKind>(kind), message);
    } else if (kind == static_cast<std::uint32_t>(WorkerMessageKind::Done)) {
        if (!SignalWhole()) return false;
        const bool converted = (second & kDoneConverted) != 0;
        const bool toneMapped = (second & kDoneToneMapped) != 0;
        // A raw picture's photosites come whole or not at all, and a sensor only with its camera.
        if (state_ != State::Streaming || rows_ != height_ || (sitesTaken_ != 0 && sitesTaken_ != kSitesMessages) ||
            (sensorTaken_ != 0 && (!sensor_ || camera_.isEmpty())) ||
            first > static_cast<std::uint64_t>(width_) * static_cast<std::uint64_t>(height_))
            return false;
        // Nothing is clipped or tone-mapped in colours that were not converted.
        if ((second & ~(kDoneConverted | kDoneToneMapped)) != 0 || (!converted && (toneMapped || first != 0)))
            return false;
        event.kind = WorkerMessageKind::Done;
        event.outOfGamut = first;
        event.colourConverted = converted;
        event.hdrToneMapped = toneMapped;
        state_ = State::Finished;
    } else if (kind == static_cast<std::uint32_t>(WorkerMessageKind::Failed)) {
        const std::optional<DecodeError> error = ErrorFromCode(first);
        if (!error || second != 0) return false;
        event.kind = WorkerMessageKind::Failed;
        event.error = *error;
        state_ = State::Finished;
    } else {
        return false;
    }
    events.push_back(event);
    return true;
}

bool WorkerMessageReader::TakeRaw(WorkerMessageKind kind, const std::uint8_t* message) {
    const std::uint32_t first = Word(message + 4), second = Word(message + 8);
    switch (kind) {
        case WorkerMessageKind::RawCamera:
            return sitesTaken_ == 0 && TakeName(message, camera_, cameraEnded_, kMaxCameraNameBytes);
        case WorkerMessageKind::RawLayout: {
            if (camera_.isEmpty() || sitesTaken_ != 0) return false;
            for (int i = 0; i < 4; ++i) {
                const char letter = static_cast<char>(message[4 + i]);
                if (letter != 'R' && letter != 'G' && letter != 'B') return false;
                sites_.cfa[std::size_t(i)] = letter;
            }
            sites_.white = second & kLow16;
            sites_.bits = static_cast<int>(second >> 16);
            // A white level of at most that many bits, or none (0).
            if (sites_.bits < 1 || sites_.bits > 16 || (sites_.white >> sites_.bits) != 0) return false;
            break;
        }
        case WorkerMessageKind::RawBlack:
            if (sitesTaken_ != 1) return false;
            sites_.black = {first & kLow16, first >> 16, second & kLow16, second >> 16};
            break;
        case WorkerMessageKind::RawLevels: {
            if (sitesTaken_ < 2 || sitesTaken_ >= kSitesMessages) return false;
            RawLevels& levels = sites_.levels[std::size_t(sitesTaken_ - 2)];
            levels.max = first & kLow16;
            levels.p99 = first >> 16;
            levels.atWhite = second;
            // Photosites at white, of all colours, are at most the picture's pixels.
            std::uint64_t atWhite = 0;
            for (const RawLevels& l : sites_.levels) atWhite += l.atWhite;
            // With no white level, none is at it.
            if (levels.p99 > levels.max || (sites_.white == 0 && levels.atWhite != 0) ||
                atWhite > static_cast<std::uint64_t>(width_) * static_cast<std::uint64_t>(height_))
                return false;
            break;
        }
        case WorkerMessageKind::Size:
        case WorkerMessageKind::Rows:
        case WorkerMessageKind::Done:
        case WorkerMessageKind::Failed:
        case WorkerMessageKind::ColourName:
        case WorkerMessageKind::SignalHead:
        case WorkerMessageKind::SignalOutside:
        case WorkerMessageKind::SignalLightMax:
        case WorkerMessageKind::SignalLightSum:
        case WorkerMessageKind::SignalLightBin:
        case WorkerMessageKind::SignalCell:
        case WorkerMessageKind::RawSensor:
        case WorkerMessageKind::RawSensorLayout:
        case WorkerMessageKind::RawSensorPattern:
        case WorkerMessageKind::RawSensorBlack: return false;
    }
    ++sitesTaken_;
    return true;
}

bool WorkerMessageReader::TakeSignal(WorkerMessageKind kind, const std::uint8_t* message) {
    const std::uint32_t first = Word(message + 4), second = Word(message + 8);
    const std::uint64_t pixels = static_cast<std::uint64_t>(width_) * static_cast<std::uint64_t>(height_);
    // A bin or cell: above the last one taken, below `end`, with pixels in it, and no more
    // in all than the picture has.
    const auto counted = [&](std::uint32_t end) {
        if (first >= end || static_cast<std::int64_t>(first) <= lastIndex_ || second == 0 || taken_ + second > pixels)
            return false;
        lastIndex_ = first;
        taken_ += second;
        return true;
    };
    switch (kind) {
        case WorkerMessageKind::SignalHead: {
            if (signalStage_ != SignalStage::None || signal_ || second != 0 || first > 2) return false;
            signal_ = std::make_shared<SignalStats>();
            signal_->transfer = first == 0 ? SignalTransfer::Sdr : first == 1 ? SignalTransfer::Pq : SignalTransfer::Hlg;
            signal_->pixels = pixels;
            signal_->chromaticity.assign(std::size_t{SignalStats::kChromaCells} * SignalStats::kChromaCells, 0);
            if (signal_->transfer != SignalTransfer::Sdr) signal_->light.emplace();
            signalStage_ = SignalStage::Outside;
            return true;
        }
        case WorkerMessageKind::SignalOutside:
            if (signalStage_ != SignalStage::Outside || first != gamutsTaken_ || second > pixels) return false;
            signal_->outside[gamutsTaken_++] = second;
            if (gamutsTaken_ == signal_->outside.size())
                signalStage_ = signal_->light ? SignalStage::LightMax : SignalStage::Cells;
            return true;
        case WorkerMessageKind::SignalLightMax: {
            // No light beyond PQ's peak.
            const double nits = DoubleOf(first, second);
            if (signalStage_ != SignalStage::LightMax || !(nits >= 0 && nits <= SignalLight::kMaxNits)) return false;
            signal_->light->maxCll = nits;
            signalStage_ = SignalStage::LightSum;
            return true;
        }
        case WorkerMessageKind::SignalLightSum: {
            // At most every pixel at the largest light (with a rounding's room).
            if (signalStage_ != SignalStage::LightSum) return false;
            const double sum = DoubleOf(first, second);
            if (!(sum >= 0 && sum <= signal_->light->maxCll * static_cast<double>(pixels) * (1 + 1e-9))) return false;
            signal_->light->sumNits = sum;
            signalStage_ = SignalStage::Bins;
            return true;
        }
        case WorkerMessageKind::SignalLightBin:
            if (signalStage_ != SignalStage::Bins || !counted(SignalLight::kBins)) return false;
            signal_->light->histogram[first] = second;
            return true;
        case WorkerMessageKind::SignalCell:
            if (signalStage_ == SignalStage::Bins) {
                // Every pixel has its light, in one bin.
                if (taken_ != pixels) return false;
                signalStage_ = SignalStage::Cells;
                lastIndex_ = -1;
                taken_ = 0;
            }
            if (signalStage_ != SignalStage::Cells || !counted(SignalStats::kChromaCells * SignalStats::kChromaCells))
                return false;
            signal_->chromaticity[first] = second;
            return true;
        case WorkerMessageKind::Size:
        case WorkerMessageKind::Rows:
        case WorkerMessageKind::Done:
        case WorkerMessageKind::Failed:
        case WorkerMessageKind::ColourName:
        case WorkerMessageKind::RawCamera:
        case WorkerMessageKind::RawLayout:
        case WorkerMessageKind::RawBlack:
        case WorkerMessageKind::RawLevels:
        case WorkerMessageKind::RawSensor:
        case WorkerMessageKind::RawSensorLayout:
        case WorkerMessageKind::RawSensorPattern:
        case WorkerMessageKind::RawSensorBlack: return false;
    }
    return false;
}

bool WorkerMessageReader::TakeSensor(WorkerMessageKind kind, const std::uint8_t* message) {
    const std::uint32_t first = Word(message + 4), second = Word(message + 8);
    RawSensor& s = sensorTaking_;
    if (sensor_) return false;  // one sensor a picture
    switch (kind) {
        case WorkerMessageKind::RawSensor: {
            const auto side = [&](std::uint32_t v) { return v >= 1 && v <= static_cast<std::uint32_t>(maxSide_); };
            if (sensorTaken_ != 0 || !side(first) || !side(second)) return false;
            s.width = static_cast<int>(first);
            s.height = static_cast<int>(second);
            break;
        }
        case WorkerMessageKind::RawSensorLayout: {
            const std::uint32_t repeat = first & 0xFF, flip = first >> 8;
            if (sensorTaken_ != 1 || (repeat != 2 && repeat != 6) || flip > 7) return false;
            s.repeat = static_cast<int>(repeat);
            s.flip = static_cast<int>(flip);
            s.white = second & kLow16;
            s.bits = static_cast<int>(second >> 16);
            if (s.bits < 1 || s.bits > 16 || (s.white >> s.bits) != 0) return false;
            // Turned, the sensor covers the picture to within a factor of two each way
            // (pixels that are not square are stretched by less).
            const std::int64_t across = (s.flip & 4) != 0 ? s.height : s.width;
            const std::int64_t down = (s.flip & 4) != 0 ? s.width : s.height;
            if (across > 2 * std::int64_t{width_} || 2 * across < width_ || down > 2 * std::int64_t{height_} ||
                2 * down < height_)
                return false;
            break;
        }
        case WorkerMessageKind::RawSensorPattern: {
            const int row = sensorTaken_ - 2;
            if (row < 0 || row >= s.repeat || first != static_cast<std::uint32_t>(row) ||
                (second >> (4 * s.repeat)) != 0)
                return false;
            for (int col = 0; col < s.repeat; ++col) {
                const std::uint32_t site = (second >> (4 * col)) & 0xF;
                // X-Trans' greens are one set.
                if (site >= kRawSites || (s.repeat == 6 && site == static_cast<std::uint32_t>(RawSite::G2))) return false;
                s.pattern[std::size_t(row * s.repeat + col)] = static_cast<RawSite>(site);
            }
            break;
        }
        case WorkerMessageKind::RawSensorBlack: {
            if (sensorTaken_ != 2 + s.repeat) return false;
            std::array<int, kRawSites> places{};
            for (int i = 0; i < s.repeat * s.repeat; ++i) ++places[std::size_t(s.pattern[std::size_t(i)])];
            // A 2 x 2 array has one place of each class; X-Trans each of R, G and B.
            for (std::size_t i = 0; i < kRawSites; ++i)
                if (s.repeat == 2 ? places[i] != 1 : (i == std::size_t(RawSite::G2)) != (places[i] == 0)) return false;
            s.black = {first & kLow16, first >> 16, second & kLow16, second >> 16};
            if (s.repeat == 6 && s.black[std::size_t(RawSite::G2)] != 0) return false;
            sensor_ = s;
            break;
        }
        case WorkerMessageKind::Size:
        case WorkerMessageKind::Rows:
        case WorkerMessageKind::Done:
        case WorkerMessageKind::Failed:
        case WorkerMessageKind::ColourName:
        case WorkerMessageKind::RawCamera:
        case WorkerMessageKind::RawLayout:
        case WorkerMessageKind::RawBlack:
        case WorkerMessageKind::RawLevels:
        case WorkerMessageKind::SignalHead:
        case WorkerMessageKind::SignalOutside:
        case WorkerMessageKind::SignalLightMax:
        case WorkerMessageKind::SignalLightSum:
        case WorkerMessageKind::SignalLightBin:
        case WorkerMessageKind::SignalCell: return false;
    }
    ++sensorTaken_;
    return true;
}

bool WorkerMessageReader::SignalWhole() {
    switch (signalStage_) {
        case SignalStage::None:
        case SignalStage::Cells: return true;
        case SignalStage::Bins:
            // No cell came (every pixel black): the bins must still hold every pixel.
            if (taken_ != static_cast<std::uint64_t>(width_) * static_cast<std::uint64_t>(height_)) return false;
            signalStage_ = SignalStage::Cells;
            lastIndex_ = -1;
            taken_ = 0;
            return true;
        case SignalStage::Outside:
        case SignalStage::LightMax:
        case SignalStage::LightSum: return false;
    }
    return false;
}

std::shared_ptr<const SignalStats> WorkerMessageReader::signal() const {
    if (signalStage_ != SignalStage::Cells || !finished()) return nullptr;
    return signal_;
}

std::optional<RawPicture> WorkerMessageReader::raw() const {
    if (camera_.isEmpty()) return std::nullopt;
    RawPicture raw;
    raw.camera = QString::fromUtf8(camera_);
    if (sitesTaken_ == kSitesMessages) raw.photosites = sites_;
    return raw;
}

bool SendGo(int socket) {
    const char go = kGoByte;
    ssize_t sent = 0;
    do sent = ::send(socket, &go, 1, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == 1;
}

bool ReceiveGo(int socket) {
    char go = 0;
    ssize_t got = 0;
    do got = ::read(socket, &go, 1);
    while (got < 0 && errno == EINTR);
    return got == 1 && go == kGoByte;
}

}  // namespace vistrel
