// image_transformRGB: each mode on well-chosen pixels, its results and error text, and the fast
// paths against the per-pixel formulas for every colour.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "pixel/reference_formulas.hpp"
#include "pixel/transform.hpp"
#include "pixel/transform_support.hpp"
#include "simd/dispatch.hpp"
#include "store/errors.hpp"
#include "store/library.hpp"

namespace ombrix::pixel {
namespace {

using colour::Rgb;
using test_images::pixel;
using test_images::repeated;

constexpr Rgb black{0, 0, 0}, white{255, 255, 255}, red{255, 0, 0}, blue{0, 0, 255};
constexpr Rgb mixed{10, 200, 50}, ordered{10, 20, 30}, grey77{77, 77, 77};

Rgb g(std::uint8_t v) { return {v, v, v}; }

struct Case {
    std::int32_t mode;
    Rgb in;
    Rgb out;
};

// Runs each case on an image of the input repeated past a block and checks every copy.
void expect_cases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        auto image = repeated({c.in});
        ASSERT_EQ(transform_rgb(*image, c.mode), 1);
        for (std::size_t i = 0; i < image->pixel_count(); ++i) {
            const Rgb p = pixel(*image, i);
            ASSERT_EQ(p, c.out) << "mode " << c.mode << " on (" << +c.in.r << ", " << +c.in.g << ", " << +c.in.b
                                << ") at pixel " << i << " gave (" << +p.r << ", " << +p.g << ", " << +p.b << ")";
        }
    }
}

// The script test shows every mode on black, white, the primaries, (10, 200, 50), (10, 20, 30)
// and grey 129; these are the other pixels whose results the modes single out.
TEST(TransformRgb, GreyModesOnFurtherPixels) {
    expect_cases({
        {18, {0, 90, 200}, g(255)},
        {21, grey77, g(0)},
        {22, grey77, g(0)},
        {23, grey77, g(77)},
        {24, {1, 1, 1}, g(9)},
        {25, red, g(231)},
        {26, red, g(214)},
        {26, blue, g(0)},
        {29, red, g(240)},
        {28, blue, g(240)},
        {31, blue, g(240)},
        {32, red, g(240)},
    });
    // Every grey has no colour difference in either set.
    for (int v : {0, 1, 77, 128, 254, 255})
        for (int mode : {28, 29, 31, 32}) expect_cases({{mode, g(static_cast<std::uint8_t>(v)), g(128)}});
}

TEST(TransformRgb, PosteriseAndThresholdBoundaries) {
    const std::pair<int, int> levels[] = {{0, 0},     {1, 32},    {64, 32},   {65, 98},   {128, 98},
                                          {129, 160}, {192, 160}, {193, 224}, {254, 224}, {255, 255}};
    for (auto [in, out] : levels) {
        const auto v = static_cast<std::uint8_t>(in), w = static_cast<std::uint8_t>(out);
        expect_cases(
            {{34, {v, 0, 255}, {w, 0, 255}}, {34, {128, v, 64}, {98, w, 32}}, {34, {1, 193, v}, {32, 224, w}}});
    }
    expect_cases({
        {35, {128, 129, 0}, {0, 255, 0}},
        {35, {255, 1, 129}, {255, 0, 255}},
        {36, {129, 129, 129}, white},
        {36, {255, 255, 128}, black},
        {36, {128, 255, 255}, black},
    });
}

TEST(TransformRgb, RandomColoursFollowRandInRedGreenBlueOrder) {
    auto image = repeated({mixed}, 50);
    std::srand(1234);
    ASSERT_EQ(transform_rgb(*image, 33), 1);
    std::srand(1234);
    for (std::size_t i = 0; i < image->pixel_count(); ++i) {
        const int r = std::rand() % 255, gr = std::rand() % 255, b = std::rand() % 255;
        ASSERT_EQ(pixel(*image, i),
                  (Rgb{static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(gr), static_cast<std::uint8_t>(b)}));
    }
    auto big = repeated({mixed}, 20000);
    transform_rgb(*big, 33);
    for (std::size_t i = 0; i < big->rgb.size(); ++i) ASSERT_NE(big->rgb[i], 255);
}

TEST(TransformRgb, ResultsAndTheInvalidModeText) {
    State st;
    init_library(st);  // ILU words the invalid-parameter text
    auto image = repeated({mixed, ordered});
    const memory::Buffer before = image->rgb.copy();
    const auto unchanged = [&] { return std::equal(before.data(), before.data() + before.size(), image->rgb.data()); };

    EXPECT_EQ(transform_rgb(*image, -1), 0);
    EXPECT_TRUE(unchanged());
    for (std::int32_t mode : {37, -2, 99, INT_MIN, INT_MAX}) {
        try {
            transform_rgb(*image, mode);
            ADD_FAILURE() << "mode " << mode << " was accepted";
        } catch (const Failure& f) {
            EXPECT_EQ(f.result, 0);
            EXPECT_STREQ(f.text, devil_error_text(il_invalid_param));
        }
        EXPECT_TRUE(unchanged());
    }
    // Host modes truncate toward zero: 2.9 is mode 2, -0.5 is mode 0, -1.5 is mode -1, NaN is out of range.
    EXPECT_EQ(to_int32(2.9), 2);
    EXPECT_EQ(to_int32(-0.5), 0);
    EXPECT_EQ(transform_rgb(*image, to_int32(-1.5)), 0);
    EXPECT_TRUE(unchanged());
    EXPECT_THROW(transform_rgb(*image, to_int32(std::nan(""))), Failure);
}

TEST(TransformRgb, AnImageWithoutPixelsReturnsOneForEveryMode) {
    for (auto [w, h] : {std::pair{0, 0}, {0, 5}, {7, 0}}) {
        auto empty = make_record(w, h);
        for (std::int32_t mode = -3; mode <= 40; ++mode) EXPECT_EQ(transform_rgb(*empty, mode), 1) << mode;
        EXPECT_EQ(transform_rgb(*empty, INT_MIN), 1);
    }
}

// Runs `mode` over a copy of `source` and checks every pixel against the written-out formula.
void expect_reference(const ImageRecord& source, std::int32_t mode) {
    auto image = test_images::copy_of(source);
    transform_rgb(*image, mode);
    for (std::size_t i = 0; i < image->pixel_count(); ++i) {
        const Rgb in = pixel(source, i);
        ASSERT_EQ(pixel(*image, i), reference::transform_rgb(mode, in))
            << "mode " << mode << " on (" << +in.r << ", " << +in.g << ", " << +in.b << ")";
    }
}

class TransformRgbPath : public ::testing::TestWithParam<simd::Path> {};

// The real-valued modes take tables and approximations with exact fallbacks: every colour (every
// 7th under the sanitizers) must still give the formula's byte, on each path.
TEST_P(TransformRgbPath, RealValuedModesGiveTheFormulasByteForEveryColour) {
    OMBRIX_SKIP_UNLESS_SUPPORTED(GetParam());
    const simd::PathCap cap(GetParam());
    const auto source = test_images::every_colour();
    for (std::int32_t mode = 21; mode <= 26; ++mode) expect_reference(*source, mode);
}

// The whole-number modes, and the scalar pixels after the last block, on a dense sample.
TEST_P(TransformRgbPath, WholeNumberModesGiveTheFormulas) {
    OMBRIX_SKIP_UNLESS_SUPPORTED(GetParam());
    const simd::PathCap cap(GetParam());
    const auto source = test_images::every_colour(test_images::sample_stride);
    for (std::int32_t mode = 0; mode <= 36; ++mode)
        if ((mode < 21 || mode > 26) && mode != 33) expect_reference(*source, mode);
}

INSTANTIATE_TEST_SUITE_P(EveryPath, TransformRgbPath, ::testing::ValuesIn(reference::every_path), reference::path_name);

}  // namespace
}  // namespace ombrix::pixel
