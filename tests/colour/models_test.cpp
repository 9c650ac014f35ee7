// The colour arithmetic against values worked out by hand from its formulas.
#include "colour/models.hpp"

#include <gtest/gtest.h>

#include <climits>

namespace ombrix::colour {
namespace {

TEST(Hsv, BlackWhiteAndTheWrapOfANegativeRedHue) {
    const UnitHsv black = rgb_to_hsv(0, 0, 0);
    EXPECT_EQ(black.hue, 0);
    EXPECT_EQ(black.saturation, 0);
    EXPECT_EQ(black.value, 0);
    const UnitHsv white = rgb_to_hsv(255, 255, 255);
    EXPECT_EQ(white.hue, 0);
    EXPECT_EQ(white.saturation, 0);
    EXPECT_EQ(white.value, 1);
    // h = (0 - 1/255) / 1 is negative: hue = h / 6 + 1.
    EXPECT_NEAR(rgb_to_hsv(255, 0, 1).hue, 1 - 1.0 / 255 / 6, 1e-12);
    EXPECT_NEAR(rgb_to_hsv(255, 0, 1).hue, 0.99935, 1e-5);
}

TEST(Hsv, ComponentBytes) {
    EXPECT_EQ(rgb_hue_byte(255, 0, 0), 0);
    EXPECT_EQ(rgb_hue_byte(0, 255, 0), 85);
    EXPECT_EQ(rgb_hue_byte(0, 0, 255), 170);
    EXPECT_EQ(rgb_hue_byte(255, 0, 1), 255);  // 0.99935 × 255.999 = 255.83
    // Green largest: (2 + 40/190) / 6 × 255.999 = 94.3; saturation 190/200 × 255.999 = 243.2.
    EXPECT_EQ(rgb_hue_byte(10, 200, 50), 94);
    EXPECT_EQ(rgb_saturation_byte(10, 200, 50), 243);
    EXPECT_EQ(rgb_saturation_byte(255, 0, 0), 255);
    EXPECT_EQ(rgb_saturation_byte(77, 77, 77), 0);
    EXPECT_EQ(rgb_hue_byte(77, 77, 77), 0);
}

TEST(Hsv, ValueByteIsTheLargestChannelForEveryColour) {
    // The value depends only on the largest byte, wherever it sits.
    for (int mx = 0; mx < 256; ++mx)
        for (int other = 0; other <= mx; other += 5) {
            const auto m = static_cast<byte>(mx), o = static_cast<byte>(other);
            ASSERT_EQ(rgb_value_byte(m, o, o), mx);
            ASSERT_EQ(rgb_value_byte(o, m, o), mx);
            ASSERT_EQ(rgb_value_byte(o, o, m), mx);
        }
}

TEST(Hsv, UnitRealsToBytes) {
    EXPECT_EQ(hsv_unit_to_rgb(1, 1, 1), hsv_unit_to_rgb(0, 1, 1));
    EXPECT_EQ(hsv_unit_to_rgb(0, 1, 1), (Rgb{255, 0, 0}));
    EXPECT_EQ(hsv_unit_to_rgb(0.5, 1, 1), (Rgb{0, 255, 255}));  // sector 3, f = 0: (p, q, v)
    // Sector 1 with f = 0.5: (q, v, p) = (v(1 - s/2), v, v(1 - s)).
    EXPECT_EQ(hsv_unit_to_rgb(0.25, 0.5, 1), (Rgb{191, 255, 128}));
    // Saturation 0: three equal bytes trunc(v × 255 + 0.5), whatever the hue.
    EXPECT_EQ(hsv_unit_to_rgb(0.7, 0, 0.5), (Rgb{128, 128, 128}));
    EXPECT_EQ(hsv_unit_to_rgb(0.7, 0, 0.2), (Rgb{51, 51, 51}));
    // No sector for hue 2: the unit reals themselves become the channels (510.5 keeps 254).
    EXPECT_EQ(hsv_unit_to_rgb(2, 0.5, 0.25), (Rgb{254, 128, 64}));
}

TEST(Hsv, BytesToColourWithWholeDegrees) {
    EXPECT_EQ(hsv_byte_to_rgb(255, 255, 255), (Rgb{255, 0, 0}));  // 360 degrees is 0
    EXPECT_EQ(hsv_byte_to_rgb(0, 255, 255), (Rgb{255, 0, 0}));
    for (int h : {0, 17, 200, 255}) EXPECT_EQ(hsv_byte_to_rgb(h, 0, 77), (Rgb{77, 77, 77}));
    EXPECT_EQ(hsv_byte_to_rgb(0, 0, 300), (Rgb{44, 44, 44}));  // the value's low 8 bits
    // Hue 85 is 120 degrees, 170 is 240: pure green and blue.
    EXPECT_EQ(hsv_byte_to_rgb(85, 255, 255), (Rgb{0, 255, 0}));
    EXPECT_EQ(hsv_byte_to_rgb(170, 255, 255), (Rgb{0, 0, 255}));
    // 30 degrees (hue 21.25 → 21 gives trunc(29.6) = 29 degrees): h = 29/60, sector 0, (V, T, P).
    EXPECT_EQ(hsv_byte_to_rgb(21, 255, 255), (Rgb{255, 123, 0}));
}

TEST(Hsv, HuesOutsideTheByteRangeWrapByWholeTurns) {
    EXPECT_EQ(hsv_byte_to_rgb(510, 255, 255), (Rgb{255, 0, 0}));  // 720 degrees
    EXPECT_EQ(hsv_byte_to_rgb(-85, 255, 255), (Rgb{0, 0, 255}));  // -120 degrees = 240
    EXPECT_EQ(hsv_byte_to_rgb(340, 255, 255), (Rgb{0, 255, 0}));  // 480 degrees = 120
    // Extreme 32-bit inputs still land in a sector; channels beyond 32 bits keep 0.
    EXPECT_EQ(hsv_byte_to_rgb(INT_MIN, INT_MIN, INT_MAX), (Rgb{0, 255, 255}));
    EXPECT_EQ(hsv_byte_to_rgb(INT_MAX, INT_MAX, INT_MIN), (Rgb{0, 1, 0}));
}

TEST(Hsl, ComponentsOnTheByteScale) {
    const ByteHsl red = rgb_to_hsl_byte(255, 0, 0);
    EXPECT_EQ(red.hue, 0);
    EXPECT_EQ(red.saturation, 255);
    EXPECT_EQ(red.lightness, 128);  // 127.5 rounds up
    // Light yellow: L = 227.5 >= 128, so S = 55 × 255 / (511 - 455) = 250.4 (510 would give 255).
    const ByteHsl light = rgb_to_hsl_byte(255, 255, 200);
    EXPECT_EQ(light.hue, 43);  // red first: (255 - 200) / 55 = 1, × 42.5
    EXPECT_EQ(light.saturation, 250);
    EXPECT_EQ(light.lightness, 228);
    // Red largest with blue above green: a negative hue gets 255 added.
    EXPECT_EQ(rgb_to_hsl_byte(255, 0, 51).hue, 247);  // -0.2 × 42.5 + 255 = 246.5
    EXPECT_EQ(rgb_lightness_byte(10, 200, 50), 105);
    EXPECT_EQ(rgb_lightness_byte(0, 0, 0), 0);
}

TEST(Hwb, HueWhitenessBlackness) {
    EXPECT_EQ(rgb_to_hwb(0.4f, 0.4f, 0.4f).hue, -1);
    EXPECT_EQ(rgb_to_hwb(1, 0, 0).hue, 6);  // green is the smallest: 5 - (0 - 1) / 1
    EXPECT_EQ(rgb_to_hwb(0, 1, 0).hue, 2);
    EXPECT_EQ(rgb_to_hwb(0, 0, 1).hue, 4);
    const Hwb mixed = rgb_to_hwb(0.2f, 0.8f, 0.5f);  // red smallest: 3 - (0.8 - 0.5) / 0.6
    EXPECT_FLOAT_EQ(mixed.hue, 2.5f);
    EXPECT_FLOAT_EQ(mixed.whiteness, 0.2f);
    EXPECT_FLOAT_EQ(mixed.blackness, 0.2f);
}

TEST(Hwb, BackToRgbRecoversTheColour) {
    const float colours[][3] = {{1, 0, 0},          {0, 1, 0},          {0, 0, 1},
                                {0.2f, 0.8f, 0.5f}, {0.9f, 0.3f, 0.6f}, {0.5f, 0.5f, 0.5f}};
    for (const auto& c : colours) {
        float r = -9, g = -9, b = -9;
        ASSERT_TRUE(hwb_to_rgb(rgb_to_hwb(c[0], c[1], c[2]), r, g, b));
        EXPECT_NEAR(r, c[0], 1e-6);
        EXPECT_NEAR(g, c[1], 1e-6);
        EXPECT_NEAR(b, c[2], 1e-6);
    }
    float r = -9, g = -9, b = -9;
    EXPECT_FALSE(hwb_to_rgb({7.5f, 0.1f, 0.1f}, r, g, b));
    EXPECT_FALSE(hwb_to_rgb({-3e38f, 0.1f, 0.1f}, r, g, b));
    EXPECT_EQ(r, -9);  // left unwritten
}

TEST(Hwb, Distance) {
    // Two greys: only whiteness and blackness count.
    const double w = (100 - 200) / 255.0;
    EXPECT_NEAR(hwb_distance(100, 100, 100, 200, 200, 200), 2 * w * w, 1e-6);
    EXPECT_NEAR(hwb_distance(100, 100, 100, 255, 0, 0), (100 / 255.0) * (100 / 255.0) + (155 / 255.0) * (155 / 255.0),
                1e-6);
    EXPECT_EQ(hwb_distance(255, 0, 0, 0, 0, 255), 4);  // hues 6 and 4
    EXPECT_EQ(hwb_distance(255, 0, 0, 0, 255, 0), 4);  // hues 6 and 2: 4 sectors apart is 2 the other way
    // Hues 2.5 and 4: the difference -1.5 truncates to 1 sector.
    const double d = hwb_distance(51, 204, 128, 0, 0, 255);
    const Hwb a = rgb_to_hwb(51 / 255.0f, 204 / 255.0f, 128 / 255.0f);
    EXPECT_NEAR(d, 1 + a.whiteness * a.whiteness + a.blackness * a.blackness, 1e-6);
}

TEST(Grey, AverageOfThePackedChannels) {
    EXPECT_EQ(rgb_grey_average(0x0000FF), 0x555555);
    EXPECT_EQ(rgb_grey_average(0x020101), 0x010101);
    EXPECT_EQ(rgb_grey_average(0xFFFFFF), 0xFFFFFF);
    EXPECT_EQ(rgb_grey_average(0x7F000000FFLL), 0x555555);  // bits above 23 ignored
}

TEST(Cmyk, SplitWithPullout) {
    const auto same = [](Cmyk a, Cmyk b) { return a.c == b.c && a.m == b.m && a.y == b.y && a.k == b.k; };
    EXPECT_TRUE(same(rgb_to_cmyk(0, 0, 0, 100), {0, 0, 0, 255}));
    EXPECT_TRUE(same(rgb_to_cmyk(0, 0, 0, 50), {254, 254, 254, 127}));  // 128 × 256 / 129
    EXPECT_TRUE(same(rgb_to_cmyk(0, 0, 0, 0), {255, 255, 255, 0}));
    EXPECT_TRUE(same(rgb_to_cmyk(0, 0, 0, 150), {0, 0, 0, 255}));     // above 100 is full pull-out
    EXPECT_TRUE(same(rgb_to_cmyk(0, 0, 0, -5), {255, 255, 255, 0}));  // negative: none
    EXPECT_TRUE(same(rgb_to_cmyk(0, 0, 0, INT_MIN), {255, 255, 255, 0}));
    EXPECT_TRUE(same(rgb_to_cmyk(255, 0, 0, 100), {0, 255, 255, 0}));
    // c, m, y = 245, 55, 205; k = 55; C = 190 × 256 / 201, Y = 150 × 256 / 201.
    EXPECT_TRUE(same(rgb_to_cmyk(10, 200, 50, 100), {241, 0, 191, 55}));
}

TEST(Cmyk, ToRgbWithoutClamping) {
    EXPECT_EQ(cmyk_to_rgb(0, 0, 0, 0), (Rgb32{255, 255, 255}));
    for (int c : {0, 1, 128, 255}) EXPECT_EQ(cmyk_to_rgb(c, 255 - c, 77, 255), (Rgb32{0, 0, 0}));
    // (206 × 100 >> 8) + 50 = 130; (206 × 0 >> 8) + 50 = 50.
    EXPECT_EQ(cmyk_to_rgb(100, 0, 0, 50), (Rgb32{125, 205, 205}));
    EXPECT_EQ(cmyk_to_rgb(300, 0, 0, 0), (Rgb32{-45, 255, 255}));
    // The shift is arithmetic: 255 × -100 = -25500, >> 8 is -100.
    EXPECT_EQ(cmyk_to_rgb(-100, 0, 0, 1).r, 255 - (-100 + 1));
    // 32-bit wrap-around instead of overflow.
    EXPECT_EQ(cmyk_to_rgb(INT_MIN, 0, 0, 0).r, static_cast<std::int32_t>(255u + 0x80000000u));
    EXPECT_EQ(cmyk_to_rgb(INT_MAX, INT_MIN, 7, INT_MIN), (Rgb32{2139095296, -2147483393, -2139094792}));
    EXPECT_EQ(cmyk_to_rgb(INT_MAX, INT_MIN, INT_MAX, INT_MAX), (Rgb32{-2147483390, -2139094784, -2147483390}));
    EXPECT_EQ(cmyk_to_rgb(INT_MIN, INT_MAX, -1, -1), (Rgb32{8388864, -8388350, 258}));
}

TEST(Cmyk, BytesWrapModulo256) {
    EXPECT_EQ(cmyk_bytes_to_rgb(200, 0, 0, 100), (Rgb{211, 155, 155}));
    EXPECT_EQ(cmyk_bytes_to_rgb(0, 0, 0, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(cmyk_bytes_to_rgb(10, 20, 30, 40), (Rgb{205, 195, 185}));
}

TEST(Lab, BytesToRgbWithClamps) {
    EXPECT_EQ(lab_bytes_to_rgb(255, 128, 128), (Rgb{255, 255, 255}));
    EXPECT_EQ(lab_bytes_to_rgb(128, 128, 128), (Rgb{47, 47, 47}));
    EXPECT_EQ(lab_bytes_to_rgb(0, 128, 128), (Rgb{0, 0, 0}));
    // Below the threshold (L* byte 10: fy^3 = 0.0069) the cube root of Y = L / 903.3 stands in for
    // fy and the a and b terms are divided by 7.787.
    EXPECT_EQ(lab_bytes_to_rgb(10, 128, 128), (Rgb{1, 1, 1}));
    EXPECT_EQ(lab_bytes_to_rgb(10, 200, 60), (Rgb{1, 0, 2}));
    // A strong a* turns green below 0 (clamped); a strong b* turns blue above 1.
    EXPECT_EQ(lab_bytes_to_rgb(128, 255, 128), (Rgb{250, 0, 52}));
    EXPECT_EQ(lab_bytes_to_rgb(200, 100, 50), (Rgb{0, 167, 255}));
}

TEST(Ycbcr, FixedPointToRgbClamped) {
    for (const YcbcrCoefficients* k : {&ycbcr470, &ycbcr709}) {
        EXPECT_EQ(ycbcr_bytes_to_rgb(0, 128, 128, *k), (Rgb{0, 0, 0}));
        EXPECT_EQ(ycbcr_bytes_to_rgb(235, 128, 128, *k), (Rgb{188, 188, 188}));
        EXPECT_EQ(ycbcr_bytes_to_rgb(16, 128, 128, *k), (Rgb{0, 0, 0}));
        EXPECT_EQ(ycbcr_bytes_to_rgb(255, 128, 255, *k).r, 255);
    }
    // y = 110 × 56284; red + 80723 × 100; green - 19896 × (-28) - 41133 × 100; blue + 101954 × (-28).
    EXPECT_EQ(ycbcr_bytes_to_rgb(126, 100, 228, ycbcr470), (Rgb{218, 40, 51}));
}

}  // namespace
}  // namespace ombrix::colour
