// Brushes through the exports: their own ID counter, IDs used up by failed loads, files that are
// not brush files, and unknown IDs. None of them needs init or changes the last-error text.
show_debug_message("missing file: " + string(image_BrushLoad("none.brush")));
var b = image_BrushLoad("sample.bmp");   // not a brush file: its header lines read as 0 and 0
show_debug_message("bitmap as a brush: " + string(b));
show_debug_message("save: " + string(image_BrushSave(b, "b.brush")) + ", unwritable: "
    + string(image_BrushSave(b, "no/dir/b.brush")));
var c = image_BrushLoad("b.brush");
show_debug_message("saved brush loads as " + string(c));
init();
show_debug_message("last error after brushes: " + image_last_error());
var img = image_load("sample.png");
var img2 = image_load("sample.png");
var img3 = image_load("sample.png");
var p = image_Get_Pixel(img3, 0, 0);
show_debug_message("empty brush stamped on image 2: " + string(image_BrushAdd(2)) + ", pixel kept " + string(image_Get_Pixel(img3, 0, 0) == p));
show_debug_message("image 0 but no brush 0 (its load failed): " + string(image_BrushAdd(0.9)) + " " + image_last_error());
show_debug_message("no image 5: " + string(image_BrushAdd(5)) + " " + image_last_error());
show_debug_message("free: " + string(image_BrushFree(c)) + ", again: " + string(image_BrushFree(c)) + " " + image_last_error());
show_debug_message("save freed: " + string(image_BrushSave(c, "c.brush")) + " " + image_last_error());
show_debug_message("next brush ID: " + string(image_BrushLoad("b.brush")));
