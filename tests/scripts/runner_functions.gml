// Script functions: parameters, defaults, argument access, recursion, locals and exit.
function add(a, b = 10) {
    return a + b;
}
function count_args() {
    var text = string(argument_count) + ":";
    for (var i = 0; i < argument_count; i++) text += " " + string(argument[i]);
    return text;
}
function fib(n) {
    if (n < 2) return n;
    return fib(n - 1) + fib(n - 2);
}
function nothing() {
}
function early(x) {
    if (x > 0) exit;
    return "not positive";
}
function uses_numbered() {
    return argument0 * argument1;
}
function bump() {
    calls += 1;  // a script variable: shared by all functions
    var calls_here = calls;  // a local: gone after the call
    return calls_here;
}

show_debug_message(add(1));
show_debug_message(add(1, 2));
show_debug_message(count_args(4, "x", 1.5));
show_debug_message(fib(15));
show_debug_message(nothing());
show_debug_message(is_undefined(early(3)));
show_debug_message(early(-3));
show_debug_message(uses_numbered(6, 7));
calls = 0;
bump();
bump();
show_debug_message(bump());
show_debug_message(before_its_declaration(2));
function before_its_declaration(x) { return x * 100; }
// A function sees no local of its caller: this `i` is the caller's local, the loop in
// count_args has its own.
var i = 42;
count_args(1, 2, 3);
show_debug_message(i);
