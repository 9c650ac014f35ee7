// The language beyond expressions: arrays, script functions, switch, globals, macros, enums, the
// accessors, and the run-time limits that keep a hostile script from taking the runner down.
#include <gtest/gtest.h>

#include <string>

#include "resolver.hpp"
#include "script_harness.hpp"

using namespace ombrix::host;
using ombrix::host::testing::run_script;
using ombrix::host::testing::script_error;

namespace {

void expect_error(const std::string& source, const std::string& message, unsigned line, unsigned column) {
    ScriptError error = script_error(source);
    EXPECT_EQ(error.message, message) << source;
    EXPECT_EQ(error.pos.line, line) << source;
    EXPECT_EQ(error.pos.column, column) << source;
}

}  // namespace

TEST(Language, ArrayElementsAreWrittenThroughEveryAlias) {
    // Reference semantics: the array a function receives is the caller's.
    EXPECT_EQ(run_script("function set0(a) { a[0] = 5 }\nvar x = [1, 2]; var y = x; set0(y);\n"
                         "show_debug_message(x)"),
              "[ 5,2 ]\n");
    // Writing through a nested element makes the inner arrays as it goes.
    EXPECT_EQ(run_script("m[2][1] = 3; show_debug_message(m); show_debug_message(is_array(m[0]))"),
              "[ 0,0,[ 0,3 ] ]\n0\n");
    // Compound assignment and increments on elements, with the index evaluated once.
    EXPECT_EQ(run_script("var i = 0; var a = [10, 20]; a[i++] += 5; a[i]--; show_debug_message(a); "
                         "show_debug_message(i)"),
              "[ 15,19 ]\n1\n");
    // A variable holding a real becomes an array when an element is written.
    EXPECT_EQ(run_script("v = 4; v[1] = 1; show_debug_message(v)"), "[ 0,1 ]\n");
}

TEST(Language, ArrayErrorsNameTheProblem) {
    expect_error("a = [1, 2]\nx = a[2]", "index 2 is outside the array (length 2)", 2, 6);
    expect_error("a = [1]\nx = a[-1]", "index -1 is negative", 2, 6);
    expect_error("a = [1]\nx = a[\"0\"]", "an index must be a real, not a string", 2, 6);
    expect_error("a = 3\nx = a[0]", "cannot index a real (not an array)", 2, 6);
    expect_error("a = []\na[1e7 * 2] = 1", "array longer than 16777216 elements", 2, 2);
    expect_error("a = array_create(-1)", "array_create: a negative size", 1, 5);
    expect_error("a = array_create(1e8)", "array longer than 16777216 elements", 1, 5);
    expect_error("x = [1] + [2]", "operator '+' needs reals or strings, not arrays", 1, 9);
    expect_error("if [1] x = 1", "an array cannot be a condition", 1, 4);
    // A script error, not a crash, for an array that holds itself when printed.
    EXPECT_EQ(run_script("a = [0]; a[0] = a; s = string(a); show_debug_message(string_length(s) > 0)"), "1\n");
}

TEST(Language, FunctionsBindArgumentsAndLocals) {
    EXPECT_EQ(run_script("function f(a, b = a * 2) { return string(a) + \",\" + string(b) + \",\" + "
                         "string(argument_count) }\nshow_debug_message(f(3)); show_debug_message(f(3, 1))"),
              "3,6,1\n3,1,2\n");
    EXPECT_EQ(run_script("function g() { return argument[1] + argument2 }\nshow_debug_message(g(1, 2, 3))"), "5\n");
    EXPECT_EQ(run_script("function h(a) { return is_undefined(a) && is_undefined(argument5) }\n"
                         "show_debug_message(h())"),
              "1\n");
    // A local shadows a script variable of the same name only inside its function.
    EXPECT_EQ(run_script("n = 1; function k() { var n = 50; return n }\nshow_debug_message(k() + n)"), "51\n");
    expect_error("function f() { var q; return q }\nf()", "variable 'q' is read before it is set", 1, 30);
    expect_error("x = argument0", "argument used outside a function", 1, 5);
    expect_error("function twice() {}\nfunction twice() {}", "function 'twice' is declared twice", 2, 10);
    expect_error("function sqrt(x) { return x }", "function 'sqrt' has the name of a built-in function", 1, 10);
    expect_error("function outer() { function inner() {} }",
                 "functions declared inside a function are not supported by this runner (declare it at the top level)",
                 1, 20);
}

TEST(Language, RecursionStopsWithAScriptError) {
    ScriptError error = script_error("function down(n) { return down(n + 1) }\ndown(0)");
    EXPECT_EQ(error.message.rfind("recursion too deep: ", 0), 0u) << error.message;
    EXPECT_NE(error.message.find("'down'"), std::string::npos) << error.message;
    EXPECT_EQ(error.pos.line, 1u);
    // Deep but bounded recursion is fine.
    EXPECT_EQ(run_script("function depth(n) { return n == 0 ? 0 : 1 + depth(n - 1) }\n"
                         "show_debug_message(depth(2000))"),
              "2000\n");
}

TEST(Language, SwitchComparesWithEqualityAndFallsThrough) {
    auto pick = [](const std::string& subject) {
        return run_script("var out = \"\"; switch (" + subject +
                          ") { case 1: out += \"a\"; case \"1\": out += \"b\"; break; case undefined: out += \"u\"; "
                          "default: out += \"d\"; } show_debug_message(out)");
    };
    EXPECT_EQ(pick("1"), "ab\n");
    EXPECT_EQ(pick("\"1\""), "b\n");  // a string never equals a real
    EXPECT_EQ(pick("undefined"), "ud\n");
    EXPECT_EQ(pick("7"), "d\n");
    // Case values are evaluated in order and only until one matches.
    EXPECT_EQ(run_script("n = 0; function c(v) { n++; return v }\nswitch (2) { case c(1): case c(2): case c(3): }\n"
                         "show_debug_message(n)"),
              "2\n");
    expect_error("switch (1) { default: default: }", "a switch with two defaults", 1, 23);
    expect_error("case 1: x = 1", "'case' outside a switch", 1, 1);
}

TEST(Language, GlobalsMacrosAndEnumsResolveBeforeRunning) {
    EXPECT_EQ(run_script("globalvar g; function f() { g = 7 }\nf(); show_debug_message(global.g)"), "7\n");
    EXPECT_EQ(run_script("show_debug_message(TWICE(4))\n#macro TWICE 2 *"), "8\n");  // used before its line
    // A macro naming itself stays a name instead of expanding without end.
    EXPECT_EQ(run_script("#macro LOOP LOOP\nLOOP = 2; show_debug_message(LOOP)"), "2\n");
    EXPECT_EQ(run_script("enum E { a = -2, b, c = E.b * 10, d }\nshow_debug_message(E.d)"), "-9\n");
    expect_error("x = global.nothing", "unknown global variable 'nothing'", 1, 5);
    expect_error("enum E { a }\nx = E.b", "enum 'E' has no member 'b'", 2, 7);
    expect_error("enum E { a = 1.5 }", "an enum member's value must be a whole-number constant", 1, 14);
    expect_error("x = Colour.red",
                 "unknown enum 'Colour' (declare an enum before its use; instances and structs "
                 "are not supported by this runner)",
                 1, 5);
    expect_error("#macro A 1\n#macro A 2", "macro 'A' is defined twice", 2, 1);
    expect_error("c_red = 1", "cannot assign to this expression (only to a variable or an element)", 1, 1);
}

TEST(Language, UnsupportedConstructsSaySo) {
    const char* cases[][2] = {
        {"with (all) x = 1", "'with' is not supported by this runner: no instances"},
        {"x = self", "'self' is not supported by this runner: no instances"},
        {"x = {a: 1}", "struct literals are not supported by this runner: no structs"},
        {"x = 1; x.y = 2", "'.' after a value is not supported by this runner: no instances or structs"},
        {"x = new Thing()", "'new' is not supported by this runner: no constructors or structs"},
        {"try { } catch (e) { }", "try/catch is not supported by this runner: a script error ends the script"},
        {"f = function() { }", "function expressions (method variables) are not supported by this runner"},
        {"x = [1]; y = x[# 0, 0]", "the ds_grid accessor [# is not supported by this runner"},
        {"#define x", "the directive #define is not supported by this runner"},
        {"x = a ?\? b", "the '?\?' operator is not supported by this runner"},
        {"instance_create_layer(0, 0, \"x\", obj)",
         "unknown function 'instance_create_layer' (not supported by this "
         "runner)"},
        {"draw_text(0, 0, \"hi\")", "unknown function 'draw_text' (not supported by this runner)"},
    };
    for (const auto& c : cases) {
        ScriptError error = script_error(c[0]);
        EXPECT_EQ(error.message, c[1]) << c[0];
        EXPECT_NE(error.message.find("not supported by this runner"), std::string::npos);
    }
}

TEST(Language, ContainersRejectIdsTheyNeverGave) {
    expect_error("x = ds_list_size(0)", "ds_list_size: no ds_list with ID 0", 1, 5);
    expect_error("l = ds_list_create(); ds_list_destroy(l); ds_list_add(l, 1)", "ds_list_add: no ds_list with ID 0", 1,
                 43);
    expect_error("m = NaN; x = m[? 1]", "[? needs a ds_map's ID, and nan is none", 1, 15);
    expect_error("m = ds_map_create(); m[? [1]] = 1", "a ds_map key must be a real or a string, not an array", 1, 23);
}

TEST(Suggestions, CloseNamesIgnoreCaseAndAllowAQuarterOfTheLength) {
    std::vector<std::string_view> names = {"image_RGBChannalToImage", "show_debug_message", "string_copy"};
    EXPECT_EQ(closest_name("image_RGBChannelToImage", names), "image_RGBChannalToImage");
    EXPECT_EQ(closest_name("Show_Debug_Message", names), "show_debug_message");
    EXPECT_EQ(closest_name("strng_cpy", names), "string_copy");
    EXPECT_EQ(closest_name("string_cop", names), "string_copy");
    EXPECT_EQ(closest_name("frobnicate", names), "");
    EXPECT_EQ(closest_name("copy", names), "");  // too far from anything
}
