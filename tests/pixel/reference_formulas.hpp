// The per-pixel formulas of image_transformRGB and image_test written out plainly, for checking
// the library's passes (vector, table and scalar alike) against something they do not share.
// Real-valued steps use the same double or float operations in the same order as the documented
// formulas, so every result is the documented byte.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "colour/models.hpp"
#include "simd/dispatch.hpp"

namespace ombrix::reference {

using colour::Rgb;
using u8 = std::uint8_t;

inline Rgb grey(int v) { return {static_cast<u8>(v), static_cast<u8>(v), static_cast<u8>(v)}; }

// Truncation toward zero, then the low 8 bits (every value here is far inside 16 bits).
inline u8 wrap(double x) { return static_cast<u8>(static_cast<int>(x) & 0xFF); }

// L*a*b* results above 256 are 255 and below 0 are 0.
inline u8 lab_scale(double v) { return v > 256 ? u8{255} : v < 0 ? u8{0} : wrap(v); }

inline double lab_curve(double t) {
    if (t > 0.008856) return std::pow(t, 0.3333333333333333);
    return 7.78 * t + 0.13793103448275862;
}

// 16.16 weights: the low byte of (wr·R + wg·G + wb·B + offset) >> 16.
inline u8 weighted(int wr, int wg, int wb, int offset, int r, int g, int b) {
    return static_cast<u8>(((wr * r + wg * g + wb * b + offset) >> 16) & 0xFF);
}

inline u8 posterised(int v) {
    if (v == 0) return 0;
    if (v <= 64) return 32;
    if (v <= 128) return 98;
    if (v <= 192) return 160;
    if (v <= 254) return 224;
    return 255;
}

// image_transformRGB, modes 0 to 36 but 33.
inline Rgb transform_rgb(int mode, Rgb p) {
    const int r = p.r, g = p.g, b = p.b;
    const int hi = std::max({r, g, b}), lo = std::min({r, g, b});
    const double R = r / 255.0, G = g / 255.0, B = b / 255.0;
    const double top = std::max({R, G, B}), range = top - std::min({R, G, B});
    const double X = 0.431 * R + 0.342 * G + 0.178 * B;
    const double Y = 0.222 * R + 0.707 * G + 0.071 * B;
    const double Z = 0.020 * R + 0.130 * G + 0.939 * B;
    switch (mode) {
        case 0:
            return {p.r, 0, 0};
        case 1:
            return {0, p.g, 0};
        case 2:
            return {0, 0, p.b};
        case 3:
            return {p.r, p.g, 0};
        case 4:
            return {0, p.g, p.b};
        case 5:
            return {p.r, 0, p.b};
        case 6:
            return {p.r, p.b, p.g};
        case 7:
            return {p.g, p.r, p.b};
        case 8:
            return {p.g, p.b, p.r};
        case 9:
            return {p.b, p.r, p.g};
        case 10:
            return {p.b, p.g, p.r};
        case 11:
            return grey(r);
        case 12:
            return grey(g);
        case 13:
            return grey(b);
        case 14:
            return grey(hi - r);
        case 15:
            return grey(hi - g);
        case 16:
            return grey(hi - b);
        case 17:
            return grey(255 - hi);
        case 18:
            return grey(255 - r);
        case 19:
            return grey(255 - g);
        case 20:
            return grey(255 - b);
        case 21: {
            if (hi == lo) return grey(0);
            double h = R == top ? (G - B) / range : G == top ? 2 + (B - R) / range : 4 + (R - G) / range;
            h /= 6;
            if (h < 0) h += 1;
            return grey(wrap(h * 255.999));
        }
        case 22:
            return grey(hi == 0 ? 0 : wrap(range / top * 255.999));
        case 23:
            return grey(wrap(top * 255.999));
        case 24: {
            const double l = Y > 0.008856 ? 116 * std::pow(Y, 0.3333333333333333) - 16 : 903.3 * Y;
            return grey(lab_scale(l * 2.5599));
        }
        case 25:
            return grey(lab_scale((lab_curve(X / 0.951) - lab_curve(Y)) * 635 + 128));
        case 26:
            return grey(lab_scale((lab_curve(Y) - lab_curve(Z / 1.089)) * 254 + 128));
        case 27:
            return grey(weighted(16823, 33016, 6445, 0x108000, r, g, b));
        case 28:
            return grey(weighted(-9718, -19067, 28784, 0x808000, r, g, b));
        case 29:
            return grey(weighted(28784, -24087, -4698, 0x808000, r, g, b));
        case 30:
            return grey(weighted(11966, 40254, 4064, 0x108000, r, g, b));
        case 31:
            return grey(weighted(-6620, -22222, 28784, 0x808000, r, g, b));
        case 32:
            return grey(weighted(28784, -26136, -2648, 0x808000, r, g, b));
        case 34:
            return {posterised(r), posterised(g), posterised(b)};
        case 35:
            return {static_cast<u8>(r > 128 ? 255 : 0), static_cast<u8>(g > 128 ? 255 : 0),
                    static_cast<u8>(b > 128 ? 255 : 0)};
        case 36:
            return grey(r > 128 && g > 128 && b > 128 ? 255 : 0);
        default:
            return p;
    }
}

// The middle of three by sorting.
inline int middle(int a, int b, int c) {
    int v[3] = {a, b, c};
    std::sort(v, v + 3);
    return v[1];
}

// image_test, modes 0 to 23.
inline Rgb rank(int mode, Rgb p) {
    const int r = p.r, g = p.g, b = p.b;
    const auto c = [](int x, int y, int z) { return Rgb{static_cast<u8>(x), static_cast<u8>(y), static_cast<u8>(z)}; };
    if (mode <= 6) {
        const int M = std::max({r, g, b}), N = std::min({M, g, b}), D = middle(M, N, b);
        const int order[7][3] = {{M, N, D}, {N, M, D}, {N, D, M}, {M, D, N}, {D, N, M}, {D, M, N}, {D, g, g}};
        return c(order[mode][0], order[mode][1], order[mode][2]);
    }
    const int mx = std::max({r, g, b}), mn = std::min({r, g, b}), md = middle(r, g, b);
    // HWB on the 0..255 scale in floats: the hue is k - f / (v - w) by which channel is smallest.
    const float fr = static_cast<float>(r), fg = static_cast<float>(g), fb = static_cast<float>(b);
    const float w = std::min({fr, fg, fb}), v = std::max({fr, fg, fb});
    float hue = -1;
    if (v != w) {
        if (fr == w)
            hue = 3.0f - (fg - fb) / (v - w);
        else if (fg == w)
            hue = 5.0f - (fb - fr) / (v - w);
        else
            hue = 1.0f - (fr - fg) / (v - w);
    }
    const u8 hue_byte = wrap(static_cast<double>(hue)), white = wrap(static_cast<double>(w)),
             black = wrap(static_cast<double>(1 - v));
    const double luma = 0.299 * r + 0.587 * g + 0.114 * b;
    switch (mode) {
        case 7:
            return c(mx, mn, md);
        case 8:
            return c(mx, md, mn);
        case 9:
            return c(md, mn, mx);
        case 10:
            return c(md, mx, mn);
        case 11:
            return c(mn, mx, md);
        case 12:
            return c(mn, md, mx);
        case 13:
            return grey(mx);
        case 14:
            return grey(mn);
        case 15:
            return grey(md);
        case 16:
            return c(std::max(r - 99, 0), std::max(g - 99, 0), std::max(b - 99, 0));
        case 17:
            return {hue_byte, white, black};
        case 18:
            return grey(hue_byte);
        case 19:
            return grey(white);
        case 20:
            return grey(black);
        case 21:
            return grey(wrap(luma));
        case 22:
            return grey(wrap(b - (0.299 * r + 0.587 * g + 0.114 * b)));
        case 23:
            return grey(wrap(r - (0.299 * r + 0.587 * g + 0.114 * b)));
        default:
            return p;
    }
}

// Every pass path, for tests parameterised by it.
inline constexpr simd::Path every_path[] = {simd::Path::scalar, simd::Path::avx2, simd::Path::avx512};

inline std::string path_name(const ::testing::TestParamInfo<simd::Path>& info) {
    switch (info.param) {
        case simd::Path::scalar:
            return "Scalar";
        case simd::Path::avx2:
            return "Avx2";
        default:
            return "Avx512";
    }
}

}  // namespace ombrix::reference

// Skips the test when the processor cannot take the path it is about.
#define OMBRIX_SKIP_UNLESS_SUPPORTED(path)         \
    if (::ombrix::simd::supported_path() < (path)) \
    GTEST_SKIP() << "this processor has no " << ::ombrix::reference::path_name({path, 0}) << " path"
