// Joining, averaging, the 4-bit packing and the mosaic through the exports, each checked pixel by
// pixel against its definition worked out here from the pixels read before the call.
init();
var huge = 1;
repeat (300) huge = huge * 10;
var a = image_load("sample.png");
var b = image_load("sample.bmp");
var w = image_get_width(a);
var h = image_get_height(a);
show_debug_message(string(w) + "x" + string(h));

// Side by side: the first image on the left, the second on the right.
var j = image_2to1(a, b);
show_debug_message(j);
show_debug_message(string(image_get_width(j)) + "x" + string(image_get_height(j)));
var bad = 0;
for (var y = 0; y < h; y += 1) {
    for (var x = 0; x < w * 2; x += 1) {
        var want = 0;
        if (x < w) want = image_Get_Pixel(a, x, y); else want = image_Get_Pixel(b, x - w, y);
        if (image_Get_Pixel(j, x, y) != want) bad += 1;
    }
}
show_debug_message(bad);

// The average of the joined image with the smaller first image: the bytes are paired by index,
// so the first h / 2 rows of the joined image (as many bytes as the first image has) are averaged,
// each joined row with two rows of the first image, and the rest stays as it was.
var before = image_Clone(j);
show_debug_message(image_2image_add(j, a));
bad = 0;
for (var y = 0; y < h; y += 1) {
    for (var x = 0; x < w * 2; x += 1) {
        var p = image_Get_Pixel(before, x, y);
        var want = p;
        if (y < h / 2) {
            var n = y * w * 2 + x;
            var q = image_Get_Pixel(a, n mod w, n div w);
            want = (((p & 255) + (q & 255)) >> 1) + ((((p >> 8) & 255) + ((q >> 8) & 255)) >> 1) * 256
                   + ((((p >> 16) & 255) + ((q >> 16) & 255)) >> 1) * 65536;
        }
        if (image_Get_Pixel(j, x, y) != want) bad += 1;
    }
}
show_debug_message(bad);

// 4-bit grey: the levels packed two to a byte, column by column, from byte 0; the rest zero.
var g = image_Clone(a);
show_debug_message(image_ConvertTo4(g));
var packed = 0;
var k = 0;
bad = 0;
for (var x = 0; x < w; x += 1) {
    for (var y = 0; y < h; y += 1) {
        var p = image_Get_Pixel(a, x, y);
        var level = (77 * (p & 255) + 150 * ((p >> 8) & 255) + 29 * ((p >> 16) & 255)) >> 8;
        if (k mod 2 == 0) {
            packed = level & 240;
        } else {
            packed = packed | (level >> 4);
            var byte = k div 2;
            var pixel = byte div 3;
            var got = (image_Get_Pixel(g, pixel mod w, pixel div w) >> (8 * (byte mod 3))) & 255;
            if (got != packed) bad += 1;
        }
        k += 1;
    }
}
for (var pixel = w * h / 6; pixel < w * h; pixel += 1) {
    if (image_Get_Pixel(g, pixel mod w, pixel div w) != 0) bad += 1;
}
show_debug_message(bad);

// Mosaic of 8 x 8 blocks with a one-pixel border: frame strips 2 pixels wide at the first column
// and row of each block, 1 pixel at the last, border colour (300 mod 256, 0, 0).
var m = image_Clone(a);
show_debug_message(image_Mosaic(m, 8, 1, 300));
bad = 0;
for (var y = 0; y < h; y += 1) {
    for (var x = 0; x < w; x += 1) {
        var i = x mod 8;
        var jj = y mod 8;
        var want = 44;
        if (i >= 2 && i <= 6 && jj >= 2 && jj <= 6) want = image_Get_Pixel(a, x - i + 4, y - jj + 4);
        if (image_Get_Pixel(m, x, y) != want) bad += 1;
    }
}
show_debug_message(bad);

// Plain pixelation with blocks of 10: the blocks at the right and top edge are partial, and their
// centres (5 pixels in) are taken at the last column or row when they lie beyond it.
var m2 = image_Clone(a);
image_Mosaic(m2, 10, -1, 0);
bad = 0;
for (var y = 0; y < h; y += 1) {
    for (var x = 0; x < w; x += 1) {
        var want = image_Get_Pixel(a, min(x - x mod 10 + 5, w - 1), min(y - y mod 10 + 5, h - 1));
        if (image_Get_Pixel(m2, x, y) != want) bad += 1;
    }
}
show_debug_message(bad);

// Sizes that cannot make a block leave the image as it was and still return 0.
var m3 = image_Clone(a);
var results = "";
results += string(image_Mosaic(m3, 0, 1, 0));
results += string(image_Mosaic(m3, -5, 1, 0));
results += string(image_Mosaic(m3, NaN, 1, 0));
results += string(image_Mosaic(m3, huge, 1, 0));
results += string(image_Mosaic(m3, 1, -1, 0));
show_debug_message(results);
bad = 0;
for (var y = 0; y < h; y += 1) {
    for (var x = 0; x < w; x += 1) {
        if (image_Get_Pixel(m3, x, y) != image_Get_Pixel(a, x, y)) bad += 1;
    }
}
show_debug_message(bad);
show_debug_message(image_last_error());
