#pragma once
// The one reader of numbers stored in a file's bytes, in either byte order. The caller
// has checked that the bytes are there.

#include <cstdint>

namespace vistrel::bytes {

constexpr std::uint32_t Big16(const unsigned char* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }
constexpr std::uint32_t Big32(const unsigned char* p) { return (Big16(p) << 16) | Big16(p + 2); }
constexpr std::uint32_t Little16(const unsigned char* p) { return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8); }
constexpr std::uint32_t Little24(const unsigned char* p) { return Little16(p) | (std::uint32_t{p[2]} << 16); }
constexpr std::uint32_t Little32(const unsigned char* p) { return Little16(p) | (Little16(p + 2) << 16); }

}  // namespace vistrel::bytes
