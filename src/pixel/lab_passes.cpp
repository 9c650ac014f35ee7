// a* = (f(X / 0.951) - f(Y)) × 635 + 128 and b* = (f(Y) - f(Z / 1.089)) × 254 + 128, with f the
// cube root above 0.008856 and a line below it, without a call to pow per pixel.
//
// X / 0.951, Y and Z / 1.089 are whole-number keys over fixed divisors: X / 0.951 = (431 R +
// 342 G + 178 B) / 242505, Y = (222 R + 707 G + 71 B) / 255000 and Z / 1.089 = (20 R + 130 G +
// 939 B) / 277695 (in double precision, key × (1 / divisor) is within 1e-15 of the formula's t).
// The cube root starts from the float bit pattern (r ≈ t^(-1/3) to 4 %) and takes Newton steps
// r ← r (4/3 - t/3 · r³), which square the relative error; then f = t · r².
//
// First, for every pixel, all in float: t from the channels (3 roundings), three steps. Over
// [0.0088, 1.01] f is then within 4.5e-7 of the cube root of t (measured over every float in the
// range), and t's own roundings move it by under 1e-7 more: under 5.5e-7 in all. The result is
// then within 635 × 1.1e-6 + 9e-5 (the roundings of the product, below 1024, and of the sum,
// below 2048, which shifts it positive for truncation) < 8e-4
// of the formula's; where it lies more than `coarse_guard` from a whole number (also 0 and 256,
// where the clamps change), and no t is near f's threshold, its truncation is the formula's byte.
//
// Second, for the rest (about 0.2 % of random colours): two steps in float and one in double from
// the exact t, which leave f within 4e-9 and the result within 635 × 8e-9 ≈ 5.1e-6. Where that
// lies within `fine_guard` of a whole number, or t lies within 1e-12 of f's threshold, the pixel
// takes the formula itself. The tests check every colour on every path.
#include "pixel/lab_passes.hpp"

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "colour/models.hpp"
#include "simd/avx2.hpp"
#include "simd/dispatch.hpp"

namespace ombrix::pixel {

namespace {

using colour::byte;
namespace v = simd::avx2;

constexpr float coarse_guard = 1e-3f;
constexpr double fine_guard = 1e-5;
constexpr std::int32_t inverse_cube_root_guess = 0x54a21d2a;

struct KeyWeights {
    std::int32_t r, g, b;
    double inverse_divisor;
};
constexpr KeyWeights x_key{431, 342, 178, 1.0 / 242505}, y_key{222, 707, 71, 1.0 / 255000},
    z_key{20, 130, 939, 1.0 / 277695};

inline std::int32_t key_of(const KeyWeights& w, byte r, byte g, byte b) noexcept { return w.r * r + w.g * g + w.b * b; }

// The two keys and the scale of one mode: result = (f(first) - f(second)) × scale + 128.
struct LabDifference {
    KeyWeights first;
    KeyWeights second;
    float scale;
    byte (*formula)(byte, byte, byte) noexcept;
};
constexpr LabDifference a_difference{x_key, y_key, 635, colour::rgb_lab_a_byte};
constexpr LabDifference b_difference{y_key, z_key, 254, colour::rgb_lab_b_byte};

// ---- the second step ----------------------------------------------------------------------------

inline double refined_curve(const KeyWeights& w, byte r, byte g, byte b, bool& doubtful) noexcept {
    const double t = static_cast<double>(key_of(w, r, g, b)) * w.inverse_divisor;
    const auto tf = static_cast<float>(t);
    const std::int32_t guess =
        inverse_cube_root_guess -
        static_cast<std::int32_t>(static_cast<float>(std::bit_cast<std::int32_t>(tf)) * (1.0f / 3));
    float rf = std::bit_cast<float>(guess);
    const float tf3 = tf * (1.0f / 3);
    rf = rf * (4.0f / 3 - tf3 * (rf * rf * rf));
    rf = rf * (4.0f / 3 - tf3 * (rf * rf * rf));
    double rd = rf;
    rd = rd * (4.0 / 3 - t * (1.0 / 3) * (rd * rd * rd));
    const double off = t - colour::lab_epsilon;
    doubtful = doubtful || (off < 1e-12 && off > -1e-12);
    return t > colour::lab_epsilon ? t * rd * rd : 7.78 * t + 0.13793103448275862;
}

[[gnu::noinline]] byte refined_byte(const LabDifference& d, byte r, byte g, byte b) noexcept {
    bool doubtful = false;
    const double first = refined_curve(d.first, r, g, b, doubtful);
    const double second = refined_curve(d.second, r, g, b, doubtful);
    const double shifted = (first - second) * d.scale + (128 + 1024);
    const auto whole = static_cast<std::int32_t>(shifted);
    const double fraction = shifted - whole;
    if (doubtful || !(fraction > fine_guard && fraction < 1 - fine_guard)) return d.formula(r, g, b);
    return static_cast<byte>(std::clamp(whole - 1024, 0, 255));
}

// ---- the first step ------------------------------------------------------------------------------

// The first step's text, compiled once per instruction set (see the file it comes from).
namespace scalar_width {
#include "pixel/lab_first_step.inc"
}  // namespace scalar_width

void difference_scalar(const LabDifference& d, byte* p, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i, p += 3) {
        const byte r = p[0], g = p[1], b = p[2];
        const float R = r, G = g, B = b;
        float first, second;
        scalar_width::coarse_curve<float, std::int32_t>(d.first, R, G, B, first);
        scalar_width::coarse_curve<float, std::int32_t>(d.second, R, G, B, second);
        const float shifted = (first - second) * d.scale + (128 + 1024);
        // NaN (near f's threshold) fails the range test and goes to the second step.
        if (!(shifted > 0 && shifted < 4096)) {
            p[0] = p[1] = p[2] = refined_byte(d, r, g, b);
            continue;
        }
        const auto whole = static_cast<std::int32_t>(shifted);
        const float fraction = shifted - static_cast<float>(whole);
        const byte v = fraction > coarse_guard && fraction < 1 - coarse_guard
                           ? static_cast<byte>(std::clamp(whole - 1024, 0, 255))
                           : refined_byte(d, r, g, b);
        p[0] = p[1] = p[2] = v;
    }
}

// ---- whole blocks, eight or sixteen pixels per step -------------------------------------------------

OMBRIX_TARGET_AVX2

using Float8 = float [[gnu::vector_size(32)]];
using Int8 = std::int32_t [[gnu::vector_size(32)]];

namespace avx2_width {
OMBRIX_AVX2_INLINE void widen_bytes(const byte* bytes, Float8& out) {
    out = Float8(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)))));
}
OMBRIX_AVX2_INLINE void narrow_to_bytes(const Int8& lanes, byte* out) {
    const __m256i low = _mm256_shuffle_epi8(
        __m256i(lanes), _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8, 12, -1,
                                         -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(
                                                          low, _mm256_setr_epi32(0, 4, 0, 0, 0, 0, 0, 0))));
}
#include "pixel/lab_first_step.inc"
}  // namespace avx2_width

std::size_t difference_avx2(const LabDifference& d, byte* p, std::size_t n) {
    return avx2_width::difference_blocks<Float8, Int8>(d, p, n);
}

OMBRIX_TARGET_END

OMBRIX_TARGET_AVX512

using Float16 = float [[gnu::vector_size(64)]];
using Int16 = std::int32_t [[gnu::vector_size(64)]];

namespace avx512_width {
[[gnu::always_inline]] inline void widen_bytes(const byte* bytes, Float16& out) {
    out = Float16(_mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)))));
}
[[gnu::always_inline]] inline void narrow_to_bytes(const Int16& lanes, byte* out) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm512_cvtepi32_epi8(__m512i(lanes)));
}
#include "pixel/lab_first_step.inc"
}  // namespace avx512_width

std::size_t difference_avx512(const LabDifference& d, byte* p, std::size_t n) {
    return avx512_width::difference_blocks<Float16, Int16>(d, p, n);
}

OMBRIX_TARGET_END

void difference_pass(const LabDifference& d, byte* p, std::size_t n) {
    simd::run_in_place(
        p, n, [&](byte* q, std::size_t m) { return difference_avx512(d, q, m); },
        [&](byte* q, std::size_t m) { return difference_avx2(d, q, m); },
        [&](byte* q, std::size_t m) { difference_scalar(d, q, m); });
}

}  // namespace

void lab_a_pass(std::uint8_t* p, std::size_t n) { difference_pass(a_difference, p, n); }
void lab_b_pass(std::uint8_t* p, std::size_t n) { difference_pass(b_difference, p, n); }

}  // namespace ombrix::pixel
