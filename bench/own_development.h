#pragma once
// LibRaw's own development of a raw file in a process of its own
// (bench/libraw/own_development.cpp, beside the benchmarks): the yardstick the raw
// reader is held to. The machine's speed drifts (other work shares it), so a benchmark
// runs the yardstick and its own work in turns and compares them pair by pair.

#include <filesystem>
#include <string>

#include "process.h"

namespace bench {

// One whole run, start to exit, and its peak memory; negative milliseconds when it failed.
inline ProcessRun LibRawOwnDevelopment(const std::string& file) {
    const std::filesystem::path here = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    return RunProcess({(here / "vistrel_libraw_own").string(), file});
}

}  // namespace bench
