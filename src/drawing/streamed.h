// Drawing on a JPEG as it passes from the decoder to the encoder, a band of
// rows at a time, so that a watermark on a 12-megapixel photo needs a few
// megabytes rather than the whole RGBA picture. The bytes are those of the
// whole-picture path (load, draw, encode) for every input: the text is laid
// out and drawn exactly as there, on a window of the picture that holds
// every row the drawing reaches, and the JPEG encoder works in MCU rows, so
// a row's bytes never depend on rows that are not yet there.
#ifndef IMGTEXT_DRAWING_STREAMED_H
#define IMGTEXT_DRAWING_STREAMED_H

#include <cstddef>

#include "drawing/drawing.h"
#include "image/image_io.h"

namespace imgtext {

// One text to draw, in order with the others.
struct streamed_text {
    const text_request *request;
    placement where;
};

// How the output is to be encoded, chosen once the input's metadata is
// known: false if not as a JPEG (the picture then takes the whole path).
struct encoding_choice {
    bool (*choose)(void *context, const image_metadata *metadata, encode_settings *settings);
    void *context;
};

// Called once the picture's size is known, before anything is laid out:
// a text's request may depend on it. False: the picture takes the whole
// path.
struct size_known {
    bool (*prepare)(void *context, int width, int height);
    void *context;
};

// Loads with `settings`, draws `texts` and encodes. Streams where the load
// can (settings.rows): *streamed is then true and the encoded file went to
// write(context, ...) as it was made. Otherwise *streamed is false, *image
// is the whole decoded picture, and the caller goes on down the whole path,
// whose result this equals; bytes may have gone to `write` before the
// stream gave up, so the caller discards them (a file not yet committed, a
// buffer emptied). Returns the load's status: a failed load is reported as
// the whole path would report it.
imgtext_status load_draw_and_encode(const unsigned char *input, size_t input_size, const char *path,
                                    load_settings settings, const streamed_text *texts, size_t count,
                                    const encoding_choice &encoding, write_fn write, void *context, int fallback_format,
                                    rgba_image *image, int *format, bool *streamed,
                                    size_known prepare = {nullptr, nullptr});

// The same for a file, read whole first (as load_image_file reads it).
imgtext_status load_file_draw_and_encode(const char *path, path_encoding encoding, const load_settings &settings,
                                         const streamed_text *texts, size_t count, const encoding_choice &choice,
                                         write_fn write, void *context, int fallback_format, rgba_image *image,
                                         int *format, bool *streamed, size_known prepare = {nullptr, nullptr});

}  // namespace imgtext

#endif
