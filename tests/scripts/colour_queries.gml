// Colour queries and colour building: they need no image and answer the same before and after
// init. Each line prints the results with the values worked out by hand after "want".
var huge = 1000000000 * 1000000000 * 1000000000 * 1000000000;
var inf = huge * huge * huge * huge * huge * huge * huge * huge * huge;
var nan = inf - inf;

var round = 0;
repeat (2) {
    if (round == 1) init();
    show_debug_message("round " + string(round));
    if (round == 1) {
        show_debug_message("pullout kept through init: black of black " + string(image_get_black(0)) + "  want 0");
        image_get_pullout(100);
    }
    show_debug_message("grey 128: value " + string(image_get_value(8421504)) + " hue " + string(image_get_hue(8421504))
        + " saturation " + string(image_get_saturation(8421504)) + "  want 128 0 0");
    show_debug_message("hues of green, blue, red: " + string(image_get_hue(65280)) + " " + string(image_get_hue(16711680))
        + " " + string(image_get_hue(255)) + "  want 85 170 0");
    // (10, 200, 50) packed: green largest, (2 + 40/190) / 6 × 255.999 = 94.3; 190/200 × 255.999 = 243.2.
    var mixed = 10 + 200 * 256 + 50 * 65536;
    show_debug_message("mixed: " + string(image_get_hue(mixed)) + " " + string(image_get_saturation(mixed)) + " "
        + string(image_get_value(mixed)) + "  want 94 243 200");
    show_debug_message("truncation: value of 255.9 is " + string(image_get_value(255.9)) + ", of -0.5 " + string(image_get_value(-0.5))
        + ", of 2^24 + 7 " + string(image_get_value(16777216 + 7)) + "  want 255 0 7");
    show_debug_message("hostile colours: " + string(image_get_value(nan)) + " " + string(image_get_hue(inf)) + " "
        + string(image_get_black(huge)) + "  want 0 0 255");
    show_debug_message("pullout 100: black of black " + string(image_get_black(0)) + ", cyan " + string(image_get_cyan(0))
        + "; red: " + string(image_get_cyan(255)) + " " + string(image_get_magenta(255)) + " " + string(image_get_yellow(255))
        + " " + string(image_get_black(255)) + "  want 255, 0; 0 255 255 0");
    show_debug_message("set pullout 0: " + string(image_get_pullout(0)) + "; black " + string(image_get_cyan(0)) + " "
        + string(image_get_black(0)) + "  want 0; 255 0");
    image_get_pullout(50);
    show_debug_message("pullout 50: " + string(image_get_black(0)) + " " + string(image_get_cyan(0)) + "  want 127 254");
    image_get_pullout(250.7);
    show_debug_message("pullout 250.7 acts as 100: " + string(image_get_black(0)) + " " + string(image_get_cyan(0)) + "  want 255 0");
    image_get_pullout(nan);
    show_debug_message("pullout NaN acts as none: " + string(image_get_black(0)) + " " + string(image_get_cyan(0)) + "  want 0 255");
    // c, m, y = 245, 55, 205; k = 55; C = 190 × 256 / 201, Y = 150 × 256 / 201.
    image_get_pullout(100);
    show_debug_message("mixed CMYK: " + string(image_get_cyan(mixed)) + " " + string(image_get_magenta(mixed)) + " "
        + string(image_get_yellow(mixed)) + " " + string(image_get_black(mixed)) + "  want 241 0 191 55");
    show_debug_message("hsv: " + string(image_make_color_hsv(0, 0, 128)) + " " + string(image_make_color_hsv(0, 255, 255)) + " "
        + string(image_make_color_hsv(255, 255, 255)) + " " + string(image_make_color_hsv(85, 255, 255)) + " "
        + string(image_make_color_hsv(170.9, 255, 255)) + "  want 8421504 255 255 65280 16711680");
    // -85 is -120 degrees, taken as 240: blue. 510 is 720 degrees: red.
    show_debug_message("hsv hues outside 0..255: " + string(image_make_color_hsv(-85, 255, 255)) + " "
        + string(image_make_color_hsv(510, 255, 255)) + "  want 16711680 255");
    show_debug_message("hsv hostile: " + string(image_make_color_hsv(nan, nan, nan)) + " " + string(image_make_color_hsv(huge, 255, 255))
        + " " + string(image_make_color_hsv(0, 0, 300)) + "  want 65792 16776960 2894892");
    show_debug_message("cmyk: " + string(image_make_color_cmyk(0, 0, 0, 0)) + " " + string(image_make_color_cmyk(255, 255, 255, 0)) + " "
        + string(image_make_color_cmyk(0, 0, 0, 255)) + " " + string(image_make_color_cmyk(300, 0, 0, 0)) + " "
        + string(image_make_color_cmyk(100, 0, 0, 50)) + "  want 16777215 0 0 -45 13487485");
    show_debug_message("cmyk hostile: " + string(image_make_color_cmyk(huge, 0, 0, 0)) + " " + string(image_make_color_cmyk(nan, nan, nan, nan))
        + "  want -2130706433 -2130706433");
    image_get_pullout(0);
    round += 1;
}
