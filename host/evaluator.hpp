// The evaluator: walks the resolved syntax tree and runs it. Variables live in vectors indexed by
// the slot the parser gave each name (script variables, globals, and one frame of locals per
// function call on a shared stack), and call arguments on one value stack, so running a call looks
// nothing up by name and allocates nothing once the stacks have grown.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "ast.hpp"
#include "builtins.hpp"
#include "exports.hpp"
#include "resolver.hpp"

namespace ombrix::host {

// The deepest chain of script function calls; one more is a script error, not a crashed runner.
// (The evaluator also stops when the thread's stack runs low, whichever comes first.)
inline constexpr int max_call_depth = 4096;

struct RunContext {
    std::FILE* out = nullptr;                  // show_debug_message
    Canvas* canvas = nullptr;                  // draw_point_color; null: no canvas
    Exports* exports = nullptr;                // must be the one the program was resolved against
    std::vector<std::string> parameters = {};  // parameter_string(0), (1), ...
    const std::atomic<bool>* stop = nullptr;   // when it turns true, the script ends with stop_message
    std::string stop_message = "time limit reached";
    std::uint64_t max_steps = 0;  // loop iterations and calls; 0: no limit
    bool files_allowed = true;    // false: file_exists and file_delete touch nothing
    std::size_t array_limit = max_array_length;
};

// Runs a resolved program to its end, to `exit` or to game_end(). Returns the exit status the
// script chose (0 unless game_end gave one). Throws ScriptError for a run-time error.
int run_program(const Program& program, const Resolution& resolution, const RunContext& context);

}  // namespace ombrix::host
