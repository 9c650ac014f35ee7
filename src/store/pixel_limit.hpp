// The one limit on image size: every image the library makes, loads, resizes or reads from a file
// stays within max_pixels pixels, so that width × height × 4 always fits and no request can exhaust
// memory. Every place that judges a size asks pixels_fit.
#pragma once

#include <concepts>
#include <cstdint>

namespace ombrix {

inline constexpr std::int64_t max_pixels = std::int64_t{1} << 28;

// True when both sides are non-negative and width × height is at most max_pixels. Each side is
// bounded before the product is taken, so no pair of 64-bit values can overflow it.
constexpr bool pixels_fit(std::integral auto width_side, std::integral auto height_side) noexcept {
    const auto width = static_cast<std::int64_t>(width_side);
    const auto height = static_cast<std::int64_t>(height_side);
    return width >= 0 && height >= 0 && width <= max_pixels && height <= max_pixels && width * height <= max_pixels;
}

// The same limit for sides still held as host numbers: NaN, infinities and fractions beyond the
// limit never fit; within it, fractions truncate toward zero as the image size will.
constexpr bool pixels_fit(double width, double height) noexcept {
    constexpr auto limit = static_cast<double>(max_pixels);
    return width >= 0 && height >= 0 && width <= limit && height <= limit &&
           pixels_fit(static_cast<std::int64_t>(width), static_cast<std::int64_t>(height));
}

}  // namespace ombrix
