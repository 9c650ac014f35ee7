// Channel images: turning an image grey, limiting each channel to a range, and composing a new
// colour image from three or four channel images through a colour model.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "colour/models.hpp"
#include "store/state.hpp"

namespace ombrix::colour {

// Every pixel becomes the grey (77·R + 150·G + 29·B) >> 8.
void convert_grayscale(ImageRecord& image);

// The range of one channel, as the host gave it. A NaN bound sets no limit on its side.
struct ChannelRange {
    double low;
    double high;
};

// The byte that `clamp_channel_range` leaves for channel byte x: x when it lies in (low, high],
// otherwise the bound that applies (the maximum wins when low > high), truncated toward zero to a
// 32-bit integer of which the low 8 bits are kept (a bound beyond 32 bits stores 0).
byte clamp_channel_byte(byte x, ChannelRange range) noexcept;

// Applies the three ranges (red, green, blue) to every pixel.
void clamp_channel_ranges(ImageRecord& image, const std::array<ChannelRange, 3>& ranges);

enum class Composition { rgb, cmy, hsv, cmyk, lab, ycbcr_470, ycbcr_709 };

// How many source images the composition reads (4 for CMYK, otherwise 3).
constexpr std::size_t source_count(Composition c) noexcept { return c == Composition::cmyk ? 4 : 3; }

// The new image composed from `sources` (source_count(kind) of them, in argument order): the first
// source's size, DevIL properties of an image the library made itself (depth 1, the rest 0, no
// RGBA buffer). A later source with fewer pixels than the first throws
// Failure{-1, text::source_too_small}.
std::unique_ptr<ImageRecord> compose_channels(Composition kind, std::span<const ImageRecord* const> sources);

// Composes into `out` (first.pixel_count() pixels) from sources that are known to be large
// enough. Exposed for the benchmarks and the tests.
void compose_into(Composition kind, std::span<const ImageRecord* const> sources, byte* out);

}  // namespace ombrix::colour
