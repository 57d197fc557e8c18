// The drawing API's image exports: creating, loading, wrapping and copying
// pictures, reading their pixels, and saving or encoding them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "api/export_guard.h"
#include "api/options.h"
#include "frame/errors.h"
#include "image/image.h"
#include "image/image_io.h"
#include "image/metadata.h"
#include "quendal_imgtext.h"

using namespace imgtext;

namespace {

imgtext_image *new_handle(const rgba_image &view, bool owns, int format) {
    auto *image = static_cast<imgtext_image *>(std::malloc(sizeof(imgtext_image)));
    if (image) *image = imgtext_image{view, owns, format, nullptr};
    return image;
}

imgtext_status hand_over(const rgba_image &pixels, int format, imgtext_image **image,
                         image_metadata *metadata = nullptr) {
    *image = new_handle(pixels, true, format);
    if (*image) {
        (*image)->metadata = metadata;
        return IMGTEXT_OK;
    }
    std::free(pixels.pixels);
    free_metadata(metadata);
    return set_error(IMGTEXT_ERROR_MEMORY, "out of memory");
}

bool valid_size(int width, int height) { return width > 0 && height > 0; }

// Whether the last row's end, stride * (height - 1) + width * 4 bytes from
// the first pixel, is addressable: otherwise rows would wrap around the
// address space onto each other. For sizes valid_size accepts.
bool span_fits(int width, int height, size_t stride) {
    const uint64_t limit = PTRDIFF_MAX, row = static_cast<uint64_t>(width) * 4;
    if (row > limit) return false;
    return height == 1 || static_cast<uint64_t>(stride) <= (limit - row) / static_cast<uint64_t>(height - 1);
}

unsigned char *allocate_pixels(int width, int height, bool zeroed) {
    const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
    if (bytes > SIZE_MAX) return nullptr;
    return static_cast<unsigned char *>(zeroed ? std::calloc(static_cast<size_t>(bytes), 1)
                                               : std::malloc(static_cast<size_t>(bytes)));
}

// Loads with the options, then hands the pixels and the metadata kept with
// them to a new handle. decode(settings, &pixels, &format) does the reading.
template <typename Decode>
imgtext_status load_handle(const imgtext_load_options *options, imgtext_image **image, Decode decode) {
    load_settings settings;
    imgtext_status status = load_settings_from(options, &settings);
    if (status != IMGTEXT_OK) return status;
    rgba_image pixels{0, 0, nullptr};
    int format = FMT_AUTO;
    image_metadata *metadata = nullptr;
    int damage = IMGTEXT_DAMAGE_NONE;
    settings.metadata = &metadata;
    settings.damage = &damage;
    status = decode(settings, &pixels, &format);
    if (status != IMGTEXT_OK) return status;
    status = hand_over(pixels, format, image, metadata);
    if (status == IMGTEXT_OK) (*image)->damage = damage;
    return status;
}

// The arguments of wrap and copy: a caller's buffer and where the handle goes.
imgtext_status check_caller_pixels(const void *pixels, int width, int height, size_t stride, imgtext_image **image) {
    if (!image) return bad_argument("image is NULL");
    *image = nullptr;
    if (!pixels) return bad_argument("pixels is NULL");
    if (!valid_size(width, height) || stride / 4 < static_cast<size_t>(width) || !span_fits(width, height, stride)) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid dimensions: %dx%d with a stride of %.0f bytes", width, height,
                         static_cast<double>(stride));
    }
    return IMGTEXT_OK;
}

imgtext_status create(int width, int height, imgtext_color color, imgtext_image **image) {
    if (!image) return bad_argument("image is NULL");
    *image = nullptr;
    if (!valid_size(width, height)) {
        return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid dimensions: width and height must be > 0 (%dx%d)", width,
                         height);
    }
    const bool transparent_black = color.r == 0 && color.g == 0 && color.b == 0 && color.a == 0;
    rgba_image canvas{width, height, allocate_pixels(width, height, transparent_black)};
    if (!canvas.pixels)
        return set_error(IMGTEXT_ERROR_MEMORY, "failed to allocate image buffer (%dx%d)", width, height);
    if (!transparent_black) {
        const unsigned char pixel[4] = {color.r, color.g, color.b, color.a};
        const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
        for (size_t i = 0; i < count; ++i) std::memcpy(canvas.pixels + i * 4, pixel, 4);
    }
    return hand_over(canvas, FMT_AUTO, image);
}

imgtext_status copy(const void *pixels, int width, int height, size_t stride, imgtext_image **image) {
    const imgtext_status checked = check_caller_pixels(pixels, width, height, stride, image);
    if (checked != IMGTEXT_OK) return checked;
    rgba_image copied{width, height, allocate_pixels(width, height, false)};
    if (!copied.pixels)
        return set_error(IMGTEXT_ERROR_MEMORY, "failed to allocate image buffer (%dx%d)", width, height);
    const auto *from = static_cast<const unsigned char *>(pixels);
    for (int y = 0; y < height; ++y) {
        std::memcpy(copied.row(y), from + stride * static_cast<size_t>(y), copied.row_bytes());
    }
    return hand_over(copied, FMT_AUTO, image);
}

}  // namespace

extern "C" {

void imgtext_load_options_init(imgtext_load_options *options) {
    api_void([&] {
        if (!options) return;
        *options = imgtext_load_options{};
        options->struct_size = sizeof *options;
        options->max_pixels = IMGTEXT_DEFAULT_MAX_PIXELS;
        options->auto_orient = 1;
        options->threads = 1;
        options->max_input_bytes = IMGTEXT_DEFAULT_MAX_INPUT_BYTES;
    });
}

void imgtext_save_options_init(imgtext_save_options *options) {
    api_void([&] {
        if (!options) return;
        *options = imgtext_save_options{};
        options->struct_size = sizeof *options;
        options->format = IMGTEXT_FORMAT_AUTO;
        options->jpeg_quality = 92;
    });
}

imgtext_status imgtext_image_create(int width, int height, imgtext_color color, imgtext_image **image) {
    return api_call([&] { return create(width, height, color, image); });
}

imgtext_status imgtext_image_load(const char *path, const imgtext_load_options *options, imgtext_image **image) {
    return api_call([&] {
        if (!image) return bad_argument("image is NULL");
        *image = nullptr;
        if (!path) return bad_argument("path is NULL");
        return load_handle(options, image, [&](const load_settings &settings, rgba_image *pixels, int *format) {
            return load_image_file(path, path_encoding::utf8, settings, FMT_AUTO, pixels, format);
        });
    });
}

imgtext_status imgtext_image_load_memory(const void *data, size_t size, const imgtext_load_options *options,
                                         imgtext_image **image) {
    return api_call([&] {
        if (!image) return bad_argument("image is NULL");
        *image = nullptr;
        if (!data || size == 0) return bad_argument("no data");
        return load_handle(options, image, [&](const load_settings &settings, rgba_image *pixels, int *format) {
            return decode_image(static_cast<const unsigned char *>(data), size, nullptr, settings, FMT_AUTO, pixels,
                                format);
        });
    });
}

imgtext_status imgtext_image_wrap(void *pixels, int width, int height, size_t stride, imgtext_image **image) {
    return api_call([&] {
        const imgtext_status checked = check_caller_pixels(pixels, width, height, stride, image);
        if (checked != IMGTEXT_OK) return checked;
        *image = new_handle(rgba_image{width, height, static_cast<unsigned char *>(pixels), stride}, false, FMT_AUTO);
        return *image ? IMGTEXT_OK : set_error(IMGTEXT_ERROR_MEMORY, "out of memory");
    });
}

imgtext_status imgtext_image_copy(const void *pixels, int width, int height, size_t stride, imgtext_image **image) {
    return api_call([&] { return copy(pixels, width, height, stride, image); });
}

void imgtext_image_free(imgtext_image *image) {
    api_void([&] {
        if (!image) return;
        if (image->owns_pixels) std::free(image->view.pixels);
        free_metadata(image->metadata);
        std::free(image);
    });
}

int imgtext_image_width(const imgtext_image *image) {
    return api_value(0, [&] { return image ? image->view.width : 0; });
}

int imgtext_image_height(const imgtext_image *image) {
    return api_value(0, [&] { return image ? image->view.height : 0; });
}

size_t imgtext_image_stride(const imgtext_image *image) {
    return api_value(size_t{0}, [&] { return image ? image->view.row_bytes() : size_t{0}; });
}

uint8_t *imgtext_image_pixels(imgtext_image *image) {
    return api_value<uint8_t *>(nullptr, [&] { return image ? image->view.pixels : nullptr; });
}

int imgtext_image_damage(const imgtext_image *image) {
    return api_value(int{IMGTEXT_DAMAGE_NONE}, [&] { return image ? image->damage : int{IMGTEXT_DAMAGE_NONE}; });
}

int imgtext_image_format(const imgtext_image *image) {
    return api_value(int{IMGTEXT_FORMAT_AUTO}, [&] { return image ? image->format : int{IMGTEXT_FORMAT_AUTO}; });
}

imgtext_status imgtext_image_save(const imgtext_image *image, const char *path, const imgtext_save_options *options) {
    return api_call([&] {
        if (!image) return bad_argument("image is NULL");
        if (!path) return bad_argument("path is NULL");
        encode_settings settings;
        const imgtext_status status = encode_settings_from(image, options, path, &settings);
        if (status != IMGTEXT_OK) return status;
        return save_image_file(path, path_encoding::utf8, image->view, settings);
    });
}

imgtext_status imgtext_image_encode(const imgtext_image *image, const imgtext_save_options *options, void **data,
                                    size_t *size) {
    return api_call([&] {
        if (!image) return bad_argument("image is NULL");
        if (!data || !size) return bad_argument("data or size is NULL");
        *data = nullptr;
        *size = 0;
        encode_settings settings;
        const imgtext_status status = encode_settings_from(image, options, nullptr, &settings);
        if (status != IMGTEXT_OK) return status;
        return encode_image_to_memory(image->view, settings, data, size);
    });
}

void imgtext_free(void *data) {
    api_void([&] { std::free(data); });
}

}  // extern "C"
