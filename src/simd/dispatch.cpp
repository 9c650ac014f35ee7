// Run-time choice of the vector passes.
#include "simd/dispatch.hpp"

#include <algorithm>
#include <atomic>

namespace ombrix::simd {

namespace {

Path detect() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        return Path::avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return Path::avx2;
#endif
    return Path::scalar;
}

std::atomic<Path>& cap() noexcept {
    static std::atomic<Path> value{Path::avx512};
    return value;
}

}  // namespace

Path supported_path() noexcept {
    static const Path supported = detect();
    return supported;
}

bool avx512_vbmi_supported() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512vbmi") != 0;
    }();
    return supported;
#else
    return false;
#endif
}

Path active_path() noexcept { return std::min(supported_path(), cap().load(std::memory_order_relaxed)); }

void cap_path(Path limit) noexcept { cap().store(limit, std::memory_order_relaxed); }

PathCap::PathCap(Path limit) noexcept : previous_(cap().load(std::memory_order_relaxed)) { cap_path(limit); }

PathCap::~PathCap() { cap_path(previous_); }

}  // namespace ombrix::simd
