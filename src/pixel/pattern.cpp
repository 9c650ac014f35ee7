// The colour-sequence test pattern, filled in tiles. The sequence runs along the columns, which in
// a row-major buffer is a stride of a whole row per pixel; each tile runs its columns in a small
// local block and is copied out a row at a time.
#include "pixel/pattern.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace ombrix::pixel {

namespace {

// The three counters as digits of a mixed-radix number: red 0..254, green steps 0..50 (the green
// byte is 5 × steps), blue 0..254. The sequence repeats after 255 × 51 × 255 pixels.
struct Odometer {
    std::uint32_t red = 0;
    std::uint32_t green_steps = 0;
    std::uint32_t blue = 0;

    static Odometer at(std::uint64_t n) noexcept {
        return {static_cast<std::uint32_t>(n % 255), static_cast<std::uint32_t>(n / 255 % 51),
                static_cast<std::uint32_t>(n / 13005 % 255)};
    }

    Rgb colour() const noexcept {
        return {static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(green_steps * 5),
                static_cast<std::uint8_t>(blue)};
    }

    void step() noexcept {
        if (++red < 255) return;
        red = 0;
        if (++green_steps < 51) return;
        green_steps = 0;
        if (++blue == 255) blue = 0;
    }

    // Advances by the count whose digits `d` holds.
    void advance(const Odometer& d) noexcept {
        red += d.red;
        const std::uint32_t carry_red = red >= 255;
        red -= carry_red * 255;
        green_steps += d.green_steps + carry_red;
        const std::uint32_t carry_green = green_steps >= 51;
        green_steps -= carry_green * 51;
        blue += d.blue + carry_green;
        if (blue >= 255) blue -= 255;
    }
};

}  // namespace

void fill_colour_sequence(ImageRecord& image) noexcept {
    if (image.width <= 0 || image.height <= 0) return;
    const auto width = static_cast<std::size_t>(image.width);
    const auto height = static_cast<std::size_t>(image.height);
    const std::size_t stride = width * 3;
    const Odometer column_step = Odometer::at(height);
    std::uint8_t* const rgb = image.rgb.data();

    // A tile of `band` rows by `tile_columns` columns is built in a small local block and then
    // copied out row by row: writing the image itself column by column would stride a whole row
    // per pixel, and rows a multiple of 4 KiB apart all fall into the same cache set.
    constexpr std::size_t band = 16;
    constexpr std::size_t tile_columns = 64;
    constexpr std::size_t tile_stride = tile_columns * 3;
    std::uint8_t tile[band * tile_stride];
    for (std::size_t y0 = 0; y0 < height; y0 += band) {
        const std::size_t rows = std::min(band, height - y0);
        Odometer column_head = Odometer::at(y0);
        for (std::size_t x0 = 0; x0 < width; x0 += tile_columns) {
            const std::size_t columns = std::min(tile_columns, width - x0);
            for (std::size_t c = 0; c < columns; ++c) {
                Odometer counter = column_head;
                std::uint8_t* out = tile + c * 3;
                for (std::size_t r = 0; r < rows; ++r, out += tile_stride) {
                    const Rgb t = counter.colour();
                    out[0] = t.r;
                    out[1] = t.g;
                    out[2] = t.b;
                    counter.step();
                }
                column_head.advance(column_step);
            }
            for (std::size_t r = 0; r < rows; ++r)
                std::memcpy(rgb + (y0 + r) * stride + x0 * 3, tile + r * tile_stride, columns * 3);
        }
    }
}

}  // namespace ombrix::pixel
