#include "kernels/parallel.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <system_error>
#include <thread>
#include <vector>

#include "kernels/korvex.h"

namespace korvex {

namespace {
// 0 = one thread per hardware thread.
std::atomic<int> requestedThreads{0};
// More threads than this only add start-up cost for these memory-bound loops.
constexpr int kMaxThreads = 64;
}  // namespace

void SetThreadCount(int count) { requestedThreads.store(std::clamp(count, 0, kMaxThreads)); }

int ThreadCount() {
    const int requested = requestedThreads.load();
    if (requested > 0) return requested;
    const unsigned hardware = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(hardware), 1, kMaxThreads);
}

namespace detail {

std::size_t ChunkCount(std::size_t n) {
    if (n < kMinParallelElements) return 1;
    return static_cast<std::size_t>(ThreadCount());
}

void ForEachChunk(std::size_t n, std::size_t chunks,
                  const std::function<void(std::size_t, std::size_t, std::size_t)>& job) {
    assert(chunks >= 1);
    chunks = std::max<std::size_t>(chunks, 1);
    // Chunk c covers [bound(c), bound(c + 1)); n * c cannot overflow (n <= 2^40, c <= 64).
    const auto bound = [n, chunks](std::size_t c) {
        if (c >= chunks) return n;
        return (n * c / chunks) & ~(kChunkAlignment - 1);
    };
    if (chunks == 1) {
        job(0, 0, n);
        return;
    }
    std::vector<std::thread> threads;
    threads.reserve(chunks - 1);
    for (std::size_t c = 0; c + 1 < chunks; ++c) {
        const std::size_t begin = bound(c), end = bound(c + 1);
        try {
            threads.emplace_back([&job, c, begin, end] { job(c, begin, end); });
        } catch (const std::system_error&) {
            job(c, begin, end);
        }
    }
    job(chunks - 1, bound(chunks - 1), n);
    for (std::thread& thread : threads) thread.join();
}

}  // namespace detail
}  // namespace korvex
