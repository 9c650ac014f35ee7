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
    kw_switch,
    kw_case,
    kw_default,
    kw_function,
    kw_return,
    kw_globalvar,
    kw_enum,
    kw_with,
    // A `#macro NAME body` line: text is the name, string the body (see macro_body_offset).
    macro_definition,
    // Punctuation.
    left_paren,
    right_paren,
    left_brace,
    right_brace,
    comma,
    semicolon,
    left_bracket,     // [ and [@
    list_accessor,    // [|
    map_accessor,     // [?
    grid_accessor,    // [#
    struct_accessor,  // [$
    right_bracket,
    dot,
    question,
    colon,
    // Assignment and increment.
    assign,
    plus_assign,
    minus_assign,
    star_assign,
    slash_assign,
    percent_assign,
    and_assign,
    or_assign,
    xor_assign,
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
    equal_equal,
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
    std::string_view text;        // the token as written
    double number = 0;            // value of a number
    std::string string;           // value of a string literal, escapes decoded
    std::size_t body_offset = 0;  // macro_definition: where the body starts in the source
    std::size_t body_end = 0;     // macro_definition: where it ends
    SourcePos body_pos;           // macro_definition: its line and column
};

// How a token reads in an error message: 'name', '(', "number 12", "end of file".
std::string describe(const Token& token);

class Lexer {
public:
    explicit Lexer(std::string_view source) : source_(source) {}
    // Lexes source[offset, end) only, offset lying at `pos` (a macro's body within its script),
    // so positions in it are those of the script.
    Lexer(std::string_view source, std::size_t offset, std::size_t end, SourcePos pos)
        : source_(source.substr(0, end)), offset_(offset), line_start_(offset - (pos.column - 1)), line_(pos.line) {}

    // The next token; throws ScriptError for a character or literal that cannot start a token.
    Token next();

private:
    void skip_blanks_and_comments();
    void lex_number(Token& token);
    void lex_hex(Token& token, std::size_t digits_start);
    void lex_string(Token& token, char quote);
    // False for a directive that is only a comment (#region).
    bool lex_directive(Token& token);
    [[noreturn]] void fail(SourcePos pos, std::string message) const;
    SourcePos here() const { return {line_, static_cast<std::uint32_t>(offset_ - line_start_ + 1)}; }

    std::string_view source_;
    std::size_t offset_ = 0;
    std::size_t line_start_ = 0;
    std::uint32_t line_ = 1;
};

}  // namespace ombrix::host
