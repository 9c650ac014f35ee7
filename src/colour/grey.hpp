// The library's grey level of a colour, (77·R + 150·G + 29·B) >> 8. The weights add up to 256,
// so the level is a byte. Grey images, the packed 4-bit conversion, grey OX files and the grey
// text exports all take it from here; the AVX2 grey pass (simd_avx2.hpp) computes the same sum.
#pragma once

#include <cstdint>

namespace ombrix::colour {

constexpr std::uint8_t grey_level(std::uint8_t r, std::uint8_t g, std::uint8_t b) noexcept {
    return static_cast<std::uint8_t>((77 * r + 150 * g + 29 * b) >> 8);
}

// The grey level of the packed RGB pixel at `p`.
constexpr std::uint8_t grey_level(const std::uint8_t* p) noexcept { return grey_level(p[0], p[1], p[2]); }

}  // namespace ombrix::colour
