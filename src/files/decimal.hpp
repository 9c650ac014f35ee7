// Decimal numbers in file headers, read the way the C library's conversions read them: leading
// white space (space, \t, \n, \v, \f, \r), an optional sign, then digits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ombrix::files {

constexpr bool is_space(std::uint8_t c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool is_digit(std::uint8_t c) noexcept { return c >= '0' && c <= '9'; }

// Moves `at` past the white space and the sign in front of a number; true when the sign is '-'.
constexpr bool skip_to_digits(const std::uint8_t* data, std::size_t size, std::size_t& at) noexcept {
    while (at < size && is_space(data[at])) ++at;
    bool negative = false;
    if (at < size && (data[at] == '+' || data[at] == '-')) negative = data[at++] == '-';
    return negative;
}

}  // namespace ombrix::files
