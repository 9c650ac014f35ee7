// The passes of image_transformRGB. The mode is resolved once, before the pass, into one loop
// specialised for it: integer modes run 32 pixels at a time with AVX2 where the processor has it
// (a scalar loop finishes the last pixels and serves older processors), and the floating-point
// modes use tables that reproduce the double-precision formulas byte for byte.
#include "pixel/transform.hpp"

#include <immintrin.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "pixel/lab_passes.hpp"
#include "simd/avx2.hpp"
#include "simd/dispatch.hpp"
#include "simd/pass.hpp"
#include "store/errors.hpp"

namespace ombrix::pixel {

using colour::Rgb;

namespace {

namespace v = simd::avx2;

template <int Mode>
void scalar_pass(byte* p, std::size_t n) noexcept {
    simd::rewrite_pixels<Rgb>(p, n, [](Rgb q) { return transform_pixel(Mode, q); });
}

// Mode 33: rand() for red, then green, then blue, each reduced modulo 255 (a braced list is
// evaluated left to right). The calls stay plain: the generator's state lives inside the C
// library, where the host's own srand and rand calls move it too, and no public interface reads
// or sets it; a faster generator stepping the same sequence would have to copy that private state
// in and out, and would be right only for one C library's version of rand.
void random_pass(byte* p, std::size_t n) noexcept {
    simd::rewrite_pixels<Rgb>(p, n, [](Rgb) {
        return Rgb{static_cast<byte>(std::rand() % 255), static_cast<byte>(std::rand() % 255),
                   static_cast<byte>(std::rand() % 255)};
    });
}

// ---- mode 21: the hue byte ---------------------------------------------------------------------
//
// With d = max - min, the hue times 255.999 is n × 255.999 / (6d) for a whole n in [0, 6d): n is
// the sector's offset (0, 2d or 4d, or 6d for a negative red-sector hue) plus the channel
// difference. For n = 0 (red largest, green equal to blue) the formula's hue is exactly 0. Any
// other n gives a rational at least 1/(6000·d) > 6e-7 away from a whole number (it is never whole:
// that would need 2000 to divide n), while both the double formula and the product below stray
// from it by less than 1e-11. So the product's whole part is the formula's byte; a product within
// 1e-8 of a whole number would break that argument and takes the formula itself.
//
// The vector pass takes the product in float, eight at a time: n < 1536 is exact, the factor's
// rounding and the product's each move a value below 256 by at most 256 · 2^-24, so the float
// product lies within 3.1e-5 of the double one, and its whole part is the formula's byte unless it
// lies within `float_guard` of a whole number; those pixels (about one in 20000) take the formula.
inline constexpr float float_guard = 4e-5f;

struct HueScale {
    std::array<double, 256> per_difference{};       // 255.999 / (6d)
    std::array<float, 256> per_difference_float{};  // the same, rounded to float
};

const HueScale& hue_scale() {
    static const HueScale table = [] {
        HueScale t;
        for (std::size_t d = 1; d < 256; ++d) {
            t.per_difference[d] = 255.999 / (6.0 * static_cast<double>(d));
            t.per_difference_float[d] = static_cast<float>(t.per_difference[d]);
        }
        return t;
    }();
    return table;
}

inline byte hue_byte_fast(const HueScale& scale, byte r, byte g, byte b) noexcept {
    const int mx = std::max({r, g, b}), mn = std::min({r, g, b});
    const int d = mx - mn;
    if (d == 0) return 0;
    int n;
    if (r == mx) {
        n = g - b;
        if (n < 0) n += 6 * d;
    } else if (g == mx) {
        n = 2 * d + b - r;
    } else {
        n = 4 * d + r - g;
    }
    if (n == 0) return 0;
    const double value = n * scale.per_difference[static_cast<std::size_t>(d)];
    const auto whole = static_cast<std::int32_t>(value);  // 0 <= value < 256
    const double fraction = value - whole;
    if (fraction < 1e-8 || fraction > 1 - 1e-8) return colour::rgb_hue_byte(r, g, b);
    return static_cast<byte>(whole);
}

void hue_pass(byte* p, std::size_t n) {
    const HueScale& scale = hue_scale();
    simd::rewrite_pixels<Rgb>(p, n, [&](Rgb q) { return grey(hue_byte_fast(scale, q.r, q.g, q.b)); });
}

// ---- modes 22 and 23: saturation and value depend only on the largest and smallest byte ----------

const std::array<byte, 65536>& saturation_table() {
    static const std::array<byte, 65536> table = [] {
        std::array<byte, 65536> t{};
        for (int mx = 0; mx < 256; ++mx)
            for (int mn = 0; mn <= mx; ++mn)
                t[static_cast<std::size_t>(mx * 256 + mn)] =
                    colour::rgb_saturation_byte(static_cast<byte>(mx), static_cast<byte>(mn), static_cast<byte>(mn));
        return t;
    }();
    return table;
}

void saturation_pass(byte* p, std::size_t n) {
    const auto& table = saturation_table();
    simd::rewrite_pixels<Rgb>(p, n, [&](Rgb q) {
        const unsigned mx = std::max({q.r, q.g, q.b}), mn = std::min({q.r, q.g, q.b});
        return grey(table[mx * 256 + mn]);
    });
}

const std::array<byte, 256>& value_table() {
    static const std::array<byte, 256> table = [] {
        std::array<byte, 256> t{};
        for (int v = 0; v < 256; ++v)
            t[static_cast<std::size_t>(v)] = colour::rgb_value_byte(static_cast<byte>(v), 0, 0);
        return t;
    }();
    return table;
}

// The value byte is the largest channel whenever the table says so for every byte; the vector
// pass relies on that and is used only then.
bool value_is_largest_channel() {
    static const bool identity = [] {
        const auto& t = value_table();
        for (int v = 0; v < 256; ++v)
            if (t[static_cast<std::size_t>(v)] != v) return false;
        return true;
    }();
    return identity;
}

void value_scalar_pass(byte* p, std::size_t n) {
    const auto& table = value_table();
    simd::rewrite_pixels<Rgb>(p, n, [&](Rgb q) { return grey(table[std::max({q.r, q.g, q.b})]); });
}

// ---- mode 24: L* depends only on the luminance Y --------------------------------------------------
//
// Y is a sum of three per-channel terms, so it is computed exactly as the formula does from three
// small tables. [0, 1) is cut into 2^13 buckets; where L*'s byte is the same at both ends of a
// bucket the bucket's byte is the answer, and a bucket that holds a step (at most one, checked
// when the table is built) keeps the exact Y of the step. Any Y outside the buckets takes the
// formula.

struct LabLTable {
    static constexpr int buckets = 1 << 13;
    std::array<double, 256> red{}, green{}, blue{};
    std::array<byte, buckets + 1> base{};
    std::array<double, buckets> step{};  // the smallest Y of the bucket with byte base + 1
    bool usable = true;
};

const LabLTable& lab_l_table() {
    static const auto table = [] {
        auto t = std::make_unique<LabLTable>();
        for (int c = 0; c < 256; ++c) {
            const auto i = static_cast<std::size_t>(c);
            t->red[i] = 0.222 * (c / 255.0);
            t->green[i] = 0.707 * (c / 255.0);
            t->blue[i] = 0.071 * (c / 255.0);
        }
        for (int k = 0; k <= LabLTable::buckets; ++k)
            t->base[static_cast<std::size_t>(k)] = colour::lab_l_byte_of_y(static_cast<double>(k) / LabLTable::buckets);
        for (int k = 0; k < LabLTable::buckets; ++k) {
            const auto i = static_cast<std::size_t>(k);
            const byte low = t->base[i], high = t->base[i + 1];
            double below = static_cast<double>(k) / LabLTable::buckets;
            double above = static_cast<double>(k + 1) / LabLTable::buckets;
            if (high == low) {
                t->step[i] = above;
                continue;
            }
            if (high != low + 1) t->usable = false;
            // Bisect down to neighbouring doubles: `below` keeps the low byte, `above` does not.
            while (std::nextafter(below, above) < above) {
                const double mid = below + (above - below) / 2;
                if (mid <= below || mid >= above) break;
                (colour::lab_l_byte_of_y(mid) == low ? below : above) = mid;
            }
            t->step[i] = above;
        }
        return t;
    }();
    return *table;
}

inline byte lab_l_byte_of_y_fast(const LabLTable& t, double y) noexcept {
    const double scaled = y * LabLTable::buckets;
    if (!(scaled >= 0 && scaled < LabLTable::buckets)) return colour::lab_l_byte_of_y(y);
    const auto k = static_cast<std::size_t>(scaled);
    return static_cast<byte>(t.base[k] + (y >= t.step[k] ? 1 : 0));
}

inline byte lab_l_byte_fast(const LabLTable& t, byte r, byte g, byte b) noexcept {
    return lab_l_byte_of_y_fast(t, t.red[r] + t.green[g] + t.blue[b]);
}

void lab_l_pass(byte* p, std::size_t n) {
    const LabLTable& t = lab_l_table();
    if (!t.usable)
        return simd::rewrite_pixels<Rgb>(p, n, [](Rgb q) { return grey(colour::rgb_lab_l_byte(q.r, q.g, q.b)); });
    simd::rewrite_pixels<Rgb>(p, n, [&](Rgb q) { return grey(lab_l_byte_fast(t, q.r, q.g, q.b)); });
}

// Y is (222 R + 707 G + 71 B) / 255000 up to the formula's roundings (under 1e-15), so L*'s byte is
// a table indexed by that whole-number key. A key whose Y lies within 1e-12 of a step between two
// bytes holds `unsure_byte`, and its pixels take the formula.
inline constexpr std::uint16_t unsure_byte = 0x100;

const std::vector<std::uint16_t>& lab_l_by_key() {
    static const std::vector<std::uint16_t> table = [] {
        const LabLTable& t = lab_l_table();
        std::vector<std::uint16_t> by_key(255001);
        for (std::size_t k = 0; k < by_key.size(); ++k) {
            const double y = static_cast<double>(k) / 255000;
            const auto bucket = static_cast<std::size_t>(y * LabLTable::buckets);
            const bool near_step = (bucket < LabLTable::buckets && std::abs(y - t.step[bucket]) < 1e-12) ||
                                   (bucket > 0 && std::abs(y - t.step[bucket - 1]) < 1e-12);
            by_key[k] = near_step || bucket >= LabLTable::buckets ? unsure_byte : lab_l_byte_of_y_fast(t, y);
        }
        return by_key;
    }();
    return table;
}

// ---- AVX2 passes -----------------------------------------------------------------------------------

OMBRIX_TARGET_AVX2

constexpr bool is_vector_mode(int mode) {
    return (mode >= 0 && mode <= 20) || (mode >= 27 && mode <= 32) || mode == 34 || mode == 35 || mode == 36;
}
constexpr bool is_bytewise_mode(int mode) { return mode == 34 || mode == 35; }
constexpr bool is_colour_mode(int mode) { return mode >= 0 && mode <= 10; }

template <int Mode>
OMBRIX_AVX2_INLINE v::Planes colour_planes(const v::Planes& q) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i R = q.r, G = q.g, B = q.b;
    if constexpr (Mode == 0) return {R, zero, zero};
    if constexpr (Mode == 1) return {zero, G, zero};
    if constexpr (Mode == 2) return {zero, zero, B};
    if constexpr (Mode == 3) return {R, G, zero};
    if constexpr (Mode == 4) return {zero, G, B};
    if constexpr (Mode == 5) return {R, zero, B};
    if constexpr (Mode == 6) return {R, B, G};
    if constexpr (Mode == 7) return {G, R, B};
    if constexpr (Mode == 8) return {G, B, R};
    if constexpr (Mode == 9) return {B, R, G};
    if constexpr (Mode == 10) return {B, G, R};
}

template <int Mode>
OMBRIX_AVX2_INLINE __m256i grey_plane(const v::Planes& q) {
    const __m256i R = q.r, G = q.g, B = q.b;
    if constexpr (Mode == 11) return R;
    if constexpr (Mode == 12) return G;
    if constexpr (Mode == 13) return B;
    // Undercolour removal: (255 - X) - (255 - max) = max - X.
    if constexpr (Mode == 14) return _mm256_sub_epi8(v::max3_u8(R, G, B), R);
    if constexpr (Mode == 15) return _mm256_sub_epi8(v::max3_u8(R, G, B), G);
    if constexpr (Mode == 16) return _mm256_sub_epi8(v::max3_u8(R, G, B), B);
    if constexpr (Mode == 17) return v::not_u8(v::max3_u8(R, G, B));
    if constexpr (Mode == 18) return v::not_u8(R);
    if constexpr (Mode == 19) return v::not_u8(G);
    if constexpr (Mode == 20) return v::not_u8(B);
    if constexpr (Mode == 23) return v::max3_u8(R, G, B);
    if constexpr (Mode == 27)
        return v::fixed_weighted<colour::luma601.red, colour::luma601.green, colour::luma601.blue,
                                 colour::luma601.offset>(q);
    if constexpr (Mode == 28)
        return v::fixed_weighted<colour::cb601.red, colour::cb601.green, colour::cb601.blue, colour::cb601.offset>(q);
    if constexpr (Mode == 29)
        return v::fixed_weighted<colour::cr601.red, colour::cr601.green, colour::cr601.blue, colour::cr601.offset>(q);
    if constexpr (Mode == 30)
        return v::fixed_weighted<colour::luma709.red, colour::luma709.green, colour::luma709.blue,
                                 colour::luma709.offset>(q);
    if constexpr (Mode == 31)
        return v::fixed_weighted<colour::cb709.red, colour::cb709.green, colour::cb709.blue, colour::cb709.offset>(q);
    if constexpr (Mode == 32)
        return v::fixed_weighted<colour::cr709.red, colour::cr709.green, colour::cr709.blue, colour::cr709.offset>(q);
    if constexpr (Mode == 36) {
        const __m256i above = v::splat(128);
        return _mm256_and_si256(_mm256_and_si256(v::gt_u8(R, above), v::gt_u8(G, above)), v::gt_u8(B, above));
    }
}

template <int Mode>
OMBRIX_AVX2_INLINE __m256i bytewise(__m256i x) {
    if constexpr (Mode == 34) {
        __m256i out = v::select(v::gt_u8(x, _mm256_setzero_si256()), v::splat(32), _mm256_setzero_si256());
        out = v::select(v::gt_u8(x, v::splat(64)), v::splat(98), out);
        out = v::select(v::gt_u8(x, v::splat(128)), v::splat(160), out);
        out = v::select(v::gt_u8(x, v::splat(192)), v::splat(224), out);
        return v::select(v::eq_u8(x, v::splat(255)), v::splat(255), out);
    }
    if constexpr (Mode == 35) return v::gt_u8(x, v::splat(128));
}

// Runs the whole blocks of the image and returns how many pixels it did.
template <int Mode>
std::size_t avx2_pass(byte* p, std::size_t n) {
    return v::for_each_block(p, n, [](byte* block) {
        if constexpr (is_bytewise_mode(Mode)) {
            for (int k = 0; k < 3; ++k) {
                auto* at = reinterpret_cast<__m256i*>(block + 32 * k);
                _mm256_storeu_si256(at, bytewise<Mode>(_mm256_loadu_si256(at)));
            }
        } else if constexpr (is_colour_mode(Mode)) {
            v::store_planes(block, colour_planes<Mode>(v::load_planes(block)));
        } else {
            v::store_grey(block, grey_plane<Mode>(v::load_planes(block)));
        }
    });
}

// Modes 22 and 24 by table: the keys of a block computed on vectors, then looked up one by one.
std::size_t saturation_avx2(byte* p, std::size_t n) {
    const auto& table = saturation_table();
    return v::for_each_block(p, n, [&](byte* block) {
        const v::Planes q = v::load_planes(block);
        // The index max × 256 + min of every pixel, built on vectors in pixel order.
        const __m256i mx = v::max3_u8(q.r, q.g, q.b), mn = v::min3_u8(q.r, q.g, q.b);
        const __m256i low = _mm256_unpacklo_epi8(mn, mx), high = _mm256_unpackhi_epi8(mn, mx);
        alignas(32) std::uint16_t index[32];
        alignas(32) byte out[32];
        _mm256_store_si256(reinterpret_cast<__m256i*>(index), _mm256_permute2x128_si256(low, high, 0x20));
        _mm256_store_si256(reinterpret_cast<__m256i*>(index + 16), _mm256_permute2x128_si256(low, high, 0x31));
        for (int j = 0; j < 32; ++j) out[j] = table[index[j]];
        v::store_grey(block, _mm256_load_si256(reinterpret_cast<const __m256i*>(out)));
    });
}

std::size_t lab_l_keyed_avx2(byte* p, std::size_t n) {
    const std::uint16_t* table = lab_l_by_key().data();
    return v::for_each_block(p, n, [&](byte* block) {
        const v::Planes q = v::load_planes(block);
        alignas(32) std::int32_t keys[32];
        alignas(32) byte out[32];
        for (int grp = 0; grp < 4; ++grp) {
            const auto widen = [grp](__m256i plane) {
                const __m128i half = grp < 2 ? _mm256_castsi256_si128(plane) : _mm256_extracti128_si256(plane, 1);
                return _mm256_cvtepu8_epi32(grp & 1 ? _mm_srli_si128(half, 8) : half);
            };
            const __m256i key =
                _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(widen(q.r), _mm256_set1_epi32(222)),
                                                  _mm256_mullo_epi32(widen(q.g), _mm256_set1_epi32(707))),
                                 _mm256_mullo_epi32(widen(q.b), _mm256_set1_epi32(71)));
            _mm256_store_si256(reinterpret_cast<__m256i*>(keys + 8 * grp), key);
        }
        // The entries are looked up one by one, and checked for unsure keys all at once.
        alignas(32) std::uint16_t entries[32];
        for (int j = 0; j < 32; ++j) entries[j] = table[keys[j]];
        const __m256i low = _mm256_load_si256(reinterpret_cast<const __m256i*>(entries));
        const __m256i high = _mm256_load_si256(reinterpret_cast<const __m256i*>(entries + 16));
        const __m256i unsure = _mm256_set1_epi16(static_cast<short>(unsure_byte));
        // The packs interleave the two halves by 128-bit lane; the permutation puts pixels back in order.
        const __m256i doubt = _mm256_permute4x64_epi64(
            _mm256_packs_epi16(_mm256_cmpeq_epi16(low, unsure), _mm256_cmpeq_epi16(high, unsure)), 0xD8);
        _mm256_store_si256(reinterpret_cast<__m256i*>(out),
                           _mm256_permute4x64_epi64(_mm256_packus_epi16(low, high), 0xD8));
        for (auto bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(doubt)); bits != 0; bits &= bits - 1) {
            const int j = __builtin_ctz(bits);
            out[j] = colour::rgb_lab_l_byte(block[3 * j], block[3 * j + 1], block[3 * j + 2]);
        }
        v::store_grey(block, _mm256_load_si256(reinterpret_cast<const __m256i*>(out)));
    });
}

// Mode 21, 32 pixels at a time: n in 16-bit lanes, the product in floats, eight at a time.
std::size_t hue_avx2(byte* p, std::size_t n) {
    const HueScale& scale = hue_scale();
    alignas(32) std::uint16_t numerator[32];
    alignas(32) byte difference[32], result[32];
    const __m256 low_guard = _mm256_set1_ps(float_guard), high_guard = _mm256_set1_ps(1 - float_guard);
    return v::for_each_block(p, n, [&](byte* block) {
        const v::Planes q = v::load_planes(block);
        const __m256i mx = v::max3_u8(q.r, q.g, q.b), d = _mm256_sub_epi8(mx, v::min3_u8(q.r, q.g, q.b));
        const __m256i red_max = v::eq_u8(q.r, mx), green_max = _mm256_andnot_si256(red_max, v::eq_u8(q.g, mx));
        __m256i halves[2];
        for (int h = 0; h < 2; ++h) {
            const auto widen = [h](__m256i x) { return h ? v::widen_hi(x) : v::widen_lo(x); };
            const auto widen_mask = [h](__m256i m) {
                return h ? _mm256_unpackhi_epi8(m, m) : _mm256_unpacklo_epi8(m, m);
            };
            const __m256i r = widen(q.r), g = widen(q.g), b = widen(q.b), d16 = widen(d);
            __m256i red = _mm256_sub_epi16(g, b);
            const __m256i six_d = _mm256_mullo_epi16(d16, _mm256_set1_epi16(6));
            red = _mm256_add_epi16(red, _mm256_and_si256(_mm256_cmpgt_epi16(_mm256_setzero_si256(), red), six_d));
            const __m256i green = _mm256_add_epi16(_mm256_slli_epi16(d16, 1), _mm256_sub_epi16(b, r));
            const __m256i blue = _mm256_add_epi16(_mm256_slli_epi16(d16, 2), _mm256_sub_epi16(r, g));
            halves[h] = v::select(widen_mask(red_max), red, v::select(widen_mask(green_max), green, blue));
        }
        // Lane-split words back to pixel order.
        _mm256_store_si256(reinterpret_cast<__m256i*>(numerator),
                           _mm256_permute2x128_si256(halves[0], halves[1], 0x20));
        _mm256_store_si256(reinterpret_cast<__m256i*>(numerator + 16),
                           _mm256_permute2x128_si256(halves[0], halves[1], 0x31));
        _mm256_store_si256(reinterpret_cast<__m256i*>(difference), d);
        __m128i wholes[8];
        std::uint32_t doubtful = 0;
        for (int grp = 0; grp < 4; ++grp) {
            const __m256 count = _mm256_cvtepi32_ps(
                _mm256_cvtepu16_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(numerator + 8 * grp))));
            const byte* dk = difference + 8 * grp;
            const float* per = scale.per_difference_float.data();
            const __m256 value = _mm256_mul_ps(count, _mm256_setr_ps(per[dk[0]], per[dk[1]], per[dk[2]], per[dk[3]],
                                                                     per[dk[4]], per[dk[5]], per[dk[6]], per[dk[7]]));
            const __m256i whole = _mm256_cvttps_epi32(value);
            const __m256 fraction = _mm256_sub_ps(value, _mm256_cvtepi32_ps(whole));
            const __m256 near = _mm256_or_ps(_mm256_cmp_ps(fraction, low_guard, _CMP_LT_OQ),
                                             _mm256_cmp_ps(fraction, high_guard, _CMP_GT_OQ));
            const __m256 counted = _mm256_cmp_ps(count, _mm256_setzero_ps(), _CMP_NEQ_OQ);
            doubtful |= static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_and_ps(near, counted))) << (8 * grp);
            wholes[2 * grp] = _mm256_castsi256_si128(whole);
            wholes[2 * grp + 1] = _mm256_extracti128_si256(whole, 1);
        }
        _mm256_store_si256(reinterpret_cast<__m256i*>(result), v::plane_of(wholes));
        for (; doubtful != 0; doubtful &= doubtful - 1) {
            const int j = __builtin_ctz(doubtful);
            result[j] = colour::rgb_hue_byte(block[3 * j], block[3 * j + 1], block[3 * j + 2]);
        }
        v::store_grey(block, _mm256_load_si256(reinterpret_cast<const __m256i*>(result)));
    });
}

OMBRIX_TARGET_END

template <int Mode>
void run_mode(byte* p, std::size_t n) {
    const simd::NoPass none;
    if constexpr (Mode == 21) {
        simd::run_in_place(p, n, none, hue_avx2, hue_pass);
    } else if constexpr (Mode == 22) {
        simd::run_in_place(p, n, none, saturation_avx2, saturation_pass);
    } else if constexpr (Mode == 23) {
        if (value_is_largest_channel())
            simd::run_in_place(p, n, none, avx2_pass<23>, value_scalar_pass);
        else
            value_scalar_pass(p, n);
    } else if constexpr (Mode == 24) {
        if (lab_l_table().usable)
            simd::run_in_place(p, n, none, lab_l_keyed_avx2, lab_l_pass);
        else
            lab_l_pass(p, n);
    } else if constexpr (Mode == 25) {
        lab_a_pass(p, n);
    } else if constexpr (Mode == 26) {
        lab_b_pass(p, n);
    } else if constexpr (Mode == 33) {
        random_pass(p, n);
    } else if constexpr (is_vector_mode(Mode)) {
        simd::run_in_place(p, n, none, avx2_pass<Mode>, scalar_pass<Mode>);
    } else {
        scalar_pass<Mode>(p, n);
    }
}

constexpr auto passes = simd::pass_table<last_transform_mode + 1>([]<int Mode> { return &run_mode<Mode>; });

}  // namespace

double transform_rgb(ImageRecord& image, std::int32_t mode) {
    const std::size_t n = image.rgb_pixel_count();
    if (n == 0) return 1;
    if (mode == -1) return 0;
    if (mode < first_transform_mode || mode > last_transform_mode) fail_devil(0, il_invalid_param);
    passes[static_cast<std::size_t>(mode)](image.rgb.data(), n);
    return 1;
}

}  // namespace ombrix::pixel
