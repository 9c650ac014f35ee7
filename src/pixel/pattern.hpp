// The colour-sequence test pattern: three byte counters stepping like an odometer, one colour per
// pixel, down each column and on from the foot of one column to the head of the next.
#pragma once

#include <cstdint>

#include "pixel/access.hpp"

namespace ombrix::pixel {

// test_2: pixel number n (pixel (x, y) is number x × height + y) becomes
// (n mod 255, 5 × (⌊n / 255⌋ mod 51), ⌊n / 13005⌋ mod 255).
void fill_colour_sequence(ImageRecord& image) noexcept;

}  // namespace ombrix::pixel
