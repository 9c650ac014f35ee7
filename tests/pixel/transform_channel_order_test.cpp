// image_test: channel ranks, the chained modes 0 to 6, HWB and luma, its helpers, and the vector
// passes against the per-pixel formulas for every colour.
#include <gtest/gtest.h>

#include <climits>

#include "pixel/rank_transform.hpp"
#include "pixel/reference_formulas.hpp"
#include "pixel/transform_support.hpp"

namespace ombrix::pixel {
namespace {

using colour::Rgb;
using test_images::pixel;
using test_images::repeated;

Rgb g(std::uint8_t v) { return {v, v, v}; }

struct Case {
    std::int32_t mode;
    Rgb in;
    Rgb out;
};

void expect_cases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        auto image = repeated({c.in});
        ASSERT_EQ(rank_transform(*image, c.mode), 0);
        for (std::size_t i = 0; i < image->pixel_count(); ++i) {
            const Rgb p = pixel(*image, i);
            ASSERT_EQ(p, c.out) << "mode " << c.mode << " on (" << +c.in.r << ", " << +c.in.g << ", " << +c.in.b
                                << ") at pixel " << i << " gave (" << +p.r << ", " << +p.g << ", " << +p.b << ")";
        }
    }
}

TEST(ChannelOrderHelpers, RanksAgreeWithSortingForEveryTriple) {
    for (int a = 0; a < 256; a += 3)
        for (int b = 0; b < 256; b += 5)
            for (int c = 0; c < 256; c += 1) {
                int s[3] = {a, b, c};
                std::sort(s, s + 3);
                const auto x = static_cast<std::uint8_t>(a), y = static_cast<std::uint8_t>(b),
                           z = static_cast<std::uint8_t>(c);
                ASSERT_EQ(min3_byte(x, y, z), s[0]);
                ASSERT_EQ(median3_byte(x, y, z), s[1]);
                ASSERT_EQ(max3_byte(x, y, z), s[2]);
            }
    EXPECT_EQ(median3_int(0, -5, 255), 0);
    EXPECT_EQ(median3_int(0, 300, 255), 255);
    EXPECT_EQ(median3_int(0, 17, 255), 17);
    EXPECT_EQ(median3_int(INT_MIN, INT_MAX, 0), 0);
}

TEST(ChannelOrderHelpers, LumaAndByteWrap) {
    EXPECT_DOUBLE_EQ(colour::luma_real(255, 0, 0), 76.245);
    EXPECT_DOUBLE_EQ(colour::blue_minus_luma_real(255, 0, 0), -76.245);
    EXPECT_DOUBLE_EQ(colour::red_minus_luma_real(0, 255, 0), -149.685);
    EXPECT_EQ(byte_wrap(-1), 255);
    EXPECT_EQ(byte_wrap(-76.245), 180);
    EXPECT_EQ(byte_wrap(256.5), 0);
    EXPECT_EQ(byte_wrap(1e9), 0);
}

// The script test shows every mode on (10, 200, 50), the primaries, black, white and greys;
// these pixels single out the chaining of modes 0 to 6, the floor of mode 16 and the grey hue.
TEST(ChannelOrder, ChainingFloorAndGreyHue) {
    // Red strictly smallest: N = min(G, B) is not the smallest channel; blue not in the middle: D = B.
    const Rgb q{5, 90, 40};
    expect_cases({{0, q, {90, 40, 40}}, {4, q, {40, 40, 90}}, {6, q, {40, 90, 90}}, {9, q, {40, 5, 90}}});
    expect_cases({{16, {0, 99, 100}, {0, 0, 1}}, {16, {255, 150, 98}, {156, 51, 0}}});
    expect_cases({{17, {100, 100, 100}, {255, 100, 157}}, {18, {0, 0, 255}, g(4)}, {20, {0, 0, 0}, g(1)}});
}

TEST(ChannelOrder, OtherModesAndEmptyImagesChangeNothing) {
    auto image = repeated({{10, 200, 50}, {1, 2, 3}});
    const memory::Buffer before = image->rgb.copy();
    for (std::int32_t mode : {24, 99, -1, INT_MIN, INT_MAX}) {
        EXPECT_EQ(rank_transform(*image, mode), 0);
        EXPECT_TRUE(std::equal(before.data(), before.data() + before.size(), image->rgb.data()));
    }
    auto empty = make_record(0, 3);
    for (std::int32_t mode = -2; mode <= 25; ++mode) EXPECT_EQ(rank_transform(*empty, mode), 0);
    // 2.5 truncates to mode 2 and -0.5 to mode 0.
    auto a = repeated({{10, 200, 50}});
    rank_transform(*a, to_int32(2.5));
    EXPECT_EQ(pixel(*a, 0), (Rgb{50, 50, 200}));
    rank_transform(*a, to_int32(-0.5));
    EXPECT_EQ(pixel(*a, 0), (Rgb{200, 50, 200}));
}

void expect_reference(const ImageRecord& source, std::int32_t mode) {
    auto image = test_images::copy_of(source);
    rank_transform(*image, mode);
    for (std::size_t i = 0; i < image->pixel_count(); ++i) {
        const Rgb in = pixel(source, i);
        ASSERT_EQ(pixel(*image, i), reference::rank(mode, in))
            << "mode " << mode << " on (" << +in.r << ", " << +in.g << ", " << +in.b << ")";
    }
}

class ChannelOrderPath : public ::testing::TestWithParam<simd::Path> {};

// The HWB modes (whole-number hue arithmetic on the vector paths) and the luma modes (tables or
// approximations with exact fallbacks) give the formula's byte for every colour on each path.
TEST_P(ChannelOrderPath, HwbAndLumaModesGiveTheFormulasByteForEveryColour) {
    OMBRIX_SKIP_UNLESS_SUPPORTED(GetParam());
    const simd::PathCap cap(GetParam());
    const auto source = test_images::every_colour();
    for (std::int32_t mode : {17, 18, 21, 22, 23}) expect_reference(*source, mode);
}

TEST_P(ChannelOrderPath, EveryModeGivesTheFormulas) {
    OMBRIX_SKIP_UNLESS_SUPPORTED(GetParam());
    const simd::PathCap cap(GetParam());
    const auto source = test_images::every_colour(test_images::sample_stride);
    for (std::int32_t mode = 0; mode <= last_rank_mode; ++mode) expect_reference(*source, mode);
}

INSTANTIATE_TEST_SUITE_P(EveryPath, ChannelOrderPath, ::testing::ValuesIn(reference::every_path), reference::path_name);

}  // namespace
}  // namespace ombrix::pixel
