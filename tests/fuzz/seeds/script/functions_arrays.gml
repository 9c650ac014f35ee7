var a = [1, 2]; a[3, 1] = "x"; show_debug_message(a);
function f(n, m = 2) { if (n <= 0) return m; return f(n - 1) + argument_count; }
show_debug_message(f(5));
