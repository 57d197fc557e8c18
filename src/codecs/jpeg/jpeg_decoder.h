// The library's own JPEG decoder for the common files: baseline and
// progressive, grey and YCbCr, every component sampled 1 or 2 times per
// MCU across and down. Its RGBA output, and the reason it gives when a file
// cannot be decoded, are exactly those of stb_image 2.30 as this library
// builds it (zeroed allocations, its SSE2 kernels), damaged files included.
// Anything else is left to stb_image.
#ifndef IMGTEXT_JPEG_DECODER_H
#define IMGTEXT_JPEG_DECODER_H

namespace imgtext {

enum class jpeg_decode_result { not_handled, decoded, failed };

// Which form of the inner loops runs. All give the same pixels; `automatic`
// takes the widest the processor has (AVX2, else SSE2). Tests force `sse2`
// and `portable` to cover the others.
enum class jpeg_decode_kernel { automatic, sse2, portable };

// Where a decoded file's data ran out, for callers that refuse damaged
// pictures. The picture is still what stb_image makes of the file (zeros
// read past the end); this says that part of it is made up.
struct jpeg_damage {
    bool truncated = false;
    int from_row = -1;  // a baseline picture: the first pixel row the data does not cover in full
    int scans = 0;      // the scans the data held, the last in part if within_scan; 0: none at all
    bool within_scan = false;
};

// Decodes a whole JPEG file held in memory to 8-bit RGBA (4 channels).
// - decoded: *pixels is a malloc'd width * height * 4 buffer (free() it);
// - failed: stb_image would fail too, and *failure_reason is the reason it
//   would give (a static string);
// - not_handled: nothing was allocated; the caller decodes with stb_image.
// With threads 2 or more, a baseline picture's pixels are made on a second
// thread (started and joined within the call) while this one reads the
// data: the same result. Otherwise, and if no thread can be started, the
// calling thread does everything. With `damage`, a decoded file whose data
// ends before the picture does is described there.
jpeg_decode_result decode_jpeg_rgba(const unsigned char *data, int size, int *width, int *height,
                                    unsigned char **pixels, const char **failure_reason,
                                    jpeg_decode_kernel kernel = jpeg_decode_kernel::automatic, int threads = 1,
                                    jpeg_damage *damage = nullptr);

// Where decoded rows go when the picture is not to be held whole. The rows
// come in order, each written once, from whichever thread makes pixels (one
// at a time).
class jpeg_row_sink {
public:
    // The header is read: a width x height picture, baseline. False declines
    // it before any row is decoded (the result is then not_handled).
    virtual bool begin(int width, int height) = 0;
    // Where row y's width * 4 bytes go.
    virtual unsigned char *row(int y) = 0;
    // Every row before `end` is written: called when a multiple of 16 rows
    // is, and after the last.
    virtual void rows_done(int end) = 0;

protected:
    ~jpeg_row_sink() = default;
};

// decode_jpeg_rgba for a baseline picture, its rows handed to `sink` as
// they are made instead of into one buffer; what the sink receives is what
// decode_jpeg_rgba would give. A progressive picture, or one the sink
// declines, is not_handled. As with decode_jpeg_rgba, not_handled may come
// after rows were handed over (the file's markers then say the colours are
// other than the rows assumed), and a decoded picture may be `damage`d:
// the caller then decodes the whole way.
jpeg_decode_result decode_jpeg_rows(const unsigned char *data, int size, jpeg_row_sink &sink, int *width, int *height,
                                    const char **failure_reason, int threads = 1, jpeg_damage *damage = nullptr);

// True where the decoder can run at all (stb_image must be using the
// kernels the decoder reproduces: those of x86 processors).
bool jpeg_decoder_available();

}  // namespace imgtext

#endif
