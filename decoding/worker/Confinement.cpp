#include "decoding/worker/Confinement.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <linux/landlock.h>
#include <linux/sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "decoding/Decode.h"
#include "decoding/worker/WorkerMessages.h"

namespace vistrel {
namespace {

// Room for the worker's own code, libraries, thread stacks and allocator arenas,
// beside what the picture itself needs.
constexpr std::uint64_t kAddressMarginBytes = std::uint64_t{1} << 30;
// CPU seconds for any decode, and more for every 4 megapixels the file claims: far
// beyond the slowest legitimate picture (a gigapixel JPEG takes a few seconds).
constexpr rlim_t kCpuSeconds = 60;
constexpr std::uint64_t kPixelsPerCpuSecond = std::uint64_t{4} << 20;
// Folders (and files) the metafile renderer reads its fonts and font maps from; the
// only paths a confined worker may open.
constexpr const char* kFontPaths[] = {"/usr/share/fonts", "/usr/share/ghostscript", "/var/lib/ghostscript/fonts",
                                      "/etc/libwmf.fontmap", "/usr/share/libwmf"};

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
// reads) and to the rows pipe. Any other call is refused and ends the process.
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
    // Writing: the report pipe, standard error and the rows pipe.
    for (const int fd : {kWorkerReportFd, STDERR_FILENO, kWorkerRowsFd})
        for (const int call : {SCMP_SYS(write), SCMP_SYS(writev)})
            ok = ok && ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 1, SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(fd))) == 0;
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

}  // namespace

void Limit(int resource, rlim_t soft, rlim_t hard) {
    const rlimit limit{soft, hard};
    if (::setrlimit(resource, &limit) != 0) ::_exit(1);
}

void SetDecodeLimits(std::uint64_t fileBytes, std::uint64_t pixels, std::uint64_t bytesPerPixel) {
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

int PrepareConfinement() {
    if (!CatchStoppedCalls()) ::_exit(1);
    return PreparePathRules();
}

void Confine(int pathRules, std::uint64_t fileBytes, std::uint64_t mostBytesPerPixel) {
    constexpr std::uint64_t kLargestPicture = std::uint64_t{kMaxPictureSide} * kMaxPictureSide;
    SetDecodeLimits(fileBytes, kLargestPicture, mostBytesPerPixel);
    // No file can be opened for writing, and none is written: the rows go down a pipe.
    Limit(RLIMIT_FSIZE, 0, 0);
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) ::_exit(1);
    const bool pathsConfined = ConfinePaths(pathRules);
    if (!InstallFilter(pathsConfined)) ::_exit(1);
}

}  // namespace vistrel
