#pragma once
// The one walker of ISO base media boxes (HEIF, AVIF, the JPEG XL container, Canon's
// CR3), safe on any bytes: every box must end inside the one that holds it.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

#include "formats/ByteOrder.h"

namespace vistrel::headers {

struct Box {
    std::size_t payload = 0, end = 0;  // where its contents start, and where it ends
    char type[4] = {};
    bool is(const char* name) const { return std::memcmp(type, name, 4) == 0; }
};

// The box at `at`, which must end by `end`; nothing when its header or size does not fit.
inline std::optional<Box> BoxAt(std::span<const unsigned char> file, std::size_t at, std::size_t end) {
    constexpr std::size_t kHeader = 8, kLargeHeader = 16;
    if (end > file.size() || at > end || end - at < kHeader) return std::nullopt;
    const unsigned char* p = file.data() + at;
    std::uint64_t size = bytes::Big32(p);
    std::size_t header = kHeader;
    if (size == 1) {  // a 64-bit size follows the type
        if (end - at < kLargeHeader) return std::nullopt;
        size = (std::uint64_t{bytes::Big32(p + 8)} << 32) | bytes::Big32(p + 12);
        header = kLargeHeader;
    } else if (size == 0) {  // to the end of the file
        size = end - at;
    }
    if (size < header || size > end - at) return std::nullopt;
    Box box;
    box.payload = at + header;
    box.end = at + static_cast<std::size_t>(size);
    std::memcpy(box.type, p + 4, 4);
    return box;
}

// Calls visit(box) for each box from `at` to `end`, until one does not fit.
template <typename Visit>
void ForEachBox(std::span<const unsigned char> file, std::size_t at, std::size_t end, Visit visit) {
    while (at < end) {
        const std::optional<Box> box = BoxAt(file, at, end);
        if (!box) return;
        visit(*box);
        at = box->end;
    }
}

}  // namespace vistrel::headers
