#pragma once
// The decoder's confinement, put on once its file is mapped and before a byte of it is
// parsed: no new privileges; limits on address space, processor time and file writes;
// Landlock (read-only, beneath the font folders the metafile renderer reads; where the
// kernel has no Landlock, nothing can be opened); and a system-call filter, which names
// a call it stops on standard error before the decoder ends.

#include <sys/resource.h>

#include <cstdint>

namespace vistrel {

// Address space for a file whose size no header walker can tell: a modest picture's worth.
inline constexpr std::uint64_t kUnknownSizePixels = std::uint64_t{16} << 20;

// Sets a limit, or ends the process.
void Limit(int resource, rlim_t soft, rlim_t hard);

// Before the file is known, so that a load does not wait for them: the names of the calls
// the filter may stop, and Landlock's rules (-1 where the kernel has none).
int PrepareConfinement();

// From here on for good: limits for the largest picture the program takes at the most
// bytes a pixel any reader takes (a limit can be lowered, never raised), no new
// privileges, Landlock's rules and the filter.
void Confine(int pathRules, std::uint64_t fileBytes, std::uint64_t mostBytesPerPixel);

// Address space and processor time for decoding a picture of this many pixels from a file
// of this many bytes, taking this many bytes a pixel at its peak: lowered once the file's
// claimed size is read (lowering a limit needs no privilege).
void SetDecodeLimits(std::uint64_t fileBytes, std::uint64_t pixels, std::uint64_t bytesPerPixel);

}  // namespace vistrel
