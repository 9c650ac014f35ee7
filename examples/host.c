/* A minimal C host for Ombrix: loads an image, blurs it, makes it grey and saves it as PNG.
 *
 *     cc host.c $(pkg-config --cflags --libs ombrix) -o host
 *     ./host examples/astronaut.jpg blurred.png
 *
 * Every export takes and returns doubles (or strings); ombrix_exports.h declares them all. The
 * library starts its image decoder, ombrix-decode, from its own directory, where the install puts
 * it. */
#include <ombrix_exports.h>
#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s IN OUT.png\n", argv[0]);
        return 2;
    }
    init();
    /* image_load returns 0 for a failure, and 0 is also the first ID handed out: spend it on a
     * load that cannot succeed, and from then on an ID above 0 is a loaded image. */
    image_load("");
    double id = image_load(argv[1]);
    if (id <= 0) {
        fprintf(stderr, "cannot load %s: %s\n", argv[1], image_last_error());
        return 1;
    }
    printf("loaded %s: %.0f x %.0f\n", argv[1], image_get_width(id), image_get_height(id));

    if (image_BlurGaussian(id, 3) != 1 || image_ConvertGrayscale(id) != 1) {
        fprintf(stderr, "cannot process %s: %s\n", argv[1], image_last_error());
        return 1;
    }
    /* Row 0 of the pixel calls is the bottom row of the picture. */
    printf("bottom-left pixel after blur and grey: %.0f\n", image_Get_Pixel(id, 0, 0));

    /* image_save returns 1 also when DevIL cannot write the file (the last-error text says why);
     * the file is written whole or not at all, so its presence is the check. */
    remove(argv[2]);
    image_save(id, argv[2], 5);
    FILE* written = fopen(argv[2], "rb");
    if (!written) {
        fprintf(stderr, "cannot save %s: %s\n", argv[2], image_last_error());
        return 1;
    }
    fclose(written);
    printf("saved %s\n", argv[2]);
    image_free(id);
    return 0;
}
