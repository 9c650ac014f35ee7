// The resolver: binds every called name to a script function, a built-in or an export once, before
// the script runs, and checks what can be checked without running it: that each called function
// exists (suggesting a close name when it does not) and gets a number of arguments it takes, and
// that each script or global variable read is set somewhere in the script.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ast.hpp"
#include "builtins.hpp"
#include "exports.hpp"

namespace ombrix::host {

enum class CallKind : std::uint8_t { builtin, library, script };

struct CallTarget {
    CallKind kind = CallKind::builtin;
    Builtin builtin = 0;
    std::uint32_t export_index = 0;
    std::uint32_t function = 0;       // script functions: index into Program::functions
    std::string_view argument_types;  // exports only
};

struct Resolution {
    std::vector<CallTarget> targets;  // by function name index
};

// Throws ScriptError for the first problem in source order. `exports` may be null (built-ins only).
Resolution resolve(const Program& program, const Exports* exports);

// The candidate closest to `name` by edit distance, ignoring case, if one is close enough to be a
// likely misspelling (at most a quarter of the name's length, and at least one edit allowed).
std::string closest_name(std::string_view name, const std::vector<std::string_view>& candidates);

}  // namespace ombrix::host
