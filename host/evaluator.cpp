// Run-time rules of the script language:
// - A real is true when it is greater than 0.5; a string is not a condition. Comparisons and the
//   logical operators give 1 or 0; && and || do not evaluate their right side when the left decides.
// - + adds reals or joins strings; mixing the two is an error. - * / div mod take reals only; / by
//   zero gives an IEEE infinity or NaN, but div and mod by zero are errors. div truncates the
//   quotient toward zero and mod keeps the dividend's sign (-7 div 2 = -3, -7 mod 3 = -1).
// - Comparisons compare two reals exactly or two strings by bytes; a real and a string do not compare.
// - & | ^ ~ << >> work on the operands truncated to 64-bit integers; a shift by a count outside
//   0..63 gives 0 (or -1 for >> of a negative value).
// - repeat (n) runs the body n times, n truncated toward zero; NaN or n below 1 runs it no times.
#include "evaluator.hpp"

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "diagnostic.hpp"

namespace ombrix::host {

namespace {

enum class Flow : std::uint8_t { normal, break_loop, continue_loop, exit_script };

Value truth_value(bool b) { return Value::of(b ? 1.0 : 0.0); }

class Evaluator {
public:
    Evaluator(const Program& program, const Resolution& resolution, const RunContext& context)
        : program_(program),
          resolution_(resolution),
          exports_(context.exports),
          builtin_context_{context.out, context.canvas},
          variables_(program.variable_names.size()) {}

    void run() { exec(program_.root); }

private:
    [[noreturn]] static void fail(SourcePos pos, std::string message) { throw ScriptError(pos, std::move(message)); }

    Flow exec(NodeIndex index) {
        if (index == no_node || is_immediate(index)) return Flow::normal;
        const Node& node = program_[index];
        switch (node.kind) {
            case NodeKind::block:
                for (NodeIndex statement : program_.kids(node)) {
                    Flow flow = exec(statement);
                    if (flow != Flow::normal) return flow;
                }
                return Flow::normal;
            case NodeKind::call:
                call(node);
                return Flow::normal;
            case NodeKind::assign:
                assign(node);
                return Flow::normal;
            case NodeKind::declare:
                return Flow::normal;
            case NodeKind::if_else: {
                auto kids = program_.kids(node);
                return exec(condition(kids[0]) ? kids[1] : kids[2]);
            }
            case NodeKind::while_loop: {
                auto kids = program_.kids(node);
                while (condition(kids[0])) {
                    Flow flow = exec(kids[1]);
                    if (flow == Flow::break_loop) break;
                    if (flow == Flow::exit_script) return flow;
                }
                return Flow::normal;
            }
            case NodeKind::do_until: {
                auto kids = program_.kids(node);
                do {
                    Flow flow = exec(kids[0]);
                    if (flow == Flow::break_loop) break;
                    if (flow == Flow::exit_script) return flow;
                } while (!condition(kids[1]));
                return Flow::normal;
            }
            case NodeKind::for_loop: {
                auto kids = program_.kids(node);
                if (exec(kids[0]) == Flow::exit_script) return Flow::exit_script;
                while (kids[1] == no_node || condition(kids[1])) {
                    Flow flow = exec(kids[3]);
                    if (flow == Flow::break_loop) break;
                    if (flow == Flow::exit_script) return flow;
                    exec(kids[2]);
                }
                return Flow::normal;
            }
            case NodeKind::repeat: {
                auto kids = program_.kids(node);
                Value count = eval(kids[0]);
                if (!count.is_real())
                    fail(program_.position(kids[0], node.pos), "repeat needs a real count, not a string");
                // Truncated toward zero; beyond 2^63 it may as well be forever.
                double n = count.real >= 9.2e18 ? 9.2e18 : count.real;
                for (std::int64_t i = 0, times = n >= 1 ? static_cast<std::int64_t>(n) : 0; i < times; ++i) {
                    Flow flow = exec(kids[1]);
                    if (flow == Flow::break_loop) break;
                    if (flow == Flow::exit_script) return flow;
                }
                return Flow::normal;
            }
            case NodeKind::break_loop:
                return Flow::break_loop;
            case NodeKind::continue_loop:
                return Flow::continue_loop;
            case NodeKind::exit_script:
                return Flow::exit_script;
            default:
                fail(node.pos, "expression used as a statement");
        }
    }

    bool condition(NodeIndex index) {
        Value v = eval(index);
        if (!v.is_real()) fail(program_.position(index, {}), "a string cannot be a condition");
        return v.real > 0.5;
    }

    void assign(const Node& node) {
        Value value = eval(program_.kids(node)[0]);
        Value& target = variables_[node.ref];
        if (node.op == Op::assign) {
            target = std::move(value);
            return;
        }
        if (target.kind == ValueKind::unset) read_unset(node);
        if (node.op == Op::add && target.is_string() && value.is_string()) {
            check_join(node.pos, target, value);
            target.text += value.text;  // s += "..." grows the string in place
            return;
        }
        target = arithmetic(node.op, node.pos, target, value);
    }

    [[noreturn]] void read_unset(const Node& node) const {
        fail(node.pos, "variable '" + program_.variable_names[node.ref] + "' is read before it is set");
    }

    Value eval(NodeIndex index) {
        if (is_immediate(index)) return Value::of(immediate_value(index));
        const Node& node = program_[index];
        switch (node.kind) {
            case NodeKind::number:
                return Value::of(node.number);
            case NodeKind::string:
                return Value::of(program_.strings[node.ref]);
            case NodeKind::variable: {
                const Value& v = variables_[node.ref];
                if (v.kind == ValueKind::unset) read_unset(node);
                return v;
            }
            case NodeKind::call:
                return call(node);
            case NodeKind::unary:
                return unary(node);
            case NodeKind::binary:
                return binary(node);
            default:
                fail(node.pos, "statement used as an expression");
        }
    }

    Value unary(const Node& node) {
        NodeIndex operand = program_.kids(node)[0];
        if (node.op == Op::logical_not) return truth_value(!condition(operand));
        Value v = eval(operand);
        if (!v.is_real())
            fail(node.pos, std::string("operator '") + spelling(node.op) + "' needs a real, not a string");
        switch (node.op) {
            case Op::negate:
                return Value::of(-v.real);
            case Op::bit_not:
                return Value::of(static_cast<double>(~truncate_to_int64(v.real)));
            default:
                return v;
        }
    }

    Value binary(const Node& node) {
        auto kids = program_.kids(node);
        switch (node.op) {
            case Op::logical_and:
                return truth_value(condition(kids[0]) && condition(kids[1]));
            case Op::logical_or:
                return truth_value(condition(kids[0]) || condition(kids[1]));
            case Op::logical_xor: {
                bool left = condition(kids[0]);
                return truth_value(left != condition(kids[1]));
            }
            default:
                break;
        }
        Value left = eval(kids[0]);
        Value right = eval(kids[1]);
        return arithmetic(node.op, node.pos, left, right);
    }

    // Every binary operator but the logical ones, for expressions and compound assignments alike.
    static Value arithmetic(Op op, SourcePos pos, const Value& a, const Value& b) {
        if (a.is_string() || b.is_string()) return on_strings(op, pos, a, b);
        double x = a.real, y = b.real;
        switch (op) {
            case Op::add:
                return Value::of(x + y);
            case Op::subtract:
                return Value::of(x - y);
            case Op::multiply:
                return Value::of(x * y);
            case Op::divide:
                return Value::of(x / y);
            case Op::int_divide:
                if (y == 0) fail(pos, "division by zero in div");
                return Value::of(std::trunc(x / y));
            case Op::modulo:
                if (y == 0) fail(pos, "division by zero in mod");
                return Value::of(std::fmod(x, y));
            default:
                if (const auto truth = comparison(op, x, y)) return *truth;
                return bitwise(op, truncate_to_int64(x), truncate_to_int64(y));
        }
    }

    // The six comparisons, on reals and on strings alike; nothing for any other operator.
    template <class T>
    static std::optional<Value> comparison(Op op, const T& x, const T& y) {
        switch (op) {
            case Op::equal:
                return truth_value(x == y);
            case Op::not_equal:
                return truth_value(x != y);
            case Op::less:
                return truth_value(x < y);
            case Op::less_equal:
                return truth_value(x <= y);
            case Op::greater:
                return truth_value(x > y);
            case Op::greater_equal:
                return truth_value(x >= y);
            default:
                return std::nullopt;
        }
    }

    static Value bitwise(Op op, std::int64_t x, std::int64_t y) {
        auto ux = static_cast<std::uint64_t>(x);
        switch (op) {
            case Op::bit_and:
                return Value::of(static_cast<double>(x & y));
            case Op::bit_or:
                return Value::of(static_cast<double>(x | y));
            case Op::bit_xor:
                return Value::of(static_cast<double>(x ^ y));
            case Op::shift_left:
                if (y < 0 || y > 63) return Value::of(0.0);
                return Value::of(static_cast<double>(static_cast<std::int64_t>(ux << y)));
            case Op::shift_right:
                if (y < 0 || y > 63) return Value::of(x < 0 ? -1.0 : 0.0);
                return Value::of(static_cast<double>(x >> y));
            default:
                return Value::of(0.0);
        }
    }

    static void check_join(SourcePos pos, const Value& a, const Value& b) {
        if (a.text.size() + b.text.size() > max_string_bytes)
            fail(pos, "string longer than " + std::to_string(max_string_bytes >> 20) + " MiB");
    }

    static Value on_strings(Op op, SourcePos pos, const Value& a, const Value& b) {
        if (a.kind != b.kind)
            fail(pos, std::string("operator '") + spelling(op) + "' cannot combine a " + kind_name(a.kind) + " and a " +
                          kind_name(b.kind));
        const std::string& x = a.text;
        const std::string& y = b.text;
        if (op == Op::add) {
            check_join(pos, a, b);
            return Value::of(x + y);
        }
        if (const auto truth = comparison(op, x, y)) return *truth;
        fail(pos, std::string("operator '") + spelling(op) + "' needs reals, not strings");
    }

    Value call(const Node& node) {
        const CallTarget& target = resolution_.targets[node.ref];
        auto kids = program_.kids(node);
        const std::size_t base = stack_.size();
        for (NodeIndex arg : kids) stack_.push_back(eval(arg));
        std::span<const Value> args(stack_.data() + base, kids.size());
        Value result;
        if (target.is_builtin) {
            try {
                result = call_builtin(target.builtin, args, builtin_context_);
            } catch (ScriptError& error) {
                if (error.pos.line == 0) error.pos = node.pos;
                throw;
            }
        } else {
            for (std::size_t i = 0; i < args.size(); ++i) {
                bool want_string = target.argument_types[i] == 's';
                if (args[i].is_string() != want_string)
                    fail(program_.position(kids[i], node.pos), "argument " + std::to_string(i + 1) + " of " +
                                                                   std::string(exports_->name(target.export_index)) +
                                                                   " must be a " + (want_string ? "string" : "real") +
                                                                   ", not a " + kind_name(args[i].kind));
            }
            result = exports_->call(target.export_index, args);
        }
        stack_.resize(base);
        return result;
    }

    const Program& program_;
    const Resolution& resolution_;
    Exports* exports_;
    BuiltinContext builtin_context_;
    std::vector<Value> variables_;
    std::vector<Value> stack_;
};

}  // namespace

void run_program(const Program& program, const Resolution& resolution, const RunContext& context) {
    Evaluator(program, resolution, context).run();
}

}  // namespace ombrix::host
