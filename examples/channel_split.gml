// Splits an image into three grey images, one per channel, and puts them back together.
//     build/ombrix examples/channel_split.gml IN PREFIX
// writes PREFIX-red.png, PREFIX-green.png, PREFIX-blue.png and PREFIX-joined.png.

if (parameter_count() != 2) {
    show_debug_message("usage: ombrix examples/channel_split.gml IN PREFIX");
    game_end(2);
}
var source = parameter_string(1);
var prefix = parameter_string(2);

enum Mode { red_grey = 11, green_grey = 12, blue_grey = 13 }

init();
image_load("");  // spend ID 0: a load that works returns an ID above 0
var original = image_load(source);
if (original <= 0) {
    show_debug_message("cannot load {0}: {1}", source, image_last_error());
    game_end(1);
}

var names = ["red", "green", "blue"];
var modes = [Mode.red_grey, Mode.green_grey, Mode.blue_grey];
var greys = array_create(3);
for (var i = 0; i < 3; i++) {
    greys[i] = image_Clone(original);
    image_transformRGB(greys[i], modes[i]);
    var path = prefix + "-" + names[i] + ".png";
    if (image_save(greys[i], path, 5) != 1) {
        show_debug_message("cannot write {0}: {1}", path, image_last_error());
        game_end(1);
    }
    show_debug_message("wrote " + path);
}

// A grey image holds its channel in every byte, so composing red, green and blue from the
// three greys gives the original back.
var joined = image_RGBChannalToImage(greys[0], greys[1], greys[2]);
image_save(joined, prefix + "-joined.png", 5);
var same = true;
var w = image_get_width(original), h = image_get_height(original);
for (var y = 0; y < h && same; y += 7) {
    for (var x = 0; x < w; x += 7) {
        if (image_Get_Pixel(joined, x, y) != image_Get_Pixel(original, x, y)) {
            same = false;
            break;
        }
    }
}
show_debug_message("wrote {0}-joined.png: {1}", prefix, same ? "the same pixels as the original" : "DIFFERENT pixels");
for (var i = 0; i < 3; i++) image_free(greys[i]);
image_free(joined);
image_free(original);
if (!same) game_end(1);
