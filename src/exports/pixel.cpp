// Exports of pixel access, composition, the test pattern, the pair shuffle and the blur.
#include "exports/boundary.hpp"
#include "pixel/access.hpp"
#include "pixel/mosaic.hpp"
#include "pixel/pattern.hpp"
#include "pixel/shuffle.hpp"

using namespace ombrix;

extern "C" {

double image_Get_Pixel(double id, double column, double row) {
    return on_image(id, [&](ImageRecord& image) { return pixel::get_pixel(image, to_int32(column), to_int32(row)); });
}

double image_Set_Pixel(double id, double column, double row, double colour) {
    return on_image(id, [&](ImageRecord& image) {
        pixel::set_pixel(image, to_int32(column), to_int32(row), trunc_int64(colour));
        return 0;
    });
}

double image_Mosaic(double id, double size, double border, double red) {
    return on_image_before_init(id, [&](ImageRecord& image) {
        pixel::mosaic(image, to_int32(size), size * 0.5, to_int32(border), to_byte(red));
        return 0;
    });
}

double image_2to1(double first, double second) { return new_image_from(pixel::join_side_by_side, first, second); }

double image_2image_add(double target, double other) {
    return on_two_images(target, other, [](ImageRecord& image, const ImageRecord& added) {
        pixel::average_into(image, added);
        return 1;
    });
}

double image_ConvertTo4(double id) {
    return on_image_before_init(id, [&](ImageRecord& image) {
        pixel::convert_to_4(image);
        return 1;
    });
}

double test_2(double id) {
    return on_image(id, [&](ImageRecord& image) {
        pixel::fill_colour_sequence(image);
        return 0;
    });
}

double image_median(double id, double mode) {
    return on_image(id, [&](ImageRecord& image) {
        pixel::shuffle_pairs(image, to_int32(mode));
        return 1;
    });
}

double image_blur(double id, double dx, double dy) {
    return on_image_before_init(id, [&](ImageRecord& image) {
        pixel::blur_four_point(image, to_int32(dx), to_int32(dy));
        return 0;
    });
}

}  // extern "C"
