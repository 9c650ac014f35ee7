// Exports of the two mode-driven per-pixel transforms.
#include "pixel/transform.hpp"
#include "exports/boundary.hpp"
#include "pixel/rank_transform.hpp"

using namespace ombrix;

extern "C" {

double image_transformRGB(double id, double mode) {
    return boundary([&](State& st) {
        st.require_initialised();
        return pixel::transform_rgb(st.images.get(to_image_id(id)), to_int32(mode));
    });
}

double image_test(double id, double mode) {
    return boundary([&](State& st) {
        st.require_initialised();
        return pixel::rank_transform(st.images.get(to_image_id(id)), to_int32(mode));
    });
}

}  // extern "C"
