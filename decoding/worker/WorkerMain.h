#pragma once
// The decoder worker's side: a process of its own that reads one picture file, decodes
// it under confinement and hands its rows to the program through shared memory.

#include <cstddef>
#include <cstdint>

#include "decoding/worker/WorkerMessages.h"

namespace vistrel {

// The worker's main: it takes no arguments. Never returns.
[[noreturn]] void RunDecodeWorker(int argc, char** argv);

// The worker's report to the program (and its standard error), written whole; a worker
// whose program has stopped listening ends.
void WriteAll(int fd, const void* data, std::size_t size);
void Send(WorkerMessageKind kind, std::uint32_t first, std::uint32_t second = 0);

}  // namespace vistrel
