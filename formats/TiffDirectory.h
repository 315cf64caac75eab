#pragma once
// The one walker of TIFF structures: a TIFF file's header and directories, and the same
// structure inside EXIF blocks (JPEG's APP1 segment, PNG's eXIf and WebP's EXIF chunks).
// Safe on any bytes: every read is checked against their end.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "formats/ByteOrder.h"

namespace vistrel::headers {

class TiffDirectory {
public:
    // Bytes that start at a TIFF header: "II" or "MM", 42 in that byte order, the first
    // directory's offset.
    explicit TiffDirectory(std::span<const unsigned char> bytes) : b_(bytes) {
        ok_ = b_.size() >= 8 && ((b_[0] == 'I' && b_[1] == 'I') || (b_[0] == 'M' && b_[1] == 'M'));
        big_ = ok_ && b_[0] == 'M';
        ok_ = ok_ && U16(2) == kMagic;
    }
    bool ok() const { return ok_; }
    std::size_t FirstDirectory() const { return U32(4); }

    // Numbers in the structure's byte order at `at`, which the caller has checked.
    std::uint32_t U16(std::size_t at) const { return big_ ? bytes::Big16(b_.data() + at) : bytes::Little16(b_.data() + at); }
    std::uint32_t U32(std::size_t at) const { return big_ ? bytes::Big32(b_.data() + at) : bytes::Little32(b_.data() + at); }
    std::size_t size() const { return b_.size(); }
    const unsigned char* data() const { return b_.data(); }

    // Where the entry of `tag` starts in the directory at `directory` (its 12 bytes:
    // tag, type, count, value or offset); nothing when the directory holds none, or ends
    // outside the bytes before it.
    std::optional<std::size_t> Find(std::size_t directory, std::uint32_t tag) const {
        if (directory > b_.size() || b_.size() - directory < 2) return std::nullopt;
        const std::size_t count = U16(directory);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = directory + 2 + i * kEntryBytes;
            if (at > b_.size() || b_.size() - at < kEntryBytes) return std::nullopt;
            if (U16(at) == tag) return at;
        }
        return std::nullopt;
    }

    // The single value, a short or a long, of `tag` in the directory at `directory`;
    // nothing when the tag is missing, holds more than one value or one of another type.
    std::optional<std::uint32_t> Single(std::size_t directory, std::uint32_t tag) const {
        const std::optional<std::size_t> at = Find(directory, tag);
        if (!at || U32(*at + 4) != 1) return std::nullopt;
        const std::uint32_t type = U16(*at + 2);
        if (type == kShort) return U16(*at + 8);
        if (type == kLong) return U32(*at + 8);
        return std::nullopt;
    }

    static constexpr std::uint32_t kShort = 3, kLong = 4;

private:
    static constexpr std::uint32_t kMagic = 42;
    static constexpr std::size_t kEntryBytes = 12;
    std::span<const unsigned char> b_;
    bool ok_ = false;
    bool big_ = false;
};

}  // namespace vistrel::headers
