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

#include "colour/models.hpp"
#include "simd/dispatch.hpp"

namespace ombrix::pixel {

namespace {

using colour::byte;

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

// Zero for t = 0 (black), and NaN where t is near f's threshold, so that the pixel is unsure.
inline float coarse_curve(const KeyWeights& w, float r, float g, float b) noexcept {
    const auto scale = static_cast<float>(w.inverse_divisor);
    const float t = r * (static_cast<float>(w.r) * scale) + g * (static_cast<float>(w.g) * scale) +
                    b * (static_cast<float>(w.b) * scale);
    float x = std::bit_cast<float>(
        inverse_cube_root_guess -
        static_cast<std::int32_t>(static_cast<float>(std::bit_cast<std::int32_t>(t)) * (1.0f / 3)));
    const float t3 = t * (1.0f / 3);
    for (int step = 0; step < 3; ++step) x = x * (4.0f / 3 - t3 * (x * x * x));
    const float off = t - static_cast<float>(colour::lab_epsilon);
    if (off < 1e-6f && off > -1e-6f) return std::numeric_limits<float>::quiet_NaN();
    return off > 0 ? t * x * x : 7.78f * t + 0.13793103f;
}

void difference_scalar(const LabDifference& d, byte* p, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i, p += 3) {
        const byte r = p[0], g = p[1], b = p[2];
        const float R = r, G = g, B = b;
        const float shifted =
            (coarse_curve(d.first, R, G, B) - coarse_curve(d.second, R, G, B)) * d.scale + (128 + 1024);
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

}  // namespace
}  // namespace ombrix::pixel

#pragma GCC push_options
#pragma GCC target("avx2")
#include "simd/avx2.hpp"

namespace ombrix::pixel {
namespace {

namespace v = simd::avx2;

// coarse_curve() for eight pixels.
OMBRIX_AVX2_INLINE __m256 coarse_curve8(const KeyWeights& w, __m256 r, __m256 g, __m256 b) {
    const auto scale = static_cast<float>(w.inverse_divisor);
    const __m256 t = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(r, _mm256_set1_ps(static_cast<float>(w.r) * scale)),
                                                 _mm256_mul_ps(g, _mm256_set1_ps(static_cast<float>(w.g) * scale))),
                                   _mm256_mul_ps(b, _mm256_set1_ps(static_cast<float>(w.b) * scale)));
    const __m256i third =
        _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_castps_si256(t)), _mm256_set1_ps(1.0f / 3)));
    __m256 x = _mm256_castsi256_ps(_mm256_sub_epi32(_mm256_set1_epi32(inverse_cube_root_guess), third));
    const __m256 t3 = _mm256_mul_ps(t, _mm256_set1_ps(1.0f / 3));
    for (int step = 0; step < 3; ++step)
        x = _mm256_mul_ps(
            x, _mm256_sub_ps(_mm256_set1_ps(4.0f / 3), _mm256_mul_ps(t3, _mm256_mul_ps(_mm256_mul_ps(x, x), x))));
    const __m256 off = _mm256_sub_ps(t, _mm256_set1_ps(static_cast<float>(colour::lab_epsilon)));
    const __m256 near = _mm256_and_ps(_mm256_cmp_ps(off, _mm256_set1_ps(1e-6f), _CMP_LT_OQ),
                                      _mm256_cmp_ps(off, _mm256_set1_ps(-1e-6f), _CMP_GT_OQ));
    const __m256 root = _mm256_mul_ps(_mm256_mul_ps(t, x), x);
    const __m256 line = _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(7.78f), t), _mm256_set1_ps(0.13793103f));
    const __m256 f = _mm256_blendv_ps(line, root, _mm256_cmp_ps(off, _mm256_setzero_ps(), _CMP_GT_OQ));
    return _mm256_or_ps(f, _mm256_and_ps(near, _mm256_set1_ps(std::numeric_limits<float>::quiet_NaN())));
}

std::size_t difference_avx2(const LabDifference& d, byte* p, std::size_t n) {
    return v::for_each_block(p, n, [&](byte* block) {
        const v::Planes q = v::load_planes(block);
        alignas(32) byte out[32];
        std::uint32_t unsure = 0;
        for (int grp = 0; grp < 4; ++grp) {
            const auto widen = [grp](__m256i plane) {
                const __m128i half = grp < 2 ? _mm256_castsi256_si128(plane) : _mm256_extracti128_si256(plane, 1);
                return _mm256_cvtepu8_epi32(grp & 1 ? _mm_srli_si128(half, 8) : half);
            };
            const __m256 r = _mm256_cvtepi32_ps(widen(q.r)), g = _mm256_cvtepi32_ps(widen(q.g)),
                         b = _mm256_cvtepi32_ps(widen(q.b));
            const __m256 shifted = _mm256_add_ps(
                _mm256_mul_ps(_mm256_sub_ps(coarse_curve8(d.first, r, g, b), coarse_curve8(d.second, r, g, b)),
                              _mm256_set1_ps(d.scale)),
                _mm256_set1_ps(128 + 1024));
            const __m256i whole = _mm256_cvttps_epi32(shifted);
            const __m256 fraction = _mm256_sub_ps(shifted, _mm256_cvtepi32_ps(whole));
            const __m256 sure = _mm256_and_ps(_mm256_cmp_ps(fraction, _mm256_set1_ps(coarse_guard), _CMP_GT_OQ),
                                              _mm256_cmp_ps(fraction, _mm256_set1_ps(1 - coarse_guard), _CMP_LT_OQ));
            unsure |= static_cast<std::uint32_t>(~_mm256_movemask_ps(sure) & 0xFF) << (8 * grp);
            const __m256i value = _mm256_min_epi32(
                _mm256_max_epi32(_mm256_sub_epi32(whole, _mm256_set1_epi32(1024)), _mm256_setzero_si256()),
                _mm256_set1_epi32(255));
            const __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(value), _mm256_extracti128_si256(value, 1));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 8 * grp), _mm_packus_epi16(words, words));
        }
        for (; unsure != 0; unsure &= unsure - 1) {
            const int j = __builtin_ctz(unsure);
            out[j] = refined_byte(d, block[3 * j], block[3 * j + 1], block[3 * j + 2]);
        }
        v::store_grey(block, _mm256_load_si256(reinterpret_cast<const __m256i*>(out)));
    });
}

}  // namespace
}  // namespace ombrix::pixel

#pragma GCC target("avx2,avx512f,avx512bw,avx512dq,avx512vl")
// GCC 12's AVX-512 intrinsics start from _mm512_undefined_*(), which -Wmaybe-uninitialized flags.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace ombrix::pixel {
namespace {

// coarse_curve() for sixteen pixels.
[[gnu::always_inline]] inline __m512 coarse_curve16(const KeyWeights& w, __m512 r, __m512 g, __m512 b) {
    const auto scale = static_cast<float>(w.inverse_divisor);
    const __m512 t = _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(r, _mm512_set1_ps(static_cast<float>(w.r) * scale)),
                                                 _mm512_mul_ps(g, _mm512_set1_ps(static_cast<float>(w.g) * scale))),
                                   _mm512_mul_ps(b, _mm512_set1_ps(static_cast<float>(w.b) * scale)));
    const __m512i third =
        _mm512_cvttps_epi32(_mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_castps_si512(t)), _mm512_set1_ps(1.0f / 3)));
    __m512 x = _mm512_castsi512_ps(_mm512_sub_epi32(_mm512_set1_epi32(inverse_cube_root_guess), third));
    const __m512 t3 = _mm512_mul_ps(t, _mm512_set1_ps(1.0f / 3));
    for (int step = 0; step < 3; ++step)
        x = _mm512_mul_ps(
            x, _mm512_sub_ps(_mm512_set1_ps(4.0f / 3), _mm512_mul_ps(t3, _mm512_mul_ps(_mm512_mul_ps(x, x), x))));
    const __m512 off = _mm512_sub_ps(t, _mm512_set1_ps(static_cast<float>(colour::lab_epsilon)));
    const __mmask16 near = _mm512_cmp_ps_mask(off, _mm512_set1_ps(1e-6f), _CMP_LT_OQ) &
                           _mm512_cmp_ps_mask(off, _mm512_set1_ps(-1e-6f), _CMP_GT_OQ);
    const __m512 root = _mm512_mul_ps(_mm512_mul_ps(t, x), x);
    const __m512 line = _mm512_add_ps(_mm512_mul_ps(_mm512_set1_ps(7.78f), t), _mm512_set1_ps(0.13793103f));
    const __m512 f = _mm512_mask_blend_ps(_mm512_cmp_ps_mask(off, _mm512_setzero_ps(), _CMP_GT_OQ), line, root);
    return _mm512_mask_blend_ps(near, f, _mm512_set1_ps(std::numeric_limits<float>::quiet_NaN()));
}

std::size_t difference_avx512(const LabDifference& d, byte* p, std::size_t n) {
    const std::size_t blocks = n / v::block_pixels;
    for (std::size_t blk = 0; blk < blocks; ++blk) {
        byte* block = p + blk * v::block_bytes;
        const v::Planes q = v::load_planes(block);
        alignas(32) byte out[32];
        std::uint32_t unsure = 0;
        for (int half = 0; half < 2; ++half) {
            const auto widen = [half](__m256i plane) {
                return _mm512_cvtepu8_epi32(half ? _mm256_extracti128_si256(plane, 1) : _mm256_castsi256_si128(plane));
            };
            const __m512 r = _mm512_cvtepi32_ps(widen(q.r)), g = _mm512_cvtepi32_ps(widen(q.g)),
                         b = _mm512_cvtepi32_ps(widen(q.b));
            const __m512 shifted = _mm512_add_ps(
                _mm512_mul_ps(_mm512_sub_ps(coarse_curve16(d.first, r, g, b), coarse_curve16(d.second, r, g, b)),
                              _mm512_set1_ps(d.scale)),
                _mm512_set1_ps(128 + 1024));
            const __m512i whole = _mm512_cvttps_epi32(shifted);
            const __m512 fraction = _mm512_sub_ps(shifted, _mm512_cvtepi32_ps(whole));
            const __mmask16 sure = _mm512_cmp_ps_mask(fraction, _mm512_set1_ps(coarse_guard), _CMP_GT_OQ) &
                                   _mm512_cmp_ps_mask(fraction, _mm512_set1_ps(1 - coarse_guard), _CMP_LT_OQ);
            unsure |= static_cast<std::uint32_t>(static_cast<__mmask16>(~sure)) << (16 * half);
            const __m512i value = _mm512_min_epi32(
                _mm512_max_epi32(_mm512_sub_epi32(whole, _mm512_set1_epi32(1024)), _mm512_setzero_si512()),
                _mm512_set1_epi32(255));
            _mm_store_si128(reinterpret_cast<__m128i*>(out + 16 * half), _mm512_cvtepi32_epi8(value));
        }
        for (; unsure != 0; unsure &= unsure - 1) {
            const int j = __builtin_ctz(unsure);
            out[j] = refined_byte(d, block[3 * j], block[3 * j + 1], block[3 * j + 2]);
        }
        v::store_grey(block, _mm256_load_si256(reinterpret_cast<const __m256i*>(out)));
    }
    return blocks * v::block_pixels;
}

}  // namespace
}  // namespace ombrix::pixel

#pragma GCC diagnostic pop
#pragma GCC pop_options

namespace ombrix::pixel {
namespace {

void difference_pass(const LabDifference& d, byte* p, std::size_t n) {
    std::size_t done = 0;
    if (simd::avx512_enabled())
        done = difference_avx512(d, p, n);
    else if (simd::avx2_enabled())
        done = difference_avx2(d, p, n);
    difference_scalar(d, p + 3 * done, n - done);
}

}  // namespace

void lab_a_pass(std::uint8_t* p, std::size_t n) { difference_pass(a_difference, p, n); }
void lab_b_pass(std::uint8_t* p, std::size_t n) { difference_pass(b_difference, p, n); }

}  // namespace ombrix::pixel
