// Grey, channel ranges and the channel compositions through the exports: splitting the sample
// with the transform modes and composing it back, pixel by pixel checks against the definitions
// worked out here, and the results for hostile IDs and sizes.
var huge = 1000000000 * 1000000000 * 1000000000 * 1000000000;
var nan = huge * huge * huge * huge * huge * huge * huge * huge * huge;
nan = nan - nan;

show_debug_message("before init: " + string(image_ConvertGrayscale(0)) + " " + string(image_RGBMinMax(0, 0, 0, 0, 9, 9, 9)) + " "
    + string(image_RGBChannalToImage(0, 0, 0)) + " " + string(image_CMYKChannalToImage(0, 0, 0, 0)) + " "
    + string(image_LABChannalToImage(0, 0, 0)));
init();
show_debug_message("after init: " + image_last_error());
var a = image_load("sample.png");
show_debug_message("first image ID " + string(a) + " (the refused compositions took none)");
var w = image_get_width(a);
var h = image_get_height(a);

// Counts the pixels of two images that differ.
var differ = 0;

// The four undercolour-removed grey images compose back into the image.
var c = image_Clone(a);
var m = image_Clone(a);
var ye = image_Clone(a);
var k = image_Clone(a);
show_debug_message("split: " + string(image_transformRGB(c, 14)) + string(image_transformRGB(m, 15))
    + string(image_transformRGB(ye, 16)) + string(image_transformRGB(k, 17)));
var back = image_CMYKChannalToImage(c, m, ye, k);
differ = 0;
for (var y = 0; y < h; y += 1) for (var x = 0; x < w; x += 1) if (image_Get_Pixel(back, x, y) != image_Get_Pixel(a, x, y)) differ += 1;
show_debug_message("CMYK split and composed: " + string(image_get_width(back)) + "x" + string(image_get_height(back)) + ", "
    + string(differ) + " pixels differ");

// Red, green and blue grey images compose back with RGB; CMY copies bytes the same way.
var r = image_Clone(a);
var g = image_Clone(a);
var b = image_Clone(a);
image_transformRGB(r, 11);
image_transformRGB(g, 12);
image_transformRGB(b, 13);
var rgb = image_RGBChannalToImage(r, g, b);
var cmy = image_CMYChannalToImage(a, a, a);
var rgb2 = image_RGBChannalToImage(a, a, a);
show_debug_message("three compositions in a row: " + string(rgb) + " " + string(cmy) + " " + string(rgb2));
differ = 0;
for (var y = 0; y < h; y += 1) for (var x = 0; x < w; x += 1) {
    var p = image_Get_Pixel(a, x, y);
    if (image_Get_Pixel(rgb, x, y) != p || image_Get_Pixel(cmy, x, y) != p || image_Get_Pixel(rgb2, x, y) != p) differ += 1;
}
show_debug_message("RGB split and composed, CMY and RGB copies: " + string(differ) + " pixels differ");

// Grey and ranges answer 1 and 0 (their pixels are checked colour by colour in the unit tests).
var grey = image_Clone(a);
show_debug_message("grey: " + string(image_ConvertGrayscale(grey)) + ", ranges: " + string(image_RGBMinMax(image_Clone(a), 10, 0, 0, 200, 255, 255)));

// Known colours: a grey 128 image (every byte limited to 128), a black one.
var g128 = image_Clone(a);
image_RGBMinMax(g128, 128, 128, 128, 128, 128, 128);
var black = image_Clone(a);
image_RGBMinMax(black, 0, 0, 0, 0, 0, 0);
var lab = image_LABChannalToImage(g128, g128, g128);
var dark = image_YCBCR470ChannalToImage(black, g128, g128);
var hsv = image_HSVChannalToImage(g128, black, grey);
differ = 0;
for (var y = 0; y < h; y += 1) for (var x = 0; x < w; x += 1) {
    if (image_Get_Pixel(lab, x, y) != 47 * 65793 || image_Get_Pixel(dark, x, y) != 0) differ += 1;
    if (image_Get_Pixel(hsv, x, y) != image_Get_Pixel(grey, x, y)) differ += 1;
}
show_debug_message("L*a*b* grey 128 is 47, Y 0 is black, HSV without saturation is the value: " + string(differ) + " differ");

// A composed image is an ordinary image: transformed, saved, loaded back and freed.
show_debug_message("composed image: bpp " + string(image_get_Bpp(back)) + ", transform " + string(image_transformRGB(back, 10))
    + ", save " + string(image_save(back, "composed.png", 5)));
var again = image_load("composed.png");
differ = 0;
for (var y = 0; y < h; y += 1) for (var x = 0; x < w; x += 1) if (image_Get_Pixel(again, x, y) != image_Get_Pixel(back, x, y)) differ += 1;
show_debug_message("saved and loaded back: " + string(differ) + " pixels differ; free " + string(image_free(back)) + " "
    + string(image_free(again)) + ", then " + string(image_get_width(back)));

// Hostile sources: unknown, freed, negative, NaN and huge IDs, and a smaller later source. Each
// failure uses up an ID and registers nothing.
var wide = image_2to1(a, a);
var next = image_RGBChannalToImage(a, a, a);
show_debug_message("next ID " + string(next) + "  want 21");
show_debug_message("unknown: " + string(image_RGBChannalToImage(a, 999, a)) + " " + image_last_error());
show_debug_message("freed: " + string(image_CMYKChannalToImage(a, a, a, back)) + " " + image_last_error());
show_debug_message("negative, NaN, huge: " + string(image_HSVChannalToImage(-1, a, a)) + " " + string(image_LABChannalToImage(a, nan, a))
    + " " + string(image_YCBCR470ChannalToImage(a, a, huge)) + " " + image_last_error());
show_debug_message("smaller later source: " + string(image_YCBCR709ChannalToImage(wide, a, a)) + " " + image_last_error());
show_debug_message("smaller key source: " + string(image_CMYKChannalToImage(wide, wide, wide, a)) + " " + image_last_error());
var larger = image_RGBChannalToImage(a, wide, wide);
show_debug_message("larger later sources are read by the first's pixels: ID " + string(larger) + " (want 29: failures use up IDs), "
    + string(image_get_width(larger)) + "x" + string(image_get_height(larger)));
show_debug_message("grey and ranges of unknown IDs: " + string(image_ConvertGrayscale(999)) + " "
    + string(image_RGBMinMax(nan, 0, 0, 0, 1, 1, 1)) + " " + image_last_error());
// Red: a minimum of 10^36 applies and stores 0 (beyond 32 bits), its NaN maximum sets no limit;
// green: bounds far outside leave 128; blue: the maximum -1 applies and stores 255.
show_debug_message("hostile bounds: " + string(image_RGBMinMax(g128, huge, -huge, nan, nan, 1000000000 * 10, -1)) + " "
    + string(image_Get_Pixel(g128, 0, 0)) + "  want 0 " + string(0 + 128 * 256 + 255 * 65536));
