// The drawing API's font exports: the built-in font, loading fonts from
// files and memory, and freeing them.
#include <cstdlib>

#include "api/export_guard.h"
#include "files/file_input.h"
#include "font/font.h"
#include "frame/errors.h"
#include "quendal_imgtext.h"

using namespace imgtext;

namespace {

imgtext_status load_file(const char *path, int index, imgtext_font **font) {
    if (!font) return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: font is NULL");
    *font = nullptr;
    if (!path) return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: path is NULL");
    unsigned char *data = nullptr;
    size_t size = 0;
    const imgtext_status read = read_whole_file(path, path_encoding::utf8, &data, &size);
    if (read != IMGTEXT_OK) return read;
    const imgtext_status status = load_font(data, size, index, font);
    std::free(data);
    return status;
}

}  // namespace

extern "C" const imgtext_font *imgtext_font_builtin(void) {
    return api_value<const imgtext_font *>(nullptr, [] {
        clear_error();
        return builtin_font();
    });
}

extern "C" imgtext_status imgtext_font_load_memory(const void *data, size_t size, int index, imgtext_font **font) {
    return api_call([&] {
        if (!font) return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: font is NULL");
        *font = nullptr;
        return load_font(static_cast<const unsigned char *>(data), size, index, font);
    });
}

extern "C" imgtext_status imgtext_font_load(const char *path, int index, imgtext_font **font) {
    return api_call([&] { return load_file(path, index, font); });
}

extern "C" void imgtext_font_free(imgtext_font *font) {
    api_void([&] { free_font(font); });
}
