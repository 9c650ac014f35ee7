// Building blocks of the AVX-512 passes (F, BW, DQ and VL): byte arithmetic and transposition on
// 64-byte vectors. The helpers are compiled for AVX-512 whatever region includes this header, and
// may be called only from inside an OMBRIX_TARGET_AVX512 region.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "simd/target.hpp"

OMBRIX_TARGET_AVX512

namespace ombrix::simd::avx512 {

#define OMBRIX_AVX512_INLINE [[gnu::always_inline]] inline

// floor((a + b + c + d) / 4) for each byte, without widening. With u and w the rounded-up means
// of (a, b) and (c, d), a + b + c + d = 2 u + 2 w - o1 - o2 (o the low bit of a ^ b and of c ^ d),
// and with u + w = 2 k + o3 the floor of a quarter is k - (o1 | o2 when o3 = 0), which is the
// rounded-up mean of u and w less (o1 | o2 | o3). Lanes set in `keep` take `kept` instead.
OMBRIX_AVX512_INLINE __m512i mean_of_four_u8(__m512i a, __m512i b, __m512i c, __m512i d, __mmask64 keep, __m512i kept) {
    const __m512i u = _mm512_avg_epu8(a, b), w = _mm512_avg_epu8(c, d);
    // 0xF6: x | (y ^ z).
    const __m512i odd =
        _mm512_ternarylogic_epi32(_mm512_ternarylogic_epi32(_mm512_xor_si512(a, b), c, d, 0xF6), u, w, 0xF6);
    return _mm512_mask_sub_epi8(kept, ~keep, _mm512_avg_epu8(u, w), _mm512_and_si512(odd, _mm512_set1_epi8(1)));
}

// Where transpose_16x16 leaves column c: the 4-bit reversal of c.
constexpr int transposed_row(int c) { return ((c & 1) << 3) | ((c & 2) << 1) | ((c & 4) >> 1) | ((c & 8) >> 3); }

// One round of the transposition, as simd::avx2::interleave_pairs: the `Bits`-wide elements of
// rows 2i and 2i + 1 interleaved, the low halves to row i and the high halves to row i + 8.
template <int Bits>
OMBRIX_AVX512_INLINE void interleave_pairs(const __m512i (&from)[16], __m512i (&to)[16]) {
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
        const __m512i a = from[2 * i], b = from[2 * i + 1];
        if constexpr (Bits == 8) {
            to[i] = _mm512_unpacklo_epi8(a, b);
            to[i + 8] = _mm512_unpackhi_epi8(a, b);
        } else if constexpr (Bits == 16) {
            to[i] = _mm512_unpacklo_epi16(a, b);
            to[i + 8] = _mm512_unpackhi_epi16(a, b);
        } else if constexpr (Bits == 32) {
            to[i] = _mm512_unpacklo_epi32(a, b);
            to[i + 8] = _mm512_unpackhi_epi32(a, b);
        } else {
            to[i] = _mm512_unpacklo_epi64(a, b);
            to[i + 8] = _mm512_unpackhi_epi64(a, b);
        }
    }
}

// Four 16 x 16 byte blocks at once, one per 128-bit lane: byte c of row r ends up as byte r of
// m[transposed_row(c)], in the same lane.
OMBRIX_AVX512_INLINE void transpose_16x16(__m512i (&m)[16]) {
    __m512i t[16];
    interleave_pairs<8>(m, t);
    interleave_pairs<16>(t, m);
    interleave_pairs<32>(m, t);
    interleave_pairs<64>(t, m);
}

}  // namespace ombrix::simd::avx512

OMBRIX_TARGET_END
