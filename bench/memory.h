#pragma once
// The peak memory of one piece of work, from the kernel's high-water mark.

#include <cstdint>
#include <fstream>
#include <string>

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

}  // namespace bench
