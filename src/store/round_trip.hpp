// The DevIL round trip: copy a record into a temporary DevIL image, run one DevIL or ILU call on
// the bound image, copy the pixels back into the record's buffer and delete the temporary image.
#pragma once

#include <IL/il.h>

#include <cstdint>
#include <utility>

#include "store/devil.hpp"
#include "store/state.hpp"

namespace ombrix {

// What the bound DevIL image is, as far as copying its pixels out is concerned.
struct BoundImage {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t depth = 0;
    ILenum format = 0;
    ILenum type = 0;
    ILenum origin = 0;
    const std::uint8_t* data = nullptr;
    std::int64_t size_of_data = 0;
};
BoundImage bound_image() noexcept;

// True when DevIL's pixel copy delivers the bound image's rows in reverse order: the origin mode
// is in force and differs from the image's own origin.
bool pixel_copy_flips(const BoundImage& image) noexcept;

// Makes the bound scratch image from the record: width × height, depth 1, 8-bit RGB.
void copy_in(const ImageRecord& image);

// Copies the region (0, 0) to (width, height) of the bound image as 8-bit RGB into `out`
// (width × height × 3 bytes), yielding exactly what ilCopyPixels yields: directly from DevIL's
// buffer when the image is 8-bit RGB of that very size, through ilCopyPixels otherwise.
void copy_pixels(std::uint8_t* out, std::int32_t width, std::int32_t height);

// Copies the record-sized region of the bound image back into the record's buffer. The record's
// size never changes; only the bytes of `rgb` do.
void copy_back(ImageRecord& image);

// copy-in, `call()`, copy-back, with the scratch image deleted on every path.
template <class Call>
void round_trip(State& st, ImageRecord& image, Call&& call) {
    ScratchImage scratch(st);
    copy_in(image);
    std::forward<Call>(call)();
    copy_back(image);
}

// image_FlipImageh: the image turned upside down through iluFlipImage, whose rows the copy-back
// turns again when the origin mode is upper left. Computed without DevIL: the two cases are a
// reversal of the rows and no change at all.
void flip_image(State& st, ImageRecord& image);
// The same through DevIL itself (what flip_image must equal).
void flip_image_through_devil(State& st, ImageRecord& image);

// Reverses the order of the rows of a width × height RGB buffer in place.
void reverse_rows(std::uint8_t* rgb, std::size_t width, std::size_t height) noexcept;

}  // namespace ombrix
