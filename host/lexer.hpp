// The lexer: turns script text into tokens on demand, one at a time, so a script of millions of
// lines never exists as a token list. Keywords are recognised here; names stay views into the text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "diagnostic.hpp"

namespace ombrix::host {

enum class Tok : std::uint8_t {
    end_of_file,
    number,
    string,
    identifier,
    // Keywords.
    kw_var,
    kw_if,
    kw_then,
    kw_else,
    kw_while,
    kw_do,
    kw_until,
    kw_for,
    kw_repeat,
    kw_break,
    kw_continue,
    kw_exit,
    kw_begin,
    kw_end,
    kw_true,
    kw_false,
    // Punctuation.
    left_paren,
    right_paren,
    left_brace,
    right_brace,
    comma,
    semicolon,
    // Assignment and increment.
    assign,
    plus_assign,
    minus_assign,
    star_assign,
    slash_assign,
    plus_plus,
    minus_minus,
    // Operators (div, mod, and, or, xor and not are spelt as words too).
    plus,
    minus,
    star,
    slash,
    kw_div,
    percent,
    kw_mod,
    equal,
    not_equal,
    less,
    less_equal,
    greater,
    greater_equal,
    and_and,
    kw_and,
    or_or,
    kw_or,
    xor_xor,
    kw_xor,
    bang,
    kw_not,
    ampersand,
    pipe,
    caret,
    tilde,
    shift_left,
    shift_right,
};

struct Token {
    Tok kind = Tok::end_of_file;
    SourcePos pos;
    std::string_view text;  // the token as written
    double number = 0;      // value of a number
    std::string string;     // value of a string literal, escapes decoded
};

// How a token reads in an error message: 'name', '(', "number 12", "end of file".
std::string describe(const Token& token);

class Lexer {
public:
    explicit Lexer(std::string_view source) : source_(source) {}

    // The next token; throws ScriptError for a character or literal that cannot start a token.
    Token next();

private:
    void skip_blanks_and_comments();
    void lex_number(Token& token);
    void lex_hex(Token& token, std::size_t digits_start);
    void lex_string(Token& token, char quote);
    [[noreturn]] void fail(SourcePos pos, std::string message) const;
    SourcePos here() const { return {line_, static_cast<std::uint32_t>(offset_ - line_start_ + 1)}; }

    std::string_view source_;
    std::size_t offset_ = 0;
    std::size_t line_start_ = 0;
    std::uint32_t line_ = 1;
};

}  // namespace ombrix::host
