// The a* and b* passes of image_transformRGB (modes 25 and 26), which give the bytes of the
// double-precision formulas of colour/models.hpp without evaluating a cube root per pixel.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ombrix::pixel {

// Every one of the `n` pixels at `p` becomes the grey of its CIE a* (or b*) byte.
void lab_a_pass(std::uint8_t* p, std::size_t n);
void lab_b_pass(std::uint8_t* p, std::size_t n);

}  // namespace ombrix::pixel
