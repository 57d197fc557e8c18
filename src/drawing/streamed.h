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

// Loads with `settings`, draws `texts` and encodes. Streams where the load
// can (settings.rows): *streamed is then true and the encoded file is in
// *data (malloc'd, *size bytes). Otherwise *streamed is false, nothing is
// returned, and the caller takes the whole path, whose result this equals.
// Returns the load's status: a failed load is reported as the whole path
// would report it.
imgtext_status load_draw_and_encode(const unsigned char *input, size_t input_size, const char *path,
                                    load_settings settings, const streamed_text *texts, size_t count,
                                    const encoding_choice &encoding, int fallback_format, rgba_image *image,
                                    int *format, bool *streamed, void **data, size_t *size);

// The same for a file, read whole first (as load_image_file reads it).
imgtext_status load_file_draw_and_encode(const char *path, path_encoding encoding, const load_settings &settings,
                                         const streamed_text *texts, size_t count, const encoding_choice &choice,
                                         int fallback_format, rgba_image *image, int *format, bool *streamed,
                                         void **data, size_t *size);

}  // namespace imgtext

#endif
