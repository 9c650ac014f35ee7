// The guards before DevIL and ILU calls; guards.hpp gives the reason for each.
#include "store/guards.hpp"

#include <cmath>

#include "store/state.hpp"

namespace ombrix::guard {

bool filter_fits(std::int64_t width, std::int64_t height) noexcept { return !(height == 1 && width >= 3); }

bool blur_fits(std::int64_t width, std::int64_t height, std::uint32_t iterations) noexcept {
    if (!filter_fits(width, height)) return false;
    // One pass is always allowed, whatever the size: the image itself was allowed.
    if (iterations <= 1) return true;
    if (iterations > max_filter_iterations) return false;
    return static_cast<std::int64_t>(iterations) * width * height <= max_filter_work;
}

bool wave_fits(std::int64_t width, float angle) noexcept {
    return std::isfinite(angle) && std::fabs(static_cast<double>(angle)) <= wave_max_angle && width > wave_max_shift;
}

bool crop_fits(std::int64_t width, std::int64_t height, std::uint32_t x, std::uint32_t y, std::uint32_t crop_width,
               std::uint32_t crop_height) noexcept {
    return crop_width >= 1 && crop_height >= 1 && std::int64_t{x} + crop_width <= width &&
           std::int64_t{y} + crop_height <= height;
}

bool rotate_angle_fits(float angle) noexcept {
    if (!std::isfinite(angle)) return false;
    // fmod is exact, so this singles out exactly the odd multiples of 90.
    return std::fabs(std::fmod(static_cast<double>(angle), 180.0)) != 90.0;
}

}  // namespace ombrix::guard
