// Exports of the DevIL round trip: the ILU operations, the DevIL and ILU settings and the resizing
// operations. Each converts the host's reals and hands a typed call to src/store/ilu_ops.
#include "exports/boundary.hpp"
#include "store/ilu_ops.hpp"
#include "store/round_trip.hpp"

using namespace ombrix;

namespace {

double plain(double id, ilu::Plain op) {
    return on_image(id, [op](State& st, ImageRecord& image) { return ilu::plain(st, image, op); });
}

}  // namespace

extern "C" {

double image_Negative(double id) { return plain(id, ilu::Plain::negative); }

double image_Mirror(double id) { return plain(id, ilu::Plain::mirror); }

double image_Alienify(double id) { return plain(id, ilu::Plain::alienify); }

double image_BuildMipmaps(double id) { return plain(id, ilu::Plain::build_mipmaps); }

double image_Emboss(double id) { return plain(id, ilu::Plain::emboss); }

double image_Equalize(double id) { return plain(id, ilu::Plain::equalize); }

double image_FlipImagev(double id) { return plain(id, ilu::Plain::flip_vertical); }

double image_SwapColours(double id) { return plain(id, ilu::Plain::swap_colours); }

double image_InvertAlpha(double id) { return plain(id, ilu::Plain::invert_alpha); }

double image_SetDuration(double id) { return plain(id, ilu::Plain::set_duration); }

double image_FlipImageh(double id) {
    return on_image(id, [](State& st, ImageRecord& image) {
        flip_image(st, image);
        return 1;
    });
}

double image_ColoursUsed(double id) { return on_image_call(id, ilu::colours_used); }

double image_DetermineType(double id) { return on_image_call(id, ilu::determine_type); }

double image_Noisify(double id, double tolerance) { return on_image_call(id, ilu::noisify, tolerance); }

double image_Pixelize(double id, double size) { return on_image_call(id, ilu::pixelize, size); }

double image_ReplaceColour(double id, double red, double green, double blue, double tolerance) {
    return on_image_call(id, ilu::replace_colour, red, green, blue, tolerance);
}

double image_Saturate(double id, double saturation) { return on_image_call(id, ilu::saturate, saturation); }

double image_SaturateExt(double id, double red, double green, double blue, double saturation) {
    return on_image_call(id, ilu::saturate_ext, red, green, blue, saturation);
}

double image_ScaleAlpha(double id, double scale) { return on_image_call(id, ilu::scale_alpha, scale); }

double image_BlurAvg(double id, double iterations) { return on_image_call(id, ilu::blur_average, iterations); }

double image_BlurGaussian(double id, double iterations) { return on_image_call(id, ilu::blur_gaussian, iterations); }

double image_Contrast(double id, double contrast) { return on_image_call(id, ilu::contrast, contrast); }

double image_Crop(double id, double x, double y, double width, double height) {
    return on_image_call(id, ilu::crop, x, y, width, height);
}

double image_EnlargeCanvas(double id, double width, double height) {
    return on_image_call(id, ilu::enlarge_canvas, width, height);
}

double image_EnlargeImage(double id, double x, double y) { return on_image_call(id, ilu::enlarge_image, x, y); }

double image_GammaCorrect(double id, double gamma) { return on_image_call(id, ilu::gamma_correct, gamma); }

double image_Wave(double id, double angle) { return on_image_call(id, ilu::wave, angle); }

double image_Sharpen(double id, double factor) { return on_image_call(id, ilu::sharpen, factor); }

double image_KeyColour(double id, double red, double green, double blue, double alpha) {
    return on_image_call(id, ilu::key_colour, red, green, blue, alpha);
}

double image_ClearColour(double id, double red, double green, double blue, double alpha) {
    return on_image_call(id, ilu::clear_colour, red, green, blue, alpha);
}

double image_Parameter(double id, double name, double value) { return on_image_call(id, ilu::parameter, name, value); }

// EdgeDetect and CompressFunc test their mode after the copy-in; the others here test their index
// before the image is looked up.
double image_EdgeDetect(double id, double mode) {
    return on_image(
        id, [&](State& st, ImageRecord& image) { return ilu::edge_detect(st, image, entry(ilu::edge_table, mode)); });
}

double image_CompressFunc(double id, double mode) {
    return on_image(id, [&](State& st, ImageRecord& image) {
        return ilu::compress_func(st, image, entry(ilu::compression_table, mode));
    });
}

double image_DXTCdata(double id, double format) {
    return on_image_with_entry(id, ilu::dxtc_table, format, [](State& st, ImageRecord& image, ILenum value) {
        return ilu::dxtc_data(st, image, value);
    });
}

// These two run before init as well.
double image_SetFunction(double id, double mode, double value) {
    return on_image_with_entry_before_init(id, ilu::setting_table, mode,
                                           [&](State& st, ImageRecord& image, ILenum setting) {
                                               return ilu::set_integer(st, image, setting, to_int32(value));
                                           });
}

double image_SetString(double id, double mode, const char* text) {
    return on_image_with_entry_before_init(
        id, ilu::string_table, mode,
        [&](State& st, ImageRecord& image, ILenum setting) { return ilu::set_string(st, image, setting, text); });
}

// Every filter index in range gives the same call: the index is only checked.
double image_Filter(double id, double filter) {
    return on_image_at_index(id, filter, ilu::filter_indices,
                             [](State& st, ImageRecord& image, std::size_t) { return ilu::filter(st, image); });
}

double image_Filter_scale(double id, double filter) {
    return on_image_with_entry(id, ilu::scale_filter_table, filter, [](State& st, ImageRecord& image, ILenum value) {
        return ilu::filter_scale(st, image, value);
    });
}

double image_SetLanguage(double language) {
    return boundary([&](State& st) {
        st.require_initialised();
        return ilu::set_language(pick(ilu::language_table, language));
    });
}

double image_Rotate(double id, double angle) { return on_image_call(id, ilu::rotate, angle); }

double image_Rotate3D(double id, double x, double y, double angle) {
    return on_image_call(id, ilu::rotate_3d, x, y, angle);
}

double image_Scale(double id, double width, double height) { return on_image_call(id, ilu::scale, width, height); }

}  // extern "C"
