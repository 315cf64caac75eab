#include "decoding/worker/WorkerMain.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QThreadPool>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <latch>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "decoding/worker/Confinement.h"
#include "decoding/worker/Faults.h"
#include "decoding/worker/WorkerMessages.h"
#include "formats/FileHeaders.h"

namespace vistrel {
namespace {

// Threads the readers' conversions may use.
constexpr int kWorkerThreads = 4;
// Pages of a handed-over band are given back only from this size on.
constexpr std::size_t kReleaseFromBytes = std::size_t{1} << 20;

[[noreturn]] void Fail(DecodeError error) {
    Send(WorkerMessageKind::Failed, WorkerErrorCode(error));
    ::_exit(0);
}

// Hands the decoder's rows to the program: the picture's size, then, once the program
// has sent the shared buffer, each band written into it and announced. A reader that
// hands its bands over has them written in with pwrite; a streaming one decodes into
// the buffer, mapped here (Destination).
class SharedRows final : public RowReceiver, public BandSink {
public:
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
        faults::AtBuffer();
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
        faults::BeforeRows(rows);
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

void Send(WorkerMessageKind kind, std::uint32_t first, std::uint32_t second) {
    const WorkerMessageBytes message = EncodeWorkerMessage(kind, first, second);
    WriteAll(kWorkerReportFd, message.data(), message.size());
}

void RunDecodeWorker(int argc, char** argv) {
    // Die with the program; if it is already gone, the report pipe has no reader and
    // the first message ends this process.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::close_range(kWorkerBufferFd + 1, ~0U, 0);
    Limit(RLIMIT_CORE, 0, 0);
    if (!faults::TakeArguments(argc, argv)) ::_exit(2);
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
    const int pathRules = PrepareConfinement();

    const Request request = ReadRequest();
    const ColorValue background = request.background;
    // The file is opened and mapped, not parsed: nothing reads its bytes before the
    // confinement below is in place.
    PictureFile file = ReadPictureFile(QFile::decodeName(request.fileName), FileAccess::Mapped);
    if (file.error) Fail(*file.error);
    const auto fileBytes = static_cast<std::uint64_t>(file.bytes.size());

    std::uint64_t mostBytesPerPixel = 0;
    for (const Reader& reader : Readers()) mostBytesPerPixel = std::max(mostBytesPerPixel, reader.bytesPerPixelAtPeak);
    Confine(pathRules, fileBytes, mostBytesPerPixel);
    faults::BeforeDecode();

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

    SharedRows shared;
    const DecodeResult result = DecodePictureBytes(std::move(file), background, &shared, &shared, request.colour);
    if (!result) Fail(result.error);
    if (result.raw) {
        const QByteArray raw = EncodeWorkerRaw(*result.raw);
        WriteAll(kWorkerReportFd, raw.constData(), static_cast<std::size_t>(raw.size()));
    }
    const QByteArray done = EncodeWorkerDone(
        {result.colourSpace.toUtf8(), result.colourConverted, result.hdrToneMapped, result.outOfGamut});
    WriteAll(kWorkerReportFd, done.constData(), static_cast<std::size_t>(done.size()));
    ::_exit(0);
}

}  // namespace vistrel
