// The round trip between image records and DevIL images.
#include "store/round_trip.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace ombrix {

namespace {

// A record whose buffer holds all of its width × height pixels, and at least one.
bool holds_pixels(const ImageRecord& image) noexcept {
    return image.width > 0 && image.height > 0 && image.rgb.size() >= image.pixel_count() * 3;
}

}  // namespace

void copy_in(const ImageRecord& image) {
    // DevIL turns a zero width or height into 1 and would then read a pixel that the record does
    // not have: an empty record gives DevIL no bytes to read.
    const bool empty = !holds_pixels(image);
    ilTexImage(static_cast<ILuint>(std::max(image.width, 0)), static_cast<ILuint>(std::max(image.height, 0)), 1, 3,
               IL_RGB, IL_UNSIGNED_BYTE, empty ? nullptr : const_cast<std::uint8_t*>(image.rgb.data()));
}

bool scratch_has_pixels(const ImageRecord& image) { return !holds_pixels(image) || ilGetData() != nullptr; }

void copy_back(ImageRecord& image) {
    if (!holds_pixels(image)) return;
    copy_pixels(image.rgb.data(), image.width, image.height);
}

void reverse_rows(std::uint8_t* rgb, std::size_t width, std::size_t height) noexcept {
    const std::size_t row = width * 3;
    // Rows are swapped a block at a time, so that a row of any length needs no buffer of its size.
    std::array<std::uint8_t, 4096> block;
    for (std::size_t top = 0, bottom = height; top + 1 < bottom; ++top) {
        --bottom;
        std::uint8_t* a = rgb + top * row;
        std::uint8_t* b = rgb + bottom * row;
        for (std::size_t done = 0; done < row; done += block.size()) {
            const std::size_t n = std::min(block.size(), row - done);
            std::memcpy(block.data(), a + done, n);
            std::memcpy(a + done, b + done, n);
            std::memcpy(b + done, block.data(), n);
        }
    }
}

bool flip_reverses_rows(const ImageRecord& image) {
    if (!holds_pixels(image)) return false;
    // The temporary image has DevIL's lower-left origin; iluFlipImage reverses its rows, and the
    // pixel copy reverses them again when the origin mode is not lower left.
    const bool copy_flips = ilIsEnabled(IL_ORIGIN_SET) == IL_TRUE &&
                            static_cast<ILenum>(ilGetInteger(IL_ORIGIN_MODE)) != IL_ORIGIN_LOWER_LEFT;
    return !copy_flips;
}

void flip_image(State& st, ImageRecord& image) {
    (void)st;
    if (!flip_reverses_rows(image)) return;
    reverse_rows(image.rgb.data(), static_cast<std::size_t>(image.width), static_cast<std::size_t>(image.height));
}

}  // namespace ombrix
