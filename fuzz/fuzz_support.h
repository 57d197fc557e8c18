// Small helpers shared by the fuzz targets.
#ifndef IMGTEXT_FUZZ_SUPPORT_H
#define IMGTEXT_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz_support {

// A path in the temporary folder unique to this process.
std::string scratch_path(const char *name);
bool write_file(const std::string &path, const uint8_t *data, size_t size);
// Leaves recently freed heap blocks of many sizes, and the stack below the
// caller, full of `pattern`, so that code reading memory it never wrote
// sees that pattern (and differs from one pattern to another).
void dirty_memory(unsigned char pattern);
// True when the bytes are an image whose header declares more pixels.
bool claims_more_pixels_than(const uint8_t *data, size_t size, long long pixels);

}  // namespace fuzz_support

#endif
