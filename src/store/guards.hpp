// The arguments DevIL 1.7.8 and its ILU cannot take. Each predicate answers, before the call is
// made, whether the call stays inside its buffers and finishes in reasonable time on the bound
// image (`width` × `height`, as DevIL reports it). The reasons, found by running every operation
// over a grid of sizes and hostile arguments under guard pages and sanitizers:
//
// - ILU's 3 × 3 filters (emboss, edge detection, sharpen, both blurs) read far outside a
//   single-row image of three or more pixels.
// - Both blurs run their whole pass once per iteration: about 150 ns per pixel per iteration, so a
//   4096 × 4096 image takes over two seconds an iteration, and a count of 2^32 - 1 never ends.
// - iluWave shifts every row by up to 45 pixels; a narrower row makes the shift's complement
//   negative and the copy runs off the image. NaN, infinite or huge angles give a shift of
//   INT_MIN, which does the same.
// - iluCrop reads outside the image for a rectangle that leaves it, and its own bound test
//   wraps around for huge offsets.
// - iluRotate writes far outside its result for an angle that is an exact odd multiple of 90°
//   (90, 270, -90, 450, ...), while 90.0001 is fine.
// - Every operation that makes an image of a new size (scale, canvas, enlarge, rotate) allocates
//   it in full: sizes beyond the library's pixel limit are refused instead of exhausting memory.
#pragma once

#include <cstdint>

namespace ombrix::guard {

// Blur work allowed in one call: iterations × pixels.
inline constexpr std::int64_t max_filter_work = std::int64_t{1} << 24;
// Blur iterations allowed in one call even on the smallest image.
inline constexpr std::int64_t max_filter_iterations = std::int64_t{1} << 16;
// iluWave's largest row shift, in pixels.
inline constexpr std::int64_t wave_max_shift = 45;
// Largest angle magnitude iluWave is given: ten times it must stay a finite float.
inline constexpr double wave_max_angle = 1e30;

bool filter_fits(std::int64_t width, std::int64_t height) noexcept;
bool blur_fits(std::int64_t width, std::int64_t height, std::uint32_t iterations) noexcept;
bool wave_fits(std::int64_t width, float angle) noexcept;
bool crop_fits(std::int64_t width, std::int64_t height, std::uint32_t x, std::uint32_t y, std::uint32_t crop_width,
               std::uint32_t crop_height) noexcept;
bool rotate_angle_fits(float angle) noexcept;

}  // namespace ombrix::guard
