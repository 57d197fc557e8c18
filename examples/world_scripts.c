/* The README's picture of the world's scripts: one chain of Debian's Noto
 * fonts, each line's script found its font by itself, shaped, in its own
 * direction (Arabic and Hebrew start at the right), and Chinese wrapped
 * between ideographs.
 * Usage: world_scripts OUTPUT_FOLDER [FONT_FOLDER]   (default /usr/share/fonts) */
#include <stdio.h>
#include <string.h>

#include "quendal_imgtext.h"

static const char *const font_files[] = {
    "truetype/noto/NotoSans-Regular.ttf",        "truetype/noto/NotoSansArabic-Regular.ttf",
    "truetype/noto/NotoSansHebrew-Regular.ttf",  "truetype/noto/NotoSansDevanagari-Regular.ttf",
    "truetype/noto/NotoSansBengali-Regular.ttf", "truetype/noto/NotoSansThai-Regular.ttf",
    "opentype/noto/NotoSansCJK-Regular.ttc"};
enum { font_count = sizeof font_files / sizeof font_files[0] };

/* English, Arabic, Hebrew with English inside, Hindi, Bengali, Thai. */
static const char lines[] =
    "Text for every script, in one library\n"
    "\xD9\x86\xD8\xB5 \xD9\x84\xD9\x83\xD9\x84 \xD8\xA7\xD9\x84\xD9\x84\xD8\xBA\xD8\xA7\xD8\xAA\n"
    "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD7\x9C\xD7\x9B\xD7\x95\xD7\x9C\xD7\x9D, Hello world!\n"
    "\xE0\xA4\xB9\xE0\xA4\xBF\xE0\xA4\x82\xE0\xA4\xA6\xE0\xA5\x80 \xE0\xA4\xAE\xE0\xA5\x87\xE0\xA4\x82 "
    "\xE0\xA4\xB8\xE0\xA4\x82\xE0\xA4\xAF\xE0\xA5\x81\xE0\xA4\x95\xE0\xA5\x8D\xE0\xA4\xA4\xE0\xA4\xBE\xE0\xA4\x95\xE0"
    "\xA5\x8D"
    "\xE0\xA4\xB7\xE0\xA4\xB0\n"
    "\xE0\xA6\xAC\xE0\xA6\xBE\xE0\xA6\x82\xE0\xA6\xB2\xE0\xA6\xBE \xE0\xA6\xB2\xE0\xA6\xBF\xE0\xA6\xAA\xE0\xA6\xBF\n"
    "\xE0\xB8\xAA\xE0\xB8\xA7\xE0\xB8\xB1\xE0\xB8\xAA\xE0\xB8\x94\xE0\xB8\xB5\xE0\xB8\x84\xE0\xB8\xA3\xE0\xB8\xB1\xE0"
    "\xB8\x9A";
/* Chinese, wrapped to the width. */
static const char chinese[] =
    "\xE8\xBF\x99\xE6\x98\xAF\xE4\xB8\x80\xE6\xAE\xB5\xE4\xB8\xAD\xE6\x96\x87\xE6\x96\x87\xE5\xAD\x97\xEF\xBC\x8C"
    "\xE5\x9C\xA8\xE6\xB1\x89\xE5\xAD\x97\xE4\xB9\x8B\xE9\x97\xB4\xE6\x8D\xA2\xE8\xA1\x8C\xEF\xBC\x8C\xE4\xBB\x8E"
    "\xE4\xB8\x8D\xE4\xBB\xA5\xE6\xA0\x87\xE7\x82\xB9\xE5\xBC\x80\xE5\xA4\xB4\xE3\x80\x82";

int main(int argc, char **argv) {
    const char *out_dir = argc > 1 ? argv[1] : ".";
    const char *font_dir = argc > 2 ? argv[2] : "/usr/share/fonts";
    imgtext_font *fonts[font_count] = {0};
    const imgtext_font *chain[font_count - 1];
    char path[4096];
    int i, status = 1;
    imgtext_image *card = NULL;
    imgtext_text_style style;
    for (i = 0; i < font_count; ++i) {
        snprintf(path, sizeof path, "%s/%s", font_dir, font_files[i]);
        /* The collection's third face is Simplified Chinese. */
        if (imgtext_font_load(path, i == font_count - 1 ? 2 : 0, &fonts[i]) != IMGTEXT_OK) {
            fprintf(stderr, "world_scripts: %s\n", imgtext_error_message());
            goto done;
        }
        if (i > 0) chain[i - 1] = fonts[i];
    }
    if (imgtext_image_create(640, 330, (imgtext_color){24, 38, 58, 255}, &card) != IMGTEXT_OK) goto done;
    imgtext_text_style_init(&style);
    style.font = fonts[0];
    style.fallbacks = chain;
    style.fallback_count = font_count - 1;
    style.size = 26;
    style.size_unit = IMGTEXT_SIZE_EM;
    style.color = (imgtext_color){245, 240, 225, 255};
    style.align = IMGTEXT_ALIGN_START;
    style.max_width = 600;
    /* Each paragraph's direction is its own: START is its right for Arabic and Hebrew. */
    if (imgtext_draw_text(card, lines, IMGTEXT_NUL_TERMINATED, 20, 14, IMGTEXT_TOP_LEFT, &style, NULL) != IMGTEXT_OK ||
        imgtext_draw_text(card, chinese, IMGTEXT_NUL_TERMINATED, 20, 240, IMGTEXT_TOP_LEFT, &style, NULL) !=
            IMGTEXT_OK) {
        fprintf(stderr, "world_scripts: %s\n", imgtext_error_message());
        goto done;
    }
    snprintf(path, sizeof path, "%s/world_scripts.png", out_dir);
    if (imgtext_image_save(card, path, NULL) != IMGTEXT_OK) {
        fprintf(stderr, "world_scripts: %s\n", imgtext_error_message());
        goto done;
    }
    status = 0;
done:
    imgtext_image_free(card);
    for (i = 0; i < font_count; ++i) imgtext_font_free(fonts[i]);
    return status;
}
