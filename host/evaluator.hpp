// The evaluator: walks the resolved syntax tree and runs it. Variables live in a vector indexed by
// the slot the parser gave each name, and call arguments on one value stack, so running a call
// looks nothing up by name and allocates nothing once the stack has grown.
#pragma once

#include <cstdio>

#include "ast.hpp"
#include "builtins.hpp"
#include "exports.hpp"
#include "resolver.hpp"

namespace ombrix::host {

struct RunContext {
    std::FILE* out = nullptr;    // show_debug_message
    Canvas* canvas = nullptr;    // draw_point_color; null: no canvas
    Exports* exports = nullptr;  // must be the one the program was resolved against
};

// Runs a resolved program to its end or to `exit`. Throws ScriptError for a run-time error.
void run_program(const Program& program, const Resolution& resolution, const RunContext& context);

}  // namespace ombrix::host
