// Channel images: grey, per-channel ranges and the seven compositions. Each pass is one loop
// chosen before it starts. The integer ones run 32 pixels at a time with AVX2 where the processor
// has it. HSV and L*a*b* compute in float, sixteen or eight pixels at a time (compose_kernels.inc):
// HSV exactly, L*a*b* handing the few pixels whose float result lies too near a rounding boundary
// to the scalar formula. The scalar passes use per-channel tables of the formulas' own
// intermediate values, so every pixel goes through exactly the double operations of the formula,
// minus the divisions.
#include "colour/channels.hpp"

#include <immintrin.h>

#include <cmath>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>

#include "colour/grey.hpp"
#include "simd/avx2.hpp"
#include "simd/dispatch.hpp"
#include "simd/pass.hpp"
#include "store/errors.hpp"

namespace ombrix::colour {

namespace {

namespace v = simd::avx2;

// ---- grey ------------------------------------------------------------------------------------

void grey_scalar(byte* p, std::size_t n) noexcept {
    simd::rewrite_pixels<Rgb>(p, n, [](Rgb q) {
        const byte v = grey_level(q.r, q.g, q.b);
        return Rgb{v, v, v};
    });
}

// ---- HSV composition -----------------------------------------------------------------------

struct HsvTables {
    std::array<double, 256> unit{};      // byte / 255
    std::array<double, 256> fraction{};  // f of the hue's sector
    std::array<double, 256> one_minus_fraction{};
    std::array<std::uint8_t, 256> sector{};  // i, 0..5
    std::array<int, 6> sector_start{};       // the first hue byte of each sector 1..5
    bool sectors_ascend = true;
};

const HsvTables& hsv_tables() {
    static const HsvTables tables = [] {
        HsvTables t;
        for (int c = 0; c < 256; ++c) {
            const auto i = static_cast<std::size_t>(c);
            t.unit[i] = c / 255.0;
            double h6 = t.unit[i] * 6;
            if (h6 == 6) h6 = 0;
            const std::int32_t sector = to_int32(h6);
            t.sector[i] = static_cast<std::uint8_t>(sector);
            t.fraction[i] = h6 - sector;
            t.one_minus_fraction[i] = 1 - t.fraction[i];
        }
        // The sector grows with the hue byte up to 254 (byte 255 wraps to sector 0); the vector
        // pass counts the sector starts a hue byte has reached.
        t.sector_start.fill(256);
        for (int c = 254; c >= 0; --c) {
            const int sector = t.sector[static_cast<std::size_t>(c)];
            for (int k = 1; k <= sector; ++k) t.sector_start[static_cast<std::size_t>(k)] = c;
            if (c < 254 && sector > t.sector[static_cast<std::size_t>(c + 1)]) t.sectors_ascend = false;
        }
        return t;
    }();
    return tables;
}

// x is in [0, 1] here, so the rounded byte fits without a range test.
inline byte rounded_byte(double x) noexcept { return static_cast<byte>(static_cast<std::int32_t>(x * 255 + 0.5)); }

// hsv_unit_to_rgb for bytes / 255. A saturation of 0 needs no branch: P, Q and T are then
// v × 1 = v exactly, which is what the grey case gives.
inline void hsv_pixel(const HsvTables& t, byte h, byte s_byte, byte v_byte, byte* out) noexcept {
    const double s = t.unit[s_byte], v = t.unit[v_byte];
    const std::int32_t sector = t.sector[h];
    const double fraction = sector & 1 ? t.fraction[h] : t.one_minus_fraction[h];
    const SectorColour<byte> c =
        place_in_sector(sector, rounded_byte(v), rounded_byte(v * (1 - s * fraction)), rounded_byte(v * (1 - s)));
    out[0] = c.r;
    out[1] = c.g;
    out[2] = c.b;
}

// ---- L*a*b* composition ----------------------------------------------------------------------

// Per L* byte: the base that replaces fy (fy itself, or the cube root of Y below the threshold),
// Y, and which of the two kinds of a and b terms apply.
struct LabTables {
    std::array<double, 256> base{};
    std::array<double, 256> y{};
    std::array<std::uint8_t, 256> low_branch{};
    std::array<double, 512> a_term{};  // [low_branch * 256 + a byte]
    std::array<double, 512> b_term{};
};

const LabTables& lab_tables() {
    static const auto tables = [] {
        auto t = std::make_unique<LabTables>();
        for (int c = 0; c < 256; ++c) {
            const auto i = static_cast<std::size_t>(c);
            const double L = c / 2.55;
            const double fy = (L + 16) / 116;
            if (cube(fy) > lab_epsilon) {
                t->base[i] = fy;
                t->y[i] = cube(fy);
            } else {
                t->y[i] = L / 903.3;
                t->base[i] = std::pow(t->y[i], 0.3333333333333333);
                t->low_branch[i] = 1;
            }
            const double a = (c - 128) / 1.27, b = (c - 128) / 1.27;
            t->a_term[i] = a / 500;
            t->a_term[256 + i] = a / 500 / 7.787;
            t->b_term[i] = b / 200;
            t->b_term[256 + i] = b / 200 / 7.787;
        }
        return t;
    }();
    return *tables;
}

inline void lab_pixel(const LabTables& t, byte l, byte a, byte b, byte* out) noexcept {
    const std::size_t branch = std::size_t{t.low_branch[l]} * 256;
    const double base = t.base[l];
    const Rgb rgb =
        xyz_to_rgb(0.951 * cube(base + t.a_term[branch + a]), t.y[l], 1.089 * cube(base - t.b_term[branch + b]));
    out[0] = rgb.r;
    out[1] = rgb.g;
    out[2] = rgb.b;
}

// The constants of the float L*a*b* passes (compose_kernels.inc), from the same definitions as
// the tables. The low branch must cover the L* bytes 0 to last_low_byte and no others, and fit a
// table of 32; `usable` says whether it does.
struct LabVectorConstants {
    std::int32_t last_low_byte = -1;
    bool usable = false;
    float fy_per_byte = 0, fy_offset = 0;
    float a_factor[2]{}, b_factor[2]{};  // per branch: high, low
    float matrix[3][3]{};                // the xyz_to_rgb matrix with X's 0.951, Z's 1.089 and 255.999
    alignas(64) float low_base[32]{};
    alignas(64) float low_y[32]{};
};

const LabVectorConstants& lab_vector_constants() {
    static const LabVectorConstants constants = [] {
        const LabTables& t = lab_tables();
        LabVectorConstants k;
        int low_count = 0;
        while (low_count < 256 && t.low_branch[static_cast<std::size_t>(low_count)] != 0) ++low_count;
        bool prefix = true;
        for (int c = low_count; c < 256; ++c) prefix = prefix && t.low_branch[static_cast<std::size_t>(c)] == 0;
        k.usable = prefix && low_count <= 32;
        k.last_low_byte = low_count - 1;
        for (int c = 0; c < low_count && c < 32; ++c) {
            k.low_base[c] = static_cast<float>(t.base[static_cast<std::size_t>(c)]);
            k.low_y[c] = static_cast<float>(t.y[static_cast<std::size_t>(c)]);
        }
        k.fy_per_byte = static_cast<float>(1 / (2.55 * 116));
        k.fy_offset = static_cast<float>(16.0 / 116);
        k.a_factor[0] = static_cast<float>(1 / (1.27 * 500));
        k.a_factor[1] = static_cast<float>(1 / (1.27 * 500 * 7.787));
        k.b_factor[0] = static_cast<float>(1 / (1.27 * 200));
        k.b_factor[1] = static_cast<float>(1 / (1.27 * 200 * 7.787));
        const double m[3][3] = {{3.063, -1.393, -0.476}, {-0.969, 1.876, 0.042}, {0.068, -0.229, 1.069}};
        for (int c = 0; c < 3; ++c) {
            k.matrix[c][0] = static_cast<float>(m[c][0] * 0.951 * 255.999);
            k.matrix[c][1] = static_cast<float>(m[c][1] * 255.999);
            k.matrix[c][2] = static_cast<float>(m[c][2] * 1.089 * 255.999);
        }
        return k;
    }();
    return constants;
}

// ---- scalar compositions -----------------------------------------------------------------------

struct Sources {
    const byte* s[4];
};

template <Composition K>
void compose_scalar(const Sources& src, byte* out, std::size_t from, std::size_t to) {
    const byte* const a = src.s[0];
    const byte* const b = src.s[1];
    const byte* const c = src.s[2];
    if constexpr (K == Composition::hsv) {
        const HsvTables& t = hsv_tables();
        for (std::size_t i = 3 * from; i < 3 * to; i += 3) hsv_pixel(t, a[i], b[i], c[i], out + i);
    } else if constexpr (K == Composition::lab) {
        const LabTables& t = lab_tables();
        for (std::size_t i = 3 * from; i < 3 * to; i += 3) lab_pixel(t, a[i], b[i + 1], c[i + 2], out + i);
    } else {
        for (std::size_t i = 3 * from; i < 3 * to; i += 3) {
            Rgb p;
            if constexpr (K == Composition::rgb || K == Composition::cmy)
                p = {a[i], b[i + 1], c[i + 2]};
            else if constexpr (K == Composition::cmyk)
                p = cmyk_bytes_to_rgb(a[i], b[i + 1], c[i + 2], src.s[3][i + 2]);
            else if constexpr (K == Composition::ycbcr_470)
                p = ycbcr_bytes_to_rgb(a[i], b[i + 1], c[i + 2], ycbcr470);
            else
                p = ycbcr_bytes_to_rgb(a[i], b[i + 1], c[i + 2], ycbcr709);
            out[i] = p.r;
            out[i + 1] = p.g;
            out[i + 2] = p.b;
        }
    }
}

// ---- AVX2 passes -----------------------------------------------------------------------------------

// YCbCr in 16-bit lanes. Each 16.16 factor c splits into m · 65536 + r with r a signed 16-bit
// number, so that for the centred bytes x (y - 16, cb - 128, cr - 128)
//   (Σ c·x + 32768) >> 16  =  Σ m·x + ((Σ r·x + 32768) >> 16)
// exactly: the first sum is a whole multiple of 65536. The r sums are VPMADDWD pairs in 32 bits.
struct SplitFactor {
    std::int16_t m, r;
};
constexpr SplitFactor split_factor(std::int32_t c) {
    const std::int32_t m = (c + 32768) >> 16;
    return {static_cast<std::int16_t>(m), static_cast<std::int16_t>(c - m * 65536)};
}

OMBRIX_TARGET_AVX2

// channel_masks[channel][k]: all ones at the bytes of 32-byte chunk k of a block that hold the
// channel (byte offsets are not lane-split here).
struct alignas(32) PositionMask {
    std::int8_t v[32];
};
constexpr PositionMask position_mask(int channel, int k) {
    PositionMask m{};
    for (int j = 0; j < 32; ++j) m.v[j] = static_cast<std::int8_t>((32 * k + j) % 3 == channel ? -1 : 0);
    return m;
}
constexpr PositionMask channel_masks[3][3] = {
    {position_mask(0, 0), position_mask(0, 1), position_mask(0, 2)},
    {position_mask(1, 0), position_mask(1, 1), position_mask(1, 2)},
    {position_mask(2, 0), position_mask(2, 1), position_mask(2, 2)},
};

OMBRIX_AVX2_INLINE __m256i load32(const byte* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
OMBRIX_AVX2_INLINE __m256i position(int channel, int k) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(channel_masks[channel][k].v));
}

OMBRIX_AVX2_INLINE __m256i word_pair_avx2(std::int32_t lo, std::int32_t hi) { return v::factor_pair(lo, hi); }

// (Σ r·x + 32768) >> 16 for 16 pixels (in the order of the byte unpacks), from VPMADDWD of the word
// pairs (a, b) and, when given, (c, 2) (which carries the 32768).
OMBRIX_AVX2_INLINE __m256i rounded_high_avx2(__m256i a, __m256i b, __m256i ab_factors, const __m256i* c,
                                             __m256i c_factor) {
    const auto half = [&](__m256i ab, __m256i c2) {
        __m256i sum = _mm256_madd_epi16(ab, ab_factors);
        sum = c ? _mm256_add_epi32(sum, _mm256_madd_epi16(c2, c_factor))
                : _mm256_add_epi32(sum, _mm256_set1_epi32(32768));
        return _mm256_srai_epi32(sum, 16);
    };
    const __m256i two = _mm256_set1_epi16(2);
    const __m256i c_lo = c ? _mm256_unpacklo_epi16(*c, two) : two, c_hi = c ? _mm256_unpackhi_epi16(*c, two) : two;
    return _mm256_packs_epi32(half(_mm256_unpacklo_epi16(a, b), c_lo), half(_mm256_unpackhi_epi16(a, b), c_hi));
}

OMBRIX_AVX2_INLINE __m256i times_small_avx2(__m256i x, std::int16_t m) {
    return m == 0 ? _mm256_setzero_si256() : m == 1 ? x : _mm256_mullo_epi16(x, _mm256_set1_epi16(m));
}

// The channels of 16 pixels in 16-bit lanes from the centred y, cb and cr.
template <Composition K>
OMBRIX_AVX2_INLINE v::Planes ycbcr_words(__m256i y, __m256i cb, __m256i cr) {
    constexpr const YcbcrCoefficients& k = K == Composition::ycbcr_470 ? ycbcr470 : ycbcr709;
    constexpr SplitFactor luma = split_factor(ycbcr_luma_factor), red_cr = split_factor(k.red_cr),
                          green_cb = split_factor(-k.green_cb), green_cr = split_factor(-k.green_cr),
                          blue_cb = split_factor(k.blue_cb);
    static_assert(luma.m == 1);
    const __m256i none = _mm256_setzero_si256();
    const __m256i r = _mm256_add_epi16(_mm256_add_epi16(y, times_small_avx2(cr, red_cr.m)),
                                       rounded_high_avx2(y, cr, word_pair_avx2(luma.r, red_cr.r), nullptr, none));
    const __m256i g = _mm256_add_epi16(
        _mm256_add_epi16(y, _mm256_add_epi16(times_small_avx2(cb, green_cb.m), times_small_avx2(cr, green_cr.m))),
        rounded_high_avx2(y, cb, word_pair_avx2(luma.r, green_cb.r), &cr, word_pair_avx2(green_cr.r, 16384)));
    const __m256i b = _mm256_add_epi16(_mm256_add_epi16(y, times_small_avx2(cb, blue_cb.m)),
                                       rounded_high_avx2(y, cb, word_pair_avx2(luma.r, blue_cb.r), nullptr, none));
    return {r, g, b};
}

OMBRIX_AVX2_INLINE __m256i centred(__m256i words, short by) { return _mm256_sub_epi16(words, _mm256_set1_epi16(by)); }

// The byte unpacks and the saturating packs work within 128-bit lanes and undo each other; the
// packs' saturation to 0..255 is the clamp.
template <Composition K>
OMBRIX_AVX2_INLINE v::Planes ycbcr_planes(__m256i y, __m256i cb, __m256i cr) {
    const v::Planes lo =
        ycbcr_words<K>(centred(v::widen_lo(y), 16), centred(v::widen_lo(cb), 128), centred(v::widen_lo(cr), 128));
    const v::Planes hi =
        ycbcr_words<K>(centred(v::widen_hi(y), 16), centred(v::widen_hi(cb), 128), centred(v::widen_hi(cr), 128));
    return {_mm256_packus_epi16(lo.r, hi.r), _mm256_packus_epi16(lo.g, hi.g), _mm256_packus_epi16(lo.b, hi.b)};
}

// Where a pass writes: a large new image goes straight to memory with streaming stores, which
// spare reading each cache line before it is overwritten and leave the sources' lines in the
// cache. A pass that streams ends with a store fence. The choice is made once per pass, as a
// template argument.
template <bool Streams>
struct Output {
    static constexpr bool stream = Streams;
    byte* p;
};

template <bool S>
OMBRIX_AVX2_INLINE void put32(Output<S> out, std::size_t at, __m256i bytes) {
    if constexpr (S)
        _mm256_stream_si256(reinterpret_cast<__m256i*>(out.p + at), bytes);
    else
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.p + at), bytes);
}

template <bool S>
OMBRIX_AVX2_INLINE void put_planes(Output<S> out, std::size_t at, const v::Planes& q) {
    if constexpr (!S) return v::store_planes(out.p + at, q);
    // join_chunk(k) holds bytes 16k.. of each lane's 48: the 96 bytes in order are c0.lo c1.lo,
    // c2.lo c0.hi, c1.hi c2.hi.
    const __m256i c0 = v::join_chunk(q, 0), c1 = v::join_chunk(q, 1), c2 = v::join_chunk(q, 2);
    put32(out, at, _mm256_permute2x128_si256(c0, c1, 0x20));
    put32(out, at + 32, _mm256_permute2x128_si256(c2, c0, 0x30));
    put32(out, at + 64, _mm256_permute2x128_si256(c1, c2, 0x31));
}

// Returns how many pixels it composed (whole blocks only).
template <Composition K, bool S>
std::size_t compose_avx2(const Sources& src, Output<S> out, std::size_t n) {
    const std::size_t blocks = n / v::block_pixels;
    for (std::size_t i = 0; i < blocks; ++i) {
        const std::size_t at = i * v::block_bytes;
        if constexpr (K == Composition::rgb || K == Composition::cmy) {
            for (int k = 0; k < 3; ++k) {
                const std::size_t chunk = at + 32 * static_cast<std::size_t>(k);
                __m256i bytes = load32(src.s[0] + chunk);
                bytes = v::select(position(1, k), load32(src.s[1] + chunk), bytes);
                bytes = v::select(position(2, k), load32(src.s[2] + chunk), bytes);
                put32(out, chunk, bytes);
            }
        } else if constexpr (K == Composition::cmyk) {
            const __m256i key = v::load_plane(src.s[3] + at, 2);
            const __m256i c = v::load_plane(src.s[0] + at, 0), m = v::load_plane(src.s[1] + at, 1),
                          y = v::load_plane(src.s[2] + at, 2);
            put_planes(out, at,
                       {v::not_u8(_mm256_add_epi8(c, key)), v::not_u8(_mm256_add_epi8(m, key)),
                        v::not_u8(_mm256_add_epi8(y, key))});
        } else {
            put_planes(out, at,
                       ycbcr_planes<K>(v::load_plane(src.s[0] + at, 0), v::load_plane(src.s[1] + at, 1),
                                       v::load_plane(src.s[2] + at, 2)));
        }
    }
    return blocks * v::block_pixels;
}

namespace avx2_width {
constexpr int lanes = 8;
OMBRIX_AVX2_INLINE __m256i load_channel(const byte* p, int channel) { return v::load_plane(p, channel); }
template <bool S>
OMBRIX_AVX2_INLINE void write_block(Output<S> out, std::size_t at, const v::Planes& q) {
    put_planes(out, at, q);
}
using F = float [[gnu::vector_size(32)]];
using I = std::int32_t [[gnu::vector_size(32)]];

template <int G, class V>
OMBRIX_AVX2_INLINE void widen(__m256i plane, V& x) {
    const __m128i half = G < 2 ? _mm256_castsi256_si128(plane) : _mm256_extracti128_si256(plane, 1);
    const __m256i ints = _mm256_cvtepu8_epi32(G % 2 ? _mm_srli_si128(half, 8) : half);
    if constexpr (std::is_same_v<V, F>)
        x = F(_mm256_cvtepi32_ps(ints));
    else
        x = I(ints);
}
OMBRIX_AVX2_INLINE void plane_of(const I (&g)[4], __m256i& out) {
    // Only the low bytes count; cleared above them, the saturating packs keep them. The packs work
    // within 128-bit lanes, which leaves the groups' quarters to put back in order.
    const __m256i low = _mm256_set1_epi32(0xFF);
    const auto low_of = [&](int k) { return _mm256_and_si256(__m256i(g[k]), low); };
    const __m256i words01 = _mm256_packs_epi32(low_of(0), low_of(1));
    const __m256i words23 = _mm256_packs_epi32(low_of(2), low_of(3));
    const __m256i bytes = _mm256_packus_epi16(words01, words23);
    out = _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}
OMBRIX_AVX2_INLINE std::uint32_t near_half(const F& a, const F& b, const F& c, float limit) {
    const auto beyond = [limit](const F& x) { return (x > limit) | (x < -limit); };
    const I any = beyond(a) | beyond(b) | beyond(c);
    return static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(__m256i(any))));
}
OMBRIX_AVX2_INLINE void lookup32(const float* table, const I& index, F& f) {
    const __m256i i = __m256i(index);
    const __m256 t0 = _mm256_permutevar8x32_ps(_mm256_load_ps(table), i);
    const __m256 t1 = _mm256_permutevar8x32_ps(_mm256_load_ps(table + 8), i);
    const __m256 t2 = _mm256_permutevar8x32_ps(_mm256_load_ps(table + 16), i);
    const __m256 t3 = _mm256_permutevar8x32_ps(_mm256_load_ps(table + 24), i);
    // Bit 3 of the index picks within each pair of eight, bit 4 between the pairs.
    const __m256 bit3 = _mm256_castsi256_ps(_mm256_slli_epi32(i, 28));
    const __m256 bit4 = _mm256_castsi256_ps(_mm256_slli_epi32(i, 27));
    f = F(_mm256_blendv_ps(_mm256_blendv_ps(t0, t1, bit3), _mm256_blendv_ps(t2, t3, bit3), bit4));
}
OMBRIX_AVX2_INLINE void clamp(const F& x, float low, float high, F& f) {
    f = F(_mm256_min_ps(_mm256_max_ps(__m256(x), _mm256_set1_ps(low)), _mm256_set1_ps(high)));
}
OMBRIX_AVX2_INLINE void mul_add(const F& a, const F& x, const F& c, F& f) {
    f = F(_mm256_fmadd_ps(__m256(a), __m256(x), __m256(c)));
}
OMBRIX_AVX2_INLINE void nearest_whole(const F& y, I& whole, F& off) {
    whole = I(_mm256_cvtps_epi32(__m256(y)));
    off = y - F(_mm256_round_ps(__m256(y), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}
OMBRIX_AVX2_INLINE void round_nearest(const F& y, F& f) {
    f = F(_mm256_round_ps(__m256(y), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}
#include "colour/compose_kernels.inc"
}  // namespace avx2_width

std::size_t grey_avx2(byte* p, std::size_t n) {
    return v::for_each_block(p, n, [](byte* block) { v::store_grey(block, v::grey_level(v::load_planes(block))); });
}

OMBRIX_TARGET_END

OMBRIX_TARGET_AVX512_VBMI

// A block's 96 bytes split into channel planes and joined again by byte permutes over two
// registers; the second register's upper half is never read.
struct alignas(64) PermuteIndex {
    std::int8_t v[64];
};
template <class Pick>
constexpr PermuteIndex permute_index(Pick pick) {
    PermuteIndex m{};
    for (int j = 0; j < 64; ++j) m.v[j] = static_cast<std::int8_t>(pick(j));
    return m;
}
// Plane byte j of channel c is block byte 3j + c.
constexpr PermuteIndex split_index[3] = {permute_index([](int j) { return j < 32 ? 3 * j : 0; }),
                                         permute_index([](int j) { return j < 32 ? 3 * j + 1 : 0; }),
                                         permute_index([](int j) { return j < 32 ? 3 * j + 2 : 0; })};
// Block byte k is byte k / 3 of plane k % 3, with the red and green planes in the first register
// and the blue one in the second.
constexpr PermuteIndex join_index[2] = {permute_index([](int k) { return 32 * (k % 3) + k / 3; }),
                                        permute_index([](int j) {
                                            const int k = 64 + (j < 32 ? j : 0);
                                            return 32 * (k % 3) + k / 3;
                                        })};

OMBRIX_AVX2_INLINE __m512i index_of(const PermuteIndex& m) { return _mm512_load_si512(m.v); }

OMBRIX_AVX2_INLINE __m256i load_channel_vbmi(const byte* p, int channel) {
    const __m512i first = _mm512_loadu_si512(p);
    const __m512i second = _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 64)));
    return _mm512_castsi512_si256(_mm512_permutex2var_epi8(first, index_of(split_index[channel]), second));
}

template <bool S>
OMBRIX_AVX2_INLINE void write_block_vbmi(Output<S> out, std::size_t at, const v::Planes& q) {
    const __m512i red_green = _mm512_inserti64x4(_mm512_castsi256_si512(q.r), q.g, 1);
    const __m512i blue = _mm512_castsi256_si512(q.b);
    const __m512i first = _mm512_permutex2var_epi8(red_green, index_of(join_index[0]), blue);
    const __m256i last = _mm512_castsi512_si256(_mm512_permutex2var_epi8(red_green, index_of(join_index[1]), blue));
    put32(out, at, _mm512_castsi512_si256(first));
    put32(out, at + 32, _mm512_extracti64x4_epi64(first, 1));
    put32(out, at + 64, last);
}

OMBRIX_AVX2_INLINE __m512i word_pair(std::int32_t lo, std::int32_t hi) {
    return _mm512_set1_epi32(
        static_cast<std::int32_t>((static_cast<std::uint32_t>(hi) << 16) | (static_cast<std::uint32_t>(lo) & 0xFFFFu)));
}

// (Σ r·x + 32768) >> 16 for 32 pixels, from VPMADDWD of the word pairs (a, b) and, when given,
// (c, 2) (which carries the 32768); back in 16-bit lanes in pixel order.
OMBRIX_AVX2_INLINE __m512i rounded_high(__m512i a, __m512i b, __m512i ab_factors, const __m512i* c, __m512i c_factor) {
    const auto half = [&](__m512i ab, __m512i c2) {
        __m512i sum = _mm512_madd_epi16(ab, ab_factors);
        sum = c ? _mm512_add_epi32(sum, _mm512_madd_epi16(c2, c_factor))
                : _mm512_add_epi32(sum, _mm512_set1_epi32(32768));
        return _mm512_srai_epi32(sum, 16);
    };
    const __m512i two = _mm512_set1_epi16(2);
    const __m512i c_lo = c ? _mm512_unpacklo_epi16(*c, two) : two, c_hi = c ? _mm512_unpackhi_epi16(*c, two) : two;
    return _mm512_packs_epi32(half(_mm512_unpacklo_epi16(a, b), c_lo), half(_mm512_unpackhi_epi16(a, b), c_hi));
}

OMBRIX_AVX2_INLINE __m512i times_small(__m512i x, std::int16_t m) {
    return m == 0 ? _mm512_setzero_si512() : m == 1 ? x : _mm512_mullo_epi16(x, _mm512_set1_epi16(m));
}

OMBRIX_AVX2_INLINE __m256i saturated_bytes(__m512i words) {
    return _mm512_cvtusepi16_epi8(_mm512_max_epi16(words, _mm512_setzero_si512()));
}

template <Composition K>
OMBRIX_AVX2_INLINE v::Planes ycbcr_planes_avx512(__m256i y_bytes, __m256i cb_bytes, __m256i cr_bytes) {
    constexpr const YcbcrCoefficients& k = K == Composition::ycbcr_470 ? ycbcr470 : ycbcr709;
    constexpr SplitFactor luma = split_factor(ycbcr_luma_factor), red_cr = split_factor(k.red_cr),
                          green_cb = split_factor(-k.green_cb), green_cr = split_factor(-k.green_cr),
                          blue_cb = split_factor(k.blue_cb);
    static_assert(luma.m == 1);
    const __m512i y = _mm512_sub_epi16(_mm512_cvtepu8_epi16(y_bytes), _mm512_set1_epi16(16));
    const __m512i cb = _mm512_sub_epi16(_mm512_cvtepu8_epi16(cb_bytes), _mm512_set1_epi16(128));
    const __m512i cr = _mm512_sub_epi16(_mm512_cvtepu8_epi16(cr_bytes), _mm512_set1_epi16(128));
    const __m512i none = _mm512_setzero_si512();
    const __m512i r = _mm512_add_epi16(_mm512_add_epi16(y, times_small(cr, red_cr.m)),
                                       rounded_high(y, cr, word_pair(luma.r, red_cr.r), nullptr, none));
    const __m512i g = _mm512_add_epi16(
        _mm512_add_epi16(y, _mm512_add_epi16(times_small(cb, green_cb.m), times_small(cr, green_cr.m))),
        rounded_high(y, cb, word_pair(luma.r, green_cb.r), &cr, word_pair(green_cr.r, 16384)));
    const __m512i b = _mm512_add_epi16(_mm512_add_epi16(y, times_small(cb, blue_cb.m)),
                                       rounded_high(y, cb, word_pair(luma.r, blue_cb.r), nullptr, none));
    return {saturated_bytes(r), saturated_bytes(g), saturated_bytes(b)};
}

template <Composition K, bool S>
std::size_t compose_ycbcr_avx512(const Sources& src, Output<S> out, std::size_t n) {
    const std::size_t blocks = n / v::block_pixels;
    for (std::size_t i = 0; i < blocks; ++i) {
        const std::size_t at = i * v::block_bytes;
        write_block_vbmi(
            out, at,
            ycbcr_planes_avx512<K>(load_channel_vbmi(src.s[0] + at, 0), load_channel_vbmi(src.s[1] + at, 1),
                                   load_channel_vbmi(src.s[2] + at, 2)));
    }
    return blocks * v::block_pixels;
}

namespace avx512_width {
constexpr int lanes = 16;
OMBRIX_AVX2_INLINE __m256i load_channel(const byte* p, int channel) { return load_channel_vbmi(p, channel); }
template <bool S>
OMBRIX_AVX2_INLINE void write_block(Output<S> out, std::size_t at, const v::Planes& q) {
    write_block_vbmi(out, at, q);
}
using F = float [[gnu::vector_size(64)]];
using I = std::int32_t [[gnu::vector_size(64)]];

template <int G, class V>
OMBRIX_AVX2_INLINE void widen(__m256i plane, V& x) {
    const __m512i ints =
        _mm512_cvtepu8_epi32(G == 0 ? _mm256_castsi256_si128(plane) : _mm256_extracti128_si256(plane, 1));
    if constexpr (std::is_same_v<V, F>)
        x = F(_mm512_cvtepi32_ps(ints));
    else
        x = I(ints);
}
OMBRIX_AVX2_INLINE void plane_of(const I (&g)[2], __m256i& out) {
    out = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm512_cvtepi32_epi8(__m512i(g[0]))),
                                  _mm512_cvtepi32_epi8(__m512i(g[1])), 1);
}
OMBRIX_AVX2_INLINE std::uint32_t near_half(const F& a, const F& b, const F& c, float limit) {
    // VRANGEPS with 0b1011: the larger magnitude, sign cleared.
    const __m512 largest = _mm512_range_ps(_mm512_range_ps(__m512(a), __m512(b), 0b1011), __m512(c), 0b1011);
    return _mm512_cmp_ps_mask(largest, _mm512_set1_ps(limit), _CMP_GT_OQ);
}
OMBRIX_AVX2_INLINE void lookup32(const float* table, const I& index, F& f) {
    f = F(_mm512_permutex2var_ps(_mm512_load_ps(table), __m512i(index), _mm512_load_ps(table + 16)));
}
OMBRIX_AVX2_INLINE void clamp(const F& x, float low, float high, F& f) {
    f = F(_mm512_min_ps(_mm512_max_ps(__m512(x), _mm512_set1_ps(low)), _mm512_set1_ps(high)));
}
OMBRIX_AVX2_INLINE void mul_add(const F& a, const F& x, const F& c, F& f) {
    f = F(_mm512_fmadd_ps(__m512(a), __m512(x), __m512(c)));
}
OMBRIX_AVX2_INLINE void nearest_whole(const F& y, I& whole, F& off) {
    whole = I(_mm512_cvtps_epi32(__m512(y)));
    off = F(_mm512_reduce_ps(__m512(y), 0x08));  // y minus y rounded to nearest, without the inexact flag
}
OMBRIX_AVX2_INLINE void round_nearest(const F& y, F& f) {
    f = F(_mm512_roundscale_ps(__m512(y), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}
#include "colour/compose_kernels.inc"
}  // namespace avx512_width

OMBRIX_TARGET_END

// Streaming pays where the image is far larger than the caches.
constexpr std::size_t stream_bytes = std::size_t{16} << 20;

template <Composition K>
void compose_kind(const Sources& src, byte* out_bytes, std::size_t n) {
    const auto run = [&]<bool S>(Output<S> out) {
        const auto avx2 = [&]() -> std::size_t {
            if constexpr (K == Composition::hsv) {
                return hsv_tables().sectors_ascend ? avx2_width::compose_hsv_blocks(hsv_tables(), src, out, n) : 0;
            } else if constexpr (K == Composition::lab) {
                const LabVectorConstants& k = lab_vector_constants();
                return k.usable ? avx2_width::compose_lab_blocks(lab_tables(), k, src, out, n) : 0;
            } else {
                return compose_avx2<K>(src, out, n);
            }
        };
        const auto avx512 = [&]() -> std::size_t {
            if (!simd::avx512_vbmi_supported()) return avx2();
            if constexpr (K == Composition::hsv) {
                return hsv_tables().sectors_ascend ? avx512_width::compose_hsv_blocks(hsv_tables(), src, out, n) : 0;
            } else if constexpr (K == Composition::lab) {
                const LabVectorConstants& k = lab_vector_constants();
                return k.usable ? avx512_width::compose_lab_blocks(lab_tables(), k, src, out, n) : 0;
            } else if constexpr (K == Composition::ycbcr_470 || K == Composition::ycbcr_709) {
                return compose_ycbcr_avx512<K>(src, out, n);
            } else {
                return avx2();
            }
        };
        simd::run_widest(avx512, avx2, [&](std::size_t done) {
            if constexpr (S) _mm_sfence();
            compose_scalar<K>(src, out_bytes, done, n);
        });
    };
    if (3 * n >= stream_bytes && reinterpret_cast<std::uintptr_t>(out_bytes) % 32 == 0)
        run(Output<true>{out_bytes});
    else
        run(Output<false>{out_bytes});
}

}  // namespace

void convert_grayscale(ImageRecord& image) {
    const std::size_t n = image.rgb_pixel_count();
    simd::run_in_place(image.rgb.data(), n, simd::NoPass{}, grey_avx2, grey_scalar);
}

byte clamp_channel_byte(byte x, ChannelRange range) noexcept {
    const double low = std::isnan(range.low) ? -std::numeric_limits<double>::infinity() : range.low;
    const double high = std::isnan(range.high) ? std::numeric_limits<double>::infinity() : range.high;
    double t = x;
    bool bounded = false;
    if (!(t > low)) {
        t = low;
        bounded = true;
    }
    if (t > high) {
        t = high;
        bounded = true;
    }
    return bounded ? low_byte(t) : x;
}

void clamp_channel_ranges(ImageRecord& image, const std::array<ChannelRange, 3>& ranges) {
    // Each channel's result depends on its byte alone: one table per channel, built once.
    byte table[3][256];
    for (std::size_t c = 0; c < 3; ++c)
        for (int x = 0; x < 256; ++x) table[c][x] = clamp_channel_byte(static_cast<byte>(x), ranges[c]);
    const std::size_t n = image.rgb_pixel_count();
    byte* p = image.rgb.data();
    std::size_t i = 0;
#if defined(__SSE2__)
    // Per channel the table is a constant below some byte a (the bytes not above the minimum), the
    // byte itself from a up to some b, and another constant from b on (the bytes above the maximum
    // that are above the minimum): read a, b and the two constants off the table and check that
    // it has that shape (it always does; the check keeps the vector loop honest to the table). The
    // loop then takes 48 bytes, 16 pixels, at a time, lane j of vector k being channel (16k + j) % 3.
    struct Shape {
        int a = 0, b = 256;
        byte below = 0, above = 0;
    } shape[3];
    bool shaped = true;
    for (std::size_t c = 0; c < 3; ++c) {
        Shape& sh = shape[c];
        sh.below = table[c][0];
        sh.above = table[c][255];
        const double low = std::isnan(ranges[c].low) ? -std::numeric_limits<double>::infinity() : ranges[c].low;
        while (sh.a < 256 && !(static_cast<double>(sh.a) > low)) ++sh.a;
        sh.b = sh.a;
        while (sh.b < 256 && table[c][sh.b] == sh.b) ++sh.b;
        for (int x = 0; x < 256; ++x) {
            const byte expected = x < sh.a ? sh.below : x < sh.b ? static_cast<byte>(x) : sh.above;
            shaped = shaped && table[c][x] == expected;
        }
    }
    if (shaped && n >= 16) {
        alignas(16) byte below_last[3][16], below_on[3][16], from[3][16], above_on[3][16], below_value[3][16],
            above_value[3][16];
        for (std::size_t k = 0; k < 3; ++k) {
            for (std::size_t j = 0; j < 16; ++j) {
                const Shape& sh = shape[(16 * k + j) % 3];
                below_last[k][j] = static_cast<byte>(sh.a > 0 ? sh.a - 1 : 0);
                below_on[k][j] = sh.a > 0 ? 0xFF : 0;
                from[k][j] = static_cast<byte>(sh.b < 256 ? sh.b : 0);
                above_on[k][j] = sh.b < 256 ? 0xFF : 0;
                below_value[k][j] = sh.below;
                above_value[k][j] = sh.above;
            }
        }
        auto load = [](const byte* q) { return _mm_load_si128(reinterpret_cast<const __m128i*>(q)); };
        for (; i + 16 <= n; i += 16, p += 48) {
            for (std::size_t k = 0; k < 3; ++k) {
                auto* v = reinterpret_cast<__m128i*>(p + 16 * k);
                const __m128i x = _mm_loadu_si128(v);
                const __m128i low =
                    _mm_and_si128(_mm_cmpeq_epi8(_mm_min_epu8(x, load(below_last[k])), x), load(below_on[k]));
                const __m128i high = _mm_andnot_si128(
                    low, _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(x, load(from[k])), x), load(above_on[k])));
                const __m128i kept = _mm_andnot_si128(_mm_or_si128(low, high), x);
                _mm_storeu_si128(v, _mm_or_si128(kept, _mm_or_si128(_mm_and_si128(low, load(below_value[k])),
                                                                    _mm_and_si128(high, load(above_value[k])))));
            }
        }
    }
#endif
    for (; i < n; ++i, p += 3) {
        p[0] = table[0][p[0]];
        p[1] = table[1][p[1]];
        p[2] = table[2][p[2]];
    }
}

void compose_into(Composition kind, std::span<const ImageRecord* const> sources, byte* out) {
    Sources src{};
    for (std::size_t i = 0; i < source_count(kind); ++i) src.s[i] = sources[i]->rgb.data();
    const std::size_t n = sources[0]->rgb_pixel_count();
    if (n == 0) return;
    switch (kind) {
        case Composition::rgb:
            return compose_kind<Composition::rgb>(src, out, n);
        case Composition::cmy:
            return compose_kind<Composition::cmy>(src, out, n);
        case Composition::hsv:
            return compose_kind<Composition::hsv>(src, out, n);
        case Composition::cmyk:
            return compose_kind<Composition::cmyk>(src, out, n);
        case Composition::lab:
            return compose_kind<Composition::lab>(src, out, n);
        case Composition::ycbcr_470:
            return compose_kind<Composition::ycbcr_470>(src, out, n);
        case Composition::ycbcr_709:
            return compose_kind<Composition::ycbcr_709>(src, out, n);
    }
}

std::unique_ptr<ImageRecord> compose_channels(Composition kind, std::span<const ImageRecord* const> sources) {
    if (sources.size() != source_count(kind)) fail(-1, text::internal_error);
    const ImageRecord& first = *sources[0];
    for (const ImageRecord* source : sources.subspan(1))
        if (source->rgb_pixel_count() < first.rgb_pixel_count()) fail(-1, text::source_too_small);
    auto record = make_record(first.width, first.height);
    compose_into(kind, sources, record->rgb.data());
    return record;
}

}  // namespace ombrix::colour
