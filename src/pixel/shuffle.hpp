// Two in-place operations on an image's pixels: the pixel-pair shuffle and the four-point blur.
#pragma once

#include <cstdint>

#include "store/state.hpp"

namespace ombrix::pixel {

// image_median. Pixels 2k and 2k + 1 of the buffer (A, B) form pair k, across row ends. Mode 0
// makes them (B inverted, A), mode 1 (A inverted, B), mode 2 (B, A); other modes change nothing.
// With an odd pixel count the last pixel has no partner: mode 1 still inverts it, modes 0 and 2
// leave it as it is.
void shuffle_pairs(ImageRecord& image, std::int32_t mode) noexcept;

// image_blur. Visiting the pixels column by column in place, pixel (x, y) becomes the mean,
// rounded down, of the samples at (x, y), (x + dx, y + dy), (x + dx, y) and (x, y + dy), each
// sample clamped to the nearest column and row of the image. Samples already visited hold their
// new value (only negative offsets reach them).
void blur_four_point(ImageRecord& image, std::int32_t dx, std::int32_t dy) noexcept;

// The same blur as a literal column-by-column visit: what blur_four_point falls back to when it
// cannot have the memory for the rows it saves, and the baseline it is measured against.
void blur_four_point_column_order(ImageRecord& image, std::int32_t dx, std::int32_t dy) noexcept;

}  // namespace ombrix::pixel
