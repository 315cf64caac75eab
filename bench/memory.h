#pragma once
// The peak memory of one piece of work, from the kernel's high-water mark: this process's,
// or its children's.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace bench {

inline std::int64_t StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stoll(line.substr(std::string(field).size()));
    return -1;
}

// Bytes the work added at its peak over what was resident before it: the high-water
// mark is reset first (writing 5 to clear_refs), then read after the work.
template <class Work>
double PeakBytes(Work&& work) {
    const std::int64_t before = StatusKiB("VmRSS:");
    std::ofstream("/proc/self/clear_refs") << "5";
    work();
    const std::int64_t peak = StatusKiB("VmHWM:");
    return double(peak - before) * 1024.0;
}

// The largest high-water mark any child process of this one started from now on reaches
// while it lives, read from /proc every few milliseconds (the mark only grows, so the
// last reading before a child ends is close to its peak): a decoder's, or another
// program's. A child already there (the last benchmark's decoder, not yet reaped) is not
// this work's.
class ChildrenPeak {
public:
    ChildrenPeak() : before_(Children()), watcher_([this] {
        while (!stop_) {
            for (const std::string& pid : Children()) {
                if (std::find(before_.begin(), before_.end(), pid) != before_.end()) continue;
                std::ifstream status("/proc/" + pid + "/status");
                std::string line;
                while (std::getline(status, line))
                    if (line.rfind("VmHWM:", 0) == 0) peakKiB_ = std::max<std::int64_t>(peakKiB_, std::stoll(line.substr(6)));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }) {}
    ~ChildrenPeak() {
        stop_ = true;
        watcher_.join();
    }
    double bytes() const { return double(peakKiB_) * 1024.0; }

private:
    static std::vector<std::string> Children() {
        std::vector<std::string> children;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            std::ifstream list(task.path() / "children");
            std::string pid;
            while (list >> pid) children.push_back(pid);
        }
        return children;
    }
    const std::vector<std::string> before_;
    std::atomic<bool> stop_{false};
    std::atomic<std::int64_t> peakKiB_{0};
    std::thread watcher_;
};

}  // namespace bench
