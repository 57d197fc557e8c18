// The library's own baseline JPEG encoder: byte for byte the file
// stb_image_write 1.16 writes for 8-bit RGBA above quality 90 (full-resolution
// chroma), computed faster.
#ifndef IMGTEXT_JPEG_ENCODER_H
#define IMGTEXT_JPEG_ENCODER_H

#include "image.h"  // write_fn

namespace imgtext {

// Encodes width x height RGBA pixels (alpha ignored) at quality 91..100 and
// hands the file to write in pieces. Returns 1, or 0 if memory ran out.
int encode_jpeg(const unsigned char *pixels, int width, int height, int quality, write_fn write, void *context);

}  // namespace imgtext

#endif
