#pragma once
// The one reader of numbers stored in a file's bytes, in either byte order (the caller
// has checked that the bytes are there), and of the magic strings a file starts with.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace vistrel::bytes {

constexpr std::uint32_t Big16(const unsigned char* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }
constexpr std::uint32_t Big32(const unsigned char* p) { return (Big16(p) << 16) | Big16(p + 2); }
constexpr std::uint32_t Little16(const unsigned char* p) { return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8); }
constexpr std::uint32_t Little24(const unsigned char* p) { return Little16(p) | (std::uint32_t{p[2]} << 16); }
constexpr std::uint32_t Little32(const unsigned char* p) { return Little16(p) | (Little16(p + 2) << 16); }

// True when the `length` bytes of `magic` stand at `at` in the file (which may be shorter).
inline bool StartsWith(std::span<const unsigned char> file, std::size_t at, const char* magic, std::size_t length) {
    return at <= file.size() && file.size() - at >= length && std::memcmp(file.data() + at, magic, length) == 0;
}

}  // namespace vistrel::bytes
