// Maths, random numbers and colours.
show_debug_message(string(sqrt(16)) + " " + string(sqr(-3)) + " " + string(power(2, 10)));
show_debug_message(string(exp(0)) + " " + string(round(ln(exp(2)) * 1e6) / 1e6) + " " + string(log2(1024)) + " " + string(log10(1000)));
show_debug_message(string(sin(0)) + " " + string(cos(pi)) + " " + string(tan(pi / 4)));
show_debug_message(round(radtodeg(arctan2(1, 1)) * 1e6) / 1e6);
show_debug_message(abs(degtorad(180) - pi) < 1e-12);
show_debug_message(string(frac(3.75)) + " " + string(frac(-2.25)));
show_debug_message(string(sign(-7)) + " " + string(sign(0)) + " " + string(sign(0.1)));
show_debug_message(string(clamp(15, 0, 10)) + " " + string(clamp(-1, 0, 10)) + " " + string(lerp(10, 20, 0.25)));
show_debug_message(point_distance(0, 0, 3, 4));
show_debug_message(round(point_direction(0, 0, 0, -10)));  // y points down: straight up is 90
show_debug_message(round(point_direction(0, 0, -5, 0)));
show_debug_message(round(lengthdir_x(10, 60) * 100) / 100);
show_debug_message(round(lengthdir_y(10, 90)));
show_debug_message(string(mean(1, 2, 6)) + " " + string(median(5, 1, 3)));

// The same seed gives the same numbers; every draw stays in its range.
random_set_seed(2024);
var first = [random(1), irandom(100), random_range(5, 6), irandom_range(-3, 3), choose("a", "b", "c")];
random_set_seed(2024);
var again = [random(1), irandom(100), random_range(5, 6), irandom_range(-3, 3), choose("a", "b", "c")];
show_debug_message(string(first) == string(again));
show_debug_message(random_get_seed());
var in_range = true;
var seen = array_create(7, 0);
repeat (2000) {
    var r = irandom_range(-3, 3);
    if (r < -3 || r > 3 || r != floor(r)) in_range = false;
    seen[r + 3] = 1;
    var f = random(2);
    if (f < 0 || f >= 2) in_range = false;
}
show_debug_message(in_range);
show_debug_message(seen);

var orange = make_colour_rgb(255, 128, 0);
show_debug_message(orange);
show_debug_message(make_color_rgb(300, -5, 16) == make_colour_rgb(255, 0, 16));
show_debug_message(string(colour_get_red(orange)) + " " + string(colour_get_green(orange)) + " " + string(colour_get_blue(orange)));
show_debug_message(merge_colour(c_black, c_white, 0.5));
show_debug_message(merge_colour(c_red, c_blue, 0.25) == make_colour_rgb(191, 0, 64));
show_debug_message(make_colour_hsv(0, 255, 255) == c_red);
show_debug_message(color_get_blue(c_navy));
