// The lexer: a hand-written byte loop. Numbers are decimal (1, 1.5, .5, 1.) or hexadecimal ($FF,
// 0xFF); strings are in double or single quotes with the escapes \n \t \r \" \' \\ (any other
// backslash stays as written); comments are // to the end of the line and /* ... */.
#include "lexer.hpp"

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
    {"var", Tok::kw_var},       {"if", Tok::kw_if},       {"then", Tok::kw_then},         {"else", Tok::kw_else},
    {"while", Tok::kw_while},   {"do", Tok::kw_do},       {"until", Tok::kw_until},       {"for", Tok::kw_for},
    {"repeat", Tok::kw_repeat}, {"break", Tok::kw_break}, {"continue", Tok::kw_continue}, {"exit", Tok::kw_exit},
    {"begin", Tok::kw_begin},   {"end", Tok::kw_end},     {"true", Tok::kw_true},         {"false", Tok::kw_false},
    {"div", Tok::kw_div},       {"mod", Tok::kw_mod},     {"and", Tok::kw_and},           {"or", Tok::kw_or},
    {"xor", Tok::kw_xor},       {"not", Tok::kw_not},
};

Tok keyword_or_identifier(std::string_view name) {
    // Keywords are 2 to 8 letters; most names in long scripts are longer and skip the scan.
    if (name.size() <= 8)
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
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
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

    char d = peek(1);
    switch (c) {
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
            punct(Tok::percent, 1);
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
            d == '=' ? punct(Tok::equal, 2) : punct(Tok::assign, 1);
            break;
        case '!':
            d == '=' ? punct(Tok::not_equal, 2) : punct(Tok::bang, 1);
            break;
        case '<':
            d == '=' ? punct(Tok::less_equal, 2) : d == '<' ? punct(Tok::shift_left, 2) : punct(Tok::less, 1);
            break;
        case '>':
            d == '=' ? punct(Tok::greater_equal, 2) : d == '>' ? punct(Tok::shift_right, 2) : punct(Tok::greater, 1);
            break;
        case '&':
            d == '&' ? punct(Tok::and_and, 2) : punct(Tok::ampersand, 1);
            break;
        case '|':
            d == '|' ? punct(Tok::or_or, 2) : punct(Tok::pipe, 1);
            break;
        case '^':
            d == '^' ? punct(Tok::xor_xor, 2) : punct(Tok::caret, 1);
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
    if (offset_ < size && (is_name_char(source_[offset_]) || source_[offset_] == '.'))
        fail(token.pos, "malformed number '" + std::string(source_.substr(start, offset_ - start + 1)) + "'");
    token.kind = Tok::number;
    const char* first = source_.data() + start;
    const char* last = source_.data() + offset_;
    // Digits only (and one point), so the only failure is a value beyond the double range.
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
