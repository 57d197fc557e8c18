/* A host written in C: proves the public header compiles as C and that every
 * export links and behaves through the shared library. Runs in a fresh
 * process, so it also sees the state before any other call. */
#include <stdio.h>
#include <string.h>

#include "quendal_imgtext.h"

static int failures;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

/* A C caller may pass any int where the header names an imgtext_position. */
static void check_unknown_positions_are_refused(void) {
    static const int bad[] = {-1, 9, 1000, -2147483647 - 1};
    imgtext_color clear = {0, 0, 0, 0};
    imgtext_image *image = NULL;
    size_t i;
    CHECK(imgtext_image_create(4, 4, clear, &image) == IMGTEXT_OK);
    for (i = 0; i < sizeof bad / sizeof bad[0]; ++i) {
        CHECK(imgtext_draw_text(image, "x", 1, 0, 0, (imgtext_position)bad[i], NULL, NULL) == IMGTEXT_ERROR_ARGUMENT);
        CHECK(imgtext_draw_text_gravity(image, "x", 1, (imgtext_position)bad[i], 0, NULL, NULL) ==
              IMGTEXT_ERROR_ARGUMENT);
        CHECK(strcmp(imgtext_error_message(), "invalid argument: unknown position") == 0);
    }
    imgtext_image_free(image);
}

int main(int argc, char **argv) {
    const char *dir = argc > 1 ? argv[1] : ".";
    char card[4096], copy[4096];
    snprintf(card, sizeof card, "%s/c_host_card.png", dir);
    snprintf(copy, sizeof copy, "%s/c_host_copy.bmp", dir);

    CHECK(imgtext_last_error() != NULL && imgtext_last_error()[0] == '\0');
    /* The library a program loaded is the one its header describes. */
    CHECK(strcmp(imgtext_version(), QUENDAL_IMGTEXT_VERSION_STRING) == 0);
    CHECK(imgtext_init() == 1);
    CHECK(imgtext_create(card, "C host", 120, 40, 0, 255, 255, 255, 0, 0, 0) == 1);
    CHECK(imgtext_add(card, copy, "add", 2, 2, 12, 255, 0, 0, 0.5f) == 1);
    CHECK(imgtext_add_boxed(card, copy, "boxed", 2, 2, 12, 0, 0, 0, 255, 255, 0, 3) == 1);
    CHECK(imgtext_centered(card, copy, "centred", 12, 0, 255, 0) == 1);
    CHECK(imgtext_add(NULL, copy, "x", 0, 0, 0, 0, 0, 0, 1.0f) == 0);
    CHECK(strcmp(imgtext_last_error(), "invalid argument: input or output path is NULL") == 0);
    check_unknown_positions_are_refused();
    imgtext_cleanup();
    CHECK(imgtext_last_error()[0] == '\0');
    remove(card);
    remove(copy);

    printf("c_host: %s\n", failures ? "FAILED" : "ok");
    return failures != 0;
}
