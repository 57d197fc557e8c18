/* How stb_image is built wherever it decodes as the library does: the
 * library itself, and the reference decoders of its tests, benchmarks and
 * fuzz targets, so that none of them drifts from the others. Include before
 * stb_image.h. C and C++.
 *
 * The decoder reads memory it never wrote for some truncated or corrupt
 * files (JPEG especially). Zero-filled allocations make such reads see
 * zeros, so damaged files decode the same way every time and never carry
 * leftover heap contents into an output file. Valid files decode exactly as
 * with stb's own allocation. */
#ifndef IMGTEXT_DECODER_ALLOCATION_H
#define IMGTEXT_DECODER_ALLOCATION_H

#include <stdlib.h>
#include <string.h>

static inline void *imgtext_zeroed_realloc(void *p, size_t old_size, size_t new_size) {
    unsigned char *q = (unsigned char *)realloc(p, new_size);
    if (q && new_size > old_size) memset(q + old_size, 0, new_size - old_size);
    return q;
}

#define STBI_MALLOC(size) calloc(1, size)
#define STBI_REALLOC_SIZED(p, old_size, new_size) imgtext_zeroed_realloc(p, old_size, new_size)
#define STBI_FREE(p) free(p)

#endif
