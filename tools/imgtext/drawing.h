// One picture's work for the imgtext tool: get pixels (a canvas, a file or
// standard input), draw the text through the library's drawing API, write
// the result. Shared, read-only settings let any number of workers run jobs
// at once.
#ifndef IMGTEXT_TOOL_DRAWING_H
#define IMGTEXT_TOOL_DRAWING_H

#include <string>
#include <vector>

#include "options.h"
#include "quendal_imgtext.h"

// What became of one picture.
struct job_result {
    enum kind { written, failed, abandoned } what = failed;
    std::string message;   // failed: why
    bool damaged = false;  // written from data that ended early (--allow-damaged)
};

// The text's style and font, set up once for every job of a run.
class text_drawing {
public:
    explicit text_drawing(const options &o) : o_(o) {}
    ~text_drawing() {
        for (imgtext_font *font : fonts_) imgtext_font_free(font);
    }
    text_drawing(const text_drawing &) = delete;
    text_drawing &operator=(const text_drawing &) = delete;

    // Loads the fonts and fills in the style; false with a message (naming
    // the font, or the style value the library refuses) if they cannot be
    // used.
    bool prepare(std::string &message);

    // The characters the font has no glyph for, as "Ł (U+0141), ..." (empty
    // when it has them all), or a message if the text cannot be laid out.
    bool missing_characters(std::string &names, std::string &message) const;

    // Draws onto one picture and writes it. input: "" for create's canvas,
    // "-" for standard_input's bytes; output: "-" for standard output.
    // format: IMGTEXT_FORMAT_AUTO keeps the input's format (PNG for a
    // canvas). Thread-safe. Once a stop signal has come, the picture is
    // abandoned before its save begins.
    job_result run(const std::string &input, const std::string &output, int format,
                   const std::string *standard_input) const;

    // Threads for decoding one picture (the load option `threads`): 2 lets
    // a large JPEG use a core the run would leave idle. Set before any run.
    void set_decode_threads(int threads) { decode_threads_ = threads; }

private:
    imgtext_text_job job(const imgtext_text_style &style) const;
    bool draw(imgtext_image *image, const imgtext_text_style &style) const;
    bool run_streamed(const std::string &input, const std::string &output, int format, const imgtext_load_options &load,
                      job_result &result) const;

    const options &o_;
    std::vector<imgtext_font *> fonts_;            // loaded, in the chain's order
    std::vector<const imgtext_font *> fallbacks_;  // the chain after its first font
    imgtext_text_style style_{};
    int decode_threads_ = 1;
};

#endif
