// Exports of the image store: library state, loading, saving, freeing, cloning and size queries.
#include <cstdio>

#include "exports/boundary.hpp"
#include "store/devil.hpp"
#include "store/images.hpp"
#include "store/library.hpp"

using namespace ombrix;

extern "C" {

double init(void) {
    return boundary([](State& st) {
        init_library(st);
        return 0;
    });
}

const char* image_last_error(void) {
    return text_boundary([](State& st) -> const char* {
        if (st.initialised) return st.last_error;
        st.last_error = text::not_initialised;
        return "-1";
    });
}

const char* image_OmbrixVersion(void) { return "1.0.0"; }
const char* image_DevilVersion(void) { return "1.7.4"; }

const char* processor(void) {
    if (const char* name = processor_name(this_processor_code())) {
        std::fputs(name, stdout);
        std::fflush(stdout);
    }
    return "1";
}

double image_load(const char* path) {
    return boundary([&](State& st) { return load_image(st, path); });
}

// An unknown type index saves by the path's extension, as image_asave does.
double image_save(double id, const char* path, double type) {
    const ILenum devil_type = entry(save_type_table, type).value_or(IL_TYPE_UNKNOWN);
    return on_image(id, [&](State& st, ImageRecord& image) { return save_image(st, image, path, devil_type); });
}

double image_asave(double id, const char* path) {
    return on_image(id, [&](State& st, ImageRecord& image) { return save_image(st, image, path, IL_TYPE_UNKNOWN); });
}

double image_free(double id) {
    return on_image(id, [&](State& st, ImageRecord&) { return free_image(st, to_image_id(id)); });
}

double image_get_width(double id) {
    return on_image(id, [&](ImageRecord& image) { return image.width; });
}

double image_get_height(double id) {
    return on_image(id, [&](ImageRecord& image) { return image.height; });
}

double image_get_Bpp(double id) {
    return on_image(id, [&](ImageRecord& image) { return image.bits_per_pixel; });
}

double image_Clone(double id) {
    return new_image_from([](const ImageRecord& image) { return image.clone(); }, id);
}

}  // extern "C"
