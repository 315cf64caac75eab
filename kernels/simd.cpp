#include "kernels/simd.h"

#include <atomic>

namespace korvex::detail {

namespace {

bool ProcessorHasWideVectors() {
#if KORVEX_HAVE_WIDE_VECTORS
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

bool ProcessorHasWidestVectors() {
#if KORVEX_HAVE_WIDE_VECTORS
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512dq");
#else
    return false;
#endif
}

std::atomic<bool> wideAllowed{true};
std::atomic<bool> widestAllowed{true};

}  // namespace

bool UseWideVectors() {
    static const bool available = ProcessorHasWideVectors();
    return available && wideAllowed.load(std::memory_order_relaxed);
}

bool UseWidestVectors() {
    static const bool available = ProcessorHasWidestVectors();
    return available && UseWideVectors() && widestAllowed.load(std::memory_order_relaxed);
}

void AllowWideVectors(bool allowed) { wideAllowed.store(allowed, std::memory_order_relaxed); }

void AllowWidestVectors(bool allowed) { widestAllowed.store(allowed, std::memory_order_relaxed); }

}  // namespace korvex::detail
