// The library's colour arithmetic: pure conversions of one colour between RGB and HSV, HSL, HWB,
// CMYK, CIE L*a*b* and YCbCr. No state, no allocation. Every real-to-integer step truncates toward
// zero, and a value stored into a channel byte keeps its low 8 bits; clamps happen only where a
// conversion says so. Arithmetic that the library defines on 32-bit integers wraps the way 32-bit
// two's complement arithmetic does, so that no host input can overflow a signed type here.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "store/convert.hpp"

namespace ombrix::colour {

using byte = std::uint8_t;

struct Rgb {
    byte r = 0;
    byte g = 0;
    byte b = 0;
    friend constexpr bool operator==(const Rgb&, const Rgb&) = default;
};

// A packed colour: red in bits 0-7, green in 8-15, blue in 16-23.
constexpr Rgb unpack(std::int64_t packed) noexcept {
    const auto bits = static_cast<std::uint64_t>(packed);
    return {static_cast<byte>(bits & 0xFFu), static_cast<byte>((bits >> 8) & 0xFFu),
            static_cast<byte>((bits >> 16) & 0xFFu)};
}
constexpr std::int32_t pack(Rgb c) noexcept { return c.r | (c.g << 8) | (c.b << 16); }

// The low 8 bits of a real truncated toward zero to a 32-bit integer (a real beyond 32 bits, or
// NaN, gives the integer indefinite value, whose low byte is 0).
constexpr byte low_byte(double x) noexcept {
    return static_cast<byte>(static_cast<std::uint32_t>(to_int32(x)) & 0xFFu);
}

// 32-bit two's complement wrap of a wider intermediate.
constexpr std::int32_t wrap32(std::int64_t x) noexcept {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(x));
}

constexpr double cube(double x) noexcept { return x * x * x; }

// ---- hue sectors ------------------------------------------------------------------------------

// The hue in sixths of a turn (-1 to 5) of a colour whose largest component is `max` and whose
// range max - min is d > 0: each sector of the hue circle is named by its largest component.
inline double hue_sixths(double R, double G, double B, double max, double d) noexcept {
    if (R == max) return (G - B) / d;
    if (G == max) return 2 + (B - R) / d;
    return 4 + (R - G) / d;
}

// Which of a colour's largest (0), middle (1) and smallest (2) component is red, green and blue
// in each of the six hue sectors. The middle one rises through even sectors and falls through odd.
inline constexpr std::uint8_t sector_roles[6][3] = {{0, 1, 2}, {1, 0, 2}, {2, 0, 1}, {2, 1, 0}, {1, 2, 0}, {0, 2, 1}};

template <class T>
struct SectorColour {
    T r, g, b;
};

// The colour of sector 0 to 5 with the given largest, middle and smallest components.
template <class T>
constexpr SectorColour<T> place_in_sector(std::int32_t sector, T largest, T middle, T smallest) noexcept {
    const T roles[3] = {largest, middle, smallest};
    const std::uint8_t* order = sector_roles[sector];
    return {roles[order[0]], roles[order[1]], roles[order[2]]};
}

// ---- HSV ------------------------------------------------------------------------------------

struct UnitHsv {
    double hue = 0;
    double saturation = 0;
    double value = 0;
};

inline UnitHsv rgb_to_hsv(byte r, byte g, byte b) noexcept {
    const double R = r / 255.0, G = g / 255.0, B = b / 255.0;
    const double max = std::max({R, G, B}), min = std::min({R, G, B});
    UnitHsv out;
    out.value = max;
    out.saturation = max != 0 ? (max - min) / max : 0;
    if (out.saturation == 0) return out;
    out.hue = hue_sixths(R, G, B, max, max - min) / 6;
    if (out.hue < 0)
        out.hue += 1;
    else if (out.hue > 1)
        out.hue -= 1;
    return out;
}

// 255.999 maps a component of exactly 1 to 255 and keeps the value byte equal to the largest input.
inline byte rgb_hue_byte(byte r, byte g, byte b) noexcept { return low_byte(rgb_to_hsv(r, g, b).hue * 255.999); }
inline byte rgb_saturation_byte(byte r, byte g, byte b) noexcept {
    return low_byte(rgb_to_hsv(r, g, b).saturation * 255.999);
}
inline byte rgb_value_byte(byte r, byte g, byte b) noexcept { return low_byte(rgb_to_hsv(r, g, b).value * 255.999); }

constexpr byte unit_to_byte_rounded(double x) noexcept { return low_byte(x * 255 + 0.5); }

// HSV unit reals to bytes. A hue above 1, or at or below -1/6, has no sector: the three unit reals
// themselves become the channels.
inline Rgb hsv_unit_to_rgb(double hue, double saturation, double value) noexcept {
    double r, g, b;
    if (saturation == 0) {
        r = g = b = value;
    } else {
        double h6 = hue * 6;
        if (h6 == 6) h6 = 0;
        const std::int32_t i = to_int32(h6);
        const double f = h6 - i;
        const double v = value, s = saturation;
        const double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
        if (i >= 0 && i <= 5) {
            const SectorColour<double> c = place_in_sector(i, v, i & 1 ? q : t, p);
            r = c.r, g = c.g, b = c.b;
        } else {
            r = hue, g = saturation, b = value;
        }
    }
    return {unit_to_byte_rounded(r), unit_to_byte_rounded(g), unit_to_byte_rounded(b)};
}

// HSV on 0..255 (hue 255 = 360 degrees) to bytes, the hue in whole degrees. A hue outside 0..255
// is taken modulo 360 degrees, so every 32-bit input lands in one of the six sectors.
inline Rgb hsv_byte_to_rgb(std::int32_t hue, std::int32_t saturation, std::int32_t value) noexcept {
    if (saturation == 0) {
        const byte grey = static_cast<byte>(static_cast<std::uint32_t>(value) & 0xFFu);
        return {grey, grey, grey};
    }
    // |hue| < 2^31, so degrees stays far inside 64 bits.
    std::int64_t degrees = trunc_int64(hue / 2.55 * 3.6) % 360;
    if (degrees < 0) degrees += 360;
    const double s = saturation / 255.0, v = value / 255.0;
    const double h = static_cast<double>(degrees) / 60;
    const auto i = static_cast<std::int32_t>(degrees / 60);  // floor(h): degrees is not negative
    const double f = h - i;
    const byte V = low_byte(v * 255 + 0.5);
    const byte P = low_byte((1 - s) * v * 255 + 0.5);
    const byte Q = low_byte(v * (1 - f * s) * 255 + 0.5);
    const byte T = low_byte(v * (1 - s * (1 - f)) * 255 + 0.5);
    const SectorColour<byte> c = place_in_sector(i, V, i & 1 ? Q : T, P);
    return {c.r, c.g, c.b};
}

// ---- HSL ------------------------------------------------------------------------------------

// Each component is a whole number on 0..255 carried in a real.
struct ByteHsl {
    double hue = 0;
    double saturation = 0;
    double lightness = 0;
};

inline ByteHsl rgb_to_hsl_byte(std::int32_t r, std::int32_t g, std::int32_t b) noexcept {
    // Reals throughout: the inputs are arbitrary 32-bit integers, and sums of two of them do not
    // fit 32 bits.
    const double R = r, G = g, B = b;
    const double max = std::max({R, G, B}), min = std::min({R, G, B});
    const double L = (max + min) * 0.5;
    double H = 0, S = 0;
    if (max != min) {
        const double d = max - min;
        S = L < 128 ? d * 255 / (max + min) : d * 255 / (511 - max - min);
        H = hue_sixths(R, G, B, max, d) * 42.5;
        if (H < 0)
            H += 255;
        else if (H > 255)
            H -= 255;
    }
    return {std::trunc(H + 0.5), std::trunc(S + 0.5), std::trunc(L + 0.5)};
}

inline byte rgb_lightness_byte(std::int32_t r, std::int32_t g, std::int32_t b) noexcept {
    return low_byte(rgb_to_hsl_byte(r, g, b).lightness);
}

// ---- HWB ------------------------------------------------------------------------------------

// Hue in (0, 6], or -1 when all three channels are equal.
struct Hwb {
    float hue = 0;
    float whiteness = 0;
    float blackness = 0;
};

inline Hwb rgb_to_hwb(float r, float g, float b) noexcept {
    const float w = std::min({r, g, b}), v = std::max({r, g, b});
    Hwb out;
    out.whiteness = w;
    out.blackness = 1 - v;
    if (v == w) {
        out.hue = -1;
        return out;
    }
    const float f = r == w ? g - b : (g == w ? b - r : r - g);
    const float k = r == w ? 3.0f : (g == w ? 5.0f : 1.0f);
    out.hue = k - f / (v - w);
    return out;
}

// Returns false, leaving r, g and b as they were, for a hue whose sector is outside 0..6.
inline bool hwb_to_rgb(const Hwb& hwb, float& r, float& g, float& b) noexcept {
    const float v = 1 - hwb.blackness, w = hwb.whiteness;
    if (hwb.hue == -1) {
        r = g = b = v;
        return true;
    }
    const std::int32_t i = to_int32(std::floor(static_cast<double>(hwb.hue)));
    float f = hwb.hue - static_cast<float>(i);
    if (i & 1) f = 1 - f;
    const float n = w + f * (v - w);
    if (i < 0 || i > 6) return false;
    const SectorColour<float> c = place_in_sector(i % 6, v, n, w);
    r = c.r, g = c.g, b = c.b;
    return true;
}

// Squared HWB difference of two colours given on 0..255. An undefined hue matches every hue, and
// the hue difference is truncated to a whole number of sectors before it is squared.
inline double hwb_distance(std::int32_t r1, std::int32_t g1, std::int32_t b1, std::int32_t r2, std::int32_t g2,
                           std::int32_t b2) noexcept {
    const auto unit = [](std::int32_t x) { return static_cast<float>(x) / 255.0f; };
    const Hwb a = rgb_to_hwb(unit(r1), unit(g1), unit(b1));
    const Hwb c = rgb_to_hwb(unit(r2), unit(g2), unit(b2));
    std::int32_t dh = 0;
    if (a.hue != -1 && c.hue != -1) {
        dh = to_int32(static_cast<double>(a.hue - c.hue));
        if (dh < 0) dh = -dh;
        if (dh > 3) dh = 6 - dh;
    }
    const double dw = a.whiteness - c.whiteness, db = a.blackness - c.blackness;
    return dh * dh + dw * dw + db * db;
}

// The grey of the packed colour's average, packed again.
constexpr std::int32_t rgb_grey_average(std::int64_t packed) noexcept {
    const Rgb c = unpack(packed);
    return (c.r + c.g + c.b) / 3 * 0x010101;
}

// ---- CMYK -----------------------------------------------------------------------------------

struct Cmyk {
    std::int32_t c = 0;
    std::int32_t m = 0;
    std::int32_t y = 0;
    std::int32_t k = 0;
};

// `pullout` is the percentage of the common grey moved into black: 0 and below none, above 100
// all of it.
constexpr Cmyk rgb_to_cmyk(byte r, byte g, byte b, std::int32_t pullout) noexcept {
    const std::int32_t c = 255 - r, m = 255 - g, y = 255 - b;
    if (pullout == 0) return {c, m, y, 0};
    std::int32_t k = std::min({255, c, m, y});
    if (pullout <= 100) k = k * std::max(pullout, 0) / 100;
    const std::int32_t divisor = 256 - k;
    return {(c - k) * 256 / divisor, (m - k) * 256 / divisor, (y - k) * 256 / divisor, k};
}

struct Rgb32 {
    std::int32_t r = 0;
    std::int32_t g = 0;
    std::int32_t b = 0;
    friend constexpr bool operator==(const Rgb32&, const Rgb32&) = default;
};

// No clamping: components outside 0..255 give channels outside 0..255, computed with 32-bit
// wrap-around.
constexpr Rgb32 cmyk_to_rgb(std::int32_t c, std::int32_t m, std::int32_t y, std::int32_t k) noexcept {
    const auto channel = [k](std::int32_t x) {
        if (k == 0) return wrap32(std::int64_t{255} - x);
        const std::int32_t scaled = wrap32(std::int64_t{wrap32(std::int64_t{256} - k)} * x) >> 8;
        return wrap32(std::int64_t{255} - wrap32(std::int64_t{scaled} + k));
    };
    return {channel(c), channel(m), channel(y)};
}

// The sums wrap modulo 256: C = 200 with K = 100 gives red 211.
constexpr Rgb cmyk_bytes_to_rgb(byte c, byte m, byte y, byte k) noexcept {
    const auto channel = [k](byte x) { return static_cast<byte>(255 - ((x + k) & 0xFF)); };
    return {channel(c), channel(m), channel(y)};
}

// Undercolour-removed CMYK: K = 255 - max(R, G, B), no pull-out percentage.

constexpr byte rgb_black_byte(byte r, byte g, byte b) noexcept {
    return static_cast<byte>(std::min({255 - r, 255 - g, 255 - b}));
}
constexpr byte rgb_cyan_byte(byte r, byte g, byte b) noexcept {
    return static_cast<byte>(255 - r - rgb_black_byte(r, g, b));
}
constexpr byte rgb_magenta_byte(byte r, byte g, byte b) noexcept {
    return static_cast<byte>(255 - g - rgb_black_byte(r, g, b));
}
constexpr byte rgb_yellow_byte(byte r, byte g, byte b) noexcept {
    return static_cast<byte>(255 - b - rgb_black_byte(r, g, b));
}

// ---- CIE L*a*b* -----------------------------------------------------------------------------

inline constexpr double lab_epsilon = 0.008856;

// Clamped to [0, 1] (a value not above 0 becomes 0, then one not below 1 becomes 1), then scaled
// by 255.999. MAXSD and MINSD return their second operand for NaN and for equal values, which is
// exactly that rule, and they keep the random-looking clamps of a whole image free of branches.
inline byte unit_to_byte_clamped(double x) noexcept {
#if defined(__SSE2__)
    const __m128d clamped = _mm_min_sd(_mm_max_sd(_mm_set_sd(x), _mm_setzero_pd()), _mm_set_sd(1.0));
    return static_cast<byte>(_mm_cvttsd_si32(_mm_mul_sd(clamped, _mm_set_sd(255.999))));
#else
    x = x > 0 ? x : 0;
    x = x < 1 ? x : 1;
    return static_cast<byte>(static_cast<std::int32_t>(x * 255.999));
#endif
}

inline Rgb xyz_to_rgb(double X, double Y, double Z) noexcept {
    const double R = 3.063 * X - 1.393 * Y - 0.476 * Z;
    const double G = -0.969 * X + 1.876 * Y + 0.042 * Z;
    const double B = 0.068 * X - 0.229 * Y + 1.069 * Z;
    return {unit_to_byte_clamped(R), unit_to_byte_clamped(G), unit_to_byte_clamped(B)};
}

// L*a*b* channel bytes (white point X 0.951, Y 1, Z 1.089) to RGB. Below the threshold the cube
// root of Y stands in for fy and the a and b terms are divided by 7.787.
inline Rgb lab_bytes_to_rgb(byte l_byte, byte a_byte, byte b_byte) noexcept {
    const double L = l_byte / 2.55;
    const double a = (a_byte - 128) / 1.27;
    const double b = (b_byte - 128) / 1.27;
    const double fy = (L + 16) / 116;
    double X, Y, Z;
    if (cube(fy) > lab_epsilon) {
        Y = cube(fy);
        X = 0.951 * cube(fy + a / 500);
        Z = 1.089 * cube(fy - b / 200);
    } else {
        Y = L / 903.3;
        const double c = std::pow(Y, 0.3333333333333333);
        X = 0.951 * cube(c + a / 500 / 7.787);
        Z = 1.089 * cube(c - b / 200 / 7.787);
    }
    return xyz_to_rgb(X, Y, Z);
}

// From RGB, in double precision, scaled to bytes.

// Above 256 gives 255, below 0 gives 0; otherwise the low 8 bits of the value truncated to 16 bits.
constexpr byte lab_byte_scale(double value) noexcept {
    if (value > 256) return 255;
    if (value < 0) return 0;
    return to_byte(value);
}

// f(t) of the forward conversion; its linear part uses 7.78.
inline double lab_f(double t) noexcept {
    return t > lab_epsilon ? std::pow(t, 0.3333333333333333) : 7.78 * t + 0.13793103448275862;
}

inline double lab_x(byte r, byte g, byte b) noexcept {
    return 0.431 * (r / 255.0) + 0.342 * (g / 255.0) + 0.178 * (b / 255.0);
}
inline double lab_y(byte r, byte g, byte b) noexcept {
    return 0.222 * (r / 255.0) + 0.707 * (g / 255.0) + 0.071 * (b / 255.0);
}
inline double lab_z(byte r, byte g, byte b) noexcept {
    return 0.020 * (r / 255.0) + 0.130 * (g / 255.0) + 0.939 * (b / 255.0);
}

// L* from the luminance Y, scaled by 2.5599 so that white gives 255.99.
inline byte lab_l_byte_of_y(double y) noexcept {
    const double l = y > lab_epsilon ? 116 * std::pow(y, 0.3333333333333333) - 16 : 903.3 * y;
    return lab_byte_scale(l * 2.5599);
}

inline byte rgb_lab_l_byte(byte r, byte g, byte b) noexcept { return lab_l_byte_of_y(lab_y(r, g, b)); }
inline byte rgb_lab_a_byte(byte r, byte g, byte b) noexcept {
    return lab_byte_scale((lab_f(lab_x(r, g, b) / 0.951) - lab_f(lab_y(r, g, b))) * 635 + 128);
}
inline byte rgb_lab_b_byte(byte r, byte g, byte b) noexcept {
    return lab_byte_scale((lab_f(lab_y(r, g, b)) - lab_f(lab_z(r, g, b) / 1.089)) * 254 + 128);
}

// ---- YCbCr ----------------------------------------------------------------------------------

// 16.16 fixed-point factors from Cr and Cb to the channels; the luma factor is shared.
struct YcbcrCoefficients {
    std::int32_t red_cr;
    std::int32_t green_cb;
    std::int32_t green_cr;
    std::int32_t blue_cb;
};
inline constexpr YcbcrCoefficients ycbcr470{80723, 19896, 41133, 101954};
inline constexpr YcbcrCoefficients ycbcr709{90659, 10783, 26948, 106825};
inline constexpr std::int32_t ycbcr_luma_factor = 56284;

constexpr byte clamp_byte(std::int32_t x) noexcept { return static_cast<byte>(std::clamp(x, 0, 255)); }

constexpr Rgb ycbcr_bytes_to_rgb(byte y_byte, byte cb_byte, byte cr_byte, const YcbcrCoefficients& k) noexcept {
    const std::int32_t y = (y_byte - 16) * ycbcr_luma_factor;
    const std::int32_t cb = cb_byte - 128, cr = cr_byte - 128;
    return {clamp_byte((y + k.red_cr * cr + 32768) >> 16),
            clamp_byte((y - k.green_cb * cb - k.green_cr * cr + 32768) >> 16),
            clamp_byte((y + k.blue_cb * cb + 32768) >> 16)};
}

// From RGB in 16.16 fixed point: (cR·R + cG·G + cB·B + offset) >> 16, low 8 bits.

struct FixedWeights {
    std::int32_t red;
    std::int32_t green;
    std::int32_t blue;
    std::int32_t offset;
};
inline constexpr std::int32_t luma_offset = 0x108000;        // 16.5: studio black plus rounding
inline constexpr std::int32_t difference_offset = 0x808000;  // 128.5
inline constexpr FixedWeights luma601{16823, 33016, 6445, luma_offset};
inline constexpr FixedWeights cb601{-9718, -19067, 28784, difference_offset};
inline constexpr FixedWeights cr601{28784, -24087, -4698, difference_offset};
inline constexpr FixedWeights luma709{11966, 40254, 4064, luma_offset};
inline constexpr FixedWeights cb709{-6620, -22222, 28784, difference_offset};
inline constexpr FixedWeights cr709{28784, -26136, -2648, difference_offset};

constexpr byte fixed_weighted_byte(const FixedWeights& w, byte r, byte g, byte b) noexcept {
    return static_cast<byte>(((w.red * r + w.green * g + w.blue * b + w.offset) >> 16) & 0xFF);
}
constexpr byte rgb_luma601_byte(byte r, byte g, byte b) noexcept { return fixed_weighted_byte(luma601, r, g, b); }
constexpr byte rgb_cb601_byte(byte r, byte g, byte b) noexcept { return fixed_weighted_byte(cb601, r, g, b); }
constexpr byte rgb_cr601_byte(byte r, byte g, byte b) noexcept { return fixed_weighted_byte(cr601, r, g, b); }
constexpr byte rgb_luma709_byte(byte r, byte g, byte b) noexcept { return fixed_weighted_byte(luma709, r, g, b); }
constexpr byte rgb_cb709_byte(byte r, byte g, byte b) noexcept { return fixed_weighted_byte(cb709, r, g, b); }
constexpr byte rgb_cr709_byte(byte r, byte g, byte b) noexcept { return fixed_weighted_byte(cr709, r, g, b); }

// BT.601 luma and colour differences in reals, unscaled and unrounded.
constexpr double luma_real(double r, double g, double b) noexcept { return 0.299 * r + 0.587 * g + 0.114 * b; }
constexpr double blue_minus_luma_real(double r, double g, double b) noexcept {
    return b - (0.299 * r + 0.587 * g + 0.114 * b);
}
constexpr double red_minus_luma_real(double r, double g, double b) noexcept {
    return r - (0.299 * r + 0.587 * g + 0.114 * b);
}

}  // namespace ombrix::colour
