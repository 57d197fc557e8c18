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

// Encodes a picture handed over one MCU row at a time, top to bottom, so
// that no more of it than one such row need exist at once: the bytes are
// exactly those encode_jpeg writes for the whole picture. The headers are
// written on construction, the end on finish().
class jpeg_row_encoder {
public:
    jpeg_row_encoder(int width, int height, int quality, write_fn write, void *context,
                     jpeg_kernel kernel = jpeg_kernel::automatic);
    ~jpeg_row_encoder();
    jpeg_row_encoder(const jpeg_row_encoder &) = delete;
    jpeg_row_encoder &operator=(const jpeg_row_encoder &) = delete;
    // False if its state could not be allocated (nothing was written).
    bool ready() const { return s_ != nullptr; }
    // Pixel rows per MCU row: 16 at quality 90 and below, else 8.
    int mcu_rows() const;
    // The next MCU row: mcu_rows() RGBA rows `stride` bytes apart from
    // `rows`, or at the bottom those that remain (the last then repeats).
    void add(const unsigned char *rows, size_t stride);
    void finish();

private:
    struct state;
    state *s_ = nullptr;
};

// Encodes width x height RGBA pixels (alpha ignored; `stride` bytes from one
// row to the next, at least width * 4) at quality 1..100 and hands the file
// to write in pieces. Returns 1, or 0 if memory ran out.
int encode_jpeg(const unsigned char *pixels, int width, int height, size_t stride, int quality, write_fn write,
                void *context, jpeg_kernel kernel = jpeg_kernel::automatic);

// The same for rows with no gap between them.
inline int encode_jpeg(const unsigned char *pixels, int width, int height, int quality, write_fn write, void *context) {
    return encode_jpeg(pixels, width, height, static_cast<size_t>(width) * 4, quality, write, context);
}

}  // namespace imgtext

#endif
