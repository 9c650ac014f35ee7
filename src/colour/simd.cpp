// Run-time choice of the vector passes.
#include "colour/simd.hpp"

namespace ombrix::simd {

namespace {

bool cpu_has_avx2() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

bool& allowed_flag() noexcept {
    static bool allowed = true;
    return allowed;
}

}  // namespace

bool avx2_enabled() noexcept {
    static const bool supported = cpu_has_avx2();
    return supported && allowed_flag();
}

void allow_avx2(bool allowed) noexcept { allowed_flag() = allowed; }

}  // namespace ombrix::simd
