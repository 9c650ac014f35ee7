// Exports of the two mode-driven per-pixel transforms.
#include "pixel/transform.hpp"
#include "exports/boundary.hpp"
#include "pixel/rank_transform.hpp"

using namespace ombrix;

extern "C" {

double image_transformRGB(double id, double mode) {
    return on_image(id, [&](ImageRecord& image) { return pixel::transform_rgb(image, to_int32(mode)); });
}

double image_test(double id, double mode) {
    return on_image(id, [&](ImageRecord& image) { return pixel::rank_transform(image, to_int32(mode)); });
}

}  // extern "C"
