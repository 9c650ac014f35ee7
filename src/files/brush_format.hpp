// The brush file and the stamp, free of I/O so that the fuzz target runs exactly this code.
// A brush file is the width and the height as decimal lines ("%i\n%i\n"), then width × height
// mask bytes: "1" paints, "0" blackens, anything else leaves the pixel alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "store/state.hpp"

namespace ombrix::files {

struct BrushHeader {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::size_t size = 0;  // bytes the two header lines took
};

// The header as two line reads of at most four bytes each (newline included) and a decimal
// conversion of each (leading blanks, a sign, digits up to the first other byte; no digits is 0).
// A four-digit first line therefore leaves its newline to the second read, which gives 0. A
// missing line reads as 0. Returns nothing when either number is negative.
std::optional<BrushHeader> parse_brush_header(const std::uint8_t* data, std::size_t size) noexcept;

// The mask bytes a short file does not hold.
inline constexpr std::uint8_t brush_mask_fill = '0';

// A brush of the header's size whose mask is `data` (the bytes after the header), padded with
// `brush_mask_fill` where the data runs out.
Brush make_brush(const BrushHeader& header, const std::uint8_t* data, std::size_t size);

// Stamps `brush` onto `image`. With n = brush width × brush height, stamps start at pixels 0, n,
// 2n, … while the start is below the image's width, so they tile the first stored row. Each
// stamp takes the colour of its first pixel; mask byte c then goes to the c-th pixel after the
// start, in buffer order (a stamp that runs past the end of the row carries on into the next).
// Pixels past the end of the image are left out.
void stamp_brush(const Brush& brush, ImageRecord& image) noexcept;

}  // namespace ombrix::files
