#pragma once
// Decoding out of the program's process: a confined worker (the decoder executable,
// a private helper of the program) decodes the file and sends the picture's size, then
// its rows down a pipe into the program's own memory, where they land as they come. Whatever the worker
// does (crash, hang, lie), the program only sees a failed decode.

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

#include "decoding/Decode.h"

namespace vistrel {

// The worker's file name: beside the program's executable in the build folder, in
// ../lib/vistrel from the program's folder once installed.
inline constexpr const char* kDecoderExecutable = "vistrel-decoder";

struct DecodeWorkerOptions {
    QString executable;  // empty: the decoder beside the running executable
    QStringList arguments;  // for a test build of the worker; the shipped one takes none
    // Longest the worker may take, and may stay silent; zero: silent at most 30 s, and
    // at most WorkerWatchdog of the picture's pixels once its size is known.
    std::chrono::milliseconds watchdog{0};
    // Longest the worker may tell nothing new; zero: 30 s.
    std::chrono::milliseconds stall{0};
    // Asked while the worker is silent (a decode that reports no rows for a while):
    // true ends it at once, as a receiver's false does.
    std::function<bool()> cancelled;
};

// DecodePicture's results (the same pixels and the same failures), decoded by a worker.
// The receiver hears of the picture and of its rows as they come in;
// false from it ends the worker at once.
// The colour handling is DecodePicture's.
DecodeResult DecodeInWorker(const QString& path, ColorValue background, RowReceiver* receiver = nullptr,
                            ColourHandling colour = ColourHandling::ConvertToSrgb);
DecodeResult DecodeInWorker(const QString& path, ColorValue background, RowReceiver* receiver,
                            const DecodeWorkerOptions& options, ColourHandling colour = ColourHandling::ConvertToSrgb);

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

// While one lives, the buffer of a picture let go is kept for the next decode's picture
// when that has the same size, instead of being given back and asked for again: a
// picture buffer's pages cost the system more to hand out, clear and take back than the
// fastest readers take to fill them. The worker never sees the buffer, so nothing of the
// picture before can reach it. A buffer no decode took goes back with the last one.
class PictureBufferReuse {
public:
    PictureBufferReuse();
    ~PictureBufferReuse();
    PictureBufferReuse(const PictureBufferReuse&) = delete;
    PictureBufferReuse& operator=(const PictureBufferReuse&) = delete;
};

// A decoded picture's memory goes back on a thread of its own once its last copy is
// gone (or waits for the picture of a load under way); this returns once every picture
// dropped so far has gone back, a buffer kept for a load among them.
void WaitForReleasedPictures();
// Picture buffers the program holds now: its pictures', one kept for the next load's, and
// those on their way back.
int PictureBuffersHeld();

// The longest a decode of a picture of this many pixels may take: generous, since a
// worker is never slow unless something is wrong. Whatever the file, a worker that
// tells nothing new for 30 s is ended sooner.
std::chrono::milliseconds WorkerWatchdog(std::int64_t pixels);

// What workers write on standard error (the libraries' notes, a call the confinement
// refused) is logged under the picture readers' category (decoding/worker/ReaderMessages.h),
// off unless switched on.

}  // namespace vistrel
