// Images and files: the one in-memory pixel form, reading, writing and the
// opaque rectangle fill.
#ifndef IMGTEXT_IMAGE_H
#define IMGTEXT_IMAGE_H

#include <cstddef>
#include <cstdint>

namespace imgtext {

// 8-bit RGBA, straight alpha, rows top to bottom with no gap (stride width*4).
// The pixels are owned by the drawing call that made them and freed with free().
struct rgba_image {
    int width;
    int height;
    unsigned char *pixels;
};

// Output format codes; any other value is written as PNG.
enum : int { FMT_JPG = 1, FMT_PNG = 2, FMT_BMP = 3 };

// Paints the part of the rectangle inside the image with the clamped colour
// at alpha 255, overwriting what was there. Geometry is 64-bit so that a
// padded box near INT_MAX cannot overflow.
void fill_rect(const rgba_image &image, int64_t x, int64_t y, int64_t w, int64_t h, int red, int green, int blue);

inline int clamp_channel(int value) { return value < 0 ? 0 : value > 255 ? 255 : value; }

// Decides, from the sniffed format and the dimensions in the file's header,
// whether a load is worth doing: returns 1 to decode, or 0 after setting a
// message to stop before any pixel memory is allocated.
struct load_check {
    int (*accept)(void *context, int format, int width, int height);
    void *context;
};

// Reads and decodes an image file to RGBA and reports the format its first
// bytes suggest (falling back to the extension). When the header's
// dimensions can be read, `check` (if any) sees them before decoding starts.
// On failure returns 0 with a message and leaves both outputs untouched.
int load_image(const char *path, rgba_image *image, int *format, const load_check *check = nullptr);

// Progressive JPEG decoding costs a pass over the whole picture per scan, and
// scans can be a few bytes each: a file with more scans than this is refused
// before decoding. Real encoders write about ten.
constexpr int k_max_jpeg_scans = 500;

// The number of scans (SOS segments) in a JPEG's marker stream, counting no
// further than limit + 1.
int count_jpeg_scans(const unsigned char *data, size_t size, int limit);

// The output format an input file's first bytes suggest: JPEG, PNG or BMP
// by their signatures, otherwise what the path's extension names (PNG if none).
int sniff_format(const char *path, const unsigned char *data, int size);

// 1 if s ends with suffix, comparing bytes with bit 0x20 set in both (ASCII
// case folding).
int str_ends_with_nocase(const char *s, const char *suffix);

// The format named by path's extension (.jpg/.jpeg/.png/.bmp), else fallback.
int format_from_path(const char *path, int fallback);

// Where an encoder hands its output, piece by piece.
using write_fn = void (*)(void *context, const void *data, size_t size);

// Whether the encoder for format can write a width x height image exactly.
bool writer_can_encode(int format, int width, int height);

// Encodes the pixels in the given format to path, replacing any file there
// only once the whole new file is safely written. Returns 1, or 0 with
// "failed to write image to <path>" (including for images too large for the
// format). Does not free the pixels.
int save_image(const char *path, int width, int height, const unsigned char *pixels, int format);

}  // namespace imgtext

#endif
