// The colour-sequence test pattern against its three stepping counters.
#include "pixel/access_support.hpp"
#include "pixel/pattern.hpp"
#include "pixel/reference_formulas.hpp"
#include "simd/dispatch.hpp"

namespace ombrix {
namespace {

using colour::Rgb;
using testing::at;
using testing::random_image;

// The counters exactly as they step, writing column by column.
void sequence_reference(ImageRecord& image) {
    std::uint8_t r = 0, g = 0, b = 0;
    for (std::int32_t x = 0; x < image.width; ++x) {
        for (std::int32_t y = 0; y < image.height; ++y) {
            const Rgb t{r, g, b};
            r = static_cast<std::uint8_t>(r + 1);
            if (r == 255) {
                g = static_cast<std::uint8_t>(g + 5);
                r = 0;
            }
            if (g == 255) {
                g = 0;
                b = static_cast<std::uint8_t>(b + 1);
            }
            if (b == 255) b = 0;
            pixel::pixel_set_rgb(image, x, y, t);
        }
    }
}

TEST(ColourSequence, OneColumnAndOneRowRunThroughRedThenGreen) {
    auto column = random_image(1, 300, 1);
    pixel::fill_colour_sequence(*column);
    EXPECT_EQ(at(*column, 0, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(at(*column, 0, 254), (Rgb{254, 0, 0}));
    EXPECT_EQ(at(*column, 0, 255), (Rgb{0, 5, 0}));
    EXPECT_EQ(at(*column, 0, 299), (Rgb{44, 5, 0}));
    auto row = random_image(300, 1, 2);
    pixel::fill_colour_sequence(*row);
    EXPECT_EQ(at(*row, 254, 0), (Rgb{254, 0, 0}));
    EXPECT_EQ(at(*row, 255, 0), (Rgb{0, 5, 0}));
    EXPECT_EQ(at(*row, 299, 0), (Rgb{44, 5, 0}));
}

TEST(ColourSequence, RunsDownEachColumnFirst) {
    auto image = random_image(2, 2, 3);
    pixel::fill_colour_sequence(*image);
    EXPECT_EQ(at(*image, 0, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(at(*image, 0, 1), (Rgb{1, 0, 0}));
    EXPECT_EQ(at(*image, 1, 0), (Rgb{2, 0, 0}));
    EXPECT_EQ(at(*image, 1, 1), (Rgb{3, 0, 0}));
}

TEST(ColourSequence, BlueStepsWhenGreenWraps) {
    // Pixel 13005 of a 3 x 5000 image is (2, 3005); blue wraps back to 0 after 254.
    auto image = random_image(3, 5000, 4);
    pixel::fill_colour_sequence(*image);
    EXPECT_EQ(at(*image, 2, 3004), (Rgb{254, 250, 0}));
    EXPECT_EQ(at(*image, 2, 3005), (Rgb{0, 0, 1}));
    auto long_column = make_record(1, 3316276);
    pixel::fill_colour_sequence(*long_column);
    EXPECT_EQ(at(*long_column, 0, 3316274), (Rgb{254, 250, 254}));
    EXPECT_EQ(at(*long_column, 0, 3316275), (Rgb{0, 0, 0}));
}

class ColourSequencePath : public ::testing::TestWithParam<simd::Path> {};

TEST_P(ColourSequencePath, MatchesTheSteppingCountersOnAnyShape) {
    OMBRIX_SKIP_UNLESS_SUPPORTED(GetParam());
    const simd::PathCap cap(GetParam());
    // Heights around the band size and the counters' periods, widths that carry across wraps and
    // around the vector pass's 32-pixel blocks.
    const std::pair<int, int> shapes[] = {{1, 1},     {7, 15},   {5, 16}, {9, 17},  {300, 33},   {70, 255}, {61, 256},
                                          {3, 13006}, {2000, 7}, {32, 3}, {95, 64}, {64, 13005}, {33, 3316}};
    std::uint32_t seed = 10;
    for (auto [w, h] : shapes) {
        auto image = random_image(w, h, ++seed);
        auto expected = testing::copy_of(*image);
        sequence_reference(*expected);
        pixel::fill_colour_sequence(*image);
        ASSERT_EQ(testing::first_difference(*image, *expected), -1) << w << "x" << h;
        // A second call starts again at black and writes the same pattern.
        pixel::fill_colour_sequence(*image);
        ASSERT_EQ(testing::first_difference(*image, *expected), -1) << w << "x" << h;
    }
    auto empty = make_record(0, 9);
    pixel::fill_colour_sequence(*empty);
}

INSTANTIATE_TEST_SUITE_P(EveryPath, ColourSequencePath, ::testing::ValuesIn(reference::every_path),
                         reference::path_name);

}  // namespace
}  // namespace ombrix
