// The built-ins. Numeric ones take reals only and string ones strings only; a value of the other
// type is a script error, as it is in GML.
#include "builtins.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "canvas.hpp"
#include "diagnostic.hpp"

namespace ombrix::host {

namespace {

constexpr BuiltinInfo builtins[] = {
    {"show_debug_message", Builtin::show_debug_message, 1, 1},
    {"string", Builtin::string, 1, 1},
    {"real", Builtin::real, 1, 1},
    {"is_string", Builtin::is_string, 1, 1},
    {"is_real", Builtin::is_real, 1, 1},
    {"floor", Builtin::floor, 1, 1},
    {"ceil", Builtin::ceil, 1, 1},
    {"round", Builtin::round, 1, 1},
    {"abs", Builtin::abs, 1, 1},
    {"min", Builtin::min, 1, 16},
    {"max", Builtin::max, 1, 16},
    {"string_length", Builtin::string_length, 1, 1},
    {"chr", Builtin::chr, 1, 1},
    {"ord", Builtin::ord, 1, 1},
    {"string_char_at", Builtin::string_char_at, 2, 2},
    {"draw_point_color", Builtin::draw_point_color, 3, 3},
};

[[noreturn]] void wrong_type(Builtin id, std::size_t index, const char* wanted, const Value& got) {
    throw ScriptError("argument " + std::to_string(index + 1) + " of " + std::string(builtin_info(id).name) +
                      " must be a " + wanted + ", not a " + kind_name(got.kind));
}

double real_arg(Builtin id, std::span<const Value> args, std::size_t index) {
    if (!args[index].is_real()) wrong_type(id, index, "real", args[index]);
    return args[index].real;
}

const std::string& string_arg(Builtin id, std::span<const Value> args, std::size_t index) {
    if (!args[index].is_string()) wrong_type(id, index, "string", args[index]);
    return args[index].text;
}

std::string as_text(const Value& v) { return v.is_string() ? v.text : format_real(v.real); }

}  // namespace

std::optional<BuiltinInfo> find_builtin(std::string_view name) {
    for (const BuiltinInfo& b : builtins)
        if (b.name == name) return b;
    return std::nullopt;
}

const BuiltinInfo& builtin_info(Builtin id) { return builtins[static_cast<std::size_t>(id)]; }

Value call_builtin(Builtin id, std::span<const Value> args, BuiltinContext& context) {
    switch (id) {
        case Builtin::draw_point_color: {
            if (!context.canvas) throw ScriptError("draw_point_color: no canvas (run with --canvas WIDTH HEIGHT FILE)");
            context.canvas->draw_point(real_arg(id, args, 0), real_arg(id, args, 1), real_arg(id, args, 2));
            return Value::of(0.0);
        }
        case Builtin::show_debug_message: {
            std::string text = as_text(args[0]);
            text.push_back('\n');
            std::fwrite(text.data(), 1, text.size(), context.out);
            return Value::of(0.0);
        }
        case Builtin::string:
            return Value::of(as_text(args[0]));
        case Builtin::real: {
            if (args[0].is_real()) return args[0];
            double x = 0;
            if (!parse_real(args[0].text, x)) throw ScriptError("real: \"" + args[0].text + "\" is not a number");
            return Value::of(x);
        }
        case Builtin::is_string:
            return Value::of(args[0].is_string() ? 1.0 : 0.0);
        case Builtin::is_real:
            return Value::of(args[0].is_real() ? 1.0 : 0.0);
        case Builtin::floor:
            return Value::of(std::floor(real_arg(id, args, 0)));
        case Builtin::ceil:
            return Value::of(std::ceil(real_arg(id, args, 0)));
        // Halves go to the even neighbour (round(0.5) = 0, round(1.5) = 2), the FPU's rounding.
        case Builtin::round:
            return Value::of(std::nearbyint(real_arg(id, args, 0)));
        case Builtin::abs:
            return Value::of(std::fabs(real_arg(id, args, 0)));
        case Builtin::min:
        case Builtin::max: {
            double best = real_arg(id, args, 0);
            for (std::size_t i = 1; i < args.size(); ++i) {
                double x = real_arg(id, args, i);
                best = id == Builtin::min ? std::min(best, x) : std::max(best, x);
            }
            return Value::of(best);
        }
        case Builtin::string_length:
            return Value::of(static_cast<double>(utf8_length(string_arg(id, args, 0))));
        case Builtin::chr:
            return Value::of(utf8_character(truncate_to_int64(real_arg(id, args, 0))));
        case Builtin::ord:
            return Value::of(static_cast<double>(utf8_first_code(string_arg(id, args, 0))));
        case Builtin::string_char_at:
            return Value::of(utf8_character_at(string_arg(id, args, 0), truncate_to_int64(real_arg(id, args, 1))));
    }
    throw ScriptError("unknown built-in");
}

}  // namespace ombrix::host
