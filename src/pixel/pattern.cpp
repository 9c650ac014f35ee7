// The colour-sequence test pattern, filled in tiles. The sequence runs along the columns, which in
// a row-major buffer is a stride of a whole row per pixel; each tile runs its columns in a small
// local block and is copied out a row at a time.
#include "pixel/pattern.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "simd/avx2.hpp"
#include "simd/dispatch.hpp"

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

// ---- row by row with AVX2 --------------------------------------------------------------------------
//
// Along a row the pixel number grows by the height per column, so pixel x0 + k of a row has the
// digits of pixel x0 plus those of k × height, carried like the odometer's own steps. A block of
// 32 pixels adds the precomputed digits of k × height (k = 0 … 31) to its first pixel's, in 16-bit
// lanes, and the next block starts 32 × height further on.

OMBRIX_TARGET_AVX2

// Digits of k × height for the 32 pixels of a block, as 16-bit lanes in the order that
// _mm256_packus_epi16(low, high) puts back in pixel order: low holds pixels 0-7 and 16-23, high
// 8-15 and 24-31.
struct BlockDigits {
    __m256i red[2], green[2], blue[2];
};

OMBRIX_AVX2_INLINE __m256i wrap(__m256i digit, __m256i limit, __m256i& carry) {
    carry = _mm256_cmpgt_epi16(digit, _mm256_sub_epi16(limit, _mm256_set1_epi16(1)));
    return _mm256_sub_epi16(digit, _mm256_and_si256(carry, limit));
}

// The colours of a block whose first pixel has the digits `head`, as three channel planes.
OMBRIX_AVX2_INLINE simd::avx2::Planes block_colours(const Odometer& head, const BlockDigits& d) {
    const __m256i red_limit = _mm256_set1_epi16(255), green_limit = _mm256_set1_epi16(51);
    __m256i r[2], g[2], b[2];
    for (int h = 0; h < 2; ++h) {
        __m256i carry;
        r[h] = wrap(_mm256_add_epi16(_mm256_set1_epi16(static_cast<short>(head.red)), d.red[h]), red_limit, carry);
        // A carry is -1 in its lane: subtracting it adds one.
        g[h] = wrap(_mm256_sub_epi16(
                        _mm256_add_epi16(_mm256_set1_epi16(static_cast<short>(head.green_steps)), d.green[h]), carry),
                    green_limit, carry);
        b[h] =
            wrap(_mm256_sub_epi16(_mm256_add_epi16(_mm256_set1_epi16(static_cast<short>(head.blue)), d.blue[h]), carry),
                 red_limit, carry);
        g[h] = _mm256_mullo_epi16(g[h], _mm256_set1_epi16(5));
    }
    return {_mm256_packus_epi16(r[0], r[1]), _mm256_packus_epi16(g[0], g[1]), _mm256_packus_epi16(b[0], b[1])};
}

// Whole 32-pixel blocks of every row; returns how many columns of each row it filled.
std::size_t fill_rows_avx2(std::uint8_t* rgb, std::size_t width, std::size_t height) {
    namespace v = simd::avx2;
    alignas(32) std::int16_t lanes[3][2][16];
    for (int k = 0; k < 32; ++k) {
        const Odometer o = Odometer::at(static_cast<std::uint64_t>(k) * height);
        const int half = (k / 8) % 2, lane = k % 8 + 8 * (k / 16);
        lanes[0][half][lane] = static_cast<std::int16_t>(o.red);
        lanes[1][half][lane] = static_cast<std::int16_t>(o.green_steps);
        lanes[2][half][lane] = static_cast<std::int16_t>(o.blue);
    }
    BlockDigits d;
    for (int h = 0; h < 2; ++h) {
        d.red[h] = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes[0][h]));
        d.green[h] = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes[1][h]));
        d.blue[h] = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes[2][h]));
    }
    const Odometer block_step = Odometer::at(static_cast<std::uint64_t>(v::block_pixels) * height);
    const std::size_t blocks = width / v::block_pixels;
    for (std::size_t y = 0; y < height; ++y) {
        Odometer head = Odometer::at(y);
        std::uint8_t* p = rgb + y * width * 3;
        for (std::size_t i = 0; i < blocks; ++i, p += v::block_bytes) {
            v::store_planes(p, block_colours(head, d));
            head.advance(block_step);
        }
    }
    return blocks * v::block_pixels;
}

OMBRIX_TARGET_END

// Columns [from, width) of every row, one pixel at a time along the row.
void fill_row_ends(std::uint8_t* rgb, std::size_t width, std::size_t height, std::size_t from) noexcept {
    const Odometer column_step = Odometer::at(height);
    for (std::size_t y = 0; y < height; ++y) {
        Odometer counter = Odometer::at(static_cast<std::uint64_t>(from) * height + y);
        std::uint8_t* p = rgb + (y * width + from) * 3;
        for (std::size_t x = from; x < width; ++x, p += 3) {
            const Rgb t = counter.colour();
            p[0] = t.r;
            p[1] = t.g;
            p[2] = t.b;
            counter.advance(column_step);
        }
    }
}

}  // namespace

void fill_colour_sequence(ImageRecord& image) noexcept {
    if (image.width <= 0 || image.height <= 0) return;
    const auto width = static_cast<std::size_t>(image.width);
    const auto height = static_cast<std::size_t>(image.height);
    const std::size_t stride = width * 3;
    const Odometer column_step = Odometer::at(height);
    std::uint8_t* const rgb = image.rgb.data();
    // Rows of at least one block go row by row; the pixels after the last block follow.
    if (width >= simd::avx2::block_pixels && simd::avx2_enabled())
        return fill_row_ends(rgb, width, height, fill_rows_avx2(rgb, width, height));

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
