// Row 0 is the bottom row: paint columns 0-39 of rows 0-29 red, then save the picture twice.
init();
image_load("");
var id = image_load("examples/astronaut.jpg");
if (id <= 0) { show_debug_message("cannot load: " + image_last_error()); exit; }
image_Scale(id, 200, 150);
for (var y = 0; y < 30; y++)
    for (var x = 0; x < 40; x++)
        image_Set_Pixel(id, x, y, $0000FF);
test(id);                                  // test_out.png: stored row 0 written at the top
var as_test_wrote_it = image_load("test_out.png");
file_delete("test_out.png");
var both = image_2to1(id, as_test_wrote_it);  // left as image_save writes it, right as test() does
image_save(both, "build/rows.png", 5);
