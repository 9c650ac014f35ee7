// switch with fall-through, break and default; the conditional operator; ++ and -- inside
// expressions; exponent literals; <>; exit.
function describe(n) {
    var text = "";
    switch (n) {
        case 1:
            text += "one ";
        case 2:
            text += "one-or-two ";
            break;
        case "three":
            text += "the string ";
            break;
        default:
            text += "other ";
        case 4:
            text += "four-or-other";
    }
    return text;
}
show_debug_message(describe(1));
show_debug_message(describe(2));
show_debug_message(describe("three"));
show_debug_message(describe(3));
show_debug_message(describe(4));

// break leaves the switch; continue goes on with the loop around it.
var odd = "";
for (var k = 0; k < 6; k++) {
    switch (k mod 2) {
        case 0:
            continue;
        case 1:
            odd += string(k);
            break;
    }
    odd += ",";
}
show_debug_message(odd);

var x = 5;
show_debug_message(x > 3 ? "big" : "small");
show_debug_message(x < 3 ? "small" : x < 10 ? "medium" : "big");
var j = x++;
var k2 = ++x;
show_debug_message(string(j) + " " + string(k2) + " " + string(x));
var m = x-- - --x;
show_debug_message(string(m) + " " + string(x));
var list = [10, 20];
list[1]++;
show_debug_message(list[1]-- + list[1]);
show_debug_message(1e3 + 2.5e-1 + 1E2);
show_debug_message(1 <> 2);
show_debug_message(2 <> 2);
if (x = 5) show_debug_message("= compares in a condition");
var total = 0;
repeat (10) {
    total += 1;
    if (total == 3) exit;
}
show_debug_message("not reached");
