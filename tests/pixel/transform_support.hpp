// Images for the transform tests: a few pixels repeated past one 32-pixel block (so that both the
// block loop and the pixels after it see them), and an image holding every colour.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <vector>

#include "colour/models.hpp"
#include "store/state.hpp"

namespace ombrix::test_images {

using colour::Rgb;

// `pixels` repeated `copies` times in one row: 37 copies of 3 pixels is 111 pixels, three blocks
// and 15 pixels after them.
inline std::unique_ptr<ImageRecord> repeated(const std::vector<Rgb>& pixels, std::size_t copies = 37) {
    auto image = make_record(static_cast<std::int32_t>(pixels.size() * copies), 1);
    std::uint8_t* p = image->rgb.data();
    for (std::size_t c = 0; c < copies; ++c)
        for (const Rgb& q : pixels) {
            *p++ = q.r;
            *p++ = q.g;
            *p++ = q.b;
        }
    return image;
}

inline Rgb pixel(const ImageRecord& image, std::size_t i) {
    return {image.rgb[3 * i], image.rgb[3 * i + 1], image.rgb[3 * i + 2]};
}

// Under the sanitizers every 7th of the chosen colours stands in for them, to keep the suite quick.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_UNDEFINED__)
inline constexpr std::size_t sanitizer_stride = 7;
#else
inline constexpr std::size_t sanitizer_stride = 1;
#endif
// Every 13th colour: a dense sample that still meets every block position and channel value.
inline constexpr std::size_t sample_stride = 13;

inline Rgb colour_number(std::size_t n) {
    return {static_cast<std::uint8_t>(n & 0xFF), static_cast<std::uint8_t>((n >> 8) & 0xFF),
            static_cast<std::uint8_t>(n >> 16)};
}

// Pixel i holds colour number i × stride (times the sanitizer stride): with stride 1 all 2^24
// colours, red varying fastest.
inline std::unique_ptr<ImageRecord> every_colour(std::size_t stride = 1) {
    const std::size_t colour_stride = stride * sanitizer_stride;
    const std::size_t count = ((std::size_t{1} << 24) + colour_stride - 1) / colour_stride;
    auto image = colour_stride == 1 ? make_record(4096, 4096) : make_record(static_cast<std::int32_t>(count), 1);
    std::uint8_t* p = image->rgb.data();
    for (std::size_t i = 0; i < count; ++i) {
        const Rgb c = colour_number(i * colour_stride);
        *p++ = c.r;
        *p++ = c.g;
        *p++ = c.b;
    }
    return image;
}

inline std::unique_ptr<ImageRecord> copy_of(const ImageRecord& image) {
    auto copy = make_record(image.width, image.height);
    copy->rgb = image.rgb.copy();
    return copy;
}

}  // namespace ombrix::test_images
