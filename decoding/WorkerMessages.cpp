#include "decoding/WorkerMessages.h"

#include <algorithm>
#include <cstring>
#include <optional>

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
    for (const DecodeError error : {DecodeError::Unreadable, DecodeError::TooLarge, DecodeError::OutOfMemory,
                                    DecodeError::NotFound, DecodeError::NotARegularFile, DecodeError::NotAPicture})
        if (WorkerErrorCode(error) == code) return error;
    return std::nullopt;
}

}  // namespace

QByteArray EncodeWorkerRequest(const QByteArray& fileName, ColorValue background) {
    const std::uint32_t words[2] = {static_cast<std::uint32_t>(fileName.size()), static_cast<std::uint32_t>(background)};
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
        event.width = static_cast<int>(first);
        event.height = height_ = static_cast<int>(second);
        state_ = State::Streaming;
    } else if (kind == static_cast<std::uint32_t>(WorkerMessageKind::Rows)) {
        if (state_ != State::Streaming || second != 0) return false;
        if (first <= static_cast<std::uint32_t>(rows_) || first > static_cast<std::uint32_t>(height_)) return false;
        event.kind = WorkerMessageKind::Rows;
        event.rows = rows_ = static_cast<int>(first);
    } else if (kind == static_cast<std::uint32_t>(WorkerMessageKind::Done)) {
        if (state_ != State::Streaming || rows_ != height_ || first != 0 || second != 0) return false;
        event.kind = WorkerMessageKind::Done;
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

}  // namespace vistrel
