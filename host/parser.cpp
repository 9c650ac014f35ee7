// The parser. Statements end with an optional semicolon; conditions need no parentheses (they are
// ordinary expressions); `then` after an if-condition and `begin`/`end` for braces are accepted.
// Names are bound here where the script alone decides them: `var` and parameters make locals of
// the enclosing function (or of the top level), from their declaration on; global.name and
// globalvar names are globals; enum members, #macro names and the built-in constants (c_red, pi)
// are replaced by what they stand for; every other name is a script variable, shared by the whole
// run. Constructs of GML that need instances or structs are refused with a message saying so.
// Every recursive step passes a depth guard, and every expression tracks the height of its tree,
// so no script can nest deeper than max_nesting levels (the evaluator recurses along the same tree).
#include "parser.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "builtins.hpp"
#include "lexer.hpp"

namespace ombrix::host {

const char* spelling(Op op) {
    switch (op) {
        case Op::assign:
            return "=";
        case Op::add:
            return "+";
        case Op::subtract:
            return "-";
        case Op::multiply:
            return "*";
        case Op::divide:
            return "/";
        case Op::int_divide:
            return "div";
        case Op::modulo:
            return "mod";
        case Op::equal:
            return "==";
        case Op::not_equal:
            return "!=";
        case Op::less:
            return "<";
        case Op::less_equal:
            return "<=";
        case Op::greater:
            return ">";
        case Op::greater_equal:
            return ">=";
        case Op::logical_and:
            return "&&";
        case Op::logical_or:
            return "||";
        case Op::logical_xor:
            return "^^";
        case Op::bit_and:
            return "&";
        case Op::bit_or:
            return "|";
        case Op::bit_xor:
            return "^";
        case Op::shift_left:
            return "<<";
        case Op::shift_right:
            return ">>";
        case Op::negate:
            return "-";
        case Op::plus:
            return "+";
        case Op::logical_not:
            return "!";
        case Op::bit_not:
            return "~";
    }
    return "?";
}

namespace {

struct BinaryOperator {
    Op op;
    int precedence;  // 0: not a binary operator
};

BinaryOperator binary_operator(Tok kind) {
    switch (kind) {
        case Tok::or_or:
        case Tok::kw_or:
            return {Op::logical_or, 1};
        case Tok::xor_xor:
        case Tok::kw_xor:
            return {Op::logical_xor, 2};
        case Tok::and_and:
        case Tok::kw_and:
            return {Op::logical_and, 3};
        case Tok::equal_equal:
            return {Op::equal, 4};
        case Tok::not_equal:
            return {Op::not_equal, 4};
        case Tok::less:
            return {Op::less, 4};
        case Tok::less_equal:
            return {Op::less_equal, 4};
        case Tok::greater:
            return {Op::greater, 4};
        case Tok::greater_equal:
            return {Op::greater_equal, 4};
        case Tok::pipe:
            return {Op::bit_or, 5};
        case Tok::caret:
            return {Op::bit_xor, 6};
        case Tok::ampersand:
            return {Op::bit_and, 7};
        case Tok::shift_left:
            return {Op::shift_left, 8};
        case Tok::shift_right:
            return {Op::shift_right, 8};
        case Tok::plus:
            return {Op::add, 9};
        case Tok::minus:
            return {Op::subtract, 9};
        case Tok::star:
            return {Op::multiply, 10};
        case Tok::slash:
            return {Op::divide, 10};
        case Tok::kw_div:
            return {Op::int_divide, 10};
        case Tok::percent:
        case Tok::kw_mod:
            return {Op::modulo, 10};
        case Tok::assign:  // in an expression, = compares as in GML
            return {Op::equal, 4};
        default:
            return {Op::assign, 0};
    }
}

// Names GML gives a meaning the runner cannot: each is refused where it appears.
struct Unsupported {
    std::string_view name;
    const char* message;
};
constexpr Unsupported unsupported_names[] = {
    {"self", "'self' is not supported by this runner: no instances"},
    {"other", "'other' is not supported by this runner: no instances"},
    {"all", "'all' is not supported by this runner: no instances"},
    {"new", "'new' is not supported by this runner: no constructors or structs"},
    {"delete", "'delete' is not supported by this runner: no structs"},
    {"static", "'static' is not supported by this runner"},
    {"try", "try/catch is not supported by this runner: a script error ends the script"},
    {"catch", "try/catch is not supported by this runner: a script error ends the script"},
    {"finally", "try/catch is not supported by this runner: a script error ends the script"},
    {"throw", "'throw' is not supported by this runner: a script error ends the script"},
    {"constructor", "constructors are not supported by this runner: no structs"},
};

const char* unsupported_message(std::string_view name) {
    for (const Unsupported& u : unsupported_names)
        if (u.name == name) return u.message;
    return nullptr;
}

// argument0 .. argument15: the number, or -1.
int numbered_argument(std::string_view name) {
    if (name.size() < 9 || name.size() > 10 || name.substr(0, 8) != "argument") return -1;
    int n = 0;
    for (char c : name.substr(8)) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    if (name.size() == 10 && name[8] == '0') return -1;
    return n <= 15 ? n : -1;
}

class Parser {
public:
    explicit Parser(std::string_view source) : source_(source) {
        // Long scripts are mostly calls with literal arguments: about one node per thirty bytes
        // and one child link per eight. Reserving that much spares the regrowth copies.
        program_.nodes.reserve(source.size() / 24 + 16);
        program_.children.reserve(source.size() / 7 + 16);
        // Macros apply everywhere in the script, also before their definition: collect them first.
        if (source.find("#macro") != std::string_view::npos) collect_macros();
        lexers_.emplace_back(source);
        advance();
    }

    Program run() {
        SourcePos start = current_.pos;
        std::size_t base = pending_.size();
        while (current_.kind != Tok::end_of_file) {
            NodeIndex s = parse_statement();
            if (s != no_node) pending_.push_back(s);
        }
        program_.root = add_pending(NodeKind::block, start, base);
        program_.main_local_count = static_cast<std::uint32_t>(program_.main_local_names.size());
        if (!globalvar_names_.empty()) apply_globalvars();
        return std::move(program_);
    }

private:
    // A name as written, kept while the parser looks at the token after it.
    struct Name {
        std::string_view text;
        SourcePos pos;
    };

    // An expression's node and the height of its tree (a leaf is 1).
    struct Expr {
        NodeIndex node;
        int height;
    };

    struct Macro {
        std::size_t body_offset;
        std::size_t body_end;
        SourcePos body_pos;
        bool active = false;
    };

    // The locals of the function being parsed (or of the top level).
    struct LocalScope {
        std::unordered_map<std::string_view, std::uint32_t> slots;
        std::vector<std::string>* names;
    };

    class DepthGuard {
    public:
        explicit DepthGuard(Parser& p) : parser_(p) {
            if (++parser_.depth_ > max_nesting)
                throw ScriptError(parser_.current_.pos,
                                  "nesting too deep (more than " + std::to_string(max_nesting) + " levels)");
        }
        ~DepthGuard() { --parser_.depth_; }
        DepthGuard(const DepthGuard&) = delete;
        DepthGuard& operator=(const DepthGuard&) = delete;

    private:
        Parser& parser_;
    };

    void collect_macros() {
        Lexer lexer(source_);
        for (Token t = lexer.next(); t.kind != Tok::end_of_file; t = lexer.next()) {
            if (t.kind != Tok::macro_definition) continue;
            auto [it, inserted] = macros_.try_emplace(t.string, Macro{t.body_offset, t.body_end, t.body_pos});
            if (!inserted) throw ScriptError(t.pos, "macro '" + t.string + "' is defined twice");
        }
    }

    // The next token, from the innermost macro being expanded or from the script. A macro's name
    // is replaced by its body, except inside its own body (a macro naming itself stays a name).
    void advance() {
        for (;;) {
            current_ = lexers_.back().next();
            if (current_.kind == Tok::end_of_file && lexers_.size() > 1) {
                lexers_.pop_back();
                expanding_.back()->active = false;
                expanding_.pop_back();
                continue;
            }
            if (current_.kind == Tok::macro_definition) {
                if (lexers_.size() > 1) fail_here("#macro inside a macro's body");
                continue;
            }
            if (current_.kind == Tok::identifier && !macros_.empty()) {
                auto it = macros_.find(std::string(current_.text));
                if (it != macros_.end() && !it->second.active) {
                    if (lexers_.size() > 64) fail_here("macros nested more than 64 deep");
                    Macro& m = it->second;
                    m.active = true;
                    expanding_.push_back(&m);
                    lexers_.emplace_back(source_, m.body_offset, m.body_end, m.body_pos);
                    continue;
                }
            }
            return;
        }
    }

    bool accept(Tok kind) {
        if (current_.kind != kind) return false;
        advance();
        return true;
    }

    void expect(Tok kind, const char* what) {
        if (current_.kind != kind) fail_expected(what);
        advance();
    }

    [[noreturn, gnu::noinline, gnu::cold]] void fail_expected(const char* what) const {
        std::string message = std::string("expected ") + what + " but found " + describe(current_);
        if (current_.kind == Tok::assign) message += " (use == to compare)";
        fail_here(message);
    }

    // Error texts are built in these out-of-line functions, so that no recursive parsing function
    // carries their temporaries in its frame.
    [[noreturn, gnu::noinline, gnu::cold]] void fail_here(const std::string& message) const {
        throw ScriptError(current_.pos, message);
    }
    [[noreturn, gnu::noinline, gnu::cold]] void fail_at(SourcePos pos, const std::string& message) const {
        throw ScriptError(pos, message);
    }
    [[noreturn, gnu::noinline, gnu::cold]] void fail_unexpected(const char* wanted) const {
        fail_here(std::string("expected ") + wanted + " but found " + describe(current_));
    }
    [[noreturn, gnu::noinline, gnu::cold]] void fail_outside_loop(const char* what) const {
        fail_here(std::string(what) +
                  (std::string_view(what) == "break" ? " outside a loop or switch" : " outside a loop"));
    }
    [[noreturn, gnu::noinline, gnu::cold]] void fail_unclosed(SourcePos open, Tok closer) const {
        fail_here(std::string("missing '") + (closer == Tok::kw_end ? "end" : "}") + "' to close the block at line " +
                  std::to_string(open.line) + ", column " + std::to_string(open.column));
    }
    [[noreturn, gnu::noinline, gnu::cold]] void fail_no_assignment(std::string_view name) const {
        fail_here("expected an assignment or a call after '" + std::string(name) + "' but found " + describe(current_));
    }

    NodeIndex add_node(Node node) {
        if (program_.nodes.size() >= immediate_tag) throw ScriptError(node.pos, "script too large");
        program_.nodes.push_back(node);
        return static_cast<NodeIndex>(program_.nodes.size() - 1);
    }

    NodeIndex add_node(NodeKind kind, SourcePos pos, std::span<const NodeIndex> kids, Op op = Op::assign,
                       std::uint32_t ref = 0) {
        Node node(kind, pos);
        node.op = op;
        node.ref = ref;
        node.children = {static_cast<std::uint32_t>(program_.children.size()), static_cast<std::uint32_t>(kids.size())};
        program_.children.insert(program_.children.end(), kids.begin(), kids.end());
        return add_node(node);
    }

    // A node whose children are the entries of pending_ from base on, which it takes off the stack.
    // Blocks and argument lists collect their children there, nested ones above outer ones, so
    // parsing allocates nothing per statement or call once the stack has grown.
    NodeIndex add_pending(NodeKind kind, SourcePos pos, std::size_t base, std::uint32_t ref = 0) {
        std::span<const NodeIndex> kids(pending_.data() + base, pending_.size() - base);
        NodeIndex node = add_node(kind, pos, kids, Op::assign, ref);
        pending_.resize(base);
        return node;
    }

    NodeIndex add_number(SourcePos pos, double value) {
        if (fits_immediate(value)) return make_immediate(value);
        Node node(NodeKind::number, pos);
        node.number = value;
        return add_node(node);
    }

    NodeIndex add_leaf(NodeKind kind, SourcePos pos) { return add_node(kind, pos, {}); }

    NodeIndex add_variable(SourcePos pos, Scope scope, std::uint32_t slot) {
        Node node(NodeKind::variable, pos);
        node.scope = scope;
        node.ref = slot;
        return add_node(node);
    }

    static std::uint32_t intern(std::unordered_map<std::string_view, std::uint32_t>& index,
                                std::vector<std::string>& names, std::string_view name) {
        auto [it, inserted] = index.try_emplace(name, static_cast<std::uint32_t>(names.size()));
        if (inserted) names.emplace_back(name);
        return it->second;
    }
    std::uint32_t variable_slot(std::string_view name) {
        return intern(variable_index_, program_.variable_names, name);
    }
    std::uint32_t global_slot(std::string_view name) { return intern(global_index_, program_.global_names, name); }
    std::uint32_t function_index(std::string_view name) {
        return intern(function_index_, program_.function_names, name);
    }
    std::uint32_t declare_local(std::string_view name) { return intern(locals_->slots, *locals_->names, name); }

    // Where a plain name lives: a local declared so far in this function, else a script variable.
    std::pair<Scope, std::uint32_t> bind(std::string_view name) {
        auto it = locals_->slots.find(name);
        if (it != locals_->slots.end()) return {Scope::local, it->second};
        return {Scope::instance, variable_slot(name)};
    }

    // globalvar makes a name global everywhere in the script, also before the declaration.
    void apply_globalvars() {
        std::vector<std::int64_t> global_of(program_.variable_names.size(), -1);
        for (std::size_t i = 0; i < program_.variable_names.size(); ++i)
            if (globalvar_names_.count(program_.variable_names[i]))
                global_of[i] = global_slot_owned(program_.variable_names[i]);
        for (Node& node : program_.nodes) {
            if ((node.kind == NodeKind::variable || node.kind == NodeKind::assign || node.kind == NodeKind::declare) &&
                node.scope == Scope::instance && global_of[node.ref] >= 0) {
                node.scope = Scope::global;
                node.ref = static_cast<std::uint32_t>(global_of[node.ref]);
            }
        }
    }
    std::uint32_t global_slot_owned(const std::string& name) {
        for (std::size_t i = 0; i < program_.global_names.size(); ++i)
            if (program_.global_names[i] == name) return static_cast<std::uint32_t>(i);
        program_.global_names.push_back(name);
        return static_cast<std::uint32_t>(program_.global_names.size() - 1);
    }

    // ---- Statements.

    // Each kind of statement has its own small function: this one recurses once per nesting level,
    // so its frame is kept to the guard and a dispatch.
    NodeIndex parse_statement() {
        DepthGuard guard(*this);
        NodeIndex result = no_node;
        switch (current_.kind) {
            case Tok::semicolon:
                break;  // an empty statement; the semicolon is taken below
            case Tok::left_brace:
            case Tok::kw_begin:
                result = parse_block();
                break;
            case Tok::kw_var:
                result = parse_var();
                break;
            case Tok::kw_if:
                return parse_if();
            case Tok::kw_while:
                return parse_counted_or_while(NodeKind::while_loop);
            case Tok::kw_do:
                result = parse_do_until();
                break;
            case Tok::kw_repeat:
                return parse_counted_or_while(NodeKind::repeat);
            case Tok::kw_for:
                return parse_for();
            case Tok::kw_switch:
                return parse_switch();
            case Tok::kw_case:
            case Tok::kw_default:
                fail_here(std::string("'") + (current_.kind == Tok::kw_case ? "case" : "default") +
                          "' outside a switch");
            case Tok::kw_break:
            case Tok::kw_continue:
            case Tok::kw_exit:
                result = parse_jump();
                break;
            case Tok::kw_return:
                result = parse_return();
                break;
            case Tok::kw_function:
                parse_function();
                return no_node;
            case Tok::kw_globalvar:
                result = parse_globalvar();
                break;
            case Tok::kw_enum:
                parse_enum();
                return no_node;
            case Tok::kw_with:
                fail_here("'with' is not supported by this runner: no instances");
            case Tok::identifier:
            case Tok::plus_plus:
            case Tok::minus_minus:
                result = parse_simple_statement();
                break;
            default:
                fail_unexpected("a statement");
        }
        accept(Tok::semicolon);
        return result;
    }

    NodeIndex parse_if() {
        SourcePos pos = current_.pos;
        advance();
        NodeIndex kids[3];
        kids[0] = parse_expression().node;
        accept(Tok::kw_then);
        kids[1] = parse_statement();
        kids[2] = accept(Tok::kw_else) ? parse_statement() : no_node;
        return add_node(NodeKind::if_else, pos, kids);
    }

    // while (condition) body, or repeat (count) body: an expression, then the loop body.
    NodeIndex parse_counted_or_while(NodeKind kind) {
        SourcePos pos = current_.pos;
        advance();
        NodeIndex kids[2];
        kids[0] = parse_expression().node;
        kids[1] = parse_loop_body();
        return add_node(kind, pos, kids);
    }

    NodeIndex parse_do_until() {
        SourcePos pos = current_.pos;
        advance();
        NodeIndex kids[2];
        kids[0] = parse_loop_body();
        expect(Tok::kw_until, "'until'");
        kids[1] = parse_expression().node;
        return add_node(NodeKind::do_until, pos, kids);
    }

    // break, continue or exit.
    NodeIndex parse_jump() {
        SourcePos pos = current_.pos;
        Tok kind = current_.kind;
        if (kind == Tok::kw_break && breakable_ == 0) fail_outside_loop("break");
        if (kind == Tok::kw_continue && loops_ == 0) fail_outside_loop("continue");
        advance();
        NodeKind node = kind == Tok::kw_break      ? NodeKind::break_loop
                        : kind == Tok::kw_continue ? NodeKind::continue_loop
                                                   : NodeKind::exit_script;
        return add_node(node, pos, {});
    }

    bool ends_statement() const {
        switch (current_.kind) {
            case Tok::semicolon:
            case Tok::right_brace:
            case Tok::kw_end:
            case Tok::end_of_file:
            case Tok::kw_case:
            case Tok::kw_default:
                return true;
            default:
                return false;
        }
    }

    NodeIndex parse_return() {
        SourcePos pos = current_.pos;
        advance();
        if (ends_statement()) return add_node(NodeKind::return_value, pos, {});
        NodeIndex value[] = {parse_expression().node};
        return add_node(NodeKind::return_value, pos, value);
    }

    NodeIndex parse_block() {
        SourcePos open = current_.pos;
        Tok closer = current_.kind == Tok::kw_begin ? Tok::kw_end : Tok::right_brace;
        advance();
        std::size_t base = pending_.size();
        while (!accept(closer)) {
            if (current_.kind == Tok::end_of_file) fail_unclosed(open, closer);
            NodeIndex s = parse_statement();
            if (s != no_node) pending_.push_back(s);
        }
        return add_pending(NodeKind::block, open, base);
    }

    NodeIndex parse_loop_body() {
        ++loops_;
        ++breakable_;
        NodeIndex body = parse_statement();
        --loops_;
        --breakable_;
        return body;
    }

    // switch (x) { case a: ... default: ... }: the subject, then the body's statements with the
    // case labels among them in order.
    NodeIndex parse_switch() {
        SourcePos pos = current_.pos;
        advance();
        std::size_t base = pending_.size();
        pending_.push_back(parse_expression().node);
        SourcePos open = current_.pos;
        Tok closer = current_.kind == Tok::kw_begin ? Tok::kw_end : Tok::right_brace;
        if (!accept(Tok::left_brace) && !accept(Tok::kw_begin)) fail_unexpected("'{' after the switch value");
        ++breakable_;
        bool seen_default = false;
        while (!accept(closer)) {
            if (current_.kind == Tok::end_of_file) fail_unclosed(open, closer);
            if (current_.kind == Tok::kw_case || current_.kind == Tok::kw_default) {
                SourcePos label = current_.pos;
                bool is_default = current_.kind == Tok::kw_default;
                advance();
                if (is_default) {
                    if (seen_default) fail_at(label, "a switch with two defaults");
                    seen_default = true;
                    pending_.push_back(add_node(NodeKind::case_label, label, {}));
                } else {
                    NodeIndex value[] = {parse_expression().node};
                    pending_.push_back(add_node(NodeKind::case_label, label, value));
                }
                expect(Tok::colon, "':' after the case");
                continue;
            }
            NodeIndex s = parse_statement();
            if (s != no_node) pending_.push_back(s);
        }
        --breakable_;
        return add_pending(NodeKind::switch_block, pos, base);
    }

    // var a, b = 1, c: a block of declarations and assignments of locals.
    NodeIndex parse_var() {
        SourcePos pos = current_.pos;
        advance();
        std::size_t base = pending_.size();
        do {
            if (current_.kind != Tok::identifier) fail_unexpected("a variable name");
            SourcePos name_pos = current_.pos;
            std::string_view name = current_.text;
            advance();
            // The initialiser cannot see the local it initialises: `var x = x` reads the outer x.
            NodeIndex value[1] = {no_node};
            if (accept(Tok::assign)) value[0] = parse_expression().node;
            std::uint32_t slot = declare_local(name);
            Node node(value[0] == no_node ? NodeKind::declare : NodeKind::assign, name_pos);
            node.scope = Scope::local;
            node.ref = slot;
            node.children = {static_cast<std::uint32_t>(program_.children.size()), value[0] == no_node ? 0u : 1u};
            if (value[0] != no_node) program_.children.push_back(value[0]);
            pending_.push_back(add_node(node));
        } while (accept(Tok::comma));
        return add_pending(NodeKind::block, pos, base);
    }

    // globalvar a, b;
    NodeIndex parse_globalvar() {
        advance();
        do {
            if (current_.kind != Tok::identifier) fail_unexpected("a variable name after 'globalvar'");
            globalvar_names_.insert(std::string(current_.text));
            global_slot(current_.text);
            advance();
        } while (accept(Tok::comma));
        return no_node;
    }

    // enum Name { a, b = 5, c }: members are constants, each one more than the one before unless
    // given a value.
    void parse_enum() {
        advance();
        if (current_.kind != Tok::identifier) fail_unexpected("the enum's name");
        std::string name(current_.text);
        SourcePos name_pos = current_.pos;
        advance();
        if (enums_.count(name)) fail_at(name_pos, "enum '" + name + "' is declared twice");
        auto& members = enums_[name];
        expect(Tok::left_brace, "'{' after the enum's name");
        double next = 0;
        while (!accept(Tok::right_brace)) {
            if (current_.kind != Tok::identifier) fail_unexpected("an enum member");
            std::string member(current_.text);
            SourcePos member_pos = current_.pos;
            advance();
            if (accept(Tok::assign)) {
                SourcePos value_pos = current_.pos;
                NodeIndex value = parse_expression().node;
                std::optional<double> folded = fold_constant(value);
                if (!folded || *folded != std::trunc(*folded))
                    fail_at(value_pos, "an enum member's value must be a whole-number constant");
                next = *folded;
            }
            if (!members.emplace(member, next).second)
                fail_at(member_pos, "enum member '" + name + "." + member + "' is declared twice");
            next += 1;
            if (!accept(Tok::comma)) {
                expect(Tok::right_brace, "',' or '}' in the enum");
                break;
            }
        }
    }

    // The value of an expression of literals and operators on them, if it is one.
    std::optional<double> fold_constant(NodeIndex index) const {
        if (is_immediate(index)) return immediate_value(index);
        const Node& node = program_.nodes[index];
        if (node.kind == NodeKind::number) return node.number;
        auto kids = program_.kids(node);
        if (node.kind == NodeKind::unary) {
            auto v = fold_constant(kids[0]);
            if (!v) return std::nullopt;
            if (node.op == Op::negate) return -*v;
            if (node.op == Op::plus) return *v;
            if (node.op == Op::bit_not) return static_cast<double>(~truncate_to_int64(*v));
            return std::nullopt;
        }
        if (node.kind != NodeKind::binary) return std::nullopt;
        auto a = fold_constant(kids[0]), b = fold_constant(kids[1]);
        if (!a || !b) return std::nullopt;
        std::int64_t x = truncate_to_int64(*a), y = truncate_to_int64(*b);
        switch (node.op) {
            case Op::add:
                return *a + *b;
            case Op::subtract:
                return *a - *b;
            case Op::multiply:
                return *a * *b;
            case Op::bit_or:
                return static_cast<double>(x | y);
            case Op::bit_and:
                return static_cast<double>(x & y);
            case Op::bit_xor:
                return static_cast<double>(x ^ y);
            case Op::shift_left:
                return y >= 0 && y < 63
                           ? static_cast<double>(static_cast<std::int64_t>(static_cast<std::uint64_t>(x) << y))
                           : 0.0;
            default:
                return std::nullopt;
        }
    }

    // function name(a, b = 1) { body }: hoisted, so callable anywhere in the script.
    void parse_function() {
        SourcePos pos = current_.pos;
        if (in_function_)
            fail_here(
                "functions declared inside a function are not supported by this runner (declare it at the top level)");
        advance();
        if (current_.kind != Tok::identifier) {
            if (current_.kind == Tok::left_paren)
                fail_here("function expressions (method variables) are not supported by this runner");
            fail_unexpected("the function's name");
        }
        Function function;
        function.name = std::string(current_.text);
        function.pos = current_.pos;
        for (const Function& f : program_.functions)
            if (f.name == function.name) fail_here("function '" + function.name + "' is declared twice");
        advance();
        LocalScope scope{{}, &function.local_names};
        LocalScope* outer = locals_;
        locals_ = &scope;
        in_function_ = true;
        int saved_loops = loops_, saved_breakable = breakable_;
        loops_ = breakable_ = 0;
        expect(Tok::left_paren, "'(' after the function's name");
        if (!accept(Tok::right_paren)) {
            do {
                if (current_.kind != Tok::identifier) fail_unexpected("a parameter name");
                std::string_view name = current_.text;
                if (scope.slots.count(name)) fail_here("parameter '" + std::string(name) + "' is named twice");
                declare_local(name);
                advance();
                function.defaults.push_back(accept(Tok::assign) ? parse_expression().node : no_node);
            } while (accept(Tok::comma));
            expect(Tok::right_paren, "',' or ')' in the parameter list");
        }
        function.parameter_count = static_cast<std::uint32_t>(function.local_names.size());
        if (current_.kind == Tok::identifier && current_.text == "constructor")
            fail_here("constructors are not supported by this runner: no structs");
        if (current_.kind != Tok::left_brace && current_.kind != Tok::kw_begin)
            fail_unexpected("'{' to begin the function's body");
        function.body = parse_block();
        function.local_count = static_cast<std::uint32_t>(function.local_names.size());
        locals_ = outer;
        in_function_ = false;
        loops_ = saved_loops;
        breakable_ = saved_breakable;
        program_.functions.push_back(std::move(function));
        (void)pos;
    }

    NodeIndex parse_for() {
        SourcePos pos = current_.pos;
        advance();
        expect(Tok::left_paren, "'(' after 'for'");
        NodeIndex init = no_node, condition = no_node, step = no_node;
        if (current_.kind == Tok::kw_var) {
            init = parse_var();
        } else if (current_.kind != Tok::semicolon) {
            init = parse_simple_statement();
        }
        expect(Tok::semicolon, "';'");
        if (current_.kind != Tok::semicolon) condition = parse_expression().node;
        expect(Tok::semicolon, "';'");
        if (current_.kind != Tok::right_paren) step = parse_simple_statement();
        expect(Tok::right_paren, "')'");
        NodeIndex kids[] = {init, condition, step, parse_loop_body()};
        return add_node(NodeKind::for_loop, pos, kids);
    }

    static bool assignable(const Node& node) { return node.kind == NodeKind::variable || node.kind == NodeKind::index; }

    [[noreturn, gnu::noinline, gnu::cold]] void fail_not_assignable(SourcePos pos) const {
        fail_at(pos, "cannot assign to this expression (only to a variable or an element)");
    }

    NodeIndex checked_target(Expr target, SourcePos pos) const {
        if (is_immediate(target.node) || !assignable(program_.nodes[target.node])) fail_not_assignable(pos);
        return target.node;
    }

    NodeIndex make_increment(SourcePos pos, Op op, NodeIndex target, bool prefix) {
        NodeIndex kids[] = {target};
        NodeIndex node = add_node(NodeKind::increment, pos, kids, op);
        program_.nodes[node].flag = prefix ? 1 : 0;
        return node;
    }

    // An assignment, an increment or a call.
    NodeIndex parse_simple_statement() {
        DepthGuard guard(*this);
        if (current_.kind == Tok::plus_plus || current_.kind == Tok::minus_minus) {
            Op op = current_.kind == Tok::plus_plus ? Op::add : Op::subtract;
            SourcePos pos = current_.pos;
            advance();
            SourcePos target_pos = current_.pos;
            if (current_.kind != Tok::identifier) fail_unexpected("a variable name");
            NodeIndex target = checked_target(parse_postfix(), target_pos);
            return make_increment(pos, op, target, true);
        }
        if (current_.kind != Tok::identifier) fail_unexpected("a statement");
        Name name{current_.text, current_.pos};
        if (const char* message = unsupported_message(name.text)) fail_here(message);
        Expr target = parse_postfix();
        Op op;
        switch (current_.kind) {
            case Tok::plus_plus:
            case Tok::minus_minus: {
                Op step = current_.kind == Tok::plus_plus ? Op::add : Op::subtract;
                NodeIndex node = checked_target(target, name.pos);
                advance();
                return make_increment(name.pos, step, node, false);
            }
            case Tok::assign:
                op = Op::assign;
                break;
            case Tok::plus_assign:
                op = Op::add;
                break;
            case Tok::minus_assign:
                op = Op::subtract;
                break;
            case Tok::star_assign:
                op = Op::multiply;
                break;
            case Tok::slash_assign:
                op = Op::divide;
                break;
            case Tok::percent_assign:
                op = Op::modulo;
                break;
            case Tok::and_assign:
                op = Op::bit_and;
                break;
            case Tok::or_assign:
                op = Op::bit_or;
                break;
            case Tok::xor_assign:
                op = Op::bit_xor;
                break;
            default:
                if (!is_immediate(target.node) && program_.nodes[target.node].kind == NodeKind::call)
                    return target.node;
                fail_no_assignment(name.text);
        }
        NodeIndex node = checked_target(target, name.pos);
        advance();
        NodeIndex value = parse_expression().node;
        const Node& t = program_.nodes[node];
        if (t.kind == NodeKind::variable) {
            // The variable node is replaced by the assignment that names the same slot.
            Scope scope = t.scope;
            std::uint32_t slot = t.ref;
            NodeIndex kids[] = {value};
            NodeIndex assign = add_node(NodeKind::assign, name.pos, kids, op, slot);
            program_.nodes[assign].scope = scope;
            return assign;
        }
        NodeIndex kids[] = {node, value};
        return add_node(NodeKind::assign_element, name.pos, kids, op);
    }

    // ---- Expressions.

    Expr parse_expression() {
        DepthGuard guard(*this);
        Expr condition = parse_binary(1);
        if (current_.kind != Tok::question) return condition;
        SourcePos pos = current_.pos;
        advance();
        Expr if_true = parse_expression();
        expect(Tok::colon, "':' in the conditional expression");
        Expr if_false = parse_expression();
        int height = std::max({condition.height, if_true.height, if_false.height}) + 1;
        check_height(height, pos);
        NodeIndex kids[] = {condition.node, if_true.node, if_false.node};
        return {add_node(NodeKind::ternary, pos, kids), height};
    }

    Expr parse_binary(int min_precedence) {
        Expr left = parse_unary();
        for (;;) {
            BinaryOperator b = binary_operator(current_.kind);
            if (b.precedence < min_precedence) return left;
            SourcePos pos = current_.pos;
            advance();
            Expr right = parse_binary(b.precedence + 1);
            int height = std::max(left.height, right.height) + 1;
            check_height(height, pos);
            NodeIndex kids[] = {left.node, right.node};
            left = {add_node(NodeKind::binary, pos, kids, b.op), height};
        }
    }

    void check_height(int height, SourcePos pos) const {
        if (height > max_nesting)
            throw ScriptError(pos,
                              "expression too deeply nested (more than " + std::to_string(max_nesting) + " levels)");
    }

    Expr parse_unary() {
        Op op;
        switch (current_.kind) {
            case Tok::minus:
                op = Op::negate;
                break;
            case Tok::plus:
                op = Op::plus;
                break;
            case Tok::bang:
            case Tok::kw_not:
                op = Op::logical_not;
                break;
            case Tok::tilde:
                op = Op::bit_not;
                break;
            case Tok::plus_plus:
            case Tok::minus_minus: {
                DepthGuard guard(*this);
                Op step = current_.kind == Tok::plus_plus ? Op::add : Op::subtract;
                SourcePos pos = current_.pos;
                advance();
                SourcePos target_pos = current_.pos;
                Expr target = parse_postfix();
                NodeIndex node = checked_target(target, target_pos);
                return {make_increment(pos, step, node, true), target.height + 1};
            }
            default: {
                Expr operand = parse_postfix();
                if (current_.kind == Tok::plus_plus || current_.kind == Tok::minus_minus) {
                    Op step = current_.kind == Tok::plus_plus ? Op::add : Op::subtract;
                    SourcePos pos = current_.pos;
                    NodeIndex node = checked_target(operand, pos);
                    advance();
                    return {make_increment(pos, step, node, false), operand.height + 1};
                }
                return operand;
            }
        }
        DepthGuard guard(*this);
        SourcePos pos = current_.pos;
        advance();
        Expr operand = parse_unary();
        // A negative literal is a literal.
        if (op == Op::negate && is_immediate(operand.node)) return {add_number(pos, -immediate_value(operand.node)), 1};
        if (op == Op::negate && program_.nodes[operand.node].kind == NodeKind::number) {
            Node& inner = program_.nodes[operand.node];
            inner.number = -inner.number;
            inner.pos = pos;
            return operand;
        }
        NodeIndex kids[] = {operand.node};
        check_height(operand.height + 1, pos);
        return {add_node(NodeKind::unary, pos, kids, op), operand.height + 1};
    }

    // A primary followed by any number of [index], [| index], [? key].
    Expr parse_postfix() {
        Expr base = parse_primary();
        for (;;) {
            Accessor accessor;
            switch (current_.kind) {
                case Tok::left_bracket:
                    accessor = Accessor::array;
                    break;
                case Tok::list_accessor:
                    accessor = Accessor::list;
                    break;
                case Tok::map_accessor:
                    accessor = Accessor::map;
                    break;
                case Tok::grid_accessor:
                    fail_here("the ds_grid accessor [# is not supported by this runner");
                case Tok::struct_accessor:
                    fail_here("the struct accessor [$ is not supported by this runner: no structs");
                case Tok::dot:
                    fail_here("'.' after a value is not supported by this runner: no instances or structs");
                case Tok::left_paren:
                    fail_here("calling a value (a method variable) is not supported by this runner");
                default:
                    return base;
            }
            DepthGuard guard(*this);
            SourcePos pos = current_.pos;
            advance();
            Expr first = parse_expression();
            base = make_index(pos, accessor, base, first);
            // a[i, j] is a[i][j].
            if (accessor == Accessor::array && accept(Tok::comma)) {
                Expr second = parse_expression();
                base = make_index(pos, accessor, base, second);
            }
            expect(Tok::right_bracket, "']'");
        }
    }

    Expr make_index(SourcePos pos, Accessor accessor, Expr base, Expr index) {
        int height = std::max(base.height, index.height) + 1;
        check_height(height, pos);
        NodeIndex kids[] = {base.node, index.node};
        NodeIndex node = add_node(NodeKind::index, pos, kids);
        program_.nodes[node].accessor = accessor;
        return {node, height};
    }

    Expr parse_primary() {
        SourcePos pos = current_.pos;
        switch (current_.kind) {
            case Tok::number: {
                double value = current_.number;
                advance();
                return {add_number(pos, value), 1};
            }
            case Tok::kw_true:
            case Tok::kw_false: {
                double value = current_.kind == Tok::kw_true ? 1 : 0;
                advance();
                return {add_number(pos, value), 1};
            }
            case Tok::string: {
                Node node(NodeKind::string, pos);
                node.ref = static_cast<std::uint32_t>(program_.strings.size());
                program_.strings.push_back(std::move(current_.string));
                advance();
                return {add_node(node), 1};
            }
            case Tok::identifier:
                return parse_name();
            case Tok::left_paren: {
                advance();
                Expr inner = parse_expression();
                expect(Tok::right_paren, "')'");
                return inner;
            }
            case Tok::left_bracket: {
                advance();
                std::size_t base = pending_.size();
                int height = 0;
                while (!accept(Tok::right_bracket)) {
                    Expr item = parse_expression();
                    pending_.push_back(item.node);
                    height = std::max(height, item.height);
                    if (!accept(Tok::comma)) {
                        expect(Tok::right_bracket, "',' or ']' in the array");
                        break;
                    }
                }
                check_height(height + 1, pos);
                return {add_pending(NodeKind::array_literal, pos, base), height + 1};
            }
            case Tok::left_brace:
                fail_here("struct literals are not supported by this runner: no structs");
            case Tok::kw_function:
                fail_here("function expressions (method variables) are not supported by this runner");
            default:
                fail_unexpected("an expression");
        }
    }

    Expr parse_name() {
        Name name{current_.text, current_.pos};
        if (const char* message = unsupported_message(name.text)) fail_here(message);
        advance();
        if (current_.kind == Tok::left_paren) return parse_call(name);
        if (current_.kind == Tok::dot) {
            std::string key(name.text);
            bool is_global = name.text == "global";
            auto found = enums_.find(key);
            if (!is_global && found == enums_.end()) {
                if (locals_->slots.count(name.text) || variable_index_.count(name.text))
                    fail_here("'.' after a value is not supported by this runner: no instances or structs");
                fail_at(
                    name.pos,
                    "unknown enum '" + key +
                        "' (declare an enum before its use; instances and structs are not supported by this runner)");
            }
            advance();
            if (current_.kind != Tok::identifier)
                fail_unexpected(is_global ? "a global variable's name" : "an enum member");
            Name member{current_.text, current_.pos};
            advance();
            if (is_global) return {add_variable(name.pos, Scope::global, global_slot(member.text)), 1};
            auto value = found->second.find(std::string(member.text));
            if (value == found->second.end())
                fail_at(member.pos, "enum '" + key + "' has no member '" + std::string(member.text) + "'");
            return {add_number(name.pos, value->second), 1};
        }
        auto [scope, slot] = bind(name.text);
        if (scope == Scope::instance) {
            if (name.text == "undefined") return {add_leaf(NodeKind::undefined, name.pos), 1};
            if (name.text == "argument_count") return {add_leaf(NodeKind::argument_count, name.pos), 1};
            if (name.text == "current_time") return {add_leaf(NodeKind::current_time, name.pos), 1};
            if (name.text == "argument") {
                if (current_.kind != Tok::left_bracket) fail_unexpected("'[' after 'argument'");
                advance();
                NodeIndex kids[] = {parse_expression().node};
                expect(Tok::right_bracket, "']'");
                return {add_node(NodeKind::argument, name.pos, kids), 2};
            }
            if (int n = numbered_argument(name.text); n >= 0) {
                NodeIndex kids[] = {make_immediate(n)};
                return {add_node(NodeKind::argument, name.pos, kids), 1};
            }
            if (auto constant = find_constant(name.text)) return {add_number(name.pos, *constant), 1};
            // The slot was interned by bind(); a constant's name must not become a variable.
        }
        return {add_variable(name.pos, scope, slot), 1};
    }

    // The current token is the '(' after the function name.
    Expr parse_call(Name name) {
        advance();
        std::size_t base = pending_.size();
        int height = 0;
        if (!accept(Tok::right_paren)) {
            do {
                Expr arg = parse_expression();
                pending_.push_back(arg.node);
                height = std::max(height, arg.height);
            } while (accept(Tok::comma));
            expect(Tok::right_paren, "',' or ')' in the argument list");
        }
        check_height(height + 1, name.pos);
        return {add_pending(NodeKind::call, name.pos, base, function_index(name.text)), height + 1};
    }

    std::string_view source_;
    std::vector<Lexer> lexers_;
    std::vector<Macro*> expanding_;
    std::unordered_map<std::string, Macro> macros_;
    std::unordered_map<std::string, std::unordered_map<std::string, double>> enums_;
    std::unordered_set<std::string> globalvar_names_;
    Token current_;
    Program program_;
    LocalScope main_scope_{{}, &program_.main_local_names};
    LocalScope* locals_ = &main_scope_;
    bool in_function_ = false;
    int depth_ = 0;
    int loops_ = 0;
    int breakable_ = 0;
    std::vector<NodeIndex> pending_;
    std::unordered_map<std::string_view, std::uint32_t> variable_index_;
    std::unordered_map<std::string_view, std::uint32_t> global_index_;
    std::unordered_map<std::string_view, std::uint32_t> function_index_;
};

}  // namespace

Program parse_program(std::string_view source) { return Parser(source).run(); }

}  // namespace ombrix::host
