// Single-pixel access and the compositions built on it: reading and writing one pixel, joining two
// images side by side, averaging two images byte by byte, and the packed 4-bit grey conversion.
#pragma once

#include <cstdint>
#include <memory>

#include "colour/models.hpp"
#include "store/state.hpp"

namespace ombrix::pixel {

using colour::Rgb;

// Pixel (x, y) of the image. The caller keeps 0 ≤ x < width and 0 ≤ y < height.
inline Rgb pixel_get_rgb(const ImageRecord& image, std::int64_t x, std::int64_t y) noexcept {
    const std::uint8_t* p = image.rgb.data() + static_cast<std::size_t>(x + y * image.width) * 3;
    return {p[0], p[1], p[2]};
}

// Writes pixel (x, y), taking x ≥ width as the last column and y ≥ height as the last row. The
// caller keeps x, y ≥ 0 and the image non-empty.
inline void pixel_set_rgb(ImageRecord& image, std::int64_t x, std::int64_t y, Rgb t) noexcept {
    if (x >= image.width) x = image.width - 1;
    if (y >= image.height) y = image.height - 1;
    std::uint8_t* p = image.rgb.data() + static_cast<std::size_t>(x + y * image.width) * 3;
    p[0] = t.r;
    p[1] = t.g;
    p[2] = t.b;
}

// image_Get_Pixel: the packed colour of pixel (x, y). Throws Failure(-1) for an empty image or a
// coordinate outside it.
std::uint32_t get_pixel(const ImageRecord& image, std::int32_t x, std::int32_t y);

// image_Set_Pixel: writes the colour's three low bytes to pixel (x, y), each coordinate clamped to
// the image (below 0 to 0, beyond the edge to the last column or row). Throws Failure(-1) for an
// empty image.
void set_pixel(ImageRecord& image, std::int32_t x, std::int32_t y, std::int64_t colour);

// image_2to1: a new image, `first` on the left and `second` on the right, as tall as `first`; rows
// of `second` below its last row are black. Throws Failure(-1, too large) when the joined image
// exceeds the pixel limit.
std::unique_ptr<ImageRecord> join_side_by_side(const ImageRecord& first, const ImageRecord& second);

// image_2image_add: every byte of `target` that `other` also has becomes the two bytes' mean,
// rounded down; bytes beyond the end of `other` stay as they are.
void average_into(ImageRecord& target, const ImageRecord& other);

// image_ConvertTo4: the 4-bit grey levels of all pixels, visited column by column and packed two to
// a byte (first pixel in the high nibble), stored from byte 0 of a fresh buffer whose remaining
// bytes are zero.
void convert_to_4(ImageRecord& image);

}  // namespace ombrix::pixel
