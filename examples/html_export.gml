// Exports an image as an HTML page (one table cell per pixel), shrinking it first so that the
// page stays small enough for a browser.
//     build/ombrix examples/html_export.gml IN OUT.html [MAX_SIDE]

if (parameter_count() < 2) {
    show_debug_message("usage: ombrix examples/html_export.gml IN OUT.html [MAX_SIDE]");
    game_end(2);
}
var source = parameter_string(1);
var target = parameter_string(2);
var max_side = parameter_count() >= 3 ? real(parameter_string(3)) : 48;

init();
image_load("");  // spend ID 0: a load that works returns an ID above 0
var id = image_load(source);
if (id <= 0) {
    show_debug_message("cannot load {0}: {1}", source, image_last_error());
    game_end(1);
}
var side = max(image_get_width(id), image_get_height(id));
if (side > max_side) {
    image_Scale(id, max(1, round(image_get_width(id) * max_side / side)),
        max(1, round(image_get_height(id) * max_side / side)));
}
// No border, padding or spacing, and an empty cell: the page shows the picture itself.
image_html_setting(0, 0, 0, "");
if (image_to_html(id, target) != 1) {
    show_debug_message("cannot write {0}: {1}", target, image_last_error());
    game_end(1);
}
show_debug_message("{0}: {1} x {2} cells", target, image_get_width(id), image_get_height(id));
image_free(id);
