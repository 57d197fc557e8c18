// The library's own PNG encoder: byte for byte the file stb_image_write 1.16
// writes for 8-bit RGBA at its defaults (per-row filter choice, its deflate
// at level 8), computed several times faster.
#ifndef IMGTEXT_PNG_ENCODER_H
#define IMGTEXT_PNG_ENCODER_H

#include "codecs/byte_sink.h"
#include "codecs/png_deflate.h"

namespace imgtext {

// Encodes width x height RGBA pixels (stride width * 4) and hands the file to
// write in pieces. Returns 1, or 0 if memory ran out (nothing written then).
// The caller has checked the size with writer_can_encode. `search` is for
// tests that cover both match searches on one machine.
int encode_png(const unsigned char *pixels, int width, int height, write_fn write, void *context,
               match_search search = match_search::automatic);

// The CRC-32 of PNG chunks, continued from crc (0 to start) over more bytes.
uint32_t png_crc(uint32_t crc, const uint8_t *data, size_t size);

}  // namespace imgtext

#endif
