// Drawing on a JPEG as it streams: the rows above and below the text pass
// from the decoder to the encoder through a band of 16 rows; the rows the
// text may reach gather in a window, are drawn on once the last of them is
// decoded, and are encoded then. Anything that would make the result differ
// from the whole-picture path (a drawing that reaches beyond the window, a
// failed step, a file the decoder hands back) sends the call down that
// path instead, so the bytes are the same whatever the input.
#include "drawing/streamed.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "codecs/jpeg_encoder.h"
#include "drawing/effects.h"
#include "drawing/fit.h"
#include "files/file_input.h"
#include "image/metadata.h"

namespace imgtext {

namespace {

constexpr int k_band = 16;           // rows per band: the decoder's hand-over, two or one of the encoder's MCU rows
constexpr int k_ring = 3;            // bands waiting for an encoder on a thread of its own
constexpr int k_queue = k_ring + 2;  // its jobs: a band's at most, the window's, and one being encoded

// The rows a text may reach at its place: its box with padding, glyphs
// beyond their lines by up to a pixel size, and the outline and shadow.
// (A guess that is too small costs only the whole path: the window notes
// any row the drawing reaches outside it.)
void reach_of(const text_request &request, const text_layout &layout, float size, box_origin at, int64_t *top,
              int64_t *bottom) {
    int64_t above = (request.box ? std::max<int64_t>(request.padding, 0) : 0) + 2;
    above += static_cast<int64_t>(std::ceil(std::min(size, 1e6f)));
    const text_effects &e = request.effects;
    int64_t below = above;
    if (e.stroke_width > 0) {
        const int64_t stroke = static_cast<int64_t>(std::ceil(e.stroke_width)) + 1;
        above += stroke, below += stroke;
    }
    if (e.shadow) {
        const int64_t blur = e.shadow_blur > 0 ? shadow_blur_reach(e.shadow_blur) + 1 : 0;
        above += blur + std::max<int64_t>(-e.shadow_dy, 0);
        below += blur + std::max<int64_t>(e.shadow_dy, 0);
    }
    *top = at.y - above;
    *bottom = at.y + layout.box_height + below;
}

class streamed_drawing final : public row_consumer {
public:
    streamed_drawing(const streamed_text *texts, size_t count, const encoding_choice &encoding, write_fn write,
                     void *context, size_known prepare, int threads)
        : texts_(texts),
          count_(count),
          encoding_(encoding),
          write_(write),
          context_(context),
          prepare_(prepare),
          threads_(threads) {}
    ~streamed_drawing() {
        stop_encoding();
        delete encoder_;
        delete with_metadata_;
        delete[] layouts_;
        std::free(band_);
        std::free(window_rows_);
        std::free(spare_);
        std::free(origins_);
    }
    streamed_drawing(const streamed_drawing &) = delete;
    streamed_drawing &operator=(const streamed_drawing &) = delete;

    bool begin(int width, int height, const image_metadata *metadata) override;
    unsigned char *row(int y) override {
        if (y >= top_ && y < bottom_) return window_rows_ + static_cast<size_t>(y - top_) * row_bytes_;
        const int slot = y / k_band % slots_;
        if (y % k_band == 0) wait_for_slot(slot);
        return band_ + (static_cast<size_t>(slot) * k_band + static_cast<size_t>(y % k_band)) * row_bytes_;
    }
    void rows_done(int end) override;
    bool finished() override;
    void cancel() override {
        failed_ = true;
        stop_encoding();  // the encoder's thread drops what is queued
    }

private:
    bool lay_out(int width, int height);
    bool start_encoder(int width, int height, const image_metadata *metadata);
    void encode_rows(const unsigned char *rows, int first, int end);
    void draw_window();

    // The encoder's work, in order: done here, or queued for its thread.
    struct encode_job {
        const unsigned char *rows;
        int first, end;
    };
    void start_encoding_thread();
    void encode(encode_job job, int slot);
    void encode_queued();
    void wait_for_slot(int slot);
    void stop_encoding();

    const streamed_text *texts_;
    size_t count_;
    encoding_choice encoding_;
    write_fn write_;
    void *context_;
    size_known prepare_;
    int threads_;
    owned_layout *layouts_ = nullptr;
    box_origin *origins_ = nullptr;
    int width_ = 0, height_ = 0;
    size_t row_bytes_ = 0;
    int top_ = 0, bottom_ = 0;  // the window's rows, whole bands (the last may end at the picture's bottom)
    unsigned char *band_ = nullptr, *window_rows_ = nullptr, *spare_ = nullptr;
    int done_ = 0;
    bool failed_ = false;
    metadata_writer *with_metadata_ = nullptr;
    jpeg_row_encoder *encoder_ = nullptr;

    // With threads to spare, the encoder has one of its own and `slots_`
    // bands between it and the decoder. The queue holds at most one job per
    // band and the window's.
    int slots_ = 1;
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable changed_;
    encode_job queue_[k_queue] = {};
    int queued_ = 0, taken_ = 0, encoded_ = 0;  // jobs so far
    int slot_job_[k_ring] = {-1, -1, -1};       // the job that last used each band
    bool stopping_ = false, dropped_ = false;   // dropped_: failed_, as the encoder's thread sees it
};

// A thread's worth of encoding is about as much as decoding: where the
// decoder has a second thread, the encoder gets a third, a few bands behind.
void streamed_drawing::start_encoding_thread() {
    if (threads_ < 2) return;
    try {
        worker_ = std::thread([this] { encode_queued(); });
        slots_ = k_ring;
    } catch (...) {  // no thread to be had: the decoder's thread encodes
    }
}

void streamed_drawing::encode(encode_job job, int slot) {
    if (!worker_.joinable()) {
        encode_rows(job.rows, job.first, job.end);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (slot >= 0) slot_job_[slot] = queued_;
        queue_[queued_ % k_queue] = job;
        ++queued_;
    }
    changed_.notify_all();
}

void streamed_drawing::encode_queued() {
    for (;;) {
        encode_job job{};
        bool drop = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return queued_ > taken_ || stopping_; });
            if (queued_ == taken_) return;  // stopping, and nothing left
            job = queue_[taken_ % k_queue];
            ++taken_;
            drop = dropped_;
        }
        if (!drop) encode_rows(job.rows, job.first, job.end);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++encoded_;
        }
        changed_.notify_all();
    }
}

// A band is about to be reused: its last rows must be encoded first.
void streamed_drawing::wait_for_slot(int slot) {
    if (!worker_.joinable()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return encoded_ > slot_job_[slot]; });
}

void streamed_drawing::stop_encoding() {
    if (!worker_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        dropped_ = dropped_ || failed_;
    }
    changed_.notify_all();
    worker_.join();
}

bool streamed_drawing::lay_out(int width, int height) {
    layouts_ = new (std::nothrow) owned_layout[count_ ? count_ : 1];
    origins_ = static_cast<box_origin *>(std::calloc(count_ ? count_ : 1, sizeof(box_origin)));
    if (!layouts_ || !origins_) return false;
    int64_t top = INT64_MAX, bottom = INT64_MIN;
    for (size_t i = 0; i < count_; ++i) {
        const text_request &request = *texts_[i].request;
        // Turned and tiled text reaches rows all over the picture.
        if (request.rotation != 0.0f || request.tile.on) return false;
        float size = 0;
        if (lay_out_request(request, &layouts_[i].layout, &size) != IMGTEXT_OK) return false;
        const text_layout &layout = layouts_[i].layout;
        origins_[i] = place_box(texts_[i].where, width, height, layout.box_width, layout.box_height);
        int64_t t = 0, b = 0;
        reach_of(request, layout, size, origins_[i], &t, &b);
        top = std::min(top, t), bottom = std::max(bottom, b);
    }
    top = std::max<int64_t>(top, 0), bottom = std::min<int64_t>(bottom, height);
    if (top >= bottom) return true;  // nothing on the picture: no window
    top_ = static_cast<int>(top / k_band * k_band);
    bottom_ = static_cast<int>(std::min<int64_t>((bottom + k_band - 1) / k_band * k_band, height));
    return true;
}

bool streamed_drawing::start_encoder(int width, int height, const image_metadata *metadata) {
    encode_settings settings;
    if (!encoding_.choose(encoding_.context, metadata, &settings) || settings.format != FMT_JPG) return false;
    if (!writer_can_encode(FMT_JPG, width, height)) return false;
    write_fn write = write_;
    void *context = context_;
    if (settings.metadata) {
        with_metadata_ = new (std::nothrow) metadata_writer(write, context);
        if (!with_metadata_ || !with_metadata_->prepare(*settings.metadata, FMT_JPG, settings.keep_exif)) return false;
        if (with_metadata_->adds_anything()) {
            write = metadata_writer::write;
            context = with_metadata_;
        }
    }
    encoder_ = new (std::nothrow) jpeg_row_encoder(width, height, settings.jpeg_quality, write, context);
    return encoder_ && encoder_->ready();
}

bool streamed_drawing::begin(int width, int height, const image_metadata *metadata) {
    width_ = width, height_ = height;
    row_bytes_ = static_cast<size_t>(width) * 4;
    if (prepare_.prepare && !prepare_.prepare(prepare_.context, width, height)) return false;
    if (!start_encoder(width, height, metadata) || !lay_out(width, height)) return false;
    start_encoding_thread();
    band_ = static_cast<unsigned char *>(std::malloc(row_bytes_ * k_band * static_cast<size_t>(slots_)));
    spare_ = static_cast<unsigned char *>(std::malloc(row_bytes_));
    if (bottom_ > top_) {
        window_rows_ = static_cast<unsigned char *>(std::malloc(row_bytes_ * static_cast<size_t>(bottom_ - top_)));
    }
    return band_ && spare_ && (bottom_ == top_ || window_rows_);
}

// Rows [first, end) of the picture, held from `rows` on, to the encoder in
// its MCU rows (first is a multiple of 16, end too unless it is the bottom).
void streamed_drawing::encode_rows(const unsigned char *rows, int first, int end) {
    const int mcu = encoder_->mcu_rows();
    for (int y = first; y < end; y += mcu)
        encoder_->add(rows + static_cast<size_t>(y - first) * row_bytes_, row_bytes_);
}

// Every row of the window is decoded: the texts are drawn as on the whole
// picture, in order.
void streamed_drawing::draw_window() {
    row_window held;
    held.first = top_, held.count = bottom_ - top_, held.spare = spare_;
    rgba_image view{width_, height_, window_rows_};
    view.window = &held;
    for (size_t i = 0; i < count_ && !failed_; ++i) {
        if (draw_laid_out_text(view, *texts_[i].request, layouts_[i].layout, origins_[i]) != IMGTEXT_OK) failed_ = true;
    }
    if (held.strayed) failed_ = true;
}

void streamed_drawing::rows_done(int end) {
    if (failed_) return;  // the result is to be dropped: spare the encoder
    const int first = done_;
    done_ = end;
    if (end <= top_ || first >= bottom_) {
        const int slot = first / k_band % slots_;
        encode({band_ + static_cast<size_t>(slot) * k_band * row_bytes_, first, end}, slot);
    } else if (end == bottom_) {
        draw_window();
        if (!failed_) encode({window_rows_, top_, bottom_}, -1);
    }
    if (failed_ && worker_.joinable()) {
        std::lock_guard<std::mutex> lock(mutex_);
        dropped_ = true;
    }
}

bool streamed_drawing::finished() {
    // Texts wholly off the picture are still drawn, on no rows at all: the
    // drawing may fail (a glyph budget, memory) as it would on the picture.
    if (top_ == bottom_ && !failed_) draw_window();
    stop_encoding();  // after every queued band is encoded
    if (failed_ || done_ != height_) return false;
    encoder_->finish();
    if (with_metadata_) with_metadata_->finish();
    return true;
}

}  // namespace

imgtext_status load_draw_and_encode(const unsigned char *input, size_t input_size, const char *path,
                                    load_settings settings, const streamed_text *texts, size_t count,
                                    const encoding_choice &encoding, write_fn write, void *context, int fallback_format,
                                    rgba_image *image, int *format, bool *streamed, size_known prepare) {
    streamed_drawing drawing(texts, count, encoding, write, context, prepare, settings.threads);
    settings.rows = &drawing;
    settings.streamed = streamed;
    return decode_image(input, input_size, path, settings, fallback_format, image, format);
}

imgtext_status load_file_draw_and_encode(const char *path, path_encoding encoding, const load_settings &settings,
                                         const streamed_text *texts, size_t count, const encoding_choice &choice,
                                         write_fn write, void *context, int fallback_format, rgba_image *image,
                                         int *format, bool *streamed, size_known prepare) {
    *streamed = false;
    unsigned char *file = nullptr;
    size_t file_size = 0;
    const imgtext_status read = read_whole_file(path, encoding, &file, &file_size, settings.max_input_bytes);
    if (read != IMGTEXT_OK) return read;
    const imgtext_status status = load_draw_and_encode(file, file_size, path, settings, texts, count, choice, write,
                                                       context, fallback_format, image, format, streamed, prepare);
    std::free(file);
    return status;
}

}  // namespace imgtext
