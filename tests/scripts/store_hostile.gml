// Unknown, freed and hostile IDs and paths: every store export answers -1 with a clear text.
init();
var huge = 1000000000 * 1000000000 * 1000000000 * 1000000000;
var nan = huge * huge * huge * huge * huge * huge * huge * huge * huge;
nan = nan - nan;  // infinity minus infinity
show_debug_message("fresh library: " + image_last_error());
var a = image_load("sample.png");
image_free(a);
var ids = 0;
repeat (5) {
    var id = 99;
    if (ids == 1) id = a;          // freed
    if (ids == 2) id = -1;
    if (ids == 3) id = huge;       // beyond every ID
    if (ids == 4) id = nan;
    show_debug_message("id case " + string(ids) + ": width " + string(image_get_width(id)) + " height " + string(image_get_height(id))
        + " bpp " + string(image_get_Bpp(id)) + " clone " + string(image_Clone(id)) + " free " + string(image_free(id))
        + " save " + string(image_save(id, "x.png", 5)) + " asave " + string(image_asave(id, "x.png")) + ": " + image_last_error());
    ids += 1;
}
show_debug_message("missing file: " + string(image_load("no-such-file.png")) + " " + image_last_error());
show_debug_message("directory: " + string(image_load(".")) + " " + image_last_error());
show_debug_message("empty path: " + string(image_load("")) + " " + image_last_error());
var b = image_load("sample.bmp");
show_debug_message("a later load still works: id " + string(b) + ", " + string(image_get_width(b)) + "x" + string(image_get_height(b)));
show_debug_message("save type NaN: " + string(image_save(b, "nan-type.png", nan)) + ", huge type: " + string(image_save(b, "huge.png", huge)));
show_debug_message("init twice: " + string(init()) + " " + string(init()) + ", still " + string(image_get_width(b)) + " wide");
