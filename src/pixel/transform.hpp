// image_transformRGB: one in-place pass over an image's RGB buffer by a numbered mode, built on
// the colour conversions of colour/models.hpp.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "colour/models.hpp"
#include "store/convert.hpp"
#include "store/state.hpp"

namespace ombrix::pixel {

using colour::byte;

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

// The new pixel of one mode, for modes 0 to 36 except the random mode 33 and the real-valued
// modes 21 to 26, whose passes in transform.cpp and lab_passes.cpp state their formulas (any other
// mode leaves the pixel as it is). The passes resolve the mode once and inline this per pixel.
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
            return grey(colour::rgb_cyan_byte(R, G, B));
        case 15:
            return grey(colour::rgb_magenta_byte(R, G, B));
        case 16:
            return grey(colour::rgb_yellow_byte(R, G, B));
        case 17:
            return grey(colour::rgb_black_byte(R, G, B));
        case 18:
            return grey(static_cast<byte>(255 - R));
        case 19:
            return grey(static_cast<byte>(255 - G));
        case 20:
            return grey(static_cast<byte>(255 - B));
        case 27:
            return grey(colour::rgb_luma601_byte(R, G, B));
        case 28:
            return grey(colour::rgb_cb601_byte(R, G, B));
        case 29:
            return grey(colour::rgb_cr601_byte(R, G, B));
        case 30:
            return grey(colour::rgb_luma709_byte(R, G, B));
        case 31:
            return grey(colour::rgb_cb709_byte(R, G, B));
        case 32:
            return grey(colour::rgb_cr709_byte(R, G, B));
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
