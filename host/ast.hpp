// The syntax tree. Nodes live in one flat pool and refer to their children by index, so a script of
// a million statements is a few large vectors rather than millions of small allocations, and the
// evaluator walks it without chasing owning pointers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "diagnostic.hpp"

namespace ombrix::host {

// A child reference: either the index of a node in the pool, or, with the top bit set, an integer
// literal held in the reference itself. Exported scripts are a million calls with three integer
// arguments each; immediates keep those arguments out of the pool and out of memory.
using NodeIndex = std::uint32_t;
inline constexpr NodeIndex no_node = UINT32_MAX;
inline constexpr NodeIndex immediate_tag = 0x80000000u;
inline constexpr std::int32_t immediate_bias = 1 << 30;
// Integers in [-2^30, 2^30 - 2] fit, so no immediate collides with no_node.
inline constexpr double min_immediate = -(1 << 30);
inline constexpr double max_immediate = (1 << 30) - 2;

constexpr bool is_immediate(NodeIndex i) { return i != no_node && (i & immediate_tag) != 0; }
constexpr double immediate_value(NodeIndex i) {
    return static_cast<double>(static_cast<std::int32_t>(i & ~immediate_tag) - immediate_bias);
}
// An integral value within the immediate range, -0 excluded (it must keep its sign).
constexpr bool fits_immediate(double x) {
    return x >= min_immediate && x <= max_immediate && x == static_cast<double>(static_cast<std::int32_t>(x)) &&
           !(x == 0 && 1 / x < 0);
}
constexpr NodeIndex make_immediate(double x) {
    return immediate_tag | static_cast<NodeIndex>(static_cast<std::int32_t>(x) + immediate_bias);
}

// Where a variable lives: the script's own variables (what GML calls instance variables; the runner
// has one such set for the whole run), the current function's locals (var and parameters), or
// the globals (global.name, globalvar).
enum class Scope : std::uint8_t { instance, local, global };

// What an index node reads: an array element (a[i], a[@ i]), or the ds_list or ds_map entry whose
// ID the base holds (l[| i], m[? key]).
enum class Accessor : std::uint8_t { array, list, map };

enum class NodeKind : std::uint8_t {
    // Expressions.
    number,          // number
    string,          // ref: index into Program::strings
    variable,        // scope; ref: slot in that scope
    unary,           // op; children: operand
    binary,          // op; children: left, right
    call,            // ref: function name index; children: arguments (also a statement)
    index,           // accessor; children: base, index (a[i, j] is a[i][j])
    array_literal,   // children: items
    ternary,         // children: condition, if true, if false
    increment,       // op (add or subtract); flag 1 for prefix; children: target (also a statement)
    argument,        // children: the argument's number (argument0, argument[n])
    argument_count,  //
    current_time,    // milliseconds since the run began
    undefined,       //
    // Statements.
    block,           // children: statements
    declare,         // scope (local or global); ref: slot (var without initialiser, globalvar)
    assign,          // op (Op::assign or the operator of += -= *= /= ...); scope; ref: slot; children: value
    assign_element,  // op as for assign; children: target (an index node), value
    switch_block,    // children: subject, then statements and case labels
    case_label,      // children: value; none for default
    return_value,    // children: value, or none
    if_else,         // children: condition, then, else (or no_node)
    while_loop,      // children: condition, body
    do_until,        // children: body, condition
    for_loop,        // children: init, condition, step (each may be no_node), body
    repeat,          // children: count, body
    break_loop,
    continue_loop,
    exit_script,
};

enum class Op : std::uint8_t {
    assign,
    // Binary.
    add,
    subtract,
    multiply,
    divide,
    int_divide,
    modulo,
    equal,
    not_equal,
    less,
    less_equal,
    greater,
    greater_equal,
    logical_and,
    logical_or,
    logical_xor,
    bit_and,
    bit_or,
    bit_xor,
    shift_left,
    shift_right,
    // Unary.
    negate,
    plus,
    logical_not,
    bit_not,
};

// How an operator is written, for error messages.
const char* spelling(Op op);

struct Node {
    struct Children {
        std::uint32_t first;  // into Program::children
        std::uint32_t count;
    };

    NodeKind kind;
    Op op = Op::assign;
    Scope scope = Scope::instance;
    Accessor accessor = Accessor::array;
    std::uint8_t flag = 0;
    SourcePos pos;
    std::uint32_t ref = 0;
    union {
        double number;
        Children children;
    };

    Node(NodeKind k, SourcePos p) : kind(k), pos(p), children{0, 0} {}
};

// A script function: `function name(a, b = 1) { ... }`. Parameters are its first locals.
struct Function {
    std::string name;
    SourcePos pos;
    NodeIndex body = no_node;
    std::uint32_t parameter_count = 0;
    std::uint32_t local_count = 0;
    std::vector<NodeIndex> defaults;       // per parameter: its default value's expression, or no_node
    std::vector<std::string> local_names;  // by slot
};

struct Program {
    std::vector<Node> nodes;
    std::vector<NodeIndex> children;
    std::vector<std::string> strings;           // string literals
    std::vector<std::string> variable_names;    // instance variables by slot
    std::vector<std::string> global_names;      // globals by slot
    std::vector<std::string> function_names;    // called names by name index
    std::vector<Function> functions;            // script functions, in source order
    std::vector<std::string> main_local_names;  // by slot
    NodeIndex root = no_node;                   // the outermost block
    std::uint32_t main_local_count = 0;         // locals (var) of the script's top level

    std::span<const NodeIndex> kids(const Node& node) const {
        return {children.data() + node.children.first, node.children.count};
    }
    const Node& operator[](NodeIndex i) const { return nodes[i]; }
    // A variable's name; `function` is the index of the function it is in (SIZE_MAX: top level).
    const std::string& name_of(const Node& variable, std::size_t function) const {
        switch (variable.scope) {
            case Scope::instance:
                return variable_names[variable.ref];
            case Scope::global:
                return global_names[variable.ref];
            case Scope::local:
                break;
        }
        return function < functions.size() ? functions[function].local_names[variable.ref]
                                           : main_local_names[variable.ref];
    }
    // Where an expression starts; an immediate has no node, so it reports the fallback.
    SourcePos position(NodeIndex i, SourcePos fallback) const {
        return i == no_node || is_immediate(i) ? fallback : nodes[i].pos;
    }
};

}  // namespace ombrix::host
