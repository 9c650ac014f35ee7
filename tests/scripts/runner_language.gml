/* The language features a converted or hand-written script relies on. */
var total = 0, i;
for (i = 1; i <= 10; i += 1) {
    if (i mod 2 == 0) continue;
    total += i;
}
show_debug_message("odd sum " + string(total));

var n = 0;
while (true) {
    n++;
    if n >= 5 break
}
repeat (3) n -= 1
show_debug_message(n)

var k = 1
do k *= 3 until k > 100
show_debug_message(k)

show_debug_message(-7 div 2)
show_debug_message(-7 mod 3)
show_debug_message($FF + 0x100)
show_debug_message(255 & $0F | 1 << 8)
show_debug_message(1.5)
show_debug_message(-0.25)
show_debug_message(10 / 4)
show_debug_message('single' + " double")
show_debug_message(real("2.5") * 2)
show_debug_message(string_length("hello") + ord("A") + max(1, 7, 3) - floor(2.7))
if (1 < 2 && !(2 < 1)) then show_debug_message("logic ok") else show_debug_message("logic broken")
exit
show_debug_message("not reached")
