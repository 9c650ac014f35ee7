// A first tour of Ombrix: run from the project's top directory with
//     build/ombrix examples/demo.gml
// It loads the sample image, reports its size, saves it in several formats, clones and frees it.

init();
show_debug_message("Ombrix " + image_OmbrixVersion() + " on DevIL " + image_DevilVersion());

image_load("");  // spend ID 0: from here on a load that works returns an ID above 0
var id = image_load("examples/sample.png");
if (id <= 0) {
    show_debug_message("could not load examples/sample.png: " + image_last_error());
    exit;
}
show_debug_message("loaded examples/sample.png as image " + string(id) + ": "
    + string(image_get_width(id)) + " x " + string(image_get_height(id))
    + ", " + string(image_get_Bpp(id)) + " bits per pixel");

// Save by type index (5 is PNG, 0 BMP, 10 TGA) and by extension.
var out = "build/demo";
image_save(id, out + "-copy.png", 5);
image_save(id, out + "-copy.bmp", 0);
image_save(id, out + "-copy.tga", 10);
image_asave(id, out + "-by-extension.tif");
show_debug_message("wrote " + out + "-copy.png, " + out + "-copy.bmp, " + out + "-copy.tga and "
    + out + "-by-extension.tif");

// A clone has its own pixels: freeing the original leaves it intact.
var twin = image_Clone(id);
image_free(id);
show_debug_message("clone " + string(twin) + " is still " + string(image_get_width(twin)) + " x "
    + string(image_get_height(twin)) + " after freeing image " + string(id));
image_free(twin);
show_debug_message("last error: " + image_last_error());
