// Single pixels through the exports: colours in and out, clamped writes, refused reads, and
// every pixel export's answer to IDs that name no image.
show_debug_message(image_Get_Pixel(0, 0, 0));
show_debug_message(image_Set_Pixel(0, 0, 0, 0));
show_debug_message(image_last_error());
init();
var img = image_load("sample.png");
show_debug_message(img);

// Colours: the three low bytes of the truncated value.
image_Set_Pixel(img, 3, 4, 255);
show_debug_message(image_Get_Pixel(img, 3, 4));
image_Set_Pixel(img, 3.9, 4.9, 16711680);
show_debug_message(image_Get_Pixel(img, 3, 4));
show_debug_message(image_Set_Pixel(img, 1, 1, 16777216));
show_debug_message(image_Get_Pixel(img, 1, 1));
image_Set_Pixel(img, 1, 1, -1);
show_debug_message(image_Get_Pixel(img, 1, 1));
image_Set_Pixel(img, 1, 1, 16777216 * 7 + 65536 * 3 + 256 * 2 + 1);
show_debug_message(image_Get_Pixel(img, 1, 1));
var nan = NaN;
var huge = 1;
repeat (300) huge = huge * 10;
var inf = infinity;
image_Set_Pixel(img, 2, 2, nan);
show_debug_message(image_Get_Pixel(img, 2, 2));
image_Set_Pixel(img, 2, 2, 99);
image_Set_Pixel(img, 2, 2, huge);
show_debug_message(image_Get_Pixel(img, 2, 2));
image_Set_Pixel(img, 2, 2, 99);
image_Set_Pixel(img, 2, 2, -inf);
show_debug_message(image_Get_Pixel(img, 2, 2));

// Writes beyond an edge land on the last column or row, writes below 0 on column or row 0.
image_Set_Pixel(img, 64, 5, 1234567);
show_debug_message(image_Get_Pixel(img, 63, 5));
image_Set_Pixel(img, 5, 1000000, 7654321);
show_debug_message(image_Get_Pixel(img, 5, 47));
image_Set_Pixel(img, huge, inf, 4242);
show_debug_message(image_Get_Pixel(img, 0, 0));
image_Set_Pixel(img, -3, 2, 111);
show_debug_message(image_Get_Pixel(img, 0, 2));
image_Set_Pixel(img, nan, nan, 222);
show_debug_message(image_Get_Pixel(img, 0, 0));

// Reads outside the image are refused; a success afterwards leaves the text in place.
show_debug_message(image_Get_Pixel(img, 64, 0));
show_debug_message(image_last_error());
show_debug_message(image_Get_Pixel(img, 0, 48));
show_debug_message(image_Get_Pixel(img, -1, 0));
show_debug_message(image_Get_Pixel(img, nan, 0));
show_debug_message(image_Get_Pixel(img, 0, -inf));
show_debug_message(image_Get_Pixel(img, 63.99, 47.99) == image_Get_Pixel(img, 63, 47));
show_debug_message(image_last_error());

// IDs that name no image: never issued, negative, huge, NaN, and freed.
var copy = image_Clone(img);
image_free(copy);
var bad = 0;
repeat (1) {
    if (image_Get_Pixel(99, 0, 0) != -1) bad += 1;
    if (image_Set_Pixel(copy, 0, 0, 0) != -1) bad += 1;
    if (image_Mosaic(-1, 4, 1, 0) != -1) bad += 1;
    if (image_2to1(img, huge) != -1) bad += 1;
    if (image_2to1(nan, img) != -1) bad += 1;
    if (image_2image_add(copy, img) != -1) bad += 1;
    if (image_2image_add(img, 99) != -1) bad += 1;
    if (image_ConvertTo4(copy) != -1) bad += 1;
    if (test_2(inf) != -1) bad += 1;
    if (image_median(copy, 0) != -1) bad += 1;
    if (image_blur(copy, 1, 1) != -1) bad += 1;
}
show_debug_message(bad);
show_debug_message(image_last_error());
// The failed joins still used up their IDs.
show_debug_message(image_Clone(img));
