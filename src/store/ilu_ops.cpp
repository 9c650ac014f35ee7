// The ILU operations, the settings and the resizing operations: each is one round trip around one
// DevIL or ILU call, with the guards of guards.hpp in front of the calls DevIL cannot take.
#include "store/ilu_ops.hpp"

#include <IL/ilu.h>

#include <cmath>

#include "helper/client.hpp"
#include "store/guards.hpp"
#include "store/images.hpp"
#include "store/round_trip.hpp"

namespace ombrix::ilu {
namespace {

[[noreturn]] void refuse() { fail_devil(0, il_invalid_param); }

// The bound image's size, which guards are measured against.
struct Size {
    std::int64_t width;
    std::int64_t height;
};
Size bound_size() noexcept { return {ilGetInteger(IL_IMAGE_WIDTH), ilGetInteger(IL_IMAGE_HEIGHT)}; }

template <class Call>
double trip(State& st, ImageRecord& image, Call&& call) {
    round_trip(st, image, std::forward<Call>(call));
    return 1;
}

// A new image size: at least 1 × 1, and within the pixel limit.
void require_new_size(double width, double height) {
    if (!(width >= 1 && height >= 1)) refuse();
    if (!pixels_fit(width, height)) fail(0, text::too_large);
}

void require_filter_fits() {
    const Size s = bound_size();
    if (!guard::filter_fits(s.width, s.height)) refuse();
}

// ILU keeps a pointer to the image its last call worked on, and iluSwapColours reads it without
// setting it first: null before any other ILU call, a freed image after one. iluGetImageInfo sets
// it to the bound image and changes nothing else.
void point_ilu_at_bound_image() {
    ILinfo info{};
    iluGetImageInfo(&info);
}

}  // namespace

double plain(State& st, ImageRecord& image, Plain op) {
    return trip(st, image, [op] {
        switch (op) {
            case Plain::negative:
                iluNegative();
                break;
            case Plain::mirror:
                iluMirror();
                break;
            case Plain::alienify:
                iluAlienify();
                break;
            case Plain::build_mipmaps:
                iluBuildMipmaps();
                break;
            case Plain::emboss:
                require_filter_fits();
                iluEmboss();
                break;
            case Plain::equalize:
                iluEqualize();
                break;
            case Plain::flip_vertical:
                ilOriginFunc(IL_ORIGIN_UPPER_LEFT);
                break;
            case Plain::swap_colours:
                point_ilu_at_bound_image();
                iluSwapColours();
                break;
            case Plain::invert_alpha:
                iluInvertAlpha();
                break;
            case Plain::set_duration:
                ilSetDuration(3566);
                break;
        }
    });
}

double colours_used(State& st, ImageRecord& image) {
    ILuint count = 0;
    round_trip(st, image, [&] { count = iluColoursUsed(); });
    return count;
}

double determine_type(State& st, ImageRecord& image) {
    // The detection examines the image's own pixels as the bytes of a file held in memory, which
    // DevIL's format probes read as hostile input: it runs in the helper process.
    ILenum type = IL_TYPE_UNKNOWN;
    const std::size_t bytes = image.pixel_count() * 3;
    if (image.width > 0 && image.height > 0 && image.rgb.size() >= bytes) {
        helper::Unavailable unavailable = helper::Unavailable::none;
        helper::detect(image.rgb.data(), bytes, type, unavailable);
        require_helper(unavailable);
    }
    round_trip(st, image, [] {});
    return type;
}

double noisify(State& st, ImageRecord& image, float tolerance) {
    return trip(st, image, [=] { iluNoisify(tolerance); });
}

double pixelize(State& st, ImageRecord& image, std::uint32_t size) {
    return trip(st, image, [=] { iluPixelize(size); });
}

double replace_colour(State& st, ImageRecord& image, std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                      float tolerance) {
    return trip(st, image, [=] { iluReplaceColour(red, green, blue, tolerance); });
}

double saturate(State& st, ImageRecord& image, float saturation) {
    return trip(st, image, [=] { iluSaturate1f(saturation); });
}

double saturate_ext(State& st, ImageRecord& image, float red, float green, float blue, float saturation) {
    return trip(st, image, [=] { iluSaturate4f(red, green, blue, saturation); });
}

double scale_alpha(State& st, ImageRecord& image, float scale) {
    return trip(st, image, [=] { iluScaleAlpha(scale); });
}

double blur_average(State& st, ImageRecord& image, std::uint32_t iterations) {
    return trip(st, image, [=] {
        const Size s = bound_size();
        if (!guard::blur_fits(s.width, s.height, iterations)) refuse();
        iluBlurAvg(iterations);
    });
}

double blur_gaussian(State& st, ImageRecord& image, std::uint32_t iterations) {
    return trip(st, image, [=] {
        const Size s = bound_size();
        if (!guard::blur_fits(s.width, s.height, iterations)) refuse();
        iluBlurGaussian(iterations);
    });
}

double contrast(State& st, ImageRecord& image, float contrast) {
    return trip(st, image, [=] { iluContrast(contrast); });
}

double crop(State& st, ImageRecord& image, std::uint32_t x, std::uint32_t y, std::uint32_t width,
            std::uint32_t height) {
    return trip(st, image, [=] {
        const Size s = bound_size();
        if (!guard::crop_fits(s.width, s.height, x, y, width, height)) refuse();
        iluCrop(x, y, 1, width, height, 1);
    });
}

double enlarge_canvas(State& st, ImageRecord& image, std::uint32_t width, std::uint32_t height) {
    return trip(st, image, [=] {
        require_new_size(width, height);
        iluEnlargeCanvas(width, height, 0);
    });
}

double enlarge_image(State& st, ImageRecord& image, float x_factor, float y_factor) {
    return trip(st, image, [=] {
        const Size s = bound_size();
        const double w = std::floor(static_cast<double>(s.width) * static_cast<double>(x_factor));
        const double h = std::floor(static_cast<double>(s.height) * static_cast<double>(y_factor));
        require_new_size(w, h);
        iluEnlargeImage(x_factor, y_factor, 1.0f);
    });
}

double gamma_correct(State& st, ImageRecord& image, float gamma) {
    return trip(st, image, [=] { iluGammaCorrect(gamma); });
}

double wave(State& st, ImageRecord& image, float angle) {
    return trip(st, image, [=] {
        if (!guard::wave_fits(bound_size().width, angle)) refuse();
        iluWave(angle);
    });
}

double sharpen(State& st, ImageRecord& image, float factor) {
    return trip(st, image, [=] {
        require_filter_fits();
        iluSharpen(factor, 1);
    });
}

double key_colour(State& st, ImageRecord& image, float red, float green, float blue, float alpha) {
    // Remembered for the saves, which hand it to the helper's DevIL.
    st.key_colour = {{red, green, blue, alpha}, true};
    return trip(st, image, [=] { ilKeyColour(red, green, blue, alpha); });
}

double clear_colour(State& st, ImageRecord& image, float red, float green, float blue, float alpha) {
    return trip(st, image, [=] { ilClearColour(red, green, blue, alpha); });
}

double parameter(State& st, ImageRecord& image, ILenum name, ILenum value) {
    return trip(st, image, [=] { iluImageParameter(name, value); });
}

double edge_detect(State& st, ImageRecord& image, std::optional<EdgeDetector> detector) {
    return trip(st, image, [=] {
        if (!detector) refuse();
        require_filter_fits();
        switch (*detector) {
            case EdgeDetector::e:
                iluEdgeDetectE();
                break;
            case EdgeDetector::p:
                iluEdgeDetectP();
                break;
            case EdgeDetector::s:
                iluEdgeDetectS();
                break;
        }
    });
}

double compress_func(State& st, ImageRecord& image, std::optional<ILenum> mode) {
    return trip(st, image, [=] {
        if (!mode) refuse();
        ilCompressFunc(*mode);
    });
}

double dxtc_data(State& st, ImageRecord& image, ILenum format) {
    return trip(st, image, [=] { ilSetInteger(IL_DXTC_FORMAT, static_cast<ILint>(format)); });
}

double set_integer(State& st, ImageRecord& image, ILenum setting, std::int32_t value) {
    round_trip(st, image, [=] { ilSetInteger(setting, value); });
    return 0;
}

double set_string(State& st, ImageRecord& image, ILenum setting, const char* text) {
    const char* given = text ? text : "";
    if (setting == IL_CHEAD_HEADER_STRING) st.header_array_name = given;
    round_trip(st, image, [=] { ilSetString(setting, given); });
    return 0;
}

double filter(State& st, ImageRecord& image) {
    return trip(st, image, [] {});
}

double filter_scale(State& st, ImageRecord& image, ILenum filter) {
    return trip(st, image, [=] { iluImageParameter(ILU_FILTER, filter); });
}

double set_language(ILenum language) {
    iluSetLanguage(language);
    return 1;
}

namespace {

// The resizing round trip: the ILU call, then the record takes DevIL's new size and a new buffer
// with the pixels. A result beyond the pixel limit or without pixels is not taken: the record
// stays as it was.
template <class Call>
double resize_trip(State& st, ImageRecord& image, Call&& call) {
    ScratchImage scratch(st);
    copy_in(image);
    std::forward<Call>(call)();
    const Size s = bound_size();
    require_new_size(static_cast<double>(s.width), static_cast<double>(s.height));
    const auto width = static_cast<std::int32_t>(s.width);
    const auto height = static_cast<std::int32_t>(s.height);
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    memory::Buffer rgb(pixels * 3);
    copy_pixels(rgb.data(), width, height);
    // The RGBA buffer follows the new size, zero-filled, so that no writer indexes past its end.
    memory::Buffer rgba;
    if (!image.rgba.empty()) rgba = memory::Buffer(pixels * 4, true);
    image.rgb = std::move(rgb);
    image.rgba = std::move(rgba);
    image.width = width;
    image.height = height;
    return 1;
}

}  // namespace

double rotate(State& st, ImageRecord& image, float angle) {
    return resize_trip(st, image, [=] {
        if (!guard::rotate_angle_fits(angle)) refuse();
        // ILU allocates the rotated image in full: its size is bounded before the call.
        const Size s = bound_size();
        const double radians = static_cast<double>(angle) * 3.14159265358979323846 / 180.0;
        const double c = std::fabs(std::cos(radians)), d = std::fabs(std::sin(radians));
        require_new_size(std::ceil(static_cast<double>(s.width) * c + static_cast<double>(s.height) * d) + 2,
                         std::ceil(static_cast<double>(s.width) * d + static_cast<double>(s.height) * c) + 2);
        iluRotate(angle);
    });
}

double rotate_3d(State& st, ImageRecord& image, float x, float y, float angle) {
    return resize_trip(st, image, [=] { iluRotate3D(x, y, 1.0f, angle); });
}

double scale(State& st, ImageRecord& image, std::uint32_t width, std::uint32_t height) {
    return resize_trip(st, image, [=] {
        require_new_size(width, height);
        iluScale(width, height, 1);
    });
}

}  // namespace ombrix::ilu
