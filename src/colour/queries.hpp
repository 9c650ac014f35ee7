// Single-colour queries: a packed colour (0xBBGGRR) taken apart into HSV or CMYK components, and
// colours built from HSV or CMYK components. No image and no library state besides the pullout.
#pragma once

#include <cstdint>

#include "colour/models.hpp"

namespace ombrix::colour {

inline std::int32_t hue_of(std::int64_t packed) noexcept {
    const Rgb c = unpack(packed);
    return rgb_hue_byte(c.r, c.g, c.b);
}
inline std::int32_t saturation_of(std::int64_t packed) noexcept {
    const Rgb c = unpack(packed);
    return rgb_saturation_byte(c.r, c.g, c.b);
}
inline std::int32_t value_of(std::int64_t packed) noexcept {
    const Rgb c = unpack(packed);
    return rgb_value_byte(c.r, c.g, c.b);
}

// The whole split runs for each component, so the four queries agree for one colour and pullout.
constexpr Cmyk cmyk_of(std::int64_t packed, std::int32_t pullout) noexcept {
    const Rgb c = unpack(packed);
    return rgb_to_cmyk(c.r, c.g, c.b, pullout);
}

inline std::int32_t colour_from_hsv(std::int32_t hue, std::int32_t saturation, std::int32_t value) noexcept {
    return pack(hsv_byte_to_rgb(hue, saturation, value));
}

// Red OR green << 8 OR blue << 16 on the unclamped 32-bit channels: components outside 0..255
// give values outside 0..16777215 (300, 0, 0, 0 gives -45).
constexpr std::int32_t colour_from_cmyk(std::int32_t c, std::int32_t m, std::int32_t y, std::int32_t k) noexcept {
    const Rgb32 rgb = cmyk_to_rgb(c, m, y, k);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(rgb.r) | (static_cast<std::uint32_t>(rgb.g) << 8) |
                                     (static_cast<std::uint32_t>(rgb.b) << 16));
}

}  // namespace ombrix::colour
