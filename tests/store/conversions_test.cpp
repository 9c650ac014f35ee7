// Host reals become integers by truncation toward zero, and every real has a defined result.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "exports/boundary.hpp"
#include "store/convert.hpp"

namespace ombrix {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

TEST(Conversions, TruncateTowardZero) {
    EXPECT_EQ(to_int32(2.7), 2);
    EXPECT_EQ(to_int32(-0.5), 0);
    EXPECT_EQ(to_int32(-2.9), -2);
    EXPECT_EQ(to_int32(2147483647.9), 2147483647);
    EXPECT_EQ(to_int32(-2147483648.9), -2147483647 - 1);
    EXPECT_EQ(trunc_int64(-1e18), -1000000000000000000);
    EXPECT_EQ(to_image_id(3.9), 3);
}

TEST(Conversions, NanInfinityAndOutOfRangeGiveTheIndefiniteValue) {
    for (double x : {nan, inf, -inf, 2147483648.0, -2147483649.0, 1e300}) {
        EXPECT_EQ(to_int32(x), std::numeric_limits<std::int32_t>::min()) << x;
    }
    for (double x : {nan, inf, -inf, 32768.0, -32769.0}) {
        EXPECT_EQ(to_int16(x), std::numeric_limits<std::int16_t>::min()) << x;
    }
    EXPECT_EQ(trunc_int64(9223372036854775808.0), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(trunc_int64(nan), std::numeric_limits<std::int64_t>::min());
}

TEST(Conversions, UnsignedKeepsTheLow32BitsOf64) {
    EXPECT_EQ(to_uint32(-1), 0xFFFFFFFFu);
    EXPECT_EQ(to_uint32(4294967296.0 + 5), 5u);
    EXPECT_EQ(to_uint32(99.9), 99u);
    EXPECT_EQ(to_uint32(nan), 0u);
    EXPECT_EQ(to_uint32(1e300), 0u);
}

TEST(Conversions, BytesWrapThrough16Bits) {
    EXPECT_EQ(to_byte(256), 0);
    EXPECT_EQ(to_byte(-1), 255);
    EXPECT_EQ(to_byte(255.7), 255);
    EXPECT_EQ(to_byte(300), 44);
    EXPECT_EQ(to_byte(-76.9), 180);
    EXPECT_EQ(to_byte(70000), 0);
    EXPECT_EQ(to_byte(nan), 0);
}

TEST(Conversions, FloatsRoundAndOverflowToInfinity) {
    EXPECT_EQ(to_float(0.1), 0.1f);
    EXPECT_EQ(to_float(1e300), std::numeric_limits<float>::infinity());
    EXPECT_EQ(to_float(-1e300), -std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isnan(to_float(nan)));
    EXPECT_EQ(to_float(static_cast<double>(std::numeric_limits<float>::max())), std::numeric_limits<float>::max());
}

TEST(TableIndices, TruncateTowardZeroAndRefuseAnythingOutsideTheTable) {
    init();  // the refusal carries ILU's text
    constexpr int table[] = {10, 20, 30};
    EXPECT_EQ(entry(table, 0.0), 10);
    EXPECT_EQ(entry(table, 2.9), 30);
    EXPECT_EQ(entry(table, -0.9), 10);  // truncates to 0
    for (double outside : {3.0, -1.0, nan, inf, -inf, 1e300, 4294967296.0}) {
        SCOPED_TRACE(outside);
        EXPECT_EQ(entry(table, outside), std::nullopt);
        try {
            pick(table, outside);
            ADD_FAILURE() << "not refused";
        } catch (const Failure& refusal) {
            EXPECT_EQ(refusal.result, 0);
            EXPECT_STREQ(refusal.text, devil_error_text(il_invalid_param));
        }
    }
    EXPECT_EQ(pick(table, 1.5), 20);
    EXPECT_EQ(require_index(12.99, 13), 12u);
    EXPECT_THROW(require_index(13, 13), Failure);
}

}  // namespace
}  // namespace ombrix
