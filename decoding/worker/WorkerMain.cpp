#include "decoding/worker/WorkerMain.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QThreadPool>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <string_view>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <linux/landlock.h>
#include <linux/sched.h>
#include <malloc.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "decoding/worker/WorkerMessages.h"
#include "formats/FileHeaders.h"

extern char** environ;

namespace vistrel {
namespace {

// Room for the worker's own code, libraries, thread stacks and allocator arenas,
// beside what the picture itself needs.
constexpr std::uint64_t kAddressMarginBytes = std::uint64_t{1} << 30;
// Address space for a file whose size no header walker can tell: a modest picture's worth.
constexpr std::uint64_t kUnknownSizePixels = std::uint64_t{16} << 20;
// CPU seconds for any decode, and more for every 4 megapixels the file claims: far
// beyond the slowest legitimate picture (a gigapixel JPEG takes a few seconds).
constexpr rlim_t kCpuSeconds = 60;
constexpr std::uint64_t kPixelsPerCpuSecond = std::uint64_t{4} << 20;
// Folders (and files) the metafile renderer reads its fonts and font maps from; the
// only paths a confined worker may open.
constexpr const char* kFontPaths[] = {"/usr/share/fonts", "/usr/share/ghostscript", "/var/lib/ghostscript/fonts",
                                      "/etc/libwmf.fontmap", "/usr/share/libwmf"};
// Threads the readers' conversions may use.
constexpr int kWorkerThreads = 4;
// Pages of a handed-over band are given back only from this size on.
constexpr std::size_t kReleaseFromBytes = std::size_t{1} << 20;

void WriteAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd, p, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) ::_exit(1);  // the program is gone or stopped listening
        p += put;
        size -= static_cast<std::size_t>(put);
    }
}

void Send(WorkerMessageKind kind, std::uint32_t first, std::uint32_t second = 0) {
    const WorkerMessageBytes message = EncodeWorkerMessage(kind, first, second);
    WriteAll(kWorkerReportFd, message.data(), message.size());
}

[[noreturn]] void Fail(DecodeError error) {
    Send(WorkerMessageKind::Failed, WorkerErrorCode(error));
    ::_exit(0);
}

// Misbehaviour on request, so that the program's defences can be tested against a real
// process. Only the test build of the worker takes the request (its one argument,
// --fault=NAME); the shipped worker takes no argument at all.
enum class Fault { None, Crash, Hang, Garbage, Oversize, Backwards, Quit, Forbidden, Probe, Flood };

#ifdef VISTREL_DECODER_FAULTS
constexpr bool kFaultsOnRequest = true;
#else
constexpr bool kFaultsOnRequest = false;
#endif

const char* gFaultArgument = nullptr;  // after "--fault="

Fault RequestedFault() {
    if (gFaultArgument == nullptr) return Fault::None;
    const std::string_view name(gFaultArgument);
    if (name == "crash") return Fault::Crash;
    if (name == "hang") return Fault::Hang;
    if (name == "garbage") return Fault::Garbage;
    if (name == "oversize") return Fault::Oversize;
    if (name == "backwards") return Fault::Backwards;
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

struct ForbiddenCall {
    std::string_view name;
    long (*attempt)(const char* argument);
};
constexpr ForbiddenCall kForbiddenCalls[] = {
    {"mkdir", MakeFolder},    {"mmap", MapExecutable}, {"mprotect", MakeExecutable}, {"clone", CloneProcess},
    {"fork", Fork},           {"vfork", VFork},        {"clone3", Clone3},           {"execve", Execute},
    {"execveat", ExecuteAt},  {"socket", OpenSocket},  {"kill", SignalProgram},
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

void Limit(int resource, rlim_t soft, rlim_t hard) {
    const rlimit limit{soft, hard};
    if (::setrlimit(resource, &limit) != 0) ::_exit(1);
}

// Address space and processor time for decoding a picture of this many pixels from a
// file of this many bytes, taking this many bytes a pixel at its peak.
void SetDecodeLimits(std::uint64_t fileBytes, std::uint64_t pixels, std::uint64_t bytesPerPixel = kBytesPerPixelAtPeak) {
    const rlim_t space = kAddressMarginBytes + 2 * fileBytes + bytesPerPixel * pixels;
#ifndef __SANITIZE_ADDRESS__
    Limit(RLIMIT_AS, space, space);
#else
    // AddressSanitizer's shadow reserves terabytes of address space: a sanitized build's
    // worker keeps every limit but this one.
    (void)space;
#endif
    const rlim_t cpu = kCpuSeconds + static_cast<rlim_t>(pixels / kPixelsPerCpuSecond);
    Limit(RLIMIT_CPU, cpu, cpu + 5);
}

// A call the filter refuses is reported by name on standard error (which the program
// logs) before the worker ends: the names are looked up before confinement, since
// nothing may be allocated in the handler.
constexpr int kNamedCalls = 512;
constexpr int kWorkerStoppedByFilter = 70;  // the exit status then
constexpr std::size_t kCallNameBytes = 32;
char gCallNames[kNamedCalls][kCallNameBytes];

void NameCalls() {
    for (int call = 0; call < kNamedCalls; ++call) {
        char* name = ::seccomp_syscall_resolve_num_arch(SCMP_ARCH_NATIVE, call);
        if (name != nullptr) std::strncpy(gCallNames[call], name, kCallNameBytes - 1);
        std::free(name);
    }
}

void ReportStoppedCall(int, siginfo_t* info, void*) {
    const int call = info->si_syscall;
    const char* name = call >= 0 && call < kNamedCalls && gCallNames[call][0] != '\0' ? gCallNames[call] : "?";
    char line[96] = "vistrel-decoder: stopped by the system-call filter at ";
    std::size_t used = std::strlen(line);
    for (const char* c = name; *c != '\0' && used + 2 < sizeof line; ++c) line[used++] = *c;
    line[used++] = '\n';
    (void)::write(STDERR_FILENO, line, used);
    ::_exit(kWorkerStoppedByFilter);
}

bool CatchStoppedCalls() {
    NameCalls();
    struct sigaction action {};
    action.sa_sigaction = ReportStoppedCall;
    action.sa_flags = SA_SIGINFO;
    return ::sigaction(SIGSYS, &action, nullptr) == 0;
}

// Landlock's rules: nothing may be opened but what lies beneath the font paths, and for
// reading only. Made before the picture is known, so that a load does not wait for them;
// -1 where the kernel has no Landlock.
int PreparePathRules() {
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1) return -1;
    landlock_ruleset_attr ruleset{};
    ruleset.handled_access_fs = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1;  // every access of the first version
    if (abi >= 2) ruleset.handled_access_fs |= LANDLOCK_ACCESS_FS_REFER;
    const int rules = static_cast<int>(::syscall(SYS_landlock_create_ruleset, &ruleset, sizeof ruleset, 0));
    if (rules < 0) return -1;
    for (const char* path : kFontPaths) {
        const int beneath = ::open(path, O_PATH | O_CLOEXEC);
        if (beneath < 0) continue;  // not installed here
        struct stat info {};
        landlock_path_beneath_attr rule{};
        rule.allowed_access = LANDLOCK_ACCESS_FS_READ_FILE;
        if (::fstat(beneath, &info) == 0 && S_ISDIR(info.st_mode)) rule.allowed_access |= LANDLOCK_ACCESS_FS_READ_DIR;
        rule.parent_fd = beneath;
        const bool added = ::syscall(SYS_landlock_add_rule, rules, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
        ::close(beneath);
        if (!added) ::_exit(1);  // half a confinement is none
    }
    return rules;
}

// From here on the rules hold for this process. False where there are none.
bool ConfinePaths(int rules) {
    if (rules < 0) return false;
    if (::syscall(SYS_landlock_restrict_self, rules, 0) != 0) ::_exit(1);
    ::close(rules);
    return true;
}

// Everything decoding needs once the file has been read and the readers are loaded:
// memory, threads of this process, time, signals, lowering its own limits, and writing
// to the report pipe, to standard error (the libraries' warnings, which the program
// reads) and into the shared buffer. Any other call is refused and ends the process.
// Opening files (the metafile renderer's fonts) is left to Landlock, which allows only
// the font folders; where the kernel has no Landlock, nothing can be opened at all.
bool InstallFilter(bool pathsConfined) {
    const scmp_filter_ctx filter = ::seccomp_init(SCMP_ACT_TRAP);
    if (filter == nullptr) return false;
    bool ok = ::seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1) == 0;
    auto allow = [&](int call) { ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0; };
    for (const int call : {SCMP_SYS(read), SCMP_SYS(pread64), SCMP_SYS(readv), SCMP_SYS(lseek), SCMP_SYS(close),
                           SCMP_SYS(fstat), SCMP_SYS(newfstatat), SCMP_SYS(munmap), SCMP_SYS(mremap),
                           SCMP_SYS(brk), SCMP_SYS(madvise), SCMP_SYS(futex), SCMP_SYS(clock_gettime),
                           SCMP_SYS(gettimeofday), SCMP_SYS(clock_nanosleep), SCMP_SYS(nanosleep),
                           SCMP_SYS(sched_yield), SCMP_SYS(sched_getaffinity), SCMP_SYS(getpid), SCMP_SYS(gettid),
                           SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(rt_sigprocmask),
                           SCMP_SYS(rt_sigreturn), SCMP_SYS(sigaltstack), SCMP_SYS(getrandom), SCMP_SYS(exit),
                           SCMP_SYS(exit_group), SCMP_SYS(pause), SCMP_SYS(sysinfo)})
        allow(call);
    // Signal handlers: threads that Qt starts for large conversions set their own. The
    // one that reports a refused call stays.
    ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(rt_sigaction), 1,
                                  SCMP_A0(SCMP_CMP_NE, static_cast<scmp_datum_t>(SIGSYS))) == 0;
    // dav1d names the threads it starts; no other process control.
    ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, PR_SET_NAME)) == 0;
    // Its own limits, lowered once the file's claimed size is known.
    ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 1, SCMP_A0(SCMP_CMP_EQ, 0)) == 0;
    // Writing: the report pipe and standard error, and the picture into the shared buffer.
    for (const int fd : {kWorkerReportFd, STDERR_FILENO})
        for (const int call : {SCMP_SYS(write), SCMP_SYS(writev)})
            ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 1, SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(fd))) == 0;
    // The go byte comes with the shared buffer, which takes the buffer's place.
    ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(recvmsg), 1,
                                  SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(kWorkerGoFd))) == 0;
    ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(dup3), 1,
                                  SCMP_A1(SCMP_CMP_EQ, static_cast<scmp_datum_t>(kWorkerBufferFd))) == 0;
    ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(pwrite64), 1,
                                  SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(kWorkerBufferFd))) == 0;
    // Memory, never executable: no new code can be mapped in.
    for (const int call : {SCMP_SYS(mmap), SCMP_SYS(mprotect)})
        ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 1, SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) == 0;
    // Threads (the readers' conversions may split their rows), never another process;
    // clone3 cannot be inspected, so it is refused and the C library falls back on clone.
    ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
                                  SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)) == 0;
    ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
    // The metafile renderer opens its fonts (the font map, then each face) as it draws:
    // files may be opened for reading only; nothing can be created, written or truncated.
    // Whatever a worker reads can only reach the program's picture, which it shows.
    constexpr scmp_datum_t kWriting = O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND;
    if (pathsConfined)
        ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(openat), 1,
                                      SCMP_A2(SCMP_CMP_MASKED_EQ, kWriting, 0)) == 0;
    else
        ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(openat), 0) == 0;
    ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOTTY), SCMP_SYS(ioctl), 0) == 0;
    for (const int command : {F_GETFD, F_SETFD, F_GETFL})
        ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(fcntl), 1,
                                      SCMP_A1(SCMP_CMP_EQ, static_cast<scmp_datum_t>(command))) == 0;
#ifdef __SANITIZE_ADDRESS__
    // AddressSanitizer probes whether memory is readable by writing it into a pipe of its
    // own: a sanitized build's worker may make pipes and write to any descriptor.
    for (const int call : {SCMP_SYS(pipe2), SCMP_SYS(pipe), SCMP_SYS(write)}) allow(call);
#endif
    ok = ok && ::seccomp_load(filter) == 0;
    ::seccomp_release(filter);
    return ok;
}

// Hands the decoder's rows to the program: the picture's size, then, once the program
// has sent the shared buffer, each band written into it and announced. A reader that
// hands its bands over has them written in with pwrite; a streaming one decodes into
// the buffer, mapped here (Destination).
class SharedRows final : public RowReceiver, public BandSink {
public:
    explicit SharedRows(Fault fault) : fault_(fault) {}

    ~SharedRows() override {
        if (populating_.joinable()) populating_.join();
    }

    bool Start(int width, int height) override {
        Open(width, height);
        height_ = static_cast<std::size_t>(height);
        return true;
    }

    bool Put(int first, int count, const uchar* rows) override {
        const std::size_t offset = static_cast<std::size_t>(first) * rowBytes_;
        if (mapped_ == nullptr || rows != mapped_ + offset)
            Write(offset, rows, static_cast<std::size_t>(count) * rowBytes_);
        return Announce(first + count);
    }

    // A streaming decoder writes its bands straight into the shared buffer, mapped here
    // once the program has sized it: the decoding core copies nothing. A thread of its
    // own faults the buffer's pages in ahead of the decoder, so that the decoder's core
    // meets no page faults either.
    uchar* Destination(int first, int count) override {
        if (mapped_ == nullptr && !mapFailed_) Map();
        if (mapped_ == nullptr) return nullptr;
        (void)count;
        return mapped_ + static_cast<std::size_t>(first) * rowBytes_;
    }

    bool PictureStarted(Surface& picture) override {
        Open(picture.width(), picture.height());
        Q_ASSERT(static_cast<std::size_t>(picture.image().bytesPerLine()) == rowBytes_);
        picture_ = &picture;
        return true;
    }

    // Nothing reads the picture here but the decoder itself.
    void PictureDropped() override {}

    bool RowsReady(int rows) override {
        const std::size_t from = static_cast<std::size_t>(copied_) * rowBytes_;
        const std::size_t to = static_cast<std::size_t>(rows) * rowBytes_;
        auto* source = reinterpret_cast<std::uint8_t*>(picture_->row(0));
        Write(from, source + from, to - from);
        // The band now lives in the shared buffer; the decoder never reads it again, so
        // its own pages go back at once and the worker holds about one picture, not two.
        if (to - from >= kReleaseFromBytes) {
            const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
            const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(source + from) + page - 1) / page * page;
            const std::uintptr_t last = reinterpret_cast<std::uintptr_t>(source + to) / page * page;
            if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
        }
        return Announce(rows);
    }

private:
    void Open(int width, int height) {
        Send(WorkerMessageKind::Size, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
        if (!ReceiveBuffer()) ::_exit(0);  // the program has given up on this picture
        if (fault_ == Fault::Crash) std::abort();
        if (fault_ == Fault::Hang) for (;;) ::pause();
        rowBytes_ = static_cast<std::size_t>(width) * 4;
    }

    // The go byte, and with it the shared buffer, sized and sealed by the program, which
    // takes the buffer's place.
    static bool ReceiveBuffer() {
        const int buffer = ReceiveGo(kWorkerGoFd);
        if (buffer < 0) return false;
        if (buffer == kWorkerBufferFd) return true;
        const bool placed = ::dup3(buffer, kWorkerBufferFd, O_CLOEXEC) == kWorkerBufferFd;
        ::close(buffer);
        return placed;
    }

    // Into the shared buffer at this offset; the program sized and sealed it, so that
    // nothing can land beyond the picture.
    static void Write(std::size_t offset, const std::uint8_t* data, std::size_t size) {
        while (size > 0) {
            const ssize_t put = ::pwrite(kWorkerBufferFd, data, size, static_cast<off_t>(offset));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) Fail(DecodeError::OutOfMemory);
            data += put;
            offset += static_cast<std::size_t>(put);
            size -= static_cast<std::size_t>(put);
        }
    }

    bool Announce(int rows) {
        if (fault_ == Fault::Backwards && rows > 1) {
            Send(WorkerMessageKind::Rows, static_cast<std::uint32_t>(rows));
            Send(WorkerMessageKind::Rows, 1);
            ::pause();
        }
        copied_ = rows;
        Send(WorkerMessageKind::Rows, static_cast<std::uint32_t>(rows));
        return true;
    }

    void Map() {
        const std::size_t bytes = height_ * rowBytes_;
        void* at = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, kWorkerBufferFd, 0);
        if (at == MAP_FAILED) {
            mapFailed_ = true;
            return;
        }
        mapped_ = static_cast<uchar*>(at);
        try {
            populating_ = std::thread([at, bytes] {
                // In steps, so that the decoder, following behind, finds its pages early.
                constexpr std::size_t kStep = std::size_t{16} << 20;
                auto* p = static_cast<uchar*>(at);
                for (std::size_t done = 0; done < bytes; done += kStep)
                    if (::madvise(p + done, std::min(kStep, bytes - done), MADV_POPULATE_WRITE) != 0) return;
            });
        } catch (const std::system_error&) {
            // The decoder meets the faults itself.
        }
    }

    const Fault fault_;
    std::size_t height_ = 0;
    uchar* mapped_ = nullptr;
    bool mapFailed_ = false;
    std::thread populating_;
    Surface* picture_ = nullptr;
    std::size_t rowBytes_ = 0;
    int copied_ = 0;
};

// Qt's image conversions split large pictures over its thread pool. Its threads are
// started now, all of them, and kept for good: a thread starting once the worker is
// confined would make calls that nothing else needs (signal handlers, an event
// descriptor). Their number stays small whatever the machine, since threads and their
// allocator arenas count against the address-space limit (the pixels do not depend on it).
void StartConversionThreads() {
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(kWorkerThreads);
    pool->setExpiryTimeout(-1);
    // Each task holds its thread until all are running, so that each has its own. (The
    // pool's own wait would end its threads.)
    static std::latch allRunning(kWorkerThreads);
    static std::latch allDone(kWorkerThreads);
    for (int i = 0; i < kWorkerThreads; ++i)
        pool->start([] {
            allRunning.arrive_and_wait();
            allDone.count_down();
        });
    allDone.wait();
}

// Loads every image plugin now, as a reader that looks for the one taking a file does,
// so that a worker started ahead of time has it done before its picture arrives.
void LoadImagePlugins() {
    QByteArray nothing(16, '\0');
    QBuffer buffer(&nothing);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    (void)reader.canRead();
}

void ReadExactly(int fd, void* data, std::size_t size) {
    auto* p = static_cast<std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t got = ::read(fd, p, size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) ::_exit(0);  // the program is gone, or never needed this worker
        p += got;
        size -= static_cast<std::size_t>(got);
    }
}

struct Request {
    QByteArray fileName;
    ColorValue background = 0;
    ColourHandling colour = ColourHandling::ConvertToSrgb;
};

Request ReadRequest() {
    std::uint32_t words[kWorkerRequestWords] = {};
    ReadExactly(kWorkerGoFd, words, sizeof words);
    if (words[0] == 0 || words[0] > kMaxRequestNameBytes || words[2] > 1) ::_exit(2);
    Request request;
    request.fileName.resize(static_cast<qsizetype>(words[0]));
    ReadExactly(kWorkerGoFd, request.fileName.data(), words[0]);
    request.background = static_cast<ColorValue>(words[1]);
    request.colour = words[2] == 1 ? ColourHandling::StoredValues : ColourHandling::ConvertToSrgb;
    return request;
}

}  // namespace

void RunDecodeWorker(int argc, char** argv) {
    // Die with the program; if it is already gone, the report pipe has no reader and
    // the first message ends this process.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::close_range(kWorkerBufferFd + 1, ~0U, 0);
    Limit(RLIMIT_CORE, 0, 0);
    constexpr std::string_view kFaultOption = "--fault=";
    if (kFaultsOnRequest && argc == 2 && std::string_view(argv[1]).starts_with(kFaultOption))
        gFaultArgument = argv[1] + kFaultOption.size();
    else if (argc != 1)
        ::_exit(2);
    const Fault fault = RequestedFault();
    // What the worker was given, before it sets anything.
    if (fault == Fault::Probe || fault == Fault::Forbidden) NoteStart();
    // Threads and their allocator arenas count against the address-space limit, so
    // their number stays small whatever the machine (the pixels do not depend on it).
    ::mallopt(M_ARENA_MAX, kWorkerThreads);
    // Qt compiles regular expressions (the icon readers use them) into executable
    // memory unless told not to; nothing executable may be mapped here.
    ::setenv("QT_ENABLE_REGEXP_JIT", "0", 1);
    StartConversionThreads();
    // Every library and image plugin is loaded now, before any file is known.
    LoadImagePlugins();
    for (const Reader& reader : Readers())
        if (reader.prepare != nullptr) reader.prepare();
    if (!CatchStoppedCalls()) ::_exit(1);
    const int pathRules = PreparePathRules();

    const Request request = ReadRequest();
    const ColorValue background = request.background;
    // The file is opened and mapped, not parsed: nothing reads its bytes before the
    // confinement below is in place.
    PictureFile file = ReadPictureFile(QFile::decodeName(request.fileName), FileAccess::Mapped);
    if (file.error) Fail(*file.error);
    const auto fileBytes = static_cast<std::uint64_t>(file.bytes.size());

    // Limits for the largest picture the program takes, lowered below once the file's
    // claimed size is read: lowering a limit needs no privilege.
    constexpr std::uint64_t kLargestPicture = std::uint64_t{kMaxPictureSide} * kMaxPictureSide;
    // (At the most bytes a pixel any reader takes: a limit can be lowered, never raised.)
    std::uint64_t mostBytesPerPixel = 0;
    for (const Reader& reader : Readers()) mostBytesPerPixel = std::max(mostBytesPerPixel, reader.bytesPerPixelAtPeak);
    SetDecodeLimits(fileBytes, kLargestPicture, mostBytesPerPixel);
    // No file can be opened for writing; the shared buffer, which the program seals at the
    // picture's size (at most the largest picture), is written up to its end.
    constexpr rlim_t kLargestBuffer = rlim_t{4} * kLargestPicture;
    Limit(RLIMIT_FSIZE, kLargestBuffer, kLargestBuffer);
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) ::_exit(1);
    const bool pathsConfined = ConfinePaths(pathRules);
    if (!InstallFilter(pathsConfined)) ::_exit(1);
    Misbehave(fault);

    // Our own header walkers (fuzzed on their own) read the size the file claims; one
    // that tells none gets a modest picture's limits.
    const headers::Bytes bytes(reinterpret_cast<const unsigned char*>(file.bytes.constData()), fileBytes);
    const Reader& reader = ReaderFor(bytes);
    std::uint64_t pixels = kUnknownSizePixels;
    if (const headers::ClaimedSize claimed = reader.claims(bytes).largest; claimed.known()) {
        // Sides out of range are refused before any reader runs.
        pixels = static_cast<std::uint64_t>(std::clamp<std::int64_t>(claimed.width, 1, kMaxPictureSide)) *
                 static_cast<std::uint64_t>(std::clamp<std::int64_t>(claimed.height, 1, kMaxPictureSide));
    }
    SetDecodeLimits(fileBytes, pixels, reader.bytesPerPixelAtPeak);

    SharedRows shared(fault);
    const DecodeResult result = DecodePictureBytes(std::move(file), background, &shared, &shared, request.colour);
    if (!result) Fail(result.error);
    const QByteArray done = EncodeWorkerDone(
        {result.colourSpace.toUtf8(), result.colourConverted, result.hdrToneMapped, result.outOfGamut});
    WriteAll(kWorkerReportFd, done.constData(), static_cast<std::size_t>(done.size()));
    ::_exit(0);
}

}  // namespace vistrel
