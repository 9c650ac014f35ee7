// Script errors: a message and the place in the script it belongs to. Every stage (lexer, parser,
// resolver, evaluator, built-ins) reports through one exception type, and the runner prints it as
// FILE:LINE:COL: error: MESSAGE.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace ombrix::host {

// Lines and columns count from 1; column counts bytes, a tab being one column. Line 0 means the
// position is not known yet (a built-in raised the error; the call site fills it in).
struct SourcePos {
    std::uint32_t line = 0;
    std::uint32_t column = 0;
};

constexpr bool operator<(SourcePos a, SourcePos b) { return a.line != b.line ? a.line < b.line : a.column < b.column; }

struct ScriptError {
    SourcePos pos;
    std::string message;

    ScriptError(SourcePos where, std::string text) : pos(where), message(std::move(text)) {}
    explicit ScriptError(std::string text) : message(std::move(text)) {}
};

// The deepest nesting of statements and expressions a script may use. The parser and the evaluator
// recurse once per level, so this bounds their stack use whatever the script holds.
inline constexpr int max_nesting = 1000;

}  // namespace ombrix::host
