#pragma once
// The decoder worker's side: a process of its own that reads one picture file, decodes
// it under confinement and hands its rows to the program through shared memory.

namespace vistrel {

// The worker's main: it takes no arguments. Never returns.
[[noreturn]] void RunDecodeWorker(int argc, char** argv);

}  // namespace vistrel
