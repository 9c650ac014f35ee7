// The parser. Statements end with an optional semicolon; conditions need no parentheses (they are
// ordinary expressions); `then` after an if-condition and `begin`/`end` for braces are accepted.
// Every recursive step passes a depth guard, and every expression tracks the height of its tree,
// so no script can nest deeper than max_nesting levels (the evaluator recurses along the same tree).
#include "parser.hpp"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

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
        case Tok::equal:
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
        default:
            return {Op::assign, 0};
    }
}

class Parser {
public:
    explicit Parser(std::string_view source) : lexer_(source) {
        // Long scripts are mostly calls with literal arguments: about one node per thirty bytes
        // and one child link per eight. Reserving that much spares the regrowth copies.
        program_.nodes.reserve(source.size() / 24 + 16);
        program_.children.reserve(source.size() / 7 + 16);
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

    void advance() { current_ = lexer_.next(); }

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
    [[noreturn, gnu::noinline, gnu::cold]] void fail_unexpected(const char* wanted) const {
        fail_here(std::string("expected ") + wanted + " but found " + describe(current_));
    }
    [[noreturn, gnu::noinline, gnu::cold]] void fail_outside_loop(const char* what) const {
        fail_here(std::string(what) + " outside a loop");
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

    static std::uint32_t intern(std::unordered_map<std::string_view, std::uint32_t>& index,
                                std::vector<std::string>& names, std::string_view name) {
        auto [it, inserted] = index.try_emplace(name, static_cast<std::uint32_t>(names.size()));
        if (inserted) names.emplace_back(name);
        return it->second;
    }
    std::uint32_t variable_slot(std::string_view name) {
        return intern(variable_index_, program_.variable_names, name);
    }
    std::uint32_t function_index(std::string_view name) {
        return intern(function_index_, program_.function_names, name);
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
            case Tok::kw_break:
            case Tok::kw_continue:
            case Tok::kw_exit:
                result = parse_jump();
                break;
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
        if (kind != Tok::kw_exit && loops_ == 0) fail_outside_loop(kind == Tok::kw_break ? "break" : "continue");
        advance();
        NodeKind node = kind == Tok::kw_break      ? NodeKind::break_loop
                        : kind == Tok::kw_continue ? NodeKind::continue_loop
                                                   : NodeKind::exit_script;
        return add_node(node, pos, {});
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
        NodeIndex body = parse_statement();
        --loops_;
        return body;
    }

    // var a, b = 1, c: a block of declarations and assignments.
    NodeIndex parse_var() {
        SourcePos pos = current_.pos;
        advance();
        std::size_t base = pending_.size();
        do {
            if (current_.kind != Tok::identifier) fail_unexpected("a variable name");
            SourcePos name_pos = current_.pos;
            std::uint32_t slot = variable_slot(current_.text);
            advance();
            if (accept(Tok::assign)) {
                NodeIndex value[] = {parse_expression().node};
                pending_.push_back(add_node(NodeKind::assign, name_pos, value, Op::assign, slot));
            } else {
                pending_.push_back(add_node(NodeKind::declare, name_pos, {}, Op::assign, slot));
            }
        } while (accept(Tok::comma));
        return add_pending(NodeKind::block, pos, base);
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

    // An assignment, an increment or a call.
    NodeIndex parse_simple_statement() {
        DepthGuard guard(*this);
        if (current_.kind == Tok::plus_plus || current_.kind == Tok::minus_minus) {
            Op op = current_.kind == Tok::plus_plus ? Op::add : Op::subtract;
            SourcePos pos = current_.pos;
            advance();
            if (current_.kind != Tok::identifier) fail_unexpected("a variable name");
            std::uint32_t slot = variable_slot(current_.text);
            advance();
            return make_increment(pos, op, slot);
        }
        if (current_.kind != Tok::identifier) fail_unexpected("a statement");
        Name name{current_.text, current_.pos};
        advance();
        Op op;
        switch (current_.kind) {
            case Tok::left_paren:
                return parse_call(name).node;
            case Tok::plus_plus:
                advance();
                return make_increment(name.pos, Op::add, variable_slot(name.text));
            case Tok::minus_minus:
                advance();
                return make_increment(name.pos, Op::subtract, variable_slot(name.text));
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
            default:
                fail_no_assignment(name.text);
        }
        advance();
        std::uint32_t slot = variable_slot(name.text);
        NodeIndex value[] = {parse_expression().node};
        return add_node(NodeKind::assign, name.pos, value, op, slot);
    }

    NodeIndex make_increment(SourcePos pos, Op op, std::uint32_t slot) {
        NodeIndex one[] = {add_number(pos, 1)};
        return add_node(NodeKind::assign, pos, one, op, slot);
    }

    // ---- Expressions.

    Expr parse_expression() {
        DepthGuard guard(*this);
        return parse_binary(1);
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
            default:
                return parse_primary();
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
            case Tok::identifier: {
                Name name{current_.text, current_.pos};
                advance();
                if (current_.kind == Tok::left_paren) return parse_call(name);
                Node node(NodeKind::variable, pos);
                node.ref = variable_slot(name.text);
                return {add_node(node), 1};
            }
            case Tok::left_paren: {
                advance();
                Expr inner = parse_expression();
                expect(Tok::right_paren, "')'");
                return inner;
            }
            default:
                fail_unexpected("an expression");
        }
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

    Lexer lexer_;
    Token current_;
    Program program_;
    int depth_ = 0;
    int loops_ = 0;
    std::vector<NodeIndex> pending_;
    std::unordered_map<std::string_view, std::uint32_t> variable_index_;
    std::unordered_map<std::string_view, std::uint32_t> function_index_;
};

}  // namespace

Program parse_program(std::string_view source) { return Parser(source).run(); }

}  // namespace ombrix::host
