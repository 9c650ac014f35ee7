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
    return on_image_with_entry(id, files::header_mode_table, mode,
                               [&](State& st, ImageRecord& image, files::HeaderMode header_mode) {
                                   return files::write_header(st, image, path, header_mode);
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
    return on_brush(id, [&](Brush& brush) { return files::save_brush(brush, path); });
}

double image_BrushFree(double id) {
    return on_brush(id, [&](State& st, Brush&) { return files::free_brush(st, to_int32(id)); });
}

double image_BrushAdd(double id) {
    return on_image_and_brush(id, [](ImageRecord& image, const Brush& brush) {
        files::stamp_brush(brush, image);
        return 0;
    });
}

}  // extern "C"
