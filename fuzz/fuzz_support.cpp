#include "fuzz_support.h"

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#include <stb_image.h>

namespace fuzz_support {

namespace {
std::vector<std::string> g_scratch;
void remove_scratch() {
    for (const std::string &path : g_scratch) std::remove(path.c_str());
}
}  // namespace

std::string scratch_path(const char *name) {
    const char *tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/imgtext-" + std::to_string(getpid()) + "-" + name;
    if (g_scratch.empty()) std::atexit(remove_scratch);
    g_scratch.push_back(path);
    return path;
}

bool write_file(const std::string &path, const uint8_t *data, size_t size) {
    // A new file rather than a truncated one: ext4 flushes a file truncated
    // and rewritten when it is closed, which cost milliseconds per input.
    std::remove(path.c_str());
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

namespace {
[[gnu::noinline]] void dirty_stack(unsigned char pattern) {
    volatile unsigned char area[64 * 1024];
    for (volatile unsigned char &byte : area) byte = pattern;
}
}  // namespace

void dirty_memory(unsigned char pattern) {
    std::vector<void *> blocks;
    for (size_t size = 16; size <= 65536; size *= 2) {  // below the mmap threshold, so reused
        for (size_t extra = 0; extra < 72; extra += 24) {
            void *p = std::malloc(size + extra);
            if (p) std::memset(p, pattern, size + extra);
            blocks.push_back(p);
        }
    }
    for (void *p : blocks) std::free(p);
    dirty_stack(pattern);
}

bool claims_more_pixels_than(const uint8_t *data, size_t size, long long pixels) {
    int w = 0, h = 0, n = 0;
    if (size > 0x7FFFFFFF || !stbi_info_from_memory(data, static_cast<int>(size), &w, &h, &n)) return false;
    // A top-down BMP reports a negative height; its size is the magnitude.
    return std::llabs(static_cast<long long>(w)) * std::llabs(static_cast<long long>(h)) > pixels;
}

}  // namespace fuzz_support
