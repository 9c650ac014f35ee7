// ds_list and ds_map: IDs, the accessors [| and [?, and what a missing entry reads as.
var names = ds_list_create();
var scores = ds_map_create();
show_debug_message(string(names) + " " + string(scores));
ds_list_add(names, "cyan", "magenta");
names[| 2] = "yellow";
ds_list_insert(names, 0, "key");
show_debug_message(ds_list_size(names));
show_debug_message(names[| 0] + " " + ds_list_find_value(names, 3));
show_debug_message(ds_list_find_index(names, "magenta"));
show_debug_message(ds_list_find_index(names, "black"));
show_debug_message(is_undefined(names[| 10]));
ds_list_delete(names, 0);
ds_list_sort(names, false);
var joined = "";
for (var i = 0; i < ds_list_size(names); i++) joined += names[| i] + " ";
show_debug_message(joined);

scores[? "b"] = 2;
ds_map_add(scores, "a", 1);
show_debug_message(ds_map_add(scores, "a", 100));  // already there: not added
ds_map_set(scores, 7, "seven");
show_debug_message(scores[? "a"] + scores[? "b"]);
show_debug_message(is_undefined(scores[? "zzz"]));
show_debug_message(ds_map_exists(scores, 7));
var key = ds_map_find_first(scores);
var walk = "";
while (!is_undefined(key)) {
    walk += string(key) + "=" + string(scores[? key]) + " ";
    key = ds_map_find_next(scores, key);
}
show_debug_message(walk);
show_debug_message(ds_map_keys_to_array(scores));
ds_map_delete(scores, 7);
show_debug_message(ds_map_size(scores));

// IDs are reused lowest first once destroyed.
ds_list_destroy(names);
show_debug_message(ds_exists(names, ds_type_list));
show_debug_message(ds_list_create());
show_debug_message(ds_exists(scores, ds_type_map));
