// The resolver: binds every called name to a built-in or an export once, before the script runs,
// and checks what can be checked without running it: that each called function exists and gets a
// number of arguments it takes, and that each variable read is set somewhere in the script.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "ast.hpp"
#include "builtins.hpp"
#include "exports.hpp"

namespace ombrix::host {

struct CallTarget {
    bool is_builtin = false;
    Builtin builtin = Builtin::show_debug_message;
    std::uint32_t export_index = 0;
    std::string_view argument_types;  // exports only
};

struct Resolution {
    std::vector<CallTarget> targets;  // by function name index
};

// Throws ScriptError for the first problem in source order. `exports` may be null (built-ins only).
Resolution resolve(const Program& program, const Exports* exports);

}  // namespace ombrix::host
