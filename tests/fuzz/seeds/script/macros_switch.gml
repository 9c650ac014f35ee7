#macro N 3
enum E { a, b = N, c }
switch (E.c) { case 4: show_debug_message("four"); break; default: exit; }
global.g = N ? 1 : 2; globalvar h; h = global.g++;
