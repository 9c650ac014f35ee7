// The resolver walks the node pool once (no recursion) and keeps the earliest error it finds.
#include "resolver.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_map>

#include "diagnostic.hpp"

namespace ombrix::host {

namespace {

// Families of GML functions that need what a runner without a game has not: a name with one of
// these prefixes is refused as such rather than only as unknown.
constexpr std::string_view unsupported_families[] = {
    "instance_",    "object_",   "draw_",
    "sprite_",      "room_",     "layer_",
    "camera_",      "view_",     "window_",
    "display_",     "surface_",  "shader_",
    "audio_",       "keyboard_", "mouse_",
    "gamepad_",     "device_",   "physics_",
    "path_",        "timeline_", "font_",
    "tile",         "event_",    "alarm",
    "method",       "struct_",   "variable_instance_",
    "file_text_",   "file_bin_", "buffer_",
    "ds_grid_",     "ds_stack_", "ds_queue_",
    "ds_priority_", "network_",  "http_",
    "json_",
};

const char* unsupported_family(std::string_view name) {
    for (std::string_view prefix : unsupported_families)
        if (name.substr(0, prefix.size()) == prefix) return " (not supported by this runner)";
    return "";
}

std::string plural_arguments(std::size_t n) { return std::to_string(n) + (n == 1 ? " argument" : " arguments"); }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// Edit distance ignoring ASCII case, where an insertion, a deletion, a substitution or swapping
// two neighbours counts one (optimal string alignment); gives up (returning limit + 1) once every
// alignment passes limit.
std::size_t distance(std::string_view a, std::string_view b, std::size_t limit) {
    if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > limit) return limit + 1;
    std::vector<std::size_t> before(b.size() + 1), previous(b.size() + 1), row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        row[0] = i;
        std::size_t best = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
            row[j] = std::min({previous[j] + 1, row[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1]))
                row[j] = std::min(row[j], before[j - 2] + 1);
            best = std::min(best, row[j]);
        }
        if (best > limit) return limit + 1;
        std::swap(before, previous);
        std::swap(previous, row);
    }
    return previous[b.size()];
}

}  // namespace

std::string closest_name(std::string_view name, const std::vector<std::string_view>& candidates) {
    const std::size_t limit = std::max<std::size_t>(1, name.size() / 4);
    std::string_view best;
    std::size_t best_distance = limit + 1;
    for (std::string_view candidate : candidates) {
        if (candidate == name) continue;
        std::size_t d = distance(name, candidate, std::min(limit, best_distance));
        if (d < best_distance) {
            best_distance = d;
            best = candidate;
        }
    }
    return std::string(best);
}

Resolution resolve(const Program& program, const Exports* exports) {
    std::optional<ScriptError> first;
    auto report = [&](SourcePos pos, std::string message) {
        if (!first || pos < first->pos) first.emplace(pos, std::move(message));
    };
    // Only an error that comes first is worth the search for a suggestion.
    auto would_be_first = [&](SourcePos pos) { return !first || pos < first->pos; };

    std::unordered_map<std::string_view, std::uint32_t> functions;
    for (std::size_t i = 0; i < program.functions.size(); ++i) {
        const Function& f = program.functions[i];
        functions.emplace(f.name, static_cast<std::uint32_t>(i));
        if (find_builtin(f.name))
            report(f.pos, "function '" + f.name + "' has the name of a built-in function");
        else if (exports && exports->find(f.name))
            report(f.pos, "function '" + f.name + "' has the name of a library export");
    }

    // Each distinct name is looked up once; call sites then share the result.
    Resolution resolution;
    std::vector<bool> known(program.function_names.size(), false);
    resolution.targets.resize(program.function_names.size());
    for (std::size_t i = 0; i < program.function_names.size(); ++i) {
        const std::string& name = program.function_names[i];
        CallTarget& target = resolution.targets[i];
        if (auto script = functions.find(name); script != functions.end()) {
            target.kind = CallKind::script;
            target.function = script->second;
            known[i] = true;
        } else if (auto builtin = find_builtin(name)) {
            target.kind = CallKind::builtin;
            target.builtin = *builtin;
            known[i] = true;
        } else if (auto index = exports ? exports->find(name) : std::nullopt) {
            target.kind = CallKind::library;
            target.export_index = *index;
            target.argument_types = exports->argument_types(*index);
            known[i] = true;
        }
    }

    std::vector<std::string_view> function_names;
    auto function_candidates = [&]() -> const std::vector<std::string_view>& {
        if (function_names.empty()) {
            for (const BuiltinInfo& b : all_builtins()) function_names.push_back(b.name);
            for (const Function& f : program.functions) function_names.push_back(f.name);
            if (exports)
                for (std::uint32_t i = 0; i < exports->size(); ++i) function_names.push_back(exports->name(i));
        }
        return function_names;
    };

    std::vector<bool> assigned(program.variable_names.size(), false);
    std::vector<bool> global_assigned(program.global_names.size(), false);
    auto mark = [&](const Node& node) {
        if (node.scope == Scope::instance) assigned[node.ref] = true;
        if (node.scope == Scope::global) global_assigned[node.ref] = true;
    };
    for (const Node& node : program.nodes) {
        if (node.kind == NodeKind::assign || node.kind == NodeKind::declare) mark(node);
        if (node.kind == NodeKind::assign_element) {
            // a[i] = x sets a.
            NodeIndex at = program.kids(node)[0];
            while (!is_immediate(at) && program[at].kind == NodeKind::index) at = program.kids(program[at])[0];
            if (!is_immediate(at) && program[at].kind == NodeKind::variable) mark(program[at]);
        }
    }

    for (const Node& node : program.nodes) {
        if (node.kind == NodeKind::variable && node.scope == Scope::instance && !assigned[node.ref]) {
            if (!would_be_first(node.pos)) continue;
            const std::string& name = program.variable_names[node.ref];
            std::vector<std::string_view> names;
            for (std::size_t i = 0; i < assigned.size(); ++i)
                if (assigned[i]) names.push_back(program.variable_names[i]);
            std::string close = closest_name(name, names);
            report(node.pos,
                   "unknown variable '" + name + "'" + (close.empty() ? "" : " (did you mean '" + close + "'?)"));
        } else if (node.kind == NodeKind::variable && node.scope == Scope::global && !global_assigned[node.ref]) {
            report(node.pos, "unknown global variable '" + program.global_names[node.ref] + "'");
        } else if (node.kind == NodeKind::call) {
            const std::string& name = program.function_names[node.ref];
            if (!known[node.ref]) {
                if (!would_be_first(node.pos)) continue;
                bool missing = exports && exports->listed_but_missing(name);
                const char* family = missing ? "" : unsupported_family(name);
                std::string close = missing ? "" : closest_name(name, function_candidates());
                report(node.pos, "unknown function '" + name + "'" +
                                     (missing ? " (the library does not export it)" : "") + family +
                                     (close.empty() ? "" : " (did you mean '" + close + "'?)"));
                continue;
            }
            const CallTarget& target = resolution.targets[node.ref];
            if (target.kind == CallKind::script) continue;  // missing arguments are undefined, extra ones argument[n]
            std::size_t given = node.children.count;
            std::size_t min_args = target.argument_types.size(), max_args = min_args;
            if (target.kind == CallKind::builtin) {
                min_args = builtin_info(target.builtin).min_args;
                max_args = builtin_info(target.builtin).max_args;
            }
            if (given < min_args || given > max_args) {
                std::string wanted = min_args == max_args ? plural_arguments(min_args)
                                     : max_args > 1 && min_args + 1 == max_args
                                         ? std::to_string(min_args) + " or " + plural_arguments(max_args)
                                         : std::to_string(min_args) + " to " + plural_arguments(max_args);
                report(node.pos, name + " takes " + wanted + ", not " + std::to_string(given));
            }
        }
    }
    if (first) throw *first;
    return resolution;
}

}  // namespace ombrix::host
