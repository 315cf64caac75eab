#pragma once
// The choice between the plain loops and the AVX2 and AVX-512 builds of the same loops.
// Internal to the kernels; tests switch the wider builds off to check the narrower ones
// on any machine.

namespace korvex::detail {

// True when the processor has AVX2, the wide build exists and it has not been switched off.
bool UseWideVectors();
// True when the processor has AVX-512 (F, BW, VL and DQ), the build exists and neither it
// nor the wide build has been switched off.
bool UseWidestVectors();

// Switches the wide builds (AVX2 and AVX-512) off (false) or back on where the processor
// has them (true).
void AllowWideVectors(bool allowed);
// Switches the AVX-512 build alone off (false) or back on (true), the AVX2 one staying.
void AllowWidestVectors(bool allowed);

}  // namespace korvex::detail

#if defined(__GNUC__) && defined(__x86_64__)
#define KORVEX_HAVE_WIDE_VECTORS 1
// Marks a function to be built for AVX2; what it inlines is vectorised 256 bits wide.
#define KORVEX_TARGET_WIDE __attribute__((target("avx2")))
// Marks a function to be built for AVX-512; what it inlines is vectorised 512 bits wide
// (the compilers' default would keep to 256).
#define KORVEX_TARGET_WIDEST \
    __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,prefer-vector-width=512")))
#define KORVEX_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define KORVEX_HAVE_WIDE_VECTORS 0
#define KORVEX_TARGET_WIDE
#define KORVEX_TARGET_WIDEST
#define KORVEX_ALWAYS_INLINE inline
#endif
