// Laying text out: paragraphs at line breaks, each laid out simply or shaped
// (see layout.h), wrapped at Unicode's break opportunities when a width is
// given, and each line measured by the walk that draws it.
#include "text/layout.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "frame/errors.h"
#include "text/box_layout.h"
#include "text/line_breaking.h"
#include "text/shaped_layout.h"
#include "text/unicode/grapheme.h"
#include "text/unicode/line_break.h"

namespace imgtext {

int ceil_to_int(float value) {
    const float c = std::ceil(value);
    if (c >= 2147483648.0f) return INT32_MAX;
    if (c <= -2147483648.0f) return INT32_MIN;
    return static_cast<int>(c);
}

namespace {

// The end of the paragraph starting at p and where the next one starts. The
// seven calls end lines at LF only; UTF-8 text also at CR LF and at the
// separators that are not ASCII controls: NEL, LINE SEPARATOR and PARAGRAPH
// SEPARATOR (Unicode's mandatory breaks; the ASCII ones, CR alone, VT and
// FF, stay characters, as the seven calls draw them).
struct line_break {
    const char *line_end, *next;
};

line_break find_break(const char *p, const char *end, text_encoding encoding) {
    if (encoding == text_encoding::bytes) {
        const auto *newline = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        return newline ? line_break{newline, newline + 1} : line_break{end, end};
    }
    for (const char *q = p; q < end; ++q) {
        const auto c = static_cast<unsigned char>(*q);
        if (c == '\n') return {q > p && q[-1] == '\r' ? q - 1 : q, q + 1};
        if (c == 0xC2 && q + 1 < end && static_cast<unsigned char>(q[1]) == 0x85) return {q, q + 2};
        if (c == 0xE2 && q + 2 < end && static_cast<unsigned char>(q[1]) == 0x80 &&
            (static_cast<unsigned char>(q[2]) == 0xA8 || static_cast<unsigned char>(q[2]) == 0xA9)) {
            return {q, q + 3};
        }
    }
    return {end, end};
}

size_t count_lines(const char *p, const char *end) {
    size_t count = 1;
    for (; (p = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) != nullptr; ++p) ++count;
    return count;
}

// The lines of a layout, grown as paragraphs give them. Memory failures are
// remembered and reported once.
struct line_list {
    text_line *lines = nullptr;
    size_t count = 0, capacity = 0;
    bool failed = false;
    void add(const text_line &line) {
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
        lines[count++] = line;
    }
};

int measure_line(const text_face &face, text_encoding encoding, const text_line &line, int *missing) {
    if (line.len == 0) return 0;
    const float sum =
        walk_line(face, encoding, line.text, line.len, 0.0f, [&](const glyph_ref &g, float) { *missing += g.missing; });
    return ceil_to_int(sum);
}

// Whether a paragraph of UTF-8 needs shaping: it does unless its first
// font is the built-in one and draws every character of it (or none does),
// left to right, as the seven calls lay it out.
bool needs_shaping(const layout_request &request, const char *p, const char *end) {
    if (request.encoding == text_encoding::bytes || request.shaping.mode == layout_mode::simple) return false;
    if (request.shaping.mode == layout_mode::shaped || !is_builtin(request.face.fonts[0].font)) return true;
    if (request.shaping.direction == text_direction::rtl) return true;
    while (p < end) {
        const auto c = static_cast<unsigned char>(*p);
        if (c < 0x80) {  // ASCII: the built-in font has it all, left to right
            ++p;
            continue;
        }
        const int cp = next_codepoint(p, end, request.encoding);
        const glyph_ref g = glyph_of(request.face, cp);
        if ((!g.missing && g.font != request.face.fonts[0].font) || right_to_left_or_control(cp)) return true;
    }
    return false;
}

// A simple paragraph cut to the width at Unicode's break opportunities.
template <typename Add>
void wrap_simple(const layout_request &request, const char *start, const char *end, Add add) {
    paragraph_breaks p;
    std::vector<size_t> offsets;  // of each code point, and the end
    std::vector<glyph_ref> glyphs;
    for (const char *q = start; q < end;) {
        offsets.push_back(static_cast<size_t>(q - start));
        const int cp = next_codepoint(q, end, request.encoding);
        p.text.push_back(cp < 0 ? static_cast<char32_t>(k_replacement_character) : static_cast<char32_t>(cp));
        glyphs.push_back(glyph_of(request.face, cp));
    }
    offsets.push_back(static_cast<size_t>(end - start));
    find_breaks(p);
    if (request.wrap == wrap_mode::character) break_at_clusters(p);
    // The simple walk's steps: kerning from the glyph before (same font),
    // with the letter spacing before a cluster, then the advance.
    const float spacing = request.letter_spacing;
    const std::vector<line_cut> cuts = cut_lines(p, request.max_width, [&](size_t i, bool first, float x) {
        const glyph_ref &g = glyphs[i];
        if (!first) {
            const glyph_ref &before = glyphs[i - 1];
            const int kerning = before.font == g.font ? glyph_kerning(*g.font, before.glyph, g.glyph) : 0;
            float step = static_cast<float>(kerning) * before.scale;
            if (spacing != 0.0f && p.cluster[i]) step = step + spacing;
            x = x + step;
        }
        return x + static_cast<float>(glyph_advance(*g.font, g.glyph)) * g.scale;
    });
    for (const line_cut &cut : cuts) {
        add(text_line{start + offsets[cut.start], offsets[cut.end] - offsets[cut.start], 0, 0, 0});
    }
}

// Sets the widths and counts the missing glyphs of the simple lines.
void measure_simple_lines(const layout_request &request, line_list &list, int *missing) {
    for (size_t i = 0; i < list.count; ++i) {
        if (!list.lines[i].shaped)
            list.lines[i].width = measure_line(request.face, request.encoding, list.lines[i], missing);
    }
}

// The seven calls' lines: one record each in a single allocation, exactly
// as the line breaks cut them.
bool unwrapped_byte_lines(const layout_request &request, line_list &list) {
    const char *text = request.text, *end = request.text + request.size;
    const size_t count = count_lines(text, end);
    list.lines = static_cast<text_line *>(std::calloc(count, sizeof(text_line)));
    if (!list.lines) return false;
    list.capacity = count;
    for (const char *p = text; list.count < count;) {
        const line_break b = find_break(p, end, request.encoding);
        list.lines[list.count++] = text_line{p, static_cast<size_t>(b.line_end - p), 0, 0, 0};
        p = b.next;
    }
    return true;
}

}  // namespace

void find_breaks(paragraph_breaks &p) {
    const size_t n = p.text.size();
    std::unique_ptr<unicode::break_kind[]> breaks(new unicode::break_kind[n + 1]);
    std::unique_ptr<bool[]> clusters(new bool[n + 1]);
    unicode::line_breaks(p.text.data(), n, breaks.get());
    unicode::grapheme_boundaries(p.text.data(), n, clusters.get());
    p.opportunity.assign(n + 1, 0);
    p.cluster.assign(n + 1, 0);
    for (size_t i = 0; i <= n; ++i) {
        p.opportunity[i] = breaks[i] != unicode::break_kind::none;
        p.cluster[i] = clusters[i];
    }
}

glyph_ref glyph_of(const text_face &face, int codepoint) {
    for (int i = 0; i < face.font_count; ++i) {
        if (!face_draws(face, *face.fonts[i].font)) continue;
        const int glyph = glyph_for_codepoint(*face.fonts[i].font, codepoint);
        if (glyph != 0) return {face.fonts[i].font, glyph, face.fonts[i].scale, false};
    }
    return {face.fonts[0].font, 0, face.fonts[0].scale, true};
}

float line_start(const text_layout &layout, const text_line &line, int64_t x, line_align align) {
    if (align == line_align::start || align == line_align::justify)
        align = line.rtl ? line_align::right : line_align::left;
    if (align == line_align::end) align = line.rtl ? line_align::left : line_align::right;
    if (align == line_align::left || line.width >= layout.box_width) return static_cast<float>(x);
    const float spare = static_cast<float>(layout.box_width - line.width);
    return (align == line_align::centre ? spare * 0.5f : spare) + static_cast<float>(x);
}

imgtext_status layout_text(const layout_request &request, text_layout *layout) {
    const char *text = request.text, *end = request.text + request.size;
    line_list list;
    std::unique_ptr<stored_glyphs> stored;
    std::vector<size_t> first_glyph;      // each line's first stored glyph, once any line is shaped
    std::vector<uint8_t> paragraph_last;  // justified text: 1 for each paragraph's last line
    int missing = 0;
    if (request.max_width <= 0 && request.encoding == text_encoding::bytes) {
        list.failed = !unwrapped_byte_lines(request, list);
    } else {
        shaped_paragraphs shaped(request);
        std::vector<shaped_line> shaped_lines;
        // Spacing and justification move glyphs one by one: every line's
        // are stored.
        const bool store_all = request.store_all || request.letter_spacing != 0.0f || request.justify;
        if (store_all) stored = std::make_unique<stored_glyphs>();
        auto add = [&](text_line line) {
            if (stored) first_glyph.push_back(stored->glyphs.size());
            if (store_all) store_simple_line(request, line, stored->glyphs, &missing);
            list.add(line);
        };
        for (const char *p = text;;) {
            const line_break b = find_break(p, end, request.encoding);
            if (needs_shaping(request, p, b.line_end)) {
                if (!stored) {
                    stored = std::make_unique<stored_glyphs>();
                    first_glyph.assign(list.count, 0);  // the lines before have no glyphs stored
                }
                shaped_lines.clear();
                missing += shaped.lay_out(p, b.line_end, stored->glyphs, shaped_lines);
                for (const shaped_line &line : shaped_lines) {
                    first_glyph.push_back(line.first_glyph);
                    list.add(line.line);
                }
            } else if (request.max_width > 0 && b.line_end > p) {
                wrap_simple(request, p, b.line_end, add);
            } else {
                add(text_line{p, static_cast<size_t>(b.line_end - p), 0, 0, 0});
            }
            if (request.justify) {
                paragraph_last.resize(list.count, 0);
                if (list.count) paragraph_last[list.count - 1] = 1;
            }
            if (b.next == end && b.line_end == end) break;
            p = b.next;
        }
    }
    if (list.failed) {
        std::free(list.lines);
        return set_error(IMGTEXT_ERROR_MEMORY, "out of memory allocating line layout");
    }
    measure_simple_lines(request, list, &missing);
    if (stored) {
        first_glyph.push_back(stored->glyphs.size());
        stored->first = std::move(first_glyph);
    }

    int widest = 0;
    for (size_t i = 0; i < list.count; ++i) widest = std::max(widest, list.lines[i].width);
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
    layout->stored = stored.release();
    if (request.max_lines > 0 || request.justify) return finish_box_lines(request, paragraph_last, layout);
    return IMGTEXT_OK;
}

void free_text_layout(text_layout *layout) {
    std::free(layout->lines);
    delete layout->stored;
    layout->lines = nullptr;
    layout->stored = nullptr;
    layout->line_count = 0;
}

text_face make_text_face(const font_face *const *fonts, int font_count, float size, bool em_size, float line_spacing,
                         float line_height_px, float leading) {
    text_face face{};
    face.font_count = font_count;
    for (int i = 0; i < font_count; ++i) face.fonts[i] = face_font{fonts[i], font_scale(*fonts[i], size, em_size)};
    const float scale = face.fonts[0].scale;
    const vertical_metrics m = font_vertical_metrics(*fonts[0]);
    int line_height = ceil_to_int(static_cast<float>(m.ascent - m.descent + m.line_gap) * scale);
    if (line_height <= 0) line_height = ceil_to_int(size);
    face.line_height =
        line_spacing == 1.0f ? line_height : std::max(1, ceil_to_int(static_cast<float>(line_height) * line_spacing));
    if (line_height_px > 0.0f) face.line_height = std::max(1, ceil_to_int(line_height_px));
    if (leading != 0.0f) face.line_height = std::max(1, ceil_to_int(static_cast<float>(face.line_height) + leading));
    face.ascent = ceil_to_int(static_cast<float>(m.ascent) * scale);
    face.descent = ceil_to_int(static_cast<float>(-m.descent) * scale);
    return face;
}

}  // namespace imgtext
