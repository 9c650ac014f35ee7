// Building blocks of the AVX2 passes: 32 pixels (96 bytes) at a time, split into one vector per
// channel and joined again, plus the byte and fixed-point arithmetic the passes share. Each
// 128-bit lane holds 16 consecutive pixels, so the in-lane byte shuffles of AVX2 do all the
// splitting. The helpers are compiled for AVX2 whatever region includes this header, and may be
// called only from inside an OMBRIX_TARGET_AVX2 or OMBRIX_TARGET_AVX512 region.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "simd/target.hpp"

OMBRIX_TARGET_AVX2

namespace ombrix::simd::avx2 {

inline constexpr std::size_t block_pixels = 32;
inline constexpr std::size_t block_bytes = 96;

// Channel vectors of one block: byte i of `r` is the red byte of pixel i of the block.
struct Planes {
    __m256i r;
    __m256i g;
    __m256i b;
};

// A shuffle control repeated in both lanes; -128 writes a zero byte.
struct alignas(32) ByteMask {
    std::int8_t v[32];
};

template <class Pick>
constexpr ByteMask lane_mask(Pick pick) {
    ByteMask m{};
    for (int j = 0; j < 16; ++j) m.v[j] = m.v[j + 16] = static_cast<std::int8_t>(pick(j));
    return m;
}

// split_masks[channel][chunk]: gathers the channel's bytes of 16-byte chunk `chunk` of a lane's 48
// bytes into their pixel positions.
inline constexpr ByteMask split_masks[3][3] = {
#define OMBRIX_SPLIT(ch, k) \
    lane_mask(              \
        [](int p) { return 3 * p + (ch)-16 * (k) >= 0 && 3 * p + (ch)-16 * (k) < 16 ? 3 * p + (ch)-16 * (k) : -128; })
    {OMBRIX_SPLIT(0, 0), OMBRIX_SPLIT(0, 1), OMBRIX_SPLIT(0, 2)},
    {OMBRIX_SPLIT(1, 0), OMBRIX_SPLIT(1, 1), OMBRIX_SPLIT(1, 2)},
    {OMBRIX_SPLIT(2, 0), OMBRIX_SPLIT(2, 1), OMBRIX_SPLIT(2, 2)},
#undef OMBRIX_SPLIT
};

// join_masks[channel][chunk]: places a channel's pixel bytes at their offsets in chunk `chunk`.
inline constexpr ByteMask join_masks[3][3] = {
#define OMBRIX_JOIN(ch, k) lane_mask([](int j) { return (16 * (k) + j) % 3 == (ch) ? (16 * (k) + j) / 3 : -128; })
    {OMBRIX_JOIN(0, 0), OMBRIX_JOIN(0, 1), OMBRIX_JOIN(0, 2)},
    {OMBRIX_JOIN(1, 0), OMBRIX_JOIN(1, 1), OMBRIX_JOIN(1, 2)},
    {OMBRIX_JOIN(2, 0), OMBRIX_JOIN(2, 1), OMBRIX_JOIN(2, 2)},
#undef OMBRIX_JOIN
};

// grey_masks[chunk]: one grey byte per pixel repeated into its three channel offsets.
inline constexpr ByteMask grey_masks[3] = {
    lane_mask([](int j) { return j / 3; }),
    lane_mask([](int j) { return (16 + j) / 3; }),
    lane_mask([](int j) { return (32 + j) / 3; }),
};

#define OMBRIX_AVX2_INLINE [[gnu::always_inline]] inline

OMBRIX_AVX2_INLINE __m256i mask(const ByteMask& m) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(m.v)); }

// Chunk k (16 bytes) of both lanes: lane 0 covers pixels 0-15 of the block, lane 1 pixels 16-31.
OMBRIX_AVX2_INLINE __m256i load_chunk(const std::uint8_t* p, int k) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48 + 16 * k));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

OMBRIX_AVX2_INLINE void store_chunk(std::uint8_t* p, int k, __m256i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16 * k), _mm256_castsi256_si128(v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 48 + 16 * k), _mm256_extracti128_si256(v, 1));
}

OMBRIX_AVX2_INLINE __m256i split_channel(__m256i c0, __m256i c1, __m256i c2, int channel) {
    const __m256i a = _mm256_shuffle_epi8(c0, mask(split_masks[channel][0]));
    const __m256i b = _mm256_shuffle_epi8(c1, mask(split_masks[channel][1]));
    const __m256i c = _mm256_shuffle_epi8(c2, mask(split_masks[channel][2]));
    return _mm256_or_si256(_mm256_or_si256(a, b), c);
}

OMBRIX_AVX2_INLINE Planes load_planes(const std::uint8_t* p) {
    const __m256i c0 = load_chunk(p, 0), c1 = load_chunk(p, 1), c2 = load_chunk(p, 2);
    return {split_channel(c0, c1, c2, 0), split_channel(c0, c1, c2, 1), split_channel(c0, c1, c2, 2)};
}

// One channel of a block (for compositions, which read one channel from each source).
OMBRIX_AVX2_INLINE __m256i load_plane(const std::uint8_t* p, int channel) {
    return split_channel(load_chunk(p, 0), load_chunk(p, 1), load_chunk(p, 2), channel);
}

OMBRIX_AVX2_INLINE __m256i join_chunk(const Planes& q, int k) {
    const __m256i r = _mm256_shuffle_epi8(q.r, mask(join_masks[0][k]));
    const __m256i g = _mm256_shuffle_epi8(q.g, mask(join_masks[1][k]));
    const __m256i b = _mm256_shuffle_epi8(q.b, mask(join_masks[2][k]));
    return _mm256_or_si256(_mm256_or_si256(r, g), b);
}

OMBRIX_AVX2_INLINE void store_planes(std::uint8_t* p, const Planes& q) {
    store_chunk(p, 0, join_chunk(q, 0));
    store_chunk(p, 1, join_chunk(q, 1));
    store_chunk(p, 2, join_chunk(q, 2));
}

OMBRIX_AVX2_INLINE void store_grey(std::uint8_t* p, __m256i y) {
    store_chunk(p, 0, _mm256_shuffle_epi8(y, mask(grey_masks[0])));
    store_chunk(p, 1, _mm256_shuffle_epi8(y, mask(grey_masks[1])));
    store_chunk(p, 2, _mm256_shuffle_epi8(y, mask(grey_masks[2])));
}

// Runs `block` on the first byte of each whole block of the `n` pixels at `p`, in order, and
// returns how many pixels the blocks covered (a scalar loop finishes the rest).
template <class Block>
OMBRIX_AVX2_INLINE std::size_t for_each_block(std::uint8_t* p, std::size_t n, Block block) {
    const std::size_t blocks = n / block_pixels;
    for (std::size_t i = 0; i < blocks; ++i, p += block_bytes) block(p);
    return blocks * block_pixels;
}

// ---- bytes ---------------------------------------------------------------------------------

OMBRIX_AVX2_INLINE __m256i splat(std::uint8_t v) { return _mm256_set1_epi8(static_cast<char>(v)); }
OMBRIX_AVX2_INLINE __m256i max_u8(__m256i a, __m256i b) { return _mm256_max_epu8(a, b); }
OMBRIX_AVX2_INLINE __m256i min_u8(__m256i a, __m256i b) { return _mm256_min_epu8(a, b); }
OMBRIX_AVX2_INLINE __m256i max3_u8(__m256i a, __m256i b, __m256i c) { return max_u8(a, max_u8(b, c)); }
OMBRIX_AVX2_INLINE __m256i min3_u8(__m256i a, __m256i b, __m256i c) { return min_u8(a, min_u8(b, c)); }
// The middle value of three.
OMBRIX_AVX2_INLINE __m256i median3_u8(__m256i a, __m256i b, __m256i c) {
    return max_u8(min_u8(a, b), min_u8(max_u8(a, b), c));
}
OMBRIX_AVX2_INLINE __m256i not_u8(__m256i a) { return _mm256_xor_si256(a, _mm256_set1_epi8(-1)); }
// All ones where a > b (unsigned).
OMBRIX_AVX2_INLINE __m256i gt_u8(__m256i a, __m256i b) {
    const __m256i bias = _mm256_set1_epi8(-128);
    return _mm256_cmpgt_epi8(_mm256_xor_si256(a, bias), _mm256_xor_si256(b, bias));
}
OMBRIX_AVX2_INLINE __m256i eq_u8(__m256i a, __m256i b) { return _mm256_cmpeq_epi8(a, b); }
// `when` where the mask is set, otherwise `otherwise`.
OMBRIX_AVX2_INLINE __m256i select(__m256i mask_bits, __m256i when, __m256i otherwise) {
    return _mm256_blendv_epi8(otherwise, when, mask_bits);
}

// ---- 16.16 fixed point -------------------------------------------------------------------------

// A 32-bit lane holding the 16-bit factors (lo, hi) for _mm256_madd_epi16.
OMBRIX_AVX2_INLINE __m256i factor_pair(std::int32_t lo, std::int32_t hi) {
    return _mm256_set1_epi32(
        static_cast<std::int32_t>((static_cast<std::uint32_t>(hi) << 16) | (static_cast<std::uint32_t>(lo) & 0xFFFFu)));
}

OMBRIX_AVX2_INLINE __m256i widen_lo(__m256i v) { return _mm256_unpacklo_epi8(v, _mm256_setzero_si256()); }
OMBRIX_AVX2_INLINE __m256i widen_hi(__m256i v) { return _mm256_unpackhi_epi8(v, _mm256_setzero_si256()); }

// Four pixels per lane: madd of (R, B) word pairs and (G, G) word pairs, plus the offset.
OMBRIX_AVX2_INLINE __m256i fixed_quarter(__m256i rb, __m256i gg, __m256i k_rb, __m256i k_gg, __m256i offset) {
    const __m256i sum =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(rb, k_rb), _mm256_madd_epi16(gg, k_gg)), offset);
    return _mm256_and_si256(_mm256_srai_epi32(sum, 16), _mm256_set1_epi32(0xFF));
}

OMBRIX_AVX2_INLINE __m256i fixed_half(__m256i r, __m256i g, __m256i b, __m256i k_rb, __m256i k_gg, __m256i offset) {
    const __m256i lo = fixed_quarter(_mm256_unpacklo_epi16(r, b), _mm256_unpacklo_epi16(g, g), k_rb, k_gg, offset);
    const __m256i hi = fixed_quarter(_mm256_unpackhi_epi16(r, b), _mm256_unpackhi_epi16(g, g), k_rb, k_gg, offset);
    return _mm256_packus_epi32(lo, hi);
}

// Low 8 bits of (cR·R + cG·G + cB·B + offset) >> 16 for each pixel. cR and cB must fit 16 bits;
// cG is split into two halves applied to G twice, so it may be up to twice that.
template <std::int32_t cr, std::int32_t cg, std::int32_t cb, std::int32_t offset>
OMBRIX_AVX2_INLINE __m256i fixed_weighted(const Planes& q) {
    static_assert(cr >= -32768 && cr <= 32767 && cb >= -32768 && cb <= 32767);
    static_assert(cg / 2 >= -32768 && cg - cg / 2 <= 32767 && cg - cg / 2 >= -32768);
    const __m256i k_rb = factor_pair(cr, cb), k_gg = factor_pair(cg / 2, cg - cg / 2);
    const __m256i add = _mm256_set1_epi32(offset);
    const __m256i lo = fixed_half(widen_lo(q.r), widen_lo(q.g), widen_lo(q.b), k_rb, k_gg, add);
    const __m256i hi = fixed_half(widen_hi(q.r), widen_hi(q.g), widen_hi(q.b), k_rb, k_gg, add);
    return _mm256_packus_epi16(lo, hi);
}

OMBRIX_AVX2_INLINE __m256i grey_half(__m256i r, __m256i g, __m256i b) {
    const __m256i sum = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(r, _mm256_set1_epi16(77)), _mm256_mullo_epi16(g, _mm256_set1_epi16(150))),
        _mm256_mullo_epi16(b, _mm256_set1_epi16(29)));
    return _mm256_srli_epi16(sum, 8);
}

// (77·R + 150·G + 29·B) >> 8: the weights add up to 256, so every sum fits 16 bits.
OMBRIX_AVX2_INLINE __m256i grey_level(const Planes& q) {
    return _mm256_packus_epi16(grey_half(widen_lo(q.r), widen_lo(q.g), widen_lo(q.b)),
                               grey_half(widen_hi(q.r), widen_hi(q.g), widen_hi(q.b)));
}

// floor((a + b + c + d) / 4) for each byte, without widening (see simd::avx512::mean_of_four_u8
// for why it is exact).
OMBRIX_AVX2_INLINE __m256i mean_of_four_u8(__m256i a, __m256i b, __m256i c, __m256i d) {
    const __m256i u = _mm256_avg_epu8(a, b), w = _mm256_avg_epu8(c, d);
    const __m256i odd =
        _mm256_or_si256(_mm256_or_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(c, d)), _mm256_xor_si256(u, w));
    return _mm256_sub_epi8(_mm256_avg_epu8(u, w), _mm256_and_si256(odd, _mm256_set1_epi8(1)));
}

// ---- four doubles at a time ----------------------------------------------------------------------

// Four table entries by four byte indices. Built from plain loads: on the processors measured
// they beat the AVX2 gather instructions.
OMBRIX_AVX2_INLINE __m256d lookup(const double* table, const std::uint8_t* index) {
    return _mm256_setr_pd(table[index[0]], table[index[1]], table[index[2]], table[index[3]]);
}
OMBRIX_AVX2_INLINE __m256d lookup(const double* table, const std::uint8_t* index, const std::uint8_t* half) {
    return _mm256_setr_pd(table[std::size_t{half[0]} * 256 + index[0]], table[std::size_t{half[1]} * 256 + index[1]],
                          table[std::size_t{half[2]} * 256 + index[2]], table[std::size_t{half[3]} * 256 + index[3]]);
}

// 32 results of four-lane groups, in pixel order, as one plane vector.
OMBRIX_AVX2_INLINE __m256i plane_of(const __m128i (&groups)[8]) {
    const __m128i lo = _mm_packus_epi16(_mm_packs_epi32(groups[0], groups[1]), _mm_packs_epi32(groups[2], groups[3]));
    const __m128i hi = _mm_packus_epi16(_mm_packs_epi32(groups[4], groups[5]), _mm_packs_epi32(groups[6], groups[7]));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// ---- 16 x 16 bytes ------------------------------------------------------------------------------

// Where transpose_16x16 leaves column c: the 4-bit reversal of c.
constexpr int transposed_row(int c) { return ((c & 1) << 3) | ((c & 2) << 1) | ((c & 4) >> 1) | ((c & 8) >> 3); }

// One round of the transposition: the `Bits`-wide elements of rows 2i and 2i + 1 interleaved, the
// low halves to row i and the high halves to row i + 8.
template <int Bits>
OMBRIX_AVX2_INLINE void interleave_pairs(const __m256i (&from)[16], __m256i (&to)[16]) {
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
        const __m256i a = from[2 * i], b = from[2 * i + 1];
        if constexpr (Bits == 8) {
            to[i] = _mm256_unpacklo_epi8(a, b);
            to[i + 8] = _mm256_unpackhi_epi8(a, b);
        } else if constexpr (Bits == 16) {
            to[i] = _mm256_unpacklo_epi16(a, b);
            to[i + 8] = _mm256_unpackhi_epi16(a, b);
        } else if constexpr (Bits == 32) {
            to[i] = _mm256_unpacklo_epi32(a, b);
            to[i + 8] = _mm256_unpackhi_epi32(a, b);
        } else {
            to[i] = _mm256_unpacklo_epi64(a, b);
            to[i + 8] = _mm256_unpackhi_epi64(a, b);
        }
    }
}

// Two 16 x 16 byte blocks at once, one per 128-bit half: rows become columns, byte c of row r
// ending up as byte r of m[transposed_row(c)], in the same half.
OMBRIX_AVX2_INLINE void transpose_16x16(__m256i (&m)[16]) {
    __m256i t[16];
    interleave_pairs<8>(m, t);
    interleave_pairs<16>(t, m);
    interleave_pairs<32>(m, t);
    interleave_pairs<64>(t, m);
}

}  // namespace ombrix::simd::avx2

OMBRIX_TARGET_END
