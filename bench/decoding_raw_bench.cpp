// A 24-megapixel camera raw file: LibRaw's own development to 8 bits in a process of its
// own (bench/libraw/own_development.cpp), the yardstick, against the confined decoder's
// decode of it; each with the peak memory of its process. A whole load through the main
// window is among the load benchmarks (BM_LoadPictureFileDng24MP). Goals: the load at most
// 1.10 x LibRaw's own time, and the decoder's peak within 1.25 x LibRaw's own.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "decoding/Decode.h"
#include "decoding/worker/WorkerClient.h"
#include "memory.h"
#include "pictures.h"

extern char** environ;

namespace {

// The yardstick's executable, beside this one.
std::string OwnDevelopment() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "vistrel_libraw_own").string();
}

void BM_LibRawOwnDevelopmentDng24MP(benchmark::State& state) {
    const std::string file = bench::Dng24MP().toStdString();
    const std::string program = OwnDevelopment();
    const bench::ChildrenPeak peak;
    for (auto _ : state) {
        char* const argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(file.c_str()), nullptr};
        pid_t child = 0;
        int status = 0;
        if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0 ||
            ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("LibRaw's own development failed");
    }
    state.counters["peak_MiB"] = peak.bytes() / (1 << 20);
}
BENCHMARK(BM_LibRawOwnDevelopmentDng24MP)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_DecodeInWorkerDng24MP(benchmark::State& state) {
    const QString& file = bench::Dng24MP();
    const vistrel::PictureBufferReuse reuse;
    const bench::ChildrenPeak peak;
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodeInWorker(file, 0xFFFFFF);
        if (!result) state.SkipWithError("decode failed");
    }
    state.counters["worker_peak_MiB"] = peak.bytes() / (1 << 20);
}
BENCHMARK(BM_DecodeInWorkerDng24MP)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace
