#pragma once
// Starting and keeping decoder processes: a worker spawned with nothing of the
// program's (no environment, no folder, only its four channels), killed and reaped
// whatever happens; one kept started ahead of the next decode; and none left behind
// when the program ends. The message loop (WorkerClient.cpp) takes workers from here.

#include <QString>
#include <QStringList>

#include <memory>
#include <utility>

#include <sys/types.h>

#include "decoding/Decode.h"

namespace vistrel {

// Keeps one worker started and waiting, so that a decode does not wait for a worker to
// start and load its libraries (the program keeps one from start-up; false ends it).
// Off until asked: every decode then starts a worker of its own. Only decodes by the
// worker beside the program take the waiting one.
void KeepWorkerReady(bool keep);
// Keeps a worker ready for each of the next `decodes` decodes only: a command that knows
// how many pictures it reads starts no worker after its last (KeepWorkerReady(false)
// still ends the keeping).
void KeepWorkersReadyFor(int decodes);
// Returns once the worker kept ready is waiting (or could not be started, or none is kept).
void WaitForReadyWorker();
// Returns once every worker stopped after its decode has been reaped: a program ends with
// none of its workers left behind (KeepWorkerReady(false) first ends the one kept ready).
void WaitForStoppedWorkers();
// For a program's end: no worker is kept from now on, the thread that kept one ends, and
// every worker is killed and reaped before this returns. A program that ends by
// returning from main does this on its way out; one that ends with _exit calls it first.
void EndWorkers();

// While one lives, the worker kept ready is not started in the place of one taken, so
// that a load's own work after its decode (the last rows' analysis, the instruments)
// has both cores. The waiting worker starts once the last one is gone.
class WorkerStartHold {
public:
    WorkerStartHold();
    ~WorkerStartHold();
    WorkerStartHold(const WorkerStartHold&) = delete;
    WorkerStartHold& operator=(const WorkerStartHold&) = delete;
};

namespace workerprocess {

// A descriptor, closed when this goes.
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
    void reset(int fd = -1);
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_ = -1;
};

// The started worker: killed and reaped when this goes, whatever happened.
class Worker {
public:
    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() { Stop(); }

    // The worker starts in the root folder with nothing of the program's environment
    // (only its own wait policy), its standard input and output on /dev/null and its
    // standard error on a pipe the program reads.
    bool Start(const QString& executable, const QStringList& arguments, const Fd& report, const Fd& go,
               const Fd& rows, const Fd& errors);
    void Stop();
    // After a successful decode the worker has nothing left to do but exit: it is killed
    // and reaped on a thread of its own, so that the picture is shown meanwhile.
    void StopInBackground();

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

Started StartWorker(const QString& executable, const QStringList& arguments = {});
// The decoder beside the running program.
QString ExecutableBeside();

// The worker kept ready, if one is ready or being started (nothing otherwise); each take
// is followed by TakenWorkerDone once its decode is over, when another may start.
std::unique_ptr<StartedWorker> TakeReadyWorker();
void TakenWorkerDone();

}  // namespace workerprocess
}  // namespace vistrel
