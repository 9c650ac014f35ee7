// The writers emit the image's rows last stored row first, by turning the image upside down
// through image_FlipImageh for the duration of the write. This guard flips on construction and
// flips back when the write ends, on every path.
#pragma once

#include "store/round_trip.hpp"
#include "store/state.hpp"

namespace ombrix::files {

class FlippedImage {
public:
    FlippedImage(State& st, ImageRecord& image) : st_(st), image_(image) {
        // An image without pixels has nothing to turn over, and DevIL refuses empty images.
        if (image_.pixel_count() == 0) return;
        flip_image(st_, image_);
        flipped_ = true;
    }
    FlippedImage(const FlippedImage&) = delete;
    FlippedImage& operator=(const FlippedImage&) = delete;
    ~FlippedImage() {
        try {
            restore();
        } catch (...) {
            // Only an allocation inside DevIL can fail here; the write is over either way.
        }
    }
    void restore() {
        if (!flipped_) return;
        flipped_ = false;
        flip_image(st_, image_);
    }

private:
    State& st_;
    ImageRecord& image_;
    bool flipped_ = false;
};

}  // namespace ombrix::files
