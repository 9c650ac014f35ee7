// The main road of the image store: state before and after init, loading, sizes, every save type,
// reloading and comparing pixels, cloning and freeing.

var before = image_last_error();
show_debug_message("before init: last error " + before + ", width " + string(image_get_width(0)));
show_debug_message("load before init: " + string(image_load("sample.png")) + " " + string(image_load("sample.png")));
show_debug_message("versions " + image_OmbrixVersion() + " " + image_DevilVersion());
show_debug_message("init " + string(init()));
show_debug_message("after init: " + image_last_error());

var png = image_load("sample.png");
var bmp = image_load("sample.bmp");
show_debug_message("ids " + string(png) + " " + string(bmp));
show_debug_message("png " + string(image_get_width(png)) + "x" + string(image_get_height(png)) + " bpp " + string(image_get_Bpp(png)));
show_debug_message("bmp " + string(image_get_width(bmp)) + "x" + string(image_get_height(bmp)) + " bpp " + string(image_get_Bpp(bmp)));
show_debug_message("id 3.7 names image 3: width " + string(image_get_width(3.7)));

var w = image_get_width(png);
var h = image_get_height(png);
var diff = 0;
for (var y = 0; y < h; y += 1) for (var x = 0; x < w; x += 1) {
    if (image_Get_Pixel(png, x, y) != image_Get_Pixel(bmp, x, y)) diff += 1;
}
show_debug_message("png and bmp differ in " + string(diff) + " pixels");

// Every lossless type of the save table comes back with the same pixels.
var types = 0;
repeat (13) {
    var path = "saved-" + string(types);
    show_debug_message("save type " + string(types) + ": " + string(image_save(png, path, types)));
    types += 1;
}
var lossless = 0;
var t = 0;
repeat (13) {
    if (t == 0 || t == 4 || t == 5 || t == 6 || t == 7 || t == 9 || t == 10 || t == 11) {
        var back = image_load("saved-" + string(t));
        var d = 0;
        for (var y = 0; y < h; y += 1) for (var x = 0; x < w; x += 1) {
            if (image_Get_Pixel(back, x, y) != image_Get_Pixel(png, x, y)) d += 1;
        }
        if (d == 0 && image_get_width(back) == w) lossless += 1;
        else show_debug_message("type " + string(t) + " changed " + string(d) + " pixels");
        image_free(back);
    }
    t += 1;
}
show_debug_message("lossless round trips: " + string(lossless));
show_debug_message("last error before the failed saves: " + image_last_error());

// Saving by extension; a type outside the table still returns 1.
show_debug_message("asave " + string(image_asave(png, "by-extension.tga")));
var tga = image_load("by-extension.tga");
show_debug_message("by-extension.tga: " + string(image_get_width(tga)) + "x" + string(image_get_height(tga)));
show_debug_message("type 13: " + string(image_save(png, "unknown-type.zzz", 13)) + ", type -1: " + string(image_save(png, "unknown-type.zzz", -1)));
show_debug_message("unknown-type.zzz loads as " + string(image_load("unknown-type.zzz")) + ": " + image_last_error());

// A save that DevIL cannot do keeps the old file.
image_save(bmp, "keep.png", 5);
show_debug_message("xpm save over keep.png: " + string(image_save(png, "keep.png", 12)));
var kept = image_load("keep.png");
show_debug_message("keep.png still loads: " + string(image_get_width(kept)) + "x" + string(image_get_height(kept)));
show_debug_message("into a missing directory: " + string(image_save(png, "no/such/dir/x.png", 5)));

// Clones are independent.
var twin = image_Clone(png);
image_Set_Pixel(twin, 0, 0, 255);
show_debug_message("clone " + string(twin) + ": " + string(image_Get_Pixel(twin, 0, 0)) + " vs original " + string(image_Get_Pixel(png, 0, 0)));
show_debug_message("free " + string(image_free(png)));
show_debug_message("clone after freeing the original: " + string(image_get_width(twin)) + "x" + string(image_get_height(twin)));
