/* A program built against the installed library only. */
#include <stdio.h>

#include <quendal_imgtext.h>

int main(int argc, char **argv) {
    const char *out = argc > 1 ? argv[1] : "consumer.png";
    if (!imgtext_create(out, "installed", 90, 30, 0, 255, 255, 255, 0, 0, 0)) {
        fprintf(stderr, "consumer: %s\n", imgtext_last_error());
        return 1;
    }
    printf("consumer %d.%d.%d: wrote %s\n", QUENDAL_IMGTEXT_VERSION_MAJOR, QUENDAL_IMGTEXT_VERSION_MINOR,
           QUENDAL_IMGTEXT_VERSION_PATCH, out);
    return 0;
}
