// Load the sample image and ask the library about it.
show_debug_message("before init: " + image_last_error());
init();
var id = image_load("sample.png");
show_debug_message(image_get_width(id));
show_debug_message(image_get_height(id));
show_debug_message(image_get_Bpp(id));
show_debug_message(image_last_error());
var copy = image_Clone(id);
show_debug_message(copy != id);
show_debug_message(image_free(copy));
show_debug_message(image_get_width(copy));
show_debug_message(image_last_error());
show_debug_message(image_load("missing.png"));
show_debug_message("version " + image_OmbrixVersion());
