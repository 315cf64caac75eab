// A mutation run over the whole decode path as the program takes it: seed pictures of
// every format the program reads are mutated, written to a file and decoded by a worker
// process through DecodeInWorker, in this process. The worker may fail or die; this
// process must not be harmed. After every decode it checks that the call came back with
// a sane picture or a failure, that no child process, file descriptor or shared
// mapping is left over, that the rows reported only grew, and now and then that its
// own memory does not grow. A mutant that breaks any of these is kept in the findings
// folder.
//
//   mutate_decode [--minutes M] [--seed S] [--findings DIR] [--work DIR]
//                 [--watchdog-ms T] [--max-pixels P] [SEED-DIR...]

#include <QBuffer>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "decoding/worker/WorkerClient.h"
#include "tests/dng_pictures.h"
#include "tests/picture_bytes.h"

using namespace vistrel;
using Clock = std::chrono::steady_clock;

namespace {

// Mutants are kept below this size so that every decode stays quick.
constexpr qsizetype kMaxMutantBytes = 1 << 20;
// Own memory may grow this much over its level once warmed up before it counts as a leak:
// allocator slack, not a leak, stays well within it.
constexpr long kRssSlackKiB = 48 * 1024;
// Decodes before the memory level is taken (Qt's plugin and allocator caches settle).
constexpr long kRssWarmUpRuns = 500;
constexpr long kRssCheckEvery = 250;
// How long a worker reaped on a thread of its own may take to go after a success.
constexpr std::chrono::milliseconds kReapGrace{3000};

struct Seed {
    std::string format;
    std::string extension;
    QByteArray bytes;
};

// ---- Seeds --------------------------------------------------------------------------

QImage Pattern(int width, int height, QImage::Format format) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba((x * 255) / std::max(1, width - 1), (y * 255) / std::max(1, height - 1),
                                       ((x ^ y) * 37) & 0xFF, 128 + ((x + y) & 0x7F)));
    return image.convertToFormat(format);
}

QByteArray Write(const QImage& image, const char* format, int quality = -1, int compression = -1,
                 bool progressive = false) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (quality >= 0) writer.setQuality(quality);
    if (compression >= 0) writer.setCompression(compression);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(image)) {
        std::fprintf(stderr, "cannot write a %s seed: %s\n", format, qPrintable(writer.errorString()));
        return {};
    }
    return bytes;
}

void Generated(std::vector<Seed>& seeds) {
    const auto add = [&](const char* format, const char* extension, QByteArray bytes) {
        if (!bytes.isEmpty()) seeds.push_back({format, extension, std::move(bytes)});
    };
    const QImage rgb = Pattern(37, 23, QImage::Format_RGB32);
    const QImage tall = Pattern(5, 67, QImage::Format_RGB32);
    const QImage alpha = Pattern(19, 17, QImage::Format_ARGB32);
    const QImage grey = Pattern(33, 9, QImage::Format_Grayscale8);
    const QImage indexed = Pattern(21, 13, QImage::Format_Indexed8);
    const QImage mono = Pattern(29, 11, QImage::Format_Mono);

    add("jpeg", "jpg", Write(rgb, "jpeg", 90));
    add("jpeg", "jpg", Write(tall, "jpeg", 20));
    add("jpeg", "jpg", Write(grey, "jpeg", 75));
    add("jpeg-progressive", "jpg", Write(rgb, "jpeg", 90, -1, true));
    add("jpeg-progressive", "jpg", Write(grey, "jpeg", 50, -1, true));
    add("png", "png", Write(rgb, "png"));
    add("png", "png", Write(alpha, "png"));
    add("png", "png", Write(grey, "png"));
    add("png", "png", Write(indexed, "png"));
    add("png", "png", Write(mono, "png"));
    add("bmp", "bmp", Write(rgb, "bmp"));
    add("bmp", "bmp", Write(indexed, "bmp"));
    add("bmp", "bmp", Write(mono, "bmp"));
    add("bmp", "bmp", picture_bytes::BmpHeaderOnly(3, 2) + QByteArray(24, '\x7F'));
    add("tiff", "tiff", Write(rgb, "tiff", -1, 0));
    add("tiff", "tiff", Write(alpha, "tiff", -1, 1));
    add("tiff", "tiff", Write(indexed, "tiff", -1, 0));
    add("tiff", "tiff", Write(grey, "tiff", -1, 1));
    add("tiff", "tiff", Write(mono, "tiff", -1, 0));
    add("webp", "webp", Write(rgb, "webp", 75));
    add("webp", "webp", Write(alpha, "webp", 100));
    add("ico", "ico", Write(alpha, "ico"));
    add("ico", "ico", picture_bytes::MakeIco({{16, 0x80FF0000u, true}, {4, 0xFF00FF00u}}));
    add("gif", "gif", picture_bytes::MakeGif(3, 2, {{{0, 1, 2, 3, 2, 1}}}));
    add("gif", "gif", picture_bytes::MakeGif(4, 2, {{{0, 1, 2, 3, 3, 2, 1, 0}, 3}, {{1, 1, 1, 1, 2, 2, 2, 2}}}));
    add("wmf", "wmf", picture_bytes::MakeWmf());
    dng_pictures::Description dng;
    dng.width = 40;
    dng.height = 30;
    dng.directoryFirst = true;
    add("dng", "dng", dng_pictures::DngBytes(dng, dng_pictures::Scene(dng)));
    dng.directoryFirst = false;
    dng.withPreview = true;
    dng.cfa = dng_pictures::Cfa::Grbg;
    dng.orientation = 8;
    add("dng", "dng", dng_pictures::DngBytes(dng, dng_pictures::Scene(dng, 2)));
}

std::string FormatOf(const QByteArray& bytes, const QString& suffix) {
    const QString s = suffix.toLower();
    if (s == "jpg" || s == "jpeg")
        return bytes.contains(QByteArray("\xFF\xC2", 2)) ? "jpeg-progressive" : "jpeg";
    if (s == "tif" || s == "tiff") return "tiff";
    if (s == "png" || s == "gif" || s == "bmp" || s == "webp" || s == "ico" || s == "wmf" || s == "heic" ||
        s == "avif" || s == "jxl" || s == "dng")
        return s.toStdString();
    return {};
}

// The small files of these folders (not their subfolders) whose names tell a format.
void FromFolders(const std::vector<QString>& folders, std::vector<Seed>& seeds) {
    constexpr qint64 kSmallFile = 64 * 1024;
    for (const QString& folder : folders) {
        const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
        for (const QFileInfo& file : files) {
            if (file.size() > kSmallFile) continue;
            QFile f(file.filePath());
            if (!f.open(QIODevice::ReadOnly)) continue;
            const QByteArray bytes = f.readAll();
            const std::string format = FormatOf(bytes, file.suffix());
            if (format.empty()) continue;
            seeds.push_back({format, file.suffix().toLower().toStdString(), bytes});
        }
    }
}

// ---- Mutations ----------------------------------------------------------------------

class Mutator {
public:
    explicit Mutator(std::uint64_t seed) : random_(seed) {}

    std::size_t Pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }
    bool Chance(int percent) { return int(Pick(100)) < percent; }

    QByteArray Mutate(const Seed& seed, const std::vector<Seed>& all, std::string& what) {
        QByteArray b = seed.bytes;
        const int steps = 1 + int(Pick(Chance(70) ? 2 : 6));
        for (int i = 0; i < steps; ++i) {
            if (b.isEmpty()) b.append(char(Pick(256)));
            switch (Pick(8)) {
                case 0: FlipBits(b), what += "flip "; break;
                case 1: RandomBytes(b), what += "bytes "; break;
                case 2: Truncate(b), what += "cut "; break;
                case 3: Insert(b), what += "insert "; break;
                case 4: Delete(b), what += "delete "; break;
                case 5: Splice(b, all[Pick(all.size())].bytes), what += "splice "; break;
                default: Interesting(b), what += "field "; break;
            }
            if (b.size() > kMaxMutantBytes) b.truncate(kMaxMutantBytes);
        }
        return b;
    }

private:
    // Headers hold most of what a reader trusts: half the positions fall in the first bytes.
    qsizetype Position(const QByteArray& b) {
        constexpr qsizetype kHeader = 64;
        if (Chance(50)) return qsizetype(Pick(std::size_t(std::min(b.size(), kHeader))));
        return qsizetype(Pick(std::size_t(b.size())));
    }
    void FlipBits(QByteArray& b) {
        for (int n = 1 + int(Pick(8)); n > 0; --n) b[Position(b)] = char(b[Position(b)] ^ (1 << Pick(8)));
    }
    void RandomBytes(QByteArray& b) {
        const qsizetype at = Position(b);
        for (qsizetype i = at; i < std::min(b.size(), at + 1 + qsizetype(Pick(16))); ++i) b[i] = char(Pick(256));
    }
    void Truncate(QByteArray& b) { b.truncate(qsizetype(Pick(std::size_t(b.size())))); }
    void Insert(QByteArray& b) {
        const qsizetype at = Position(b);
        QByteArray chunk;
        if (Chance(50)) {
            for (int n = 1 + int(Pick(64)); n > 0; --n) chunk.append(char(Pick(256)));
        } else {
            const qsizetype from = qsizetype(Pick(std::size_t(b.size())));
            chunk = b.mid(from, 1 + qsizetype(Pick(256)));
            for (int n = int(Pick(4)); n > 0; --n) chunk += chunk;  // repeated: runs and loops
        }
        b.insert(at, chunk);
    }
    void Delete(QByteArray& b) { b.remove(Position(b), 1 + qsizetype(Pick(Chance(50) ? 8 : 512))); }
    void Splice(QByteArray& b, const QByteArray& other) {
        if (other.isEmpty()) return;
        b = b.left(qsizetype(Pick(std::size_t(b.size())))) + other.mid(qsizetype(Pick(std::size_t(other.size()))));
    }
    void Interesting(QByteArray& b) {
        const std::uint32_t size = std::uint32_t(b.size());
        const std::uint32_t values[] = {0,          1,          2,      0x7F,       0x80,       0xFF,
                                        0x100,      0x7FFF,     0x8000, 0xFFFF,     0x10000,    32767,
                                        32768,      32769,      65535,  0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                                        size,       size - 1,   size + 1, size / 2, 0x40000000, 46341};
        const std::uint32_t v = values[Pick(std::size(values))];
        const int width = Chance(50) ? 2 : 4;
        const bool big = Chance(50);
        const qsizetype at = Position(b);
        for (int i = 0; i < width && at + i < b.size(); ++i) {
            const int shift = 8 * (big ? width - 1 - i : i);
            b[at + i] = char((v >> shift) & 0xFF);
        }
    }

    std::mt19937_64 random_;
};

// ---- The program's state ------------------------------------------------------------

int CountEntries(const char* folder) {
    DIR* dir = ::opendir(folder);
    if (!dir) return -1;
    int n = 0;
    while (const dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.') ++n;
    ::closedir(dir);
    return n - (std::string(folder) == "/proc/self/fd" ? 1 : 0);  // the listing's own descriptor
}

std::string ReadText(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        char chunk[4096];
        std::size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, got);
        std::fclose(f);
    }
    return text;
}

// The children of every thread of this process.
int CountChildren() {
    int children = 0;
    DIR* dir = ::opendir("/proc/self/task");
    if (!dir) return -1;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string list = ReadText(std::string("/proc/self/task/") + entry->d_name + "/children");
        for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i] != ' ' && (i == 0 || list[i - 1] == ' ')) ++children;
    }
    ::closedir(dir);
    return children;
}

int CountSharedPictures() { return PictureBuffersHeld(); }

long RssKiB() {
    const std::string status = ReadText("/proc/self/status");
    const std::size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::strtol(status.c_str() + at + 6, nullptr, 10);
}

struct State {
    int fds, children, threads, shared;
    bool operator==(const State&) const = default;
};

State Now() {
    return {CountEntries("/proc/self/fd"), CountChildren(), CountEntries("/proc/self/task"), CountSharedPictures()};
}

// ---- Decoding -----------------------------------------------------------------------

// Records what a decode reports, and refuses pictures larger than the run affords (a
// mutant claiming 32768 x 32768 would have the worker fill gigabytes of the program's memory).
class Recorder final : public RowReceiver {
public:
    explicit Recorder(std::int64_t maxPixels) : maxPixels_(maxPixels) {}
    bool PictureStarted(Surface& picture) override {
        if (started) problem = "picture started twice";
        started = true;
        width = picture.width();
        height = picture.height();
        if (std::int64_t(width) * height > maxPixels_) {
            refused = true;
            return false;
        }
        return true;
    }
    bool RowsReady(int ready) override {
        if (!started) problem = "rows before the picture";
        if (ready <= rows || ready > height) problem = "rows went from " + std::to_string(rows) + " to " +
                                                        std::to_string(ready) + " of " + std::to_string(height);
        rows = ready;
        return true;
    }
    void PictureDropped() override {
        if (!started) problem = "picture dropped before it started";
        dropped = true;
    }

    bool started = false, dropped = false, refused = false;
    int width = 0, height = 0, rows = 0;
    std::string problem;

private:
    std::int64_t maxPixels_;
};

const char* ErrorName(DecodeError error) {
    switch (error) {
        case DecodeError::EmptyName: return "empty-name";
        case DecodeError::NotFound: return "not-found";
        case DecodeError::NotARegularFile: return "not-a-regular-file";
        case DecodeError::Unreadable: return "unreadable";
        case DecodeError::TooLarge: return "too-large";
        case DecodeError::TooManyPixelsForItsFile: return "too-many-pixels-for-its-file";
        case DecodeError::OutOfMemory: return "out-of-memory";
        case DecodeError::Cancelled: return "cancelled";
        case DecodeError::NotAPicture: return "not-a-picture";
        case DecodeError::WorkerStopped: return "worker-stopped";
    }
    return "?";
}

// What is wrong with a decode's outcome, as seen from the program; empty when nothing.
std::string Check(const DecodeResult& result, const Recorder& recorder) {
    if (!recorder.problem.empty()) return recorder.problem;
    if (result) {
        const Surface& s = *result.surface;
        if (s.isNull() || s.width() < 1 || s.height() < 1 || s.width() > kMaxPictureSide ||
            s.height() > kMaxPictureSide)
            return "success with a surface of " + std::to_string(s.width()) + " x " + std::to_string(s.height());
        if (s.image().format() != QImage::Format_RGB32) return "success with a surface not in RGB32";
        if (!recorder.started) return "success without the picture started";
        if (s.width() != recorder.width || s.height() != recorder.height) return "success at another size";
        if (recorder.rows != s.height())
            return "success with " + std::to_string(recorder.rows) + " of " + std::to_string(s.height()) + " rows";
        if (recorder.dropped) return "success after the picture was dropped";
        return {};
    }
    if (recorder.started && !recorder.dropped) return "failure without the picture dropped";
    if (recorder.refused && result.error != DecodeError::Cancelled) return "refused picture not cancelled";
    switch (result.error) {
        case DecodeError::Unreadable:
        case DecodeError::NotAPicture:
        case DecodeError::WorkerStopped:
        case DecodeError::TooLarge:
        case DecodeError::TooManyPixelsForItsFile:
        case DecodeError::OutOfMemory:
        case DecodeError::Cancelled: return {};
        case DecodeError::EmptyName:
        case DecodeError::NotFound:
        case DecodeError::NotARegularFile: return std::string("failure of the wrong kind: ") + ErrorName(result.error);
    }
    return "failure of no known kind";
}

// Ends the run, keeping the mutant, when a decode never returns.
std::atomic<std::int64_t> g_decodeStartedMs{0};
std::string g_current, g_hangCopy;

void Watch(std::chrono::milliseconds limit) {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const std::int64_t started = g_decodeStartedMs.load();
        const std::int64_t now =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
        if (started != 0 && now - started > limit.count()) {
            std::printf("FINDING: a decode has not returned after %lld ms; mutant kept as %s\n",
                        static_cast<long long>(now - started), g_hangCopy.c_str());
            QFile::copy(QString::fromStdString(g_current), QString::fromStdString(g_hangCopy));
            std::fflush(stdout);
            std::_Exit(3);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The workers' complaints (libraries' warnings, a refused call) go to standard error.
    QLoggingCategory::setFilterRules(QStringLiteral("vistrel.decoding.messages=true"));
    double minutes = 30;
    std::uint64_t rngSeed = std::uint64_t(std::chrono::system_clock::now().time_since_epoch().count());
    QString findings = "build-fuzz/decoder-findings", work;
    std::chrono::milliseconds watchdog{5000};
    std::int64_t maxPixels = 16 << 20;
    std::vector<QString> folders;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--minutes" && hasValue) minutes = args[++i].toDouble();
        else if (a == "--seed" && hasValue) rngSeed = args[++i].toULongLong();
        else if (a == "--findings" && hasValue) findings = args[++i];
        else if (a == "--work" && hasValue) work = args[++i];
        else if (a == "--watchdog-ms" && hasValue) watchdog = std::chrono::milliseconds(args[++i].toLongLong());
        else if (a == "--max-pixels" && hasValue) maxPixels = args[++i].toLongLong();
        else if (a.startsWith("--")) {
            std::fprintf(stderr, "unknown option %s\n", qPrintable(a));
            return 2;
        } else folders.push_back(a);
    }
    if (work.isEmpty()) work = findings + "/../decoder-work";
    QDir().mkpath(findings);
    QDir().mkpath(work);

    std::vector<Seed> seeds;
    Generated(seeds);
    FromFolders(folders, seeds);
    std::map<std::string, int> seedsPerFormat;
    for (const Seed& s : seeds) ++seedsPerFormat[s.format];
    std::printf("seed %" PRIu64 ", %zu seed files:", rngSeed, seeds.size());
    for (const auto& [format, n] : seedsPerFormat) std::printf(" %s %d", format.c_str(), n);
    std::printf("\n");
    std::fflush(stdout);

    DecodeWorkerOptions options;
    options.watchdog = watchdog;
    g_hangCopy = (findings + "/hang-" + QString::number(rngSeed)).toStdString();
    std::thread(Watch, watchdog + std::chrono::seconds(30)).detach();

    Mutator mutator(rngSeed);
    std::map<std::string, std::map<std::string, long>> tally;  // format -> outcome -> runs
    long runs = 0, found = 0, slow = 0;
    long rssLevel = -1, rssHighest = 0;
    std::chrono::milliseconds longest{0};
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(minutes * 60));
    auto report = start;

    // One decode first starts the program's own long-lived thread (the one that gives
    // pictures back), which is no left-over; then the state every decode must return to.
    {
        const QString warmUp = work + "/warm-up.png";
        QImage tiny(4, 4, QImage::Format_RGB32);
        tiny.fill(0x336699);
        if (!tiny.save(warmUp, "png") || !DecodeInWorker(warmUp, 0x00808080u)) {
            std::fprintf(stderr, "the warm-up decode failed\n");
            return 2;
        }
        WaitForReleasedPictures();
        for (const auto wait = Clock::now() + kReapGrace; CountChildren() > 0 && Clock::now() < wait;)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const State before = Now();
    while (Clock::now() < end) {
        // Every format as often, whatever the number of its seeds.
        const auto format = std::next(seedsPerFormat.begin(), std::ptrdiff_t(mutator.Pick(seedsPerFormat.size())));
        std::size_t nth = mutator.Pick(std::size_t(format->second));
        std::size_t pick = 0;
        for (; pick < seeds.size(); ++pick)
            if (seeds[pick].format == format->first && nth-- == 0) break;
        const Seed& seed = seeds[pick];
        std::string what;
        const QByteArray mutant = mutator.Mutate(seed, seeds, what);
        const QString path = work + "/mutant." + QString::fromStdString(seed.extension);
        g_current = path.toStdString();
        {
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(mutant) != mutant.size()) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                return 2;
            }
        }

        Recorder recorder(maxPixels);
        const auto t0 = Clock::now();
        g_decodeStartedMs = std::chrono::duration_cast<std::chrono::milliseconds>(t0.time_since_epoch()).count();
        std::string problem;
        std::string outcome;
        {
            DecodeResult result = DecodeInWorker(path, 0x00808080u, &recorder, options);
            g_decodeStartedMs = 0;
            problem = Check(result, recorder);
            outcome = result ? "decoded" : recorder.refused ? "refused-large" : ErrorName(result.error);
        }
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
        longest = std::max(longest, took);
        if (took >= watchdog) outcome = "watchdog";
        else if (took >= std::chrono::seconds(1)) ++slow;
        // A worker ended by the watchdog, or one that stopped (a crash, a refused call),
        // fails the load as the program fails it: no fault to report, but the file is
        // kept, for a reader that spins or dies is worth a look.
        if (outcome == "watchdog" || outcome == "worker-stopped") {
            const char* kind = outcome == "watchdog" ? "hang" : "stopped";
            const QString kept = findings + QString("/%1-%2-%3.%4").arg(kind).arg(rngSeed).arg(runs + 1).arg(QString::fromStdString(seed.extension));
            QFile::remove(kept);
            QFile::copy(path, kept);
            std::printf("%s %s (a %s seed, %s)\n", outcome == "watchdog" ? "HANG" : "STOPPED", qPrintable(kept),
                        seed.format.c_str(), what.c_str());
            std::fflush(stdout);
        }

        // After a success the worker is reaped on a thread of its own: give it a moment.
        State after = Now();
        for (const auto wait = Clock::now() + kReapGrace; after != before && Clock::now() < wait; after = Now())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (problem.empty() && after != before)
            problem = "left over: fds " + std::to_string(after.fds - before.fds) + ", children " +
                      std::to_string(after.children - before.children) + ", threads " +
                      std::to_string(after.threads - before.threads) + ", shared pictures " +
                      std::to_string(after.shared - before.shared);

        ++runs;
        ++tally[seed.format][outcome];
        if (runs % kRssCheckEvery == 0) {
            const long rss = RssKiB();
            rssHighest = std::max(rssHighest, rss);
            if (runs == kRssWarmUpRuns) rssLevel = rss;
            if (problem.empty() && rssLevel > 0 && rss > rssLevel + kRssSlackKiB)
                problem = "own memory grew from " + std::to_string(rssLevel) + " to " + std::to_string(rss) + " KiB";
            if (rssLevel > 0 && rss > rssLevel + kRssSlackKiB) rssLevel = rss;  // reported once per growth
        }

        if (!problem.empty()) {
            ++found;
            const QString kept = findings + QString("/finding-%1-%2.%3")
                                                .arg(rngSeed)
                                                .arg(runs)
                                                .arg(QString::fromStdString(seed.extension));
            QFile::remove(kept);
            QFile::copy(path, kept);
            std::printf("FINDING %s (%s from a %s seed, %s): %s\n", qPrintable(kept), outcome.c_str(),
                        seed.format.c_str(), what.c_str(), problem.c_str());
            std::fflush(stdout);
        }
        if (Clock::now() - report > std::chrono::seconds(60)) {
            report = Clock::now();
            std::printf("%ld runs in %lld s, %ld findings, rss %ld KiB\n", runs,
                        static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(report - start).count()),
                        found, RssKiB());
            std::fflush(stdout);
        }
    }

    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
    std::printf("\n%ld runs in %lld s (%.1f a second), seed %" PRIu64 "\n", runs, static_cast<long long>(seconds),
                seconds > 0 ? double(runs) / double(seconds) : 0.0, rngSeed);
    std::map<std::string, long> totals;
    for (const auto& [format, outcomes] : tally) {
        long n = 0;
        for (const auto& [outcome, count] : outcomes) n += count, totals[outcome] += count;
        std::printf("  %-17s %7ld:", format.c_str(), n);
        for (const auto& [outcome, count] : outcomes) std::printf(" %s %ld", outcome.c_str(), count);
        std::printf("\n");
    }
    std::printf("  %-17s %7ld:", "all", runs);
    for (const auto& [outcome, count] : totals) std::printf(" %s %ld", outcome.c_str(), count);
    std::printf("\n  longest decode %lld ms, %ld over a second; rss at warm-up %ld KiB, highest %ld KiB\n",
                static_cast<long long>(longest.count()), slow, rssLevel, rssHighest);
    std::printf("%ld findings%s\n", found, found ? (" in " + findings.toStdString()).c_str() : "");
    return found ? 1 : 0;
}
