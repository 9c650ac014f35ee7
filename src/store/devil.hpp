// The one temporary DevIL image: generated and bound under the scratch name, deleted when the
// guard goes out of scope, so that no DevIL image outlives an export on any path.
#pragma once

#include <IL/il.h>

#include "store/state.hpp"

namespace ombrix {

class ScratchImage {
public:
    explicit ScratchImage(State& st) : st_(st) {
        ilGenImages(1, &st_.scratch);
        ilBindImage(st_.scratch);
    }
    ScratchImage(const ScratchImage&) = delete;
    ScratchImage& operator=(const ScratchImage&) = delete;
    ~ScratchImage() { ilDeleteImages(1, &st_.scratch); }

private:
    State& st_;
};

}  // namespace ombrix
