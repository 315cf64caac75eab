#pragma once
// The decoder worker's side: a process of its own that reads one picture file, decodes
// it under confinement and hands its rows to the program through shared memory.

namespace vistrel {

// The descriptors a worker is started with.
inline constexpr int kWorkerReportFd = 3;  // written by the worker: its messages
inline constexpr int kWorkerGoFd = 4;      // read by the worker: one byte once the buffer is sized
inline constexpr int kWorkerBufferFd = 5;  // the shared picture buffer (a memfd)

// The worker's main: argv holds the file's name and the background colour in hex.
// Never returns.
[[noreturn]] void RunDecodeWorker(int argc, char** argv);

}  // namespace vistrel
