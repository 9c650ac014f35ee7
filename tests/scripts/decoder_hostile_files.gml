// Files that crash DevIL's readers: each load fails with 0 and the usual text, and the library
// (and this script) goes on. The files live in the source tree's tests/data/decoder.
init();
var dir = "../../../tests/data/decoder/";
var first = image_load("sample.png");
show_debug_message("first load: id " + string(first) + ", " + string(image_get_width(first)) + "x" + string(image_get_height(first)));
var names = 0;
repeat (5) {
    var name = "dxt1-size0.dds";
    if (names == 1) name = "palette-byte4.gif";
    if (names == 2) name = "plain-size0.ppm";
    if (names == 3) name = "mono-size3.pbm";
    if (names == 4) name = "dxt1-size2.dds";
    show_debug_message(name + ": " + string(image_load(dir + name)) + " " + image_last_error());
    names += 1;
}
var b = image_load("sample.bmp");
show_debug_message("a later load still works: id " + string(b) + ", " + string(image_get_width(b)) + "x" + string(image_get_height(b))
    + ", bpp " + string(image_get_Bpp(b)));
