// Conversions between script values: printing reals, reading reals from strings, and the few
// UTF-8 helpers the string built-ins need.
#include "value.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "diagnostic.hpp"

namespace ombrix::host {

const char* kind_name(ValueKind kind) {
    switch (kind) {
        case ValueKind::real:
            return "real";
        case ValueKind::string:
            return "string";
        case ValueKind::array:
            return "array";
        case ValueKind::undefined:
            return "undefined value";
        case ValueKind::unset:
            break;
    }
    return "unset value";
}

std::string format_real(double x) {
    if (std::isnan(x)) return "nan";
    if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
    if (x == 0) return "0";
    char buffer[400];  // %.0f of the largest double has 309 digits
    const char* format = x == std::trunc(x) ? "%.0f" : "%.2f";
    int n = std::snprintf(buffer, sizeof buffer, format, x);
    if (n < 0) return "nan";
    return std::string(buffer, static_cast<std::size_t>(n));
}

bool same_value(const Value& a, const Value& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case ValueKind::real:
            return a.real == b.real;
        case ValueKind::string:
            return a.text == b.text;
        case ValueKind::array:
            return a.array == b.array;
        default:
            return true;
    }
}

namespace {

void append_checked(std::string& out, std::string_view piece) {
    if (out.size() + piece.size() > max_string_bytes)
        throw ScriptError("string longer than " + std::to_string(max_string_bytes >> 20) + " MiB");
    out.append(piece);
}

void append_text(std::string& out, const Value& v, int depth, bool quoted) {
    switch (v.kind) {
        case ValueKind::real:
            append_checked(out, format_real(v.real));
            return;
        case ValueKind::string:
            if (quoted) append_checked(out, "\"");
            append_checked(out, v.text);
            if (quoted) append_checked(out, "\"");
            return;
        case ValueKind::array: {
            if (depth >= 32) {
                append_checked(out, "[...]");
                return;
            }
            append_checked(out, "[ ");
            bool first = true;
            for (const Value& item : v.array->items) {
                if (!first) append_checked(out, ",");
                first = false;
                append_text(out, item, depth + 1, true);
            }
            append_checked(out, " ]");
            return;
        }
        default:
            append_checked(out, "undefined");
    }
}

}  // namespace

std::string to_text(const Value& v) {
    if (v.is_string()) return v.text;
    std::string out;
    append_text(out, v, 0, false);
    return out;
}

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool parse_real(std::string_view text, double& result) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // Check the shape ourselves: from_chars alone would also take "inf", "nan" and hex floats.
    std::size_t i = 0, digits = 0;
    while (i < text.size() && is_digit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && is_digit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        if (j == text.size() || !is_digit(text[j])) return false;
        while (j < text.size() && is_digit(text[j])) ++j;
        i = j;
    }
    if (i != text.size()) return false;
    // The shape is checked, so strtod reads all of it (the runner never changes the C locale);
    // it turns overflow into an infinity and underflow into zero.
    double value = std::strtod(std::string(text).c_str(), nullptr);
    result = negative ? -value : value;
    return true;
}

std::size_t utf8_length(std::string_view text) {
    std::size_t n = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

std::string utf8_character(std::int64_t code) {
    std::string s;
    if (code <= 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return s;
    auto c = static_cast<std::uint32_t>(code);
    auto byte = [&](std::uint32_t b) { s.push_back(static_cast<char>(static_cast<unsigned char>(b))); };
    if (c < 0x80) {
        byte(c);
    } else if (c < 0x800) {
        byte(0xC0 | (c >> 6));
        byte(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        byte(0xE0 | (c >> 12));
        byte(0x80 | ((c >> 6) & 0x3F));
        byte(0x80 | (c & 0x3F));
    } else {
        byte(0xF0 | (c >> 18));
        byte(0x80 | ((c >> 12) & 0x3F));
        byte(0x80 | ((c >> 6) & 0x3F));
        byte(0x80 | (c & 0x3F));
    }
    return s;
}

std::string utf8_character_at(std::string_view text, std::int64_t position) {
    if (position < 1) return {};
    std::int64_t seen = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        bool boundary = i == text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (!boundary) continue;
        if (seen == position) return std::string(text.substr(start, i - start));
        ++seen;
        start = i;
    }
    return {};
}

std::int64_t utf8_first_code(std::string_view text) {
    if (text.empty()) return 0;
    auto at = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(text[i])); };
    std::uint32_t lead = at(0);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
    if (length <= 1 || length > text.size()) return lead;
    std::uint32_t code = lead & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((at(i) & 0xC0) != 0x80) return lead;
        code = (code << 6) | (at(i) & 0x3F);
    }
    return code;
}

}  // namespace ombrix::host
