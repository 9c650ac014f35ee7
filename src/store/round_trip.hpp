// The DevIL round trip: copy a record into a temporary DevIL image, run one DevIL or ILU call on
// the bound image, copy the pixels back into the record's buffer and delete the temporary image.
#pragma once

#include <IL/il.h>

#include <utility>

#include "store/devil.hpp"
#include "store/state.hpp"

namespace ombrix {

// Makes the bound scratch image from the record: width × height, depth 1, 8-bit RGB.
void copy_in(const ImageRecord& image);
// Copies width × height pixels of the bound image (one layer) back into the record's buffer.
void copy_back(ImageRecord& image);

// copy-in, `call()`, copy-back, with the scratch image deleted on every path.
template <class Call>
void round_trip(State& st, ImageRecord& image, Call&& call) {
    ScratchImage scratch(st);
    copy_in(image);
    std::forward<Call>(call)();
    copy_back(image);
}

// image_FlipImageh: the image turned upside down through iluFlipImage.
void flip_image(State& st, ImageRecord& image);

}  // namespace ombrix
