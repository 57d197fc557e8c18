// What a photo carries besides its pixels: the EXIF orientation that says how
// to turn the stored pixels upright, the ICC colour profile, the resolution
// and the EXIF block itself. Read from JPEG inputs (hostile bytes: every
// offset and count is bounded, and anything damaged reads as absent), kept
// with the image handle, and written back into JPEG and PNG output by adding
// segments or chunks to the encoders' finished stream.
#ifndef IMGTEXT_IMAGE_METADATA_H
#define IMGTEXT_IMAGE_METADATA_H

#include <cstddef>
#include <cstdint>

#include "codecs/byte_sink.h"
#include "image/image.h"

namespace imgtext {

enum : int { DENSITY_NONE = 0, DENSITY_PER_INCH = 1, DENSITY_PER_CM = 2 };  // JFIF's unit codes

struct image_metadata {
    unsigned char *icc = nullptr;  // the whole profile (malloc'd), joined from its segments
    size_t icc_size = 0;
    unsigned char *exif = nullptr;  // the TIFF block after "Exif\0\0" (malloc'd)
    size_t exif_size = 0;
    int orientation = 0;  // EXIF orientation 1..8 as read; 0 when absent or damaged
    int density_unit = DENSITY_NONE;
    double density_x = 0, density_y = 0;  // dots per unit, both > 0 when a unit is set
    bool empty() const { return !icc && !exif && density_unit == DENSITY_NONE; }
};

void free_metadata(image_metadata *metadata);  // the arrays and the struct; null allowed

// ---- EXIF (a TIFF block). Only the first directory (IFD0) is read, so no
// chain of directories is followed and a looping chain cannot hang a load.

// The orientation (1..8), or 0 when the block has none or is damaged.
int exif_orientation(const unsigned char *tiff, size_t size);

// The resolution in IFD0 (XResolution, YResolution, ResolutionUnit): true
// and the values when all are present and sane.
bool exif_resolution(const unsigned char *tiff, size_t size, int *unit, double *x, double *y);

// Rewrites the orientation entry's value in place; false if there is none.
bool exif_set_orientation(unsigned char *tiff, size_t size, int orientation);

// Reads the metadata of a JPEG stream: its segments up to the first scan.
// Returns a new record (null when the stream carries nothing this library
// keeps), or null with *out_of_memory set.
image_metadata *read_jpeg_metadata(const unsigned char *data, size_t size, bool *out_of_memory);

// Turns the pixels upright for an EXIF orientation (2..8; 1 and anything
// else change nothing). The picture may get a new, packed buffer (the old
// one is freed) and swapped sides. False if memory ran out (image untouched).
bool apply_orientation(rgba_image *image, int orientation);

// After the pixels have been turned: orientation 1 in the kept EXIF block,
// and the densities swapped for the orientations that swap the sides.
void metadata_oriented(image_metadata *metadata, int orientation);

// ---- writing

// An encoder's output stream with metadata added: for JPEG the JFIF density
// is set and APP1 (EXIF, when keep_exif) and APP2 (ICC) segments follow the
// JFIF segment; for PNG iCCP and pHYs chunks follow IHDR. With nothing to
// add the stream passes through unchanged, byte for byte.
class metadata_writer {
public:
    metadata_writer(write_fn write, void *context) : write_(write), context_(context) {}
    ~metadata_writer();
    metadata_writer(const metadata_writer &) = delete;
    metadata_writer &operator=(const metadata_writer &) = delete;

    // Prepares what to add for this format. False if memory ran out.
    bool prepare(const image_metadata &metadata, int format, bool keep_exif);
    bool adds_anything() const { return insert_size_ || patch_density_; }
    static void write(void *context, const void *data, size_t size);
    // Hands on whatever is still held (a stream shorter than its header).
    void finish();

private:
    void release_head();
    write_fn write_;
    void *context_;
    unsigned char *insert_ = nullptr;  // segments or chunks to add after the header
    size_t insert_size_ = 0;
    size_t head_size_ = 0;  // bytes of the encoder's header to hold before inserting
    unsigned char held_[33] = {};
    size_t held_count_ = 0;
    bool released_ = false;
    int format_ = 0;
    bool patch_density_ = false;
    unsigned char density_[5] = {};  // JFIF units, X and Y density (big-endian)
};

}  // namespace imgtext

#endif
