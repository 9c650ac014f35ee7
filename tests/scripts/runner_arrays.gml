// Arrays: literals, growth on write, two dimensions, reference sharing and the array built-ins.
var a = [3, 1, 2];
show_debug_message(a);
show_debug_message(array_length(a));
a[4] = "end";  // grows, the gap filled with 0
show_debug_message(a);

var grid;
grid[1, 2] = 7;  // a[i, j] is a[i][j]
grid[0][1] = 5;
show_debug_message(grid);
show_debug_message(array_length(grid[1]));
show_debug_message(grid[1, 2] + grid[0][1]);

// Arrays are shared by reference: a function changes the caller's array.
function fill(target, value) {
    for (var i = 0; i < array_length(target); i++) target[i] = value;
}
var shared = array_create(3, 1);
var alias = shared;
fill(alias, 9);
show_debug_message(shared);
show_debug_message(shared == alias);
show_debug_message([1] == [1]);

array_push(shared, 10, 11);
show_debug_message(array_pop(shared));
array_insert(shared, 0, "first");
array_delete(shared, 1, 2);
show_debug_message(shared);
array_resize(shared, 2);
show_debug_message(shared);
var sorted = [5, "b", 2, "a", 9];
array_sort(sorted, true);
show_debug_message(sorted);
show_debug_message("{0} {1}", array_contains(sorted, "b"), array_contains(sorted, 7));
show_debug_message(array_get(sorted, 1) + array_length_2d(grid, 1));
var copy = array_create(0);
array_copy(copy, 0, sorted, 1, 3);
show_debug_message(copy);
a[@ 0] = 30;
show_debug_message(a[0] + a[@ 1]);
show_debug_message("{0} {1}", is_array(a), is_array(a[0]));
