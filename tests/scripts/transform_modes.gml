// Both mode transforms through the exports: every mode on eight chosen pixels, the results and
// texts of out-of-range, truncated and hostile modes, and two modes checked over the whole sample.
var huge = 1000000000 * 1000000000 * 1000000000 * 1000000000;
var nan = huge * huge * huge * huge * huge * huge * huge * huge * huge;
nan = nan - nan;

show_debug_message("before init: " + string(image_transformRGB(0, 1)) + " " + string(image_test(0, 1)));
init();
var a = image_load("sample.png");
var w = image_get_width(a);
var h = image_get_height(a);

// Row 0 starts with black, white, red, green, blue, (10, 200, 50), (10, 20, 30), (129, 129, 129).
var t = image_Clone(a);
image_Set_Pixel(t, 0, 0, 0);
image_Set_Pixel(t, 1, 0, 16777215);
image_Set_Pixel(t, 2, 0, 255);
image_Set_Pixel(t, 3, 0, 65280);
image_Set_Pixel(t, 4, 0, 16711680);
image_Set_Pixel(t, 5, 0, 10 + 200 * 256 + 50 * 65536);
image_Set_Pixel(t, 6, 0, 10 + 20 * 256 + 30 * 65536);
image_Set_Pixel(t, 7, 0, 129 * 65793);

var which = 0;
repeat (2) {
    var first = -1;
    var last = 36;
    if (which == 1) { first = 0; last = 23; }
    for (var mode = first; mode <= last; mode += 1) {
        if (which == 0 && mode == 33) continue;
        var img = image_Clone(t);
        var line = "";
        if (which == 0) line = "transformRGB " + string(mode) + ": " + string(image_transformRGB(img, mode));
        else line = "test " + string(mode) + ": " + string(image_test(img, mode));
        for (var x = 0; x < 8; x += 1) {
            var p = image_Get_Pixel(img, x, 0);
            line += " " + string(p & 255) + "," + string((p >> 8) & 255) + "," + string(p >> 16);
        }
        show_debug_message(line);
        image_free(img);
    }
    which += 1;
}

// Counts pixels of img that differ from t.
var changed = 0;

// Random colours: every channel 0..254, and the image changes.
var noise = image_Clone(t);
show_debug_message("random: " + string(image_transformRGB(noise, 33)));
var top = 0;
changed = 0;
for (var y = 0; y < h; y += 1) for (var x = 0; x < w; x += 1) {
    var p = image_Get_Pixel(noise, x, y);
    if ((p & 255) == 255 || ((p >> 8) & 255) == 255 || (p >> 16) == 255) top += 1;
    if (p != image_Get_Pixel(t, x, y)) changed += 1;
}
show_debug_message("random: " + string(top) + " channels at 255, " + string(changed > w * h / 2) + " for most pixels changed");

// Modes outside the tables change nothing: transformRGB answers 0 with ILU's text, image_test 0
// and leaves the last-error text alone.
var modes = 0;
repeat (6) {
    var mode = 37;
    if (modes == 1) mode = -2;
    if (modes == 2) mode = nan;
    if (modes == 3) mode = huge;
    if (modes == 4) mode = -huge;
    if (modes == 5) mode = -1.5;
    var img = image_Clone(t);
    image_free(999);  // sets the text to "Invalid image ID"
    var line = "mode case " + string(modes) + ": transformRGB " + string(image_transformRGB(img, mode)) + " " + image_last_error();
    image_free(999);
    line += "; test " + string(image_test(img, mode)) + " " + image_last_error();
    changed = 0;
    for (var y = 0; y < h; y += 1) for (var x = 0; x < w; x += 1) if (image_Get_Pixel(img, x, y) != image_Get_Pixel(t, x, y)) changed += 1;
    show_debug_message(line + "; " + string(changed) + " pixels changed");
    image_free(img);
    modes += 1;
}

// Truncated modes: 2.9 acts as 2 and -0.5 as 0 in both transforms.
var i1 = image_Clone(t);
var i2 = image_Clone(t);
var i3 = image_Clone(t);
var i4 = image_Clone(t);
image_transformRGB(i1, 2.9);
image_transformRGB(i2, 2);
image_test(i3, -0.5);
image_test(i4, 0);
changed = 0;
for (var y = 0; y < h; y += 1) for (var x = 0; x < w; x += 1) {
    if (image_Get_Pixel(i1, x, y) != image_Get_Pixel(i2, x, y)) changed += 1;
    if (image_Get_Pixel(i3, x, y) != image_Get_Pixel(i4, x, y)) changed += 1;
}
show_debug_message("2.9 as 2, -0.5 as 0: " + string(changed) + " pixels differ");

// Luma (mode 27) and posterisation (mode 34) over the whole sample against their definitions.
var luma = image_Clone(a);
var poster = image_Clone(a);
image_transformRGB(luma, 27);
image_transformRGB(poster, 34);
changed = 0;
for (var y = 0; y < h; y += 1) for (var x = 0; x < w; x += 1) {
    var p = image_Get_Pixel(a, x, y);
    var v = (16823 * (p & 255) + 33016 * ((p >> 8) & 255) + 6445 * (p >> 16) + 1081344) >> 16;
    if (image_Get_Pixel(luma, x, y) != v * 65793) changed += 1;
    var want = 0;
    for (var c = 0; c < 3; c += 1) {
        var ch = (p >> (8 * c)) & 255;
        var level = 255;
        if (ch == 0) level = 0; else if (ch <= 64) level = 32; else if (ch <= 128) level = 98;
        else if (ch <= 192) level = 160; else if (ch < 255) level = 224;
        want += level << (8 * c);
    }
    if (image_Get_Pixel(poster, x, y) != want) changed += 1;
}
show_debug_message("luma and posterisation over the sample: " + string(changed) + " pixels differ");
show_debug_message("unknown IDs: " + string(image_transformRGB(999, 1)) + " " + string(image_test(-1, 1)) + " "
    + string(image_transformRGB(nan, 1)) + " " + string(image_test(huge, 1)) + " " + image_last_error());
