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

QByteArray EncodeWorkerRequest(const QByteArray& fileName, ColorValue background, ColourHandling colour) {
    std::uint32_t handling = 0;
    switch (colour) {
        case ColourHandling::ConvertToSrgb: handling = 0; break;
        case ColourHandling::StoredValues: handling = 1; break;
    }
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

QByteArray EncodeWorkerDone(const WorkerColour& colour) {
    // Cut on a character's boundary: never before a UTF-8 continuation byte; no zero bytes.
    const QByteArray& colourSpace = colour.space;
    QByteArray name = colourSpace.left(static_cast<qsizetype>(kMaxColourNameBytes));
    if (name.size() < colourSpace.size())
        while (!name.isEmpty() && (static_cast<unsigned char>(colourSpace[name.size()]) & 0xC0) == 0x80) name.chop(1);
    name.replace('\0', ' ');
    QByteArray bytes;
    for (qsizetype at = 0; at < name.size(); at += 8) {
        std::uint8_t piece[8] = {};
        std::memcpy(piece, name.constData() + at, static_cast<std::size_t>(std::min<qsizetype>(8, name.size() - at)));
        const WorkerMessageBytes message =
            EncodeWorkerMessage(WorkerMessageKind::ColourName, Word(piece), Word(piece + 4));
        bytes.append(reinterpret_cast<const char*>(message.data()), static_cast<qsizetype>(message.size()));
    }
    const std::uint32_t flags = (colour.converted ? kDoneConverted : 0) | (colour.toneMapped ? kDoneToneMapped : 0);
    const WorkerMessageBytes done =
        EncodeWorkerMessage(WorkerMessageKind::Done, static_cast<std::uint32_t>(colour.outOfGamut), flags);
    bytes.append(reinterpret_cast<const char*>(done.data()), static_cast<qsizetype>(done.size()));
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
        if (state_ != State::Streaming || nameEnded_) return false;
        // Text, then zeros to the end of the message; at least one byte of text.
        std::size_t length = 0;
        while (length < 8 && message[4 + length] != 0) ++length;
        for (std::size_t i = length; i < 8; ++i)
            if (message[4 + i] != 0) return false;
        if (length == 0 || static_cast<std::size_t>(colourSpace_.size()) + length > kMaxColourNameBytes) return false;
        colourSpace_.append(reinterpret_cast<const char*>(message + 4), static_cast<qsizetype>(length));
        nameEnded_ = length < 8;
        return true;
    } else if (kind == static_cast<std::uint32_t>(WorkerMessageKind::Done)) {
        const bool converted = (second & kDoneConverted) != 0;
        const bool toneMapped = (second & kDoneToneMapped) != 0;
        if (state_ != State::Streaming || rows_ != height_ ||
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
