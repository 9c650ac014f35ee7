// Script values: a real, a string, an array, undefined (or nothing yet, for a variable declared but
// not assigned), and the conversions between them that the script language defines. Arrays are
// shared by reference, as in current GML: assigning or passing an array hands on the same array.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ombrix::host {

// The longest string a script can build; joining beyond it is a script error, not an exhausted machine.
inline constexpr std::size_t max_string_bytes = std::size_t{16} << 20;

// The longest array a script can make; growing one beyond it is a script error.
inline constexpr std::size_t max_array_length = std::size_t{1} << 24;

enum class ValueKind : std::uint8_t { unset, undefined, real, string, array };

struct ArrayData;

struct Value {
    ValueKind kind = ValueKind::unset;
    double real = 0;
    std::string text;
    std::shared_ptr<ArrayData> array;

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
    static Value undefined() {
        Value v;
        v.kind = ValueKind::undefined;
        return v;
    }
    static Value of(std::shared_ptr<ArrayData> a) {
        Value v;
        v.kind = ValueKind::array;
        v.array = std::move(a);
        return v;
    }
    bool is_real() const { return kind == ValueKind::real; }
    bool is_string() const { return kind == ValueKind::string; }
    bool is_array() const { return kind == ValueKind::array; }
};

struct ArrayData {
    std::vector<Value> items;
};

// GML's == : values of different kinds are never equal; arrays are equal when they are the same array.
bool same_value(const Value& a, const Value& b);

// How string() prints any value: reals as format_real, strings as they are, undefined as
// "undefined", arrays as "[ 1,2,\"a\" ]" (strings inside quoted, nested arrays likewise; an array
// nested more than 32 deep, as one holding itself, prints as "[...]"). Throws ScriptError when the
// text would pass max_string_bytes.
std::string to_text(const Value& v);

// "real", "string", "array" or "undefined", for error messages.
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
