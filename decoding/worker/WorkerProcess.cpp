#include "decoding/worker/WorkerProcess.h"

#include <QFile>
#include <QFileInfo>
#include <QDir>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "decoding/worker/WorkerMessages.h"
#include "decoding/worker/WorkerClient.h"

extern char** environ;

namespace vistrel {
namespace workerprocess {

namespace {

// Descriptors are moved to at least this number before they are handed to the worker,
// so that none of them already sits where the worker expects another.
constexpr int kAboveWorkerFds = 10;
// The rows pipe holds this much, so that the worker writes a band and the program reads
// it in a few calls each, not one a page. No more than an unprivileged process may ask for.
constexpr int kRowsPipeBytes = 1 << 20;

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
// the sanitizers' own options. The settings the worker is given:
// - LibRaw's OpenMP team, started before the worker is confined, sleeps between regions
//   instead of spinning, which took a core's worth of time from every decode (a JPEG's
//   too) for milliseconds after each start.
// - The C library's allocator asks for huge pages for its large blocks (readers' own
//   buffers: LibRaw's photosites and developed image, some 250 MB for 24 MP): a fault
//   and a first touch for every 2 MiB instead of every 4 KiB took a fifth off LibRaw's
//   whole development here.
constexpr char kWorkerWaitPolicy[] = "OMP_WAIT_POLICY=PASSIVE";
constexpr char kWorkerHugePages[] = "GLIBC_TUNABLES=glibc.malloc.hugetlb=1";

std::vector<char*> WorkerEnvironment() {
    std::vector<char*> environment;
    environment.push_back(const_cast<char*>(kWorkerWaitPolicy));
    environment.push_back(const_cast<char*>(kWorkerHugePages));
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


}  // namespace

void Fd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

bool Worker::Start(const QString& executable, const QStringList& arguments, const Fd& report, const Fd& go,
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

void Worker::Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    Reap(pid_);
    pid_ = -1;
}

void Worker::StopInBackground() {
    if (pid_ <= 0) return;
    const pid_t pid = std::exchange(pid_, -1);
    ::kill(pid, SIGKILL);
    Reaping::Begin();
    try {
        std::thread([pid] {
            ::pthread_setname_np(::pthread_self(), "vistrel-reap");
            Reap(pid);
            Reaping::End();
        }).detach();
    } catch (const std::system_error&) {
        Reap(pid);
        Reaping::End();
    }
}

Started StartWorker(const QString& executable, const QStringList& arguments) {
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

QString ExecutableBeside() {
    // Beside the program in the build folder; installed, a private helper in ../lib/vistrel.
    const QString self = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    const QString folder = self.left(self.lastIndexOf(u'/') + 1);
    const QString beside = folder + QString::fromLatin1(kDecoderExecutable);
    if (QFileInfo(beside).isExecutable()) return beside;
    return QDir::cleanPath(folder + QStringLiteral("../lib/vistrel/") + QString::fromLatin1(kDecoderExecutable));
}

namespace {

// No end to the decodes a worker is kept ready for.
constexpr int kEveryDecode = -1;

// One worker kept started ahead of the next decode. A thread of its own starts it and
// lives as long as the program: a worker is killed when the thread that started it ends.
class Standby {
public:
    // Never destroyed: a load may ask for a worker while the program ends. Its thread
    // ends at the program's end (End), and the worker it kept with it.
    static Standby& Get() {
        static Standby* const standby = new Standby;
        return *standby;
    }

    // Stops keeping a worker: the thread ends, and the worker kept ready is killed and
    // reaped. Returns once both are done; a later Keep starts afresh.
    void End() {
        std::unique_ptr<StartedWorker> gone;
        {
            std::unique_lock lock(mutex_);
            ending_ = true;
            keep_ = false;
            changed_.wait(lock, [this] { return !starting_; });
            gone = std::move(ready_);
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
        gone.reset();
        const std::lock_guard lock(mutex_);
        ending_ = false;
    }

    // decodes: how many decodes are still to take a waiting worker; kEveryDecode for no end.
    void Keep(bool keep, int decodes = kEveryDecode) {
        std::unique_ptr<StartedWorker> gone;
        {
            std::unique_lock lock(mutex_);
            keep_ = keep;
            decodesLeft_ = decodes;
            failed_ = false;
            if (ending_) keep_ = false;
            if (keep_ && !thread_.joinable()) {
                try {
                    thread_ = std::thread([this] { Run(); });
                    static const bool endsWithTheProgram = std::atexit([] { Get().End(); }) == 0;
                    (void)endsWithTheProgram;
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
        ::pthread_setname_np(::pthread_self(), "vistrel-standby");
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] {
                return ending_ || (keep_ && !ready_ && !failed_ && decoding_ == 0 && decodesLeft_ != 0);
            });
            if (ending_) return;
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
    std::thread thread_;
    bool ending_ = false;
    bool starting_ = false;
    bool failed_ = false;
    int decoding_ = 0;  // decodes that took (or looked for) a waiting worker and are not over
    int decodesLeft_ = kEveryDecode;  // decodes still to take a waiting worker
    std::unique_ptr<StartedWorker> ready_;
};

}  // namespace

std::unique_ptr<StartedWorker> TakeReadyWorker() { return Standby::Get().Take(); }

void TakenWorkerDone() { Standby::Get().Finished(); }

}  // namespace workerprocess

using workerprocess::Reaping;
using workerprocess::Standby;

void KeepWorkerReady(bool keep) { Standby::Get().Keep(keep); }

void WaitForStoppedWorkers() { Reaping::WaitAll(); }

void EndWorkers() {
    Standby::Get().End();
    Reaping::WaitAll();
}

void KeepWorkersReadyFor(int decodes) { Standby::Get().Keep(true, std::max(decodes, 0)); }

void WaitForReadyWorker() { Standby::Get().WaitReady(); }

WorkerStartHold::WorkerStartHold() { Standby::Get().Hold(); }

WorkerStartHold::~WorkerStartHold() { Standby::Get().Finished(); }

}  // namespace vistrel
