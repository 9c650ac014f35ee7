// Copying the bound DevIL image's pixels out as 8-bit RGB, as ilCopyPixels does, without DevIL's
// intermediate buffers where the image's own layout allows it. Needs DevIL's IL alone, so the
// decoder process uses it too.
#pragma once

#include <IL/il.h>

#include <cstdint>

namespace ombrix {

// What the bound DevIL image is, as far as copying its pixels out is concerned.
struct BoundImage {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t depth = 0;
    ILenum format = 0;
    ILenum type = 0;
    ILenum origin = 0;
    const std::uint8_t* data = nullptr;
    std::int64_t size_of_data = 0;
};
BoundImage bound_image() noexcept;

// True when DevIL's pixel copy delivers the bound image's rows in reverse order: the origin mode
// is in force and differs from the image's own origin.
bool pixel_copy_flips(const BoundImage& image) noexcept;

// Copies the region (0, 0) to (width, height) of the bound image as 8-bit RGB into `out`
// (width × height × 3 bytes), yielding exactly what ilCopyPixels yields: directly from DevIL's
// buffer when the image is 8-bit RGB or BGR of that very size, depth 1, through ilCopyPixels otherwise.
void copy_pixels(std::uint8_t* out, std::int32_t width, std::int32_t height);

}  // namespace ombrix
