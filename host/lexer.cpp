// The lexer: a hand-written byte loop. Numbers are decimal (1, 1.5, .5, 1., 1e3, 2.5E-2),
// hexadecimal ($FF, 0xFF) or colours (#RRGGBB, read as the packed colour red + 256 green + 65536
// blue); strings are in double or single quotes with the escapes \n \t \r \" \' \\ (any other
// backslash stays as written); comments are // to the end of the line and /* ... */.
#include "lexer.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace ombrix::host {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_name_char(char c) { return is_name_start(c) || is_digit(c); }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct Keyword {
    std::string_view spelling;
    Tok kind;
};

constexpr Keyword keywords[] = {
    {"var", Tok::kw_var},           {"if", Tok::kw_if},
    {"then", Tok::kw_then},         {"else", Tok::kw_else},
    {"while", Tok::kw_while},       {"do", Tok::kw_do},
    {"until", Tok::kw_until},       {"for", Tok::kw_for},
    {"repeat", Tok::kw_repeat},     {"break", Tok::kw_break},
    {"continue", Tok::kw_continue}, {"exit", Tok::kw_exit},
    {"begin", Tok::kw_begin},       {"end", Tok::kw_end},
    {"true", Tok::kw_true},         {"false", Tok::kw_false},
    {"div", Tok::kw_div},           {"mod", Tok::kw_mod},
    {"and", Tok::kw_and},           {"or", Tok::kw_or},
    {"xor", Tok::kw_xor},           {"not", Tok::kw_not},
    {"switch", Tok::kw_switch},     {"case", Tok::kw_case},
    {"default", Tok::kw_default},   {"function", Tok::kw_function},
    {"return", Tok::kw_return},     {"globalvar", Tok::kw_globalvar},
    {"enum", Tok::kw_enum},         {"with", Tok::kw_with},
};

Tok keyword_or_identifier(std::string_view name) {
    // Keywords are 2 to 9 letters; most names in long scripts are longer and skip the scan.
    if (name.size() <= 9)
        for (const Keyword& k : keywords)
            if (k.spelling == name) return k.kind;
    return Tok::identifier;
}

}  // namespace

std::string describe(const Token& token) {
    switch (token.kind) {
        case Tok::end_of_file:
            return "end of file";
        case Tok::number:
            return "number " + std::string(token.text);
        case Tok::string:
            return "string " + std::string(token.text);
        case Tok::macro_definition:
            return "#macro";
        default:
            return "'" + std::string(token.text) + "'";
    }
}

void Lexer::fail(SourcePos pos, std::string message) const { throw ScriptError(pos, std::move(message)); }

void Lexer::skip_blanks_and_comments() {
    const std::size_t size = source_.size();
    while (offset_ < size) {
        char c = source_[offset_];
        if (c == '\n') {
            ++offset_;
            ++line_;
            line_start_ = offset_;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v' ||
                   (c == '\\' && offset_ + 1 < size &&
                    (source_[offset_ + 1] == '\n' || source_[offset_ + 1] == '\r'))) {
            ++offset_;
        } else if (c == '/' && offset_ + 1 < size && source_[offset_ + 1] == '/') {
            while (offset_ < size && source_[offset_] != '\n') ++offset_;
        } else if (c == '/' && offset_ + 1 < size && source_[offset_ + 1] == '*') {
            SourcePos start = here();
            offset_ += 2;
            for (;;) {
                if (offset_ + 1 >= size) fail(start, "unterminated comment");
                if (source_[offset_] == '*' && source_[offset_ + 1] == '/') break;
                if (source_[offset_] == '\n') {
                    ++line_;
                    line_start_ = offset_ + 1;
                }
                ++offset_;
            }
            offset_ += 2;
        } else {
            return;
        }
    }
}

Token Lexer::next() {
    skip_blanks_and_comments();
    Token token;
    token.pos = here();
    const std::size_t start = offset_;
    const std::size_t size = source_.size();
    if (offset_ >= size) return token;

    char c = source_[offset_];
    auto peek = [&](std::size_t ahead) { return offset_ + ahead < size ? source_[offset_ + ahead] : '\0'; };
    auto punct = [&](Tok kind, std::size_t length) {
        token.kind = kind;
        offset_ += length;
    };

    if (is_name_start(c)) {
        while (offset_ < size && is_name_char(source_[offset_])) ++offset_;
        token.text = source_.substr(start, offset_ - start);
        token.kind = keyword_or_identifier(token.text);
        return token;
    }
    if (is_digit(c) || (c == '.' && is_digit(peek(1)))) {
        if (c == '0' && (peek(1) == 'x' || peek(1) == 'X')) {
            lex_hex(token, offset_ + 2);
        } else {
            lex_number(token);
        }
        token.text = source_.substr(start, offset_ - start);
        return token;
    }
    if (c == '$') {
        lex_hex(token, offset_ + 1);
        token.text = source_.substr(start, offset_ - start);
        return token;
    }
    if (c == '"' || c == '\'') {
        lex_string(token, c);
        token.text = source_.substr(start, offset_ - start);
        return token;
    }

    if (c == '#') {
        if (!lex_directive(token)) return next();
        token.text = source_.substr(start, offset_ - start);
        return token;
    }

    char d = peek(1);
    switch (c) {
        case '[':
            d == '@'   ? punct(Tok::left_bracket, 2)
            : d == '|' ? punct(Tok::list_accessor, 2)
            : d == '?' ? punct(Tok::map_accessor, 2)
            : d == '#' ? punct(Tok::grid_accessor, 2)
            : d == '$' ? punct(Tok::struct_accessor, 2)
                       : punct(Tok::left_bracket, 1);
            break;
        case ']':
            punct(Tok::right_bracket, 1);
            break;
        case '.':
            punct(Tok::dot, 1);
            break;
        case '?':
            if (d == '?') fail(token.pos, "the '\?\?' operator is not supported by this runner");
            punct(Tok::question, 1);
            break;
        case ':':
            d == '=' ? punct(Tok::assign, 2) : punct(Tok::colon, 1);
            break;
        case '(':
            punct(Tok::left_paren, 1);
            break;
        case ')':
            punct(Tok::right_paren, 1);
            break;
        case '{':
            punct(Tok::left_brace, 1);
            break;
        case '}':
            punct(Tok::right_brace, 1);
            break;
        case ',':
            punct(Tok::comma, 1);
            break;
        case ';':
            punct(Tok::semicolon, 1);
            break;
        case '~':
            punct(Tok::tilde, 1);
            break;
        case '%':
            d == '=' ? punct(Tok::percent_assign, 2) : punct(Tok::percent, 1);
            break;
        case '+':
            d == '=' ? punct(Tok::plus_assign, 2) : d == '+' ? punct(Tok::plus_plus, 2) : punct(Tok::plus, 1);
            break;
        case '-':
            d == '=' ? punct(Tok::minus_assign, 2) : d == '-' ? punct(Tok::minus_minus, 2) : punct(Tok::minus, 1);
            break;
        case '*':
            d == '=' ? punct(Tok::star_assign, 2) : punct(Tok::star, 1);
            break;
        case '/':
            d == '=' ? punct(Tok::slash_assign, 2) : punct(Tok::slash, 1);
            break;
        case '=':
            d == '=' ? punct(Tok::equal_equal, 2) : punct(Tok::assign, 1);
            break;
        case '!':
            d == '=' ? punct(Tok::not_equal, 2) : punct(Tok::bang, 1);
            break;
        case '<':
            d == '='   ? punct(Tok::less_equal, 2)
            : d == '<' ? punct(Tok::shift_left, 2)
            : d == '>' ? punct(Tok::not_equal, 2)
                       : punct(Tok::less, 1);
            break;
        case '>':
            d == '=' ? punct(Tok::greater_equal, 2) : d == '>' ? punct(Tok::shift_right, 2) : punct(Tok::greater, 1);
            break;
        case '&':
            d == '&' ? punct(Tok::and_and, 2) : d == '=' ? punct(Tok::and_assign, 2) : punct(Tok::ampersand, 1);
            break;
        case '|':
            d == '|' ? punct(Tok::or_or, 2) : d == '=' ? punct(Tok::or_assign, 2) : punct(Tok::pipe, 1);
            break;
        case '^':
            d == '^' ? punct(Tok::xor_xor, 2) : d == '=' ? punct(Tok::xor_assign, 2) : punct(Tok::caret, 1);
            break;
        default: {
            char shown[40];
            auto byte = static_cast<unsigned char>(c);
            if (byte >= 0x21 && byte < 0x7F) {
                std::snprintf(shown, sizeof shown, "unexpected character '%c'", c);
            } else {
                std::snprintf(shown, sizeof shown, "unexpected byte 0x%02X", byte);
            }
            fail(token.pos, shown);
        }
    }
    token.text = source_.substr(start, offset_ - start);
    return token;
}

void Lexer::lex_number(Token& token) {
    const std::size_t start = offset_;
    const std::size_t size = source_.size();
    while (offset_ < size && is_digit(source_[offset_])) ++offset_;
    if (offset_ < size && source_[offset_] == '.') {
        ++offset_;
        while (offset_ < size && is_digit(source_[offset_])) ++offset_;
    }
    if (offset_ < size && (source_[offset_] == 'e' || source_[offset_] == 'E')) {
        std::size_t j = offset_ + 1;
        if (j < size && (source_[j] == '+' || source_[j] == '-')) ++j;
        if (j < size && is_digit(source_[j])) {
            offset_ = j;
            while (offset_ < size && is_digit(source_[offset_])) ++offset_;
        }
    }
    if (offset_ < size && (is_name_char(source_[offset_]) || source_[offset_] == '.'))
        fail(token.pos, "malformed number '" + std::string(source_.substr(start, offset_ - start + 1)) + "'");
    token.kind = Tok::number;
    const char* first = source_.data() + start;
    const char* last = source_.data() + offset_;
    // Digits, one point and an exponent, so the only failure is a value beyond the double range.
    auto [end, error] = std::from_chars(first, last, token.number);
    if (error != std::errc() || end != last) fail(token.pos, "number too large");
}

void Lexer::lex_hex(Token& token, std::size_t digits_start) {
    const std::size_t size = source_.size();
    offset_ = digits_start;
    double value = 0;
    while (offset_ < size && hex_value(source_[offset_]) >= 0) {
        value = value * 16 + hex_value(source_[offset_]);
        ++offset_;
    }
    if (offset_ == digits_start || (offset_ < size && (is_name_char(source_[offset_]) || source_[offset_] == '.')))
        fail(token.pos, "malformed hexadecimal number");
    token.kind = Tok::number;
    token.number = value;
}

bool Lexer::lex_directive(Token& token) {
    const std::size_t size = source_.size();
    ++offset_;
    std::size_t word_start = offset_;
    while (offset_ < size && is_name_char(source_[offset_])) ++offset_;
    std::string_view word = source_.substr(word_start, offset_ - word_start);
    if (word.size() == 6 && std::all_of(word.begin(), word.end(), [](char h) { return hex_value(h) >= 0; })) {
        int v[6];
        for (int i = 0; i < 6; ++i) v[i] = hex_value(word[static_cast<std::size_t>(i)]);
        token.kind = Tok::number;
        token.number = (v[0] * 16 + v[1]) + 256.0 * (v[2] * 16 + v[3]) + 65536.0 * (v[4] * 16 + v[5]);
        return true;
    }
    auto rest_of_line = [&] {
        while (offset_ < size && source_[offset_] != '\n') {
            // A backslash at the end of a line continues the directive on the next.
            if (source_[offset_] == '\\' && offset_ + 1 < size && source_[offset_ + 1] == '\n') {
                offset_ += 2;
                ++line_;
                line_start_ = offset_;
                continue;
            }
            ++offset_;
        }
    };
    if (word == "region" || word == "endregion") {
        rest_of_line();
        return false;
    }
    if (word != "macro") {
        if (word.empty()) fail(token.pos, "unexpected character '#'");
        fail(token.pos, "the directive #" + std::string(word) + " is not supported by this runner");
    }
    while (offset_ < size && (source_[offset_] == ' ' || source_[offset_] == '\t')) ++offset_;
    std::size_t name_start = offset_;
    if (offset_ >= size || !is_name_start(source_[offset_])) fail(here(), "expected a macro name after #macro");
    while (offset_ < size && is_name_char(source_[offset_])) ++offset_;
    if (offset_ < size && source_[offset_] == ':')
        fail(here(), "macro configurations (#macro CONFIG:NAME) are not supported by this runner");
    token.kind = Tok::macro_definition;
    token.string = std::string(source_.substr(name_start, offset_ - name_start));
    token.body_offset = offset_;
    token.body_pos = here();
    rest_of_line();
    token.body_end = offset_;
    return true;
}

void Lexer::lex_string(Token& token, char quote) {
    const std::size_t size = source_.size();
    ++offset_;
    for (;;) {
        if (offset_ >= size || source_[offset_] == '\n') fail(token.pos, "unterminated string");
        char c = source_[offset_++];
        if (c == quote) break;
        if (c == '\\' && offset_ < size) {
            char e = source_[offset_];
            char decoded = e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
            if (e == 'n' || e == 't' || e == 'r' || e == '"' || e == '\'' || e == '\\') {
                token.string.push_back(decoded);
                ++offset_;
                continue;
            }
        }
        token.string.push_back(c);
    }
    token.kind = Tok::string;
}

}  // namespace ombrix::host
