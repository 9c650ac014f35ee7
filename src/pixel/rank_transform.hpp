// image_test: an in-place pass by mode that reorders channels by rank (largest, smallest, middle),
// or writes HWB components or luma and colour differences; with the small rank helpers it uses.
#pragma once

#include <cstdint>

#include "colour/models.hpp"
#include "store/convert.hpp"
#include "store/state.hpp"

namespace ombrix::pixel {

using colour::byte;

constexpr byte max3_byte(byte a, byte b, byte c) noexcept {
    const byte bc = b > c ? b : c;
    return a > bc ? a : bc;
}
constexpr byte min3_byte(byte a, byte b, byte c) noexcept {
    const byte bc = b < c ? b : c;
    return a < bc ? a : bc;
}

// The middle value, by a fixed order of decisions.
template <class T>
constexpr T median3(T a, T b, T c) noexcept {
    if (b > a) {
        if (b < c) return b;
        if (c > a) return c;
        return a;
    }
    if (c > a) return a;
    if (c > b) return c;
    return b;
}
constexpr byte median3_byte(byte a, byte b, byte c) noexcept { return median3(a, b, c); }
// median3_int(0, v, 255) limits v to 0..255.
constexpr std::int32_t median3_int(std::int32_t a, std::int32_t b, std::int32_t c) noexcept { return median3(a, b, c); }

// Truncated toward zero to 16 bits, low 8 bits kept: -1 becomes 255, -76 becomes 180.
constexpr byte byte_wrap(double x) noexcept { return to_byte(x); }

inline constexpr std::int32_t last_rank_mode = 23;

// The new pixel of one mode of image_test; any mode outside 0..23 leaves the pixel as it is.
[[gnu::always_inline]] inline colour::Rgb rank_pixel(std::int32_t mode, colour::Rgb p) noexcept {
    const byte R = p.r, G = p.g, B = p.b;
    if (mode >= 0 && mode <= 6) {
        // Each step takes the value just computed in place of red (and then of green).
        const byte M = max3_byte(R, G, B);
        const byte N = min3_byte(M, G, B);
        const byte D = median3_byte(M, N, B);
        switch (mode) {
            case 0:
                return {M, N, D};
            case 1:
                return {N, M, D};
            case 2:
                return {N, D, M};
            case 3:
                return {M, D, N};
            case 4:
                return {D, N, M};
            case 5:
                return {D, M, N};
            default:
                return {D, G, G};
        }
    }
    const byte mx = max3_byte(R, G, B), mn = min3_byte(R, G, B), md = median3_byte(R, G, B);
    const auto grey = [](byte v) { return colour::Rgb{v, v, v}; };
    const auto hwb = [&] {
        return colour::rgb_to_hwb(static_cast<float>(R), static_cast<float>(G), static_cast<float>(B));
    };
    switch (mode) {
        case 7:
            return {mx, mn, md};
        case 8:
            return {mx, md, mn};
        case 9:
            return {md, mn, mx};
        case 10:
            return {md, mx, mn};
        case 11:
            return {mn, mx, md};
        case 12:
            return {mn, md, mx};
        case 13:
            return grey(mx);
        case 14:
            return grey(mn);
        case 15:
            return grey(md);
        case 16: {
            const auto down = [](byte c) { return static_cast<byte>(median3_int(0, c - 99, 255)); };
            return {down(R), down(G), down(B)};
        }
        case 17: {
            const colour::Hwb h = hwb();
            return {byte_wrap(h.hue), byte_wrap(h.whiteness), byte_wrap(h.blackness)};
        }
        case 18:
            return grey(byte_wrap(hwb().hue));
        case 19:
            return grey(byte_wrap(hwb().whiteness));
        case 20:
            return grey(byte_wrap(hwb().blackness));
        case 21:
            return grey(byte_wrap(colour::luma_real(R, G, B)));
        case 22:
            return grey(byte_wrap(colour::blue_minus_luma_real(R, G, B)));
        case 23:
            return grey(byte_wrap(colour::red_minus_luma_real(R, G, B)));
        default:
            return p;
    }
}

// Rewrites every pixel by `mode` (modes outside 0..23 change nothing). Returns 0.
double rank_transform(ImageRecord& image, std::int32_t mode);

}  // namespace ombrix::pixel
