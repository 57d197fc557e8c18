// The drawing API's load-draw-save in one call, which can stream a JPEG
// (drawing/streamed.h). The whole-picture path is the exported calls
// themselves, in turn, so the two give the same bytes and messages by
// construction; the streamed path only ever replaces them when it can end
// exactly as they would.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "api/export_guard.h"
#include "api/options.h"
#include "drawing/streamed.h"
#include "files/file_output.h"
#include "frame/errors.h"
#include "image/image.h"
#include "image/image_io.h"
#include "image/metadata.h"
#include "quendal_imgtext.h"

using namespace imgtext;

namespace {

// The fields of the first version of the job struct: all of today's.
constexpr size_t k_job_first_size = sizeof(imgtext_text_job);

bool known_position(int position) { return position >= IMGTEXT_TOP_LEFT && position <= IMGTEXT_BOTTOM_RIGHT; }

// A size_percent the call can take: 0 (none) or more; NaN fails both tests.
bool valid_share(float percent) { return percent >= 0.0f; }

// A job's style with its size made a share of the picture's height, as the
// tool's --size N% has always computed it. False if the caller's style
// cannot be read (the draw then reports it).
bool style_at_height(const imgtext_text_job &job, int height, imgtext_text_style *style) {
    if (!read_options(job.style, imgtext_text_style_init, style)) return false;
    const float size = static_cast<float>(height) * job.size_percent / 100.0f;
    style->size = std::min(size, static_cast<float>(QUENDAL_IMGTEXT_MAX_SIZE));
    return true;
}

// The jobs as the engine's requests, for streaming; false if any cannot be
// made (the whole path then reports why, in its order).
struct prepared_jobs {
    text_request *requests = nullptr;
    streamed_text *texts = nullptr;
    size_t count = 0;
    prepared_jobs() = default;
    prepared_jobs(const prepared_jobs &) = delete;
    prepared_jobs &operator=(const prepared_jobs &) = delete;
    ~prepared_jobs() {
        delete[] requests;
        std::free(texts);
    }
    const imgtext_text_job *jobs_ = nullptr;
    bool prepare(const imgtext_text_job *jobs, size_t n) {
        jobs_ = jobs;
        requests = new (std::nothrow) text_request[n ? n : 1];
        texts = static_cast<streamed_text *>(std::calloc(n ? n : 1, sizeof(streamed_text)));
        if (!requests || !texts) return false;
        for (size_t i = 0; i < n; ++i) {
            const imgtext_text_job &job = jobs[i];
            const int position = int_bits(job.position);
            if (!known_position(position) || !valid_share(job.size_percent)) return false;
            // A share of the height waits for the picture's header.
            if (job.size_percent == 0.0f && request_from(job.text, job.length, job.style, &requests[i]) != IMGTEXT_OK)
                return false;
            placement where;
            where.by_gravity = job.gravity != 0;
            where.position = static_cast<imgtext_position>(position);
            where.x = job.x, where.y = job.y, where.margin = job.margin;
            texts[i] = streamed_text{&requests[i], where};
        }
        count = n;
        return true;
    }
    // The requests whose size is a share of the picture's height.
    static bool at_height(void *context, int, int height) {
        auto *p = static_cast<prepared_jobs *>(context);
        for (size_t i = 0; i < p->count; ++i) {
            const imgtext_text_job &job = p->jobs_[i];
            if (job.size_percent == 0.0f) continue;
            imgtext_text_style style;
            if (!style_at_height(job, height, &style)) return false;
            if (request_from(job.text, job.length, &style, &p->requests[i]) != IMGTEXT_OK) return false;
        }
        return true;
    }
};

imgtext_status check_jobs(const imgtext_text_job *jobs, size_t count) {
    if (count && !jobs) return bad_argument("jobs is NULL");
    for (size_t i = 0; i < count; ++i)
        if (jobs[i].struct_size < k_job_first_size) return bad_argument("text job size");
    return IMGTEXT_OK;
}

// How the output is encoded once the input's metadata is known: as
// imgtext_image_save would encode the loaded JPEG.
struct save_choice {
    const imgtext_save_options *options;
    const char *path;  // null: to memory
    bool give_reason = true;
    static bool choose(void *context, const image_metadata *metadata, encode_settings *settings) {
        auto *c = static_cast<save_choice *>(context);
        imgtext_image loaded{rgba_image{0, 0, nullptr}, false, FMT_JPG, const_cast<image_metadata *>(metadata)};
        if (encode_settings_from(&loaded, c->options, c->path, settings) != IMGTEXT_OK) return false;
        c->give_reason = settings->give_reason;
        return true;
    }
};

// What one call owns until it returns.
struct call_state {
    rgba_image pixels{0, 0, nullptr};
    image_metadata *metadata = nullptr;
    bool streamed = false;
    call_state() = default;
    call_state(const call_state &) = delete;
    call_state &operator=(const call_state &) = delete;
    ~call_state() {
        std::free(pixels.pixels);
        free_metadata(metadata);
    }
};

// The rest of the whole path, on the loaded picture: each job drawn by
// its export, then save (or encode) by its own.
template <typename Save>
imgtext_status draw_and_save(call_state &call, int format, int damage, const imgtext_text_job *jobs, size_t count,
                             Save save) {
    imgtext_image image{call.pixels, true, format, call.metadata};
    image.damage = damage;
    imgtext_status status = IMGTEXT_OK;
    for (size_t i = 0; i < count && status == IMGTEXT_OK; ++i) {
        const imgtext_text_job &job = jobs[i];
        const int bits = int_bits(job.position);
        if (!known_position(bits)) return bad_argument("unknown position");  // as the draw itself would say
        const auto position = static_cast<imgtext_position>(bits);
        if (!valid_share(job.size_percent)) return bad_argument("size_percent is negative or not a number");
        imgtext_text_style sized;
        const imgtext_text_style *style = job.style;
        if (job.size_percent > 0.0f && style_at_height(job, image.view.height, &sized)) style = &sized;
        status = job.gravity
                     ? imgtext_draw_text_gravity(&image, job.text, job.length, position, job.margin, style, nullptr)
                     : imgtext_draw_text(&image, job.text, job.length, job.x, job.y, position, style, nullptr);
    }
    if (status == IMGTEXT_OK) status = save(image);
    return status;
}

// Loads (streaming where it can) with `load` (read(settings, texts, n,
// choice, state, &format)), then finishes on the whole picture if it did
// not stream. finish_streamed(state) writes out a streamed result.
template <typename Load, typename FinishStreamed, typename Save>
imgtext_status run(const imgtext_text_job *jobs, size_t count, const imgtext_load_options *load_options,
                   save_choice &choice, Load load, FinishStreamed finish_streamed, Save save) {
    imgtext_status status = check_jobs(jobs, count);
    if (status != IMGTEXT_OK) return status;
    load_settings settings;
    status = load_settings_from(load_options, &settings);
    if (status != IMGTEXT_OK) return status;
    call_state call;
    int damage = IMGTEXT_DAMAGE_NONE, format = FMT_AUTO;
    settings.metadata = &call.metadata;
    settings.damage = &damage;
    prepared_jobs prepared;
    const bool can_stream = prepared.prepare(jobs, count);
    const encoding_choice encoding{save_choice::choose, &choice};
    status = load(settings, can_stream ? prepared.texts : nullptr, can_stream ? prepared.count : 0, can_stream,
                  encoding, size_known{prepared_jobs::at_height, &prepared}, call, &format);
    if (status != IMGTEXT_OK) return status;
    if (call.streamed) return finish_streamed(call);
    return draw_and_save(call, format, damage, jobs, count, save);
}

}  // namespace

extern "C" {

void imgtext_text_job_init(imgtext_text_job *job) {
    api_void([&] {
        if (!job) return;
        *job = imgtext_text_job{};
        job->struct_size = sizeof *job;
        job->position = IMGTEXT_TOP_LEFT;
    });
}

imgtext_status imgtext_draw_file(const char *input_path, const char *output_path, const imgtext_text_job *jobs,
                                 size_t count, const imgtext_load_options *load, const imgtext_save_options *save) {
    return api_call([&] {
        if (!input_path || !output_path) return bad_argument("input or output path is NULL");
        save_choice choice{save, output_path};
        file_output file(output_path, path_encoding::utf8);
        return run(
            jobs, count, load, choice,
            [&](const load_settings &settings, const streamed_text *texts, size_t n, bool can_stream,
                const encoding_choice &encoding, size_known sized, call_state &call, int *format) {
                if (!can_stream || !file.can_take_back()) {
                    return load_image_file(input_path, path_encoding::utf8, settings, FMT_AUTO, &call.pixels, format);
                }
                const imgtext_status status = load_file_draw_and_encode(
                    input_path, path_encoding::utf8, settings, texts, n, encoding, file_output::write_to, &file,
                    FMT_AUTO, &call.pixels, format, &call.streamed, sized);
                if (!call.streamed) file.abandon();
                return status;
            },
            [&](call_state &) { return commit_output(output_path, file, choice.give_reason); },
            [&](const imgtext_image &image) { return imgtext_image_save(&image, output_path, save); });
    });
}

imgtext_status imgtext_draw_memory(const void *data, size_t size, const imgtext_text_job *jobs, size_t count,
                                   const imgtext_load_options *load, const imgtext_save_options *save, void **out,
                                   size_t *out_size) {
    return api_call([&] {
        if (!out || !out_size) return bad_argument("out or out_size is NULL");
        *out = nullptr;
        *out_size = 0;
        if (!data || size == 0) return bad_argument("no data");
        save_choice choice{save, nullptr};
        memory_output encoded;
        const auto *bytes = static_cast<const unsigned char *>(data);
        return run(
            jobs, count, load, choice,
            [&](const load_settings &settings, const streamed_text *texts, size_t n, bool can_stream,
                const encoding_choice &encoding, size_known sized, call_state &call, int *format) {
                if (!can_stream) return decode_image(bytes, size, nullptr, settings, FMT_AUTO, &call.pixels, format);
                return load_draw_and_encode(bytes, size, nullptr, settings, texts, n, encoding, memory_output::write,
                                            &encoded, FMT_AUTO, &call.pixels, format, &call.streamed, sized);
            },
            [&](call_state &) {
                if (encoded.failed) return set_error(IMGTEXT_ERROR_MEMORY, "out of memory encoding image");
                *out = encoded.data, *out_size = encoded.size;
                encoded.data = nullptr;
                return IMGTEXT_OK;
            },
            [&](const imgtext_image &image) { return imgtext_image_encode(&image, save, out, out_size); });
    });
}

}  // extern "C"
