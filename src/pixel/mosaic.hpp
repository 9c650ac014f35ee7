// The mosaic: square blocks filled with the colour found at their centre and framed by a border
// whose red level the caller chooses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pixel/access.hpp"

namespace ombrix::pixel {

// Fills `count` pixels from `out` with one colour.
void fill_triples(std::uint8_t* out, std::size_t count, Rgb colour) noexcept;

// image_Mosaic. Blocks of `size` × `size` pixels are visited column of blocks by column of blocks;
// each takes the colour at (bx + half, by + half) (truncated, clamped to the last column and row)
// and pixel (bx + i, by + j) of the block gets the border colour (red, 0, 0) when i ≤ border,
// j ≤ border, i ≥ size − border or j ≥ size − border. Writes beyond the right or bottom edge land
// on the last column or row, the later write winning. A size below 1 leaves the image unchanged.
void mosaic(ImageRecord& image, std::int32_t size, double half, std::int32_t border, std::uint8_t red);

}  // namespace ombrix::pixel
