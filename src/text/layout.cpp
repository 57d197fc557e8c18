// Cutting text into lines and measuring each line: code points from bytes
// or UTF-8, line breaks, and wrapping to a width.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "font/font.h"
#include "frame/errors.h"
#include "text/layout.h"

namespace imgtext {

int ceil_to_int(float value) {
    const float c = std::ceil(value);
    if (c >= 2147483648.0f) return INT32_MAX;
    if (c <= -2147483648.0f) return INT32_MIN;
    return static_cast<int>(c);
}

namespace {

constexpr int k_replacement = 0xFFFD;


// UTF-8 with every malformed sequence (its longest valid-looking prefix, as
// Unicode recommends) read as one U+FFFD.
int next_utf8(const char *&p, const char *end) {
    const auto lead = static_cast<unsigned char>(*p++);
    if (lead < 0x80) return lead;
    int need = 0, cp = 0;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2, cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3, cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return k_replacement;
    }
    for (int i = 0; i < need; ++i, low = 0x80, high = 0xBF) {
        if (p == end) return k_replacement;
        const auto b = static_cast<unsigned char>(*p);
        if (b < low || b > high) return k_replacement;
        cp = (cp << 6) | (b & 0x3F);
        ++p;
    }
    return cp;
}

// The end of the line starting at p and where the next one starts.
struct line_break {
    const char *line_end, *next;
};

line_break find_break(const char *p, const char *end, text_encoding encoding) {
    const auto *newline = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (!newline) return {end, end};
    const char *line_end = newline;
    if (encoding == text_encoding::utf8 && line_end > p && line_end[-1] == '\r') --line_end;
    return {line_end, newline + 1};
}

size_t count_lines(const char *p, const char *end) {
    size_t count = 1;
    for (; (p = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) != nullptr; ++p)
        ++count;
    return count;
}

// The lines of a layout, grown as wrapping finds them. Memory failures are
// remembered and reported once.
struct line_list {
    text_line *lines = nullptr;
    size_t count = 0, capacity = 0;
    bool failed = false;
    void add(const char *text, size_t len) {
        if (failed) return;
        if (count == capacity) {
            const size_t grown = capacity ? capacity * 2 : 16;
            auto *p = static_cast<text_line *>(std::realloc(lines, grown * sizeof(text_line)));
            if (!p) {
                failed = true;
                return;
            }
            lines = p, capacity = grown;
        }
        lines[count++] = text_line{text, len, 0};
    }
};

bool is_space(int codepoint) { return codepoint == ' '; }

// Greedy wrapping of one paragraph: a line ends at the last space before the
// text grows wider than max_width, or inside a word only when that word alone
// is wider; spaces where a line ends take no width and do not start the next.
void wrap_paragraph(const text_face &face, text_encoding encoding, const char *start, const char *end,
                    int max_width, line_list &out) {
    for (;;) {
        const char *word_end = nullptr;    // end of the last word so far
        const char *break_end = nullptr;   // where the line may end (before spaces)
        const char *break_next = nullptr;  // where the next line would start (after them)
        bool in_spaces = false, wrapped = false;
        float pen = 0.0f;
        glyph_ref previous{};
        for (const char *p = start; p < end;) {
            const char *at = p;
            const int cp = next_codepoint(p, end, encoding);
            const glyph_ref g = glyph_of(face, cp);
            if (at != start) {
                const int kerning = previous.font == g.font ? glyph_kerning(*g.font, previous.glyph, g.glyph) : 0;
                pen = pen + static_cast<float>(kerning) * previous.scale;
            }
            pen = pen + static_cast<float>(glyph_advance(*g.font, g.glyph)) * g.scale;
            previous = g;
            if (is_space(cp)) {
                if (!in_spaces && word_end) break_end = word_end;
                in_spaces = true;
                break_next = p;
                continue;
            }
            in_spaces = false;
            if (ceil_to_int(pen) > max_width && at != start) {
                if (break_end) {
                    out.add(start, static_cast<size_t>(break_end - start));
                    start = break_next;
                } else {
                    out.add(start, static_cast<size_t>(at - start));
                    start = at;
                }
                wrapped = true;
                break;
            }
            word_end = p;
        }
        if (!wrapped) {
            out.add(start, static_cast<size_t>((word_end ? word_end : start) - start));
            return;
        }
    }
}

int measure_line(const text_face &face, text_encoding encoding, const text_line &line, int *missing) {
    if (line.len == 0) return 0;
    const float sum = walk_line(face, encoding, line.text, line.len, 0.0f,
                                [&](const glyph_ref &g, float) { *missing += g.missing; });
    return ceil_to_int(sum);
}

}  // namespace

int next_codepoint(const char *&p, const char *end, text_encoding encoding) {
    if (encoding == text_encoding::bytes) return static_cast<signed char>(*p++);
    return next_utf8(p, end);
}

glyph_ref glyph_of(const text_face &face, int codepoint) {
    const int glyph = glyph_for_codepoint(*face.font, codepoint);
    if (glyph != 0 || !face.fallback) return {face.font, glyph, face.scale, glyph == 0};
    const int fallback = glyph_for_codepoint(*face.fallback, codepoint);
    if (fallback != 0) return {face.fallback, fallback, face.fallback_scale, false};
    return {face.font, 0, face.scale, true};
}

imgtext_status layout_text(const layout_request &request, text_layout *layout) {
    const char *text = request.text, *end = request.text + request.size;
    line_list list;
    if (request.max_width > 0) {
        for (const char *p = text;;) {
            const line_break b = find_break(p, end, request.encoding);
            wrap_paragraph(request.face, request.encoding, p, b.line_end, request.max_width, list);
            if (b.next == end && b.line_end == end) break;
            p = b.next;
        }
    } else {
        // One record per line in a single allocation, lines exactly as the
        // breaks cut them.
        const size_t count = count_lines(text, end);
        list.lines = static_cast<text_line *>(std::calloc(count, sizeof(text_line)));
        list.failed = !list.lines;
        for (const char *p = text; list.lines && list.count < count;) {
            const line_break b = find_break(p, end, request.encoding);
            list.lines[list.count++] = text_line{p, static_cast<size_t>(b.line_end - p), 0};
            p = b.next;
        }
    }
    if (list.failed) {
        std::free(list.lines);
        return set_error(IMGTEXT_ERROR_MEMORY, "out of memory allocating line layout");
    }

    int widest = 0, missing = 0;
    for (size_t i = 0; i < list.count; ++i) {
        list.lines[i].width = measure_line(request.face, request.encoding, list.lines[i], &missing);
        if (list.lines[i].width > widest) widest = list.lines[i].width;
    }
    *layout = text_layout{};
    layout->lines = list.lines;
    layout->line_count = list.count;
    layout->box_width = widest > 0 ? widest : 1;
    layout->box_height = static_cast<int64_t>(request.face.line_height) * static_cast<int64_t>(list.count);
    layout->line_height = request.face.line_height;
    layout->ascent = request.face.ascent;
    layout->descent = request.face.descent;
    layout->missing_glyphs = missing;
    layout->face = request.face;
    layout->encoding = request.encoding;
    return IMGTEXT_OK;
}

void free_text_layout(text_layout *layout) {
    std::free(layout->lines);
    layout->lines = nullptr;
    layout->line_count = 0;
}

text_face make_text_face(const font_face &font, const font_face *fallback, float size, bool em_size,
                         float line_spacing) {
    const float scale = font_scale(font, size, em_size);
    const vertical_metrics m = font_vertical_metrics(font);
    text_face face{&font, fallback, scale, fallback ? font_scale(*fallback, size, em_size) : 0.0f, 0, 0, 0};
    int line_height = ceil_to_int(static_cast<float>(m.ascent - m.descent + m.line_gap) * scale);
    if (line_height <= 0) line_height = ceil_to_int(size);
    face.line_height = line_spacing == 1.0f
                           ? line_height
                           : std::max(1, ceil_to_int(static_cast<float>(line_height) * line_spacing));
    face.ascent = ceil_to_int(static_cast<float>(m.ascent) * scale);
    face.descent = ceil_to_int(static_cast<float>(-m.descent) * scale);
    return face;
}

}  // namespace imgtext
