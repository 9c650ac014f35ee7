// The DevIL round trip: copy a record into a temporary DevIL image, run one DevIL or ILU call on
// the bound image, copy the pixels back into the record's buffer and delete the temporary image.
#pragma once

#include <IL/il.h>

#include <cstdint>
#include <new>
#include <utility>

#include "store/devil.hpp"
#include "store/pixel_copy.hpp"
#include "store/state.hpp"

namespace ombrix {

// Makes the bound scratch image from the record: width × height, depth 1, 8-bit RGB.
void copy_in(const ImageRecord& image);

// Whether copy_in gave DevIL the record's pixels (false only when DevIL's allocation failed).
bool scratch_has_pixels(const ImageRecord& image);

// Copies the record-sized region of the bound image back into the record's buffer. The record's
// size never changes; only the bytes of `rgb` do.
void copy_back(ImageRecord& image);

// copy-in, `call()`, copy-back, with the scratch image deleted on every path.
template <class Call>
void round_trip(State& st, ImageRecord& image, Call&& call) {
    ScratchImage scratch(st);
    copy_in(image);
    // When DevIL could not allocate the scratch pixels, ILU would run on a null buffer.
    if (!scratch_has_pixels(image)) throw std::bad_alloc();
    std::forward<Call>(call)();
    copy_back(image);
}

// image_FlipImageh: the image turned upside down through iluFlipImage, whose rows the copy-back
// turns again when the origin mode is upper left. Computed without DevIL: the two cases are a
// reversal of the rows and no change at all.
void flip_image(State& st, ImageRecord& image);
// Whether flip_image, under the current origin settings, reverses this record's rows (otherwise it
// leaves the record as it is).
bool flip_reverses_rows(const ImageRecord& image);

// Reverses the order of the rows of a width × height RGB buffer in place.
void reverse_rows(std::uint8_t* rgb, std::size_t width, std::size_t height) noexcept;

}  // namespace ombrix
