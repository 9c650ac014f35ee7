// The OX file through the exports: the initialised test, IDs used up by failed loads, mode
// truncation, round trips and the failures' texts.
show_debug_message("before init: " + string(image_from_OX("a.ox")) + " " + string(image_to_OX(0, "a.ox", 1)));
init();
var a = image_load("sample.png");
var w = image_get_width(a);
var h = image_get_height(a);

// Every pixel compared; the mode is truncated, so 1.9 writes RGB.
show_debug_message("write mode 1.9: " + string(image_to_OX(a, "a.ox", 1.9)));
var b = image_from_OX("a.ox");
var same = 0;
for (var y = 0; y < h; y += 1)
    for (var x = 0; x < w; x += 1)
        if (image_Get_Pixel(a, x, y) == image_Get_Pixel(b, x, y)) same += 1;
show_debug_message("read back as " + string(b) + ": " + string(image_get_width(b)) + "x" + string(image_get_height(b))
    + ", " + string(same) + " of " + string(w * h) + " pixels equal");

// -0.5 writes grey: every pixel comes back with three equal channels.
image_to_OX(a, "g.ox", -0.5);
var g = image_from_OX("g.ox");
var grey = 0;
for (var y = 0; y < h; y += 1)
    for (var x = 0; x < w; x += 1) {
        var c = image_Get_Pixel(g, x, y);
        if (c == (c mod 256) * 65793) grey += 1;
    }
show_debug_message("grey pixels: " + string(grey));
var p = image_Get_Pixel(a, 5, 7);
var r = p mod 256;
var gr = (p div 256) mod 256;
var bl = p div 65536;
show_debug_message("grey level of (5,7) right: " + string(image_Get_Pixel(g, 5, 7) mod 256 == (77 * r + 150 * gr + 29 * bl) div 256));

show_debug_message("mode 3: " + string(image_to_OX(a, "m.ox", 3)) + " " + image_last_error());
show_debug_message("reading its header: " + string(image_from_OX("m.ox")) + " " + image_last_error());
show_debug_message("unknown image: " + string(image_to_OX(999, "u.ox", 1)) + " " + image_last_error());
show_debug_message("unwritable: " + string(image_to_OX(a, "no/such/dir/a.ox", 1)) + " " + image_last_error());
show_debug_message("missing: " + string(image_from_OX("none.ox")) + " " + image_last_error());
show_debug_message("not an OX file: " + string(image_from_OX("sample.png")) + " " + image_last_error());
show_debug_message("directory: " + string(image_from_OX(".")) + " " + image_last_error());
show_debug_message("next load takes ID " + string(image_from_OX("a.ox")));
show_debug_message("pixels unchanged by the writes: " + string(image_Get_Pixel(a, 5, 7) == p));
