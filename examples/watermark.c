/* The drawing API's most common job: a watermark in the bottom-right corner
 * of a photo held in memory, encoded back into memory (as a server holding a
 * request body would). The "photo" is a JPEG this program paints and encodes
 * first, so the example needs no input file.
 * Usage: watermark [output-path]   (default: watermark.png) */
#include <stdio.h>
#include <stdlib.h>

#include "quendal_imgtext.h"

static int fail(const char *what) {
    fprintf(stderr, "watermark: %s: %s\n", what, imgtext_error_message());
    return 1;
}

/* A sunset-like gradient with a dark hill: something to put a mark on. */
static int paint_photo(void **jpeg, size_t *size) {
    imgtext_image *photo = NULL;
    imgtext_color black = {0, 0, 0, 255};
    imgtext_save_options options;
    int x, y, status;
    if (imgtext_image_create(480, 270, black, &photo) != IMGTEXT_OK) return 0;
    for (y = 0; y < 270; ++y) {
        uint8_t *row = imgtext_image_pixels(photo) + (size_t)y * imgtext_image_stride(photo);
        for (x = 0; x < 480; ++x) {
            const int hill = (x - 300) * (x - 300) / 900 + 190;
            row[x * 4 + 0] = (uint8_t)(y > hill ? 30 : 250 - y / 2);
            row[x * 4 + 1] = (uint8_t)(y > hill ? 45 : 120 + y / 3);
            row[x * 4 + 2] = (uint8_t)(y > hill ? 40 : 60 + x / 8);
        }
    }
    imgtext_save_options_init(&options);
    options.format = IMGTEXT_FORMAT_JPEG;
    status = imgtext_image_encode(photo, &options, jpeg, size);
    imgtext_image_free(photo);
    return status == IMGTEXT_OK;
}

int main(int argc, char **argv) {
    const char *output = argc > 1 ? argv[1] : "watermark.png";
    const char *mark =
        "\xC2\xA9 2026 Caf\xC3\xA9 \xC5\x81\xC3\xB3"
        "d\xC5\xBA"; /* (c) 2026 Cafe Lodz, in UTF-8 */
    void *jpeg = NULL, *png = NULL;
    size_t jpeg_size = 0, png_size = 0;
    imgtext_image *photo = NULL;
    imgtext_text_style style;
    imgtext_text_metrics placed;
    imgtext_save_options as_png;
    FILE *file;

    if (!paint_photo(&jpeg, &jpeg_size)) return fail("painting the photo");
    if (imgtext_image_load_memory(jpeg, jpeg_size, NULL, &photo) != IMGTEXT_OK) return fail("decoding");
    imgtext_free(jpeg);

    imgtext_text_style_init(&style);
    style.size = 28;
    style.color.a = 230; /* white, slightly translucent */
    placed.struct_size = sizeof placed;
    if (imgtext_draw_text_gravity(photo, mark, IMGTEXT_NUL_TERMINATED, IMGTEXT_BOTTOM_RIGHT, 16, &style, &placed) !=
        IMGTEXT_OK) {
        return fail("drawing");
    }
    if (placed.missing_glyphs) fprintf(stderr, "watermark: %d characters have no glyph\n", placed.missing_glyphs);

    imgtext_save_options_init(&as_png); /* without a format, the photo's own (JPEG) */
    as_png.format = IMGTEXT_FORMAT_PNG;
    if (imgtext_image_encode(photo, &as_png, &png, &png_size) != IMGTEXT_OK) return fail("encoding");
    imgtext_image_free(photo);
    file = fopen(output, "wb");
    if (!file || fwrite(png, 1, png_size, file) != png_size || fclose(file) != 0) {
        fprintf(stderr, "watermark: cannot write %s\n", output);
        return 1;
    }
    imgtext_free(png);
    printf("wrote %s: %dx%d mark at (%d, %d)\n", output, 480, 270, placed.x, placed.y);
    return 0;
}
