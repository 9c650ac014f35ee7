// Which vector passes the per-pixel loops may take. The library is built for every x86-64; the
// AVX2 and AVX-512 passes are chosen at run time from what the processor has, and each has a
// scalar twin that gives identical bytes. Tests and benchmarks cap the choice to force each path.
#pragma once

namespace ombrix::simd {

// The instruction sets a pass may use, in increasing order: AVX-512 means AVX-512 F, BW, DQ and
// VL, on top of AVX2.
enum class Path { scalar, avx2, avx512 };

// The widest path this processor supports.
Path supported_path() noexcept;
// The path the passes take: the supported one, capped by `cap_path`.
Path active_path() noexcept;
// Caps the passes at `cap` (Path::avx512 lifts the cap). A cap above what the processor supports
// changes nothing.
void cap_path(Path cap) noexcept;

// True when the passes may use AVX2.
inline bool avx2_enabled() noexcept { return active_path() >= Path::avx2; }
// True when the passes may use AVX-512.
inline bool avx512_enabled() noexcept { return active_path() >= Path::avx512; }

// Caps the path for the lifetime of the object and restores the previous cap afterwards.
class PathCap {
public:
    explicit PathCap(Path cap) noexcept;
    ~PathCap();
    PathCap(const PathCap&) = delete;
    PathCap& operator=(const PathCap&) = delete;

private:
    Path previous_;
};

}  // namespace ombrix::simd
