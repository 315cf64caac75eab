#include "decoding/worker/WorkerClient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cerrno>
#include <csignal>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <atomic>
#include <deque>
#include <string_view>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "decoding/PageBuffer.h"
#include "decoding/worker/ReaderMessages.h"
#include "decoding/worker/WorkerMessages.h"

extern char** environ;

namespace vistrel {

namespace {

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
// Descriptors are moved to at least this number before they are handed to the worker,
// so that none of them already sits where the worker expects another.
constexpr int kAboveWorkerFds = 10;
// The rows pipe holds this much, so that the worker writes a band and the program reads
// it in a few calls each, not one a page. No more than an unprivileged process may ask for.
constexpr int kRowsPipeBytes = 1 << 20;

DecodeResult Failure(DecodeError error) { return DecodeResult::Failed(error); }

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        reset(std::exchange(other.fd_, -1));
        return *this;
    }
    ~Fd() { reset(); }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_ = -1;
};

Fd Above(int fd) {
    if (fd < 0) return Fd();
    Fd moved(::fcntl(fd, F_DUPFD_CLOEXEC, kAboveWorkerFds));
    ::close(fd);
    return moved;
}

// A one-way channel; as a socket pair when the program writes to it, so that a worker
// gone away costs an error (MSG_NOSIGNAL), not the program's SIGPIPE.
bool Pipe(Fd& readEnd, Fd& writeEnd, bool programWrites = false) {
    int ends[2];
    if (programWrites ? ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0
                      : ::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    readEnd = Above(ends[0]);
    writeEnd = Above(ends[1]);
    return readEnd.valid() && writeEnd.valid();
}

// Nothing of the program's environment reaches the worker, except, in a sanitized build,
// the sanitizers' own options. The one setting the worker is given: LibRaw's OpenMP
// team, started before the worker is confined, sleeps between regions instead of
// spinning, which took a core's worth of time from every decode (a JPEG's too) for
// milliseconds after each start.
constexpr char kWorkerWaitPolicy[] = "OMP_WAIT_POLICY=PASSIVE";

std::vector<char*> WorkerEnvironment() {
    std::vector<char*> environment;
    environment.push_back(const_cast<char*>(kWorkerWaitPolicy));
#ifdef __SANITIZE_ADDRESS__
    for (char** variable = environ; *variable != nullptr; ++variable)
        if (std::string_view(*variable).find("SAN_OPTIONS=") != std::string_view::npos) environment.push_back(*variable);
#endif
    environment.push_back(nullptr);
    return environment;
}

void Reap(pid_t pid) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// The workers killed and not yet reaped by their threads. A program that ends before
// one is reaped leaves it a zombie for process 1, which in a container may never reap it.
class Reaping {
public:
    static void Begin() {
        const std::lock_guard lock(mutex_);
        ++pending_;
    }
    static void End() {
        {
            const std::lock_guard lock(mutex_);
            --pending_;
        }
        over_.notify_all();
    }
    static void WaitAll() {
        std::unique_lock lock(mutex_);
        over_.wait(lock, [] { return pending_ == 0; });
    }

private:
    static inline std::mutex mutex_;
    static inline std::condition_variable over_;
    static inline int pending_ = 0;
};

// The started worker: killed and reaped when this goes, whatever happened.
class Worker {
public:
    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() { Stop(); }

    // The worker starts in the root folder with nothing of the program's environment
    // (only its own wait policy),
    // its standard input and output on /dev/null and its standard error on a pipe the
    // program reads.
    bool Start(const QString& executable, const QStringList& arguments, const Fd& report, const Fd& go,
               const Fd& rows, const Fd& errors) {
        posix_spawn_file_actions_t actions;
        if (::posix_spawn_file_actions_init(&actions) != 0) return false;
        bool ok = ::posix_spawn_file_actions_adddup2(&actions, report.get(), kWorkerReportFd) == 0 &&
                  ::posix_spawn_file_actions_adddup2(&actions, go.get(), kWorkerGoFd) == 0 &&
                  ::posix_spawn_file_actions_adddup2(&actions, rows.get(), kWorkerRowsFd) == 0 &&
                  ::posix_spawn_file_actions_adddup2(&actions, errors.get(), STDERR_FILENO) == 0 &&
                  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0 &&
                  ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0) == 0 &&
                  ::posix_spawn_file_actions_addchdir_np(&actions, "/") == 0;
        // Absolute: the worker changes folder before the program is looked up.
        const QByteArray program = QFile::encodeName(QFileInfo(executable).absoluteFilePath());
        std::vector<QByteArray> words{program};
        for (const QString& argument : arguments) words.push_back(argument.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        std::vector<char*> environment = WorkerEnvironment();
        ok = ok && ::posix_spawn(&pid_, program.constData(), &actions, nullptr, argv.data(), environment.data()) == 0;
        ::posix_spawn_file_actions_destroy(&actions);
        if (!ok) pid_ = -1;
        return ok;
    }

    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        Reap(pid_);
        pid_ = -1;
    }

    // After a successful decode the worker has nothing left to do but exit: it is killed
    // and reaped on a thread of its own, so that the picture is shown meanwhile.
    void StopInBackground() {
        if (pid_ <= 0) return;
        const pid_t pid = std::exchange(pid_, -1);
        ::kill(pid, SIGKILL);
        Reaping::Begin();
        try {
            std::thread([pid] {
                Reap(pid);
                Reaping::End();
            }).detach();
        } catch (const std::system_error&) {
            Reap(pid);
            Reaping::End();
        }
    }

private:
    pid_t pid_ = -1;
};

// A worker started and waiting for its request, with the program's ends of its channels.
struct StartedWorker {
    Worker process;
    Fd report;  // its messages
    Fd go;      // its request, then the go byte
    Fd rows;    // the picture's rows, read without blocking
    Fd errors;  // its standard error, read without blocking
};

struct Started {
    std::unique_ptr<StartedWorker> worker;
    DecodeError error = DecodeError::WorkerStopped;
};

Started StartWorker(const QString& executable, const QStringList& arguments = {}) {
    // The program's memory is closed to every other process of the user's, a worker
    // taken over by its file among them (through /proc/<pid>/mem).
    static const bool memoryClosed = ::prctl(PR_SET_DUMPABLE, 0) == 0;
    (void)memoryClosed;
    Started started;
    auto worker = std::make_unique<StartedWorker>();
    Fd reportWrite, goRead, rowsWrite, errorsWrite;
    if (!Pipe(worker->report, reportWrite) || !Pipe(goRead, worker->go, true) || !Pipe(worker->rows, rowsWrite) ||
        !Pipe(worker->errors, errorsWrite) || ::fcntl(worker->errors.get(), F_SETFL, O_NONBLOCK) != 0 ||
        ::fcntl(worker->rows.get(), F_SETFL, O_NONBLOCK) != 0) {
        started.error = DecodeError::OutOfMemory;
        return started;
    }
    // A pipe that cannot grow (the user's pipes hold their most already) still works.
    (void)::fcntl(worker->rows.get(), F_SETPIPE_SZ, kRowsPipeBytes);
    // The worker's ends are its own once it runs: a worker gone shows as the pipe's end.
    if (worker->process.Start(executable, arguments, reportWrite, goRead, rowsWrite, errorsWrite))
        started.worker = std::move(worker);
    return started;
}

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

QString ExecutableBeside() {
    // Beside the program in the build folder; installed, a private helper in ../lib/vistrel.
    const QString self = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    const QString folder = self.left(self.lastIndexOf(u'/') + 1);
    const QString beside = folder + QString::fromLatin1(kDecoderExecutable);
    if (QFileInfo(beside).isExecutable()) return beside;
    return QDir::cleanPath(folder + QStringLiteral("../lib/vistrel/") + QString::fromLatin1(kDecoderExecutable));
}

// No end to the decodes a worker is kept ready for.
constexpr int kEveryDecode = -1;

// One worker kept started ahead of the next decode. A thread of its own starts it and
// lives as long as the program: a worker is killed when the thread that started it ends.
class Standby {
public:
    static Standby& Get() {
        static Standby* const standby = new Standby;  // never destroyed: its thread may outlive any destructor
        return *standby;
    }

    // decodes: how many decodes are still to take a waiting worker; kEveryDecode for no end.
    void Keep(bool keep, int decodes = kEveryDecode) {
        std::unique_ptr<StartedWorker> gone;
        {
            std::unique_lock lock(mutex_);
            keep_ = keep;
            decodesLeft_ = decodes;
            failed_ = false;
            if (keep && !threadStarted_) {
                try {
                    std::thread([this] { Run(); }).detach();
                    threadStarted_ = true;
                } catch (const std::system_error&) {
                    keep_ = false;  // no thread to start workers: each decode starts its own
                }
            }
            if (!keep) {
                gone = std::move(ready_);
                // A worker being started now is stopped by the thread itself; wait for it.
                changed_.wait(lock, [this] { return !starting_; });
            }
        }
        changed_.notify_all();
    }

    // The waiting worker, if one is ready or being started; another is started in its
    // place once the decode is over (Finished), not while it competes for the processor.
    std::unique_ptr<StartedWorker> Take() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !starting_; });
        ++decoding_;
        failed_ = false;
        if (decodesLeft_ > 0) --decodesLeft_;
        return std::move(ready_);
    }

    void Finished() {
        {
            const std::lock_guard lock(mutex_);
            --decoding_;
        }
        changed_.notify_all();
    }

    void WaitReady() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] {
            return !starting_ && (ready_ || failed_ || !keep_ || decoding_ > 0 || decodesLeft_ == 0);
        });
    }

    // A hold counts as a decode that is not over.
    void Hold() {
        const std::lock_guard lock(mutex_);
        ++decoding_;
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return keep_ && !ready_ && !failed_ && decoding_ == 0 && decodesLeft_ != 0; });
            starting_ = true;
            lock.unlock();
            Started started = StartWorker(ExecutableBeside());
            lock.lock();
            // A worker that cannot be started is tried again only once a decode has asked.
            failed_ = started.worker == nullptr;
            if (keep_) {
                ready_ = std::move(started.worker);
            } else if (started.worker) {
                lock.unlock();
                started.worker.reset();
                lock.lock();
            }
            starting_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool keep_ = false;
    bool threadStarted_ = false;
    bool starting_ = false;
    bool failed_ = false;
    int decoding_ = 0;  // decodes that took (or looked for) a waiting worker and are not over
    int decodesLeft_ = kEveryDecode;  // decodes still to take a waiting worker
    std::unique_ptr<StartedWorker> ready_;
};

// Picture buffers mapped and not yet given back.
std::atomic<int> gBuffersHeld{0};

void Unmap(void* at, std::size_t bytes) {
    ::munmap(at, bytes);
    gBuffersHeld.fetch_sub(1);
}

// Unmapping a large picture gives its pages back one by one: tens of milliseconds for a
// photograph, seconds for a gigapixel. It happens on a thread of its own, so that
// neither the window nor the next load waits for it; the next picture's pages come
// far more slowly (as they are decoded) than these go.
class Releaser {
public:
    static Releaser& Get() {
        static Releaser* const releaser = new Releaser;  // never destroyed, as its thread is not
        return *releaser;
    }

    void Release(void* at, std::size_t bytes) {
        {
            const std::lock_guard lock(mutex_);
            if (!threadStarted_) {
                try {
                    std::thread([this] { Run(); }).detach();
                    threadStarted_ = true;
                } catch (const std::system_error&) {
                }
            }
            if (threadStarted_) {
                try {
                    queue_.push_back({at, bytes});
                    at = nullptr;
                } catch (const std::bad_alloc&) {
                }
            }
        }
        if (at != nullptr) {
            Unmap(at, bytes);  // no thread to hand it to: at once, as ever
            return;
        }
        changed_.notify_all();
    }

    void Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
    }

private:
    struct Mapping {
        void* at;
        std::size_t bytes;
    };

    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return !queue_.empty(); });
            const Mapping mapping = queue_.front();
            queue_.pop_front();
            busy_ = true;
            lock.unlock();
            Unmap(mapping.at, mapping.bytes);
            lock.lock();
            busy_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Mapping> queue_;
    bool threadStarted_ = false;
    bool busy_ = false;
};

// A picture buffer: memory of the program's own, which the worker never sees; the rows
// it sends are read into it.
struct PictureBuffer {
    void* at = nullptr;
    std::size_t bytes = 0;
};

void GiveBack(const PictureBuffer& buffer) {
    if (buffer.at != nullptr) Releaser::Get().Release(buffer.at, buffer.bytes);
}

// The buffer of the picture last let go while a PictureBufferReuse lived. It needs no
// clearing: no worker reads it, and a picture decoded into it is kept only once every
// one of its rows has come.
class Recycler {
public:
    static Recycler& Get() {
        static Recycler* const recycler = new Recycler;  // never destroyed: pictures may outlive any destructor
        return *recycler;
    }

    void Begin() {
        const std::lock_guard lock(mutex_);
        ++reusers_;
    }

    // With the last, the kept buffer goes back.
    void End() {
        PictureBuffer unused;
        {
            const std::lock_guard lock(mutex_);
            if (--reusers_ == 0) unused = std::exchange(spare_, {});
        }
        GiveBack(unused);
    }

    // A picture's buffer, its last copy gone: kept while reuse is asked for, given back
    // otherwise (and when one is kept already).
    void LetGo(const PictureBuffer& buffer) {
        PictureBuffer unused = buffer;
        {
            const std::lock_guard lock(mutex_);
            if (reusers_ > 0 && spare_.at == nullptr) std::swap(spare_, unused);
        }
        GiveBack(unused);
    }

    // The kept buffer if it has exactly this many bytes; one of another size goes back at
    // once, before the new buffer is asked for.
    PictureBuffer Take(std::size_t bytes) {
        PictureBuffer kept;
        {
            const std::lock_guard lock(mutex_);
            kept = std::exchange(spare_, {});
        }
        if (kept.bytes == bytes) return kept;
        GiveBack(kept);
        return {};
    }

    // The kept buffer back; returns once it is on its way.
    void Drop() {
        PictureBuffer unused;
        {
            const std::lock_guard lock(mutex_);
            unused = std::exchange(spare_, {});
        }
        GiveBack(unused);
    }

private:
    std::mutex mutex_;
    int reusers_ = 0;  // PictureBufferReuse alive
    PictureBuffer spare_;
};

// A new buffer of this many bytes, in huge pages where the system gives them.
PictureBuffer NewBuffer(std::size_t bytes) {
    void* const mapped = MapPages(bytes);
    if (mapped == nullptr) return {};
    gBuffersHeld.fetch_add(1);
    return {mapped, bytes};
}

// The picture: a view of a buffer kept for a load, or of a new one. It keeps the buffer
// until its last copy goes.
std::optional<Surface> NewPicture(int width, int height) {
    const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
    PictureBuffer buffer = Recycler::Get().Take(bytes);
    if (buffer.at == nullptr) buffer = NewBuffer(bytes);
    if (buffer.at == nullptr) return std::nullopt;
    auto* kept = new PictureBuffer(buffer);
    const QImageCleanupFunction letGo = [](void* info) {
        auto* b = static_cast<PictureBuffer*>(info);
        Recycler::Get().LetGo(*b);
        delete b;
    };
    QImage image(static_cast<uchar*>(buffer.at), width, height, qsizetype(width) * 4, QImage::Format_RGB32, letGo,
                 kept);
    if (image.isNull()) {
        letGo(kept);
        return std::nullopt;
    }
    return Surface(std::move(image));
}

// Reads what the rows pipe holds now, up to the picture's end, into the picture.
// Returns false once the pipe is closed (the worker gone) or broken.
class RowsIn {
public:
    explicit RowsIn(int fd) : fd_(fd) {}
    void Expect(uchar* at, std::size_t bytes, std::size_t rowBytes) {
        at_ = at;
        bytes_ = bytes;
        rowBytes_ = rowBytes;
    }
    // The descriptor to wait on while rows are due: -1 before the go, once all are in and
    // once the pipe has closed.
    int fd() const { return at_ != nullptr && got_ < bytes_ && !closed_ ? fd_ : -1; }
    bool complete() const { return at_ != nullptr && got_ == bytes_; }
    // Rows wholly in.
    int rows() const { return rowBytes_ == 0 ? 0 : static_cast<int>(got_ / rowBytes_); }
    // Reads what the pipe holds now; with `toTheEnd`, waits for the rest or the pipe's close.
    void Read(bool toTheEnd = false) {
        while (fd() >= 0) {
            const ssize_t n = ::read(fd_, at_ + got_, bytes_ - got_);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                if (!toTheEnd) return;
                pollfd wait{fd_, POLLIN, 0};
                if (::poll(&wait, 1, -1) < 0 && errno != EINTR) closed_ = true;
                continue;
            }
            if (n <= 0) closed_ = true;  // the worker is gone (or the pipe broken): no more rows
            else got_ += static_cast<std::size_t>(n);
        }
    }

private:
    const int fd_;
    uchar* at_ = nullptr;
    std::size_t bytes_ = 0;
    std::size_t rowBytes_ = 0;
    std::size_t got_ = 0;
    bool closed_ = false;
};

}  // namespace

void KeepWorkerReady(bool keep) { Standby::Get().Keep(keep); }

void WaitForStoppedWorkers() { Reaping::WaitAll(); }

void KeepWorkersReadyFor(int decodes) { Standby::Get().Keep(true, std::max(decodes, 0)); }

void WaitForReadyWorker() { Standby::Get().WaitReady(); }

WorkerStartHold::WorkerStartHold() { Standby::Get().Hold(); }

WorkerStartHold::~WorkerStartHold() { Standby::Get().Finished(); }

PictureBufferReuse::PictureBufferReuse() { Recycler::Get().Begin(); }

PictureBufferReuse::~PictureBufferReuse() { Recycler::Get().End(); }

void WaitForReleasedPictures() {
    Recycler::Get().Drop();
    Releaser::Get().Wait();
}

int PictureBuffersHeld() { return gBuffersHeld.load(); }

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
    const QByteArray request = EncodeWorkerRequest(name, background, colour);

    // A worker kept ready takes the request when there is one; a fresh one otherwise, and
    // when the ready one has gone away meanwhile.
    std::unique_ptr<StartedWorker> worker;
    struct StandbyTurn {
        bool taken = false;
        ~StandbyTurn() {
            if (taken) Standby::Get().Finished();
        }
    } turn;
    if (options.executable.isEmpty()) {
        worker = Standby::Get().Take();
        turn.taken = true;
    }
    if (worker && !SendAll(worker->go.get(), request)) worker.reset();
    if (!worker) {
        Started started = StartWorker(options.executable.isEmpty() ? ExecutableBeside() : options.executable,
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
                    return result;
                }
                case WorkerMessageKind::Failed:
                    return failure(event.error);
                case WorkerMessageKind::ColourName:
                case WorkerMessageKind::RawCamera:
                case WorkerMessageKind::RawLayout:
                case WorkerMessageKind::RawBlack:
                case WorkerMessageKind::RawLevels:
                    break;  // the reader keeps what they say
            }
        }
        if (!wellFormed) return failure(DecodeError::WorkerStopped);
    }
}

}  // namespace vistrel
