// The gallery: every operation a script can call, applied to one photograph and laid out as
// labelled contact sheets, one PNG per family of operations, drawn by the library itself.
//
// Run it from the project's top directory (scripts/demo.sh does this):
//     mkdir -p build/gallery
//     build/ombrix examples/gallery.gml > build/gallery/index.html
// It writes build/gallery/*.png and prints the HTML page that shows them with the calls as text.
//
// Two conventions show in every sheet:
// - The pixel-level exports (image_Get_Pixel, image_Set_Pixel, image_Crop, image_Mosaic, brushes,
//   test) count row 0 from the BOTTOM of the picture. image_save writes the picture upright.
//   So the labels below are drawn with row = height - 1 - y, y counted down from the top.
// - image_load returns 0 when it fails, and 0 is also the first ID the library hands out. Spending
//   ID 0 on a load that cannot succeed makes "id > 0" the check that is right in every case.

init();
image_load("");  // ID 0: from here on a successful load returns an ID above 0

var photo_path = "examples/astronaut.jpg";
var out = "build/gallery/";
var photo = image_load(photo_path);
if (photo <= 0) {
    show_debug_message("could not load " + photo_path + ": " + image_last_error());
    exit;
}

// Thumbnails are 160 x 120; each cell has up to four lines of label, 29 characters each, below
// its picture.
var thumb_w = 160, thumb_h = 120, columns = 6, gutter = 16, margin = 12;
var line_h = 11, label_lines = 4;
var cell_w = thumb_w + gutter, cell_h = thumb_h + 4 + label_lines * line_h + gutter;
var paper = 244, ink = $202020;

// The photograph at thumbnail size: every operation runs on a copy of this.
image_Filter_scale(photo, 3);  // box filter for the reductions that follow
var base = image_Clone(photo);
image_Scale(base, thumb_w, thumb_h);

// A 6 x 10 bitmap font for ASCII 32 to 126 (the public-domain X11 "misc-fixed" 6x10 glyphs):
// ten characters per glyph, one per row from the top, each a base-64 digit whose six bits are the
// row's pixels from the left.
var font = "AAAAAAAAAAAIIIIIAIAAAUUUAAAAAAAUU+U+UUAAAIcocKcIAAASqUIUqkAAAQooQqkaAAAIIIAAAAAAAEIQQQIEAAAQIEEEIQAA"
    + "AAiU+UiAAAAAII+IIAAAAAAAAAMIQAAAAA+AAAAAAAAAAAIcIAACCEIQggAAAIUiiiUIAAAIYoIII+AAAciCMQg+AAA+CEMCicAA"
    + "AEMUk+EEAAA+gsyCicAAAMQgsyicAAA+CEEIQQAAAciiciicAAAcimaCEYAAAAIcIAIcIAAAIcIAMIQAACEIQIECAAAAA+A+AAAA"
    + "AQIECEIQAAAciEIIAIAAAcimqsgcAAAIUii+iiAAA8SScSS8AAAcigggicAAA8SSSSS8AAA+gg8gg+AAA+gg8gggAAAciggmicAA"
    + "Aiii+iiiAAAcIIIIIcAAAOEEEEkYAAAikowokiAAAgggggg+AAAii2qiiiAAAiiyqmiiAAAciiiiicAAA8ii8gggAAAciiiiqcCA"
    + "A8ii8okiAAAcigcCicAAA+IIIIIIAAAiiiiiicAAAiiiUUUIAAAiiiqq2iAAAiiUIUiiAAAiiUIIIIAAA+CEIQg+AAAcQQQQQcAA"
    + "AggQIECCAAAcEEEEEcAAAIUiAAAAAAAAAAAAAA+AIEAAAAAAAAAAAcCeieAAAggsyiysAAAAAcigicAAACCamimaAAAAAci+gcAA"
    + "AMSQ8QQQAAAAAeiieCicAggsyiiiAAAIAYIIIcAAACAGCCCSSMAggik4kiAAAYIIIIIcAAAAA0qqqiAAAAAsyiiiAAAAAciiicAA"
    + "AAAsyiysggAAAamimaCCAAAsygggAAAAAcgcC8AAAQQ8QQSMAAAAAiiimaAAAAAiiUUIAAAAAiiqqUAAAAAiUIUiAAAAAiimaCic"
    + "AAA+EIQ+AAAGIEYEIGAAAIIIIIIIAAAYEIGIEYAAASqkAAAAAA";

// A brush: "1" paints the colour of the pixel the stamp starts at, "0" paints black.
var brush_path = "examples/stamp.brush";

show_debug_message("<!DOCTYPE html>");
show_debug_message("<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Ombrix gallery</title>");
show_debug_message("<style>body{font-family:sans-serif;margin:2em;max-width:70em}"
    + "img{max-width:100%;border:1px solid #ccc}ol{columns:3;font-size:90%}"
    + "code{white-space:pre-wrap}</style></head><body>");
show_debug_message("<h1>Ombrix gallery</h1>");
show_debug_message("<p>Every operation applied to a 160 &times; 120 copy of <code>" + photo_path
    + "</code>. Each picture is labelled with the call that made it; <code>id</code> is the copy.</p>");

var families = 6;
for (var family = 0; family < families; family++) {
    var name = "", title = "", note = "", count = 0;
    if (family == 0) {
        name = "transform"; count = 38;
        title = "image_transformRGB(id, mode): channels, orders, greys, colour models, posterising";
        note = "Modes 11 to 32 give one channel as a grey picture; the channels sheet composes them back.";
    } else if (family == 1) {
        name = "test"; count = 25;
        title = "image_test(id, mode): channel ranks, HWB and luma";
        note = "Modes 0 to 12 reorder each pixel's channels by rank; 13 to 23 give greys.";
    } else if (family == 2) {
        name = "channels"; count = 13;
        title = "Grey, ranges and channel compositions";
        note = "Each composition takes three (or four) one-channel pictures made by image_transformRGB.";
    } else if (family == 3) {
        name = "filters"; count = 24;
        title = "DevIL filters: colour, blur, edges, noise";
        note = "These run through DevIL's ILU library on a copy of the image.";
    } else if (family == 4) {
        name = "geometry"; count = 15;
        title = "DevIL geometry: flip, crop, enlarge, rotate, scale, wave";
        note = "Crop and the enlargements count from the bottom-left corner: row 0 is the bottom row.";
    } else {
        name = "pixels"; count = 16;
        title = "Pixel access, mosaic, shuffle, blur, test pattern, brush and files";
        note = "Row 0 is the bottom row: pixels set at small rows, crops and stamps appear at the bottom. "
            + "test() writes the first stored row at the top of its PNG, so its picture comes back upside down.";
    }
    var rows = (count + columns - 1) div columns;
    var sheet_w = 2 * margin + columns * cell_w - gutter;
    var sheet_h = 2 * margin + rows * cell_h - gutter;
    var sheet = image_Clone(base);
    image_Scale(sheet, sheet_w, sheet_h);
    image_RGBMinMax(sheet, paper, paper, paper, paper, paper, paper);  // every byte becomes paper

    show_debug_message("<h2 id=\"" + name + "\">" + title + "</h2>");
    show_debug_message("<p>" + note + "</p>");
    show_debug_message("<p><img src=\"" + name + ".png\" alt=\"" + title + "\"></p>");
    show_debug_message("<ol class=\"calls\">");

    for (var k = 0; k < count; k++) {
        var t = image_Clone(base);
        var label = "original";
        var extra = -1;  // a second image a cell makes, freed after it
        if (family == 0) {
            if (k > 0) {
                image_transformRGB(t, k - 1);
                label = "image_transformRGB(id, " + string(k - 1) + ")";
            }
        } else if (family == 1) {
            if (k > 0) {
                image_test(t, k - 1);
                label = "image_test(id, " + string(k - 1) + ")";
            }
        } else if (family == 2) {
            if (k == 1) {
                image_ConvertGrayscale(t);
                label = "image_ConvertGrayscale(id)";
            } else if (k == 2) {
                image_RGBMinMax(t, 64, 64, 64, 192, 192, 192);
                label = "image_RGBMinMax(id,\n  64, 64, 64, 192, 192, 192)";
            } else if (k == 3) {
                image_RGBMinMax(t, 0, 0, 0, 255, 96, 96);
                label = "image_RGBMinMax(id,\n  0, 0, 0, 255, 96, 96)";
            } else if (k == 4) {
                image_ConvertTo4(t);
                label = "image_ConvertTo4(id): 4-bit\n  grey, packed";
            } else if (k >= 5) {
                // Split into channels with image_transformRGB, then compose them back.
                var first = 11, composition = "RGB", parts = "r, g, b", channels = 3;
                if (k == 6) { first = 21; composition = "HSV"; parts = "h, s, v"; }
                if (k == 7) { first = 18; composition = "CMY"; parts = "c, m, y"; }
                if (k == 8) { first = 14; composition = "CMYK"; parts = "c, m, y, k"; channels = 4; }
                if (k == 9) { first = 24; composition = "LAB"; parts = "l, a, b"; }
                if (k == 10) { first = 27; composition = "YCBCR470"; parts = "y, cb, cr"; }
                if (k == 11) { first = 30; composition = "YCBCR709"; parts = "y, cb, cr"; }
                if (k == 12) { first = 11; composition = "RGB"; parts = "b, g, r"; }
                var c0 = image_Clone(base), c1 = image_Clone(base), c2 = image_Clone(base), c3 = image_Clone(base);
                if (k == 12) {
                    image_transformRGB(c0, 13); image_transformRGB(c1, 12); image_transformRGB(c2, 11);
                } else {
                    image_transformRGB(c0, first); image_transformRGB(c1, first + 1); image_transformRGB(c2, first + 2);
                    image_transformRGB(c3, first + 3);
                }
                image_free(t);
                if (k == 5) t = image_RGBChannalToImage(c0, c1, c2);
                if (k == 6) t = image_HSVChannalToImage(c0, c1, c2);
                if (k == 7) t = image_CMYChannalToImage(c0, c1, c2);
                if (k == 8) t = image_CMYKChannalToImage(c0, c1, c2, c3);
                if (k == 9) t = image_LABChannalToImage(c0, c1, c2);
                if (k == 10) t = image_YCBCR470ChannalToImage(c0, c1, c2);
                if (k == 11) t = image_YCBCR709ChannalToImage(c0, c1, c2);
                if (k == 12) t = image_RGBChannalToImage(c0, c1, c2);
                image_free(c0); image_free(c1); image_free(c2); image_free(c3);
                label = "image_" + composition + "ChannalToImage(\n  " + parts + ")";
                if (channels == 4)
                    label = label + " of modes\n  " + string(first) + "-" + string(first + 3);
                else if (k == 12)
                    label = label + " of modes\n  13, 12, 11";
                else
                    label = label + " of modes\n  " + string(first) + "-" + string(first + 2);
            }
        } else if (family == 3) {
            if (k == 0) { label = "original\nimage_ColoursUsed(id) = " + string(image_ColoursUsed(t)); }
            if (k == 1) { image_Negative(t); label = "image_Negative(id)"; }
            if (k == 2) { image_Alienify(t); label = "image_Alienify(id)"; }
            if (k == 3) { image_Emboss(t); label = "image_Emboss(id)"; }
            if (k == 4) { image_Equalize(t); label = "image_Equalize(id)"; }
            if (k == 5) { image_Noisify(t, 0.5); label = "image_Noisify(id, 0.5)"; }
            if (k == 6) { image_Pixelize(t, 8); label = "image_Pixelize(id, 8)"; }
            if (k == 7) { image_ReplaceColour(t, 230, 110, 60, 60); label = "image_ReplaceColour(id,\n  230, 110, 60, 60)"; }
            if (k == 8) { image_Saturate(t, 2); label = "image_Saturate(id, 2)"; }
            if (k == 9) { image_Saturate(t, 0.2); label = "image_Saturate(id, 0.2)"; }
            if (k == 10) { image_SaturateExt(t, 0.3, 0.59, 0.11, 2.5); label = "image_SaturateExt(id, 0.3,\n  0.59, 0.11, 2.5)"; }
            if (k == 11) { image_BlurAvg(t, 4); label = "image_BlurAvg(id, 4)"; }
            if (k == 12) { image_BlurGaussian(t, 4); label = "image_BlurGaussian(id, 4)"; }
            if (k == 13) { image_Sharpen(t, 3); label = "image_Sharpen(id, 3)"; }
            if (k == 14) { image_Contrast(t, 2); label = "image_Contrast(id, 2)"; }
            if (k == 15) { image_Contrast(t, 0.4); label = "image_Contrast(id, 0.4)"; }
            if (k == 16) { image_GammaCorrect(t, 0.5); label = "image_GammaCorrect(id, 0.5)"; }
            if (k == 17) { image_GammaCorrect(t, 2); label = "image_GammaCorrect(id, 2)"; }
            if (k >= 18 && k <= 20) { image_EdgeDetect(t, k - 18); label = "image_EdgeDetect(id, " + string(k - 18) + ")"; }
            if (k == 21) { image_SwapColours(t); label = "image_SwapColours(id)\n  comes back unchanged"; }
            if (k == 22) { image_BuildMipmaps(t); label = "image_BuildMipmaps(id)\n  the image keeps its pixels"; }
            if (k == 23) { image_ScaleAlpha(t, 0.5); image_InvertAlpha(t);
                           label = "image_ScaleAlpha(id, 0.5);\nimage_InvertAlpha(id)\n  no alpha: unchanged"; }
        } else if (family == 4) {
            if (k == 1) { image_Mirror(t); label = "image_Mirror(id)"; }
            if (k == 2) { image_FlipImageh(t); label = "image_FlipImageh(id)"; }
            if (k == 3) { image_Crop(t, 0, 60, 80, 60); label = "image_Crop(id, 0, 60, 80, 60)\n  top-left quarter, now\n  bottom-left"; }
            if (k == 4) { image_Crop(t, 80, 60, 80, 60); label = "image_Crop(id, 80, 60, 80,\n  60): top-right quarter,\n  now bottom-left"; }
            if (k == 5) { image_EnlargeImage(t, 2, 2); label = "image_EnlargeImage(id, 2, 2)\n  twice the size, bottom-\n  left part kept"; }
            if (k == 6) {
                image_EnlargeCanvas(t, 240, 180);
                label = "image_EnlargeCanvas(id, 240,\n  180): keeps its size and\n  the first 160 x 120 of the\n  new canvas: no change";
            }
            if (k == 7) { image_Rotate(t, 30); label = "image_Rotate(id, 30)\n  larger: shown reduced"; }
            if (k == 8) { image_Rotate(t, -150); label = "image_Rotate(id, -150)\n  larger: shown reduced"; }
            if (k == 9) { image_Rotate3D(t, 1, 1, 45); label = "image_Rotate3D(id, 1, 1, 45)\n  leaves the image as it is"; }
            if (k == 10) { image_Scale(t, 80, 60); label = "image_Scale(id, 80, 60)"; }
            if (k == 11) { image_Scale(t, 160, 60); label = "image_Scale(id, 160, 60)"; }
            if (k == 12) { image_Wave(t, 30); label = "image_Wave(id, 30)"; }
            if (k == 13) { image_Wave(t, 90); label = "image_Wave(id, 90)"; }
            if (k == 14) {
                image_FlipImagev(t);
                init();  // the upside-down origin stays for every DevIL call until init runs again
                label = "image_FlipImagev(id): upside\n  down, as is every later\n  DevIL call until init()";
            }
        } else {
            if (k == 1) {
                // A red block at columns 0-39 and rows 0-29: the bottom-left corner of the picture.
                for (var py = 0; py < 30; py++)
                    for (var px = 0; px < 40; px++)
                        image_Set_Pixel(t, px, py, $0000FF);
                label = "image_Set_Pixel(id, x, y,\n  $0000FF), x < 40, y < 30:\n  row 0 is the bottom row";
            }
            if (k == 2) { image_Mosaic(t, 8, -1, 0); label = "image_Mosaic(id, 8, -1, 0)"; }
            if (k == 3) { image_Mosaic(t, 12, 1, 255); label = "image_Mosaic(id, 12, 1, 255)\n  blocks start at the bottom\n  left; red frames"; }
            if (k >= 4 && k <= 6) { image_median(t, k - 4); label = "image_median(id, " + string(k - 4) + ")\n  pixel pairs"; }
            if (k == 7) { image_blur(t, 4, 4); label = "image_blur(id, 4, 4)"; }
            if (k == 8) { image_blur(t, 12, 0); label = "image_blur(id, 12, 0)"; }
            if (k == 9) { test_2(t); label = "test_2(id): test pattern,\n  column by column from\n  the bottom"; }
            if (k == 10) {
                extra = image_Clone(base);
                image_Mirror(extra);
                image_2image_add(t, extra);
                label = "image_2image_add(id, m),\n  m a mirrored copy";
            }
            if (k == 11) {
                extra = image_Clone(base);
                image_Negative(extra);
                var joined = image_2to1(t, extra);
                image_free(t);
                t = joined;
                label = "image_2to1(id, n), n a\n  negative copy; twice as\n  wide: shown reduced";
            }
            if (k == 12) {
                // A brush stamps onto the image with the same ID: load it until the IDs meet.
                var brush = image_BrushLoad(brush_path);
                while (brush >= 0 && brush < t) {
                    image_BrushFree(brush);
                    brush = image_BrushLoad(brush_path);
                }
                image_BrushAdd(t);
                image_BrushFree(brush);
                label = "image_BrushAdd(id), brush\n  examples/stamp.brush:\n  stamps the bottom rows";
            }
            if (k == 13) {
                test(t);  // writes test_out.png, first stored row at the top
                extra = image_load("test_out.png");
                if (extra > 0) { image_free(t); t = extra; extra = -1; }
                label = "test(id), then image_load(\n  \"test_out.png\"): upside\n  down";
            }
            if (k == 14) {
                image_to_OX(t, out + "round-trip.ox", 1);
                var back = image_from_OX(out + "round-trip.ox");
                if (back > 0) { image_free(t); t = back; }
                label = "image_to_OX(id, f, 1), then\nimage_from_OX(f): upright";
            }
            if (k == 15) { image_ConvertGrayscale(t); image_ConvertTo4(t); label = "image_ConvertGrayscale(id);\nimage_ConvertTo4(id): packed\n  4-bit levels"; }
        }
        if (extra > 0) image_free(extra);

        // Fit the result into the thumbnail box, keeping its proportions.
        var w = image_get_width(t), h = image_get_height(t);
        if (w > thumb_w || h > thumb_h) {
            var fit_w = thumb_w, fit_h = floor(h * thumb_w / w);
            if (fit_h > thumb_h) { fit_h = thumb_h; fit_w = floor(w * thumb_h / h); }
            image_Scale(t, max(1, fit_w), max(1, fit_h));
            w = image_get_width(t); h = image_get_height(t);
        }

        // Copy it into the sheet, centred in its box. Rows count from the bottom in both images,
        // so the box's top edge y (counted down) becomes row sheet_h - y - h of the sheet.
        var left = margin + (k mod columns) * cell_w;
        var top = margin + (k div columns) * cell_h;
        var x0 = left + (thumb_w - w) div 2;
        var y0 = top + (thumb_h - h) div 2;
        for (var y = 0; y < h; y++)
            for (var x = 0; x < w; x++)
                image_Set_Pixel(sheet, x0 + x, sheet_h - y0 - h + y, image_Get_Pixel(t, x, y));
        image_free(t);

        // The label, in the 6 x 10 font, one glyph row at a time; "\n" starts a new line.
        var cx = left, cy = top + thumb_h + 4;
        for (var i = 1; i <= string_length(label); i++) {
            var code = ord(string_char_at(label, i));
            if (code == 10) {
                cx = left;
                cy += line_h;
                continue;
            }
            if (code < 32 || code > 126) code = 63;  // "?"
            if (cx + 6 <= left + cell_w - 2) {
                for (var gy = 0; gy < 10; gy++) {
                    var digit = ord(string_char_at(font, (code - 32) * 10 + gy + 1));
                    var bits = 63;  // "/"
                    if (digit >= 97) bits = digit - 71;
                    else if (digit >= 65) bits = digit - 65;
                    else if (digit >= 48) bits = digit + 4;
                    else if (digit == 43) bits = 62;
                    for (var gx = 0; gx < 6; gx++)
                        if (bits & (32 >> gx))
                            image_Set_Pixel(sheet, cx + gx, sheet_h - 1 - (cy + gy), ink);
                }
            }
            cx += 6;
        }

        show_debug_message("<li><code>" + label + "</code></li>");
    }

    image_save(sheet, out + name + ".png", 5);
    image_free(sheet);
    show_debug_message("</ol>");
}
show_debug_message("</body></html>");
