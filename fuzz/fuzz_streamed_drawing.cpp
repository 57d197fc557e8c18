// Fuzz target: drawing on a picture in one call (which streams a baseline
// JPEG to JPEG in bands of rows) against the calls it stands for, one by
// one. For any bytes and any placement, both must fail with the same status
// and message, or give the same encoded bytes. The last three bytes choose
// the text's row, the output quality and the effects; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "quendal_imgtext.h"

namespace {

struct result {
    imgtext_status status;
    std::string message, bytes;
};

result one_by_one(const uint8_t *data, size_t size, const imgtext_text_job *jobs, size_t count,
                  const imgtext_load_options &load, const imgtext_save_options &save) {
    imgtext_image *image = nullptr;
    imgtext_status status = imgtext_image_load_memory(data, size, &load, &image);
    for (size_t i = 0; i < count && status == IMGTEXT_OK; ++i) {
        const imgtext_text_job &j = jobs[i];
        status = j.gravity ? imgtext_draw_text_gravity(image, j.text, j.length, j.position, j.margin, j.style, nullptr)
                           : imgtext_draw_text(image, j.text, j.length, j.x, j.y, j.position, j.style, nullptr);
    }
    void *out = nullptr;
    size_t out_size = 0;
    if (status == IMGTEXT_OK) status = imgtext_image_encode(image, &save, &out, &out_size);
    result r{status, status == IMGTEXT_OK ? "" : imgtext_error_message(), std::string()};
    if (out) r.bytes.assign(static_cast<const char *>(out), out_size);
    imgtext_free(out);
    imgtext_image_free(image);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4 || size > (1 << 20)) return 0;
    const uint8_t *knobs = data + size - 3;
    size -= 3;
    if (fuzz_support::claims_more_pixels_than(data, size, 1 << 22)) return 0;

    imgtext_text_style style;
    imgtext_text_style_init(&style);
    style.size = 12.0f + static_cast<float>(knobs[2] & 0x1F);
    style.box = knobs[2] >> 5 & 1, style.padding = 3;
    style.stroke_width = (knobs[2] >> 6 & 1) ? 2.0f : 0.0f;
    style.shadow = knobs[2] >> 7;
    style.color = imgtext_color{240, 30, 60, 200};
    imgtext_text_job jobs[2];
    for (imgtext_text_job &j : jobs)
        imgtext_text_job_init(&j), j.text = "Stream\nrows", j.length = 11, j.style = &style;
    jobs[0].x = 3, jobs[0].y = static_cast<int>(knobs[0]) - 64;
    jobs[1].gravity = 1, jobs[1].position = IMGTEXT_BOTTOM_RIGHT, jobs[1].margin = knobs[0] & 7;

    imgtext_load_options load;
    imgtext_load_options_init(&load);
    load.threads = 1 + (knobs[1] >> 7);
    load.allow_damaged = knobs[1] >> 6 & 1;
    imgtext_save_options save;
    imgtext_save_options_init(&save);
    save.format = IMGTEXT_FORMAT_JPEG;
    save.jpeg_quality = 1 + knobs[1] % 100;

    const result expected = one_by_one(data, size, jobs, 2, load, save);
    void *out = nullptr;
    size_t out_size = 0;
    const imgtext_status status = imgtext_draw_memory(data, size, jobs, 2, &load, &save, &out, &out_size);
    const bool same = status == expected.status &&
                      (status == IMGTEXT_OK ? expected.bytes == std::string(static_cast<const char *>(out), out_size)
                                            : expected.message == imgtext_error_message());
    imgtext_free(out);
    if (!same) __builtin_trap();
    return 0;
}
