// Run-time rules of the script language:
// - A real is true when it is greater than 0.5; nothing else is a condition. Comparisons and the
//   logical operators give 1 or 0; && and || do not evaluate their right side when the left decides.
// - + adds reals or joins strings; mixing the two is an error. - * / div mod take reals only; a zero
//   divisor is an error for all three. div truncates the quotient toward zero and mod keeps the
//   dividend's sign (-7 div 2 = -3, -7 mod 3 = -1).
// - == and != compare any two values: of different kinds they are unequal, arrays are equal when
//   they are the same array. < <= > >= compare two reals or two strings (by bytes), nothing else.
// - & | ^ ~ << >> work on the operands truncated to 64-bit integers; a shift by a count outside
//   0..63 gives 0 (or -1 for >> of a negative value).
// - repeat (n) runs the body n times, n truncated toward zero; NaN or n below 1 runs it no times.
// - Arrays are shared by reference. Writing a[i] makes a an array if it is none yet and grows it,
//   new elements 0; reading outside it is an error. a[i, j] is a[i][j].
// - A function's missing arguments are undefined (or their default); `exit` in a function returns
//   undefined from it, at the top level it ends the script.
#include "evaluator.hpp"

#include <pthread.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "diagnostic.hpp"

namespace ombrix::host {

namespace {

enum class Flow : std::uint8_t { normal, break_loop, continue_loop, exit_script, return_value };

Value truth_value(bool b) { return Value::of(b ? 1.0 : 0.0); }

std::string a_kind(ValueKind kind) {
    std::string name = kind_name(kind);
    return (name[0] == 'a' || name[0] == 'u' ? "an " : "a ") + name;
}

// The lowest address this thread's stack may reach before the evaluator refuses to go deeper, or
// null when the stack's extent is unknown.
const char* stack_floor() {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return nullptr;
    void* low = nullptr;
    std::size_t size = 0;
    int status = pthread_attr_getstack(&attributes, &low, &size);
    pthread_attr_destroy(&attributes);
    if (status != 0 || !low || size == 0) return nullptr;
    // Room for the deepest statement and expression nesting one call may still need.
    std::size_t margin = std::min<std::size_t>(std::size_t{8} << 20, size / 2);
    return static_cast<const char*>(low) + margin;
}

class Evaluator {
public:
    Evaluator(const Program& program, const Resolution& resolution, const RunContext& context)
        : program_(program),
          resolution_(resolution),
          context_(context),
          exports_(context.exports),
          instance_(program.variable_names.size()),
          globals_(program.global_names.size()),
          stack_floor_(stack_floor()) {
        runtime_.out = context.out;
        runtime_.canvas = context.canvas;
        runtime_.parameters = context.parameters;
        if (runtime_.parameters.empty()) runtime_.parameters.emplace_back();
        runtime_.files_allowed = context.files_allowed;
        runtime_.array_limit = context.array_limit;
    }

    int run() {
        locals_.resize(program_.main_local_count);
        try {
            exec(program_.root);
        } catch (const ScriptEnd& end) {
            return end.status;
        }
        return 0;
    }

private:
    [[noreturn]] static void fail(SourcePos pos, std::string message) { throw ScriptError(pos, std::move(message)); }

    // Called once per loop iteration and per call: the step limit and the --timeout flag.
    void tick(SourcePos pos) {
        if ((++steps_ & 1023) != 0) return;
        if (context_.max_steps && steps_ > context_.max_steps) fail(pos, "step limit reached");
        if (context_.stop && context_.stop->load(std::memory_order_relaxed)) fail(pos, context_.stop_message);
    }

    static bool ends_loop(Flow flow) { return flow == Flow::exit_script || flow == Flow::return_value; }

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
            case NodeKind::assign_element:
                assign_element(node);
                return Flow::normal;
            case NodeKind::increment:
                increment(node);
                return Flow::normal;
            case NodeKind::declare:
            case NodeKind::case_label:
                return Flow::normal;
            case NodeKind::if_else: {
                auto kids = program_.kids(node);
                return exec(condition(kids[0]) ? kids[1] : kids[2]);
            }
            case NodeKind::while_loop: {
                auto kids = program_.kids(node);
                while (condition(kids[0])) {
                    tick(node.pos);
                    Flow flow = exec(kids[1]);
                    if (flow == Flow::break_loop) break;
                    if (ends_loop(flow)) return flow;
                }
                return Flow::normal;
            }
            case NodeKind::do_until: {
                auto kids = program_.kids(node);
                do {
                    tick(node.pos);
                    Flow flow = exec(kids[0]);
                    if (flow == Flow::break_loop) break;
                    if (ends_loop(flow)) return flow;
                } while (!condition(kids[1]));
                return Flow::normal;
            }
            case NodeKind::for_loop: {
                auto kids = program_.kids(node);
                if (Flow flow = exec(kids[0]); ends_loop(flow)) return flow;
                while (kids[1] == no_node || condition(kids[1])) {
                    tick(node.pos);
                    Flow flow = exec(kids[3]);
                    if (flow == Flow::break_loop) break;
                    if (ends_loop(flow)) return flow;
                    exec(kids[2]);
                }
                return Flow::normal;
            }
            case NodeKind::repeat: {
                auto kids = program_.kids(node);
                Value count = eval(kids[0]);
                if (!count.is_real())
                    fail(program_.position(kids[0], node.pos), "repeat needs a real count, not " + a_kind(count.kind));
                // Truncated toward zero; beyond 2^63 it may as well be forever.
                double n = count.real >= 9.2e18 ? 9.2e18 : count.real;
                for (std::int64_t i = 0, times = n >= 1 ? static_cast<std::int64_t>(n) : 0; i < times; ++i) {
                    tick(node.pos);
                    Flow flow = exec(kids[1]);
                    if (flow == Flow::break_loop) break;
                    if (ends_loop(flow)) return flow;
                }
                return Flow::normal;
            }
            case NodeKind::switch_block:
                return run_switch(node);
            case NodeKind::return_value: {
                auto kids = program_.kids(node);
                return_value_ = kids.empty() ? Value::undefined() : eval(kids[0]);
                return Flow::return_value;
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

    // Case values are compared with == in order until one matches; then the statements run from
    // there, through later labels, until break or the end (default when nothing matches).
    Flow run_switch(const Node& node) {
        auto kids = program_.kids(node);
        Value subject = eval(kids[0]);
        std::size_t start = kids.size(), fallback = kids.size();
        for (std::size_t i = 1; i < kids.size(); ++i) {
            const Node& item = program_[kids[i]];
            if (is_immediate(kids[i]) || item.kind != NodeKind::case_label) continue;
            auto label = program_.kids(item);
            if (label.empty()) {
                fallback = i;
            } else if (same_value(eval(label[0]), subject)) {
                start = i;
                break;
            }
        }
        if (start == kids.size()) start = fallback;
        for (std::size_t i = start; i < kids.size(); ++i) {
            Flow flow = exec(kids[i]);
            if (flow == Flow::break_loop) return Flow::normal;
            if (flow != Flow::normal) return flow;
        }
        return Flow::normal;
    }

    bool condition(NodeIndex index) {
        Value v = eval(index);
        if (!v.is_real()) fail(program_.position(index, {}), a_kind(v.kind) + " cannot be a condition");
        return v.real > 0.5;
    }

    Value& storage(Scope scope, std::uint32_t slot) {
        switch (scope) {
            case Scope::local:
                return locals_[frame_base_ + slot];
            case Scope::global:
                return globals_[slot];
            case Scope::instance:
                break;
        }
        return instance_[slot];
    }

    [[noreturn, gnu::noinline]] void read_unset(const Node& node) const {
        fail(node.pos, "variable '" + program_.name_of(node, current_function_) + "' is read before it is set");
    }

    void assign(const Node& node) {
        Value value = eval(program_.kids(node)[0]);
        Value& target = storage(node.scope, node.ref);
        if (node.op == Op::assign) {
            target = std::move(value);
            return;
        }
        if (target.kind == ValueKind::unset) read_unset(node);
        combine_into(target, node.op, node.pos, value);
    }

    // target op= value.
    static void combine_into(Value& target, Op op, SourcePos pos, const Value& value) {
        if (op == Op::add && target.is_string() && value.is_string()) {
            check_join(pos, target, value);
            target.text += value.text;  // s += "..." grows the string in place
            return;
        }
        target = arithmetic(op, pos, target, value);
    }

    void assign_element(const Node& node) {
        auto kids = program_.kids(node);
        Value value = eval(kids[1]);
        Value& target = element(kids[0]);
        if (node.op == Op::assign) {
            target = std::move(value);
            return;
        }
        combine_into(target, node.op, node.pos, value);
    }

    Value increment(const Node& node) {
        NodeIndex target_index = program_.kids(node)[0];
        const Node& target_node = program_[target_index];
        Value& target = target_node.kind == NodeKind::variable ? storage(target_node.scope, target_node.ref)
                                                               : element(target_index);
        if (target.kind == ValueKind::unset) read_unset(target_node);
        if (!target.is_real())
            fail(node.pos, std::string("operator '") + (node.op == Op::add ? "++" : "--") + "' needs a real, not " +
                               a_kind(target.kind));
        double old = target.real;
        target.real = node.op == Op::add ? old + 1 : old - 1;
        return Value::of(node.flag ? target.real : old);
    }

    // The storage an element target names, made as writing it makes it: arrays come into being and
    // grow, ds_list entries grow, ds_map keys are added. Every index is evaluated before any
    // storage is touched, so no reference is held while script code runs.
    Value& element(NodeIndex target) {
        std::vector<NodeIndex> chain;
        NodeIndex at = target;
        while (!is_immediate(at) && program_[at].kind == NodeKind::index) {
            chain.push_back(at);
            at = program_.kids(program_[at])[0];
        }
        if (is_immediate(at) || program_[at].kind != NodeKind::variable)
            fail(program_.position(at, program_[target].pos), "cannot assign to an element of this expression");
        std::vector<Value> keys(chain.size());
        for (std::size_t k = chain.size(); k-- > 0;) keys[k] = eval(program_.kids(program_[chain[k]])[1]);
        Value* current = &storage(program_[at].scope, program_[at].ref);
        for (std::size_t k = chain.size(); k-- > 0;) {
            const Node& step = program_[chain[k]];
            switch (step.accessor) {
                case Accessor::array: {
                    std::size_t i = array_index(step, keys[k]);
                    if (!current->is_array()) *current = Value::of(runtime_.new_array(0));
                    ArrayData& array = *current->array;
                    if (i >= array.items.size()) with_position(step.pos, [&] { runtime_.grow(array, i + 1); });
                    current = &array.items[i];
                    break;
                }
                case Accessor::list: {
                    std::vector<Value>& list = list_of(step, *current);
                    std::size_t i = array_index(step, keys[k]);
                    with_position(step.pos, [&] { runtime_.check_length(i + 1); });
                    if (i >= list.size()) list.resize(i + 1, Value::of(0.0));
                    current = &list[i];
                    break;
                }
                case Accessor::map:
                    current = &map_of(step, *current)[map_key(step, keys[k])];
                    break;
            }
        }
        return *current;
    }

    template <class Work>
    static void with_position(SourcePos pos, Work work) {
        try {
            work();
        } catch (ScriptError& error) {
            if (error.pos.line == 0) error.pos = pos;
            throw;
        }
    }

    static std::size_t array_index(const Node& step, const Value& key) {
        if (!key.is_real()) fail(step.pos, "an index must be a real, not " + a_kind(key.kind));
        if (!(key.real >= 0)) fail(step.pos, "index " + format_real(key.real) + " is negative");
        if (key.real >= 9.0e15) fail(step.pos, "index " + format_real(key.real) + " is too large");
        return static_cast<std::size_t>(key.real);
    }

    std::vector<Value>& list_of(const Node& step, const Value& id) {
        auto* list = id.is_real() ? runtime_.find_list(id.real) : nullptr;
        if (!list) fail(step.pos, "[| needs a ds_list's ID, and " + to_text(id) + " is none");
        return *list;
    }

    std::map<MapKey, Value>& map_of(const Node& step, const Value& id) {
        auto* map = id.is_real() ? runtime_.find_map(id.real) : nullptr;
        if (!map) fail(step.pos, "[? needs a ds_map's ID, and " + to_text(id) + " is none");
        return *map;
    }

    static MapKey map_key(const Node& step, const Value& key) {
        if (key.is_real()) return {false, key.real, {}};
        if (key.is_string()) return {true, 0, key.text};
        fail(step.pos, "a ds_map key must be a real or a string, not " + a_kind(key.kind));
    }

    Value read_index(const Node& node) {
        auto kids = program_.kids(node);
        Value base = eval(kids[0]);
        Value key = eval(kids[1]);
        switch (node.accessor) {
            case Accessor::list: {
                std::vector<Value>& list = list_of(node, base);
                std::size_t i = array_index(node, key);
                return i < list.size() ? list[i] : Value::undefined();
            }
            case Accessor::map: {
                auto& map = map_of(node, base);
                auto it = map.find(map_key(node, key));
                return it == map.end() ? Value::undefined() : it->second;
            }
            case Accessor::array:
                break;
        }
        if (!base.is_array()) fail(node.pos, "cannot index " + a_kind(base.kind) + " (not an array)");
        std::size_t i = array_index(node, key);
        if (i >= base.array->items.size())
            fail(node.pos, "index " + std::to_string(i) + " is outside the array (length " +
                               std::to_string(base.array->items.size()) + ")");
        return base.array->items[i];
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
                const Value& v = storage(node.scope, node.ref);
                if (v.kind == ValueKind::unset) read_unset(node);
                return v;
            }
            case NodeKind::call:
                return call(node);
            case NodeKind::unary:
                return unary(node);
            case NodeKind::binary:
                return binary(node);
            case NodeKind::index:
                return read_index(node);
            case NodeKind::array_literal: {
                auto kids = program_.kids(node);
                std::vector<Value> items;
                items.reserve(kids.size());
                for (NodeIndex item : kids) items.push_back(eval(item));
                auto array = runtime_.new_array(0);
                array->items = std::move(items);
                return Value::of(std::move(array));
            }
            case NodeKind::ternary: {
                auto kids = program_.kids(node);
                return eval(condition(kids[0]) ? kids[1] : kids[2]);
            }
            case NodeKind::increment:
                return increment(node);
            case NodeKind::argument:
                return argument(node);
            case NodeKind::argument_count:
                if (current_function_ == no_function) fail(node.pos, "argument_count used outside a function");
                return Value::of(static_cast<double>(args_count_));
            case NodeKind::current_time:
                return Value::of(std::floor(runtime_.seconds_since_start() * 1000));
            case NodeKind::undefined:
                return Value::undefined();
            default:
                fail(node.pos, "statement used as an expression");
        }
    }

    Value argument(const Node& node) {
        if (current_function_ == no_function) fail(node.pos, "argument used outside a function");
        Value n = eval(program_.kids(node)[0]);
        if (!n.is_real() || !(n.real >= 0))
            fail(node.pos, "an argument's number must be a real from 0, not " + to_text(n));
        if (n.real >= static_cast<double>(args_count_)) return Value::undefined();
        return stack_[args_base_ + static_cast<std::size_t>(n.real)];
    }

    Value unary(const Node& node) {
        NodeIndex operand = program_.kids(node)[0];
        if (node.op == Op::logical_not) return truth_value(!condition(operand));
        Value v = eval(operand);
        if (!v.is_real())
            fail(node.pos, std::string("operator '") + spelling(node.op) + "' needs a real, not " + a_kind(v.kind));
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
        if (!a.is_real() || !b.is_real()) return on_other_kinds(op, pos, a, b);
        double x = a.real, y = b.real;
        switch (op) {
            case Op::add:
                return Value::of(x + y);
            case Op::subtract:
                return Value::of(x - y);
            case Op::multiply:
                return Value::of(x * y);
            case Op::divide:
                if (y == 0) fail(pos, "division by zero");
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

    static Value on_other_kinds(Op op, SourcePos pos, const Value& a, const Value& b) {
        if (op == Op::equal) return truth_value(same_value(a, b));
        if (op == Op::not_equal) return truth_value(!same_value(a, b));
        if (a.kind != b.kind)
            fail(pos, std::string("operator '") + spelling(op) + "' cannot combine " + a_kind(a.kind) + " and " +
                          a_kind(b.kind));
        if (!a.is_string())
            fail(pos,
                 std::string("operator '") + spelling(op) + "' needs reals or strings, not " + kind_name(a.kind) + "s");
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
        switch (target.kind) {
            case CallKind::builtin:
                with_position(node.pos, [&] { result = call_builtin(target.builtin, args, runtime_); });
                break;
            case CallKind::script:
                result = call_script(node, target.function, base, kids.size());
                break;
            case CallKind::library:
                for (std::size_t i = 0; i < args.size(); ++i) {
                    bool want_string = target.argument_types[i] == 's';
                    if (args[i].is_string() != want_string || (!want_string && !args[i].is_real()))
                        fail(program_.position(kids[i], node.pos),
                             "argument " + std::to_string(i + 1) + " of " +
                                 std::string(exports_->name(target.export_index)) + " must be a " +
                                 (want_string ? "string" : "real") + ", not " + a_kind(args[i].kind));
                }
                result = exports_->call(target.export_index, args);
                break;
        }
        stack_.resize(base);
        return result;
    }

    Value call_script(const Node& node, std::uint32_t index, std::size_t args_base, std::size_t args_count) {
        const Function& function = program_.functions[index];
        tick(node.pos);
        char here;
        if (call_depth_ >= max_call_depth)
            fail(node.pos, "recursion too deep: more than " + std::to_string(max_call_depth) +
                               " nested calls of script functions (in '" + function.name + "')");
        if (stack_floor_ && &here < stack_floor_)
            fail(node.pos, "recursion too deep: the runner's stack is used up (in '" + function.name + "')");
        struct Saved {
            std::size_t frame_base, function, args_base, args_count;
        } saved{frame_base_, current_function_, args_base_, args_count_};
        std::size_t frame = locals_.size();
        locals_.resize(frame + function.local_count);
        frame_base_ = frame;
        current_function_ = index;
        args_base_ = args_base;
        args_count_ = args_count;
        ++call_depth_;
        for (std::uint32_t i = 0; i < function.parameter_count; ++i) {
            if (i < args_count) {
                locals_[frame + i] = stack_[args_base + i];
            } else if (function.defaults[i] != no_node) {
                Value v = eval(function.defaults[i]);
                locals_[frame + i] = std::move(v);
            } else {
                locals_[frame + i] = Value::undefined();
            }
        }
        Flow flow = exec(function.body);
        Value result = flow == Flow::return_value ? std::move(return_value_) : Value::undefined();
        --call_depth_;
        locals_.resize(frame);
        frame_base_ = saved.frame_base;
        current_function_ = saved.function;
        args_base_ = saved.args_base;
        args_count_ = saved.args_count;
        return result;
    }

    static constexpr std::size_t no_function = SIZE_MAX;

    const Program& program_;
    const Resolution& resolution_;
    const RunContext& context_;
    Exports* exports_;
    Runtime runtime_;
    std::vector<Value> instance_;
    std::vector<Value> globals_;
    std::vector<Value> locals_;
    std::vector<Value> stack_;
    Value return_value_;
    std::size_t frame_base_ = 0;
    std::size_t current_function_ = no_function;
    std::size_t args_base_ = 0;
    std::size_t args_count_ = 0;
    int call_depth_ = 0;
    std::uint64_t steps_ = 0;
    const char* stack_floor_;
};

}  // namespace

int run_program(const Program& program, const Resolution& resolution, const RunContext& context) {
    return Evaluator(program, resolution, context).run();
}

}  // namespace ombrix::host
