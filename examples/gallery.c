/* Makes the README's pictures: a sample photo-like input, and the result of
 * each drawing function on it.
 * Usage: gallery OUTPUT-DIR */
#include <stdio.h>
#include <stdlib.h>

#include "quendal_imgtext.h"

enum { W = 320, H = 180 };

static void put16(FILE *f, unsigned v) { fputc(v & 255, f); fputc(v >> 8 & 255, f); }
static void put32(FILE *f, unsigned long v) { put16(f, (unsigned)(v & 0xFFFF)); put16(f, (unsigned)(v >> 16)); }

/* A dusk sky over dark hills, as a 24-bit BMP, so the input looks like a
 * photograph rather than a flat colour. */
static int write_sample_bmp(const char *path) {
    FILE *f = fopen(path, "wb");
    int x, y;
    if (!f) return 0;
    fputc('B', f); fputc('M', f);
    put32(f, 54ul + (unsigned long)W * H * 3); put32(f, 0); put32(f, 54);
    put32(f, 40); put32(f, W); put32(f, H); put16(f, 1); put16(f, 24);
    put32(f, 0); put32(f, (unsigned long)W * H * 3); put32(f, 2835); put32(f, 2835); put32(f, 0); put32(f, 0);
    for (y = H - 1; y >= 0; --y) { /* BMP rows run bottom to top */
        for (x = 0; x < W; ++x) {
            int hill = 130 + (x * 7 % 40) / 3 - (x > 160 ? (x - 160) / 6 : (160 - x) / 8);
            int r = 40 + y, g = 60 + y / 3, b = 150 - y / 3;
            if (y > hill) r = 30, g = 45 + (x % 9), b = 40;
            fputc(b, f); fputc(g, f); fputc(r > 255 ? 255 : r, f);
        }
    }
    return fclose(f) == 0;
}

static int report(int ok, const char *what) {
    if (!ok) fprintf(stderr, "gallery: %s: %s\n", what, imgtext_last_error());
    else printf("wrote %s\n", what);
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
    return ok ? 0 : 1;
}
