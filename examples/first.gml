init();
image_load("");                       // spend ID 0, so that a load that works returns an ID above 0
var id = image_load("examples/astronaut.jpg");
if (id <= 0) { show_debug_message("cannot load: " + image_last_error()); exit; }
image_Scale(id, 240, 180);
var poster = image_Clone(id);
image_transformRGB(poster, 34);       // posterise each channel to five levels
image_Mosaic(poster, 4, -1, 0);       // then pixelate in 4 x 4 blocks
var both = image_2to1(id, poster);    // side by side: a new image
image_save(both, "build/first.png", 5);
