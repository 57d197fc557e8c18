// Text made to fit a box (see box_layout.h): spacing for simple lines, the
// ellipsis line, and justification, all over stored glyphs.
#include "text/box_layout.h"

#include <algorithm>
#include <memory>
#include <string>

#include "frame/errors.h"
#include "text/unicode/grapheme.h"

namespace imgtext {

namespace {

struct decoded_line {
    std::vector<char32_t> cps;
    std::vector<size_t> offset;       // byte offset of each code point, then the length
    std::unique_ptr<bool[]> cluster;  // cps.size() + 1: a grapheme cluster starts at i
};

decoded_line decode_line(const char *text, size_t len, text_encoding encoding) {
    decoded_line d;
    for (const char *q = text, *end = text + len; q < end;) {
        d.offset.push_back(static_cast<size_t>(q - text));
        const int cp = next_codepoint(q, end, encoding);
        d.cps.push_back(cp < 0 ? static_cast<char32_t>(k_replacement_character) : static_cast<char32_t>(cp));
    }
    d.offset.push_back(len);
    d.cluster.reset(new bool[d.cps.size() + 1]);
    unicode::grapheme_boundaries(d.cps.data(), d.cps.size(), d.cluster.get());
    return d;
}

uint16_t font_index(const text_face &face, const font_face *font) {
    for (int i = 0; i < face.font_count; ++i) {
        if (face.fonts[i].font == font) return static_cast<uint16_t>(i);
    }
    return 0;
}

float line_pen(const text_face &face, const stored_glyphs &stored, size_t line) {
    const size_t first = stored.first[line];
    return walk_stored_line(face, stored.glyphs.data() + first, stored.first[line + 1] - first, 0.0f,
                            [](const glyph_ref &, float, float) {});
}

// A prefix of the last line's text, its spaces trimmed, then the ellipsis.
std::string ellipsis_text(const text_line &line, size_t bytes, const char *ellipsis) {
    while (bytes > 0 && line.text[bytes - 1] == ' ') --bytes;
    return std::string(line.text, bytes) + ellipsis;
}

struct owned {
    text_layout layout{};
    ~owned() { free_text_layout(&layout); }
};

// Ends the layout after `keep` lines, the last ending in an ellipsis after
// as many of its clusters as fit the width with it (none, when even the
// ellipsis alone is wider). The prefixes are laid out afresh, from one
// cluster doubling up to the first that is too wide and then halving
// between, so the cost follows what is kept, not how long the line was.
imgtext_status cut_with_ellipsis(const layout_request &request, size_t keep, text_layout *layout) {
    text_line &last = layout->lines[keep - 1];
    const decoded_line d = decode_line(last.text, last.len, layout->encoding);
    std::vector<size_t> cuts;  // the byte offset after k clusters
    for (size_t i = 0; i <= d.cps.size(); ++i) {
        if (i == 0 || d.cluster[i]) cuts.push_back(d.offset[i]);
    }
    const char *ellipsis = glyph_of(request.face, 0x2026).missing ? "..." : "\xE2\x80\xA6";
    layout_request sub = request;
    sub.encoding = text_encoding::utf8;
    sub.max_width = 0, sub.max_lines = 0, sub.justify = false, sub.store_all = true;
    sub.shaping.direction = last.rtl ? text_direction::rtl : text_direction::ltr;
    std::string text;
    auto lay_out = [&](size_t k, owned &out) {
        free_text_layout(&out.layout);
        text = ellipsis_text(last, cuts[k], ellipsis);
        sub.text = text.data(), sub.size = text.size();
        return layout_text(sub, &out.layout);
    };
    const size_t n = cuts.size() - 1;
    bool failed = false;
    auto fits = [&](size_t k) {
        owned probe;
        if (lay_out(k, probe) != IMGTEXT_OK) failed = true;
        return !failed && probe.layout.lines[0].width <= request.ellipsis_width;
    };
    size_t lo = 0, hi = n + 1;  // lo clusters are kept (the ellipsis alone at worst); hi are too many
    if (request.ellipsis_width <= 0) {
        lo = n;
    } else {
        size_t k = 1;
        for (; k <= n && !failed; k *= 2) {
            if (!fits(k)) {
                hi = k;
                break;
            }
            lo = k;
        }
        if (hi == n + 1 && lo < n && !failed) {
            if (fits(n))
                lo = n;
            else
                hi = n;
        }
        while (hi - lo > 1 && !failed) {
            const size_t mid = lo + (hi - lo) / 2;
            if (fits(mid))
                lo = mid;
            else
                hi = mid;
        }
    }
    owned chosen;
    if (failed || lay_out(lo, chosen) != IMGTEXT_OK) return IMGTEXT_ERROR_MEMORY;

    if (!layout->stored) {
        layout->stored = new stored_glyphs;
        layout->stored->first.assign(layout->line_count + 1, 0);
    }
    stored_glyphs &s = *layout->stored;
    const stored_glyphs &e = *chosen.layout.stored;
    s.first.resize(keep);
    s.glyphs.resize(s.first[keep - 1]);
    s.glyphs.insert(s.glyphs.end(), e.glyphs.begin(), e.glyphs.begin() + static_cast<std::ptrdiff_t>(e.first[1]));
    s.first.push_back(s.glyphs.size());
    s.owned_text = std::move(text);
    const text_line &made = chosen.layout.lines[0];
    last = text_line{s.owned_text.data(), s.owned_text.size(), made.width, last.rtl, 1};
    layout->line_count = keep;
    layout->truncated = true;
    return IMGTEXT_OK;
}

// Widens a stored line to `width` at its word spaces (the fonts' space
// glyphs), each by the same amount; one without spaces stays as it is.
void justify_line(text_layout &layout, size_t line, int width) {
    stored_glyphs &s = *layout.stored;
    text_line &l = layout.lines[line];
    if (l.len == 0 || l.width >= width) return;
    const size_t first = s.first[line], last = s.first[line + 1];
    size_t spaces = 0;
    for (size_t i = first; i + 1 < last; ++i) {
        const line_glyph &g = s.glyphs[i];
        if (g.glyph != 0 && static_cast<int>(g.glyph) == glyph_for_codepoint(*layout.face.fonts[g.font].font, ' '))
            ++spaces;
    }
    if (spaces == 0) return;
    const float extra = (static_cast<float>(width) - line_pen(layout.face, s, line)) / static_cast<float>(spaces);
    for (size_t i = first; i + 1 < last; ++i) {
        line_glyph &g = s.glyphs[i];
        if (g.glyph != 0 && static_cast<int>(g.glyph) == glyph_for_codepoint(*layout.face.fonts[g.font].font, ' '))
            g.kerning = g.kerning + extra;
    }
    // The pen ends at the width, give or take the rounding of the steps.
    l.width = std::min(width, ceil_to_int(line_pen(layout.face, s, line)));
}

void set_box(text_layout &layout) {
    int widest = 0;
    for (size_t i = 0; i < layout.line_count; ++i) widest = std::max(widest, layout.lines[i].width);
    layout.box_width = widest > 0 ? widest : 1;
    layout.box_height = static_cast<int64_t>(layout.line_height) * static_cast<int64_t>(layout.line_count);
}

}  // namespace

void store_simple_line(const layout_request &request, text_line &line, std::vector<line_glyph> &glyphs, int *missing) {
    line.shaped = 1;
    line.width = 0;
    if (line.len == 0) return;
    const decoded_line d = decode_line(line.text, line.len, request.encoding);
    const text_face &face = request.face;
    const size_t first = glyphs.size(), n = d.cps.size();
    std::vector<glyph_ref> refs;
    refs.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const glyph_ref g = glyph_of(face, static_cast<int>(d.cps[i]));
        refs.push_back(g);
        *missing += g.missing;
        line_glyph lg{};
        lg.font = font_index(face, g.font);
        lg.missing = g.missing;
        lg.glyph = static_cast<uint32_t>(g.glyph);
        lg.advance = static_cast<float>(glyph_advance(*g.font, g.glyph)) * g.scale;
        glyphs.push_back(lg);
    }
    // As walk_line and wrap_simple step: the kerning to the next glyph of
    // the same font, then the spacing before the next cluster.
    for (size_t i = 0; i + 1 < n; ++i) {
        const glyph_ref &g = refs[i], &next = refs[i + 1];
        const int kerning = g.font == next.font ? glyph_kerning(*g.font, g.glyph, next.glyph) : 0;
        float step = static_cast<float>(kerning) * g.scale;
        if (request.letter_spacing != 0.0f && d.cluster[i + 1]) step = step + request.letter_spacing;
        glyphs[first + i].kerning = step;
    }
    line.width =
        ceil_to_int(walk_stored_line(face, glyphs.data() + first, n, 0.0f, [](const glyph_ref &, float, float) {}));
}

imgtext_status finish_box_lines(const layout_request &request, const std::vector<uint8_t> &paragraph_last,
                                text_layout *layout) {
    const size_t keep = request.max_lines;
    if (keep > 0 && layout->line_count > 0 &&
        (layout->line_count > keep ||
         (request.ellipsis_width > 0 && layout->lines[layout->line_count - 1].width > request.ellipsis_width))) {
        const size_t at = std::min(keep, layout->line_count);
        const imgtext_status cut = cut_with_ellipsis(request, at, layout);
        if (cut != IMGTEXT_OK) {
            free_text_layout(layout);
            return set_error(IMGTEXT_ERROR_MEMORY, "out of memory allocating line layout");
        }
    }
    set_box(*layout);
    if (request.justify && layout->stored) {
        const int width = layout->box_width;
        for (size_t i = 0; i < layout->line_count; ++i) {
            const bool last = (i < paragraph_last.size() && paragraph_last[i]) || i + 1 == layout->line_count;
            if (!last && layout->lines[i].shaped) justify_line(*layout, i, width);
        }
    }
    return IMGTEXT_OK;
}

}  // namespace imgtext
