#pragma once
// The decoder worker's side: a process of its own that reads one picture file, decodes
// it under confinement and hands its rows to the program through shared memory.

#include <QByteArray>

#include <cstddef>

#include "platform/Surface.h"

namespace vistrel {

// The descriptors a worker is started with.
inline constexpr int kWorkerReportFd = 3;  // written by the worker: its messages
// Read by the worker: its request, then one byte once the buffer is sized.
inline constexpr int kWorkerGoFd = 4;
inline constexpr int kWorkerBufferFd = 5;  // the shared picture buffer (a memfd)

// The longest file name a request carries, in bytes.
inline constexpr std::size_t kMaxRequestNameBytes = 64 * 1024;

// What the program asks of a worker: decode this file over this background. A worker
// starts, gets itself ready (libraries and image plugins loaded) and then waits for
// this, so that it can be started ahead of the picture it will decode. On the wire: the
// name's length and the colour as 32-bit words in the machine's byte order, then the name.
QByteArray EncodeWorkerRequest(const QByteArray& fileName, ColorValue background);

// The worker's main: it takes no arguments. Never returns.
[[noreturn]] void RunDecodeWorker(int argc, char** argv);

}  // namespace vistrel
