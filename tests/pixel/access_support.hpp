// Images for the pixel tests: made from listed colours or from a seeded random generator, and
// compared as whole buffers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <random>

#include "pixel/access.hpp"
#include "store/state.hpp"

namespace ombrix::testing {

using colour::Rgb;

// A width × height image with its pixels given in buffer order.
inline std::unique_ptr<ImageRecord> image_of(std::int32_t width, std::int32_t height,
                                             std::initializer_list<Rgb> pixels) {
    auto image = make_record(width, height);
    EXPECT_EQ(pixels.size(), image->pixel_count());
    std::uint8_t* p = image->rgb.data();
    for (const Rgb& t : pixels) {
        *p++ = t.r;
        *p++ = t.g;
        *p++ = t.b;
    }
    return image;
}

inline std::unique_ptr<ImageRecord> random_image(std::int32_t width, std::int32_t height, std::uint32_t seed) {
    auto image = make_record(width, height);
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t k = 0; k < image->rgb.size(); ++k) image->rgb[k] = static_cast<std::uint8_t>(byte(generator));
    return image;
}

inline std::unique_ptr<ImageRecord> copy_of(const ImageRecord& image) {
    auto copy = make_record(image.width, image.height);
    if (!image.rgb.empty()) std::memcpy(copy->rgb.data(), image.rgb.data(), image.rgb.size());
    return copy;
}

inline Rgb at(const ImageRecord& image, std::int64_t x, std::int64_t y) { return pixel::pixel_get_rgb(image, x, y); }

// Index of the first differing byte, or -1 when the buffers are equal.
inline std::int64_t first_difference(const ImageRecord& a, const ImageRecord& b) {
    if (a.rgb.size() != b.rgb.size()) return 0;
    for (std::size_t k = 0; k < a.rgb.size(); ++k)
        if (a.rgb[k] != b.rgb[k]) return static_cast<std::int64_t>(k);
    return -1;
}

}  // namespace ombrix::testing

namespace ombrix::colour {
inline void PrintTo(const Rgb& t, std::ostream* os) { *os << "(" << +t.r << ", " << +t.g << ", " << +t.b << ")"; }
}  // namespace ombrix::colour
