// The passes of image_test, one loop per mode chosen before the pass. The byte modes and the HWB
// modes run 32 pixels at a time with AVX2 where the processor has it; the HWB hue is whole-number
// arithmetic there (see hwb_hue_bytes), equal to the float formula for every colour.
#include "pixel/rank_transform.hpp"

#include <immintrin.h>

#include <cstring>

#include "simd/avx2.hpp"
#include "simd/dispatch.hpp"
#include "simd/pass.hpp"

namespace ombrix::pixel {
namespace {

namespace v = simd::avx2;

template <int Mode>
void scalar_pass(byte* p, std::size_t n) noexcept {
    simd::rewrite_pixels<colour::Rgb>(p, n, [](colour::Rgb q) { return rank_pixel(Mode, q); });
}

// ---- AVX2 ----------------------------------------------------------------------------------------

OMBRIX_TARGET_AVX2

constexpr bool is_vector_mode(int mode) { return mode >= 0 && mode <= 20; }
constexpr bool is_grey_mode(int mode) { return (mode >= 13 && mode <= 15) || (mode >= 18 && mode <= 20); }

// The HWB hue of bytes, truncated: hue = k - f/d with |f| <= d, so its whole part is
// k - ceil(f/d), and ceil(f/d) is 1 for f > 0, -1 for f = -d and 0 otherwise. f = -d happens when
// red is the smallest and blue the largest with green equal to red (hue 4), or when green is the
// smallest and red the largest with blue equal to green (hue 6). Grey gives -1, stored as 255.
OMBRIX_AVX2_INLINE __m256i hwb_hue_bytes(__m256i r, __m256i g, __m256i b, __m256i mx, __m256i mn) {
    const __m256i red_least = v::eq_u8(r, mn);
    const __m256i green_least = _mm256_andnot_si256(red_least, v::eq_u8(g, mn));
    // Each term is a mask: -1 where it applies.
    const __m256i red_case = _mm256_sub_epi8(_mm256_add_epi8(v::splat(3), v::gt_u8(g, b)),
                                             _mm256_and_si256(v::eq_u8(b, mx), v::eq_u8(g, mn)));
    const __m256i green_case = _mm256_sub_epi8(_mm256_add_epi8(v::splat(5), v::gt_u8(b, r)),
                                               _mm256_and_si256(v::eq_u8(r, mx), v::eq_u8(b, mn)));
    const __m256i blue_case = _mm256_add_epi8(v::splat(1), v::gt_u8(r, g));
    const __m256i hue = v::select(red_least, red_case, v::select(green_least, green_case, blue_case));
    return v::select(v::eq_u8(mx, mn), v::splat(255), hue);
}

template <int Mode>
OMBRIX_AVX2_INLINE v::Planes test_planes(const v::Planes& q) {
    const __m256i R = q.r, G = q.g, B = q.b;
    if constexpr (Mode <= 6) {
        const __m256i M = v::max3_u8(R, G, B);
        const __m256i N = v::min3_u8(M, G, B);
        const __m256i D = v::median3_u8(M, N, B);
        if constexpr (Mode == 0) return {M, N, D};
        if constexpr (Mode == 1) return {N, M, D};
        if constexpr (Mode == 2) return {N, D, M};
        if constexpr (Mode == 3) return {M, D, N};
        if constexpr (Mode == 4) return {D, N, M};
        if constexpr (Mode == 5) return {D, M, N};
        if constexpr (Mode == 6) return {D, G, G};
    } else if constexpr (Mode == 16) {
        const __m256i down = v::splat(99);
        return {_mm256_subs_epu8(R, down), _mm256_subs_epu8(G, down), _mm256_subs_epu8(B, down)};
    } else {
        const __m256i mx = v::max3_u8(R, G, B), mn = v::min3_u8(R, G, B);
        if constexpr (Mode == 17) {
            // Blackness 1 - max wraps to (257 - max) mod 256.
            return {hwb_hue_bytes(R, G, B, mx, mn), mn, _mm256_sub_epi8(v::splat(1), mx)};
        } else {
            const __m256i md = v::median3_u8(R, G, B);
            if constexpr (Mode == 7) return {mx, mn, md};
            if constexpr (Mode == 8) return {mx, md, mn};
            if constexpr (Mode == 9) return {md, mn, mx};
            if constexpr (Mode == 10) return {md, mx, mn};
            if constexpr (Mode == 11) return {mn, mx, md};
            if constexpr (Mode == 12) return {mn, md, mx};
        }
    }
}

template <int Mode>
OMBRIX_AVX2_INLINE __m256i test_grey(const v::Planes& q) {
    const __m256i mx = v::max3_u8(q.r, q.g, q.b), mn = v::min3_u8(q.r, q.g, q.b);
    if constexpr (Mode == 13) return mx;
    if constexpr (Mode == 14 || Mode == 19) return mn;
    if constexpr (Mode == 15) return v::median3_u8(q.r, q.g, q.b);
    if constexpr (Mode == 18) return hwb_hue_bytes(q.r, q.g, q.b, mx, mn);
    if constexpr (Mode == 20) return _mm256_sub_epi8(v::splat(1), mx);
}

template <int Mode>
std::size_t avx2_pass(byte* p, std::size_t n) {
    return v::for_each_block(p, n, [](byte* block) {
        if constexpr (is_grey_mode(Mode))
            v::store_grey(block, test_grey<Mode>(v::load_planes(block)));
        else
            v::store_planes(block, test_planes<Mode>(v::load_planes(block)));
    });
}

// ---- luma and colour differences: the formula's double operations, four lanes at a time --------
//
// 0.299 R + 0.587 G + 0.114 B is evaluated left to right in double precision exactly as the
// formula writes it (contraction into fused multiply-adds is off), so the truncated results are
// the formula's without any error argument.

constexpr bool is_luma_mode(int mode) { return mode >= 21 && mode <= 23; }

template <int Mode>
OMBRIX_AVX2_INLINE __m256d luma4(__m256d r, __m256d g, __m256d b) {
    const __m256d luma =
        _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(0.299), r), _mm256_mul_pd(_mm256_set1_pd(0.587), g)),
                      _mm256_mul_pd(_mm256_set1_pd(0.114), b));
    if constexpr (Mode == 21) return luma;
    if constexpr (Mode == 22) return _mm256_sub_pd(b, luma);
    if constexpr (Mode == 23) return _mm256_sub_pd(r, luma);
}

// Four channel bytes as doubles.
OMBRIX_AVX2_INLINE __m256d four_lanes(const byte* plane) {
    std::int32_t four;
    std::memcpy(&four, plane, 4);
    return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(four)));
}

template <int Mode>
std::size_t luma_avx2(byte* p, std::size_t n) {
    return v::for_each_block(p, n, [](byte* block) {
        const v::Planes q = v::load_planes(block);
        alignas(32) byte r[32], g[32], b[32];
        _mm256_store_si256(reinterpret_cast<__m256i*>(r), q.r);
        _mm256_store_si256(reinterpret_cast<__m256i*>(g), q.g);
        _mm256_store_si256(reinterpret_cast<__m256i*>(b), q.b);
        __m128i groups[8];
        for (int grp = 0; grp < 8; ++grp) {
            const __m256d value =
                luma4<Mode>(four_lanes(r + 4 * grp), four_lanes(g + 4 * grp), four_lanes(b + 4 * grp));
            groups[grp] = _mm_and_si128(_mm256_cvttpd_epi32(value), _mm_set1_epi32(0xFF));
        }
        v::store_grey(block, v::plane_of(groups));
    });
}

OMBRIX_TARGET_END

// ---- AVX-512 -------------------------------------------------------------------------------------

OMBRIX_TARGET_AVX512

template <int Mode>
[[gnu::always_inline]] inline __m512d luma8(__m512d r, __m512d g, __m512d b) {
    const __m512d luma =
        _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(_mm512_set1_pd(0.299), r), _mm512_mul_pd(_mm512_set1_pd(0.587), g)),
                      _mm512_mul_pd(_mm512_set1_pd(0.114), b));
    if constexpr (Mode == 21) return luma;
    if constexpr (Mode == 22) return _mm512_sub_pd(b, luma);
    if constexpr (Mode == 23) return _mm512_sub_pd(r, luma);
}

// Eight channel bytes as doubles.
[[gnu::always_inline]] inline __m512d eight_lanes(const byte* plane) {
    return _mm512_cvtepi32_pd(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(plane))));
}

template <int Mode>
std::size_t luma_avx512(byte* p, std::size_t n) {
    const std::size_t blocks = n / v::block_pixels;
    for (std::size_t blk = 0; blk < blocks; ++blk) {
        byte* block = p + blk * v::block_bytes;
        const v::Planes q = v::load_planes(block);
        alignas(32) byte r[32], g[32], b[32], out[32];
        _mm256_store_si256(reinterpret_cast<__m256i*>(r), q.r);
        _mm256_store_si256(reinterpret_cast<__m256i*>(g), q.g);
        _mm256_store_si256(reinterpret_cast<__m256i*>(b), q.b);
        for (int grp = 0; grp < 4; ++grp) {
            const __m512d value =
                luma8<Mode>(eight_lanes(r + 8 * grp), eight_lanes(g + 8 * grp), eight_lanes(b + 8 * grp));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 8 * grp),
                             _mm256_cvtepi32_epi8(_mm512_cvttpd_epi32(value)));
        }
        v::store_grey(block, _mm256_load_si256(reinterpret_cast<const __m256i*>(out)));
    }
    return blocks * v::block_pixels;
}

OMBRIX_TARGET_END

template <int Mode>
void run_mode(byte* p, std::size_t n) {
    if constexpr (is_luma_mode(Mode))
        simd::run_in_place(p, n, luma_avx512<Mode>, luma_avx2<Mode>, scalar_pass<Mode>);
    else if constexpr (is_vector_mode(Mode))
        simd::run_in_place(p, n, simd::NoPass{}, avx2_pass<Mode>, scalar_pass<Mode>);
    else
        scalar_pass<Mode>(p, n);
}

constexpr auto passes = simd::pass_table<last_rank_mode + 1>([]<int Mode> { return &run_mode<Mode>; });

}  // namespace

double rank_transform(ImageRecord& image, std::int32_t mode) {
    const std::size_t n = image.rgb_pixel_count();
    if (n == 0 || mode < 0 || mode > last_rank_mode) return 0;
    passes[static_cast<std::size_t>(mode)](image.rgb.data(), n);
    return 0;
}

}  // namespace ombrix::pixel
