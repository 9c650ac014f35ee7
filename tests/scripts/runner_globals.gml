// global.name, globalvar, #macro, enum and the built-in constants.
#macro WIDTH 4
#macro HEIGHT WIDTH * 2
#macro GREETING "size " + string(AREA)
#region macros used before their definition
#macro AREA (WIDTH * HEIGHT)
#endregion
enum Channel { red, green, blue = 4, alpha }
enum Flags { none = 0, first = 1 << 0, second = 1 << 1, both = 3 }

global.runs = 1;
globalvar hits;
hits = 0;
function record() {
    global.runs += 1;
    hits++;  // globalvar: the global, also inside functions
}
record();
record();
show_debug_message(string(global.runs) + " " + string(hits) + " " + string(global.hits));

show_debug_message(HEIGHT);
show_debug_message(AREA);
show_debug_message(GREETING);
show_debug_message(string(Channel.red) + " " + string(Channel.green) + " " + string(Channel.alpha));
show_debug_message(Flags.both & Flags.second);
var pick = Channel.blue;
switch (pick) {
    case Channel.green: show_debug_message("green"); break;
    case Channel.blue: show_debug_message("blue"); break;
}
show_debug_message(c_red + c_lime + c_blue == c_white);
show_debug_message(string(c_orange) + " " + string(#FFA040) + " " + string($40A0FF));
show_debug_message(round(pi * 1000));
show_debug_message(noone);
