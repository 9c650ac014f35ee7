// Exports of the colour models: single-colour queries (no initialised test: they need no image),
// grey and range operations, and the channel compositions.
#include <array>

#include "colour/channels.hpp"
#include "colour/queries.hpp"
#include "exports/boundary.hpp"

using namespace ombrix;
using colour::Composition;

namespace {

template <class... Ids>
double compose(Composition kind, Ids... ids) {
    return new_image_from(
        [kind](const auto&... sources) {
            const std::array<const ImageRecord*, sizeof...(sources)> records{&sources...};
            return colour::compose_channels(kind, records);
        },
        ids...);
}

}  // namespace

extern "C" {

double image_get_hue(double colour) {
    return boundary([&](State&) { return colour::hue_of(trunc_int64(colour)); });
}

double image_get_saturation(double colour) {
    return boundary([&](State&) { return colour::saturation_of(trunc_int64(colour)); });
}

double image_get_value(double colour) {
    return boundary([&](State&) { return colour::value_of(trunc_int64(colour)); });
}

double image_make_color_hsv(double hue, double saturation, double value) {
    return boundary(
        [&](State&) { return colour::colour_from_hsv(to_int32(hue), to_int32(saturation), to_int32(value)); });
}

double image_get_cyan(double colour) {
    return boundary([&](State& st) { return colour::cmyk_of(trunc_int64(colour), st.pullout).c; });
}

double image_get_magenta(double colour) {
    return boundary([&](State& st) { return colour::cmyk_of(trunc_int64(colour), st.pullout).m; });
}

double image_get_yellow(double colour) {
    return boundary([&](State& st) { return colour::cmyk_of(trunc_int64(colour), st.pullout).y; });
}

double image_get_black(double colour) {
    return boundary([&](State& st) { return colour::cmyk_of(trunc_int64(colour), st.pullout).k; });
}

double image_get_pullout(double pullout) {
    return boundary([&](State& st) {
        st.pullout = to_int32(pullout);
        return 0;
    });
}

double image_make_color_cmyk(double cyan, double magenta, double yellow, double black) {
    return boundary([&](State&) {
        return colour::colour_from_cmyk(to_int32(cyan), to_int32(magenta), to_int32(yellow), to_int32(black));
    });
}

double image_ConvertGrayscale(double id) {
    return on_image(id, [&](ImageRecord& image) {
        colour::convert_grayscale(image);
        return 1;
    });
}

double image_RGBMinMax(double id, double red_min, double green_min, double blue_min, double red_max, double green_max,
                       double blue_max) {
    return on_image(id, [&](ImageRecord& image) {
        colour::clamp_channel_ranges(image, {{{red_min, red_max}, {green_min, green_max}, {blue_min, blue_max}}});
        return 0;
    });
}

double image_RGBChannalToImage(double red, double green, double blue) {
    return compose(Composition::rgb, red, green, blue);
}

double image_HSVChannalToImage(double hue, double saturation, double value) {
    return compose(Composition::hsv, hue, saturation, value);
}

double image_CMYChannalToImage(double cyan, double magenta, double yellow) {
    return compose(Composition::cmy, cyan, magenta, yellow);
}

double image_CMYKChannalToImage(double cyan, double magenta, double yellow, double black) {
    return compose(Composition::cmyk, cyan, magenta, yellow, black);
}

double image_LABChannalToImage(double l, double a, double b) { return compose(Composition::lab, l, a, b); }

double image_YCBCR470ChannalToImage(double y, double cb, double cr) {
    return compose(Composition::ycbcr_470, y, cb, cr);
}

double image_YCBCR709ChannalToImage(double y, double cb, double cr) {
    return compose(Composition::ycbcr_709, y, cb, cr);
}

}  // extern "C"
