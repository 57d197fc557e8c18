/* Fuzz target: the decoder alone under MemorySanitizer, which reports any
 * branch, address or system call that depends on memory never written
 * (ASan and UBSan cannot see those). stb_image is compiled as the library
 * compiles it: the fixed copy, with zero-filled allocations. The target is C
 * so that no uninstrumented C++ runtime gets in the way. */
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <sanitizer/msan_interface.h>

#include "image/decoder_allocation.h" /* the library's allocation functions */
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    int width = 0, height = 0, channels = 0;
    unsigned char *pixels;
    if (size > INT_MAX) return 0;
    /* Huge pictures only make the fuzzer slow, as in fuzz_input_file. A BMP
     * whose rows run top first reports a negative height. */
    if (stbi_info_from_memory(data, (int)size, &width, &height, &channels) &&
        llabs((long long)width * height) > (1 << 22))
        return 0;
    pixels = stbi_load_from_memory(data, (int)size, &width, &height, &channels, 4);
    if (pixels) {
        /* Copying a byte is no error to MSan; the library writes these to a file. */
        __msan_check_mem_is_initialized(pixels, (size_t)width * (size_t)height * 4);
        free(pixels);
    }
    return 0;
}
