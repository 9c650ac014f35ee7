// The resolver walks the node pool once (no recursion) and keeps the earliest error it finds.
#include "resolver.hpp"

#include <optional>
#include <string>

#include "diagnostic.hpp"

namespace ombrix::host {

namespace {

std::string plural_arguments(std::size_t n) { return std::to_string(n) + (n == 1 ? " argument" : " arguments"); }

}  // namespace

Resolution resolve(const Program& program, const Exports* exports) {
    std::optional<ScriptError> first;
    auto report = [&](SourcePos pos, std::string message) {
        if (!first || pos < first->pos) first.emplace(pos, std::move(message));
    };

    // Each distinct name is looked up once; call sites then share the result.
    Resolution resolution;
    std::vector<bool> known(program.function_names.size(), false);
    resolution.targets.resize(program.function_names.size());
    for (std::size_t i = 0; i < program.function_names.size(); ++i) {
        const std::string& name = program.function_names[i];
        CallTarget& target = resolution.targets[i];
        if (auto builtin = find_builtin(name)) {
            target.is_builtin = true;
            target.builtin = builtin->id;
            known[i] = true;
        } else if (auto index = exports ? exports->find(name) : std::nullopt) {
            target.export_index = *index;
            target.argument_types = exports->argument_types(*index);
            known[i] = true;
        }
    }

    std::vector<bool> assigned(program.variable_names.size(), false);
    for (const Node& node : program.nodes)
        if (node.kind == NodeKind::assign || node.kind == NodeKind::declare) assigned[node.ref] = true;

    for (const Node& node : program.nodes) {
        if (node.kind == NodeKind::variable && !assigned[node.ref]) {
            report(node.pos, "unknown variable '" + program.variable_names[node.ref] + "'");
        } else if (node.kind == NodeKind::call) {
            const std::string& name = program.function_names[node.ref];
            if (!known[node.ref]) {
                bool missing = exports && exports->listed_but_missing(name);
                report(node.pos,
                       "unknown function '" + name + "'" + (missing ? " (the library does not export it)" : ""));
                continue;
            }
            const CallTarget& target = resolution.targets[node.ref];
            std::size_t given = node.children.count;
            std::size_t min_args = target.argument_types.size(), max_args = min_args;
            if (target.is_builtin) {
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
