// The library's own baseline JPEG encoder: byte for byte the file
// stb_image_write 1.16 writes for 8-bit RGBA at any quality (full-resolution
// chroma above 90, 2 x 2 subsampled at 90 and below), computed faster.
#ifndef IMGTEXT_JPEG_ENCODER_H
#define IMGTEXT_JPEG_ENCODER_H

#include <cstddef>

#include "codecs/byte_sink.h"

namespace imgtext {

// Which compilation of the pixel-to-coefficient steps runs. Both give the
// same bytes; `automatic` takes the AVX2 one where the processor has it.
// Tests force `portable` to cover the other.
enum class jpeg_kernel { automatic, portable };

// Encodes width x height RGBA pixels (alpha ignored; `stride` bytes from one
// row to the next, at least width * 4) at quality 1..100 and hands the file
// to write in pieces. Returns 1.
int encode_jpeg(const unsigned char *pixels, int width, int height, size_t stride, int quality, write_fn write,
                void *context, jpeg_kernel kernel = jpeg_kernel::automatic);

// The same for rows with no gap between them.
inline int encode_jpeg(const unsigned char *pixels, int width, int height, int quality, write_fn write, void *context) {
    return encode_jpeg(pixels, width, height, static_cast<size_t>(width) * 4, quality, write, context);
}

}  // namespace imgtext

#endif
