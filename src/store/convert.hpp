// The one home for turning host reals into the integers and floats the library works with.
// Reals truncate toward zero. A NaN, an infinity or a value outside the target's range gives the
// target's "integer indefinite" value (its most negative value), as x86 conversion instructions
// do, so every conversion is defined and the results match what a 32-bit host build computed.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace ombrix {

constexpr std::int64_t trunc_int64(double x) noexcept {
    // 2^63 is exactly representable; everything in (-2^63 - 1, 2^63) truncates into range.
    if (!(x > -9223372036854775808.0 - 1.0 && x < 9223372036854775808.0))
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(x);
}

constexpr std::int32_t to_int32(double x) noexcept {
    if (!(x > -2147483649.0 && x < 2147483648.0)) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(x);
}

constexpr std::int16_t to_int16(double x) noexcept {
    if (!(x > -32769.0 && x < 32768.0)) return std::numeric_limits<std::int16_t>::min();
    return static_cast<std::int16_t>(x);
}

// Low 32 bits of the value truncated to 64 bits: -1 becomes 0xFFFFFFFF.
constexpr std::uint32_t to_uint32(double x) noexcept {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(trunc_int64(x)));
}

// Low 8 bits of the value truncated to 16 bits: 256 becomes 0, -1 becomes 255, and a value beyond
// the 16-bit range becomes 0 (the low byte of 0x8000).
constexpr std::uint8_t to_byte(double x) noexcept {
    return static_cast<std::uint8_t>(static_cast<std::uint16_t>(to_int16(x)) & 0xFFu);
}

// Rounded to the nearest float; beyond the float range it becomes an infinity of its sign.
constexpr float to_float(double x) noexcept {
    if (x > static_cast<double>(std::numeric_limits<float>::max()) ||
        x < -static_cast<double>(std::numeric_limits<float>::max())) {
        // Values that still round to FLT_MAX would need the exact halfway test; DevIL parameters
        // never care about that last ulp, and an infinity is the IEEE answer beyond it.
        return x > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(x);
}

constexpr std::int32_t to_image_id(double x) noexcept { return to_int32(x); }

}  // namespace ombrix
