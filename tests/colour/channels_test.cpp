// Channel images: grey, ranges, and composing new images from channel images.
#include "colour/channels.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <span>
#include <vector>

#include "pixel/reference_formulas.hpp"
#include "pixel/transform_support.hpp"
#include "simd/dispatch.hpp"
#include "store/errors.hpp"
#include "store/library.hpp"
#include "store/round_trip.hpp"

namespace ombrix::colour {
namespace {

using test_images::pixel;
using test_images::repeated;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

TEST(Grayscale, WeightedGreyInEveryPixel) {
    auto image = repeated({{255, 255, 255}, {255, 0, 0}, {0, 0, 255}, {10, 200, 50}});
    convert_grayscale(*image);
    // 77 × 10 + 150 × 200 + 29 × 50 = 32220, >> 8 = 125.
    const std::uint8_t expected[] = {255, 76, 28, 125};
    for (std::size_t i = 0; i < image->pixel_count(); ++i)
        ASSERT_EQ(pixel(*image, i), (Rgb{expected[i % 4], expected[i % 4], expected[i % 4]})) << i;

    const auto source = test_images::every_colour(test_images::sample_stride);
    auto all = test_images::copy_of(*source);
    convert_grayscale(*all);
    for (std::size_t i = 0; i < all->pixel_count(); ++i) {
        const Rgb c = pixel(*source, i);
        const auto grey = static_cast<std::uint8_t>((77 * c.r + 150 * c.g + 29 * c.b) >> 8);
        ASSERT_EQ(pixel(*all, i), (Rgb{grey, grey, grey}));
    }
}

TEST(ChannelRange, BoundsAsReals) {
    EXPECT_EQ(clamp_channel_byte(5, {10, 200}), 10);
    EXPECT_EQ(clamp_channel_byte(250, {10, 200}), 200);
    EXPECT_EQ(clamp_channel_byte(10, {10, 200}), 10);    // not above the minimum
    EXPECT_EQ(clamp_channel_byte(11, {10.5, 200}), 11);  // above 10.5: unchanged
    EXPECT_EQ(clamp_channel_byte(10, {10.9, 200}), 10);  // the bound 10.9 stores 10
    EXPECT_EQ(clamp_channel_byte(201, {0, 200.7}), 200);
    EXPECT_EQ(clamp_channel_byte(0, {300, 400}), 44);  // low 8 bits of 300
    EXPECT_EQ(clamp_channel_byte(7, {0, -1}), 255);    // a maximum of -1 stores 255
    // The maximum wins when the minimum exceeds it.
    for (int x : {0, 100, 150, 255}) EXPECT_EQ(clamp_channel_byte(static_cast<std::uint8_t>(x), {200, 100}), 100);
    // NaN sets no limit; infinite bounds that apply store 0.
    EXPECT_EQ(clamp_channel_byte(5, {nan, 200}), 5);
    EXPECT_EQ(clamp_channel_byte(250, {10, nan}), 250);
    EXPECT_EQ(clamp_channel_byte(250, {nan, nan}), 250);
    EXPECT_EQ(clamp_channel_byte(5, {-inf, inf}), 5);
    EXPECT_EQ(clamp_channel_byte(5, {inf, inf}), 0);
    EXPECT_EQ(clamp_channel_byte(5, {0, -inf}), 0);
    EXPECT_EQ(clamp_channel_byte(5, {1e300, 2e300}), 0);
}

TEST(ChannelRange, EachChannelItsOwnRange) {
    auto image = repeated({{5, 5, 5}, {250, 250, 250}, {120, 0, 255}});
    clamp_channel_ranges(*image, {{{10, 200}, {0, 255}, {0, 255}}});
    const Rgb expected[] = {{10, 5, 5}, {200, 250, 250}, {120, 0, 255}};
    for (std::size_t i = 0; i < image->pixel_count(); ++i) ASSERT_EQ(pixel(*image, i), expected[i % 3]);
    clamp_channel_ranges(*image, {{{0, 255}, {200, 100}, {nan, 30}}});
    const Rgb then[] = {{10, 100, 5}, {200, 100, 30}, {120, 100, 30}};
    for (std::size_t i = 0; i < image->pixel_count(); ++i) ASSERT_EQ(pixel(*image, i), then[i % 3]);
}

TEST(ChannelRange, EveryByteUnderEveryKindOfRange) {
    // 1031 pixels: every byte in every channel, in blocks and in the tail after them.
    auto image = make_record(1031, 1);
    for (std::size_t k = 0; k < image->rgb.size(); ++k) image->rgb[k] = static_cast<std::uint8_t>(k * 5 / 3);
    const auto original = test_images::copy_of(*image);
    const double bounds[] = {nan, -inf, inf, -1, 0, 0.5, 10, 10.9, 127, 200.7, 254.5, 255, 256, 300, 1e300};
    std::mt19937 generator(5);
    for (double low : bounds) {
        for (double high : bounds) {
            const std::array<ChannelRange, 3> ranges{
                {{low, high}, {bounds[generator() % 15], bounds[generator() % 15]}, {high, low}}};
            for (std::size_t k = 0; k < image->rgb.size(); ++k) image->rgb[k] = original->rgb[k];
            clamp_channel_ranges(*image, ranges);
            for (std::size_t k = 0; k < image->rgb.size(); ++k) {
                ASSERT_EQ(image->rgb[k], clamp_channel_byte(original->rgb[k], ranges[k % 3]))
                    << "byte " << k << " low " << low << " high " << high;
            }
        }
    }
}

// A table of images in a local State, registered the way the loading exports do.
struct Images {
    State st;
    std::int32_t add(std::unique_ptr<ImageRecord> image) {
        const std::int32_t id = st.take_image_id();
        st.images.put(id, std::move(image));
        return id;
    }
    const ImageRecord& at(double id) { return st.images.get(static_cast<std::int32_t>(id)); }
    // The composition of the images `ids` name, added to the table.
    std::int32_t compose(Composition kind, std::span<const std::int32_t> ids) {
        std::vector<const ImageRecord*> sources;
        for (std::int32_t id : ids.first(source_count(kind))) sources.push_back(&st.images.get(id));
        return add(compose_channels(kind, sources));
    }
};

std::unique_ptr<ImageRecord> random_image(std::size_t pixels, unsigned seed) {
    std::mt19937 gen(seed);
    auto image = make_record(static_cast<std::int32_t>(pixels), 1);
    for (std::size_t i = 0; i < image->rgb.size(); ++i) image->rgb[i] = static_cast<std::uint8_t>(gen());
    return image;
}

// The composition's formula for pixel i, reading the bytes at the offsets each export reads.
Rgb reference(Composition kind, const ImageRecord* const* s, std::size_t i) {
    const auto byte_of = [&](int source, int offset) {
        return s[source]->rgb[3 * i + static_cast<std::size_t>(offset)];
    };
    switch (kind) {
        case Composition::rgb:
        case Composition::cmy:
            return {byte_of(0, 0), byte_of(1, 1), byte_of(2, 2)};
        case Composition::hsv:
            return hsv_unit_to_rgb(byte_of(0, 0) / 255.0, byte_of(1, 0) / 255.0, byte_of(2, 0) / 255.0);
        case Composition::cmyk:
            return cmyk_bytes_to_rgb(byte_of(0, 0), byte_of(1, 1), byte_of(2, 2), byte_of(3, 2));
        case Composition::lab:
            return lab_bytes_to_rgb(byte_of(0, 0), byte_of(1, 1), byte_of(2, 2));
        case Composition::ycbcr_470:
            return ycbcr_bytes_to_rgb(byte_of(0, 0), byte_of(1, 1), byte_of(2, 2), ycbcr470);
        case Composition::ycbcr_709:
            return ycbcr_bytes_to_rgb(byte_of(0, 0), byte_of(1, 1), byte_of(2, 2), ycbcr709);
    }
    return {};
}

constexpr Composition every_composition[] = {Composition::rgb,      Composition::cmy, Composition::hsv,
                                             Composition::cmyk,     Composition::lab, Composition::ycbcr_470,
                                             Composition::ycbcr_709};

void expect_reference(Composition kind, const ImageRecord* const* sources, const ImageRecord& out) {
    for (std::size_t i = 0; i < out.pixel_count(); ++i)
        ASSERT_EQ(pixel(out, i), reference(kind, sources, i))
            << "composition " << static_cast<int>(kind) << " pixel " << i;
}

TEST(Composition, ReadsEachSourceAtItsChannelOffset) {
    Images images;
    const std::int32_t ids[] = {images.add(random_image(111, 1)), images.add(random_image(111, 2)),
                                images.add(random_image(111, 3)), images.add(random_image(111, 4))};
    const ImageRecord* sources[] = {&images.at(ids[0]), &images.at(ids[1]), &images.at(ids[2]), &images.at(ids[3])};
    for (simd::Path path : {simd::Path::avx512, simd::Path::avx2, simd::Path::scalar}) {
        const simd::PathCap cap(path);
        for (Composition kind : every_composition) {
            const double id = images.compose(kind, ids);
            expect_reference(kind, sources, images.at(id));
        }
    }
}

TEST(Composition, FastPathsMatchTheFormulasForEveryChannelTriple) {
    // Grey sources holding every combination of three bytes; the fourth (black) source shares
    // the magenta source's bytes, so every cyan and yellow byte meets every black byte.
    const auto colours = test_images::every_colour();
    std::unique_ptr<ImageRecord> greys[3];
    for (int c = 0; c < 3; ++c) {
        greys[c] = test_images::copy_of(*colours);
        std::uint8_t* p = greys[c]->rgb.data();
        for (std::size_t i = 0; i < greys[c]->pixel_count(); ++i, p += 3) p[0] = p[1] = p[2] = p[c];
    }
    const ImageRecord* sources[] = {greys[0].get(), greys[1].get(), greys[2].get(), greys[1].get()};
    for (Composition kind :
         {Composition::hsv, Composition::lab, Composition::cmyk, Composition::ycbcr_470, Composition::ycbcr_709}) {
        auto out = make_record(colours->width, colours->height);
        compose_into(kind, sources, out->rgb.data());
        expect_reference(kind, sources, *out);
    }
}

// ---- every channel triple on every path ---------------------------------------------------------
//
// The formulas of the HSV, L*a*b* and YCbCr compositions written out plainly from their bytes, in
// the double operations of their definitions, for checking every path against something it does
// not share.

std::uint8_t rounded_unit(double x) { return static_cast<std::uint8_t>(static_cast<int>(x * 255 + 0.5)); }

Rgb hsv_formula(int h_byte, int s_byte, int v_byte) {
    const double h = h_byte / 255.0, s = s_byte / 255.0, v = v_byte / 255.0;
    if (s_byte == 0) return {rounded_unit(v), rounded_unit(v), rounded_unit(v)};
    double h6 = h * 6;
    if (h6 == 6) h6 = 0;
    const int i = static_cast<int>(h6);
    const double f = h6 - i;
    const double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    const double by_sector[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
    return {rounded_unit(by_sector[i][0]), rounded_unit(by_sector[i][1]), rounded_unit(by_sector[i][2])};
}

std::uint8_t clamped_unit(double x) {
    if (!(x > 0)) x = 0;
    if (!(x < 1)) x = 1;
    return static_cast<std::uint8_t>(static_cast<int>(x * 255.999));
}

Rgb lab_formula(int l_byte, int a_byte, int b_byte) {
    const double L = l_byte / 2.55, a = (a_byte - 128) / 1.27, b = (b_byte - 128) / 1.27;
    const double fy = (L + 16) / 116;
    double X, Y, Z;
    if (fy * fy * fy > 0.008856) {
        Y = fy * fy * fy;
        const double fx = fy + a / 500, fz = fy - b / 200;
        X = 0.951 * (fx * fx * fx);
        Z = 1.089 * (fz * fz * fz);
    } else {
        Y = L / 903.3;
        const double c = std::pow(Y, 0.3333333333333333);
        const double fx = c + a / 500 / 7.787, fz = c - b / 200 / 7.787;
        X = 0.951 * (fx * fx * fx);
        Z = 1.089 * (fz * fz * fz);
    }
    return {clamped_unit(3.063 * X - 1.393 * Y - 0.476 * Z), clamped_unit(-0.969 * X + 1.876 * Y + 0.042 * Z),
            clamped_unit(0.068 * X - 0.229 * Y + 1.069 * Z)};
}

Rgb ycbcr_formula(int y, int cb, int cr, int red_cr, int green_cb, int green_cr, int blue_cb) {
    const int luma = (y - 16) * 56284;
    const auto channel = [](int x) { return static_cast<std::uint8_t>(std::clamp((x + 32768) >> 16, 0, 255)); };
    return {channel(luma + red_cr * (cr - 128)), channel(luma - green_cb * (cb - 128) - green_cr * (cr - 128)),
            channel(luma + blue_cb * (cb - 128))};
}

Rgb formula(Composition kind, Rgb triple) {
    switch (kind) {
        case Composition::hsv:
            return hsv_formula(triple.r, triple.g, triple.b);
        case Composition::lab:
            return lab_formula(triple.r, triple.g, triple.b);
        case Composition::ycbcr_470:
            return ycbcr_formula(triple.r, triple.g, triple.b, 80723, 19896, 41133, 101954);
        default:
            return ycbcr_formula(triple.r, triple.g, triple.b, 90659, 10783, 26948, 106825);
    }
}

class CompositionOnEveryPath : public ::testing::TestWithParam<simd::Path> {};

TEST_P(CompositionOnEveryPath, MatchesItsFormulaForEveryChannelTriple) {
    OMBRIX_SKIP_UNLESS_SUPPORTED(GetParam());
    const simd::PathCap cap(GetParam());
    // The 2^24 triples in three images: half of them in a 24 MiB one, a quarter in each of two
    // 12 MiB ones, as the passes write large and small images differently (streaming or not).
    struct Range {
        std::size_t first;
        std::int32_t rows;
    };
    for (Range range : {Range{0, 2048}, Range{std::size_t{1} << 23, 1024}, Range{std::size_t{3} << 22, 1024}}) {
        const std::size_t count = std::size_t{4096} * static_cast<std::size_t>(range.rows);
        std::unique_ptr<ImageRecord> sources[3];
        for (auto& source : sources) source = make_record(4096, range.rows);
        for (Composition kind : {Composition::hsv, Composition::lab, Composition::ycbcr_470, Composition::ycbcr_709}) {
            // Pixel i of source c holds byte c of the triple at the offset the composition reads
            // from that source, and other bytes beside it, so that reading a wrong offset shows.
            for (std::size_t c = 0; c < 3; ++c) {
                const std::size_t offset = kind == Composition::hsv ? 0 : c;
                std::uint8_t* p = sources[c]->rgb.data();
                for (std::size_t i = 0; i < count; ++i, p += 3) {
                    const Rgb colour = test_images::colour_number(range.first + i);
                    const std::uint8_t bytes[3] = {colour.r, colour.g, colour.b};
                    for (std::size_t k = 0; k < 3; ++k)
                        p[k] = k == offset ? bytes[c] : static_cast<std::uint8_t>(bytes[c] * 7 + 31 * k + 1);
                }
            }
            const ImageRecord* const from[] = {sources[0].get(), sources[1].get(), sources[2].get()};
            auto out = make_record(4096, range.rows);
            compose_into(kind, from, out->rgb.data());
            std::size_t wrong = 0, first_wrong = 0;
            for (std::size_t i = 0; i < count; ++i) {
                if (pixel(*out, i) == formula(kind, test_images::colour_number(range.first + i))) continue;
                if (wrong++ == 0) first_wrong = i;
            }
            const Rgb triple = test_images::colour_number(range.first + first_wrong), got = pixel(*out, first_wrong),
                      want = formula(kind, triple);
            EXPECT_EQ(wrong, 0u) << "composition " << static_cast<int>(kind) << ", first at (" << int{triple.r} << ", "
                                 << int{triple.g} << ", " << int{triple.b} << "): got (" << int{got.r} << ", "
                                 << int{got.g} << ", " << int{got.b} << "), want (" << int{want.r} << ", "
                                 << int{want.g} << ", " << int{want.b} << ")";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, CompositionOnEveryPath, ::testing::ValuesIn(reference::every_path),
                         reference::path_name);

TEST(Composition, KnownColours) {
    Images images;
    const auto grey_image = [&](std::uint8_t v) { return images.add(repeated({{v, v, v}})); };
    const std::int32_t zero = grey_image(0), mid = grey_image(128), c200 = grey_image(200), k100 = grey_image(100);
    const std::int32_t mixed = images.add(repeated({{10, 200, 50}, {1, 2, 3}}));
    const auto first = [&](double id) { return pixel(images.at(id), 0); };
    const auto compose = [&](Composition kind, std::vector<std::int32_t> ids) { return images.compose(kind, ids); };

    // A copy of the image, from RGB and from CMY alike.
    for (Composition kind : {Composition::rgb, Composition::cmy}) {
        const ImageRecord& copy = images.at(compose(kind, {mixed, mixed, mixed}));
        const ImageRecord& original = images.at(mixed);
        EXPECT_TRUE(std::equal(original.rgb.data(), original.rgb.data() + original.rgb.size(), copy.rgb.data()));
    }
    EXPECT_EQ(first(compose(Composition::hsv, {mid, zero, c200})), (Rgb{200, 200, 200}));  // no saturation: the value
    EXPECT_EQ(first(compose(Composition::cmyk, {c200, zero, k100, zero})), (Rgb{55, 255, 155}));
    EXPECT_EQ(first(compose(Composition::cmyk, {c200, zero, zero, k100})), (Rgb{211, 155, 155}));
    EXPECT_EQ(first(compose(Composition::ycbcr_470, {zero, mid, mid})), (Rgb{0, 0, 0}));
    EXPECT_EQ(first(compose(Composition::lab, {mid, mid, mid})), (Rgb{47, 47, 47}));
}

TEST(Composition, NewImagesAreOrdinaryImagesUnderConsecutiveIds) {
    Images images;
    auto source = repeated({{10, 200, 50}}, 3);
    source->width = 1;
    source->height = 3;
    source->bits_per_pixel = 32;
    source->depth = 1;
    const std::int32_t a = images.add(std::move(source));
    const std::int32_t ids[] = {a, a, a, a};
    const double first = images.compose(Composition::rgb, ids);
    EXPECT_EQ(images.compose(Composition::lab, ids), first + 1);
    EXPECT_EQ(images.compose(Composition::cmyk, ids), first + 2);
    const ImageRecord& made = images.at(first);
    EXPECT_EQ(made.width, 1);
    EXPECT_EQ(made.height, 3);
    EXPECT_EQ(made.depth, 1);
    EXPECT_EQ(made.bits_per_pixel, 0);
    EXPECT_TRUE(made.rgba.empty());
    EXPECT_EQ(made.rgb.size(), 9u);
}

TEST(Composition, ASmallerLaterSourceIsRefused) {
    Images images;
    const std::int32_t big = images.add(repeated({{1, 2, 3}}, 40));
    const std::int32_t small = images.add(repeated({{1, 2, 3}}, 39));
    const auto expect_failure = [&](Composition kind, std::vector<std::int32_t> ids) {
        try {
            images.compose(kind, ids);
            ADD_FAILURE() << "composition accepted";
        } catch (const Failure& f) {
            EXPECT_EQ(f.result, -1);
            EXPECT_STREQ(f.text, text::source_too_small);
        }
    };
    expect_failure(Composition::rgb, {big, small, big});
    expect_failure(Composition::cmyk, {big, big, big, small});
    // Larger later sources are fine: the first source's pixels are read.
    const std::int32_t larger = images.add(repeated({{9, 9, 9}}, 50));
    const ImageRecord& made = images.at(images.compose(Composition::rgb, std::vector{small, larger, larger}));
    EXPECT_EQ(made.pixel_count(), 39u);
    EXPECT_EQ(pixel(made, 38), (Rgb{1, 9, 9}));
}

TEST(Composition, ComposedImagesGoThroughTheDevilRoundTrip) {
    Images images;
    init_library(images.st);
    auto source = repeated({{10, 200, 50}, {1, 2, 3}}, 6);  // 12 pixels as 3 rows of 4
    source->width = 4;
    source->height = 3;
    const std::int32_t a = images.add(std::move(source));
    const std::int32_t ids[] = {a, a, a};
    ImageRecord& made = images.st.images.get(static_cast<std::int32_t>(images.compose(Composition::rgb, ids)));
    flip_image(images.st, made);  // copy-in, iluFlipImage, copy-back: the rows swap
    const ImageRecord& original = images.at(a);
    for (std::size_t row = 0; row < 3; ++row)
        for (std::size_t x = 0; x < 4; ++x) ASSERT_EQ(pixel(made, row * 4 + x), pixel(original, (2 - row) * 4 + x));
}

}  // namespace
}  // namespace ombrix::colour
