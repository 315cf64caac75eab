#include "decoding/worker/WorkerClient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "decoding/worker/PictureMemory.h"
#include "decoding/worker/ReaderMessages.h"
#include "decoding/worker/WorkerMessages.h"
#include "decoding/worker/WorkerProcess.h"

namespace vistrel {

namespace {

using workerprocess::Fd;
using workerprocess::StartedWorker;

// A worker that tells nothing new (no size, no rows) for this long is ended, whatever
// its file.
constexpr std::chrono::milliseconds kStallLimit{30'000};
// The whole decode may take this long, and more for every 10 megapixels the picture
// has once its size is known: far beyond the slowest legitimate picture.
constexpr std::chrono::milliseconds kWatchdogBase{30'000};
constexpr std::chrono::milliseconds kWatchdogPer10Megapixels{1'000};
// What a worker writes on standard error (the libraries' warnings) is logged, up to
// this much a decode; the rest is read and dropped, so that the worker never waits.
constexpr std::size_t kLoggedErrorBytes = 64 * 1024;
// How often a silent worker's load asks whether it is still wanted.
constexpr std::chrono::milliseconds kCancelPoll{50};

DecodeResult Failure(DecodeError error) { return DecodeResult::Failed(error); }

// A worker's standard error, logged line by line under its own category (off unless
// asked for) up to the cap, the rest read and dropped.
class WorkerErrors {
public:
    explicit WorkerErrors(int fd) : fd_(fd) {}
    ~WorkerErrors() {
        Drain();
        if (!pending_.isEmpty()) qCInfo(lcReaderMessages).noquote() << QString::fromLocal8Bit(pending_);
        if (dropped_ > 0) qCInfo(lcReaderMessages) << "a further" << dropped_ << "bytes from the decoder were dropped";
    }
    int fd() const { return open_ ? fd_ : -1; }
    // Reads what is there now, without waiting.
    void Drain() {
        char bytes[4096];
        while (open_) {
            const ssize_t got = ::read(fd_, bytes, sizeof bytes);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return;  // nothing more for now
            if (got == 0) {
                open_ = false;
                return;
            }
            Take(bytes, static_cast<std::size_t>(got));
        }
    }

private:
    void Take(const char* bytes, std::size_t size) {
        const std::size_t kept = std::min(size, kLoggedErrorBytes - std::min(kLoggedErrorBytes, logged_));
        logged_ += kept;
        dropped_ += size - kept;
        pending_.append(bytes, static_cast<qsizetype>(kept));
        for (qsizetype end = pending_.indexOf('\n'); end >= 0; end = pending_.indexOf('\n')) {
            qCInfo(lcReaderMessages).noquote() << QString::fromLocal8Bit(pending_.left(end));
            pending_.remove(0, end + 1);
        }
    }

    const int fd_;
    bool open_ = true;
    std::size_t logged_ = 0;
    std::size_t dropped_ = 0;
    QByteArray pending_;
};

bool SendAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    std::size_t left = static_cast<std::size_t>(bytes.size());
    while (left > 0) {
        const ssize_t put = ::send(fd, p, left, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        left -= static_cast<std::size_t>(put);
    }
    return true;
}

// Reads what the rows pipe holds now, up to the picture's end, into the picture; then,
// once they are announced, a camera raw's photosites into their own buffer.
// Returns false once the pipe is closed (the worker gone) or broken.
class RowsIn {
public:
    explicit RowsIn(int fd) : fd_(fd) {}
    void Expect(uchar* at, std::size_t bytes, std::size_t rowBytes) {
        at_ = at;
        bytes_ = bytes;
        rowBytes_ = rowBytes;
    }
    // The bytes that follow the picture's, once it is wholly in.
    void ExpectAfter(uchar* at, std::size_t bytes) {
        after_ = at;
        afterBytes_ = bytes;
    }
    // The descriptor to wait on while rows are due: -1 before the go, once all are in and
    // once the pipe has closed.
    int fd() const { return at_ != nullptr && !closed_ && (got_ < bytes_ || afterGot_ < afterBytes_) ? fd_ : -1; }
    bool complete() const { return at_ != nullptr && got_ == bytes_ && afterGot_ == afterBytes_; }
    // Rows wholly in.
    int rows() const { return rowBytes_ == 0 ? 0 : static_cast<int>(got_ / rowBytes_); }
    // Reads what the pipe holds now; with `toTheEnd`, waits for the rest or the pipe's close.
    void Read(bool toTheEnd = false) {
        while (fd() >= 0) {
            const bool picture = got_ < bytes_;
            const ssize_t n = picture ? ::read(fd_, at_ + got_, bytes_ - got_)
                                      : ::read(fd_, after_ + afterGot_, afterBytes_ - afterGot_);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                if (!toTheEnd) return;
                pollfd wait{fd_, POLLIN, 0};
                if (::poll(&wait, 1, -1) < 0 && errno != EINTR) closed_ = true;
                continue;
            }
            if (n <= 0) closed_ = true;  // the worker is gone (or the pipe broken): no more rows
            else (picture ? got_ : afterGot_) += static_cast<std::size_t>(n);
        }
    }

private:
    const int fd_;
    uchar* at_ = nullptr;
    std::size_t bytes_ = 0;
    std::size_t rowBytes_ = 0;
    std::size_t got_ = 0;
    uchar* after_ = nullptr;
    std::size_t afterBytes_ = 0;
    std::size_t afterGot_ = 0;
    bool closed_ = false;
};

}  // namespace

std::chrono::milliseconds WorkerWatchdog(std::int64_t pixels) {
    return kWatchdogBase + kWatchdogPer10Megapixels * (std::max<std::int64_t>(pixels, 0) / 10'000'000);
}

DecodeResult DecodeInWorker(const QString& path, ColorValue background, RowReceiver* receiver, ColourHandling colour) {
    return DecodeInWorker(path, background, receiver, DecodeWorkerOptions{}, colour);
}

DecodeResult DecodeInWorker(const QString& path, ColorValue background, RowReceiver* receiver,
                            const DecodeWorkerOptions& options, ColourHandling colour) {
    // The failures a name alone shows are found here, as the in-process decoder finds them.
    if (const std::optional<DecodeError> refused = RefusedByName(path)) return Failure(*refused);
    // A worker kept ready was started in the folder that was current then: it is given a
    // name that does not depend on it.
    const QByteArray name =
        QFile::encodeName(QFileInfo(path).isRelative() ? QDir::currentPath() + u'/' + path : path);
    if (static_cast<std::size_t>(name.size()) > kMaxRequestNameBytes) return Failure(DecodeError::NotFound);
    const QByteArray request = EncodeWorkerRequest(name, background, colour, options.photosites);

    // A worker kept ready takes the request when there is one; a fresh one otherwise, and
    // when the ready one has gone away meanwhile.
    std::unique_ptr<StartedWorker> worker;
    struct StandbyTurn {
        bool taken = false;
        ~StandbyTurn() {
            if (taken) workerprocess::TakenWorkerDone();
        }
    } turn;
    if (options.executable.isEmpty()) {
        worker = workerprocess::TakeReadyWorker();
        turn.taken = true;
    }
    if (worker && !SendAll(worker->go.get(), request)) worker.reset();
    if (!worker) {
        workerprocess::Started started = workerprocess::StartWorker(
            options.executable.isEmpty() ? workerprocess::ExecutableBeside() : options.executable,
                                      options.arguments);
        if (!started.worker) return Failure(started.error);
        worker = std::move(started.worker);
        if (!SendAll(worker->go.get(), request)) return Failure(DecodeError::WorkerStopped);
    }
    const Fd& reportRead = worker->report;
    const Fd& goWrite = worker->go;
    RowsIn rowsIn(worker->rows.get());

    // Until the size is known, only the stall limit holds; then the whole decode is held
    // to what a picture of that size may take. A watchdog given by the caller is both.
    const bool fixedWatchdog = options.watchdog.count() > 0;
    const auto stallLimit = options.stall.count() > 0 ? options.stall : fixedWatchdog ? options.watchdog : kStallLimit;
    const auto begun = std::chrono::steady_clock::now();
    auto deadline = fixedWatchdog ? begun + options.watchdog : std::chrono::steady_clock::time_point::max();
    auto stalledAt = begun + stallLimit;
    WorkerErrors errors(worker->errors.get());
    WorkerMessageReader reader;
    std::vector<WorkerEvent> events;
    std::optional<Surface> picture;
    // Declared after the picture, so that it stops before the picture can go.
    std::optional<PagesAhead> pagesAhead;
    std::shared_ptr<RawSensor> sensor;  // a camera raw's photosites, when they were announced
    bool started = false;  // the receiver has heard of the picture
    // Once the receiver has the picture, it lets go of it before a failure frees it.
    const auto failure = [&](DecodeError error) {
        if (started) receiver->PictureDropped();
        return Failure(error);
    };
    // The receiver hears of each row once it is wholly in; false: it wants no more.
    int rowsTold = 0;
    const auto tell = [&] {
        if (rowsIn.rows() <= rowsTold) return true;
        rowsTold = rowsIn.rows();
        return receiver == nullptr || receiver->RowsReady(rowsTold);
    };
    std::uint8_t bytes[4096];
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(std::min(deadline, stalledAt) - now);
        if (left.count() <= 0) return failure(DecodeError::WorkerStopped);
        pollfd wait[3] = {{reportRead.get(), POLLIN, 0}, {errors.fd(), POLLIN, 0}, {rowsIn.fd(), POLLIN, 0}};
        const int ready = ::poll(wait, 3, static_cast<int>(std::min<std::int64_t>(left.count(), kCancelPoll.count())));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return failure(DecodeError::Unreadable);
        if (options.cancelled && options.cancelled()) return failure(DecodeError::Cancelled);
        if (wait[1].revents != 0) errors.Drain();
        if (wait[2].revents != 0) {
            // Rows are news; a pipe closed early is told by the report pipe (a failure, or its end).
            const int before = rowsIn.rows();
            rowsIn.Read();
            if (rowsIn.rows() > before) stalledAt = std::chrono::steady_clock::now() + stallLimit;
            if (!tell()) return failure(DecodeError::Cancelled);
        }
        if (wait[0].revents == 0) continue;
        const ssize_t got = ::read(reportRead.get(), bytes, sizeof bytes);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return failure(DecodeError::WorkerStopped);  // ended without finishing
        events.clear();
        const bool wellFormed = reader.Feed(bytes, static_cast<std::size_t>(got), events);
        if (!events.empty()) stalledAt = std::chrono::steady_clock::now() + stallLimit;
        for (const WorkerEvent& event : events) {
            switch (event.kind) {
                case WorkerMessageKind::Size: {
                    if (!fixedWatchdog)
                        deadline = begun + WorkerWatchdog(std::int64_t{event.width} * event.height);
                    picture = NewPicture(event.width, event.height);
                    if (!picture) return failure(DecodeError::OutOfMemory);
                    QImage& image = picture->image();
                    rowsIn.Expect(image.bits(), static_cast<std::size_t>(image.sizeInBytes()),
                                  static_cast<std::size_t>(image.bytesPerLine()));
                    pagesAhead.emplace(image.bits(), static_cast<std::size_t>(image.sizeInBytes()));
                    if (!SendGo(goWrite.get())) return failure(DecodeError::WorkerStopped);
                    started = receiver != nullptr;
                    if (started && !receiver->PictureStarted(*picture)) return failure(DecodeError::Cancelled);
                    break;
                }
                case WorkerMessageKind::Rows:
                    break;  // the rows themselves, as they come down their pipe, are what counts
                case WorkerMessageKind::Done: {
                    // Every row was written before done was sent: what the pipe still holds
                    // is read once the worker has gone, and a row short is a failure.
                    worker->process.StopInBackground();
                    rowsIn.Read(true);
                    if (!rowsIn.complete()) return failure(DecodeError::WorkerStopped);
                    if (!tell()) return failure(DecodeError::Cancelled);
                    DecodeResult result;
                    result.surface = std::move(picture);
                    result.colourSpace = QString::fromUtf8(reader.colourSpace());
                    result.colourConverted = event.colourConverted;
                    result.outOfGamut = event.outOfGamut;
                    result.hdrToneMapped = event.hdrToneMapped;
                    result.raw = reader.raw();
                    if (result.raw) result.raw->sensor = std::move(sensor);
                    result.signal = reader.signal();
                    result.clipped = reader.clipped();
                    return result;
                }
                case WorkerMessageKind::RawSensorBlack: {
                    // Photosites nobody asked for are a worker gone wrong.
                    if (!options.photosites || !reader.sensor()) return failure(DecodeError::WorkerStopped);
                    try {
                        sensor = std::make_shared<RawSensor>(*reader.sensor());
                        sensor->values.resize(static_cast<std::size_t>(sensor->width) *
                                              static_cast<std::size_t>(sensor->height));
                    } catch (const std::bad_alloc&) {
                        return failure(DecodeError::OutOfMemory);
                    }
                    const std::size_t sensorBytes = sensor->values.size() * sizeof(std::uint16_t);
                    // Their pages are taken ahead of them too (the picture's were taken long
                    // since): a read out of the pipe that cleared fresh pages itself would
                    // hold the pipe while the decoder, waiting to write, spun on it.
                    pagesAhead.emplace(reinterpret_cast<uchar*>(sensor->values.data()), sensorBytes);
                    rowsIn.ExpectAfter(reinterpret_cast<uchar*>(sensor->values.data()), sensorBytes);
                    rowsIn.Read();
                    break;
                }
                case WorkerMessageKind::Failed:
                    return failure(event.error);
                case WorkerMessageKind::ColourName:
                case WorkerMessageKind::RawCamera:
                case WorkerMessageKind::RawLayout:
                case WorkerMessageKind::RawBlack:
                case WorkerMessageKind::RawLevels:
                case WorkerMessageKind::RawSensor:
                case WorkerMessageKind::RawSensorLayout:
                case WorkerMessageKind::RawSensorPattern:
                case WorkerMessageKind::SignalHead:
                case WorkerMessageKind::SignalOutside:
                case WorkerMessageKind::SignalLightMax:
                case WorkerMessageKind::SignalLightSum:
                case WorkerMessageKind::SignalLightBin:
                case WorkerMessageKind::SignalCell:
                case WorkerMessageKind::ClipRun:
                case WorkerMessageKind::ClipMap:
                case WorkerMessageKind::ClipBits:
                    break;  // the reader keeps what they say
            }
        }
        if (!wellFormed) return failure(DecodeError::WorkerStopped);
    }
}

}  // namespace vistrel
