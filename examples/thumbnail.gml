// Makes a thumbnail: the image scaled to fit a square box, its proportions kept.
//     build/ombrix examples/thumbnail.gml IN OUT [SIZE]
// OUT's extension picks the format (png, bmp, tga, ...); SIZE is the box's side (default 64).

if (parameter_count() < 2) {
    show_debug_message("usage: ombrix examples/thumbnail.gml IN OUT [SIZE]");
    game_end(2);
}
var source = parameter_string(1);
var target = parameter_string(2);
var box = parameter_count() >= 3 ? real(parameter_string(3)) : 64;

init();
image_load("");  // spend ID 0: a load that works returns an ID above 0
var id = image_load(source);
var width = image_get_width(id), height = image_get_height(id);
if (id <= 0) {
    show_debug_message("cannot load {0}: {1}", source, image_last_error());
    game_end(1);
}

// The longer side becomes the box's side; neither side drops below one pixel.
var scale = box / max(width, height);
var new_width = max(1, round(width * scale));
var new_height = max(1, round(height * scale));
image_Scale(id, new_width, new_height);
if (image_asave(id, target) != 1) {
    show_debug_message("cannot write {0}: {1}", target, image_last_error());
    game_end(1);
}
show_debug_message("{0}: {1} x {2} -> {3}: {4} x {5}", source, width, height, target,
    image_get_width(id), image_get_height(id));
image_free(id);
