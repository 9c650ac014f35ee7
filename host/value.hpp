// Script values: a real or a string (or nothing yet, for a variable declared but not assigned),
// and the conversions between them that the script language defines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace ombrix::host {

// The longest string a script can build; joining beyond it is a script error, not an exhausted machine.
inline constexpr std::size_t max_string_bytes = std::size_t{16} << 20;

enum class ValueKind : std::uint8_t { unset, real, string };

struct Value {
    ValueKind kind = ValueKind::unset;
    double real = 0;
    std::string text;

    static Value of(double x) {
        Value v;
        v.kind = ValueKind::real;
        v.real = x;
        return v;
    }
    static Value of(std::string s) {
        Value v;
        v.kind = ValueKind::string;
        v.text = std::move(s);
        return v;
    }
    bool is_real() const { return kind == ValueKind::real; }
    bool is_string() const { return kind == ValueKind::string; }
};

// "real" or "string", for error messages.
const char* kind_name(ValueKind kind);

// How string() and show_debug_message print a real: an integral value without a fraction ("3",
// "-12", "0" also for -0), anything else rounded to two decimals as printf's %.2f does ("1.50",
// "-0.25", "0.00" for 0.001); "nan", "inf" and "-inf" for the IEEE specials.
std::string format_real(double x);

// A real truncated toward zero to 64 bits; NaN, infinities and values outside the range give the
// most negative value, as the x86 conversion does (never undefined behaviour).
constexpr std::int64_t truncate_to_int64(double x) {
    if (!(x > -9223372036854775808.0 - 1.0 && x < 9223372036854775808.0)) return INT64_MIN;
    return static_cast<std::int64_t>(x);
}

// The real a string spells: optional blanks, an optional sign, digits with an optional fraction
// and an optional exponent, optional blanks. Returns false for anything else.
bool parse_real(std::string_view text, double& result);

// Number of characters of a UTF-8 string (bytes that do not continue a sequence).
std::size_t utf8_length(std::string_view text);
// The character with the given code as UTF-8; empty for 0, negative codes, surrogates and codes
// beyond U+10FFFF.
std::string utf8_character(std::int64_t code);
// The code of the first character (a byte that starts no valid sequence counts as itself); 0 for
// the empty string.
std::int64_t utf8_first_code(std::string_view text);

// The character at 1-based position `position` (counted as utf8_length counts), or an empty
// string when the position is below 1 or beyond the last character.
std::string utf8_character_at(std::string_view text, std::int64_t position);

}  // namespace ombrix::host
