#include "decoding/Decode.h"
#include "decoding/PageBuffer.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vistrel {
namespace {

// The whole file, read once. Its type is checked with stat() before it is
// opened, so a FIFO or a device is never opened at all; the open itself does
// not block either, and fstat() confirms the file opened is still a regular one.
PictureFile ReadRegularFile(const QString& path, FileAccess access) {
    if (const std::optional<DecodeError> refused = RefusedByName(path)) return {{}, *refused};
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};

    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return {{}, errno == ENOENT ? DecodeError::NotFound : DecodeError::Unreadable};
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::fstat(fd, &info) != 0) return {{}, DecodeError::Unreadable};
    if (!S_ISREG(info.st_mode)) return {{}, DecodeError::NotARegularFile};
    if (info.st_size <= 0) return {{}, DecodeError::Unreadable};
    QByteArray bytes;
    switch (access) {
        case FileAccess::Copied:
            bytes = QByteArray(static_cast<qsizetype>(info.st_size), Qt::Uninitialized);
            break;
        case FileAccess::OwnPages: {
            const auto size = static_cast<std::size_t>(info.st_size);
            void* const mapped = MapPages(size);
            if (mapped == nullptr) return {{}, DecodeError::OutOfMemory};
            bytes = QByteArray::fromRawData(static_cast<const char*>(mapped), static_cast<qsizetype>(size));
            break;
        }
    }
    // Written through the pointer, so that raw data is filled in place, not detached.
    char* const into = const_cast<char*>(bytes.constData());
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(fd, into + filled, static_cast<std::size_t>(bytes.size() - filled));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return {{}, DecodeError::Unreadable};
        if (got == 0) break;  // the file shrank while being read
        filled += got;
    }
    if (filled == 0) return {{}, DecodeError::Unreadable};
    if (filled < bytes.size()) bytes.truncate(filled);  // a copy, for pages of its own: only when cut short
    return {std::move(bytes), std::nullopt};
}

}  // namespace

bool PhotositeCopy::TakePhotosites(const RawSensor& layout, const std::uint16_t* first, std::size_t pitch) {
    try {
        auto copy = std::make_shared<RawSensor>(layout);
        const auto width = static_cast<std::size_t>(layout.width), height = static_cast<std::size_t>(layout.height);
        copy->values.resize(width * height);
        for (std::size_t row = 0; row < height; ++row)
            std::copy_n(first + row * pitch, width, copy->values.data() + row * width);
        sensor = std::move(copy);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

double RawPhotosites::Black(int channel) const {
    const char name = "RGB"[channel];
    double sum = 0;
    int count = 0;
    for (std::size_t i = 0; i < cfa.size(); ++i)
        if (cfa[i] == name) sum += black[i], ++count;
    return count > 0 ? sum / count : 0;
}

std::optional<double> RawPhotosites::HeadroomEv(int channel) const {
    const double black = Black(channel);
    const double p99 = levels[static_cast<std::size_t>(channel)].p99;
    if (p99 <= black || white <= black) return std::nullopt;  // the second only in a nonsensical file
    return std::nearbyint(100 * std::log2((white - black) / (p99 - black))) / 100;
}

std::optional<DecodeError> RefusedByName(const QString& path, std::int64_t* fileSize) {
    if (path.isEmpty()) return DecodeError::EmptyName;
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        const bool missing = errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG || errno == ELOOP;
        return missing ? DecodeError::NotFound : DecodeError::Unreadable;
    }
    if (!S_ISREG(info.st_mode)) return DecodeError::NotARegularFile;
    if (fileSize != nullptr) *fileSize = info.st_size;
    return std::nullopt;
}

PictureFile ReadPictureFile(const QString& path, FileAccess access) {
    try {
        return ReadRegularFile(path, access);
    } catch (const std::bad_alloc&) {
        return {{}, DecodeError::OutOfMemory};
    }
}

}  // namespace vistrel
