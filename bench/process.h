#pragma once
// Whole processes timed from the outside, and the medians of a benchmark's rounds (one
// slow round on a shared machine moves a median less than a mean).

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

// One run of a program, its output thrown away: milliseconds from starting it to reaping
// it (-1 when it could not be started or failed), and its own peak memory, which the
// kernel reports when it is reaped (no other process's, as watching /proc would mix in).
struct ProcessRun {
    double ms = -1.0;
    double peakBytes = 0.0;
    // Processor time (user + system) of the program and of every child it reaped.
    double cpuMs = 0.0;
};

inline ProcessRun RunProcess(const std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const bool started = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (!started || ::wait4(pid, &status, 0, &usage) != pid) return {};
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    const auto msOf = [](const timeval& t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    return {ms, double(usage.ru_maxrss) * 1024.0, msOf(usage.ru_utime) + msOf(usage.ru_stime)};
}

inline double ProcessMs(const std::vector<std::string>& words) { return RunProcess(words).ms; }

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace bench
