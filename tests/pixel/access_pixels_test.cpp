// Reading and writing single pixels, the side-by-side join, the byte average and the 4-bit packing.
#include <climits>

#include "pixel/access.hpp"
#include "pixel/access_support.hpp"
#include "pixel/reference_formulas.hpp"
#include "simd/dispatch.hpp"

namespace ombrix {
namespace {

using colour::Rgb;
using testing::at;
using testing::image_of;
using testing::random_image;

double failure_result(auto&& call, const char* expected_text) {
    try {
        call();
    } catch (const Failure& f) {
        EXPECT_STREQ(f.text, expected_text);
        return f.result;
    }
    ADD_FAILURE() << "no failure";
    return 0;
}

TEST(PixelAccess, GetReadsPackedColours) {
    auto image = image_of(3, 2, {{255, 0, 0}, {0, 0, 255}, {255, 255, 255}, {1, 2, 3}, {0, 0, 0}, {0, 128, 0}});
    EXPECT_EQ(pixel::get_pixel(*image, 0, 0), 255u);
    EXPECT_EQ(pixel::get_pixel(*image, 1, 0), 16711680u);
    EXPECT_EQ(pixel::get_pixel(*image, 2, 0), 16777215u);
    EXPECT_EQ(pixel::get_pixel(*image, 0, 1), 1u + 2 * 256 + 3 * 65536);
    EXPECT_EQ(pixel::get_pixel(*image, 2, 1), 128u * 256);
}

TEST(PixelAccess, GetOutsideTheImageFailsInsteadOfReadingAnotherPixel) {
    auto image = random_image(4, 3, 1);
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {4, 0}, {0, 3}, {INT_MIN, INT_MIN}, {INT_MAX, 0}, {0, INT_MAX}}) {
        EXPECT_EQ(failure_result([&] { pixel::get_pixel(*image, x, y); }, text::pixel_outside), -1) << x << "," << y;
    }
    EXPECT_EQ(pixel::get_pixel(*image, 3, 2), colour::pack(at(*image, 3, 2)));
}

TEST(PixelAccess, EmptyImagesHaveNoPixelToReadOrWrite) {
    for (auto [w, h] : {std::pair{0, 5}, {5, 0}, {0, 0}}) {
        auto image = make_record(w, h);
        EXPECT_EQ(failure_result([&] { pixel::get_pixel(*image, 0, 0); }, text::no_pixels), -1);
        EXPECT_EQ(failure_result([&] { pixel::set_pixel(*image, 0, 0, 255); }, text::no_pixels), -1);
    }
}

TEST(PixelAccess, SetClampsEveryCoordinateIntoTheImage) {
    const Rgb c{10, 20, 30};
    struct Case {
        std::int32_t x, y;
        std::int64_t lands_x, lands_y;
    };
    for (const Case& k : {Case{4, 1, 3, 1},
                          {1, 3, 1, 2},
                          {INT_MAX, INT_MAX, 3, 2},
                          {-1, 1, 0, 1},
                          {2, -7, 2, 0},
                          {INT_MIN, INT_MIN, 0, 0},
                          {2, 1, 2, 1}}) {
        auto image = random_image(4, 3, 2);
        auto expected = testing::copy_of(*image);
        pixel::pixel_set_rgb(*expected, k.lands_x, k.lands_y, c);
        pixel::set_pixel(*image, k.x, k.y, colour::pack(c));
        EXPECT_EQ(testing::first_difference(*image, *expected), -1) << k.x << "," << k.y;
    }
}

TEST(Join, PutsTheSecondImageRightOfTheFirst) {
    auto first = random_image(2, 3, 3);
    auto second = random_image(4, 3, 4);
    auto joined = pixel::join_side_by_side(*first, *second);
    ASSERT_EQ(joined->width, 6);
    ASSERT_EQ(joined->height, 3);
    EXPECT_EQ(joined->depth, 1);
    EXPECT_TRUE(joined->rgba.empty());
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 2; ++x) EXPECT_EQ(at(*joined, x, y), at(*first, x, y));
        for (int x = 2; x < 6; ++x) EXPECT_EQ(at(*joined, x, y), at(*second, x - 2, y));
    }
}

TEST(Join, TakesTheFirstImagesHeightAndBlackBelowAShorterSecond) {
    auto first = random_image(3, 4, 5);
    auto shorter = random_image(2, 2, 6);
    auto joined = pixel::join_side_by_side(*first, *shorter);
    ASSERT_EQ(joined->width, 5);
    ASSERT_EQ(joined->height, 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 3; ++x) EXPECT_EQ(at(*joined, x, y), at(*first, x, y));
        for (int x = 3; x < 5; ++x) EXPECT_EQ(at(*joined, x, y), y < 2 ? at(*shorter, x - 3, y) : Rgb{});
    }
    auto taller = random_image(1, 9, 7);
    auto cut = pixel::join_side_by_side(*first, *taller);
    ASSERT_EQ(cut->height, 4);
    for (int y = 0; y < 4; ++y) EXPECT_EQ(at(*cut, 3, y), at(*taller, 0, y));
}

TEST(Join, EmptyPartsAndTheSameImageTwice) {
    auto image = random_image(2, 2, 8);
    auto none = make_record(0, 2);
    auto left_empty = pixel::join_side_by_side(*none, *image);
    EXPECT_EQ(left_empty->width, 2);
    EXPECT_EQ(testing::first_difference(*left_empty, *image), -1);
    auto flat = make_record(3, 0);
    EXPECT_EQ(pixel::join_side_by_side(*flat, *image)->pixel_count(), 0u);
    auto twice = pixel::join_side_by_side(*image, *image);
    EXPECT_EQ(at(*twice, 3, 1), at(*image, 1, 1));
}

TEST(Join, RefusesImagesBeyondThePixelLimit) {
    // Records that claim a size without holding the pixels: the limit is checked before any copy.
    ImageRecord wide;
    wide.width = 1 << 27;
    wide.height = 2;
    ImageRecord wider;
    wider.width = (1 << 27) + 1;
    wider.height = 2;
    EXPECT_EQ(failure_result([&] { pixel::join_side_by_side(wide, wider); }, ombrix::text::too_large), -1);
    ImageRecord huge;
    huge.width = INT_MAX;
    huge.height = 1;
    EXPECT_EQ(failure_result([&] { pixel::join_side_by_side(huge, huge); }, ombrix::text::too_large), -1);
}

TEST(Average, HalvesTheSumRoundingDown) {
    auto target = image_of(2, 1, {{200, 100, 0}, {255, 255, 1}});
    auto other = image_of(2, 1, {{101, 0, 255}, {255, 254, 0}});
    pixel::average_into(*target, *other);
    EXPECT_EQ(at(*target, 0, 0), (Rgb{150, 50, 127}));
    EXPECT_EQ(at(*target, 1, 0), (Rgb{255, 254, 0}));
    EXPECT_EQ(at(*other, 0, 0), (Rgb{101, 0, 255}));
}

TEST(Average, PairsFlatBytesAndKeepsTheTailBeyondASmallerOther) {
    auto target = random_image(5, 7, 9);
    const auto before = testing::copy_of(*target);
    auto other = random_image(3, 4, 10);  // 36 of the target's 105 bytes
    pixel::average_into(*target, *other);
    for (std::size_t k = 0; k < target->rgb.size(); ++k) {
        const int expected = k < other->rgb.size() ? (before->rgb[k] + other->rgb[k]) / 2 : before->rgb[k];
        ASSERT_EQ(target->rgb[k], expected) << k;
    }
    auto empty = make_record(0, 0);
    pixel::average_into(*empty, *target);
    pixel::average_into(*target, *empty);
}

TEST(Average, EveryPairOfBytesAndAnImageWithItself) {
    // 65536 pairs plus a tail that no block width divides: 21847 pixels, 65541 bytes.
    auto target = make_record(21847, 1);
    auto other = make_record(21847, 1);
    for (std::size_t k = 0; k < target->rgb.size(); ++k) {
        target->rgb[k] = static_cast<std::uint8_t>(k >> 8);
        other->rgb[k] = static_cast<std::uint8_t>(k * 7 + 3);
    }
    const auto before = testing::copy_of(*target);
    pixel::average_into(*target, *other);
    for (std::size_t k = 0; k < target->rgb.size(); ++k) {
        const int a = before->rgb[k];
        const int b = other->rgb[k];
        ASSERT_EQ(target->rgb[k], (a + b) / 2) << a << " " << b;
    }
    const auto averaged = testing::copy_of(*target);
    pixel::average_into(*target, *target);
    for (std::size_t k = 0; k < target->rgb.size(); ++k) ASSERT_EQ(target->rgb[k], averaged->rgb[k]) << k;
}

int grey(Rgb t) { return (77 * t.r + 150 * t.g + 29 * t.b) >> 8; }

// On every path, with shapes around the vector pass's 64-row bands and 16-column groups.
class ConvertTo4Path : public ::testing::TestWithParam<simd::Path> {};

TEST_P(ConvertTo4Path, PacksTheTopNibblesColumnByColumnFromByteZero) {
    OMBRIX_SKIP_UNLESS_SUPPORTED(GetParam());
    const simd::PathCap cap(GetParam());
    for (auto [w, h] : {std::pair{4, 3},
                        {3, 3},
                        {1, 7},
                        {37, 21},
                        {5, 301},
                        {2, 256},
                        {3, 130},
                        {48, 130},
                        {70, 64},
                        {33, 129},
                        {16, 192}}) {
        auto image = random_image(w, h, static_cast<std::uint32_t>(w * 100 + h));
        const auto original = testing::copy_of(*image);
        pixel::convert_to_4(*image);
        ASSERT_EQ(image->rgb.size(), original->rgb.size());
        const std::size_t count = original->pixel_count();
        std::vector<std::uint8_t> expected(count * 3, 0);
        std::size_t n = 0;
        for (int x = 0; x < w; ++x) {
            for (int y = 0; y < h; ++y, ++n) {
                const int level = grey(at(*original, x, y));
                if (n % 2 == 0) {
                    expected[n / 2] = static_cast<std::uint8_t>(level & 0xF0);
                } else {
                    expected[n / 2] = static_cast<std::uint8_t>(expected[n / 2] | level >> 4);
                }
            }
        }
        for (std::size_t k = 0; k < expected.size(); ++k)
            ASSERT_EQ(image->rgb[k], expected[k]) << w << "x" << h << " byte " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, ConvertTo4Path, ::testing::ValuesIn(reference::every_path), reference::path_name);

TEST(ConvertTo4, KnownLevels) {
    // Column 0 holds white and red, column 1 blue and grey 0x80: levels 255, 76, 28, 128.
    auto image = image_of(2, 2, {{255, 255, 255}, {0, 0, 255}, {255, 0, 0}, {128, 128, 128}});
    pixel::convert_to_4(*image);
    EXPECT_EQ(image->rgb[0], 0xF4);
    EXPECT_EQ(image->rgb[1], 0x18);
    for (std::size_t k = 2; k < 12; ++k) EXPECT_EQ(image->rgb[k], 0) << k;
    auto empty = make_record(0, 3);
    pixel::convert_to_4(*empty);
    EXPECT_EQ(empty->rgb.size(), 0u);
}

}  // namespace
}  // namespace ombrix
