// The pixel copy out of the bound DevIL image.
#include "store/pixel_copy.hpp"

#include <cstddef>
#include <cstring>

#include "simd/avx2.hpp"
#include "simd/dispatch.hpp"

namespace ombrix {
namespace {
std::size_t swap_red_and_blue_avx2(std::uint8_t* out, const std::uint8_t* in, std::size_t pixels) noexcept;
}  // namespace

BoundImage bound_image() noexcept {
    BoundImage b;
    b.width = ilGetInteger(IL_IMAGE_WIDTH);
    b.height = ilGetInteger(IL_IMAGE_HEIGHT);
    b.depth = ilGetInteger(IL_IMAGE_DEPTH);
    b.format = static_cast<ILenum>(ilGetInteger(IL_IMAGE_FORMAT));
    b.type = static_cast<ILenum>(ilGetInteger(IL_IMAGE_TYPE));
    b.origin = static_cast<ILenum>(ilGetInteger(IL_IMAGE_ORIGIN));
    b.size_of_data = ilGetInteger(IL_IMAGE_SIZE_OF_DATA);
    b.data = ilGetData();
    return b;
}

bool pixel_copy_flips(const BoundImage& image) noexcept {
    return ilIsEnabled(IL_ORIGIN_SET) == IL_TRUE && static_cast<ILenum>(ilGetInteger(IL_ORIGIN_MODE)) != image.origin;
}

namespace {

// One row of BGR pixels as RGB, 32 pixels at a time where AVX2 is there.
void swap_red_and_blue(std::uint8_t* out, const std::uint8_t* in, std::size_t pixels) noexcept {
    simd::run_widest(
        simd::NoPass{}, [&] { return swap_red_and_blue_avx2(out, in, pixels); },
        [&](std::size_t done) {
            for (std::size_t i = done; i < pixels; ++i) {
                out[3 * i] = in[3 * i + 2];
                out[3 * i + 1] = in[3 * i + 1];
                out[3 * i + 2] = in[3 * i];
            }
        });
}

}  // namespace

void copy_pixels(std::uint8_t* out, std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return;
    const BoundImage b = bound_image();
    const std::size_t row = static_cast<std::size_t>(width) * 3;
    const auto rows = static_cast<std::size_t>(height);
    const bool bgr = b.format == IL_BGR;
    const bool same_layout = (b.format == IL_RGB || bgr) && b.type == IL_UNSIGNED_BYTE && b.depth == 1 &&
                             b.width == width && b.height == height && b.data != nullptr &&
                             b.size_of_data == static_cast<std::int64_t>(row * rows);
    // A DevIL operation whose allocation failed leaves the bound image without data, and
    // ilCopyPixels would read through the null pointer: the record then keeps its pixels.
    if (b.data == nullptr) return;
    if (!same_layout) {
        ilCopyPixels(0, 0, 0, static_cast<ILuint>(width), static_cast<ILuint>(height), 1, IL_RGB, IL_UNSIGNED_BYTE,
                     out);
        return;
    }
    const bool flips = pixel_copy_flips(b);
    if (!flips && !bgr) {
        std::memcpy(out, b.data, row * rows);
        return;
    }
    for (std::size_t y = 0; y < rows; ++y) {
        const std::uint8_t* from = b.data + (flips ? rows - 1 - y : y) * row;
        if (bgr)
            swap_red_and_blue(out + y * row, from, static_cast<std::size_t>(width));
        else
            std::memcpy(out + y * row, from, row);
    }
}

namespace {

OMBRIX_TARGET_AVX2

// Whole blocks of `pixels`; returns how many pixels it swapped.
std::size_t swap_red_and_blue_avx2(std::uint8_t* out, const std::uint8_t* in, std::size_t pixels) noexcept {
    namespace v = simd::avx2;
    std::size_t i = 0;
    for (; i + v::block_pixels <= pixels; i += v::block_pixels) {
        const v::Planes p = v::load_planes(in + 3 * i);
        v::store_planes(out + 3 * i, v::Planes{p.b, p.g, p.r});
    }
    return i;
}

OMBRIX_TARGET_END

}  // namespace
}  // namespace ombrix
