/* The README's pictures of text boxes and fonts: a title auto-fitted into a
 * card, an emoji caption, a tiled diagonal watermark, a justified
 * paragraph, and a variable font at three weights. Debian's Noto, Noto
 * Color Emoji and Inter fonts.
 * Usage: text_box_gallery OUTPUT_FOLDER [FONT_FOLDER]   (default /usr/share/fonts) */
#include <stdio.h>
#include <string.h>

#include "quendal_imgtext.h"

static const char *font_dir = "/usr/share/fonts";
static const char *out_dir = ".";

static imgtext_font *load(const char *name) {
    char path[4096];
    imgtext_font *font = NULL;
    snprintf(path, sizeof path, "%s/%s", font_dir, name);
    if (imgtext_font_load(path, 0, &font) != IMGTEXT_OK)
        fprintf(stderr, "text_box_gallery: %s\n", imgtext_error_message());
    return font;
}

static int save(imgtext_image *image, const char *name) {
    char path[4096];
    snprintf(path, sizeof path, "%s/%s.png", out_dir, name);
    if (imgtext_image_save(image, path, NULL) == IMGTEXT_OK) return 1;
    fprintf(stderr, "text_box_gallery: %s\n", imgtext_error_message());
    return 0;
}

static int drawn(imgtext_status status) {
    if (status != IMGTEXT_OK) fprintf(stderr, "text_box_gallery: %s\n", imgtext_error_message());
    return status == IMGTEXT_OK;
}

/* A social card: the title at the largest size that fits its box. */
static int fitted_title(imgtext_font *sans) {
    imgtext_image *card = NULL;
    imgtext_text_style style;
    int ok;
    imgtext_image_create(600, 300, (imgtext_color){32, 54, 84, 255}, &card);
    imgtext_text_style_init(&style);
    style.font = sans;
    style.size_unit = IMGTEXT_SIZE_EM;
    style.color = (imgtext_color){250, 245, 230, 255};
    style.align = IMGTEXT_ALIGN_CENTER;
    style.auto_size = 1;
    style.fit_width = 520;
    style.fit_height = 200;
    style.box = 1;
    style.box_color = (imgtext_color){0, 0, 0, 90};
    style.padding = 12;
    style.box_radius = 10;
    ok = drawn(imgtext_draw_text_gravity(card, "How we made text fit any box, in every script", IMGTEXT_NUL_TERMINATED,
                                         IMGTEXT_CENTER, 0, &style, NULL)) &&
         save(card, "fitted_title");
    imgtext_image_free(card);
    return ok;
}

/* A caption with emoji, in the emoji font's own colours. */
static int emoji_caption(imgtext_font *sans, imgtext_font *emoji) {
    imgtext_image *card = NULL;
    imgtext_text_style style;
    const imgtext_font *chain[1];
    int ok;
    chain[0] = emoji;
    imgtext_image_create(560, 80, (imgtext_color){245, 242, 235, 255}, &card);
    imgtext_text_style_init(&style);
    style.font = sans;
    style.fallbacks = chain;
    style.fallback_count = 1;
    style.size = 30;
    style.size_unit = IMGTEXT_SIZE_EM;
    style.color = (imgtext_color){30, 30, 30, 255};
    ok = drawn(imgtext_draw_text_gravity(card,
                                         "Sunny day \xE2\x98\x80\xEF\xB8\x8F at the sea \xF0\x9F\x8C\x8A"
                                         "\xF0\x9F\x90\xA2 \xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD",
                                         IMGTEXT_NUL_TERMINATED, IMGTEXT_CENTER, 0, &style, NULL)) &&
         save(card, "emoji_caption");
    imgtext_image_free(card);
    return ok;
}

/* The all-over watermark: one tile, turned, over the whole picture. */
static int tiled_watermark(imgtext_font *sans) {
    imgtext_image *photo = NULL;
    imgtext_text_style style;
    int ok;
    imgtext_image_create(480, 300, (imgtext_color){70, 110, 90, 255}, &photo);
    imgtext_text_style_init(&style);
    style.font = sans;
    style.size = 22;
    style.size_unit = IMGTEXT_SIZE_EM;
    style.color = (imgtext_color){255, 255, 255, 90};
    style.rotation = 30;
    style.tile = 1;
    style.tile_step_x = 200;
    style.tile_step_y = 70;
    style.tile_row_offset = 100;
    ok = drawn(imgtext_draw_text(photo, "\xC2\xA9 Quendal", IMGTEXT_NUL_TERMINATED, 240, 150, IMGTEXT_CENTER, &style,
                                 NULL)) &&
         save(photo, "tiled_watermark");
    imgtext_image_free(photo);
    return ok;
}

/* A justified paragraph: every line but the last fills the width. */
static int justified(imgtext_font *serif) {
    imgtext_image *page = NULL;
    imgtext_text_style style;
    int ok;
    imgtext_image_create(420, 190, (imgtext_color){252, 250, 244, 255}, &page);
    imgtext_text_style_init(&style);
    style.font = serif;
    style.size = 17;
    style.size_unit = IMGTEXT_SIZE_EM;
    style.color = (imgtext_color){40, 36, 30, 255};
    style.align = IMGTEXT_ALIGN_JUSTIFY;
    style.max_width = 380;
    ok = drawn(imgtext_draw_text(page,
                                 "Justified text spreads the space between its words so that every line but a "
                                 "paragraph's last reaches both margins, as books and newspapers set it. The "
                                 "line breaks are Unicode's, and the widths are measured exactly as drawn.",
                                 IMGTEXT_NUL_TERMINATED, 20, 16, IMGTEXT_TOP_LEFT, &style, NULL)) &&
         save(page, "justified");
    imgtext_image_free(page);
    return ok;
}

/* One variable font at three weights. */
static int weights(imgtext_font *inter) {
    static const char *const axes[] = {"wght=200", "wght=500", "wght=900"};
    imgtext_image *card = NULL;
    imgtext_text_style style;
    int i, ok = 1;
    imgtext_image_create(420, 160, (imgtext_color){20, 24, 30, 255}, &card);
    imgtext_text_style_init(&style);
    style.font = inter;
    style.size = 34;
    style.size_unit = IMGTEXT_SIZE_EM;
    style.color = (imgtext_color){235, 235, 240, 255};
    for (i = 0; i < 3 && ok; ++i) {
        style.variations = axes[i];
        ok = drawn(
            imgtext_draw_text(card, axes[i], IMGTEXT_NUL_TERMINATED, 24, 12 + 48 * i, IMGTEXT_TOP_LEFT, &style, NULL));
    }
    ok = ok && save(card, "font_weights");
    imgtext_image_free(card);
    return ok;
}

int main(int argc, char **argv) {
    imgtext_font *sans, *serif, *emoji, *inter;
    int ok;
    if (argc > 1) out_dir = argv[1];
    if (argc > 2) font_dir = argv[2];
    sans = load("truetype/noto/NotoSans-Regular.ttf");
    serif = load("truetype/noto/NotoSerif-Regular.ttf");
    emoji = load("truetype/noto/NotoColorEmoji.ttf");
    inter = load("truetype/inter-vf/Inter-roman.var.ttf");
    ok = sans && serif && emoji && inter && fitted_title(sans) && emoji_caption(sans, emoji) && tiled_watermark(sans) &&
         justified(serif) && weights(inter);
    imgtext_font_free(sans);
    imgtext_font_free(serif);
    imgtext_font_free(emoji);
    imgtext_font_free(inter);
    return ok ? 0 : 1;
}
