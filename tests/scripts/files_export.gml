// The text exporters and `test` through the exports: results, the initialised test, the header's
// mode check before anything else, and the failures' texts.
show_debug_message("settings before init: " + string(image_html_setting(1.7, 0, 3, "<i>x</i>")));
show_debug_message("writers before init: " + string(image_to_html(0, "a.html")) + " " + string(image_to_gml(0, "a.gml"))
    + " " + string(image_to_h(0, "a.h", 1)));
var before = test(0);
show_debug_message("test before init, unknown image: " + string(before));
init();
var a = image_load("sample.png");
var p = image_Get_Pixel(a, 3, 4);
show_debug_message("html " + string(image_to_html(a, "a<b>.html")) + ", gml " + string(image_to_gml(a, "a.gml"))
    + ", header " + string(image_to_h(a, "a.h", 1.9)) + " " + string(image_to_h(a, "a.h", -0.5)) + " "
    + string(image_to_h(a, "a.h", 2)));
show_debug_message("header mode 3, even for an unknown image: " + string(image_to_h(999, "b.h", 3)) + " " + image_last_error());
show_debug_message("header of an unknown image: " + string(image_to_h(999, "b.h", 1)) + " " + image_last_error());
show_debug_message("html of an unknown image: " + string(image_to_html(999, "b.html")) + " " + image_last_error());
show_debug_message("gml of an unknown image: " + string(image_to_gml(-1, "b.gml")) + " " + image_last_error());
show_debug_message("unwritable: " + string(image_to_html(a, "no/dir/a.html")) + " " + image_last_error());
show_debug_message("unwritable: " + string(image_to_gml(a, "no/dir/a.gml")) + " " + image_last_error());
show_debug_message("unwritable: " + string(image_to_h(a, "no/dir/a.h", 0)) + " " + image_last_error());
var t = test(a);
show_debug_message("test gives NaN: " + string(t != t));
show_debug_message("test of an unknown image: " + string(test(999)) + " " + image_last_error());
show_debug_message("pixels unchanged by the writers: " + string(image_Get_Pixel(a, 3, 4) == p));
