// The DevIL round trip through the runner: the main road (load, blur, save, reload), what the
// operations do to the sample, the mode tables at and beyond their ends, settings that outlast the
// call, the resizing exports, and the refusals that keep DevIL from reading outside an image.
var huge = 1000000000 * 1000000000 * 1000000000 * 1000000000;
var inf = huge * huge * huge * huge * huge * huge * huge * huge * huge;
var nan = inf - inf;

show_debug_message("before init: negative " + string(image_Negative(0)) + ", language " + string(image_SetLanguage(0)));
init();

// Main road: the blurred sample survives a PNG save and a reload byte for byte.
var a = image_load("sample.png");
var w = image_get_width(a);
var h = image_get_height(a);
var blurred = image_Clone(a);
show_debug_message("blur " + string(image_BlurGaussian(blurred, 2)));
var dn = 0;
for (var y = 0; y < image_get_height(a); y += 1) for (var x = 0; x < image_get_width(a); x += 1) if (image_Get_Pixel(a, x, y) != image_Get_Pixel(blurred, x, y)) dn += 1;
show_debug_message("the blur changed " + string(dn) + " of " + string(w * h) + " pixels");
show_debug_message("save " + string(image_save(blurred, "blurred.png", 5)));
var back = image_load("blurred.png");
var dn = 0;
for (var y = 0; y < image_get_height(back); y += 1) for (var x = 0; x < image_get_width(back); x += 1) if (image_Get_Pixel(back, x, y) != image_Get_Pixel(blurred, x, y)) dn += 1;
show_debug_message("reloaded " + string(image_get_width(back)) + "x" + string(image_get_height(back)) + ", differs in " + string(dn));

// Operations that undo themselves, and one colour's count.
var t = image_Clone(a);
image_Negative(t);
var dn = 0;
for (var y = 0; y < image_get_height(a); y += 1) for (var x = 0; x < image_get_width(a); x += 1) if (image_Get_Pixel(a, x, y) != image_Get_Pixel(t, x, y)) dn += 1;
show_debug_message("negative once changes " + string(dn) + ", first pixel " + string(image_Get_Pixel(a, 0, 0)) + " -> " + string(image_Get_Pixel(t, 0, 0)));
image_Negative(t);
var dn = 0;
for (var y = 0; y < image_get_height(a); y += 1) for (var x = 0; x < image_get_width(a); x += 1) if (image_Get_Pixel(a, x, y) != image_Get_Pixel(t, x, y)) dn += 1;
show_debug_message("negative twice changes " + string(dn));
image_Mirror(t);
show_debug_message("mirror: pixel (0,5) now " + string(image_Get_Pixel(t, 0, 5)) + ", was at (" + string(w - 1) + ",5) " + string(image_Get_Pixel(a, w - 1, 5)));
image_Mirror(t);
image_FlipImageh(t);
show_debug_message("flip: row 0 is old row " + string(h - 1) + ": " + string(image_Get_Pixel(t, 3, 0) == image_Get_Pixel(a, 3, h - 1)));
image_FlipImageh(t);
var dn = 0;
for (var y = 0; y < image_get_height(a); y += 1) for (var x = 0; x < image_get_width(a); x += 1) if (image_Get_Pixel(a, x, y) != image_Get_Pixel(t, x, y)) dn += 1;
show_debug_message("mirror and flip twice change " + string(dn));
show_debug_message("colours used by the sample " + string(image_ColoursUsed(a)));
var one = image_Clone(a);
image_Scale(one, 1, 1);
image_Scale(one, 8, 8);
show_debug_message("colours used after scaling to one pixel and back " + string(image_ColoursUsed(one)));
show_debug_message("contrast " + string(image_Contrast(t, 1.5)) + ", gamma " + string(image_GammaCorrect(t, 2.2)));
var dn = 0;
for (var y = 0; y < image_get_height(a); y += 1) for (var x = 0; x < image_get_width(a); x += 1) if (image_Get_Pixel(a, x, y) != image_Get_Pixel(t, x, y)) dn += 1;
show_debug_message("contrast and gamma changed " + string(dn) + " pixels");

// Mode tables: the last index works, one past it and negatives do not, with ILU's text.
init();
show_debug_message("edge 2" + " -> " + string(image_EdgeDetect(image_Clone(a), 2)) + " " + image_last_error());
show_debug_message("edge 3" + " -> " + string(image_EdgeDetect(a, 3)) + " " + image_last_error());
show_debug_message("edge -1" + " -> " + string(image_EdgeDetect(a, -1)) + " " + image_last_error());
show_debug_message("compress 4" + " -> " + string(image_CompressFunc(a, 4)) + " " + image_last_error());
show_debug_message("compress 5" + " -> " + string(image_CompressFunc(a, 5)) + " " + image_last_error());
show_debug_message("dxtc 5" + " -> " + string(image_DXTCdata(a, 5)) + " " + image_last_error());
show_debug_message("dxtc 6" + " -> " + string(image_DXTCdata(a, 6)) + " " + image_last_error());
show_debug_message("dxtc nan" + " -> " + string(image_DXTCdata(a, nan)) + " " + image_last_error());
show_debug_message("filter 12" + " -> " + string(image_Filter(a, 12)) + " " + image_last_error());
show_debug_message("filter 13" + " -> " + string(image_Filter(a, 13)) + " " + image_last_error());
show_debug_message("filter_scale 8" + " -> " + string(image_Filter_scale(a, 8)) + " " + image_last_error());
show_debug_message("filter_scale 9" + " -> " + string(image_Filter_scale(a, 9)) + " " + image_last_error());
show_debug_message("set string 10" + " -> " + string(image_SetString(a, 10, "sample_pixels")) + " " + image_last_error());
show_debug_message("set string 10 again" + " -> " + string(image_SetString(a, 10, "sample_pixels_2")) + " " + image_last_error());
show_debug_message("set string 11" + " -> " + string(image_SetString(a, 11, "x")) + " " + image_last_error());
show_debug_message("language 6" + " -> " + string(image_SetLanguage(6)) + " " + image_last_error());
show_debug_message("language 0" + " -> " + string(image_SetLanguage(0)) + " " + image_last_error());
show_debug_message("unknown id" + " -> " + string(image_EdgeDetect(9999, 0)) + " " + image_last_error());
show_debug_message("freed id" + " -> " + string(image_Negative(back + 0 * image_free(back))) + " " + image_last_error());
image_Filter_scale(a, 0);

// Settings outlast the call: after image_FlipImagev every round trip comes back upside down,
// until init.
var f = image_Clone(a);
image_FlipImagev(f);
show_debug_message("flipv: row 0 is old row " + string(h - 1) + ": " + string(image_Get_Pixel(f, 3, 0) == image_Get_Pixel(a, 3, h - 1)));
var g = image_Clone(a);
image_Filter(g, 0);
show_debug_message("a plain round trip after flipv turns the image too: " + string(image_Get_Pixel(g, 3, 0) == image_Get_Pixel(a, 3, h - 1)));
init();
var k = image_Clone(a);
image_Filter(k, 0);
var dn = 0;
for (var y = 0; y < image_get_height(a); y += 1) for (var x = 0; x < image_get_width(a); x += 1) if (image_Get_Pixel(a, x, y) != image_Get_Pixel(k, x, y)) dn += 1;
show_debug_message("after init the round trip keeps it: changed " + string(dn));

// Resizing: the size follows DevIL's image, the bits per pixel stay.
var s = image_Clone(a);
show_debug_message("scale " + string(image_Scale(s, 30.9, 20)) + ": " + string(image_get_width(s)) + "x" + string(image_get_height(s)) + " bpp " + string(image_get_Bpp(s)));
show_debug_message("scale back " + string(image_Scale(s, w, h)) + ": " + string(image_get_width(s)) + "x" + string(image_get_height(s)));
var r = image_Clone(a);
show_debug_message("rotate 180 " + string(image_Rotate(r, 180)) + ": " + string(image_get_width(r)) + "x" + string(image_get_height(r)) + " bpp " + string(image_get_Bpp(r)));
var r2 = image_Clone(a);
show_debug_message("rotate 45 " + string(image_Rotate(r2, 45)) + ": wider " + string(image_get_width(r2) > w) + ", taller " + string(image_get_height(r2) > h));
show_debug_message("rotate 30 " + string(image_Rotate(r2, 30)) + ": " + string(image_get_width(r2)) + "x" + string(image_get_height(r2)) + ", corner pixel " + string(image_Get_Pixel(r2, 0, 0)));

// Refusals: image and size untouched, ILU's invalid-parameter text or the size text.
var q = image_Clone(a);
show_debug_message("rotate 90" + " -> " + string(image_Rotate(q, 90)) + " " + image_last_error());
show_debug_message("rotate -270" + " -> " + string(image_Rotate(q, -270)) + " " + image_last_error());
show_debug_message("rotate nan" + " -> " + string(image_Rotate(q, nan)) + " " + image_last_error());
show_debug_message("rotate inf" + " -> " + string(image_Rotate(q, inf)) + " " + image_last_error());
show_debug_message("scale 0 wide" + " -> " + string(image_Scale(q, 0, 10)) + " " + image_last_error());
show_debug_message("scale -1" + " -> " + string(image_Scale(q, -1, 10)) + " " + image_last_error());
show_debug_message("scale beyond the pixel limit" + " -> " + string(image_Scale(q, 100000, 100000)) + " " + image_last_error());
show_debug_message("crop outside" + " -> " + string(image_Crop(q, w - 4, 0, 5, 5)) + " " + image_last_error());
show_debug_message("crop empty" + " -> " + string(image_Crop(q, 0, 0, 0, 5)) + " " + image_last_error());
show_debug_message("crop huge" + " -> " + string(image_Crop(q, huge, 0, 5, 5)) + " " + image_last_error());
show_debug_message("wave nan" + " -> " + string(image_Wave(q, nan)) + " " + image_last_error());
show_debug_message("blur for ever" + " -> " + string(image_BlurAvg(q, 4294967295)) + " " + image_last_error());
show_debug_message("canvas 0" + " -> " + string(image_EnlargeCanvas(q, 0, 4)) + " " + image_last_error());
show_debug_message("enlarge by nan" + " -> " + string(image_EnlargeImage(q, nan, 1)) + " " + image_last_error());
var dn = 0;
for (var y = 0; y < image_get_height(a); y += 1) for (var x = 0; x < image_get_width(a); x += 1) if (image_Get_Pixel(a, x, y) != image_Get_Pixel(q, x, y)) dn += 1;
show_debug_message("after the refusals " + string(image_get_width(q)) + "x" + string(image_get_height(q)) + ", changed " + string(dn));
var thin = image_Clone(a);
image_Scale(thin, 40, 1);
show_debug_message("emboss one row" + " -> " + string(image_Emboss(thin)) + " " + image_last_error());
show_debug_message("sharpen one row" + " -> " + string(image_Sharpen(thin, 2)) + " " + image_last_error());
show_debug_message("blur one row" + " -> " + string(image_BlurGaussian(thin, 1)) + " " + image_last_error());
var narrow = image_Clone(a);
image_Scale(narrow, 45, 10);
show_debug_message("wave 45 wide" + " -> " + string(image_Wave(narrow, 10)) + " " + image_last_error());
image_Scale(narrow, 46, 10);
show_debug_message("wave 46 wide" + " -> " + string(image_Wave(narrow, 10)) + " " + image_last_error());

// A crop keeps the size and puts the rectangle in the top-left corner.
var c = image_Clone(a);
show_debug_message("crop inside" + " -> " + string(image_Crop(c, 10, 5, 20, 10)) + " " + image_last_error());
show_debug_message("crop: " + string(image_get_width(c)) + "x" + string(image_get_height(c)) + ", corner is old (10,5): " + string(image_Get_Pixel(c, 0, 0) == image_Get_Pixel(a, 10, 5)) + ", far corner kept: " + string(image_Get_Pixel(c, w - 1, h - 1) == image_Get_Pixel(a, w - 1, h - 1)));
