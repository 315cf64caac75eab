#include "decoding/worker/WorkerMain.h"

#include <QFile>
#include <QThreadPool>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <latch>
#include <new>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "decoding/Decode.h"
#include "decoding/PageBuffer.h"
#include "decoding/Readers.h"
#include "decoding/worker/Confinement.h"
#include "decoding/worker/Faults.h"
#include "decoding/worker/ReaderModules.h"
#include "decoding/worker/WorkerMessages.h"
#include "formats/FileHeaders.h"

namespace vistrel {
namespace {

// Threads the readers' conversions may use.
constexpr int kWorkerThreads = 4;
// Pages of a handed-over band are given back only from this size on.
constexpr std::size_t kReleaseFromBytes = std::size_t{1} << 20;
// The largest band the worker lends a reader a buffer for.
constexpr std::size_t kMostBandBytes = std::size_t{8} << 20;

[[noreturn]] void Fail(DecodeError error) {
    Send(WorkerMessageKind::Failed, WorkerErrorCode(error));
    ::_exit(0);
}

// Hands the decoder's rows to the program: the picture's size, then, once the program
// has answered with the go byte, each band written into the rows pipe, in order, and
// announced. The program reads them into a buffer of its own: neither process maps the
// other's memory, so neither pays for the other's page tables, and the program's buffer
// can take huge pages (shared memory here gets none).
class PipedRows final : public RowReceiver, public BandSink, public ClippedPixels, public PhotositeSink {
public:
    // A camera raw's photosites, after the picture's rows: their layout's messages, then
    // the values down the rows pipe straight from the reader's buffer, a row at a time.
    bool TakePhotosites(const RawSensor& layout, const std::uint16_t* first, std::size_t pitch) override {
        const QByteArray messages = EncodeWorkerSensor(layout);
        WriteAll(kWorkerReportFd, messages.constData(), static_cast<std::size_t>(messages.size()));
        const std::size_t rowBytes = static_cast<std::size_t>(layout.width) * sizeof(std::uint16_t);
        for (std::size_t row = 0; row < static_cast<std::size_t>(layout.height); ++row)
            Write(reinterpret_cast<const std::uint8_t*>(first + row * pitch), rowBytes);
        return true;
    }

    bool Start(int width, int height) override {
        Open(width, height);
        return true;
    }

    bool Put(int first, int count, const uchar* rows) override {
        // The pipe takes rows in order; a reader puts its bands top to bottom.
        Q_ASSERT(first == written_);
        if (first != written_) Fail(DecodeError::Unreadable);
        Write(rows, static_cast<std::size_t>(count) * rowBytes_);
        return Announce(first + count);
    }

    // A band buffer of the worker's own, one of two used in turn: a reader decodes a band
    // into one while the colour conversion, when there is one, finishes the band before in
    // the other on the pool's threads, and each is written into the pipe before it is
    // handed out again. None for a band larger than a few megabytes (a reader that decodes
    // the whole picture at once keeps a buffer of its own).
    uchar* Destination(int first, int count) override {
        (void)first;
        const std::size_t bytes = static_cast<std::size_t>(count) * rowBytes_;
        if (bytes == 0 || bytes > kMostBandBytes) return nullptr;
        PageBuffer& band = bands_[nextBand_];
        if (band.size() < bytes) {
            // At least a huge page: one fault where a band of small pages would take hundreds.
            band = PageBuffer(std::max(bytes, kHugePageBytes));
            if (band.data() == nullptr) return nullptr;
        }
        nextBand_ = 1 - nextBand_;
        return band.data();
    }

    bool PictureStarted(Surface& picture) override {
        Open(picture.width(), picture.height());
        Q_ASSERT(static_cast<std::size_t>(picture.image().bytesPerLine()) == rowBytes_);
        picture_ = &picture;
        return true;
    }

    // Nothing reads the picture here but the decoder itself.
    void PictureDropped() override {}

    // Which pixels the conversion clipped, told as their rows are: sent at once, so that
    // the worker keeps nothing of them.
    ClippedPixels* TakeClippedPixels() override { return this; }
    void Clipped(std::uint64_t first, std::size_t count, const std::uint64_t* bits) override {
        const QByteArray messages = EncodeWorkerClipped(first, count, bits);
        WriteAll(kWorkerReportFd, messages.constData(), static_cast<std::size_t>(messages.size()));
    }

    bool RowsReady(int rows) override {
        const std::size_t from = static_cast<std::size_t>(written_) * rowBytes_;
        const std::size_t to = static_cast<std::size_t>(rows) * rowBytes_;
        auto* source = reinterpret_cast<std::uint8_t*>(picture_->row(0));
        Write(source + from, to - from);
        // The band is now the program's; the decoder never reads it again, so its own
        // pages go back at once and the worker holds about one picture, not two.
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
        if (!ReceiveGo(kWorkerGoFd)) ::_exit(0);  // the program has given up on this picture
        faults::AtGo();
        rowBytes_ = static_cast<std::size_t>(width) * 4;
    }

    static void Write(const std::uint8_t* data, std::size_t size) {
        size = faults::RowBytesWritten(size);
        while (size > 0) {
            const ssize_t put = ::write(kWorkerRowsFd, data, size);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) ::_exit(1);  // the program is gone or stopped reading
            data += put;
            size -= static_cast<std::size_t>(put);
        }
    }

    bool Announce(int rows) {
        faults::BeforeRows(rows);
        written_ = rows;
        Send(WorkerMessageKind::Rows, static_cast<std::uint32_t>(rows));
        return true;
    }

    Surface* picture_ = nullptr;
    std::size_t rowBytes_ = 0;
    int written_ = 0;
    std::array<PageBuffer, 2> bands_;
    std::size_t nextBand_ = 0;
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
    bool photosites = false;  // a camera raw's photosites are sent too
};

Request ReadRequest() {
    std::uint32_t words[kWorkerRequestWords] = {};
    ReadExactly(kWorkerGoFd, words, sizeof words);
    if (words[0] == 0 || words[0] > kMaxRequestNameBytes || words[2] > (1 | kRequestPhotosites)) ::_exit(2);
    Request request;
    request.fileName.resize(static_cast<qsizetype>(words[0]));
    ReadExactly(kWorkerGoFd, request.fileName.data(), words[0]);
    request.background = static_cast<ColorValue>(words[1]);
    request.colour = (words[2] & 1) != 0 ? ColourHandling::StoredValues : ColourHandling::ConvertToSrgb;
    request.photosites = (words[2] & kRequestPhotosites) != 0;
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
    ::close_range(kWorkerRowsFd + 1, ~0U, 0);
    Limit(RLIMIT_CORE, 0, 0);
    if (!faults::TakeArguments(argc, argv)) ::_exit(2);
    // Threads and their allocator arenas count against the address-space limit, so
    // their number stays small whatever the machine (the pixels do not depend on it).
    ::mallopt(M_ARENA_MAX, kWorkerThreads);
    // Qt compiles regular expressions (the icon readers use them) into executable
    // memory unless told not to; nothing executable may be mapped here.
    ::setenv("QT_ENABLE_REGEXP_JIT", "0", 1);
    StartConversionThreads();
    const int pathRules = PrepareConfinement();

    const Request request = ReadRequest();
    const ColorValue background = request.background;
    // The file is opened and read, not parsed: before the confinement below is in place,
    // only bytes at fixed places are looked at, to load the readers it may need and no others.
    PictureFile file = ReadPictureFile(QFile::decodeName(request.fileName), FileAccess::OwnPages);
    if (file.error) Fail(*file.error);
    const auto fileBytes = static_cast<std::uint64_t>(file.bytes.size());
    if (!LoadReadersFor({reinterpret_cast<const unsigned char*>(file.bytes.constData()), fileBytes}))
        Fail(DecodeError::WorkerStopped);

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

    PipedRows rows;
    const DecodeResult result = DecodePictureBytes(std::move(file), background, &rows, &rows, request.colour,
                                                   request.photosites ? &rows : nullptr);
    if (!result) Fail(result.error);
    if (result.raw) {
        const QByteArray raw = EncodeWorkerRaw(*result.raw);
        WriteAll(kWorkerReportFd, raw.constData(), static_cast<std::size_t>(raw.size()));
    }
    if (result.signal) {
        const QByteArray signal = EncodeWorkerSignal(*result.signal);
        WriteAll(kWorkerReportFd, signal.constData(), static_cast<std::size_t>(signal.size()));
    }
    const QByteArray done = EncodeWorkerDone(
        {result.colourSpace.toUtf8(), result.colourConverted, result.hdrToneMapped, result.outOfGamut});
    WriteAll(kWorkerReportFd, done.constData(), static_cast<std::size_t>(done.size()));
    ::_exit(0);
}

}  // namespace vistrel
