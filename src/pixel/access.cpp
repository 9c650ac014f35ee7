// Single-pixel access, the side-by-side join, the byte average and the packed 4-bit grey conversion.
#include "pixel/access.hpp"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "colour/grey.hpp"
#include "simd/avx2.hpp"
#include "simd/dispatch.hpp"
#include "store/images.hpp"

namespace ombrix::pixel {

namespace {

std::int64_t clamp_coordinate(std::int32_t v, std::int32_t size) noexcept {
    return std::clamp<std::int64_t>(v, 0, size - 1);
}

// ---- image_ConvertTo4 with AVX2 --------------------------------------------------------------------

OMBRIX_TARGET_AVX2

// Grey levels of the whole 32-pixel blocks of a row; returns how many pixels it did.
std::size_t grey_levels_avx2(const std::uint8_t* row, std::uint8_t* level, std::size_t width) {
    namespace v = simd::avx2;
    std::size_t x = 0;
    for (; x + v::block_pixels <= width; x += v::block_pixels)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(level + x), v::grey_level(v::load_planes(row + 3 * x)));
    return x;
}

// A band of 64 rows of grey levels (rows `band_stride` apart), for an even height: row pairs
// packed into nibbles, then 32 columns at a time turned so that each column's 32 bytes are stored
// at once. Returns how many columns it did.
std::size_t pack_band_columns_avx2(const std::uint8_t* levels, std::size_t band_stride, std::size_t width,
                                   std::uint8_t* out, std::size_t height, std::size_t y0) {
    namespace v = simd::avx2;
    const __m256i high = _mm256_set1_epi8(static_cast<char>(0xF0)), low = _mm256_set1_epi8(0x0F);
    std::size_t x0 = 0;
    for (; x0 + 32 <= width; x0 += 32) {
        for (std::size_t half = 0; half < 2; ++half) {
            // Row pair k of this half of the band, columns x0 .. x0 + 31 (x0 + 16 on in the upper 128 bits).
            __m256i m[16];
            for (std::size_t k = 0; k < 16; ++k) {
                const std::uint8_t* upper = levels + (32 * half + 2 * k) * band_stride + x0;
                const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(upper));
                const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(upper + band_stride));
                m[k] = _mm256_or_si256(_mm256_and_si256(a, high), _mm256_and_si256(_mm256_srli_epi16(b, 4), low));
            }
            v::transpose_16x16(m);
            for (std::size_t c = 0; c < 16; ++c) {
                const __m256i both = m[v::transposed_row(static_cast<int>(c))];
                std::uint8_t* to = out + (((x0 + c) * height + y0) >> 1) + 16 * half;
                std::uint8_t* to_right = out + (((x0 + 16 + c) * height + y0) >> 1) + 16 * half;
                _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm256_castsi256_si128(both));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(to_right), _mm256_extracti128_si256(both, 1));
            }
        }
    }
    return x0;
}

OMBRIX_TARGET_END

}  // namespace

std::uint32_t get_pixel(const ImageRecord& image, std::int32_t x, std::int32_t y) {
    if (image.width <= 0 || image.height <= 0) fail(-1, text::no_pixels);
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) fail(-1, text::pixel_outside);
    return static_cast<std::uint32_t>(colour::pack(pixel_get_rgb(image, x, y)));
}

void set_pixel(ImageRecord& image, std::int32_t x, std::int32_t y, std::int64_t colour) {
    if (image.width <= 0 || image.height <= 0) fail(-1, text::no_pixels);
    pixel_set_rgb(image, clamp_coordinate(x, image.width), clamp_coordinate(y, image.height), colour::unpack(colour));
}

std::unique_ptr<ImageRecord> join_side_by_side(const ImageRecord& first, const ImageRecord& second) {
    const std::int64_t width = std::int64_t{first.width} + second.width;
    check_image_size(width, first.height);
    auto joined = make_record(static_cast<std::int32_t>(width), first.height);

    // Row by row rather than column by column: every pixel is written once from a source that does
    // not change, so the order cannot show.
    const auto left = static_cast<std::size_t>(first.width) * 3;
    const auto right = static_cast<std::size_t>(second.width) * 3;
    std::uint8_t* out = joined->rgb.data();
    for (std::int32_t y = 0; y < first.height; ++y) {
        if (left) std::memcpy(out, first.rgb.data() + static_cast<std::size_t>(y) * left, left);
        out += left;
        if (right) {
            if (y < second.height) {
                std::memcpy(out, second.rgb.data() + static_cast<std::size_t>(y) * right, right);
            } else {
                std::memset(out, 0, right);
            }
        }
        out += right;
    }
    return joined;
}

void average_into(ImageRecord& target, const ImageRecord& other) {
    const std::size_t n = std::min(target.rgb.size(), other.rgb.size());
    std::uint8_t* t = target.rgb.data();
    const std::uint8_t* o = other.rgb.data();
    std::size_t k = 0;
#if defined(__SSE2__)
    // pavgb rounds up, (a + b + 1) >> 1; subtracting the low bit of a ^ b (1 exactly when a + b is
    // odd) rounds down. The two buffers are either distinct or the same one, never overlapping
    // otherwise, so reading a block before storing it is the byte-by-byte result.
    const __m128i one = _mm_set1_epi8(1);
    for (; k + 16 <= n; k += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(o + k));
        const __m128i odd = _mm_and_si128(_mm_xor_si128(a, b), one);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(t + k), _mm_sub_epi8(_mm_avg_epu8(a, b), odd));
    }
#endif
    // (a + b) >> 1 without widening.
    for (; k < n; ++k) t[k] = static_cast<std::uint8_t>((t[k] & o[k]) + ((t[k] ^ o[k]) >> 1));
}

void convert_to_4(ImageRecord& image) {
    const std::size_t count = image.pixel_count();
    if (count == 0) return;
    const auto width = static_cast<std::size_t>(image.width);
    const auto height = static_cast<std::size_t>(image.height);
    memory::Buffer packed(count * 3, true);
    std::uint8_t* out = packed.data();
    const std::uint8_t* in = image.rgb.data();

    // Pixel (x, y) is number x × height + y of the column-by-column visit; its nibble lands in
    // byte number / 2. A band of rows is first turned into grey levels row by row, then read
    // column by column from that small buffer. Its rows are padded by a cache line so that a column
    // does not fall into one cache set (image rows are often a multiple of 4 KiB apart). OR-ing
    // into the zeroed buffer makes the visiting order irrelevant.
    constexpr std::size_t band = 64;
    const std::size_t band_stride = width + 64;
    memory::Buffer levels(band * band_stride);
    for (std::size_t y0 = 0; y0 < height; y0 += band) {
        const std::size_t y1 = std::min(y0 + band, height);
        for (std::size_t y = y0; y < y1; ++y) {
            const std::uint8_t* row = in + y * width * 3;
            std::uint8_t* level = levels.data() + (y - y0) * band_stride;
            simd::run_widest(
                simd::NoPass{}, [&] { return grey_levels_avx2(row, level, width); },
                [&](std::size_t done) {
                    for (std::size_t x = done; x < width; ++x) level[x] = colour::grey_level(row + x * 3);
                });
        }
        if (height % 2 == 0) {
            // Bands start at even rows, so rows y and y + 1 (y even) share a byte of their column.
            std::size_t done = 0;
            if (y1 - y0 == band && simd::avx2_enabled())
                done = pack_band_columns_avx2(levels.data(), band_stride, width, out, height, y0);
            for (std::size_t x = done; x < width; ++x) {
                const std::uint8_t* column = levels.data() + x;
                std::uint8_t* byte = out + ((x * height + y0) >> 1);
                for (std::size_t y = 0; y < y1 - y0; y += 2, ++byte) {
                    *byte = static_cast<std::uint8_t>((column[y * band_stride] & 0xF0) |
                                                      (column[(y + 1) * band_stride] >> 4));
                }
            }
            continue;
        }
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t* column = levels.data() + x;
            for (std::size_t y = y0; y < y1; ++y) {
                const std::uint8_t level = column[(y - y0) * band_stride];
                const std::size_t n = x * height + y;
                out[n >> 1] |=
                    (n & 1) ? static_cast<std::uint8_t>(level >> 4) : static_cast<std::uint8_t>(level & 0xF0);
            }
        }
    }
    image.rgb = std::move(packed);
}

}  // namespace ombrix::pixel
