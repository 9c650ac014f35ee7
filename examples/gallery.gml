// The gallery: every operation a script can call, applied to one photograph and laid out as
// labelled contact sheets, one PNG per family of operations, drawn by the library itself.
//
// Run it from the project's top directory (scripts/demo.sh does this):
//     mkdir -p build/gallery
//     build/ombrix examples/gallery.gml build/gallery > build/gallery/index.html
// It writes the sheets into the directory given (build/gallery without one) and prints the HTML
// page that shows them with the calls as text.
//
// Two conventions show in every sheet:
// - The pixel-level exports (image_Get_Pixel, image_Set_Pixel, image_Crop, image_Mosaic, brushes,
//   test) count row 0 from the BOTTOM of the picture; image_save writes the picture upright. So
//   the labels are drawn at row = height - 1 - y, y counted down from the top.
// - image_load returns 0 when it fails, and 0 is also the first ID the library hands out. Spending
//   ID 0 on a load that cannot succeed makes "id > 0" the check that is right in every case.

#macro THUMB_W 160
#macro THUMB_H 120
#macro COLUMNS 6
#macro GUTTER 16
#macro MARGIN 12
#macro LINE_H 11
#macro LABEL_LINES 4
#macro CELL_W (THUMB_W + GUTTER)
#macro CELL_H (THUMB_H + 4 + LABEL_LINES * LINE_H + GUTTER)
#macro PAPER 244
#macro INK $202020

// A 6 x 10 bitmap font for ASCII 32 to 126 (the public-domain X11 "misc-fixed" 6x10 glyphs):
// ten characters per glyph, one per row from the top, each a base-64 digit whose six bits are the
// row's pixels from the left.
font = "AAAAAAAAAAAIIIIIAIAAAUUUAAAAAAAUU+U+UUAAAIcocKcIAAASqUIUqkAAAQooQqkaAAAIIIAAAAAAAEIQQQIEAAAQIEEEIQAA"
    + "AAiU+UiAAAAAII+IIAAAAAAAAAMIQAAAAA+AAAAAAAAAAAIcIAACCEIQggAAAIUiiiUIAAAIYoIII+AAAciCMQg+AAA+CEMCicAA"
    + "AEMUk+EEAAA+gsyCicAAAMQgsyicAAA+CEEIQQAAAciiciicAAAcimaCEYAAAAIcIAIcIAAAIcIAMIQAACEIQIECAAAAA+A+AAAA"
    + "AQIECEIQAAAciEIIAIAAAcimqsgcAAAIUii+iiAAA8SScSS8AAAcigggicAAA8SSSSS8AAA+gg8gg+AAA+gg8gggAAAciggmicAA"
    + "Aiii+iiiAAAcIIIIIcAAAOEEEEkYAAAikowokiAAAgggggg+AAAii2qiiiAAAiiyqmiiAAAciiiiicAAA8ii8gggAAAciiiiqcCA"
    + "A8ii8okiAAAcigcCicAAA+IIIIIIAAAiiiiiicAAAiiiUUUIAAAiiiqq2iAAAiiUIUiiAAAiiUIIIIAAA+CEIQg+AAAcQQQQQcAA"
    + "AggQIECCAAAcEEEEEcAAAIUiAAAAAAAAAAAAAA+AIEAAAAAAAAAAAcCeieAAAggsyiysAAAAAcigicAAACCamimaAAAAAci+gcAA"
    + "AMSQ8QQQAAAAAeiieCicAggsyiiiAAAIAYIIIcAAACAGCCCSSMAggik4kiAAAYIIIIIcAAAAA0qqqiAAAAAsyiiiAAAAAciiicAA"
    + "AAAsyiysggAAAamimaCCAAAsygggAAAAAcgcC8AAAQQ8QQSMAAAAAiiimaAAAAAiiUUIAAAAAiiqqUAAAAAiUIUiAAAAAiimaCic"
    + "AAA+EIQ+AAAGIEYEIGAAAIIIIIIIAAAYEIGIEYAAASqkAAAAAA";

// The six pixels of one row of a character's glyph, leftmost in bit 5.
function glyph_row(code, row) {
    if (code < 32 || code > 126) code = ord("?");
    var digit = ord(string_char_at(font, (code - 32) * 10 + row + 1));
    if (digit >= ord("a")) return digit - ord("a") + 26;
    if (digit >= ord("A")) return digit - ord("A");
    if (digit >= ord("0")) return digit - ord("0") + 52;
    return digit == ord("+") ? 62 : 63;
}

// Draws text with its top-left corner at (x, y), y counted down from the top of the sheet; "\n"
// starts a new line. Characters that would leave the cell are left out.
function draw_label(sheet, x, y, text) {
    var height = image_get_height(sheet);
    var cx = x, cy = y;
    for (var i = 1; i <= string_length(text); i++) {
        var code = ord(string_char_at(text, i));
        if (code == 10) {
            cx = x;
            cy += LINE_H;
            continue;
        }
        if (cx + 6 <= x + CELL_W - 2) {
            for (var gy = 0; gy < 10; gy++) {
                var bits = glyph_row(code, gy);
                for (var gx = 0; gx < 6; gx++)
                    if (bits & (32 >> gx)) image_Set_Pixel(sheet, cx + gx, height - 1 - (cy + gy), INK);
            }
        }
        cx += 6;
    }
}

// Shrinks the image to fit the thumbnail box, keeping its proportions, and copies it into cell k
// of the sheet, centred in the box. Rows count from the bottom in both images, so the box's top
// edge y (counted down) becomes row height - y - h of the sheet.
function place(sheet, k, image) {
    var w = image_get_width(image), h = image_get_height(image);
    if (w > THUMB_W || h > THUMB_H) {
        var fit_w = THUMB_W, fit_h = floor(h * THUMB_W / w);
        if (fit_h > THUMB_H) {
            fit_h = THUMB_H;
            fit_w = floor(w * THUMB_H / h);
        }
        image_Scale(image, max(1, fit_w), max(1, fit_h));
        w = image_get_width(image);
        h = image_get_height(image);
    }
    var x0 = MARGIN + (k mod COLUMNS) * CELL_W + (THUMB_W - w) div 2;
    var y0 = MARGIN + (k div COLUMNS) * CELL_H + (THUMB_H - h) div 2;
    var row0 = image_get_height(sheet) - y0 - h;
    for (var y = 0; y < h; y++)
        for (var x = 0; x < w; x++) image_Set_Pixel(sheet, x0 + x, row0 + y, image_Get_Pixel(image, x, y));
}

// Each family applies its operation k to t, a copy of the photograph, and returns [picture,
// label]. A cell that makes a new image frees t and returns the new one.

function transform_cell(t, k) {
    if (k == 0) return [t, "original"];
    image_transformRGB(t, k - 1);
    return [t, "image_transformRGB(id, " + string(k - 1) + ")"];
}

function test_cell(t, k) {
    if (k == 0) return [t, "original"];
    image_test(t, k - 1);
    return [t, "image_test(id, " + string(k - 1) + ")"];
}

// The channel images the split modes of image_transformRGB make of the photograph.
function channel(mode) {
    var c = image_Clone(base);
    image_transformRGB(c, mode);
    return c;
}

function channels_cell(t, k) {
    switch (k) {
        case 0: return [t, "original"];
        case 1:
            image_ConvertGrayscale(t);
            return [t, "image_ConvertGrayscale(id)"];
        case 2:
            image_RGBMinMax(t, 64, 64, 64, 192, 192, 192);
            return [t, "image_RGBMinMax(id,\n  64, 64, 64, 192, 192, 192)"];
        case 3:
            image_RGBMinMax(t, 0, 0, 0, 255, 96, 96);
            return [t, "image_RGBMinMax(id,\n  0, 0, 0, 255, 96, 96)"];
        case 4:
            image_ConvertTo4(t);
            return [t, "image_ConvertTo4(id): 4-bit\n  grey, packed"];
    }
    // Split into channels with image_transformRGB, then compose them back.
    var names = ["RGB", "HSV", "CMY", "CMYK", "LAB", "YCBCR470", "YCBCR709", "RGB"];
    var parts = ["r, g, b", "h, s, v", "c, m, y", "c, m, y, k", "l, a, b", "y, cb, cr", "y, cb, cr", "b, g, r"];
    var modes = [[11, 12, 13], [21, 22, 23], [18, 19, 20], [14, 15, 16, 17], [24, 25, 26], [27, 28, 29],
                 [30, 31, 32], [13, 12, 11]];
    var m = modes[k - 5];
    var c = [];
    for (var i = 0; i < array_length(m); i++) c[i] = channel(m[i]);
    var made;
    switch (names[k - 5]) {
        case "RGB": made = image_RGBChannalToImage(c[0], c[1], c[2]); break;
        case "HSV": made = image_HSVChannalToImage(c[0], c[1], c[2]); break;
        case "CMY": made = image_CMYChannalToImage(c[0], c[1], c[2]); break;
        case "CMYK": made = image_CMYKChannalToImage(c[0], c[1], c[2], c[3]); break;
        case "LAB": made = image_LABChannalToImage(c[0], c[1], c[2]); break;
        case "YCBCR470": made = image_YCBCR470ChannalToImage(c[0], c[1], c[2]); break;
        case "YCBCR709": made = image_YCBCR709ChannalToImage(c[0], c[1], c[2]); break;
    }
    for (var i = 0; i < array_length(c); i++) image_free(c[i]);
    image_free(t);
    var label = "image_" + names[k - 5] + "ChannalToImage(\n  " + parts[k - 5] + ") of modes\n  ";
    if (array_length(m) == 4 || m[0] < m[1])
        label += string(m[0]) + "-" + string(m[array_length(m) - 1]);
    else
        label += string(m[0]) + ", " + string(m[1]) + ", " + string(m[2]);
    return [made, label];
}

function filters_cell(t, k) {
    switch (k) {
        case 0: return [t, "original\nimage_ColoursUsed(id) = " + string(image_ColoursUsed(t))];
        case 1: image_Negative(t); return [t, "image_Negative(id)"];
        case 2: image_Alienify(t); return [t, "image_Alienify(id)"];
        case 3: image_Emboss(t); return [t, "image_Emboss(id)"];
        case 4: image_Equalize(t); return [t, "image_Equalize(id)"];
        case 5: image_Noisify(t, 0.5); return [t, "image_Noisify(id, 0.5)"];
        case 6: image_Pixelize(t, 8); return [t, "image_Pixelize(id, 8)"];
        case 7: image_ReplaceColour(t, 230, 110, 60, 60); return [t, "image_ReplaceColour(id,\n  230, 110, 60, 60)"];
        case 8: image_Saturate(t, 2); return [t, "image_Saturate(id, 2)"];
        case 9: image_Saturate(t, 0.2); return [t, "image_Saturate(id, 0.2)"];
        case 10:
            image_SaturateExt(t, 0.3, 0.59, 0.11, 2.5);
            return [t, "image_SaturateExt(id, 0.3,\n  0.59, 0.11, 2.5)"];
        case 11: image_BlurAvg(t, 4); return [t, "image_BlurAvg(id, 4)"];
        case 12: image_BlurGaussian(t, 4); return [t, "image_BlurGaussian(id, 4)"];
        case 13: image_Sharpen(t, 3); return [t, "image_Sharpen(id, 3)"];
        case 14: image_Contrast(t, 2); return [t, "image_Contrast(id, 2)"];
        case 15: image_Contrast(t, 0.4); return [t, "image_Contrast(id, 0.4)"];
        case 16: image_GammaCorrect(t, 0.5); return [t, "image_GammaCorrect(id, 0.5)"];
        case 17: image_GammaCorrect(t, 2); return [t, "image_GammaCorrect(id, 2)"];
        case 18:
        case 19:
        case 20:
            image_EdgeDetect(t, k - 18);
            return [t, "image_EdgeDetect(id, " + string(k - 18) + ")"];
        case 21: image_SwapColours(t); return [t, "image_SwapColours(id)\n  comes back unchanged"];
        case 22: image_BuildMipmaps(t); return [t, "image_BuildMipmaps(id)\n  the image keeps its pixels"];
        case 23:
            image_ScaleAlpha(t, 0.5);
            image_InvertAlpha(t);
            return [t, "image_ScaleAlpha(id, 0.5);\nimage_InvertAlpha(id)\n  no alpha: unchanged"];
    }
}

function geometry_cell(t, k) {
    switch (k) {
        case 0: return [t, "original"];
        case 1: image_Mirror(t); return [t, "image_Mirror(id)"];
        case 2: image_FlipImageh(t); return [t, "image_FlipImageh(id)"];
        case 3:
            image_Crop(t, 0, 60, 80, 60);
            return [t, "image_Crop(id, 0, 60, 80, 60)\n  top-left quarter, now\n  bottom-left"];
        case 4:
            image_Crop(t, 80, 60, 80, 60);
            return [t, "image_Crop(id, 80, 60, 80,\n  60): top-right quarter,\n  now bottom-left"];
        case 5:
            image_EnlargeImage(t, 2, 2);
            return [t, "image_EnlargeImage(id, 2, 2)\n  twice the size, bottom-\n  left part kept"];
        case 6:
            image_EnlargeCanvas(t, 240, 180);
            return [t, "image_EnlargeCanvas(id, 240,\n  180): keeps its size and\n  the first 160 x 120 of the\n  new canvas: no change"];
        case 7: image_Rotate(t, 30); return [t, "image_Rotate(id, 30)\n  larger: shown reduced"];
        case 8: image_Rotate(t, -150); return [t, "image_Rotate(id, -150)\n  larger: shown reduced"];
        case 9:
            image_Rotate3D(t, 1, 1, 45);
            return [t, "image_Rotate3D(id, 1, 1, 45)\n  leaves the image as it is"];
        case 10: image_Scale(t, 80, 60); return [t, "image_Scale(id, 80, 60)"];
        case 11: image_Scale(t, 160, 60); return [t, "image_Scale(id, 160, 60)"];
        case 12: image_Wave(t, 30); return [t, "image_Wave(id, 30)"];
        case 13: image_Wave(t, 90); return [t, "image_Wave(id, 90)"];
        case 14:
            image_FlipImagev(t);
            init();  // the upside-down origin stays for every DevIL call until init runs again
            return [t, "image_FlipImagev(id): upside\n  down, as is every later\n  DevIL call until init()"];
    }
}

function pixels_cell(t, k) {
    switch (k) {
        case 0: return [t, "original"];
        case 1:
            // A red block at columns 0-39 and rows 0-29: the bottom-left corner of the picture.
            for (var y = 0; y < 30; y++)
                for (var x = 0; x < 40; x++) image_Set_Pixel(t, x, y, c_red);
            return [t, "image_Set_Pixel(id, x, y,\n  c_red), x < 40, y < 30:\n  row 0 is the bottom row"];
        case 2: image_Mosaic(t, 8, -1, 0); return [t, "image_Mosaic(id, 8, -1, 0)"];
        case 3:
            image_Mosaic(t, 12, 1, 255);
            return [t, "image_Mosaic(id, 12, 1, 255)\n  blocks start at the bottom\n  left; red frames"];
        case 4:
        case 5:
        case 6:
            image_median(t, k - 4);
            return [t, "image_median(id, " + string(k - 4) + ")\n  pixel pairs"];
        case 7: image_blur(t, 4, 4); return [t, "image_blur(id, 4, 4)"];
        case 8: image_blur(t, 12, 0); return [t, "image_blur(id, 12, 0)"];
        case 9: test_2(t); return [t, "test_2(id): test pattern,\n  column by column from\n  the bottom"];
        case 10:
            var mirrored = image_Clone(base);
            image_Mirror(mirrored);
            image_2image_add(t, mirrored);
            image_free(mirrored);
            return [t, "image_2image_add(id, m),\n  m a mirrored copy"];
        case 11:
            var negative = image_Clone(base);
            image_Negative(negative);
            var joined = image_2to1(t, negative);
            image_free(negative);
            image_free(t);
            return [joined, "image_2to1(id, n), n a\n  negative copy; twice as\n  wide: shown reduced"];
        case 12:
            // A brush stamps onto the image with the same ID: load it until the IDs meet.
            var brush = image_BrushLoad(BRUSH);
            while (brush >= 0 && brush < t) {
                image_BrushFree(brush);
                brush = image_BrushLoad(BRUSH);
            }
            image_BrushAdd(t);
            image_BrushFree(brush);
            return [t, "image_BrushAdd(id), brush\n  examples/stamp.brush:\n  stamps the bottom rows"];
        case 13:
            test(t);  // writes test_out.png, first stored row at the top
            var reloaded = image_load("test_out.png");
            file_delete("test_out.png");
            if (reloaded > 0) {
                image_free(t);
                t = reloaded;
            }
            return [t, "test(id), then image_load(\n  \"test_out.png\"): upside\n  down"];
        case 14:
            image_to_OX(t, out + "round-trip.ox", 1);
            var back = image_from_OX(out + "round-trip.ox");
            file_delete(out + "round-trip.ox");
            if (back > 0) {
                image_free(t);
                t = back;
            }
            return [t, "image_to_OX(id, f, 1), then\nimage_from_OX(f): upright"];
        case 15:
            image_ConvertGrayscale(t);
            image_ConvertTo4(t);
            return [t, "image_ConvertGrayscale(id);\nimage_ConvertTo4(id): packed\n  4-bit levels"];
    }
}

// ----------------------------------------------------------------------------------------------

// Script variables (no "var"), so that the functions above see them: font, base and out.

#macro PHOTO "examples/astronaut.jpg"
#macro BRUSH "examples/stamp.brush"  // "1" paints the colour of the pixel a stamp starts at, "0" black

init();
image_load("");  // ID 0: from here on a successful load returns an ID above 0

out = parameter_count() >= 1 ? parameter_string(1) + "/" : "build/gallery/";
var photo = image_load(PHOTO);
if (photo <= 0) {
    show_debug_message("could not load " + PHOTO + ": " + image_last_error());
    game_end(1);
}

// The photograph at thumbnail size: every operation runs on a copy of this.
image_Filter_scale(photo, 3);  // box filter for the reductions that follow
base = image_Clone(photo);
image_Scale(base, THUMB_W, THUMB_H);

// name, number of cells, title, note
var families = [
    ["transform", 38, "image_transformRGB(id, mode): channels, orders, greys, colour models, posterising",
     "Modes 11 to 32 give one channel as a grey picture; the channels sheet composes them back."],
    ["test", 25, "image_test(id, mode): channel ranks, HWB and luma",
     "Modes 0 to 12 reorder each pixel's channels by rank; 13 to 23 give greys."],
    ["channels", 13, "Grey, ranges and channel compositions",
     "Each composition takes three (or four) one-channel pictures made by image_transformRGB."],
    ["filters", 24, "DevIL filters: colour, blur, edges, noise",
     "These run through DevIL's ILU library on a copy of the image."],
    ["geometry", 15, "DevIL geometry: flip, crop, enlarge, rotate, scale, wave",
     "Crop and the enlargements count from the bottom-left corner: row 0 is the bottom row."],
    ["pixels", 16, "Pixel access, mosaic, shuffle, blur, test pattern, brush and files",
     "Row 0 is the bottom row: pixels set at small rows, crops and stamps appear at the bottom. "
     + "test() writes the first stored row at the top of its PNG, so its picture comes back upside down."],
];

show_debug_message("<!DOCTYPE html>");
show_debug_message("<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Ombrix gallery</title>");
show_debug_message("<style>body{font-family:sans-serif;margin:2em;max-width:70em}"
    + "img{max-width:100%;border:1px solid #ccc}ol{columns:3;font-size:90%}"
    + "code{white-space:pre-wrap}</style></head><body>");
show_debug_message("<h1>Ombrix gallery</h1>");
show_debug_message("<p>Every operation applied to a 160 &times; 120 copy of <code>" + PHOTO
    + "</code>. Each picture is labelled with the call that made it; <code>id</code> is the copy.</p>");

for (var f = 0; f < array_length(families); f++) {
    var name = families[f][0], count = families[f][1], title = families[f][2];
    var rows = (count + COLUMNS - 1) div COLUMNS;
    var sheet = image_Clone(base);
    image_Scale(sheet, 2 * MARGIN + COLUMNS * CELL_W - GUTTER, 2 * MARGIN + rows * CELL_H - GUTTER);
    image_RGBMinMax(sheet, PAPER, PAPER, PAPER, PAPER, PAPER, PAPER);  // every byte becomes PAPER

    show_debug_message("<h2 id=\"{0}\">{1}</h2>", name, title);
    show_debug_message("<p>{0}</p>", families[f][3]);
    show_debug_message("<p><img src=\"{0}.png\" alt=\"{1}\"></p>", name, title);
    show_debug_message("<ol class=\"calls\">");
    for (var k = 0; k < count; k++) {
        var t = image_Clone(base);
        var cell;
        switch (name) {
            case "transform": cell = transform_cell(t, k); break;
            case "test": cell = test_cell(t, k); break;
            case "channels": cell = channels_cell(t, k); break;
            case "filters": cell = filters_cell(t, k); break;
            case "geometry": cell = geometry_cell(t, k); break;
            case "pixels": cell = pixels_cell(t, k); break;
        }
        place(sheet, k, cell[0]);
        image_free(cell[0]);
        draw_label(sheet, MARGIN + (k mod COLUMNS) * CELL_W, MARGIN + (k div COLUMNS) * CELL_H + THUMB_H + 4, cell[1]);
        show_debug_message("<li><code>{0}</code></li>", string_replace_all(string_replace_all(cell[1], "&", "&amp;"), "<", "&lt;"));
    }
    image_save(sheet, out + name + ".png", 5);
    image_free(sheet);
    show_debug_message("</ol>");
}
show_debug_message("</body></html>");
