#pragma once
// Splitting a per-element job over the machine's cores. Internal to the kernels.

#include <cstddef>
#include <functional>

namespace korvex::detail {

// Below this many elements a job runs on the calling thread alone: starting a thread
// costs tens of microseconds, about what 256 Ki pixels take on one core.
inline constexpr std::size_t kMinParallelElements = std::size_t{256} * 1024;

// Chunk starts are multiples of this many elements (64 bytes of 4-byte elements), so two
// threads never write the same cache line.
inline constexpr std::size_t kChunkAlignment = 16;

// How many chunks a job of n elements is split into: 1 for small n, else up to ThreadCount().
std::size_t ChunkCount(std::size_t n);

// Runs job(chunk, begin, end) for each of `chunks` contiguous pieces of [0, n), chunk
// c = 0 .. chunks - 1, all but the last on their own threads; returns when all are done.
// Pieces may be empty when n is small. A piece whose thread cannot be started runs on
// the calling thread instead.
void ForEachChunk(std::size_t n, std::size_t chunks,
                  const std::function<void(std::size_t chunk, std::size_t begin, std::size_t end)>& job);

// ForEachChunk with ChunkCount(n) chunks, for jobs that need no per-chunk state.
inline void ParallelFor(std::size_t n, const std::function<void(std::size_t begin, std::size_t end)>& job) {
    ForEachChunk(n, ChunkCount(n), [&job](std::size_t, std::size_t begin, std::size_t end) { job(begin, end); });
}

}  // namespace korvex::detail
