// The built-in functions of the script language: printing, conversions, a few numeric and string
// helpers, and draw_point_color for the canvas.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string_view>

#include "value.hpp"

namespace ombrix::host {

class Canvas;

enum class Builtin : std::uint8_t {
    show_debug_message,
    string,
    real,
    is_string,
    is_real,
    floor,
    ceil,
    round,
    abs,
    min,
    max,
    string_length,
    chr,
    ord,
    string_char_at,
    draw_point_color,
};

struct BuiltinInfo {
    std::string_view name;
    Builtin id;
    std::uint8_t min_args;
    std::uint8_t max_args;
};

// The built-in of that name, or nothing.
std::optional<BuiltinInfo> find_builtin(std::string_view name);
const BuiltinInfo& builtin_info(Builtin id);

struct BuiltinContext {
    std::FILE* out = nullptr;  // show_debug_message writes here
    Canvas* canvas = nullptr;  // draw_point_color paints here; null: no canvas
};

// Runs a built-in on arguments whose number the resolver has checked. Throws ScriptError (without
// a position) for arguments of the wrong type or value.
Value call_builtin(Builtin id, std::span<const Value> args, BuiltinContext& context);

}  // namespace ombrix::host
