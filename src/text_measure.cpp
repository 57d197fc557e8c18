// Cutting text into lines at newline bytes and measuring each line.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "font.h"
#include "library_frame.h"
#include "quendal_imgtext.h"
#include "text.h"

namespace imgtext {

namespace {

// ceilf then int, saturating where a float beyond int's range would
// otherwise make the conversion undefined.
int ceil_to_int(float value) {
    const float c = std::ceil(value);
    if (c >= 2147483648.0f) return INT32_MAX;
    if (c <= -2147483648.0f) return INT32_MIN;
    return static_cast<int>(c);
}

size_t count_lines(const char *text) {
    size_t count = 1;
    for (const char *p = text; *p; ++p) count += (*p == '\n');
    return count;
}

float line_width_sum(const char *text, size_t len, float scale) {
    float sum = 0.0f;
    int glyph = glyph_for_byte(text[0]);
    for (size_t i = 0;; ++i) {
        sum = pen_after_advance(sum, glyph, scale);
        if (i + 1 == len) return sum;
        const int next = glyph_for_byte(text[i + 1]);
        sum = pen_after_kerning(sum, glyph, next, scale);
        glyph = next;
    }
}

}  // namespace

int measure_text_box(const char *text, int size, text_layout *layout) {
    if (!s_font_ready && !ensure_font_ready()) return 0;
    // Far beyond any real use, glyph boxes overflow the rasteriser's int
    // arithmetic; refusing keeps every size that can be drawn exact.
    if (size > QUENDAL_IMGTEXT_MAX_SIZE) {
        set_err("invalid size: pixel size must be <= %d (%d)", QUENDAL_IMGTEXT_MAX_SIZE, size);
        return 0;
    }

    const int px = effective_pixel_size(size);
    const float scale = font_scale(px);
    const vertical_metrics metrics = font_vertical_metrics();
    int line_height = ceil_to_int(static_cast<float>(metrics.ascent - metrics.descent + metrics.line_gap) * scale);
    if (line_height <= 0) line_height = px;

    const size_t line_count = count_lines(text);
    auto *lines = static_cast<text_line *>(std::calloc(line_count, sizeof(text_line)));
    if (!lines) {
        set_err("out of memory allocating line layout");
        return 0;
    }

    int widest = 0;
    const char *start = text;
    for (size_t i = 0; i < line_count; ++i) {
        const char *newline = std::strchr(start, '\n');
        const size_t len = newline ? static_cast<size_t>(newline - start) : std::strlen(start);
        lines[i].text = start;
        lines[i].len = len;
        if (len > 0) {
            lines[i].width = ceil_to_int(line_width_sum(start, len, scale));
            if (lines[i].width > widest) widest = lines[i].width;
        }
        start += len + 1;  // past the newline; unused after the last line
    }

    layout->lines = lines;
    layout->line_count = line_count;
    layout->box_width = widest > 0 ? widest : 1;
    layout->box_height = static_cast<int64_t>(line_height) * static_cast<int64_t>(line_count);
    layout->line_height = line_height;
    layout->ascent = ceil_to_int(static_cast<float>(metrics.ascent) * scale);
    return 1;
}

void free_text_layout(text_layout *layout) {
    std::free(layout->lines);
    layout->lines = nullptr;
    layout->line_count = 0;
}

}  // namespace imgtext
