// The drawing API's structs as the engine reads them: a caller's option
// struct (of whatever size its header knew) turned into the engine's
// settings and requests, with every field checked, and results written back
// into as much of the caller's struct as it has room for.
#ifndef IMGTEXT_API_OPTIONS_H
#define IMGTEXT_API_OPTIONS_H

#include <cstddef>
#include <cstring>

#include "drawing/drawing.h"
#include "image/image_io.h"
#include "quendal_imgtext.h"
#include "text/layout.h"

namespace imgtext {

imgtext_status bad_argument(const char *what);

// An enum argument holds whatever int the caller passed. Reading a value
// outside the enum's range as the enum is undefined (and a compiler may drop
// a later range check), so its bits are read as an int, checked, and only
// then converted.
inline int int_bits(const imgtext_position &position) {
    int value;
    static_assert(sizeof value == sizeof position);
    std::memcpy(&value, &position, sizeof value);
    return value;
}

// Options structs begin with their size: read the fields the caller's
// version of the header knew and keep the defaults for the rest.
template <typename Options>
bool read_options(const Options *given, void (*init)(Options *), Options *out) {
    init(out);
    if (!given) return true;
    if (given->struct_size < sizeof(size_t)) return false;
    std::memcpy(out, given, given->struct_size < sizeof(Options) ? given->struct_size : sizeof(Options));
    out->struct_size = sizeof(Options);
    return true;
}

// Results likewise: write only what the caller has room for.
template <typename Result>
void write_result(const Result &value, Result *out) {
    if (!out || out->struct_size < sizeof(size_t)) return;
    const size_t room = out->struct_size;
    std::memcpy(out, &value, room < sizeof(Result) ? room : sizeof(Result));
    out->struct_size = room;
}

imgtext_status load_settings_from(const imgtext_load_options *options, load_settings *settings);
imgtext_status encode_settings_from(const imgtext_image *image, const imgtext_save_options *options, const char *path,
                                    encode_settings *settings);

// The text and style of a measuring or drawing call as the engine's request.
imgtext_status request_from(const char *text, size_t length, const imgtext_text_style *style, text_request *request);

// size: the size the text was laid out at (the style's, or auto-size's).
imgtext_text_metrics metrics_of(const text_layout &layout, int64_t x, int64_t y, float size);
// The metrics of turned text: its bounding box in place of the text box.
imgtext_text_metrics turned_metrics_of(const text_layout &layout, int64_t x, int64_t y, float size, int64_t width,
                                       int64_t height);

}  // namespace imgtext

#endif
