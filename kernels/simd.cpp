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

std::atomic<bool> wideAllowed{true};

}  // namespace

bool UseWideVectors() {
    static const bool available = ProcessorHasWideVectors();
    return available && wideAllowed.load(std::memory_order_relaxed);
}

void AllowWideVectors(bool allowed) { wideAllowed.store(allowed, std::memory_order_relaxed); }

}  // namespace korvex::detail
