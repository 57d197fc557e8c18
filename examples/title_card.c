/* A minimal host: writes a title card with imgtext_create.
 * Usage: title_card [output-path]   (default: title-card.png) */
#include <stdio.h>

#include "quendal_imgtext.h"

int main(int argc, char **argv) {
    const char *output = argc > 1 ? argv[1] : "title-card.png";
    const char *text = "quendal-imgtext\nwrites text onto images";

    if (!imgtext_create(output, text, 640, 240, 40, 250, 245, 230, 32, 54, 84)) {
        fprintf(stderr, "title_card: %s\n", imgtext_last_error());
        return 1;
    }
    printf("wrote %s\n", output);
    return 0;
}
