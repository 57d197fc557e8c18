/* Makes the README's pictures: a sample photo-like input, the result of
 * each drawing function on it, and the drawing API's styles (outline,
 * shadow, translucent rounded box, UTF-8 text) on a brighter scene.
 * Usage: gallery OUTPUT-DIR */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quendal_imgtext.h"

enum { W = 320, H = 180 };

static void put16(FILE *f, unsigned v) {
    fputc(v & 255, f);
    fputc(v >> 8 & 255, f);
}
static void put32(FILE *f, unsigned long v) {
    put16(f, (unsigned)(v & 0xFFFF));
    put16(f, (unsigned)(v >> 16));
}

/* A dusk sky over dark hills, as a 24-bit BMP, so the input looks like a
 * photograph rather than a flat colour. */
static int write_sample_bmp(const char *path) {
    FILE *f = fopen(path, "wb");
    int x, y;
    if (!f) return 0;
    fputc('B', f);
    fputc('M', f);
    put32(f, 54ul + (unsigned long)W * H * 3);
    put32(f, 0);
    put32(f, 54);
    put32(f, 40);
    put32(f, W);
    put32(f, H);
    put16(f, 1);
    put16(f, 24);
    put32(f, 0);
    put32(f, (unsigned long)W * H * 3);
    put32(f, 2835);
    put32(f, 2835);
    put32(f, 0);
    put32(f, 0);
    for (y = H - 1; y >= 0; --y) { /* BMP rows run bottom to top */
        for (x = 0; x < W; ++x) {
            int hill = 130 + (x * 7 % 40) / 3 - (x > 160 ? (x - 160) / 6 : (160 - x) / 8);
            int r = 40 + y, g = 60 + y / 3, b = 150 - y / 3;
            if (y > hill) r = 30, g = 45 + (x % 9), b = 40;
            fputc(b, f);
            fputc(g, f);
            fputc(r > 255 ? 255 : r, f);
        }
    }
    return fclose(f) == 0;
}

/* A smooth wave of the given period in -1024..1024, made of parabolic arcs
 * from integers only, so the scene is the same on every platform. */
static int wave(int t, int period) {
    int half = period / 2, p = ((t % period) + period) % period;
    int u = p < half ? p : p - half;
    int arc = 4096 * u / half * (half - u) / half;
    return p < half ? arc : -arc;
}

static unsigned char channel(int v) { return (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v); }

/* A bright, busy landscape: pale sky with clouds and sun, a hazy ridge, a
 * textured green hill and a lake that mirrors the sky, the kind of picture
 * on which plain light text gets lost. */
static void draw_scene(unsigned char *pixels) {
    int x, y;
    for (y = 0; y < H; ++y) {
        for (x = 0; x < W; ++x) {
            unsigned char *p = pixels + ((size_t)y * W + x) * 4;
            int sky_y = y > 150 ? 300 - y + wave(x * 3 + y * 40, 97) / 200 : y; /* the lake mirrors the sky */
            int r = 150 + sky_y * 80 / 110, g = 185 + sky_y * 50 / 110, b = 235 - sky_y * 10 / 110;
            int cloud = wave(x + wave(sky_y * 3, 90) / 40, 140) + wave(x * 2 + sky_y * 5, 110) / 2 - 500;
            int dx = x - 245, dy = sky_y - 42, d2 = dx * dx + dy * dy;
            int ridge = 100 + wave(x * 2, 260) / 60 + wave(x * 5, 170) / 110;
            int hill = 128 + wave(x + 60, 330) / 45 + wave(x * 3, 120) / 150;
            if (cloud > 0 && sky_y < 85) r += cloud / 20, g += cloud / 22, b += cloud / 40;
            if (d2 < 18 * 18)
                r = 255, g = 250, b = 228;
            else
                r += 9000 / (d2 / 8 + 60), g += 7000 / (d2 / 8 + 60);
            if (sky_y > ridge) r = 118 + (sky_y - ridge) / 2, g = 140 + (sky_y - ridge) / 3, b = 160;
            if (sky_y > hill) {
                int grain = ((x * 37) ^ (sky_y * 53)) % 17 - 8;
                r = 62 + grain + wave(x * 7 + sky_y * 11, 60) / 128;
                g = 112 + grain + (sky_y - hill);
                b = 52 + grain / 2;
            }
            if (y > 150) r = r * 9 / 10, g = g * 9 / 10, b = b * 19 / 20 + 8; /* water is a little darker */
            p[0] = channel(r), p[1] = channel(g), p[2] = channel(b), p[3] = 255;
        }
    }
}

/* Draws text on a copy of the scene by gravity and writes it. */
static int styled(const unsigned char *scene, const char *path, const char *text, imgtext_position gravity, int margin,
                  const imgtext_text_style *style) {
    imgtext_image *image = NULL;
    int ok =
        imgtext_image_copy(scene, W, H, (size_t)W * 4, &image) == IMGTEXT_OK &&
        imgtext_draw_text_gravity(image, text, IMGTEXT_NUL_TERMINATED, gravity, margin, style, NULL) == IMGTEXT_OK &&
        imgtext_image_save(image, path, NULL) == IMGTEXT_OK;
    if (!ok)
        fprintf(stderr, "gallery: %s: %s\n", path, imgtext_error_message());
    else
        printf("wrote %s\n", path);
    imgtext_image_free(image);
    return ok;
}

static int draw_styles(const char *dir) {
    static unsigned char scene[W * H * 4];
    char path[4096];
    imgtext_text_style style;
    int ok = 1;
    draw_scene(scene);

    /* A watermark: white at 70 % with a thin dark outline, bottom-right. */
    imgtext_text_style_init(&style);
    style.size = 22;
    style.opacity = 0.7f;
    style.stroke_width = 1.5f;
    style.stroke_color = (imgtext_color){20, 20, 20, 255};
    snprintf(path, sizeof path, "%s/watermark.png", dir);
    ok &= styled(scene, path, "\xC2\xA9 2026 Quendal", IMGTEXT_BOTTOM_RIGHT, 10, &style);

    /* A title with a soft shadow. */
    imgtext_text_style_init(&style);
    style.size = 44;
    style.shadow = 1;
    style.shadow_dx = 3, style.shadow_dy = 3;
    style.shadow_blur = 3.0f;
    style.shadow_color = (imgtext_color){0, 0, 0, 200};
    snprintf(path, sizeof path, "%s/title_shadow.png", dir);
    ok &= styled(scene, path, "Quendal Hills", IMGTEXT_TOP, 12, &style);

    /* A caption on a translucent rounded box. */
    imgtext_text_style_init(&style);
    style.size = 20;
    style.align = IMGTEXT_ALIGN_CENTER;
    style.box = 1;
    style.box_color = (imgtext_color){10, 20, 40, 150};
    style.padding = 8;
    style.box_radius = 9.0f;
    snprintf(path, sizeof path, "%s/caption_box.png", dir);
    ok &= styled(scene, path, "Evening light over the lake\nat Quendal, 12 May", IMGTEXT_BOTTOM, 18, &style);

    /* Text beyond ASCII, as UTF-8. */
    imgtext_text_style_init(&style);
    style.size = 24;
    style.color = (imgtext_color){255, 255, 255, 255};
    style.stroke_width = 1.0f;
    style.stroke_color = (imgtext_color){30, 40, 70, 255};
    snprintf(path, sizeof path, "%s/utf8.png", dir);
    ok &= styled(scene, path,
                 "Gr\xC3\xBC\xC3\x9F"
                 "e aus \xC5\x81\xC3\xB3"
                 "d\xC5\xBA, \xC3\x86r\xC3\xB8sk\xC3\xB8"
                 "bing",
                 IMGTEXT_CENTER, 0, &style);
    return ok;
}

static int report(int ok, const char *what) {
    if (!ok)
        fprintf(stderr, "gallery: %s: %s\n", what, imgtext_last_error());
    else
        printf("wrote %s\n", what);
    return ok;
}

int main(int argc, char **argv) {
    char sample[4096], input[4096], add[4096], boxed[4096], centred[4096], card[4096];
    int ok = 1;
    const char *dir = argc > 1 ? argv[1] : ".";
    snprintf(sample, sizeof sample, "%s/sample.bmp", dir);
    snprintf(input, sizeof input, "%s/input.png", dir);
    snprintf(add, sizeof add, "%s/add.png", dir);
    snprintf(boxed, sizeof boxed, "%s/add_boxed.png", dir);
    snprintf(centred, sizeof centred, "%s/centered.png", dir);
    snprintf(card, sizeof card, "%s/create.png", dir);

    if (!write_sample_bmp(sample)) {
        fprintf(stderr, "gallery: cannot write %s\n", sample);
        return 1;
    }
    ok &= report(imgtext_add(sample, input, "", 0, 0, 0, 0, 0, 0, 0.0f), input);
    ok &= report(imgtext_add(sample, add, "Evening walk\n12 May", 12, 10, 28, 255, 255, 255, 0.85f), add);
    ok &= report(imgtext_add_boxed(sample, boxed, "Trail closed", 12, 120, 24, 255, 255, 255, 160, 30, 30, 8), boxed);
    ok &= report(imgtext_centered(sample, centred, "Quendal Hills\nat dusk", 36, 255, 240, 200), centred);
    ok &= report(imgtext_create(card, "Title card\nmade from nothing", W, H, 32, 250, 245, 230, 32, 54, 84), card);
    remove(sample);
    ok &= draw_styles(dir);
    return ok ? 0 : 1;
}
