// a* = (f(X / 0.951) - f(Y)) × 635 + 128 and b* = (f(Y) - f(Z / 1.089)) × 254 + 128, with f the
// cube root above 0.008856 and a line below it, without a call to pow per pixel.
//
// X / 0.951, Y and Z / 1.089 are whole-number keys over fixed divisors: X / 0.951 = (431 R +
// 342 G + 178 B) / 242505, Y = (222 R + 707 G + 71 B) / 255000 and Z / 1.089 = (20 R + 130 G +
// 939 B) / 277695 (in double precision, key × (1 / divisor) is within 1e-15 of the formula's t).
// The threshold is a whole key too: 0.008856 × divisor lies at least 0.27 from a whole number for
// each divisor, so no key's t is within 1e-15 of it and the key alone picks the branch.
//
// First, for every pixel, all in float: the key itself (exact: whole numbers below 2^24), split
// into a mantissa m in [1, 2) and an exponent 2^11..2^18 (keys above the threshold lie there).
// cbrt(m) is a degree-7 polynomial in m - 1.5 (Chebyshev interpolation, within 7.4e-8 with its
// coefficients rounded to float, measured over [1, 2]) evaluated with fused multiply-adds; one
// factor per exponent, scale × 2^(e/3) / cbrt(divisor), turns it into scale × f(t). The line
// below the threshold is one fused multiply-add on the key with the scale folded in. The result
// (first - second) + 1152 is, over every one of the 2^24 colours, within 2.2e-4 of the formula's
// value + 1024 for a* and 1.2e-4 for b* (measured; the tests check every colour on every path);
// where it lies more than the mode's guard (3e-4, 2e-4) from a whole number (also 0 and 256, where the clamps change),
// its truncation is the formula's byte.
//
// Second, for the rest (0.065 % and 0.037 % of all colours): two Newton steps for t^(-1/3) in float
// and one in double from the exact t, which leave f within 4e-9 and the result within 635 × 8e-9
// ≈ 5.1e-6. Where that lies within `fine_guard` of a whole number, or t lies within 1e-12 of f's
// threshold, the pixel takes the formula itself.
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

constexpr double fine_guard = 1e-5;
constexpr std::int32_t inverse_cube_root_guess = 0x54a21d2a;

struct KeyWeights {
    std::int32_t r, g, b;
    std::int32_t divisor;
    double inverse_divisor;
};
constexpr KeyWeights x_key{431, 342, 178, 242505, 1.0 / 242505}, y_key{222, 707, 71, 255000, 1.0 / 255000},
    z_key{20, 130, 939, 277695, 1.0 / 277695};

inline std::int32_t key_of(const KeyWeights& w, byte r, byte g, byte b) noexcept { return w.r * r + w.g * g + w.b * b; }

// The two keys and the scale of one mode: result = (f(first) - f(second)) × scale + 128.
// `coarse_guard` is the first step's: over all 2^24 colours its value lies within 2.2e-4 of the
// formula's for a* and within 1.2e-4 for b*.
struct LabDifference {
    KeyWeights first;
    KeyWeights second;
    float scale;
    float coarse_guard;
    byte (*formula)(byte, byte, byte) noexcept;
};
constexpr LabDifference a_difference{x_key, y_key, 635, 3e-4f, colour::rgb_lab_a_byte};
constexpr LabDifference b_difference{y_key, z_key, 254, 2e-4f, colour::rgb_lab_b_byte};

// cbrt(m) for m in [1, 2) as c[0] + c[1] u + ... + c[7] u^7 with u = m - 1.5.
constexpr float cube_root_coefficients[8] = {1.144714236e+00f,  2.543809414e-01f, -5.653236806e-02f, 2.093856968e-02f,
                                             -9.240755811e-03f, 4.512432031e-03f, -2.756892471e-03f, 1.499937498e-03f};
// Keys from 2^11 up, below 2^19: the exponent's bits minus this are 0..7.
constexpr std::int32_t lowest_exponent_bits = 127 + 11;

// The first step's constants for one key and scale, all in float: the weights (whole numbers),
// the smallest key above the threshold, the line below it with the scale folded in, and the
// factor scale × 2^(e/3) / cbrt(divisor) for each exponent e = 11..18 (twice over, so that a
// sixteen-lane shuffle can index it with the exponent's low bits).
struct alignas(64) CurveConstants {
    float factor[16];
    float r, g, b;
    float threshold;
    float slope, intercept;
};

CurveConstants curve_constants(const KeyWeights& w, float scale) {
    CurveConstants c{};
    c.r = static_cast<float>(w.r);
    c.g = static_cast<float>(w.g);
    c.b = static_cast<float>(w.b);
    c.threshold = static_cast<float>(std::floor(colour::lab_epsilon * w.divisor) + 1);
    c.slope = static_cast<float>(scale * 7.78 / w.divisor);
    c.intercept = static_cast<float>(scale * 0.13793103448275862);
    for (int e = 0; e < 16; ++e)
        c.factor[e] =
            static_cast<float>(scale * std::exp2((11 + e % 8) / 3.0) / std::cbrt(static_cast<double>(w.divisor)));
    return c;
}

struct LabPass {
    const LabDifference& d;
    CurveConstants first, second;
};

const LabPass& a_pass() {
    static const LabPass pass{a_difference, curve_constants(x_key, 635), curve_constants(y_key, 635)};
    return pass;
}
const LabPass& b_pass() {
    static const LabPass pass{b_difference, curve_constants(y_key, 254), curve_constants(z_key, 254)};
    return pass;
}

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
inline void fused(const float& a, const float& b, const float& c, float& out) noexcept { out = std::fma(a, b, c); }
inline void factor_of(const CurveConstants& c, const std::int32_t& exponent, float& out) noexcept {
    out = c.factor[exponent & 15];
}
#include "pixel/lab_first_step.inc"
}  // namespace scalar_width

void difference_scalar(const LabPass& pass, byte* p, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i, p += 3) {
        const byte r = p[0], g = p[1], b = p[2];
        const float R = r, G = g, B = b;
        float first, second;
        scalar_width::coarse_curve<float, std::int32_t>(pass.first, R, G, B, first);
        scalar_width::coarse_curve<float, std::int32_t>(pass.second, R, G, B, second);
        const float shifted = (first - second) + (128 + 1024);
        const auto whole = static_cast<std::int32_t>(shifted);
        const float fraction = shifted - static_cast<float>(whole);
        const float guard = pass.d.coarse_guard;
        const byte v = fraction > guard && fraction < 1 - guard ? static_cast<byte>(std::clamp(whole - 1024, 0, 255))
                                                                : refined_byte(pass.d, r, g, b);
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
OMBRIX_AVX2_INLINE void fused(const Float8& a, const Float8& b, const Float8& c, Float8& out) {
    out = Float8(_mm256_fmadd_ps(__m256(a), __m256(b), __m256(c)));
}
OMBRIX_AVX2_INLINE void factor_of(const CurveConstants& c, const Int8& exponent, Float8& out) {
    out = Float8(_mm256_permutevar8x32_ps(_mm256_load_ps(c.factor), __m256i(exponent)));
}
#include "pixel/lab_first_step.inc"
}  // namespace avx2_width

std::size_t difference_avx2(const LabPass& pass, byte* p, std::size_t n) {
    return avx2_width::difference_blocks<Float8, Int8>(pass, p, n);
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
[[gnu::always_inline]] inline void fused(const Float16& a, const Float16& b, const Float16& c, Float16& out) {
    out = Float16(_mm512_fmadd_ps(__m512(a), __m512(b), __m512(c)));
}
[[gnu::always_inline]] inline void factor_of(const CurveConstants& c, const Int16& exponent, Float16& out) {
    out = Float16(_mm512_permutexvar_ps(__m512i(exponent), _mm512_load_ps(c.factor)));
}
#include "pixel/lab_first_step.inc"
}  // namespace avx512_width

std::size_t difference_avx512(const LabPass& pass, byte* p, std::size_t n) {
    return avx512_width::difference_blocks<Float16, Int16>(pass, p, n);
}

OMBRIX_TARGET_END

void difference_pass(const LabPass& pass, byte* p, std::size_t n) {
    simd::run_in_place(
        p, n, [&](byte* q, std::size_t m) { return difference_avx512(pass, q, m); },
        [&](byte* q, std::size_t m) { return difference_avx2(pass, q, m); },
        [&](byte* q, std::size_t m) { difference_scalar(pass, q, m); });
}

}  // namespace

void lab_a_pass(std::uint8_t* p, std::size_t n) { difference_pass(a_pass(), p, n); }
void lab_b_pass(std::uint8_t* p, std::size_t n) { difference_pass(b_pass(), p, n); }

}  // namespace ombrix::pixel
