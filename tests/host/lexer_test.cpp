// The lexer: literals, keywords, comments, positions, and the characters it refuses.
#include <gtest/gtest.h>

#include <vector>

#include "lexer.hpp"

using namespace ombrix::host;

namespace {

std::vector<Token> lex_all(std::string_view source) {
    Lexer lexer(source);
    std::vector<Token> tokens;
    do tokens.push_back(lexer.next());
    while (tokens.back().kind != Tok::end_of_file);
    return tokens;
}

ScriptError lex_error(std::string_view source) {
    try {
        lex_all(source);
    } catch (const ScriptError& error) {
        return error;
    }
    ADD_FAILURE() << "no error lexing " << source;
    return ScriptError("none");
}

}  // namespace

TEST(Lexer, NumbersInDecimalAndBothHexSpellings) {
    auto tokens = lex_all("12 1.5 .5 3. $FF 0xff $1a2B 0");
    std::vector<double> expected = {12, 1.5, 0.5, 3, 255, 255, 0x1a2b, 0};
    ASSERT_EQ(tokens.size(), expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(tokens[i].kind, Tok::number) << i;
        EXPECT_EQ(tokens[i].number, expected[i]) << i;
    }
    // Hex beyond 64 bits still reads as a (rounded) real rather than wrapping.
    EXPECT_EQ(lex_all("$10000000000000000")[0].number, 18446744073709551616.0);
}

TEST(Lexer, StringsInEitherQuoteWithEscapes) {
    auto tokens = lex_all(R"("a\"b\n" 'it\'s\t\\' "c:\dir" "")");
    ASSERT_EQ(tokens.size(), 5u);
    EXPECT_EQ(tokens[0].string, "a\"b\n");
    EXPECT_EQ(tokens[1].string, "it's\t\\");
    EXPECT_EQ(tokens[2].string, "c:\\dir");  // an unknown escape stays as written
    EXPECT_EQ(tokens[3].string, "");
    EXPECT_EQ(tokens[3].kind, Tok::string);
}

TEST(Lexer, KeywordsAreWholeWordsOnly) {
    auto tokens = lex_all("div divide mod modx and android if iff end ending");
    std::vector<Tok> expected = {Tok::kw_div,     Tok::identifier, Tok::kw_mod,     Tok::identifier, Tok::kw_and,
                                 Tok::identifier, Tok::kw_if,      Tok::identifier, Tok::kw_end,     Tok::identifier};
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(tokens[i].kind, expected[i]) << tokens[i].text;
}

TEST(Lexer, OperatorsTakeTheLongestSpelling) {
    auto tokens = lex_all("<<= >>= <= < << == = != ! ++ += + -- -= ^^ ^ && & || |");
    std::vector<Tok> expected = {Tok::shift_left,   Tok::assign,     Tok::shift_right, Tok::assign,  Tok::less_equal,
                                 Tok::less,         Tok::shift_left, Tok::equal_equal, Tok::assign,  Tok::not_equal,
                                 Tok::bang,         Tok::plus_plus,  Tok::plus_assign, Tok::plus,    Tok::minus_minus,
                                 Tok::minus_assign, Tok::xor_xor,    Tok::caret,       Tok::and_and, Tok::ampersand,
                                 Tok::or_or,        Tok::pipe};
    ASSERT_EQ(tokens.size(), expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(tokens[i].kind, expected[i]) << i;
}

TEST(Lexer, PositionsCountLinesAndColumnsThroughComments) {
    auto tokens = lex_all("a // note\n  /* two\nlines */ b\n\tc");
    ASSERT_EQ(tokens.size(), 4u);
    EXPECT_EQ(tokens[0].pos.line, 1u);
    EXPECT_EQ(tokens[0].pos.column, 1u);
    EXPECT_EQ(tokens[1].pos.line, 3u);
    EXPECT_EQ(tokens[1].pos.column, 10u);
    EXPECT_EQ(tokens[2].pos.line, 4u);
    EXPECT_EQ(tokens[2].pos.column, 2u);  // a tab is one column
    EXPECT_EQ(tokens[3].pos.line, 4u);    // end of file sits after the last token
}

TEST(Lexer, RefusesMalformedInputWithItsPosition) {
    struct Case {
        const char* source;
        const char* message;
        unsigned line, column;
    } cases[] = {
        {"x = \"open\ny", "unterminated string", 1, 5}, {"a\n  /* never closed", "unterminated comment", 2, 3},
        {"a # b", "unexpected character '#'", 1, 3},    {"\x80", "unexpected byte 0x80", 1, 1},
        {"12abc", "malformed number '12a'", 1, 1},      {"1.2.3", "malformed number '1.2.'", 1, 1},
        {"$ 1", "malformed hexadecimal number", 1, 1},  {"0xZ", "malformed hexadecimal number", 1, 1},
    };
    for (const Case& c : cases) {
        ScriptError error = lex_error(c.source);
        EXPECT_EQ(error.message, c.message) << c.source;
        EXPECT_EQ(error.pos.line, c.line) << c.source;
        EXPECT_EQ(error.pos.column, c.column) << c.source;
    }
}

TEST(Lexer, ExponentsColoursAndAccessors) {
    auto tokens = lex_all("1e3 2.5E-2 7e+1 #FF8000 <> [| [? [@ [ ] ? : := %= |= &= ^=");
    std::vector<Tok> expected = {Tok::number,       Tok::number,         Tok::number,       Tok::number,
                                 Tok::not_equal,    Tok::list_accessor,  Tok::map_accessor, Tok::left_bracket,
                                 Tok::left_bracket, Tok::right_bracket,  Tok::question,     Tok::colon,
                                 Tok::assign,       Tok::percent_assign, Tok::or_assign,    Tok::and_assign,
                                 Tok::xor_assign};
    ASSERT_EQ(tokens.size(), expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(tokens[i].kind, expected[i]) << i;
    EXPECT_EQ(tokens[0].number, 1000);
    EXPECT_EQ(tokens[1].number, 0.025);
    EXPECT_EQ(tokens[2].number, 70);
    EXPECT_EQ(tokens[3].number, 0xFF + 0x80 * 256);  // red FF, green 80, blue 00
    // An exponent needs digits; without them the letter is part of a malformed number.
    EXPECT_EQ(lex_error("1e").message, "malformed number '1e'");
}

TEST(Lexer, DirectivesBecomeMacrosOrComments) {
    auto tokens = lex_all("#region setup\n#macro SIZE 4 * \\\n 2\nx #endregion\ny");
    ASSERT_EQ(tokens.size(), 4u);
    EXPECT_EQ(tokens[0].kind, Tok::macro_definition);
    EXPECT_EQ(tokens[0].string, "SIZE");
    EXPECT_EQ(tokens[0].pos.line, 2u);
    EXPECT_EQ(tokens[1].kind, Tok::identifier);  // the continued body ends before x
    EXPECT_EQ(tokens[1].pos.line, 4u);
    EXPECT_EQ(tokens[2].text, "y");
    EXPECT_EQ(lex_error("#define f").message, "the directive #define is not supported by this runner");
}
