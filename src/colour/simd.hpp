// Which vector passes the per-pixel loops may take. The library is built for every x86-64; the
// AVX2 passes are chosen at run time when the processor has AVX2, and each has a scalar twin
// that gives identical bytes (tests switch the vector passes off to compare the two).
#pragma once

namespace ombrix::simd {

// True when the processor supports AVX2 and the vector passes have not been switched off.
bool avx2_enabled() noexcept;
// Switches the vector passes off (false) or back on (true, effective only on AVX2 hardware).
void allow_avx2(bool allowed) noexcept;

}  // namespace ombrix::simd
