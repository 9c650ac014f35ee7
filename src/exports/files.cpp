// Exports of the files subsystem: the OX file, the HTML, GML and C-header writers, the PNG
// writer's `test`, and brushes.
#include <limits>
#include <string>

#include "exports/boundary.hpp"
#include "files/brush.hpp"
#include "files/brush_format.hpp"
#include "files/ox.hpp"
#include "files/png_writer.hpp"
#include "files/text_export.hpp"

using namespace ombrix;

extern "C" {

double image_to_OX(double id, const char* path, double mode) {
    return on_image(id, [&](ImageRecord& image) { return files::write_ox(image, path, to_int32(mode)); });
}

double image_from_OX(const char* path) {
    return boundary([&](State& st) {
        st.require_initialised();
        return files::load_ox(st, path);
    });
}

double image_html_setting(double border, double cell_padding, double cell_spacing, const char* cell_text) {
    return boundary([&](State& st) {
        st.html.border = border;
        st.html.cell_padding = cell_padding;
        st.html.cell_spacing = cell_spacing;
        st.html.cell_text = cell_text ? cell_text : "";
        return 0;
    });
}

double image_to_html(double id, const char* path) {
    return on_image(id, [&](State& st, ImageRecord& image) { return files::write_html(st, image, path); });
}

double image_to_gml(double id, const char* path) {
    return on_image(id, [&](ImageRecord& image) { return files::write_gml(image, path); });
}

double image_to_h(double id, const char* path, double mode) {
    return boundary([&](State& st) {
        st.require_initialised();
        // The mode is refused before the image is looked up.
        const files::HeaderMode m = pick(files::header_mode_table, mode);
        return files::write_header(st, st.images.get(to_image_id(id)), path, m);
    });
}

double test(double id) {
    return on_image_before_init(id, [&](ImageRecord& image) {
        files::write_test_png(image);
        return std::numeric_limits<double>::quiet_NaN();
    });
}

double image_BrushLoad(const char* path) {
    return boundary([&](State& st) { return files::load_brush(st, path); });
}

double image_BrushSave(double id, const char* path) {
    return boundary([&](State& st) { return files::save_brush(st.brushes.get(to_int32(id)), path); });
}

double image_BrushFree(double id) {
    return boundary([&](State& st) { return files::free_brush(st, to_int32(id)); });
}

double image_BrushAdd(double id) {
    return boundary([&](State& st) { return files::stamp_brush_onto_image(st, to_int32(id)); });
}

}  // extern "C"
