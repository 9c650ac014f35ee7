// The mosaic, against a pixel-by-pixel rendering of its definition: blocks visited column of blocks
// by column of blocks, each centre read before its block is written, every write clamped.
#include <climits>
#include <cmath>
#include <limits>

#include "pixel/access_support.hpp"
#include "pixel/mosaic.hpp"
#include "store/convert.hpp"

namespace ombrix {
namespace {

using colour::Rgb;
using testing::at;
using testing::copy_of;
using testing::first_difference;
using testing::random_image;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

void mosaic_reference(ImageRecord& image, double size, double border, double red) {
    const std::int64_t w = image.width, h = image.height;
    if (w <= 0) return;
    const std::int64_t s = to_int32(size), b = to_int32(border);
    const double half = size * 0.5;
    const Rgb frame{to_byte(red), 0, 0};
    for (std::int64_t bx = 0; bx < w; bx += s) {
        for (std::int64_t by = 0; by < h; by += s) {
            const std::int64_t cx = std::min(trunc_int64(static_cast<double>(bx) + half), w - 1);
            const std::int64_t cy = std::min(trunc_int64(static_cast<double>(by) + half), h - 1);
            const Rgb centre = at(image, cx, cy);
            for (std::int64_t j = 0; j < s; ++j) {
                for (std::int64_t i = 0; i < s; ++i) {
                    const bool edge = i <= b || j <= b || i >= s - b || j >= s - b;
                    pixel::pixel_set_rgb(image, bx + i, by + j, edge ? frame : centre);
                }
            }
        }
    }
}

void mosaic(ImageRecord& image, double size, double border, double red) {
    pixel::mosaic(image, to_int32(size), size * 0.5, to_int32(border), to_byte(red));
}

TEST(Mosaic, MatchesThePixelByPixelDefinition) {
    // Whole and partial blocks, sizes beyond the image, and borders from none to all frame.
    const std::pair<int, int> shapes[] = {{10, 10}, {17, 9}, {9, 23}, {1, 1}, {1, 13}, {13, 1}, {40, 33}};
    const double sizes[] = {1, 2, 3, 4.9, 5, 5.5, 7, 8, 16, 39, 40, 41, 100};
    const double borders[] = {-5, -1, 0, 0.7, 1, 2, 3, 6, 20, 200};
    std::uint32_t seed = 100;
    for (auto [w, h] : shapes) {
        for (double size : sizes) {
            for (double border : borders) {
                auto image = random_image(w, h, ++seed);
                auto expected = copy_of(*image);
                mosaic_reference(*expected, size, border, 300);
                mosaic(*image, size, border, 300);
                ASSERT_EQ(first_difference(*image, *expected), -1)
                    << w << "x" << h << " size " << size << " border " << border;
            }
        }
    }
}

TEST(Mosaic, SizeOneCopiesOrFramesEveryPixel) {
    auto image = random_image(6, 5, 1);
    const auto original = copy_of(*image);
    mosaic(*image, 1, -1, 99);
    EXPECT_EQ(first_difference(*image, *original), -1);
    for (double border : {0.0, 1.0, 1e9}) {
        auto framed = copy_of(*original);
        mosaic(*framed, 1, border, 99);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) ASSERT_EQ(at(*framed, x, y), (Rgb{99, 0, 0}));
    }
}

TEST(Mosaic, BorderRedIsTheLowByteOfASixteenBitLevel) {
    for (auto [red, level] : {std::pair{300.0, 44}, {70000.0, 0}, {-1.0, 255}, {255.9, 255}, {nan, 0}, {-32768.0, 0}}) {
        auto image = random_image(3, 3, 2);
        mosaic(*image, 3, 0, red);
        EXPECT_EQ(at(*image, 0, 0), (Rgb{static_cast<std::uint8_t>(level), 0, 0})) << red;
    }
}

TEST(Mosaic, FourBlocksTakeTheirCentreColours) {
    auto image = random_image(10, 10, 3);
    const auto original = copy_of(*image);
    mosaic(*image, 5, -1, 0);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            const int bx = x / 5 * 5, by = y / 5 * 5;
            ASSERT_EQ(at(*image, x, y), at(*original, bx + 2, by + 2)) << x << "," << y;
        }
    }
}

TEST(Mosaic, FrameStripsAreBorderPlusOneWideAtTopLeftAndBorderWideAtBottomRight) {
    auto image = random_image(8, 8, 4);
    const Rgb centre = at(*image, 4, 4);
    mosaic(*image, 8, 1, 200);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && x <= 6 && y >= 2 && y <= 6;
            ASSERT_EQ(at(*image, x, y), inside ? centre : (Rgb{200, 0, 0})) << x << "," << y;
        }
    }
}

TEST(Mosaic, APartialBlockTakesItsCentreAtTheEdgeAndItsLastColumnFromOffsetSizeMinusOne) {
    // 5 wide with blocks of 4: the second block is one column, sampled at column 4 (6 clamped); with
    // border 1 its only column stands for i = 3, which is frame.
    auto image = random_image(5, 4, 5);
    const Rgb edge_centre = at(*image, 4, 2);
    auto plain = copy_of(*image);
    mosaic(*plain, 4, -1, 0);
    for (int y = 0; y < 4; ++y) EXPECT_EQ(at(*plain, 4, y), edge_centre);
    mosaic(*image, 4, 1, 50);
    for (int y = 0; y < 4; ++y) EXPECT_EQ(at(*image, 4, y), (Rgb{50, 0, 0}));
    // Border 0 frames only i = 0, so the last column of the first block (i = 3) keeps the centre.
    auto thin = random_image(4, 4, 6);
    const Rgb centre = at(*thin, 2, 2);
    mosaic(*thin, 4, 0, 50);
    EXPECT_EQ(at(*thin, 3, 3), centre);
    EXPECT_EQ(at(*thin, 0, 3), (Rgb{50, 0, 0}));
}

TEST(Mosaic, HostileSizesAndBordersReturnWithoutLooping) {
    auto image = random_image(7, 5, 7);
    const auto original = copy_of(*image);
    for (double size : {0.0, 0.99, -5.0, nan, inf, -inf, 1e300, 2147483648.0}) {
        mosaic(*image, size, 1, 10);
        ASSERT_EQ(first_difference(*image, *original), -1) << size;
    }
    // One block far larger than the image: the centre clamps to the last pixel, all writes clamp.
    for (double border : {-1.0, nan, 1e300, -1e300, 2147483647.0}) {
        auto big = copy_of(*original);
        auto expected = copy_of(*original);
        mosaic(*big, 2147483647.0, border, 10);
        // A border of 2^31 - 1 frames every offset; a negative one (NaN and ±1e300 count as -2^31)
        // frames none.
        const bool framed_everywhere = to_int32(border) >= 0;
        const Rgb centre = at(*original, 6, 4);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x)
                pixel::pixel_set_rgb(*expected, x, y, framed_everywhere ? Rgb{10, 0, 0} : centre);
        ASSERT_EQ(first_difference(*big, *expected), -1) << border;
    }
    auto empty = make_record(0, 4);
    mosaic(*empty, 4, 1, 0);
    auto flat = make_record(4, 0);
    mosaic(*flat, 4, 1, 0);
}

}  // namespace
}  // namespace ombrix
