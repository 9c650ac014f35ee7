// The evaluator and built-ins: operator precedence and semantics, control flow, value printing,
// type rules, and run-time error positions.
#include <gtest/gtest.h>

#include <string>

#include "script_harness.hpp"

using namespace ombrix::host;
using ombrix::host::testing::run_script;
using ombrix::host::testing::script_error;

namespace {

// What show_debug_message prints for an expression.
std::string value_of(const std::string& expression) { return run_script("show_debug_message(" + expression + ")"); }

void expect_values(std::initializer_list<std::pair<const char*, const char*>> cases) {
    for (auto [expression, printed] : cases) EXPECT_EQ(value_of(expression), std::string(printed) + "\n") << expression;
}

}  // namespace

TEST(Evaluator, OperatorPrecedenceFromLoosestToTightest) {
    expect_values({
        {"2 + 3 * 4", "14"},
        {"(2 + 3) * 4", "20"},
        {"10 - 4 - 3", "3"},   // left to right
        {"2 * 3 mod 4", "2"},  // same level as *, left to right
        {"-2 * -3", "6"},
        {"1 + 2 << 1", "6"},     // + before <<
        {"1 << 2 & 12", "4"},    // << before &
        {"6 & 3 == 2", "1"},     // & before == (unlike C)
        {"1 | 2 ^ 3 & 1", "3"},  // & before ^ before |
        {"1 < 2 == 1", "1"},     // comparisons share a level, left to right
        {"1 || 0 && 0", "1"},    // && before ||
        {"1 xor 1 or 1", "1"},   // ^^ before ||
        {"0 and 1 xor 1", "1"},  // && before ^^
        {"!0 + 1", "2"},         // prefix operators bind tightest
        {"not 1 + 1", "1"},
        {"~0", "-1"},
        {"- - 3", "3"},
    });
}

TEST(Evaluator, DivAndModTruncateTowardZeroLikeGml) {
    expect_values({
        {"7 div 2", "3"},
        {"-7 div 2", "-3"},
        {"7 div -2", "-3"},
        {"7.5 div 2", "3"},
        {"7 mod 3", "1"},
        {"-7 mod 3", "-1"},
        {"7 mod -3", "1"},
        {"-7 % 3", "-1"},
        {"5.5 mod 2", "1.50"},
        {"1 / 4", "0.25"},
        {"infinity", "inf"},
        {"-infinity", "-inf"},
    });
    EXPECT_EQ(script_error("x = 1 / 0").message, "division by zero");
    EXPECT_EQ(script_error("x = 2\nx /= x - 2").message, "division by zero");
    EXPECT_EQ(script_error("x = 1\nx = 5 div (x - 1)").message, "division by zero in div");
    EXPECT_EQ(script_error("x = 5 mod 0").pos.column, 7u);
}

TEST(Evaluator, BitwiseOperatorsWorkOnTruncated64BitIntegers) {
    expect_values({
        {"$F0 | $0F", "255"},
        {"5.9 & 3.2", "1"},  // operands truncate first
        {"-1 & $FFFF", "65535"},
        {"5 ^ 1", "4"},
        {"1 << 40", "1099511627776"},
        {"-16 >> 2", "-4"},  // arithmetic shift
        {"1 << 64", "0"},    // counts outside 0..63 are defined
        {"1 << -1", "0"},
        {"-5 >> 100", "-1"},
        {"NaN | 0", "-9223372036854775808"},  // NaN truncates to the most negative integer
    });
}

TEST(Evaluator, PrintsRealsAsGmlStringDoes) {
    expect_values({
        {"3", "3"},
        {"2.0", "2"},
        {"1.5", "1.50"},
        {"-0.25", "-0.25"},
        {"1 / 3", "0.33"},
        {"2 / 3", "0.67"},
        {"0.001", "0.00"},
        {"-0", "0"},
        {"-3 * 0", "0"},
        {"123456789012", "123456789012"},
        {"NaN", "nan"},
        {"$FFFFFFFF", "4294967295"},
    });
    EXPECT_EQ(value_of("string(1.5) + string(7)"), "1.507\n");
}

TEST(Evaluator, StringsJoinAndCompareButDoNotMixWithReals) {
    expect_values({
        {"\"ab\" + 'cd'", "abcd"},
        {"\"a\" == \"a\"", "1"},
        {"\"a\" != \"b\"", "1"},
        {"\"abc\" < \"abd\"", "1"},
        {"\"\" + \"\"", ""},
    });
    EXPECT_EQ(run_script("var s = \"x\"; repeat (3) s += \"y\"; show_debug_message(s)"), "xyyy\n");
    ScriptError mixed = script_error("var n = 1\nshow_debug_message(\"n = \" + n)");
    EXPECT_EQ(mixed.message, "operator '+' cannot combine a string and a real");
    EXPECT_EQ(mixed.pos.line, 2u);
    EXPECT_EQ(mixed.pos.column, 27u);
    // == and != take values of any kinds (unequal when the kinds differ); ordering does not.
    expect_values({{"\"1\" == 1", "0"}, {"\"1\" != 1", "1"}, {"undefined == undefined", "1"}});
    EXPECT_EQ(script_error("x = \"a\" < 1").message, "operator '<' cannot combine a string and a real");
    EXPECT_EQ(script_error("x = \"a\" * \"b\"").message, "operator '*' needs reals, not strings");
    EXPECT_EQ(script_error("x = -\"a\"").message, "operator '-' needs a real, not a string");
    EXPECT_EQ(script_error("if \"yes\" x = 1").message, "a string cannot be a condition");
    // Doubling a string without end stops at the length limit with the operator's position.
    ScriptError too_long = script_error("s = \"ab\"\nrepeat (40) s += s");
    EXPECT_EQ(too_long.message, "string longer than 16 MiB");
    EXPECT_EQ(too_long.pos.line, 2u);
    EXPECT_EQ(script_error("s = \"ab\"\nrepeat (40) s = s + s").pos.column, 19u);
}

TEST(Evaluator, TruthIsGreaterThanHalfAndLogicShortCircuits) {
    expect_values({{"0.5 && 1", "0"}, {"0.51 && 1", "1"}, {"!0.4", "1"}, {"-1 || 0", "0"}, {"2 && 3", "1"}});
    // The right side would fail if it ran.
    EXPECT_EQ(value_of("0 && (1 div 0)"), "0\n");
    EXPECT_EQ(value_of("1 || (1 div 0)"), "1\n");
    EXPECT_EQ(script_error("x = 1 ^^ (1 div 0)").message, "division by zero in div");
}

TEST(Evaluator, LoopsWithBreakAndContinue) {
    EXPECT_EQ(run_script(R"(
        for (var i = 0; i < 6; i += 1) {
            if (i == 1) continue;   // the step still runs
            if (i == 4) break;
            show_debug_message(i);
        }
        show_debug_message("after " + string(i)))"),
              "0\n2\n3\nafter 4\n");
    EXPECT_EQ(run_script("var n = 0; while (true) { n++; if n mod 2 continue; if n > 6 break; show_debug_message(n) }"),
              "2\n4\n6\n");
    EXPECT_EQ(run_script("var n = 10; do { n -= 3; show_debug_message(n) } until n < 0"), "7\n4\n1\n-2\n");
    EXPECT_EQ(run_script("var k = 0; do { k++; if k < 3 continue; break } until false; show_debug_message(k)"), "3\n");
    // Nested loops: break leaves the inner one only.
    EXPECT_EQ(run_script("repeat 2 { repeat 5 { show_debug_message(\"in\"); break } show_debug_message(\"out\") }"),
              "in\nout\nin\nout\n");
    EXPECT_EQ(run_script("for (;;) { show_debug_message(1); break }"), "1\n");
}

TEST(Evaluator, RepeatCountsTruncateAndSkipBelowOne) {
    auto count = [](const std::string& n) {
        return run_script("var c = 0; repeat (" + n + ") c += 1; show_debug_message(c)");
    };
    EXPECT_EQ(count("3"), "3\n");
    EXPECT_EQ(count("2.9"), "2\n");
    EXPECT_EQ(count("0.9"), "0\n");
    EXPECT_EQ(count("-5"), "0\n");
    EXPECT_EQ(count("NaN"), "0\n");
    EXPECT_EQ(script_error("repeat (\"3\") { }").message, "repeat needs a real count, not a string");
}

TEST(Evaluator, ExitEndsTheScriptFromAnyDepth) {
    EXPECT_EQ(run_script("show_debug_message(1); for (var i = 0; i < 9; i++) { while 1 { if i == 1 exit; break } } "
                         "show_debug_message(2)"),
              "1\n");
}

TEST(Evaluator, VariablesMustBeSetBeforeTheyAreRead) {
    ScriptError error = script_error("var a;\nif 0 a = 1\nshow_debug_message(a)");
    EXPECT_EQ(error.message, "variable 'a' is read before it is set");
    EXPECT_EQ(error.pos.line, 3u);
    EXPECT_EQ(error.pos.column, 20u);
    EXPECT_EQ(script_error("var b\nb += 1").message, "variable 'b' is read before it is set");
    // A variable changes type freely.
    EXPECT_EQ(run_script("v = 1; v = \"one\"; show_debug_message(v)"), "one\n");
}

TEST(Builtins, ConversionsAndNumericHelpers) {
    expect_values({
        {"real(\"12.5\") + 1", "13.50"},
        {"real(\" -3 \")", "-3"},
        {"real(\"1e3\")", "1000"},
        {"real(7)", "7"},
        {"is_string(\"\") + is_real(1) * 10", "11"},
        {"is_string(1)", "0"},
        {"floor(-1.5)", "-2"},
        {"ceil(-1.5)", "-1"},
        {"round(0.5)", "0"},
        {"round(1.5)", "2"},
        {"round(-2.5)", "-2"},
        {"abs(-4)", "4"},
        {"min(3, -1, 2)", "-1"},
        {"max(3, -1, 2)", "3"},
    });
    for (const char* bad : {"real(\"abc\")", "real(\"\")", "real(\"0x10\")", "real(\"inf\")", "real(\"1 2\")"})
        EXPECT_NE(script_error(std::string("x = ") + bad).message.find("is not a number"), std::string::npos) << bad;
    ScriptError error = script_error("x = 1\n  y = floor(\"2\")");
    EXPECT_EQ(error.message, "argument 1 of floor must be a real, not a string");
    EXPECT_EQ(error.pos.line, 2u);
    EXPECT_EQ(error.pos.column, 7u);
}

TEST(Builtins, StringHelpersCountCharactersNotBytes) {
    expect_values({
        {"string_length(\"abc\")", "3"},
        {"string_length(chr(233) + chr(8364))", "2"},
        {"ord(chr(8364))", "8364"},
        {"ord(\"A\")", "65"},
        {"ord(\"\")", "0"},
        {"chr(72) + chr(105)", "Hi"},
        {"string_char_at(\"abc\", 1) + string_char_at(\"abc\", 3)", "ac"},
        {"ord(string_char_at(\"a\" + chr(8364) + \"b\", 2))", "8364"},
        {"string_char_at(\"a\" + chr(8364) + \"b\", 3)", "b"},
        {"string_length(string_char_at(\"abc\", 0) + string_char_at(\"abc\", 4) + string_char_at(\"\", 1))", "0"},
        {"string_length(chr(0) + chr(-1) + chr($110000))", "0"},
    });
}

TEST(Builtins, DrawPointColorPaintsTheCanvasOrFailsWithoutOne) {
    Canvas canvas(4, 3);
    run_script(
        "draw_point_color(0, 0, $0000FF); draw_point_color(3, 2, 16711680); draw_point_color(1.9, 1, $123456)\n"
        "draw_point_color(-1, 0, 255); draw_point_color(4, 0, 255); draw_point_color(0, 3, 255)\n"
        "draw_point_color(2, 0, -1); draw_point_color(2, 2, $1AABBCC)",
        nullptr, &canvas);
    EXPECT_EQ(canvas.colour_at(0, 0), 0x0000FFu);
    EXPECT_EQ(canvas.colour_at(3, 2), 0xFF0000u);
    EXPECT_EQ(canvas.colour_at(1, 1), 0x123456u);  // coordinates truncate
    EXPECT_EQ(canvas.colour_at(2, 0), 0xFFFFFFu);  // low three bytes of -1
    EXPECT_EQ(canvas.colour_at(2, 2), 0xAABBCCu);
    EXPECT_EQ(canvas.colour_at(1, 0), 0u);  // untouched pixels stay black
    EXPECT_EQ(canvas.colour_at(3, 0), 0u);  // points outside were ignored
    EXPECT_EQ(script_error("draw_point_color(0, 0, 0)").message,
              "draw_point_color: no canvas (run with --canvas WIDTH HEIGHT FILE)");
}
