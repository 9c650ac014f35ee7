// The parser and resolver: what the script may say, where its errors are reported, and the
// nesting limit that keeps the runner's stack bounded.
#include <gtest/gtest.h>

#include <string>

#include "script_harness.hpp"

using namespace ombrix::host;
using ombrix::host::testing::run_script;
using ombrix::host::testing::script_error;

namespace {

void expect_error(std::string_view source, const std::string& message, unsigned line, unsigned column) {
    ScriptError error = script_error(source);
    EXPECT_EQ(error.message, message) << source;
    EXPECT_EQ(error.pos.line, line) << source;
    EXPECT_EQ(error.pos.column, column) << source;
}

std::string repeated(std::string_view piece, int times) {
    std::string s;
    for (int i = 0; i < times; ++i) s += piece;
    return s;
}

}  // namespace

TEST(Parser, AcceptsTheOptionalSpellings) {
    // No semicolons, conditions without parentheses, then, begin/end, empty statements.
    EXPECT_EQ(run_script("var a = 1 b = 2\nif a < b then show_debug_message(\"lt\") else show_debug_message(\"ge\")"),
              "lt\n");
    EXPECT_EQ(run_script("if 1 begin show_debug_message(1); show_debug_message(2) end;;"), "1\n2\n");
    EXPECT_EQ(run_script("var i = 0; while i < 2 { i++ } ; show_debug_message(i)"), "2\n");
    EXPECT_EQ(run_script("var x = 5, y, z = x * 2; y = 1; show_debug_message(x + y + z)"), "16\n");
}

TEST(Parser, ReportsSyntaxErrorsAtTheOffendingToken) {
    expect_error("x = (1 + 2;", "expected ')' but found ';'", 1, 11);
    expect_error("x = 1\ny = * 2", "expected an expression but found '*'", 2, 5);
    expect_error("x = 1\n  5", "expected a statement but found number 5", 2, 3);
    expect_error("x\n", "expected an assignment or a call after 'x' but found end of file", 2, 1);
    expect_error("f(1, 2", "expected ',' or ')' in the argument list but found end of file", 1, 7);
    expect_error("var 3 = 1", "expected a variable name but found number 3", 1, 5);
    expect_error("for (i = 0; i < 3) {}", "expected ';' but found ')'", 1, 18);
    expect_error("\n  {\n x = 1", "missing '}' to close the block at line 2, column 3", 3, 7);
    expect_error("do x = 1 while (x)", "expected 'until' but found 'while'", 1, 10);
}

TEST(Parser, BreakAndContinueOnlyInsideLoops) {
    expect_error("x = 1\nbreak", "break outside a loop or switch", 2, 1);
    expect_error("if 1 continue", "continue outside a loop", 1, 6);
    // A loop body nested in an if inside a loop is still inside the loop.
    EXPECT_EQ(run_script("repeat (3) { if 1 { break } } show_debug_message(\"ok\")"), "ok\n");
    expect_error("repeat (2) { } break", "break outside a loop or switch", 1, 16);
}

TEST(Resolver, ChecksNamesAndArgumentCountsBeforeRunning) {
    // Nothing is printed: the error is found before the first statement runs.
    expect_error("show_debug_message(1)\nnope(2)", "unknown function 'nope'", 2, 1);
    expect_error("show_debug_message(1)\nx = y + 1", "unknown variable 'y' (did you mean 'x'?)", 2, 5);
    expect_error("floor(1, 2)", "floor takes 1 argument, not 2", 1, 1);
    expect_error("draw_point_color(1)", "draw_point_color takes 3 arguments, not 1", 1, 1);
    expect_error("min()", "min takes 1 to 16 arguments, not 0", 1, 1);
    // The earliest problem wins, even when a later line's node was built first.
    expect_error("x = 1 + f(g(1))", "unknown function 'f'", 1, 9);
}

TEST(Parser, NestingBeyondTheLimitIsAnErrorNotACrash) {
    const int limit = max_nesting;
    std::string deep = "x = " + repeated("(", limit - 10) + "7" + repeated(")", limit - 10) + "\nshow_debug_message(x)";
    EXPECT_EQ(run_script(deep), "7\n");

    std::string too_deep[] = {
        "x = " + repeated("(", 100000) + "1" + repeated(")", 100000),
        repeated("{", 100000) + repeated("}", 100000),
        "x = " + repeated("!", 100000) + "1",
        "x = " + repeated("abs(", 100000) + "1" + repeated(")", 100000),
        "x = 0\n" + repeated("if x == 1 x = 1 else ", 100000) + "x = 2",
        "x = 1" + repeated(" + 1", 100000),  // a flat chain is a deep tree too
    };
    for (const std::string& source : too_deep) {
        ScriptError error = script_error(source);
        EXPECT_NE(error.message.find("more than 1000 levels"), std::string::npos) << error.message;
        EXPECT_GT(error.pos.line, 0u);
    }
}
