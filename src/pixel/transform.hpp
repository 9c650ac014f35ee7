// image_transformRGB: one in-place pass over an image's RGB buffer by a numbered mode, and the
// per-pixel helpers its grey modes use (undercolour-removed CMYK, CIE L*a*b*, BT.601 and BT.709
// YCbCr in 16.16 fixed point).
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "colour/models.hpp"
#include "store/convert.hpp"
#include "store/state.hpp"

namespace ombrix::pixel {

using colour::byte;

// ---- undercolour-removed CMYK: K = 255 - max(R, G, B), no pull-out percentage --------------

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

// ---- YCbCr in 16.16 fixed point: (cR·R + cG·G + cB·B + offset) >> 16, low 8 bits ----------

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

// ---- CIE L*a*b* in double precision, scaled to bytes ---------------------------------------

// Above 256 gives 255, below 0 gives 0; otherwise the low 8 bits of the value truncated to 16 bits.
constexpr byte lab_byte_scale(double value) noexcept {
    if (value > 256) return 255;
    if (value < 0) return 0;
    return to_byte(value);
}

// f(t) of the forward conversion; its linear part uses 7.78.
inline double lab_f(double t) noexcept {
    return t > colour::lab_epsilon ? std::pow(t, 0.3333333333333333) : 7.78 * t + 0.13793103448275862;
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
    const double l = y > colour::lab_epsilon ? 116 * std::pow(y, 0.3333333333333333) - 16 : 903.3 * y;
    return lab_byte_scale(l * 2.5599);
}

inline byte rgb_lab_l_byte(byte r, byte g, byte b) noexcept { return lab_l_byte_of_y(lab_y(r, g, b)); }
inline byte rgb_lab_a_byte(byte r, byte g, byte b) noexcept {
    return lab_byte_scale((lab_f(lab_x(r, g, b) / 0.951) - lab_f(lab_y(r, g, b))) * 635 + 128);
}
inline byte rgb_lab_b_byte(byte r, byte g, byte b) noexcept {
    return lab_byte_scale((lab_f(lab_y(r, g, b)) - lab_f(lab_z(r, g, b) / 1.089)) * 254 + 128);
}

// ---- the transform ---------------------------------------------------------------------------

inline constexpr std::int32_t first_transform_mode = -1;
inline constexpr std::int32_t last_transform_mode = 36;

// Four levels: 0 → 0, 1..64 → 32, 65..128 → 98, 129..192 → 160, 193..254 → 224, 255 → 255.
// (v + 63) >> 6 numbers the bands 0 to 4 without a branch per band.
constexpr byte posterise4(byte v) noexcept {
    constexpr byte levels[5] = {0, 32, 98, 160, 224};
    return v == 255 ? 255 : levels[(v + 63) >> 6];
}

constexpr colour::Rgb grey(byte v) noexcept { return {v, v, v}; }

// The new pixel of one mode, for modes 0 to 36 except the random mode 33 (any other mode leaves
// the pixel as it is). The passes resolve the mode once and inline this per pixel.
[[gnu::always_inline]] inline colour::Rgb transform_pixel(std::int32_t mode, colour::Rgb p) noexcept {
    const byte R = p.r, G = p.g, B = p.b;
    switch (mode) {
        case 0:
            return {R, 0, 0};
        case 1:
            return {0, G, 0};
        case 2:
            return {0, 0, B};
        case 3:
            return {R, G, 0};
        case 4:
            return {0, G, B};
        case 5:
            return {R, 0, B};
        case 6:
            return {R, B, G};
        case 7:
            return {G, R, B};
        case 8:
            return {G, B, R};
        case 9:
            return {B, R, G};
        case 10:
            return {B, G, R};
        case 11:
            return grey(R);
        case 12:
            return grey(G);
        case 13:
            return grey(B);
        case 14:
            return grey(rgb_cyan_byte(R, G, B));
        case 15:
            return grey(rgb_magenta_byte(R, G, B));
        case 16:
            return grey(rgb_yellow_byte(R, G, B));
        case 17:
            return grey(rgb_black_byte(R, G, B));
        case 18:
            return grey(static_cast<byte>(255 - R));
        case 19:
            return grey(static_cast<byte>(255 - G));
        case 20:
            return grey(static_cast<byte>(255 - B));
        case 21:
            return grey(colour::rgb_hue_byte(R, G, B));
        case 22:
            return grey(colour::rgb_saturation_byte(R, G, B));
        case 23:
            return grey(colour::rgb_value_byte(R, G, B));
        case 24:
            return grey(rgb_lab_l_byte(R, G, B));
        case 25:
            return grey(rgb_lab_a_byte(R, G, B));
        case 26:
            return grey(rgb_lab_b_byte(R, G, B));
        case 27:
            return grey(rgb_luma601_byte(R, G, B));
        case 28:
            return grey(rgb_cb601_byte(R, G, B));
        case 29:
            return grey(rgb_cr601_byte(R, G, B));
        case 30:
            return grey(rgb_luma709_byte(R, G, B));
        case 31:
            return grey(rgb_cb709_byte(R, G, B));
        case 32:
            return grey(rgb_cr709_byte(R, G, B));
        case 34:
            return {posterise4(R), posterise4(G), posterise4(B)};
        case 35:
            return {static_cast<byte>(R <= 128 ? 0 : 255), static_cast<byte>(G <= 128 ? 0 : 255),
                    static_cast<byte>(B <= 128 ? 0 : 255)};
        case 36:
            return R > 128 && G > 128 && B > 128 ? grey(255) : grey(0);
        default:
            return p;
    }
}

// Rewrites every pixel by `mode`. Returns 1 after the pass, and 1 for an image without pixels
// whatever the mode; 0 for mode -1 (nothing changes); for a mode outside -1..36 throws
// Failure{0, ILU's invalid-parameter text} before touching a pixel. Mode 33 calls rand() three
// times per pixel, for red, green and blue in that order.
double transform_rgb(ImageRecord& image, std::int32_t mode);

}  // namespace ombrix::pixel
