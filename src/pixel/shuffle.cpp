// The pixel-pair shuffle and the four-point blur.
//
// The blur is defined by a column-by-column visit in place, which on a row-major buffer strides a
// whole row per pixel. A row-by-row visit gives the same result whenever the two offsets do not
// have opposite signs. Take a sample q ≠ p of pixel p = (x, y) and say it is "done" when it has
// been visited before p, so that p reads its new value. With dx, dy ≥ 0 every sample lies in a
// column ≥ x and a row ≥ y (clamping never moves it below either), so in both orders no sample of p
// is done. With dx, dy ≤ 0 every sample lies in a column ≤ x and a row ≤ y, so in both orders every
// sample other than p itself is done. Only mixed signs (one sample to the upper right or lower left)
// tell the two orders apart; those run row by row too, with the original rows that the column
// visit would still see saved in a ring.
#include "pixel/shuffle.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "simd/avx2.hpp"
#include "simd/avx512.hpp"
#include "simd/dispatch.hpp"
#include "store/memory.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ombrix::pixel {

namespace {

namespace v = simd::avx2;

// A pair as a 48-bit little-endian number: pixel A in bits 0..23, pixel B in bits 24..47.
constexpr std::uint64_t low24 = 0xFFFFFF;

struct SwapInvertFirst {  // mode 0: (B inverted, A)
    std::uint64_t operator()(std::uint64_t v) const noexcept { return (v & low24) << 24 | (~(v >> 24) & low24); }
};
struct InvertFirst {  // mode 1: (A inverted, B)
    std::uint64_t operator()(std::uint64_t v) const noexcept { return v ^ low24; }
};
struct Swap {  // mode 2: (B, A)
    std::uint64_t operator()(std::uint64_t v) const noexcept { return (v & low24) << 24 | v >> 24; }
};

// Applies `f` to `pairs` consecutive pairs from `p`, four pairs (three 64-bit words) at a time.
template <class Pair>
void for_each_pair(std::uint8_t* p, std::size_t pairs, Pair f) noexcept {
    constexpr std::uint64_t low48 = 0xFFFFFFFFFFFF;
    std::size_t k = 0;
    for (; k + 4 <= pairs; k += 4, p += 24) {
        std::uint64_t w[3];
        std::memcpy(w, p, 24);
        const std::uint64_t a = f(w[0] & low48);
        const std::uint64_t b = f(w[0] >> 48 | (w[1] & 0xFFFFFFFF) << 16);
        const std::uint64_t c = f(w[1] >> 32 | (w[2] & 0xFFFF) << 32);
        const std::uint64_t d = f(w[2] >> 16);
        w[0] = a | b << 48;
        w[1] = b >> 16 | c << 32;
        w[2] = c >> 32 | d << 16;
        std::memcpy(p, w, 24);
    }
    for (; k < pairs; ++k, p += 6) {
        std::uint64_t v = 0;
        std::memcpy(&v, p, 6);
        v = f(v);
        std::memcpy(p, &v, 6);
    }
}

#if defined(__SSE2__)
// Eight pairs (48 bytes, three vectors) at a time. With `next` the stream moved three bytes
// toward its start and `prev` three bytes toward its end, a pair's new A bytes come from `next`
// (B) and its new B bytes from `prev` (A); the bytes shifted in across a group's ends land only
// where they are masked off. Returns the number of pairs done.
template <int mode>
std::size_t shuffle_groups_of_eight(std::uint8_t* p, std::size_t pairs) noexcept {
    alignas(16) std::uint8_t first_half[48];
    for (int k = 0; k < 48; ++k) first_half[k] = k % 6 < 3 ? 0xFF : 0;
    const __m128i a0 = _mm_load_si128(reinterpret_cast<const __m128i*>(first_half));
    const __m128i a1 = _mm_load_si128(reinterpret_cast<const __m128i*>(first_half + 16));
    const __m128i a2 = _mm_load_si128(reinterpret_cast<const __m128i*>(first_half + 32));
    const std::size_t groups = pairs / 8;
    for (std::size_t g = 0; g < groups; ++g, p += 48) {
        auto* v = reinterpret_cast<__m128i*>(p);
        const __m128i v0 = _mm_loadu_si128(v);
        const __m128i v1 = _mm_loadu_si128(v + 1);
        const __m128i v2 = _mm_loadu_si128(v + 2);
        __m128i o0, o1, o2;
        if constexpr (mode == 1) {
            o0 = _mm_xor_si128(v0, a0);
            o1 = _mm_xor_si128(v1, a1);
            o2 = _mm_xor_si128(v2, a2);
        } else {
            const __m128i next0 = _mm_or_si128(_mm_srli_si128(v0, 3), _mm_slli_si128(v1, 13));
            const __m128i next1 = _mm_or_si128(_mm_srli_si128(v1, 3), _mm_slli_si128(v2, 13));
            const __m128i next2 = _mm_srli_si128(v2, 3);
            const __m128i prev0 = _mm_slli_si128(v0, 3);
            const __m128i prev1 = _mm_or_si128(_mm_slli_si128(v1, 3), _mm_srli_si128(v0, 13));
            const __m128i prev2 = _mm_or_si128(_mm_slli_si128(v2, 3), _mm_srli_si128(v1, 13));
            o0 = _mm_or_si128(_mm_and_si128(a0, next0), _mm_andnot_si128(a0, prev0));
            o1 = _mm_or_si128(_mm_and_si128(a1, next1), _mm_andnot_si128(a1, prev1));
            o2 = _mm_or_si128(_mm_and_si128(a2, next2), _mm_andnot_si128(a2, prev2));
            if constexpr (mode == 0) {
                o0 = _mm_xor_si128(o0, a0);
                o1 = _mm_xor_si128(o1, a1);
                o2 = _mm_xor_si128(o2, a2);
            }
        }
        _mm_storeu_si128(v, o0);
        _mm_storeu_si128(v + 1, o1);
        _mm_storeu_si128(v + 2, o2);
    }
    return groups * 8;
}
#else
template <int mode>
std::size_t shuffle_groups_of_eight(std::uint8_t*, std::size_t) noexcept {
    return 0;
}
#endif

template <int mode, class Pair>
void shuffle_all_pairs(std::uint8_t* p, std::size_t pairs, Pair f) noexcept {
    const std::size_t done = shuffle_groups_of_eight<mode>(p, pairs);
    for_each_pair(p + done * 6, pairs - done, f);
}

// out[k] = (a[k] + b[k] + c[k] + d[k]) >> 2 for k < n. `out` must not overlap the inputs.
void mean_of_four(std::uint8_t* out, const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* c,
                  const std::uint8_t* d, std::size_t n) noexcept {
    std::size_t k = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; k + 16 <= n; k += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
        const __m128i vc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + k));
        const __m128i vd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + k));
        const __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero)),
                                         _mm_add_epi16(_mm_unpacklo_epi8(vc, zero), _mm_unpacklo_epi8(vd, zero)));
        const __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero)),
                                         _mm_add_epi16(_mm_unpackhi_epi8(vc, zero), _mm_unpackhi_epi8(vd, zero)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                         _mm_packus_epi16(_mm_srli_epi16(lo, 2), _mm_srli_epi16(hi, 2)));
    }
#endif
    for (; k < n; ++k) out[k] = static_cast<std::uint8_t>((a[k] + b[k] + c[k] + d[k]) >> 2);
}

// The rows a row of the blur reads besides its own: pixel x of `row` becomes the mean of row[x],
// row[sx], c[x] and d[sx], sx being x + dx clamped into the row. For the row-by-row visit c and d
// are both row y + dy (clamped); the visit with mixed signs takes one of them from saved rows.
struct SampleRows {
    const std::uint8_t* c;
    const std::uint8_t* d;
};

// Pixels [x0, x1) of `row` whose horizontal samples are all the one column `column`.
void mean_with_column(std::uint8_t* out, const std::uint8_t* row, SampleRows s, std::int64_t x0, std::int64_t x1,
                      std::int64_t column) noexcept {
    const std::uint8_t* b = row + column * 3;
    const std::uint8_t* d = s.d + column * 3;
    for (std::int64_t x = x0; x < x1; ++x, out += 3) {
        const std::uint8_t* a = row + x * 3;
        const std::uint8_t* c = s.c + x * 3;
        for (int k = 0; k < 3; ++k) out[k] = static_cast<std::uint8_t>((a[k] + b[k] + c[k] + d[k]) >> 2);
    }
}

// Pixels [begin, end) of a row `width` wide, with the result of visiting them one by one, left to
// right, in place. Each chunk is computed into a scratch block from what the buffer holds and then
// stored, which matches the one-by-one visit as long as no sample of a chunk lies in the chunk at
// another pixel than its own base: with dx ≥ 0 samples lie at or right of their base, so the chunk
// sees them unvisited as it should; with dx < 0 chunks are at most |dx| wide and pixel 0 (which
// samples itself) is a chunk of its own, so every sample left of its base is already stored.
void blur_span(std::uint8_t* row, SampleRows s, std::int64_t width, std::int64_t dx, std::int64_t begin,
               std::int64_t end) noexcept {
    if (dx == -1 && begin < end) {
        // Each pixel's horizontal sample is the pixel just written, so carry its new value in
        // registers instead of reading it back: the chain from one pixel to the next is then an
        // add and a shift rather than a store and a load. The other two samples are read from the
        // buffer after the previous store, as they may be the row itself (dy = 0).
        std::uint8_t* p = row + begin * 3;
        const std::uint8_t* q = row + std::max<std::int64_t>(begin - 1, 0) * 3;
        unsigned q0 = q[0], q1 = q[1], q2 = q[2];
        const std::uint8_t* t = s.c + begin * 3;
        const std::uint8_t* u = s.d + std::max<std::int64_t>(begin - 1, 0) * 3;
        for (std::int64_t x = begin; x < end; ++x, p += 3, t += 3) {
            q0 = (p[0] + q0 + t[0] + u[0]) >> 2;
            q1 = (p[1] + q1 + t[1] + u[1]) >> 2;
            q2 = (p[2] + q2 + t[2] + u[2]) >> 2;
            p[0] = static_cast<std::uint8_t>(q0);
            p[1] = static_cast<std::uint8_t>(q1);
            p[2] = static_cast<std::uint8_t>(q2);
            u = s.d + x * 3;
        }
        return;
    }
    if (dx < 0 && dx > -16) {
        // Chunks this narrow gain nothing: visit the pixels one by one in place. Each channel is
        // read from all four samples before it is written.
        for (std::int64_t x = begin; x < end; ++x) {
            const std::int64_t sx = std::max<std::int64_t>(x + dx, 0);
            std::uint8_t* p = row + x * 3;
            const std::uint8_t* q = row + sx * 3;
            const std::uint8_t* t = s.c + x * 3;
            const std::uint8_t* u = s.d + sx * 3;
            for (int k = 0; k < 3; ++k) p[k] = static_cast<std::uint8_t>((p[k] + q[k] + t[k] + u[k]) >> 2);
        }
        return;
    }
    constexpr std::int64_t scratch_pixels = 256;
    std::uint8_t scratch[scratch_pixels * 3];
    const std::int64_t chunk = dx >= 0 ? scratch_pixels : std::min(scratch_pixels, -dx);
    std::int64_t x0 = begin;
    while (x0 < end) {
        const std::int64_t x1 = (dx < 0 && x0 == 0) ? 1 : std::min(x0 + chunk, end);
        // Bases whose horizontal sample x + dx lies inside the row: [linear_first, linear_end).
        const std::int64_t linear_first = std::clamp(-dx, x0, x1);
        const std::int64_t linear_end = std::clamp(width - dx, linear_first, x1);
        std::uint8_t* out = scratch;
        mean_with_column(out, row, s, x0, linear_first, 0);
        out += (linear_first - x0) * 3;
        const auto n = static_cast<std::size_t>(linear_end - linear_first) * 3;
        if (n) {
            mean_of_four(out, row + linear_first * 3, row + (linear_first + dx) * 3, s.c + linear_first * 3,
                         s.d + (linear_first + dx) * 3, n);
        }
        out += n;
        mean_with_column(out, row, s, linear_end, x1, width - 1);
        std::memcpy(row + x0 * 3, scratch, static_cast<std::size_t>(x1 - x0) * 3);
        x0 = x1;
    }
}

// ---- offset dx = 1: whole vectors in place ------------------------------------------------------
//
// Byte i of a row below its last pixel becomes the mean of row[i], row[i + 3], c[i] and d[i + 3]
// (c and d as in SampleRows). Each vector is loaded before it is stored, and its samples to the
// right lie at most three bytes into the next vector, still unvisited: the one-by-one visit's
// result. When `save` is not null the row's original bytes go there too, as they are read; `save`
// may be `d` itself, as byte i is saved only after byte i + 3 of `d` has been read. The vector
// passes return how many of the first `n` bytes they did.

OMBRIX_TARGET_AVX2

std::size_t blur_right_avx2(std::uint8_t* row, const std::uint8_t* c, const std::uint8_t* d, std::uint8_t* save,
                            std::size_t n) {
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + i + 3));
        const __m256i below = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + i));
        const __m256i corner = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + 3));
        if (save) _mm256_storeu_si256(reinterpret_cast<__m256i*>(save + i), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i), v::mean_of_four_u8(a, b, below, corner));
    }
    return i;
}

OMBRIX_TARGET_END

OMBRIX_TARGET_AVX512

std::size_t blur_right_avx512(std::uint8_t* row, const std::uint8_t* c, const std::uint8_t* d, std::uint8_t* save,
                              std::size_t n) {
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i a = _mm512_loadu_si512(row + i);
        const __m512i b = _mm512_loadu_si512(row + i + 3);
        const __m512i below = _mm512_loadu_si512(c + i);
        const __m512i corner = _mm512_loadu_si512(d + i + 3);
        if (save) _mm512_storeu_si512(save + i, a);
        _mm512_storeu_si512(row + i, simd::avx512::mean_of_four_u8(a, b, below, corner, 0, a));
    }
    return i;
}

OMBRIX_TARGET_END

// A whole row `width` pixels wide with dx = 1. The last pixel samples itself, and (x, sy) for its
// corner: c there.
void blur_row_right(std::uint8_t* row, const std::uint8_t* c, const std::uint8_t* d, std::uint8_t* save,
                    std::int64_t width) noexcept {
    const auto n = static_cast<std::size_t>(width - 1) * 3;
    simd::run_widest([&] { return blur_right_avx512(row, c, d, save, n); },
                     [&] { return blur_right_avx2(row, c, d, save, n); },
                     [&](std::size_t done) {
                         for (std::size_t i = done; i < n; ++i) {
                             if (save) save[i] = row[i];
                             row[i] = static_cast<std::uint8_t>((row[i] + row[i + 3] + c[i] + d[i + 3]) >> 2);
                         }
                     });
    for (std::size_t i = n; i < n + 3; ++i) {
        if (save) save[i] = row[i];
        row[i] = static_cast<std::uint8_t>((2 * row[i] + 2 * c[i]) >> 2);
    }
}

// ---- offsets (-1, -1): sixteen rows at once along a wavefront ---------------------------------------
//
// With offsets (-1, -1) pixel (x, y) becomes the mean of its old value and the new values of
// (x - 1, y), (x, y - 1) and (x - 1, y - 1): each row is one long chain. A band of rows runs as
// sixteen 16-bit lanes, lane j holding row y0 - 1 + j and working on column t - j at step t, so
// that at each step a lane finds its left neighbour in its own previous result and its upper
// neighbours in the previous results of the lane before it. Lane 0 is the row above the band,
// already final, and only feeds lane 1. Each pixel is computed from the same four values as in the
// row-by-row visit, so the bytes are the same.
//
// The buffer is read and written in tiles of sixteen steps: lane j's 48 bytes from column t0 - j,
// transposed so that a step's channel is one vector. A lane whose column lies outside
// [1, width - 1] keeps the byte it read, which for columns past either end of its row is a byte of
// the row before or after, written back unchanged; with width >= 32 such a byte is never one that
// another lane changes within the same tile. Column 0 of the band is done first, row by row.

OMBRIX_TARGET_AVX2

// Lane j of the result is lane j - 1 of v (lane 0 is zero).
OMBRIX_AVX2_INLINE __m256i lane_down(__m256i v) {
    return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 14);
}

constexpr int band_lanes = 16;
// A tile: 32 steps of every lane, 96 bytes of its row.
constexpr int tile_steps = 32;
constexpr int tile_bytes = 3 * tile_steps;

// One band. Same signs (Mixed false): lane j is row y0 - 1 + j, at column t - j, and pixel (x, y)
// takes its old value and the new values of (x - 1, y), (x, y - 1) and (x - 1, y - 1). Mixed
// signs, offsets (-1, 1), rows visited upward: lane j is row y0 + 1 - j, at column t, and pixel
// (x, y) takes its old value, the new value of (x - 1, y), the original of (x, y + 1) and the new
// value of (x - 1, y + 1); lane 0's originals come from `below_original`, and lane 15's are saved
// to `top_original` for the band above. Every lane row lies inside the image, and
// 32 <= width <= 32000.
template <bool Mixed>
void blur_band_avx2(std::uint8_t* const (&rows)[band_lanes], std::int64_t width, const std::uint8_t* end,
                    const std::uint8_t* below_original, std::uint8_t* top_original) {
    constexpr int skew = Mixed ? 0 : 1;
    // Column 0 first, each row from the one its lane follows.
    if constexpr (Mixed) {
        std::memcpy(top_original, rows[band_lanes - 1], 3);
        for (int j = band_lanes - 1; j >= 1; --j) {
            const std::uint8_t* next = j == 1 ? below_original : rows[j - 1];
            for (int k = 0; k < 3; ++k)
                rows[j][k] = static_cast<std::uint8_t>((rows[j][k] + rows[j][k] + next[k] + next[k]) >> 2);
        }
    } else {
        for (int j = 1; j < band_lanes; ++j) {
            for (int k = 0; k < 3; ++k)
                rows[j][k] =
                    static_cast<std::uint8_t>((rows[j][k] + rows[j][k] + rows[j - 1][k] + rows[j - 1][k]) >> 2);
        }
    }
    const __m256i lane_index = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m256i lane_skew = skew ? lane_index : _mm256_setzero_si256();
    const __m256i first_lane = _mm256_cmpeq_epi16(lane_index, _mm256_setzero_si256());
    const __m256i last_column = _mm256_set1_epi16(static_cast<short>(width - 1));
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
    __m256i result[3], upper[3];
    for (int c = 0; c < 3; ++c) result[c] = upper[c] = _mm256_setzero_si256();
    const std::int64_t steps = width + skew * (band_lanes - 1);
    // A tile whose lanes (but lane 0) all lie inside [1, width - 1] needs no per-step test.
    const auto tile = [&]<bool Edge>(std::int64_t t0) __attribute__((always_inline)) {
        // m[k][j]: bytes 32 k .. 32 k + 31 of lane j's 96; transposed, each 128-bit half turns.
        __m256i m[3][16];
        alignas(32) std::uint8_t spill[tile_bytes], below[tile_bytes];
#pragma GCC unroll 16
        for (int j = 0; j < band_lanes; ++j) {
            const std::uint8_t* from = rows[j] + 3 * (t0 - skew * j);
            if (from + tile_bytes > end) {
                std::memcpy(spill, from, static_cast<std::size_t>(end - from));
                from = spill;
            }
#pragma GCC unroll 3
            for (int k = 0; k < 3; ++k) m[k][j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + 32 * k));
            if constexpr (Mixed) {
                if (j == band_lanes - 1) {
                    const std::size_t first = t0 == 0 ? 3 : 0, at = static_cast<std::size_t>(3 * t0);
                    std::memcpy(top_original + at + first, from + first,
                                std::min<std::size_t>(tile_bytes, row_bytes - at) - first);
                }
            }
        }
        if constexpr (Mixed) {
            const auto at = static_cast<std::size_t>(3 * t0);
            std::memcpy(below, below_original + at, std::min<std::size_t>(tile_bytes, row_bytes - at));
        }
        v::transpose_16x16(m[0]);
        v::transpose_16x16(m[1]);
        v::transpose_16x16(m[2]);
        // Byte p of every lane: half (p % 32) / 16 of m[p / 32][transposed_row(p % 16)].
        const auto lanes_at = [&](int p) __attribute__((always_inline)) {
            const __m256i both = m[p / 32][v::transposed_row(p % 16)];
            return _mm256_cvtepu8_epi16(p % 32 < 16 ? _mm256_castsi256_si128(both) : _mm256_extracti128_si256(both, 1));
        };
        __m128i out[tile_bytes];
#pragma GCC unroll 32
        for (int s = 0; s < tile_steps; ++s) {
            const __m256i column = _mm256_sub_epi16(_mm256_set1_epi16(static_cast<short>(t0 + s)), lane_skew);
            const __m256i keep =
                Edge ? _mm256_or_si256(first_lane, _mm256_or_si256(_mm256_cmpgt_epi16(_mm256_set1_epi16(1), column),
                                                                   _mm256_cmpgt_epi16(column, last_column)))
                     : first_lane;
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c) {
                const int at = 3 * s + c;
                const __m256i read = lanes_at(at);
                const __m256i before = lane_down(result[c]);
                __m256i sum;
                if constexpr (Mixed) {
                    const __m256i original = _mm256_insert_epi16(read, below[at], 0);
                    sum = _mm256_add_epi16(_mm256_add_epi16(read, lane_down(original)),
                                           _mm256_add_epi16(result[c], before));
                } else {
                    sum = _mm256_add_epi16(_mm256_add_epi16(read, upper[c]), _mm256_add_epi16(result[c], before));
                    upper[c] = before;
                }
                result[c] = _mm256_blendv_epi8(_mm256_srli_epi16(sum, 2), read, keep);
                out[at] = _mm_packus_epi16(_mm256_castsi256_si128(result[c]), _mm256_extracti128_si256(result[c], 1));
            }
        }
        __m256i back[3][16];
#pragma GCC unroll 3
        for (int k = 0; k < 3; ++k) {
#pragma GCC unroll 16
            for (int c = 0; c < 16; ++c) back[k][c] = _mm256_set_m128i(out[32 * k + 16 + c], out[32 * k + c]);
            v::transpose_16x16(back[k]);
        }
#pragma GCC unroll 16
        for (int j = 0; j < band_lanes; ++j) {
            std::uint8_t* to = rows[j] + 3 * (t0 - skew * j);
            const int r = v::transposed_row(j);
            const bool clipped = to + tile_bytes > end;
            std::uint8_t* const into = clipped ? spill : to;
#pragma GCC unroll 3
            for (int k = 0; k < 3; ++k) _mm256_storeu_si256(reinterpret_cast<__m256i*>(into + 32 * k), back[k][r]);
            if (clipped) std::memcpy(to, spill, static_cast<std::size_t>(end - to));
        }
    };
    for (std::int64_t t0 = 0; t0 < steps; t0 += tile_steps) {
        if (t0 >= band_lanes && t0 + tile_steps <= width)
            tile.template operator()<false>(t0);
        else
            tile.template operator()<true>(t0);
    }
}

// Rows y0 to y0 + 14 of offsets (-1, -1) (y0 >= 1).
void blur_band_up_left_avx2(std::uint8_t* rgb, std::size_t stride, std::int64_t width, std::int64_t y0,
                            const std::uint8_t* end) {
    std::uint8_t* rows[band_lanes];
    for (int j = 0; j < band_lanes; ++j) rows[j] = rgb + static_cast<std::size_t>(y0 - 1 + j) * stride;
    blur_band_avx2<false>(rows, width, end, nullptr, nullptr);
}

// Rows y0 down to y0 - 14 of offsets (-1, 1) (y0 + 1 inside the image, its original saved).
void blur_band_down_left_avx2(std::uint8_t* rgb, std::size_t stride, std::int64_t width, std::int64_t y0,
                              const std::uint8_t* end, const std::uint8_t* below_original, std::uint8_t* top_original) {
    std::uint8_t* rows[band_lanes];
    for (int j = 0; j < band_lanes; ++j) rows[j] = rgb + static_cast<std::size_t>(y0 + 1 - j) * stride;
    blur_band_avx2<true>(rows, width, end, below_original, top_original);
}

OMBRIX_TARGET_END

// ---- the same bands on AVX-512: sixty-four rows, one byte per lane -----------------------------------
//
// Read as bytes, both recurrences have stride 3: byte b of a row takes its old value, the new byte
// b - 3 of its own row and bytes b and b - 3 (or their originals) of the row it follows, whichever
// channel b is. So a band can step byte by byte rather than pixel by pixel, each lane one byte of
// one row, and 64 rows fit a vector as long as the mean is taken in bytes
// (simd::avx512::mean_of_four_u8). Lane j works on byte s - 3 j of its row at step s, for either
// sign: one column behind the lane it follows, whose byte in the same column was made (or read)
// three steps before and the one to its left six steps before.
//
// A tile is 64 steps, a 64-byte window of every lane's row. The windows are turned by 4 x 4
// transpositions of 128-bit lanes and then by 16 x 16 byte transpositions, chunk by chunk, so that
// lanes 16 q to 16 q + 15 sit in 128-bit lane q, and back again (or stored in 16-byte pieces, see
// `crowded`). A lane whose column lies outside [1, width - 1] keeps the byte it read, as in the
// narrower bands. Lane j's 64 bytes start 3 (width - 1) bytes after lane j - 1's (3 (width + 1)
// before them with mixed signs), so for widths of 23 and more no lane writes a byte another lane
// of the same tile reads: a byte kept from another row is written back as it was. Loads and
// stores reaching outside [begin, end) are masked.

OMBRIX_TARGET_AVX512_VBMI

namespace w = simd::avx512;

constexpr int wide_lanes = 64;
constexpr int wide_tile_steps = 64;

// The first `n` bytes of 64 (none for n <= 0).
inline __mmask64 first_bytes(std::ptrdiff_t n) {
    return n >= 64 ? ~__mmask64{0} : n <= 0 ? __mmask64{0} : (__mmask64{1} << n) - 1;
}

// The bytes of the 64 at `p` that lie inside [begin, end).
inline __mmask64 bytes_inside(const std::uint8_t* p, const std::uint8_t* begin, const std::uint8_t* end) {
    return first_bytes(end - p) & ~first_bytes(begin - p);
}

// Lane j of the result is lane j - 1 of v; lane 0 is zero. One byte permute.
[[gnu::always_inline]] inline __m512i bytes_up_one_lane(__m512i v) {
    const __m512i from =
        _mm512_set_epi8(62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43, 42, 41, 40, 39,
                        38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15,
                        14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0);
    return _mm512_maskz_permutexvar_epi8(~__mmask64{1}, from, v);
}

// Rows (a, b, c, d) of 128-bit lanes become columns.
[[gnu::always_inline]] inline void transpose_4x4_lanes(__m512i& a, __m512i& b, __m512i& c, __m512i& d) {
    const __m512i ab_low = _mm512_shuffle_i64x2(a, b, 0x44), ab_high = _mm512_shuffle_i64x2(a, b, 0xEE);
    const __m512i cd_low = _mm512_shuffle_i64x2(c, d, 0x44), cd_high = _mm512_shuffle_i64x2(c, d, 0xEE);
    a = _mm512_shuffle_i64x2(ab_low, cd_low, 0x88);
    b = _mm512_shuffle_i64x2(ab_low, cd_low, 0xDD);
    c = _mm512_shuffle_i64x2(ab_high, cd_high, 0x88);
    d = _mm512_shuffle_i64x2(ab_high, cd_high, 0xDD);
}

// One band of 64 lanes, laid out as blur_band_avx2's sixteen: same signs (Mixed false), lane j is
// row y0 - 1 + j; mixed signs, lane j is row y0 + 1 - j, lane 63's originals saved to
// `top_original` before the band starts and lane 0's read from `below_original`. Every lane row
// lies inside the image, and width >= 64.
template <bool Mixed>
void blur_band_avx512(std::uint8_t* const (&rows)[wide_lanes], std::int64_t width, const std::uint8_t* begin,
                      const std::uint8_t* end, const std::uint8_t* below_original, std::uint8_t* top_original) {
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
    // Column 0 first, each row from the one its lane follows.
    if constexpr (Mixed) {
        std::memcpy(top_original, rows[wide_lanes - 1], row_bytes);
        for (int j = wide_lanes - 1; j >= 1; --j) {
            const std::uint8_t* next = j == 1 ? below_original : rows[j - 1];
            for (int k = 0; k < 3; ++k)
                rows[j][k] = static_cast<std::uint8_t>((rows[j][k] + rows[j][k] + next[k] + next[k]) >> 2);
        }
    } else {
        for (int j = 1; j < wide_lanes; ++j) {
            for (int k = 0; k < 3; ++k)
                rows[j][k] =
                    static_cast<std::uint8_t>((rows[j][k] + rows[j][k] + rows[j - 1][k] + rows[j - 1][k]) >> 2);
        }
    }
    // Whether the image is too large to stay in the last-level cache (32 MiB on the machines
    // measured) between one call and the next; below that, prefetching measured slower.
    const bool from_memory = end - begin > std::ptrdiff_t{32} << 20;
    // made[s % 3]: the bytes made at step s; lifted[s % 6]: the same moved up one lane; and with
    // mixed signs lifted_read[s % 3]: the bytes read at step s moved up one lane, lane 1 taking
    // the saved original. Lanes keep what they read until they reach column 1, so the zeros here
    // are never used.
    __m512i made[3], lifted[6], lifted_read[3];
    for (auto& r : made) r = _mm512_setzero_si512();
    for (auto& r : lifted) r = _mm512_setzero_si512();
    for (auto& r : lifted_read) r = _mm512_setzero_si512();
    // staged[k][r]: chunk k (bytes 16 k to 16 k + 15) of rows r, 16 + r, 32 + r and 48 + r.
    __m512i staged[4][16];
    const auto tile = [&]<bool Edge, bool Pieces>(std::int64_t s0) __attribute__((always_inline)) {
        const auto at = [&](int j) { return rows[j] + (s0 - 3 * j); };
        if (!Edge && from_memory) {
            // 64 rows are more streams than the hardware follows: ask for each row's line four
            // tiles ahead, into the level-2 cache (the level-1 sets may be crowded, see below).
#pragma GCC unroll 64
            for (int j = 0; j < wide_lanes; ++j)
                _mm_prefetch(reinterpret_cast<const char*>(at(j) + 4 * wide_tile_steps), _MM_HINT_T1);
        }
#pragma GCC unroll 16
        for (int r = 0; r < 16; ++r) {
            __m512i v[4];
#pragma GCC unroll 4
            for (int q = 0; q < 4; ++q) {
                const std::uint8_t* from = at(16 * q + r);
                v[q] = Edge ? _mm512_maskz_loadu_epi8(bytes_inside(from, begin, end), from) : _mm512_loadu_si512(from);
            }
            transpose_4x4_lanes(v[0], v[1], v[2], v[3]);
#pragma GCC unroll 4
            for (int k = 0; k < 4; ++k) staged[k][r] = v[k];
        }
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            __m512i m[16];
#pragma GCC unroll 16
            for (int r = 0; r < 16; ++r) m[r] = staged[k][r];
            w::transpose_16x16(m);
            __m512i out[16];
#pragma GCC unroll 16
            for (int p = 0; p < 16; ++p) {
                const int s = 16 * k + p;  // step within the tile
                const __m512i read = m[w::transposed_row(p)];
                __mmask64 keep = 1;
                if constexpr (Edge) {
                    // Lanes j >= column are left of column 1, lanes j < column - width + 1 right of
                    // the last.
                    const std::int64_t column = (s0 + s) / 3;
                    if (column <= 0)
                        keep = ~__mmask64{0};
                    else if (column < wide_lanes)
                        keep |= ~__mmask64{0} << column;
                    const std::int64_t past = column - width + 1;
                    if (past >= wide_lanes)
                        keep = ~__mmask64{0};
                    else if (past > 0)
                        keep |= (__mmask64{1} << past) - 1;
                }
                __m512i result;
                if constexpr (Mixed) {
                    result = w::mean_of_four_u8(read, made[s % 3], lifted_read[s % 3], lifted[s % 6], keep, read);
                    const auto b = static_cast<std::size_t>(s0 + s);
                    const std::uint8_t below = !Edge || b < row_bytes ? below_original[b] : 0;
                    lifted_read[s % 3] = bytes_up_one_lane(_mm512_mask_set1_epi8(read, 1, static_cast<char>(below)));
                } else {
                    result = w::mean_of_four_u8(read, made[s % 3], lifted[(s + 3) % 6], lifted[s % 6], keep, read);
                }
                lifted[s % 6] = bytes_up_one_lane(result);
                made[s % 3] = result;
                out[p] = result;
            }
            w::transpose_16x16(out);
#pragma GCC unroll 16
            for (int r = 0; r < 16; ++r) staged[k][r] = out[w::transposed_row(r)];
        }
        if constexpr (!Pieces) {
#pragma GCC unroll 16
            for (int r = 0; r < 16; ++r) {
                __m512i v[4] = {staged[0][r], staged[1][r], staged[2][r], staged[3][r]};
                transpose_4x4_lanes(v[0], v[1], v[2], v[3]);
#pragma GCC unroll 4
                for (int q = 0; q < 4; ++q) {
                    std::uint8_t* to = at(16 * q + r);
                    if constexpr (Edge)
                        _mm512_mask_storeu_epi8(to, bytes_inside(to, begin, end), v[q]);
                    else
                        _mm512_storeu_si512(to, v[q]);
                }
            }
        } else {
#pragma GCC unroll 16
            for (int r = 0; r < 16; ++r) {
#pragma GCC unroll 4
                for (int q = 0; q < 4; ++q) {
                    std::uint8_t* to = at(16 * q + r);
#pragma GCC unroll 4
                    for (int k = 0; k < 4; ++k) {
                        // Lane q alone, stored where it belongs.
                        _mm512_mask_storeu_epi8(to + 16 * k - 16 * q, __mmask64{0xFFFF} << (16 * q), staged[k][r]);
                    }
                }
            }
        }
        // Step s of the next tile is step s + 64 of this one.
        const __m512i m0 = made[0], r0 = lifted_read[0];
        made[0] = made[1], made[1] = made[2], made[2] = m0;
        lifted_read[0] = lifted_read[1], lifted_read[1] = lifted_read[2], lifted_read[2] = r0;
        const __m512i l0 = lifted[0], l1 = lifted[1];
        lifted[0] = lifted[4], lifted[1] = lifted[5], lifted[4] = lifted[2], lifted[5] = lifted[3];
        lifted[2] = l0, lifted[3] = l1;
    };
    // Whether the lines the lanes' windows start in fall into fewer than 8 of the 64 sets of a
    // 48 KiB, 12-way level-1 cache (as they do when a row is close to a multiple of 4096 bytes
    // long): then the 128 lines a tile touches cannot all stay cached while it runs, and storing
    // the windows back in 16-byte pieces, each within one line or two, measured faster.
    std::uint64_t sets = 0;
    for (int j = 0; j < wide_lanes; ++j) {
        const auto line = (reinterpret_cast<std::uintptr_t>(rows[j]) - 3 * static_cast<std::uintptr_t>(j)) / 64;
        sets |= std::uint64_t{1} << (line % 64) | std::uint64_t{1} << ((line + 1) % 64);
    }
    const bool crowded = __builtin_popcountll(sets) < 8;
    // Lane 63 reaches the last column at step 3 (width + 62) + 2.
    const std::int64_t steps = 3 * (width + wide_lanes - 1);
    for (std::int64_t s0 = 0; s0 < steps; s0 += wide_tile_steps) {
        // Inner tiles: every lane but 0 inside [1, width - 1], lane 0 inside its row.
        if (s0 < 3 * wide_lanes || s0 + wide_tile_steps > static_cast<std::int64_t>(row_bytes))
            tile.template operator()<true, false>(s0);
        else if (crowded)
            tile.template operator()<false, true>(s0);
        else
            tile.template operator()<false, false>(s0);
    }
}

// Rows y0 to y0 + 62 of offsets (-1, -1) (y0 >= 1).
void blur_band_up_left_avx512(std::uint8_t* rgb, std::size_t stride, std::int64_t width, std::int64_t y0,
                              const std::uint8_t* end) {
    std::uint8_t* rows[wide_lanes];
    for (int j = 0; j < wide_lanes; ++j) rows[j] = rgb + static_cast<std::size_t>(y0 - 1 + j) * stride;
    blur_band_avx512<false>(rows, width, rgb, end, nullptr, nullptr);
}

// Rows y0 down to y0 - 62 of offsets (-1, 1) (y0 + 1 inside the image, its original saved).
void blur_band_down_left_avx512(std::uint8_t* rgb, std::size_t stride, std::int64_t width, std::int64_t y0,
                                const std::uint8_t* end, const std::uint8_t* below_original,
                                std::uint8_t* top_original) {
    std::uint8_t* rows[wide_lanes];
    for (int j = 0; j < wide_lanes; ++j) rows[j] = rgb + static_cast<std::size_t>(y0 + 1 - j) * stride;
    blur_band_avx512<true>(rows, width, rgb, end, below_original, top_original);
}

OMBRIX_TARGET_END

// Offsets of the same sign (or zero): rows in order, see the top of the file.
void blur_by_rows(std::uint8_t* rgb, std::int64_t width, std::int64_t height, std::int64_t dx,
                  std::int64_t dy) noexcept {
    const auto stride = static_cast<std::size_t>(width) * 3;
    const auto blur_rows = [&](std::int64_t from, std::int64_t to) {
        for (std::int64_t y = from; y < to; ++y) {
            const std::int64_t sy = std::clamp(y + dy, std::int64_t{0}, height - 1);
            const std::uint8_t* sample_row = rgb + static_cast<std::size_t>(sy) * stride;
            blur_span(rgb + static_cast<std::size_t>(y) * stride, {sample_row, sample_row}, width, dx, 0, width);
        }
    };
    if (dx == 1) {
        for (std::int64_t y = 0; y < height; ++y) {
            const std::int64_t sy = std::min(y + dy, height - 1);
            const std::uint8_t* sample_row = rgb + static_cast<std::size_t>(sy) * stride;
            blur_row_right(rgb + static_cast<std::size_t>(y) * stride, sample_row, sample_row, nullptr, width);
        }
        return;
    }
    if (dx != -1 || dy != -1 || width < 64) return blur_rows(0, height);
    blur_rows(0, 1);
    const std::uint8_t* const end = rgb + static_cast<std::size_t>(height) * stride;
    std::int64_t y = 1;
    // Narrower bands take the rows the wide ones leave; they keep columns in 16-bit lanes.
    const auto narrow_bands = [&] {
        if (width <= 32000) {
            for (; y + band_lanes - 1 <= height; y += band_lanes - 1)
                blur_band_up_left_avx2(rgb, stride, width, y, end);
        }
        return static_cast<std::size_t>(y - 1);
    };
    simd::run_widest(
        [&] {
            if (simd::avx512_vbmi_supported()) {
                for (; y + wide_lanes - 1 <= height; y += wide_lanes - 1)
                    blur_band_up_left_avx512(rgb, stride, width, y, end);
            }
            return narrow_bands();
        },
        narrow_bands, [&](std::size_t done) { blur_rows(1 + static_cast<std::int64_t>(done), height); });
}

// Offsets of opposite signs, row by row, with the originals that the column-by-column visit would
// still see kept in a ring of saved rows. Returns false, having changed nothing, when the ring's
// memory cannot be had.
//
// dx > 0 > dy, rows upward. Pixel (x, y) reads (x, sy) below it, which the column visit has
// replaced and so has the row visit; and (sx, y) and (sx, sy) to its right, which the column visit
// has not reached: (sx, y) lies in the row being visited, right of x and so still unvisited, and
// (sx, sy) is read from the saved original of row sy. Only the last column has sx = x, and there
// (sx, sy) is the replaced pixel.
//
// dx < 0 < dy, rows downward. Pixel (x, y) reads (sx, y) and (sx, sy) to its left, which the
// column visit has replaced and so has the downward row visit (row sy ≥ y is done); and (x, sy)
// above it, which the column visit has not reached, read from the saved original of row sy. Only
// column 0 has sx = x, and there (sx, sy) is the original pixel.
//
// Row sy lies at most |dy| rows from y, so a ring of |dy| + 1 rows (never more than the image)
// holds every original still needed.
bool blur_mixed_by_rows(std::uint8_t* rgb, std::int64_t width, std::int64_t height, std::int64_t dx,
                        std::int64_t dy) noexcept {
    const auto stride = static_cast<std::size_t>(width) * 3;
    const std::int64_t reach = dy < 0 ? -dy : dy;
    const std::int64_t ring_rows = std::min(reach, height - 1) + 1;
    void* const block = memory::allocate(static_cast<std::size_t>(ring_rows) * stride);
    if (!block) return false;
    struct Release {
        void* block;
        ~Release() { memory::release(block); }
    } release{block};
    auto* const ring = static_cast<std::uint8_t*>(block);
    auto saved = [&](std::int64_t y) { return ring + static_cast<std::size_t>(y % ring_rows) * stride; };
    auto image_row = [&](std::int64_t y) { return rgb + static_cast<std::size_t>(y) * stride; };

    if (dx == 1) {
        // The row's originals are saved as they are read, into the slot of the row whose originals
        // it reads: byte i is saved after byte i + 3 has been read from there, and never before
        // (see blur_row_right), so the ring needs |dy| rows, not |dy| + 1, and stays in the
        // first-level cache with the two rows being read. A row that samples itself (the top one)
        // reads its corners from itself.
        const std::int64_t slots = std::min(reach, height);
        const auto slot = [&](std::int64_t y) { return ring + static_cast<std::size_t>(y % slots) * stride; };
        for (std::int64_t y = 0; y < height; ++y) {
            std::uint8_t* row = image_row(y);
            const std::int64_t sy = std::max(y + dy, std::int64_t{0});
            blur_row_right(row, image_row(sy), sy == y ? row : slot(sy), slot(y), width);
        }
    } else if (dx > 0) {
        for (std::int64_t y = 0; y < height; ++y) {
            std::uint8_t* row = image_row(y);
            std::memcpy(saved(y), row, stride);
            const std::int64_t sy = std::max(y + dy, std::int64_t{0});
            blur_span(row, {image_row(sy), saved(sy)}, width, dx, 0, width - 1);
            blur_span(row, {image_row(sy), image_row(sy)}, width, dx, width - 1, width);
        }
    } else {
        const auto visit_row = [&](std::int64_t y) {
            std::uint8_t* row = image_row(y);
            std::memcpy(saved(y), row, stride);
            const std::int64_t sy = std::min(y + dy, height - 1);
            blur_span(row, {saved(sy), saved(sy)}, width, dx, 0, 1);
            blur_span(row, {saved(sy), image_row(sy)}, width, dx, 1, width);
        };
        std::int64_t y = height - 1;
        if (dx == -1 && dy == 1 && width >= 64 && height > band_lanes) {
            // The last row samples itself; above it, bands of 63 or fifteen rows, each saving its
            // top row's original in the ring for the rows above.
            visit_row(y--);
            const std::uint8_t* const end = image_row(height - 1) + stride;
            const auto narrow_bands = [&] {
                if (width <= 32000) {
                    for (; y - (band_lanes - 2) >= 0; y -= band_lanes - 1)
                        blur_band_down_left_avx2(rgb, stride, width, y, end, saved(y + 1), saved(y - (band_lanes - 2)));
                }
                return std::size_t{0};
            };
            simd::run_widest(
                [&] {
                    if (simd::avx512_vbmi_supported()) {
                        for (; y - (wide_lanes - 2) >= 0; y -= wide_lanes - 1)
                            blur_band_down_left_avx512(rgb, stride, width, y, end, saved(y + 1),
                                                       saved(y - (wide_lanes - 2)));
                    }
                    return narrow_bands();
                },
                narrow_bands, [](std::size_t) {});
        }
        for (; y >= 0; --y) visit_row(y);
    }
    return true;
}

}  // namespace

void shuffle_pairs(ImageRecord& image, std::int32_t mode) noexcept {
    const std::size_t count = image.pixel_count();
    if (count == 0) return;
    std::uint8_t* const rgb = image.rgb.data();
    const std::size_t pairs = count / 2;
    switch (mode) {
        case 0:
            shuffle_all_pairs<0>(rgb, pairs, SwapInvertFirst{});
            break;
        case 1:
            shuffle_all_pairs<1>(rgb, pairs, InvertFirst{});
            // The lone last pixel of an odd count is the first of its pair.
            if (count % 2) {
                std::uint8_t* last = rgb + (count - 1) * 3;
                for (int c = 0; c < 3; ++c) last[c] = static_cast<std::uint8_t>(~last[c]);
            }
            break;
        case 2:
            shuffle_all_pairs<2>(rgb, pairs, Swap{});
            break;
        default:
            break;
    }
}

void blur_four_point(ImageRecord& image, std::int32_t dx, std::int32_t dy) noexcept {
    const std::int64_t width = image.width;
    const std::int64_t height = image.height;
    if (width <= 0 || height <= 0) return;
    if ((dx >= 0 && dy >= 0) || (dx <= 0 && dy <= 0)) {
        blur_by_rows(image.rgb.data(), width, height, dx, dy);
    } else if (!blur_mixed_by_rows(image.rgb.data(), width, height, dx, dy)) {
        blur_four_point_column_order(image, dx, dy);
    }
}

void blur_four_point_column_order(ImageRecord& image, std::int32_t dx, std::int32_t dy) noexcept {
    const std::int64_t width = image.width;
    const std::int64_t height = image.height;
    std::uint8_t* const rgb = image.rgb.data();
    const auto stride = static_cast<std::size_t>(width) * 3;
    for (std::int64_t x = 0; x < width; ++x) {
        const std::int64_t sx = std::clamp(x + dx, std::int64_t{0}, width - 1);
        std::uint8_t* base_column = rgb + x * 3;
        const std::uint8_t* sample_column = rgb + sx * 3;
        for (std::int64_t y = 0; y < height; ++y) {
            const std::int64_t sy = std::clamp(y + dy, std::int64_t{0}, height - 1);
            std::uint8_t* p1 = base_column + static_cast<std::size_t>(y) * stride;
            const std::uint8_t* p2 = sample_column + static_cast<std::size_t>(sy) * stride;
            const std::uint8_t* p3 = sample_column + static_cast<std::size_t>(y) * stride;
            const std::uint8_t* p4 = base_column + static_cast<std::size_t>(sy) * stride;
            std::uint8_t mean[3];
            for (int c = 0; c < 3; ++c) mean[c] = static_cast<std::uint8_t>((p1[c] + p2[c] + p3[c] + p4[c]) >> 2);
            std::memcpy(p1, mean, 3);
        }
    }
}

}  // namespace ombrix::pixel
