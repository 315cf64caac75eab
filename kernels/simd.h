#pragma once
// The choice between the plain loops and the AVX2 builds of the same loops. Internal to
// the kernels; tests switch the wide build off to check the plain one on any machine.

namespace korvex::detail {

// True when the processor has AVX2, the wide build exists and it has not been switched off.
bool UseWideVectors();

// Switches the wide build off (false) or back on where the processor has it (true).
void AllowWideVectors(bool allowed);

}  // namespace korvex::detail

#if defined(__GNUC__) && defined(__x86_64__)
#define KORVEX_HAVE_WIDE_VECTORS 1
// Marks a function to be built for AVX2; what it inlines is vectorised 256 bits wide.
#define KORVEX_TARGET_WIDE __attribute__((target("avx2")))
#define KORVEX_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define KORVEX_HAVE_WIDE_VECTORS 0
#define KORVEX_TARGET_WIDE
#define KORVEX_ALWAYS_INLINE inline
#endif
