// Misbehaviour on request, linked into the test build of the decoder only.

#include "decoding/worker/Faults.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <linux/sched.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include "decoding/Decode.h"
#include "decoding/worker/WorkerMain.h"
#include "decoding/worker/WorkerMessages.h"

extern char** environ;

namespace vistrel::faults {
namespace {

enum class Fault { None, Crash, Hang, Garbage, Oversize, Backwards, Short, Quit, Forbidden, Probe, Flood };

const char* gFaultArgument = nullptr;  // after "--fault="

Fault RequestedFault() {
    if (gFaultArgument == nullptr) return Fault::None;
    const std::string_view name(gFaultArgument);
    if (name == "crash") return Fault::Crash;
    if (name == "hang") return Fault::Hang;
    if (name == "garbage") return Fault::Garbage;
    if (name == "oversize") return Fault::Oversize;
    if (name == "backwards") return Fault::Backwards;
    if (name == "short") return Fault::Short;
    if (name == "quit") return Fault::Quit;
    if (name.starts_with("forbidden:")) return Fault::Forbidden;
    if (name.starts_with("probe:")) return Fault::Probe;
    if (name == "flood") return Fault::Flood;
    return Fault::None;
}

// What a taken-over worker would try once confined, each told on standard error: reading
// a private file (named after the colon) and the program's memory, and what it sees of
// its environment and working folder (as they were before confinement).
char gStartFolder[256];
std::size_t gStartEnvironment = 0;
pid_t gProgram = 0;
// The kernel's one inode behind every event descriptor (and every other anonymous one).
dev_t gAnonymousDevice = 0;
ino_t gAnonymousInode = 0;

void NoteStart() {
    gProgram = ::getppid();
    if (::getcwd(gStartFolder, sizeof gStartFolder) == nullptr) gStartFolder[0] = '\0';
    for (char** variable = environ; *variable != nullptr; ++variable) ++gStartEnvironment;
    const int event = ::eventfd(0, EFD_CLOEXEC);
    struct stat info {};
    if (event >= 0 && ::fstat(event, &info) == 0) gAnonymousDevice = info.st_dev, gAnonymousInode = info.st_ino;
    if (event >= 0) ::close(event);
}

const char* TryReading(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == EACCES ? "refused" : "failed";
    char byte = 0;
    const ssize_t got = ::read(fd, &byte, 1);
    ::close(fd);
    return got >= 0 ? "read" : "failed";
}

// The descriptors this process holds, as "0,1,2": each number up to the limit on open
// files asked of the kernel (no folder can be listed once confined). The event
// descriptors that the conversion threads wake on are left out: they lead nowhere.
void ListDescriptors(char* list, std::size_t size) {
    constexpr int kMostDescriptors = 1 << 20;
    rlimit limit{};
    const int highest = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < RLIM_INFINITY
                            ? static_cast<int>(std::min<rlim_t>(limit.rlim_cur, kMostDescriptors))
                            : kMostDescriptors;
    std::size_t used = 0;
    list[0] = '\0';
    for (int fd = 0; fd < highest && used < size; ++fd) {
        struct stat info {};
        if (::fstat(fd, &info) != 0) continue;
        if (info.st_dev == gAnonymousDevice && info.st_ino == gAnonymousInode) continue;
        used += static_cast<std::size_t>(std::snprintf(list + used, size - used, used == 0 ? "%d" : ",%d", fd));
    }
}

void Probe() {
    char memory[64];
    std::snprintf(memory, sizeof memory, "/proc/%d/mem", static_cast<int>(gProgram));
    char descriptors[256];
    ListDescriptors(descriptors, sizeof descriptors);
    char line[512];
    const int used = std::snprintf(line, sizeof line,
                                   "probe private=%s memory=%s environment=%zu folder=%s descriptors=%s\n",
                                   TryReading(std::strchr(gFaultArgument, ':') + 1), TryReading(memory),
                                   gStartEnvironment, gStartFolder, descriptors);
    WriteAll(STDERR_FILENO, line, static_cast<std::size_t>(std::min(used, int(sizeof line) - 1)));
}

// The calls a taken-over worker would make to get out, each attempted on request
// ("forbidden:NAME", mkdir with the folder to make after a second colon). The filter
// must stop or refuse each; a new process made all the same ends at once.
long MakeFolder(const char* folder) { return ::mkdir(folder, 0700); }

constexpr std::size_t kPageBytes = 4096;  // the smallest mapping there is

long MapExecutable(const char*) {
    const void* at = ::mmap(nullptr, kPageBytes, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return at == MAP_FAILED ? -1 : 0;
}

long MakeExecutable(const char*) {
    void* at = ::mmap(nullptr, kPageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return at == MAP_FAILED ? -1 : ::mprotect(at, kPageBytes, PROT_READ | PROT_EXEC);
}

long Child(long pid) {
    if (pid == 0) ::_exit(0);
    return pid;
}

long CloneProcess(const char*) { return Child(::syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0)); }
long Fork(const char*) { return Child(::syscall(SYS_fork)); }

long VFork(const char*) {
    const pid_t pid = ::vfork();
    if (pid == 0) ::_exit(0);
    return pid;
}

long Clone3(const char*) {
    clone_args args{};
    args.exit_signal = SIGCHLD;
    return Child(::syscall(SYS_clone3, &args, sizeof args));
}

char* const kNoArguments[] = {nullptr};
constexpr const char* kSomeProgram = "/bin/true";
long Execute(const char*) { return ::execve(kSomeProgram, kNoArguments, kNoArguments); }
long ExecuteAt(const char*) { return ::syscall(SYS_execveat, AT_FDCWD, kSomeProgram, kNoArguments, kNoArguments, 0); }
long OpenSocket(const char*) { return ::socket(AF_INET, SOCK_STREAM, 0); }
long SignalProgram(const char*) { return ::kill(gProgram, 0); }
// The calls the filter allows only in part, each tried the way it refuses.
long OpenForWriting(const char* path) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
    return fd;
}
long CatchRefusals(const char*) {  // the handler that reports a refused call, replaced
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    return ::sigaction(SIGSYS, &ignore, nullptr);
}
long MakeDumpable(const char*) { return ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0); }  // memory open to a debugger
long ProgramLimits(const char*) {
    rlimit limit{};
    return ::prlimit(gProgram, RLIMIT_NOFILE, nullptr, &limit);
}
long WriteElsewhere(const char*) {  // writev: a sanitized build lets write reach any descriptor
    char byte = 'x';
    iovec part{&byte, 1};
    return ::writev(STDOUT_FILENO, &part, 1);
}
long AskPipe(const char*) {  // a request a pipe answers, had it been let through
    int waiting = 0;
    return ::ioctl(kWorkerReportFd, FIONREAD, &waiting);
}
long CopyDescriptor(const char*) { return ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 100); }

struct ForbiddenCall {
    std::string_view name;
    long (*attempt)(const char* argument);
};
constexpr ForbiddenCall kForbiddenCalls[] = {
    {"mkdir", MakeFolder},    {"mmap", MapExecutable}, {"mprotect", MakeExecutable}, {"clone", CloneProcess},
    {"fork", Fork},           {"vfork", VFork},        {"clone3", Clone3},           {"execve", Execute},
    {"execveat", ExecuteAt},  {"socket", OpenSocket},  {"kill", SignalProgram},
    {"openat", OpenForWriting}, {"rt_sigaction", CatchRefusals}, {"prctl", MakeDumpable},
    {"prlimit64", ProgramLimits}, {"writev", WriteElsewhere}, {"ioctl", AskPipe}, {"fcntl", CopyDescriptor},
};

// A call that returns is told with what it returned, and the worker ends.
[[noreturn]] void AttemptForbidden() {
    const std::string_view request(std::strchr(gFaultArgument, ':') + 1);
    const std::string_view name = request.substr(0, request.find(':'));
    const char* argument = name.size() < request.size() ? request.data() + name.size() + 1 : "";
    for (const ForbiddenCall& call : kForbiddenCalls) {
        if (call.name != name) continue;
        const long result = call.attempt(argument);
        const char* error = result < 0 ? ::strerrorname_np(errno) : nullptr;
        char line[128];
        const int used = std::snprintf(line, sizeof line, "vistrel-decoder: %.*s returned %ld (%s)\n",
                                       static_cast<int>(name.size()), name.data(), result,
                                       error != nullptr ? error : "no error");
        WriteAll(STDERR_FILENO, line, static_cast<std::size_t>(std::min(used, int(sizeof line) - 1)));
    }
    ::_exit(0);
}

// Faults that replace the decode altogether, or come before it.
void Misbehave(Fault fault) {
    switch (fault) {
        case Fault::Probe:
            Probe();
            return;
        case Fault::Flood: {
            constexpr std::size_t kFloodBytes = std::size_t{50} << 20;
            static char chunk[64 * 1024];
            std::memset(chunk, 'x', sizeof chunk);
            for (std::size_t sent = 0; sent < kFloodBytes; sent += sizeof chunk) WriteAll(STDERR_FILENO, chunk, sizeof chunk);
            return;
        }
        case Fault::None:
        case Fault::Crash:
        case Fault::Hang:
        case Fault::Backwards:
        case Fault::Short:
            return;
        case Fault::Garbage: {
            const char junk[] = "\x01\x00\x00\x00 this is not a message at all";
            WriteAll(kWorkerReportFd, junk, sizeof junk);
            ::pause();
            ::_exit(0);
        }
        case Fault::Oversize:
            Send(WorkerMessageKind::Size, kMaxPictureSide + 1, 1);
            ::pause();
            ::_exit(0);
        case Fault::Quit:
            ::_exit(0);
        case Fault::Forbidden:
            AttemptForbidden();
    }
}

Fault gFault = Fault::None;

}  // namespace

bool TakeArguments(int argc, char** argv) {
    constexpr std::string_view kFaultOption = "--fault=";
    if (argc == 2 && std::string_view(argv[1]).starts_with(kFaultOption))
        gFaultArgument = argv[1] + kFaultOption.size();
    else if (argc != 1)
        return false;
    gFault = RequestedFault();
    // What the worker was given, before it sets anything.
    if (gFault == Fault::Probe || gFault == Fault::Forbidden) NoteStart();
    return true;
}

void BeforeDecode() { Misbehave(gFault); }

void AtGo() {
    if (gFault == Fault::Crash) std::abort();
    if (gFault == Fault::Hang)
        for (;;) ::pause();
}

std::size_t RowBytesWritten(std::size_t bytes) { return gFault == Fault::Short && bytes > 0 ? bytes - 1 : bytes; }

void BeforeRows(int rows) {
    if (gFault == Fault::Backwards && rows > 1) {
        Send(WorkerMessageKind::Rows, static_cast<std::uint32_t>(rows));
        Send(WorkerMessageKind::Rows, 1);
        ::pause();
    }
}

}  // namespace vistrel::faults
