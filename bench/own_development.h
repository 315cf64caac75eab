#pragma once
// LibRaw's own development of a raw file in a process of its own
// (bench/libraw/own_development.cpp, beside the benchmarks): the yardstick the raw
// reader is held to. The machine's speed drifts (other work shares it), so a benchmark
// runs the yardstick and its own work in turns and compares them pair by pair.

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

// Milliseconds of one whole run, start to exit; negative when it failed.
inline double LibRawOwnDevelopmentMs(const std::string& file) {
    const std::string program =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "vistrel_libraw_own").string();
    char* const argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(file.c_str()), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    int status = 0;
    if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0 ||
        ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace bench
