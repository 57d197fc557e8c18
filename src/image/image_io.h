// Reading and writing pictures: sniffing a file's format, decoding it to RGBA
// under the caller's limits, choosing an output format and encoding, to a
// file (atomically) or to memory.
#ifndef IMGTEXT_IMAGE_IMAGE_IO_H
#define IMGTEXT_IMAGE_IMAGE_IO_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "codecs/byte_sink.h"
#include "files/file_paths.h"
#include "image/image.h"
#include "quendal_imgtext.h"

namespace imgtext {

class file_output;

// Decides, from the sniffed format and the dimensions in the file's header,
// whether a load is worth doing: returns 1 to decode, or 0 after setting a
// message to stop before any pixel memory is allocated.
struct load_check {
    int (*accept)(void *context, int format, int width, int height);
    void *context;
};

// Takes a picture's rows as they are decoded, for a caller that never needs
// the whole picture at once (drawing/streamed.h). Only a baseline JPEG that
// the own decoder takes and that needs no quarter turn streams; any other
// load ignores it.
class row_consumer {
public:
    // The picture about to stream, and its metadata (null: none or not
    // asked for). False declines: the load then decodes the whole picture.
    virtual bool begin(int width, int height, const image_metadata *metadata) = 0;
    // Where row y's width * 4 bytes go; rows come in order.
    virtual unsigned char *row(int y) = 0;
    // Every row before `end` is there (each 16 rows, and after the last).
    virtual void rows_done(int end) = 0;
    // After the last row: whether everything made of the rows succeeded.
    // False, or a decoding that does not end as the whole load would take
    // it, and the load decodes the whole picture after all.
    virtual bool finished() = 0;
    // The decoding ended otherwise: whatever the rows went into is dropped
    // before the whole picture is decoded.
    virtual void cancel() = 0;

protected:
    ~row_consumer() = default;
};

struct load_settings {
    uint64_t max_pixels = 0;            // 0: no limit beyond the decoder's own
    const load_check *check = nullptr;  // may refuse from the header
    // When set, a JPEG's metadata lands here (null if it has none), and with
    // auto_orient its pixels are turned upright by its EXIF orientation.
    image_metadata **metadata = nullptr;
    bool auto_orient = false;
    int threads = 1;  // 2 or more: a baseline JPEG's pixels are made on a second thread
    // A picture whose data ends early (read as zeros, as stb_image reads it)
    // is refused unless allowed; `damage`, when set, receives IMGTEXT_DAMAGE_*.
    bool allow_damaged = false;
    int *damage = nullptr;
    uint64_t max_input_bytes = 0;  // refuse larger files or data unread; 0: only the decoders' 2 GiB
    // Rows to stream, where the picture allows: *streamed then says true,
    // and the image received has its size but no pixels.
    row_consumer *rows = nullptr;
    bool *streamed = nullptr;
};

// Decodes encoded bytes to a packed RGBA picture the caller frees. `path`
// names the file in messages (null: the bytes came from memory) and backs
// up format sniffing with its extension. *format receives the format the
// bytes looked like, else the extension's, else `fallback`.
imgtext_status decode_image(const unsigned char *data, size_t size, const char *path, const load_settings &settings,
                            int fallback, rgba_image *image, int *format);

// Reads a whole file and decodes it as above. On failure leaves both outputs
// untouched.
imgtext_status load_image_file(const char *path, path_encoding encoding, const load_settings &settings, int fallback,
                               rgba_image *image, int *format);

// Progressive JPEG decoding costs a pass over the whole picture per scan, and
// scans can be a few bytes each: a file with more scans than this is refused
// before decoding.
constexpr int k_max_jpeg_scans = QUENDAL_IMGTEXT_MAX_JPEG_SCANS;

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

// The extension of path's last component when it names no format this
// library writes (".gif", ".HEIC"); null when it names one or there is none
// (a leading dot, as in ".profile", is no extension).
const char *foreign_extension(const char *path);

// ---- saving

// Whether the encoder for format can write a width x height image exactly.
bool writer_can_encode(int format, int width, int height);

struct encode_settings {
    int format = FMT_PNG;            // FMT_JPG, FMT_PNG or FMT_BMP
    int jpeg_quality = 92;           // 1..100
    bool png_rgb_if_opaque = false;  // RGB colour type when no pixel is translucent
    // Metadata to add to JPEG and PNG output (null: none, today's bytes);
    // the EXIF block only with keep_exif, and only into JPEG.
    const image_metadata *metadata = nullptr;
    bool keep_exif = false;
    // A failed save's message ends with the reason the system gave ("...:
    // disk full"); the seven calls' message is the bare sentence.
    bool give_reason = false;
};

// Encodes the picture, handing the bytes to write. Returns 1, or 0 if the
// encoder failed (out of memory) or refused the size; sets no message.
int encode_image(const rgba_image &image, const encode_settings &settings, write_fn write, void *context);

// Encodes the pixels to path, replacing any file there only once the whole
// new file is safely written. Returns IMGTEXT_OK, or LIMIT / WRITE with
// "failed to write image to <path>".
imgtext_status save_image_file(const char *path, path_encoding encoding, const rgba_image &image,
                               const encode_settings &settings);

// Puts a file its caller encoded into `file` in place, with
// save_image_file's messages for what failed.
imgtext_status commit_output(const char *path, file_output &file, bool give_reason);

// Growable memory for encoding into; malloc only, never throws.
struct memory_output {
    unsigned char *data = nullptr;
    size_t size = 0, capacity = 0;
    bool failed = false;
    memory_output() = default;
    memory_output(const memory_output &) = delete;
    memory_output &operator=(const memory_output &) = delete;
    ~memory_output() { std::free(data); }
    static void write(void *context, const void *bytes, size_t n);
};

// Encodes into a new malloc'd buffer.
imgtext_status encode_image_to_memory(const rgba_image &image, const encode_settings &settings, void **data,
                                      size_t *size);

}  // namespace imgtext

#endif
