// The test pattern, the pixel-pair shuffle and the four-point blur through the exports. The blur
// is checked against a copy blurred here pixel by pixel, column by column, with every sample
// clamped into the image.
init();
var a = image_load("sample.png");
var w = image_get_width(a);
var h = image_get_height(a);

// Test pattern: pixel (x, y) is number x * h + y of the sequence.
var t = image_Clone(a);
show_debug_message(test_2(t));
show_debug_message(image_Get_Pixel(t, 0, 1));
show_debug_message(image_Get_Pixel(t, 1, 0));
var bad = 0;
for (var x = 0; x < w; x += 1) {
    for (var y = 0; y < h; y += 1) {
        var n = x * h + y;
        var want = n mod 255 + 256 * 5 * ((n div 255) mod 51) + 65536 * ((n div 13005) mod 255);
        if (image_Get_Pixel(t, x, y) != want) bad += 1;
    }
}
show_debug_message(bad);

// Pair shuffle. Mode 2 swaps the pixels of each pair and mode 1 inverts the first; both undo
// themselves. Mode 0 gives (B inverted, A); other modes change nothing.
var s = image_Clone(a);
var results = "";
results += string(image_median(s, 2));
results += string(image_median(s, 2));
results += string(image_median(s, 1.5));
results += string(image_median(s, 1));
results += string(image_median(s, 7));
results += string(image_median(s, NaN));
results += string(image_median(s, -1));
show_debug_message(results);
bad = 0;
for (var y = 0; y < h; y += 1) {
    for (var x = 0; x < w; x += 1) {
        if (image_Get_Pixel(s, x, y) != image_Get_Pixel(a, x, y)) bad += 1;
    }
}
show_debug_message(bad);
image_median(s, 0);
bad = 0;
for (var y = 0; y < h; y += 1) {
    for (var x = 0; x < w; x += 2) {
        if (image_Get_Pixel(s, x, y) != 16777215 - image_Get_Pixel(a, x + 1, y)) bad += 1;
        if (image_Get_Pixel(s, x + 1, y) != image_Get_Pixel(a, x, y)) bad += 1;
    }
}
show_debug_message(bad);

// Four-point blur, for offsets of both signs, beyond the image and not numbers at all (NaN and
// infinities truncate to -2147483648).
var bads = "";
for (var trial = 0; trial < 9; trial += 1) {
    var dx = 0;
    var dy = 0;
    var rdx = 0;
    var rdy = 0;
    if (trial == 0) { dx = 0; dy = 0; }
    if (trial == 1) { dx = 1; dy = 1; }
    if (trial == 2) { dx = -1; dy = -2; }
    if (trial == 3) { dx = 3; dy = -1; }
    if (trial == 4) { dx = -2; dy = 5; }
    if (trial == 5) { dx = 100; dy = -70; }
    if (trial == 6) { dx = 2.9; dy = -0.9; }
    if (trial == 7) { dx = NaN; dy = infinity; }
    if (trial == 8) { dx = -20; dy = -3; }
    rdx = dx;
    rdy = dy;
    if (trial == 6) { rdx = 2; rdy = 0; }
    if (trial == 7) { rdx = -2147483648; rdy = -2147483648; }
    var got = image_Clone(a);
    var want = image_Clone(a);
    var result = image_blur(got, dx, dy);
    for (var x = 0; x < w; x += 1) {
        var sx = min(max(x + rdx, 0), w - 1);
        for (var y = 0; y < h; y += 1) {
            var sy = min(max(y + rdy, 0), h - 1);
            var p1 = image_Get_Pixel(want, x, y);
            var p2 = image_Get_Pixel(want, sx, sy);
            var p3 = image_Get_Pixel(want, sx, y);
            var p4 = image_Get_Pixel(want, x, sy);
            var mean = 0;
            for (var c = 0; c < 24; c += 8) {
                var sum = ((p1 >> c) & 255) + ((p2 >> c) & 255) + ((p3 >> c) & 255) + ((p4 >> c) & 255);
                mean += (sum >> 2) << c;
            }
            image_Set_Pixel(want, x, y, mean);
        }
    }
    bad = 0;
    for (var y = 0; y < h; y += 1) {
        for (var x = 0; x < w; x += 1) {
            if (image_Get_Pixel(got, x, y) != image_Get_Pixel(want, x, y)) bad += 1;
        }
    }
    bads += string(result) + ":" + string(bad) + " ";
    image_free(got);
    image_free(want);
}
show_debug_message(bads);
// With offsets 0 and 0 every sample is the pixel itself.
var z = image_Clone(a);
image_blur(z, 0, 0);
bad = 0;
for (var y = 0; y < h; y += 1) {
    for (var x = 0; x < w; x += 1) {
        if (image_Get_Pixel(z, x, y) != image_Get_Pixel(a, x, y)) bad += 1;
    }
}
show_debug_message(bad);
show_debug_message(image_last_error());
