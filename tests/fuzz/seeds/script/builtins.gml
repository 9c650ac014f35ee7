var l = ds_list_create(); l[| 2] = 1; var m = ds_map_create(); m[? "k"] = [l];
show_debug_message(string_format(random(5), 3, 2), string_replace_all("aaa", "a", "bb"));
while (true) { if (irandom(9) == 3) break; }
