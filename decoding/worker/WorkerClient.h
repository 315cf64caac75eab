#pragma once
// Decoding out of the program's process: a confined worker (the decoder executable,
// a private helper of the program) decodes the file and sends the picture's size, then
// its rows down a pipe into the program's own memory, where they land as they come.
// Whatever the worker does (crash, hang, lie), the program only sees a failed decode.
// This room is the message loop that hears a worker out; starting and keeping workers
// is WorkerProcess.h's, the pictures' memory PictureMemory.h's.

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

#include "decoding/Decode.h"
#include "decoding/worker/PictureMemory.h"
#include "decoding/worker/WorkerProcess.h"

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
    // A camera raw's photosites are asked for too, and come in DecodeResult::raw's sensor.
    bool photosites = false;
};

// DecodePicture's results (the same pixels and the same failures), decoded by a worker.
// The receiver hears of the picture and of its rows as they come in;
// false from it ends the worker at once.
// The colour handling is DecodePicture's.
DecodeResult DecodeInWorker(const QString& path, ColorValue background, RowReceiver* receiver = nullptr,
                            ColourHandling colour = ColourHandling::ConvertToSrgb);
DecodeResult DecodeInWorker(const QString& path, ColorValue background, RowReceiver* receiver,
                            const DecodeWorkerOptions& options, ColourHandling colour = ColourHandling::ConvertToSrgb);

// The longest a decode of a picture of this many pixels may take: generous, since a
// worker is never slow unless something is wrong. Whatever the file, a worker that
// tells nothing new for 30 s is ended sooner.
std::chrono::milliseconds WorkerWatchdog(std::int64_t pixels);

// What workers write on standard error (the libraries' notes, a call the confinement
// refused) is logged under the picture readers' category (decoding/worker/ReaderMessages.h),
// off unless switched on.

}  // namespace vistrel
