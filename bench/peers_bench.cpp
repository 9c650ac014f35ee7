// Ombrix side by side with libvips (one thread and two) and ImageMagick's MagickCore on one
// 4096 × 4096 photo-like RGB image, in one process. Ombrix is called through its exports, as a host
// calls them, on images in the library; the peers through their C APIs. Every round times each
// operation once for each contestant, one after the other, so that a busy moment on a shared machine
// falls on all of them; the table gives the median of the rounds in ms and each peer's time divided
// by Ombrix's (above 1: Ombrix is faster), next to one memcpy of the 48 MiB buffer.
//
// Each contestant does the operation the way its own users would: libvips' operations are lazy, so
// every pipeline is computed into memory (vips_image_write_to_memory) inside the timing, with the
// operation cache off; ImageMagick computes when called. Copies of the source image made for an
// in-place operation are made before the clock starts. Where a peer has no such operation the
// table prints "—"; the legend under it names every call.
//
//   peers_bench [--rounds N] [--slow-rounds M] [--only TEXT] [--side S]
// N rounds (11 by default); the PNG save, which takes seconds, in the first M of them (3 by
// default); only the operations whose name contains TEXT; an S × S image instead of 4096 × 4096
// (the test suite runs every operation once on a small one).
#include <magick/MagickCore.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "ombrix_exports.h"
#include "store/memory.hpp"

namespace {

using ombrix::bench::seconds;

int side = 4096;

// The side divided by `divisor`, as ImageMagick takes sizes.
std::size_t extent(int divisor = 1) { return static_cast<std::size_t>(side / divisor); }

// The scratch directory every file goes to, once made; test() writes test_out.png into the current
// directory, so the program works from there.
std::string scratch_dir;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "peers_bench: %s\n", what.c_str());
    if (!scratch_dir.empty()) std::filesystem::remove_all(scratch_dir);
    std::exit(1);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

const std::string& scratch() {
    if (scratch_dir.empty()) {
        std::string d = (std::filesystem::temp_directory_path() / "ombrix-peers-XXXXXX").string();
        if (!mkdtemp(d.data())) fail("cannot make a scratch directory");
        scratch_dir = d;
    }
    return scratch_dir;
}

std::string scratch_file(const char* name) { return scratch() + "/" + name; }

// ---- Ombrix ------------------------------------------------------------------------------------

double photo_id = -1;

double checked(double result, double expected, const char* call) {
    if (result != expected) fail(std::string(call) + " returned " + std::to_string(result) + ": " + image_last_error());
    return result;
}

// An in-place export on a fresh clone of the photo; the clone is made and freed outside the timing.
std::function<double()> in_place(const char* call, std::function<double(double)> operation, double expected) {
    return [=] {
        const double id = image_Clone(photo_id);
        if (id < 0) fail("image_Clone failed");
        double result = 0;
        const double s = seconds([&] { result = operation(id); });
        checked(result, expected, call);
        image_free(id);
        return s;
    };
}

// A composition from three images the library made of the photo with modes first_mode, +1, +2 of
// image_transformRGB (made once, kept for every round).
std::function<double()> composition(const char* call, double (*compose)(double, double, double), int first_mode) {
    double sources[3];
    for (int k = 0; k < 3; ++k) {
        sources[k] = image_Clone(photo_id);
        checked(image_transformRGB(sources[k], first_mode + k), 1, "image_transformRGB");
    }
    return [=] {
        double id = -1;
        const double s = seconds([&] { id = compose(sources[0], sources[1], sources[2]); });
        if (id < 0) fail(std::string(call) + " failed: " + image_last_error());
        image_free(id);
        return s;
    };
}

// ---- libvips -----------------------------------------------------------------------------------

VipsImage* vips_photo = nullptr;

// The images one pipeline makes, released together.
class Pipeline {
public:
    Pipeline() = default;
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;
    ~Pipeline() {
        for (VipsImage* image : held_)
            if (image) g_object_unref(image);
    }
    // Where the next operation puts its result.
    VipsImage** slot() {
        held_.push_back(nullptr);
        return &held_.back();
    }
    // The result of the operation that filled the last slot.
    VipsImage* out(int status) {
        if (status != 0 || !held_.back()) fail(std::string("libvips: ") + vips_error_buffer());
        return held_.back();
    }

private:
    std::deque<VipsImage*> held_;  // a deque: a slot stays where it is while more are added
};

using VipsBuild = std::function<VipsImage*(Pipeline&)>;

// Builds the pipeline and computes every pixel of its result into memory.
std::function<double()> vips_computed(VipsBuild build) {
    return [build] {
        Pipeline p;
        void* pixels = nullptr;
        const double s = seconds([&] {
            VipsImage* result = build(p);
            std::size_t bytes = 0;
            pixels = vips_image_write_to_memory(result, &bytes);
        });
        if (!pixels) fail(std::string("libvips: ") + vips_error_buffer());
        g_free(pixels);
        return s;
    };
}

// A one-band image computed once from the photo and kept in memory (a composition's source).
VipsImage* vips_plane(const VipsBuild& build) {
    Pipeline p;
    VipsImage* plane = build(p);
    std::size_t bytes = 0;
    void* pixels = vips_image_write_to_memory(plane, &bytes);
    if (!pixels) fail(std::string("libvips: ") + vips_error_buffer());
    VipsImage* kept =
        vips_image_new_from_memory_copy(pixels, bytes, plane->Xsize, plane->Ysize, plane->Bands, plane->BandFmt);
    g_free(pixels);
    return kept;
}

VipsBuild vips_band(VipsBuild whole, int band) {
    return [=](Pipeline& p) {
        VipsImage* in = whole(p);
        return p.out(vips_extract_band(in, p.slot(), band, nullptr));
    };
}

// The photo as L*a*b* bytes the way Ombrix encodes them: L × 2.55, a and b × 1.27 + 128.
VipsImage* vips_lab_bytes(Pipeline& p) {
    VipsImage* lab = p.out(vips_colourspace(vips_photo, p.slot(), VIPS_INTERPRETATION_LAB, nullptr));
    double a[] = {2.55, 1.27, 1.27}, b[] = {0, 128, 128};
    return p.out(vips_linear(lab, p.slot(), a, b, 3, "uchar", TRUE, nullptr));
}

// ---- ImageMagick -------------------------------------------------------------------------------

const std::uint8_t* photo_pixels = nullptr;
ExceptionInfo* magick_exception = nullptr;

Image* magick_photo() {
    Image* image = ConstituteImage(extent(), extent(), "RGB", CharPixel, photo_pixels, magick_exception);
    if (!image) fail("ConstituteImage failed");
    return image;
}

// `operation` gets a fresh copy of the photo (made outside the timing) and returns the image that
// holds its result: the same one, or a new one. Null is a failure.
std::function<double()> magick_timed(std::function<Image*(Image*)> operation) {
    return [operation] {
        Image* image = magick_photo();
        Image* result = nullptr;
        const double s = seconds([&] { result = operation(image); });
        if (!result) fail("ImageMagick: the operation failed");
        if (result != image) DestroyImage(result);
        DestroyImage(image);
        return s;
    };
}

Image* in_place_result(Image* image, MagickBooleanType ok) { return ok ? image : nullptr; }

Image* magick_channel(Image* image, ChannelType channel) {
    return in_place_result(image, SeparateImageChannel(image, channel));
}

// Three grey images, each one channel of the photo in `space`, kept as a list for CombineImages.
Image* magick_planes(ColorspaceType space) {
    Image* list = nullptr;
    for (ChannelType channel : {RedChannel, GreenChannel, BlueChannel}) {
        Image* image = magick_photo();
        if (space != sRGBColorspace && !TransformImageColorspace(image, space)) fail("TransformImageColorspace");
        if (!SeparateImageChannel(image, channel)) fail("SeparateImageChannel");
        AppendImageToList(&list, image);
    }
    return list;
}

std::function<double()> magick_combined(ColorspaceType space) {
    Image* planes = magick_planes(space);
    return [planes, space] {
        Image* result = nullptr;
        const double s = seconds([&] {
            result = CombineImages(planes, static_cast<ChannelType>(RedChannel | GreenChannel | BlueChannel),
                                   magick_exception);
            if (result && space != sRGBColorspace &&
                !(SetImageColorspace(result, space) && TransformImageColorspace(result, sRGBColorspace)))
                fail("TransformImageColorspace failed");
        });
        if (!result)
            fail(std::string("CombineImages: ") +
                 (magick_exception->reason ? magick_exception->reason : "no reason given"));
        DestroyImage(result);
        return s;
    };
}

// Pixelation where there is no such operation: one pixel of each 8 × 8 block, enlarged again.
VipsImage* vips_pixelate(Pipeline& p) {
    VipsImage* small = p.out(vips_subsample(vips_photo, p.slot(), 8, 8, nullptr));
    return p.out(vips_zoom(small, p.slot(), 8, 8, nullptr));
}

Image* magick_pixelate(Image* image) {
    Image* small = SampleImage(image, extent(8), extent(8), magick_exception);
    if (!small) return nullptr;
    Image* big = SampleImage(small, extent(), extent(), magick_exception);
    DestroyImage(small);
    return big;
}

ImageInfo* magick_info = nullptr;

// ---- The table -------------------------------------------------------------------------------------

struct Operation {
    std::string name;
    std::string ombrix_call;
    std::function<double()> ombrix;
    std::string vips_call;  // empty: no such operation
    VipsBuild vips;
    std::function<double()> vips_file;  // for the PNG rows, which read or write a file
    std::string magick_call;
    std::function<double()> magick;
    bool slow = false;  // timed in the first --slow-rounds rounds only
};

std::string png_path() { return scratch_file("photo.png"); }

std::vector<Operation> operations() {
    std::vector<Operation> ops;
    const auto transform = [](int mode) {
        return in_place(
            "image_transformRGB", [mode](double id) { return image_transformRGB(id, mode); }, 1);
    };
    const auto photo = [](Pipeline&) { return vips_photo; };
    const auto colour_band = [](VipsInterpretation space, int band) {
        return vips_band([space](Pipeline& p) { return p.out(vips_colourspace(vips_photo, p.slot(), space, nullptr)); },
                         band);
    };

    ops.push_back(
        {"grey", "`image_ConvertGrayscale`", in_place("image_ConvertGrayscale", image_ConvertGrayscale, 1),
         "`vips_colourspace` B_W",
         [](Pipeline& p) { return p.out(vips_colourspace(vips_photo, p.slot(), VIPS_INTERPRETATION_B_W, nullptr)); },
         nullptr, "`TransformImageColorspace` GRAY",
         magick_timed([](Image* i) { return in_place_result(i, TransformImageColorspace(i, GRAYColorspace)); })});
    ops.push_back({"negative", "`image_Negative`", in_place("image_Negative", image_Negative, 1), "`vips_invert`",
                   [](Pipeline& p) { return p.out(vips_invert(vips_photo, p.slot(), nullptr)); }, nullptr,
                   "`NegateImage`",
                   magick_timed([](Image* i) { return in_place_result(i, NegateImage(i, MagickFalse)); })});
    ops.push_back({"inverted channel (red)", "`image_transformRGB` 18", transform(18),
                   "`vips_extract_band`, `vips_invert`",
                   [](Pipeline& p) {
                       VipsImage* red = p.out(vips_extract_band(vips_photo, p.slot(), 0, nullptr));
                       return p.out(vips_invert(red, p.slot(), nullptr));
                   },
                   nullptr, "`SeparateImageChannel`, `NegateImage`", magick_timed([](Image* i) {
                       return magick_channel(i, RedChannel) ? in_place_result(i, NegateImage(i, MagickFalse)) : nullptr;
                   })});
    ops.push_back({"posterise", "`image_transformRGB` 34", transform(34), "`vips_maplut` (the same table)",
                   [](Pipeline& p) {
                       static VipsImage* lut = [] {
                           std::uint8_t table[256];
                           for (int v = 0; v < 256; ++v)
                               table[v] = static_cast<std::uint8_t>(v == 0     ? 0
                                                                    : v <= 64  ? 32
                                                                    : v <= 128 ? 98
                                                                    : v <= 192 ? 160
                                                                    : v < 255  ? 224
                                                                               : 255);
                           return vips_image_new_from_memory_copy(table, 256, 256, 1, 1, VIPS_FORMAT_UCHAR);
                       }();
                       return p.out(vips_maplut(vips_photo, p.slot(), lut, nullptr));
                   },
                   nullptr, "`PosterizeImage` 6 levels",
                   magick_timed([](Image* i) { return in_place_result(i, PosterizeImage(i, 6, MagickFalse)); })});
    ops.push_back({"threshold", "`image_transformRGB` 35", transform(35), "`vips_more_const1` 128",
                   [](Pipeline& p) { return p.out(vips_more_const1(vips_photo, p.slot(), 128.0, nullptr)); }, nullptr,
                   "`BilevelImage` 128", magick_timed([](Image* i) {
                       return in_place_result(i, BilevelImage(i, 128.0 * QuantumRange / 255.0));
                   })});
    ops.push_back({"hue", "`image_transformRGB` 21", transform(21), "`vips_sRGB2HSV`, band 0",
                   vips_band([](Pipeline& p) { return p.out(vips_sRGB2HSV(vips_photo, p.slot(), nullptr)); }, 0),
                   nullptr, "`TransformImageColorspace` HSV, `SeparateImageChannel`", magick_timed([](Image* i) {
                       return TransformImageColorspace(i, HSVColorspace) ? magick_channel(i, RedChannel) : nullptr;
                   })});
    const char* lab_names[] = {"L*", "a*", "b*"};
    const ChannelType lab_channels[] = {RedChannel, GreenChannel, BlueChannel};
    for (int k = 0; k < 3; ++k) {
        const ChannelType channel = lab_channels[k];
        ops.push_back({lab_names[k], "`image_transformRGB` " + std::to_string(24 + k), transform(24 + k),
                       "`vips_colourspace` LAB, band " + std::to_string(k), colour_band(VIPS_INTERPRETATION_LAB, k),
                       nullptr, "`TransformImageColorspace` Lab, `SeparateImageChannel`",
                       magick_timed([channel](Image* i) {
                           return TransformImageColorspace(i, LabColorspace) ? magick_channel(i, channel) : nullptr;
                       })});
    }
    ops.push_back({"luma", "`image_test` 21",
                   in_place(
                       "image_test", [](double id) { return image_test(id, 21); }, 0),
                   "`vips_recomb` 0.299, 0.587, 0.114",
                   [](Pipeline& p) {
                       static VipsImage* weights = vips_image_new_matrixv(3, 1, 0.299, 0.587, 0.114);
                       return p.out(vips_recomb(vips_photo, p.slot(), weights, nullptr));
                   },
                   nullptr, "`GrayscaleImage` Rec601Luma", magick_timed([](Image* i) {
                       return in_place_result(i, GrayscaleImage(i, Rec601LumaPixelIntensityMethod));
                   })});
    ops.push_back({"channel extract (red)", "`image_transformRGB` 11", transform(11), "`vips_extract_band` 0",
                   [](Pipeline& p) { return p.out(vips_extract_band(vips_photo, p.slot(), 0, nullptr)); }, nullptr,
                   "`SeparateImageChannel`", magick_timed([](Image* i) { return magick_channel(i, RedChannel); })});

    // Compositions: each contestant composes from three one-channel images of its own split.
    static VipsImage* rgb_planes[3];
    static VipsImage* hsv_planes[3];
    static VipsImage* lab_planes[3];
    for (int k = 0; k < 3; ++k) {
        rgb_planes[k] = vips_plane(vips_band(photo, k));
        hsv_planes[k] =
            vips_plane(vips_band([](Pipeline& p) { return p.out(vips_sRGB2HSV(vips_photo, p.slot(), nullptr)); }, k));
        lab_planes[k] = vips_plane(vips_band(vips_lab_bytes, k));
    }
    ops.push_back({"three-channel join", "`image_RGBChannalToImage`",
                   composition("image_RGBChannalToImage", image_RGBChannalToImage, 11), "`vips_bandjoin`",
                   [](Pipeline& p) { return p.out(vips_bandjoin(rgb_planes, p.slot(), 3, nullptr)); }, nullptr,
                   "`CombineImages`", magick_combined(sRGBColorspace)});
    ops.push_back(
        {"HSV composition", "`image_HSVChannalToImage`",
         composition("image_HSVChannalToImage", image_HSVChannalToImage, 21), "`vips_bandjoin`, `vips_HSV2sRGB`",
         [](Pipeline& p) {
             VipsImage* hsv = p.out(vips_bandjoin(hsv_planes, p.slot(), 3, nullptr));
             VipsImage* tagged = p.out(vips_copy(hsv, p.slot(), "interpretation", VIPS_INTERPRETATION_HSV, nullptr));
             return p.out(vips_HSV2sRGB(tagged, p.slot(), nullptr));
         },
         nullptr, "`CombineImages`, `TransformImageColorspace` sRGB", magick_combined(HSVColorspace)});
    ops.push_back({"Lab composition", "`image_LABChannalToImage`",
                   composition("image_LABChannalToImage", image_LABChannalToImage, 24),
                   "`vips_bandjoin`, `vips_linear`, `vips_colourspace` sRGB",
                   [](Pipeline& p) {
                       VipsImage* bytes = p.out(vips_bandjoin(lab_planes, p.slot(), 3, nullptr));
                       double a[] = {1 / 2.55, 1 / 1.27, 1 / 1.27}, b[] = {0, -128 / 1.27, -128 / 1.27};
                       VipsImage* lab = p.out(vips_linear(bytes, p.slot(), a, b, 3, nullptr));
                       VipsImage* tagged =
                           p.out(vips_copy(lab, p.slot(), "interpretation", VIPS_INTERPRETATION_LAB, nullptr));
                       return p.out(vips_colourspace(tagged, p.slot(), VIPS_INTERPRETATION_sRGB, nullptr));
                   },
                   nullptr, "`CombineImages`, `TransformImageColorspace` sRGB", magick_combined(LabColorspace)});

    ops.push_back({"Gaussian blur (3 × 3)", "`image_BlurGaussian(id, 1)`",
                   in_place(
                       "image_BlurGaussian", [](double id) { return image_BlurGaussian(id, 1); }, 1),
                   "`vips_gaussblur` σ 1",
                   [](Pipeline& p) { return p.out(vips_gaussblur(vips_photo, p.slot(), 1.0, nullptr)); }, nullptr,
                   "`GaussianBlurImage` radius 1, σ 1",
                   magick_timed([](Image* i) { return GaussianBlurImage(i, 1.0, 1.0, magick_exception); })});
    ops.push_back({"half-size scale (nearest)", "`image_Scale` to half width and height",
                   in_place(
                       "image_Scale", [](double id) { return image_Scale(id, side / 2, side / 2); }, 1),
                   "`vips_resize` 0.5, nearest",
                   [](Pipeline& p) {
                       return p.out(vips_resize(vips_photo, p.slot(), 0.5, "kernel", VIPS_KERNEL_NEAREST, nullptr));
                   },
                   nullptr, "`SampleImage` to half",
                   magick_timed([](Image* i) { return SampleImage(i, extent(2), extent(2), magick_exception); })});
    ops.push_back({"45° rotation", "`image_Rotate(id, 45)`",
                   in_place(
                       "image_Rotate", [](double id) { return image_Rotate(id, 45); }, 1),
                   "`vips_rotate` 45",
                   [](Pipeline& p) { return p.out(vips_rotate(vips_photo, p.slot(), 45.0, nullptr)); }, nullptr,
                   "`RotateImage` 45", magick_timed([](Image* i) { return RotateImage(i, 45.0, magick_exception); })});
    ops.push_back({"pixelate (8 × 8)", "`image_Pixelize(id, 8)`",
                   in_place(
                       "image_Pixelize", [](double id) { return image_Pixelize(id, 8); }, 1),
                   "`vips_subsample` 8, `vips_zoom` 8", vips_pixelate, nullptr, "`SampleImage` to 1/8, then back",
                   magick_timed(magick_pixelate)});
    ops.push_back({"pixelate (mosaic, 8 × 8)", "`image_Mosaic(id, 8, -1, 0)`",
                   in_place(
                       "image_Mosaic", [](double id) { return image_Mosaic(id, 8, -1, 0); }, 0),
                   "as above", vips_pixelate, nullptr, "as above", magick_timed(magick_pixelate)});

    ops.push_back({"PNG load", "`image_load`",
                   [] {
                       double id = -1;
                       const double s = seconds([&] { id = image_load(png_path().c_str()); });
                       if (id <= 0) fail(std::string("image_load failed: ") + image_last_error());
                       image_free(id);
                       return s;
                   },
                   "`vips_image_new_from_file`, sequential", nullptr,
                   [] {
                       Pipeline p;
                       void* pixels = nullptr;
                       const double s = seconds([&] {
                           *p.slot() =
                               vips_image_new_from_file(png_path().c_str(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
                           VipsImage* in = p.out(0);
                           std::size_t bytes = 0;
                           pixels = vips_image_write_to_memory(in, &bytes);
                       });
                       if (!pixels) fail(std::string("libvips: ") + vips_error_buffer());
                       g_free(pixels);
                       return s;
                   },
                   "`ReadImage`",
                   [] {
                       Image* image = nullptr;
                       const double s = seconds([&] {
                           std::strncpy(magick_info->filename, png_path().c_str(), MaxTextExtent - 1);
                           image = ReadImage(magick_info, magick_exception);
                       });
                       if (!image) fail("ReadImage failed");
                       DestroyImage(image);
                       return s;
                   }});
    ops.push_back({"PNG save, level 9", "`test` (RGBA)",
                   in_place(
                       "test", [](double id) { return std::isnan(test(id)) ? 1.0 : 0.0; }, 1),
                   "`vips_pngsave` compression 9, adaptive filters (RGB)", nullptr,
                   [] {
                       const std::string path = scratch_file("vips.png");
                       int status = 0;
                       const double s = seconds([&] {
                           status = vips_pngsave(vips_photo, path.c_str(), "compression", 9, "filter",
                                                 VIPS_FOREIGN_PNG_FILTER_ALL, nullptr);
                       });
                       if (status != 0) fail(std::string("vips_pngsave: ") + vips_error_buffer());
                       return s;
                   },
                   "`WriteImage` quality 95: level 9, adaptive filters (RGB)", magick_timed([](Image* i) {
                       const std::string path = scratch_file("magick.png");
                       std::strncpy(i->filename, path.c_str(), MaxTextExtent - 1);
                       return in_place_result(i, WriteImage(magick_info, i));
                   }),
                   true});
    return ops;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 11, slow_rounds = 3;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--slow-rounds" && i + 1 < argc)
            slow_rounds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (arg == "--side" && i + 1 < argc)
            side = std::clamp(std::atoi(argv[++i]), 64, 8192) / 8 * 8;
        else
            fail("usage: peers_bench [--rounds N] [--slow-rounds M] [--only TEXT] [--side S]");
    }

    if (VIPS_INIT(argv[0])) fail("vips_init failed");
    vips_cache_set_max(0);
    // Debian's ImageMagick policy keeps 256 MiB of pixels in memory, two 4096 × 4096 Q16 images, and
    // moves the rest to files; a policy of our own, read first, lets every image stay in memory.
    {
        std::FILE* policy = std::fopen(scratch_file("policy.xml").c_str(), "w");
        if (!policy) fail("cannot write the ImageMagick policy");
        std::fputs(
            "<policymap>\n"
            "  <policy domain=\"resource\" name=\"memory\" value=\"8GiB\"/>\n"
            "  <policy domain=\"resource\" name=\"map\" value=\"8GiB\"/>\n"
            "  <policy domain=\"resource\" name=\"area\" value=\"1GP\"/>\n"
            "  <policy domain=\"resource\" name=\"disk\" value=\"16GiB\"/>\n"
            "</policymap>\n",
            policy);
        std::fclose(policy);
        setenv("MAGICK_CONFIGURE_PATH", scratch().c_str(), 1);
    }
    MagickCoreGenesis(argv[0], MagickFalse);
    for (const auto& [resource, name] : {std::pair{MemoryResource, "memory"}, std::pair{MapResource, "map"}})
        if (GetMagickResourceLimit(resource) < (MagickSizeType{4} << 30))
            fail(std::string("ImageMagick keeps its ") + name + " limit at " +
                 std::to_string(GetMagickResourceLimit(resource)) + " bytes");
    magick_exception = AcquireExceptionInfo();
    magick_info = AcquireImageInfo();
    magick_info->quality = 95;
    if (chdir(scratch().c_str()) != 0) fail("cannot enter the scratch directory");

    std::fprintf(stderr, "peers_bench: making the %d × %d image\n", side, side);
    const auto record = ombrix::bench::photo_like(side);
    photo_pixels = record->rgb.data();
    const std::size_t bytes = record->rgb.size();
    VipsImage* raw = vips_image_new_from_memory(photo_pixels, bytes, side, side, 3, VIPS_FORMAT_UCHAR);
    if (!raw || vips_copy(raw, &vips_photo, "interpretation", VIPS_INTERPRETATION_sRGB, nullptr))
        fail(std::string("libvips: ") + vips_error_buffer());
    if (vips_pngsave(vips_photo, png_path().c_str(), nullptr)) fail(std::string("libvips: ") + vips_error_buffer());

    // The library's copy of the photo, loaded the way a host loads a picture.
    init();
    image_load("");  // spends ID 0, so that a load that works returns an ID above 0
    photo_id = image_load(png_path().c_str());
    if (photo_id <= 0 || image_get_width(photo_id) != side) fail(std::string("image_load: ") + image_last_error());
    image_Filter_scale(photo_id, 0);  // nearest, as the peers' scale below

    std::vector<Operation> ops = operations();
    if (!only.empty()) std::erase_if(ops, [&](const Operation& op) { return op.name.find(only) == std::string::npos; });

    struct Times {
        std::vector<double> ombrix, vips1, vips2, magick;
    };
    std::vector<Times> times(ops.size());
    std::vector<double> copies;
    ombrix::memory::Buffer target(bytes);
    std::memset(target.data(), 1, bytes);
    for (int round = 0; round < rounds; ++round) {
        std::fprintf(stderr, "peers_bench: round %d of %d\n", round + 1, rounds);
        copies.push_back(seconds([&] { std::memcpy(target.data(), photo_pixels, bytes); }));
        for (std::size_t k = 0; k < ops.size(); ++k) {
            Operation& op = ops[k];
            if (op.slow && round >= slow_rounds) continue;
            times[k].ombrix.push_back(op.ombrix());
            if (op.vips || op.vips_file) {
                const auto vips_run = op.vips_file ? op.vips_file : vips_computed(op.vips);
                vips_concurrency_set(1);
                times[k].vips1.push_back(vips_run());
                vips_concurrency_set(2);
                times[k].vips2.push_back(vips_run());
            }
            if (op.magick) times[k].magick.push_back(op.magick());
        }
    }

    const auto ms = [](const std::vector<double>& v) { return median(v) * 1e3; };
    // A peer's median and its ratio to Ombrix's; "—" where the peer has no such operation.
    const auto cell = [](const std::vector<double>& peer_times, double ours) {
        if (peer_times.empty()) return std::string("— | —");
        const double peer = median(peer_times) * 1e3;
        char text[64];
        std::snprintf(text, sizeof text, "%.1f | %.2f", peer, peer / ours);
        return std::string(text);
    };
    std::printf(
        "%d × %d RGB, median of %d rounds (the PNG save: of %d); × is the peer's time over Ombrix's (above "
        "1: Ombrix is faster).\n\n",
        side, side, rounds, std::min(rounds, slow_rounds));
    std::printf(
        "| Operation | Ombrix ms | libvips 1 thread ms | × | libvips 2 threads ms | × | ImageMagick (%llu "
        "threads) ms | × |\n",
        static_cast<unsigned long long>(GetMagickResourceLimit(ThreadResource)));
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (std::size_t k = 0; k < ops.size(); ++k) {
        const double ours = ms(times[k].ombrix);
        std::printf("| %s | %.1f | %s | %s | %s |\n", ops[k].name.c_str(), ours, cell(times[k].vips1, ours).c_str(),
                    cell(times[k].vips2, ours).c_str(), cell(times[k].magick, ours).c_str());
    }
    std::printf("\nmemcpy of the %zu-byte buffer into a warm one: %.2f ms\n", bytes, ms(copies));
    std::printf("\nlibvips %s (operation cache off); %s\n\n", vips_version_string(), GetMagickVersion(nullptr));
    std::printf("| Operation | Ombrix | libvips | ImageMagick |\n|---|---|---|---|\n");
    for (const Operation& op : ops)
        std::printf("| %s | %s | %s | %s |\n", op.name.c_str(), op.ombrix_call.c_str(),
                    op.vips_call.empty() ? "—" : op.vips_call.c_str(),
                    op.magick_call.empty() ? "—" : op.magick_call.c_str());
    for (const char* file : {"test_out.png", "vips.png", "magick.png"}) {
        std::error_code error;
        const auto size = std::filesystem::file_size(scratch_file(file), error);
        if (!error) std::printf("\n%s: %ju bytes", file, static_cast<std::uintmax_t>(size));
    }
    std::printf("\n");
    std::filesystem::remove_all(scratch());
    return 0;
}
