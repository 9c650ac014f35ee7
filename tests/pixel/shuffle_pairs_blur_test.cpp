// The pixel-pair shuffle and the four-point blur, against straightforward renderings of their
// definitions (the blur's visiting order is column by column in place).
#include <climits>

#include "pixel/access_support.hpp"
#include "pixel/reference_formulas.hpp"
#include "pixel/shuffle.hpp"
#include "simd/avx512.hpp"
#include "simd/dispatch.hpp"

namespace ombrix {
namespace {

using colour::Rgb;
using testing::at;
using testing::copy_of;
using testing::first_difference;
using testing::image_of;
using testing::random_image;

Rgb inverted(Rgb t) {
    return {static_cast<std::uint8_t>(255 - t.r), static_cast<std::uint8_t>(255 - t.g),
            static_cast<std::uint8_t>(255 - t.b)};
}

void shuffle_reference(ImageRecord& image, int mode) {
    const std::int64_t count = static_cast<std::int64_t>(image.pixel_count());
    auto pixel_at = [&](std::int64_t n) { return at(image, n % image.width, n / image.width); };
    auto put = [&](std::int64_t n, Rgb t) { pixel::pixel_set_rgb(image, n % image.width, n / image.width, t); };
    for (std::int64_t k = 0; 2 * k < count; ++k) {
        const Rgb a = pixel_at(2 * k);
        const bool lone = 2 * k + 1 == count;
        const Rgb b = lone ? Rgb{} : pixel_at(2 * k + 1);
        if (mode == 1) put(2 * k, inverted(a));
        if (lone) continue;
        if (mode == 0) {
            put(2 * k, inverted(b));
            put(2 * k + 1, a);
        } else if (mode == 2) {
            put(2 * k, b);
            put(2 * k + 1, a);
        }
    }
}

TEST(PairShuffle, ModesOnOnePair) {
    const std::pair<int, std::pair<Rgb, Rgb>> cases[] = {
        {2, {{4, 5, 6}, {1, 2, 3}}}, {0, {{251, 250, 249}, {1, 2, 3}}}, {1, {{254, 253, 252}, {4, 5, 6}}},
        {7, {{1, 2, 3}, {4, 5, 6}}}, {-1, {{1, 2, 3}, {4, 5, 6}}},      {INT_MIN, {{1, 2, 3}, {4, 5, 6}}}};
    for (const auto& [mode, expected] : cases) {
        auto image = image_of(2, 1, {{1, 2, 3}, {4, 5, 6}});
        pixel::shuffle_pairs(*image, mode);
        EXPECT_EQ(at(*image, 0, 0), expected.first) << mode;
        EXPECT_EQ(at(*image, 1, 0), expected.second) << mode;
    }
}

TEST(PairShuffle, PairsFollowTheBufferAcrossRowEnds) {
    auto image = random_image(3, 2, 1);
    const auto original = copy_of(*image);
    pixel::shuffle_pairs(*image, 2);
    EXPECT_EQ(at(*image, 2, 0), at(*original, 0, 1));
    EXPECT_EQ(at(*image, 0, 1), at(*original, 2, 0));
}

TEST(PairShuffle, LonePixelIsInvertedOnlyByModeOne) {
    for (int mode : {0, 1, 2}) {
        auto image = random_image(3, 3, 2);
        const auto original = copy_of(*image);
        pixel::shuffle_pairs(*image, mode);
        EXPECT_EQ(at(*image, 2, 2), mode == 1 ? inverted(at(*original, 2, 2)) : at(*original, 2, 2)) << mode;
    }
}

TEST(PairShuffle, MatchesTheDefinitionAndUndoesItself) {
    // Pixel counts on both sides of the four-pair groups, odd and even.
    const std::pair<int, int> shapes[] = {{1, 1}, {2, 1}, {3, 1}, {7, 1}, {8, 1}, {9, 1}, {5, 3}, {33, 17}, {64, 2}};
    std::uint32_t seed = 20;
    for (auto [w, h] : shapes) {
        for (int mode : {0, 1, 2, 3}) {
            auto image = random_image(w, h, ++seed);
            const auto original = copy_of(*image);
            auto expected = copy_of(*image);
            shuffle_reference(*expected, mode);
            pixel::shuffle_pairs(*image, mode);
            ASSERT_EQ(first_difference(*image, *expected), -1) << w << "x" << h << " mode " << mode;
            if (mode == 1 || mode == 2) {
                pixel::shuffle_pairs(*image, mode);
                ASSERT_EQ(first_difference(*image, *original), -1) << w << "x" << h << " mode " << mode;
            }
        }
    }
    auto empty = make_record(0, 0);
    pixel::shuffle_pairs(*empty, 0);
}

std::int64_t clamp(std::int64_t v, std::int64_t size) { return std::clamp<std::int64_t>(v, 0, size - 1); }

void blur_reference(ImageRecord& image, std::int32_t dx, std::int32_t dy) {
    const std::int64_t w = image.width, h = image.height;
    for (std::int64_t x = 0; x < w; ++x) {
        for (std::int64_t y = 0; y < h; ++y) {
            const Rgb p1 = at(image, x, y);
            const Rgb p2 = at(image, clamp(x + dx, w), clamp(y + dy, h));
            const Rgb p3 = at(image, clamp(x + dx, w), y);
            const Rgb p4 = at(image, x, clamp(y + dy, h));
            auto mean = [](int a, int b, int c, int d) { return static_cast<std::uint8_t>((a + b + c + d) >> 2); };
            pixel::pixel_set_rgb(
                image, x, y,
                {mean(p1.r, p2.r, p3.r, p4.r), mean(p1.g, p2.g, p3.g, p4.g), mean(p1.b, p2.b, p3.b, p4.b)});
        }
    }
}

// A random w x h image blurred by the library equals the reference visit; on failure names the
// shape and offsets.
void expect_blur_matches_reference(int w, int h, std::int32_t dx, std::int32_t dy, std::uint32_t seed) {
    auto image = random_image(w, h, seed);
    auto expected = copy_of(*image);
    blur_reference(*expected, dx, dy);
    pixel::blur_four_point(*image, dx, dy);
    ASSERT_EQ(first_difference(*image, *expected), -1) << w << "x" << h << " dx " << dx << " dy " << dy;
}

TEST(FourPointBlur, ZeroOffsetsKeepTheImage) {
    auto image = random_image(9, 7, 3);
    const auto original = copy_of(*image);
    pixel::blur_four_point(*image, 0, 0);
    EXPECT_EQ(first_difference(*image, *original), -1);
}

TEST(FourPointBlur, TheMeanRoundsDown) {
    // Base (0, 0) with offsets 1, 1: P1 (0, 0), P2 (1, 1), P3 (1, 0), P4 (0, 1).
    auto image = image_of(2, 2, {{0, 0, 0}, {2, 2, 2}, {4, 4, 4}, {1, 1, 1}});
    pixel::blur_four_point(*image, 1, 1);
    EXPECT_EQ(at(*image, 0, 0), (Rgb{1, 1, 1}));
}

TEST(FourPointBlur, NegativeOffsetsSeeValuesAlreadyReplaced) {
    // One column with dy = -1: each pixel averages itself with the new value below it.
    auto image = image_of(1, 3, {{100, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    pixel::blur_four_point(*image, 0, -1);
    EXPECT_EQ(at(*image, 0, 0), (Rgb{100, 0, 0}));
    EXPECT_EQ(at(*image, 0, 1), (Rgb{50, 0, 0}));
    EXPECT_EQ(at(*image, 0, 2), (Rgb{25, 0, 0}));
}

TEST(FourPointBlur, MatchesTheColumnByColumnVisitForEveryOffset) {
    const std::pair<int, int> shapes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 3}, {17, 13}, {300, 5}, {600, 3}};
    const std::int32_t offsets[] = {0, 1, -1, 2, -2, 3, -4, 7, -16, 200, -257, 300, -600, INT_MAX, INT_MIN};
    std::uint32_t seed = 30;
    for (auto [w, h] : shapes) {
        for (std::int32_t dx : offsets) {
            for (std::int32_t dy : offsets) {
                if (std::abs(static_cast<std::int64_t>(dy)) > 20 && std::abs(static_cast<std::int64_t>(dy)) < INT_MAX &&
                    dy != 200)
                    continue;  // enough vertical cases; the row visit is about dx
                auto image = random_image(w, h, ++seed);
                auto expected = copy_of(*image);
                blur_reference(*expected, dx, dy);
                auto literal = copy_of(*image);
                pixel::blur_four_point(*image, dx, dy);
                ASSERT_EQ(first_difference(*image, *expected), -1) << w << "x" << h << " dx " << dx << " dy " << dy;
                pixel::blur_four_point_column_order(*literal, dx, dy);
                ASSERT_EQ(first_difference(*literal, *expected), -1) << w << "x" << h << " dx " << dx << " dy " << dy;
            }
        }
    }
    auto empty = make_record(0, 5);
    pixel::blur_four_point(*empty, 1, 1);
}

// The row visits, on every path, on shapes around the sixteen-row bands and 32-column tiles of the
// vector visits with offsets (-1, -1) and (-1, 1): rows and columns just over and under a band or
// a tile, the last row at the buffer's end, and neighbouring offsets that take the other visits.
class FourPointBlurPath : public ::testing::TestWithParam<simd::Path> {};

TEST_P(FourPointBlurPath, MatchesTheColumnByColumnVisitAroundTheBands) {
    OMBRIX_SKIP_UNLESS_SUPPORTED(GetParam());
    const simd::PathCap cap(GetParam());
    const std::pair<int, int> shapes[] = {{32, 16}, {33, 31}, {95, 2}, {64, 1}, {64, 33}, {97, 47}, {200, 61}};
    const std::pair<int, int> offsets[] = {{-1, -1}, {-1, 0}, {-1, -2}, {-2, -1}, {-1, 1}, {1, -1}};
    std::uint32_t seed = 700;
    for (auto [w, h] : shapes) {
        for (auto [dx, dy] : offsets) {
            ASSERT_NO_FATAL_FAILURE(expect_blur_matches_reference(w, h, dx, dy, ++seed));
        }
    }
}

// dx = 1 visits whole rows in place, 64 or 32 bytes at a time, and with dy < 0 saves each row's
// originals into the ring slot it reads its corners from, three bytes behind the reads: rows
// narrower than a vector, one byte either side of a whole number of vectors, heights below, at
// and above |dy|, and the row that samples itself.
TEST_P(FourPointBlurPath, MatchesTheColumnByColumnVisitWithOneColumnToTheRight) {
    OMBRIX_SKIP_UNLESS_SUPPORTED(GetParam());
    const simd::PathCap cap(GetParam());
    const std::pair<int, int> shapes[] = {{1, 4},  {2, 3},  {11, 6},  {22, 5}, {23, 9},
                                          {44, 2}, {45, 7}, {86, 12}, {300, 4}};
    const std::int32_t dys[] = {-1, -2, -3, -5, 0, 1, 2, INT_MIN};
    std::uint32_t seed = 1100;
    for (auto [w, h] : shapes) {
        for (std::int32_t dy : dys) {
            ASSERT_NO_FATAL_FAILURE(expect_blur_matches_reference(w, h, 1, dy, ++seed));
        }
    }
}

// The same around the 64-row bands and 64-byte tiles of the AVX-512 visits: heights that leave
// no rows, one row or a narrower band after them, widths on both sides of the smallest width the
// bands take and with no or few whole tiles inside the row, single rows, rows whose length in
// bytes lies near a multiple of 4096 (the bands then move their tiles in 16-byte pieces), and a
// row too wide for the 16-bit column lanes of the narrower bands.
TEST_P(FourPointBlurPath, MatchesTheColumnByColumnVisitAroundTheWideBands) {
    OMBRIX_SKIP_UNLESS_SUPPORTED(GetParam());
    const simd::Path path = GetParam();
    const simd::PathCap cap(path);
    const std::pair<int, int> shapes[] = {{64, 64},  {65, 65},  {67, 79}, {79, 80}, {80, 127}, {81, 128},
                                          {97, 143}, {143, 66}, {63, 90}, {130, 1}, {64, 2},   {66, 200}};
    const std::pair<int, int> offsets[] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}, {-1, 0}};
    std::uint32_t seed = 900;
    for (auto [w, h] : shapes) {
        for (auto [dx, dy] : offsets) {
            ASSERT_NO_FATAL_FAILURE(expect_blur_matches_reference(w, h, dx, dy, ++seed));
        }
    }
    for (auto [w, h] : {std::pair{1366, 70}, std::pair{4096, 66}, std::pair{32001, 66}}) {
        for (auto [dx, dy] : {std::pair{-1, -1}, std::pair{-1, 1}}) {
            ASSERT_NO_FATAL_FAILURE(expect_blur_matches_reference(w, h, dx, dy, ++seed));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, FourPointBlurPath, ::testing::ValuesIn(reference::every_path),
                         reference::path_name);

OMBRIX_TARGET_AVX512
// Quadruples (a, b, c, d), over every c and d, on which the byte mean differs from the exact one.
std::int64_t byte_mean_mismatches(int a, int b) {
    alignas(64) std::uint8_t d_bytes[256], got[64];
    for (int k = 0; k < 256; ++k) d_bytes[k] = static_cast<std::uint8_t>(k);
    std::int64_t wrong = 0;
    const __m512i va = _mm512_set1_epi8(static_cast<char>(a)), vb = _mm512_set1_epi8(static_cast<char>(b));
    for (int c = 0; c < 256; ++c) {
        const __m512i vc = _mm512_set1_epi8(static_cast<char>(c));
        const __m512i abc = _mm512_set1_epi16(static_cast<short>(a + b + c));
        for (int d0 = 0; d0 < 256; d0 += 64) {
            const __m512i vd = _mm512_load_si512(d_bytes + d0);
            _mm512_store_si512(got, simd::avx512::mean_of_four_u8(va, vb, vc, vd, 0, vd));
            // Each half of the 64 lanes against (a + b + c + d) >> 2 in 16 bits.
            for (int half = 0; half < 64; half += 32) {
                const auto load = [&](const std::uint8_t* p) {
                    return _mm512_cvtepu8_epi16(_mm256_load_si256(reinterpret_cast<const __m256i*>(p + half)));
                };
                const __m512i want = _mm512_srli_epi16(_mm512_add_epi16(abc, load(d_bytes + d0)), 2);
                wrong += __builtin_popcount(_mm512_cmpneq_epi16_mask(load(got), want));
            }
        }
    }
    return wrong;
}
OMBRIX_TARGET_END

// The bands' mean of four bytes, which never widens them, on every quadruple of bytes.
TEST(ByteMeanOfFour, IsTheQuarterRoundedDownForEveryQuadruple) {
    OMBRIX_SKIP_UNLESS_SUPPORTED(simd::Path::avx512);
    std::int64_t wrong = 0;
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) wrong += byte_mean_mismatches(a, b);
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace ombrix
