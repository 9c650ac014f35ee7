// Which vector passes the per-pixel loops may take. The library is built for every x86-64; the
// AVX2 and AVX-512 passes are chosen at run time from what the processor has, and each has a
// scalar twin that gives identical bytes. Tests and benchmarks cap the choice to force each path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

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

// Whether the processor has AVX-512 VBMI (byte permutes across a whole register). Passes that use
// it run their AVX-512 path only where it is there, and their AVX2 path elsewhere.
bool avx512_vbmi_supported() noexcept;

// True when the passes may use AVX2.
inline bool avx2_enabled() noexcept { return active_path() >= Path::avx2; }
// True when the passes may use AVX-512.
inline bool avx512_enabled() noexcept { return active_path() >= Path::avx512; }

// Stands for a width a loop has no vector pass for.
struct NoPass {};

// Runs one loop in the order every pass keeps: the widest of `avx512()` and `avx2()` that the
// active path allows (each runs over whole blocks from the start and returns how many pixels it
// covered; NoPass{} for a width the loop lacks), then `rest(covered)` for the pixels after them.
template <class Avx512, class Avx2, class Rest>
void run_widest(Avx512 avx512, Avx2 avx2, Rest rest) {
    std::size_t covered = 0;
    if constexpr (!std::is_same_v<Avx512, NoPass>) {
        if (avx512_enabled()) return rest(avx512());
    }
    if constexpr (!std::is_same_v<Avx2, NoPass>) {
        if (avx2_enabled()) covered = avx2();
    }
    rest(covered);
}

// run_widest() for an in-place pass over the `n` packed RGB pixels at `p`: each of `avx512`,
// `avx2` and `scalar` is called as f(p, n), the scalar one on the pixels the vector pass left.
template <class Avx512, class Avx2, class Scalar>
void run_in_place(std::uint8_t* p, std::size_t n, Avx512 avx512, Avx2 avx2, Scalar scalar) {
    const auto on_all = [p, n](auto pass) {
        if constexpr (std::is_same_v<decltype(pass), NoPass>)
            return NoPass{};
        else
            return [p, n, pass] { return static_cast<std::size_t>(pass(p, n)); };
    };
    run_widest(on_all(avx512), on_all(avx2), [&](std::size_t covered) { scalar(p + 3 * covered, n - covered); });
}

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
