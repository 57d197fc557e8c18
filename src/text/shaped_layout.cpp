// Shaped paragraphs (see shaped_layout.h). A paragraph is decoded once into
// code points; its bidi levels, fonts and scripts cut it into items, each
// shaped once; wrapping measures the items' glyphs in logical order, and each
// line then takes its items' glyphs in visual order, shaping again only the
// parts of items a line end or a change of level cuts.
#include "text/shaped_layout.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "text/line_breaking.h"
#include "text/unicode/bidi.h"
#include "text/unicode/grapheme.h"
#include "unicode/text_tables.h"

namespace imgtext {

namespace {

using unicode::bidi_class;

constexpr uint32_t k_no_code_point = UINT32_MAX;

struct paragraph {
    const char *text = nullptr;
    size_t length = 0;
    std::vector<char32_t> cps;
    std::vector<uint32_t> offset;    // byte offset of each code point, then the end
    std::vector<uint32_t> index_at;  // the code point starting at each byte offset (k_no_code_point inside one)
    unicode::bidi_paragraph bidi;
    std::vector<uint8_t> font;       // the chain's font for each code point (its cluster's)
    std::vector<uint8_t> uncovered;  // 1 where no font of the chain has the character
    std::vector<uint32_t> script;    // Unicode Script, Common and Inherited resolved
    std::vector<uint32_t> cluster;   // the first code point of each code point's grapheme cluster
    size_t size() const { return cps.size(); }
};

// A run of code points [start, end) at one level, in one font and script,
// and its glyphs in visual order.
struct item {
    size_t start, end;
    int font;
    uint32_t script;
    uint8_t level;
    bool simple;  // the built-in font left to right, laid out as the seven calls lay it out
    std::vector<line_glyph> glyphs;
};

void decode(paragraph &p) {
    const char *q = p.text, *end = p.text + p.length;
    p.index_at.assign(p.length + 1, k_no_code_point);
    while (q < end) {
        const auto at = static_cast<uint32_t>(q - p.text);
        p.index_at[at] = static_cast<uint32_t>(p.cps.size());
        p.offset.push_back(at);
        p.cps.push_back(static_cast<char32_t>(next_codepoint(q, end, text_encoding::utf8)));
    }
    p.offset.push_back(static_cast<uint32_t>(p.length));
    p.index_at[p.length] = static_cast<uint32_t>(p.cps.size());
}

unicode::base_direction base_of(text_direction d) {
    return d == text_direction::ltr   ? unicode::base_direction::ltr
           : d == text_direction::rtl ? unicode::base_direction::rtl
                                      : unicode::base_direction::automatic;
}

// Characters no font need have (joiners, variation selectors, bidi controls)
// do not decide a cluster's font. A font the face may not draw (colour
// glyphs alone, with colour glyphs off) covers nothing.
bool covers(const text_face &face, const font_face &font, char32_t c) {
    if (!face_draws(face, font)) return false;
    return unicode::default_ignorable(c) || glyph_for_codepoint(font, static_cast<int>(c)) != 0;
}

// Each grapheme cluster goes to the first font that has all of its
// characters; when none has, to the first font, its characters that font
// lacks counted as missing.
void choose_fonts(paragraph &p, const text_face &face) {
    const size_t n = p.size();
    std::unique_ptr<bool[]> boundary(new bool[n + 1]);
    unicode::grapheme_boundaries(p.cps.data(), n, boundary.get());
    p.font.assign(n, 0);
    p.uncovered.assign(n, 0);
    p.cluster.assign(n, 0);
    for (size_t a = 0; a < n;) {
        size_t b = a + 1;
        while (b < n && !boundary[b]) ++b;
        for (size_t i = a; i < b; ++i) p.cluster[i] = static_cast<uint32_t>(a);
        int chosen = -1;
        for (int f = 0; f < face.font_count && chosen < 0; ++f) {
            bool all = true;
            for (size_t i = a; i < b && all; ++i) all = covers(face, *face.fonts[f].font, p.cps[i]);
            if (all) chosen = f;
        }
        for (size_t i = a; i < b; ++i) {
            p.font[i] = static_cast<uint8_t>(chosen < 0 ? 0 : chosen);
            p.uncovered[i] = chosen < 0 && !covers(face, *face.fonts[0].font, p.cps[i]);
        }
        a = b;
    }
}

// Common and Inherited characters (spaces, punctuation, digits, combining
// marks) take the script of the text before them, or at the start the
// script after them, so that they shape with their neighbours. Text of
// such characters alone takes its first one's, so that an emoji's ZWJ
// (Inherited) does not cut its sequence into runs the font cannot ligate.
void resolve_scripts(paragraph &p) {
    const size_t n = p.size();
    p.script.resize(n);
    uint32_t last = 0;
    size_t first_real = n;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t s = script_of(p.cps[i]);
        if (is_common_script(s)) {
            p.script[i] = last ? last : i > 0 ? p.script[i - 1] : s;
        } else {
            p.script[i] = last = s;
            if (first_real == n) first_real = i;
        }
    }
    for (size_t i = 0; i < first_real && first_real < n; ++i) p.script[i] = p.script[first_real];
}

std::vector<item> items_of(const paragraph &p, const layout_request &request) {
    std::vector<item> items;
    for (size_t i = 0; i < p.size(); ++i) {
        const uint8_t level = p.bidi.levels[i];
        if (!items.empty() && items.back().level == level && items.back().font == p.font[i] &&
            items.back().script == p.script[i]) {
            items.back().end = i + 1;
            continue;
        }
        const bool simple = request.shaping.mode == layout_mode::automatic && (level & 1) == 0 &&
                            is_builtin(request.face.fonts[p.font[i]].font);
        items.push_back(item{i, i + 1, p.font[i], p.script[i], level, simple, {}});
    }
    return items;
}

}  // namespace

bool right_to_left_or_control(int codepoint) {
    if (codepoint < 0x0590) return false;  // nothing before Hebrew is either
    const bidi_class c = unicode::bidi_class_of(static_cast<char32_t>(codepoint));
    return c == bidi_class::R || c == bidi_class::AL || c == bidi_class::AN ||
           (c >= bidi_class::LRE && c <= bidi_class::PDI);
}

namespace {

// Lays out code points [a, b) of an item at a level: simply (each glyph's
// kerning to the next of the same range, as the simple walk adds it) or
// shaped. Appends the glyphs, and each one's cluster (a byte offset).
void produce(const paragraph &p, const text_face &face, const shaping_setup &setup, const item &it, size_t a, size_t b,
             uint8_t level, std::vector<line_glyph> &glyphs, std::vector<uint32_t> &clusters) {
    // The two vectors grow together here, but need not start level: a line
    // collects its glyphs while the clusters of each piece are its own.
    const size_t first = glyphs.size(), first_cluster = clusters.size();
    if (it.simple && (level & 1) == 0) {
        const face_font &f = face.fonts[it.font];
        for (size_t i = a; i < b; ++i) {
            line_glyph g{};
            g.font = static_cast<uint16_t>(it.font);
            g.glyph = static_cast<uint32_t>(glyph_for_codepoint(*f.font, static_cast<int>(p.cps[i])));
            g.advance = static_cast<float>(glyph_advance(*f.font, static_cast<int>(g.glyph))) * f.scale;
            glyphs.push_back(g);
            clusters.push_back(p.offset[i]);
        }
        for (size_t i = first; i + 1 < glyphs.size(); ++i) {
            const int kerning =
                glyph_kerning(*f.font, static_cast<int>(glyphs[i].glyph), static_cast<int>(glyphs[i + 1].glyph));
            glyphs[i].kerning = static_cast<float>(kerning) * f.scale;
        }
    } else {
        shape_run(face, setup, p.text, p.length,
                  shaping_run{p.offset[a], p.offset[b], it.font, it.script, (level & 1) != 0}, glyphs, clusters);
    }
    for (size_t i = first; i < glyphs.size(); ++i) {
        const uint32_t cluster = clusters[first_cluster + (i - first)];
        const uint32_t at = cluster <= p.length ? p.index_at[cluster] : k_no_code_point;
        glyphs[i].missing = at != k_no_code_point && at < p.size() && p.uncovered[at] && glyphs[i].glyph == 0;
    }
}

// What each code point adds to a line's width, in logical order: its
// cluster's advances, and the simple layout's kerning from the glyph
// before it.
struct unit_widths {
    std::vector<float> width, kerning_before;
};

unit_widths widths_of(const paragraph &p, const std::vector<item> &items,
                      const std::vector<std::vector<uint32_t>> &clusters) {
    unit_widths u{std::vector<float>(p.size(), 0.0f), std::vector<float>(p.size(), 0.0f)};
    for (size_t k = 0; k < items.size(); ++k) {
        const item &it = items[k];
        for (size_t j = 0; j < it.glyphs.size(); ++j) {
            uint32_t at = clusters[k][j] <= p.length ? p.index_at[clusters[k][j]] : k_no_code_point;
            if (at == k_no_code_point || at < it.start || at >= it.end) at = static_cast<uint32_t>(it.start);
            u.width[at] = u.width[at] + it.glyphs[j].advance;
            if (it.glyphs[j].kerning != 0.0f && at + 1 < it.end) u.kerning_before[at + 1] = it.glyphs[j].kerning;
        }
    }
    return u;
}

}  // namespace

int shaped_paragraphs::lay_out(const char *text, const char *end, std::vector<line_glyph> &glyphs,
                               std::vector<shaped_line> &lines) {
    const text_face &face = request_.face;
    paragraph p;
    p.text = text;
    p.length = static_cast<size_t>(end - text);
    decode(p);
    p.bidi = unicode::resolve_paragraph(p.cps, base_of(request_.shaping.direction));
    choose_fonts(p, face);
    resolve_scripts(p);
    std::vector<item> items = items_of(p, request_);
    std::vector<std::vector<uint32_t>> clusters(items.size());
    for (size_t k = 0; k < items.size(); ++k) {
        produce(p, face, setup_, items[k], items[k].start, items[k].end, items[k].level, items[k].glyphs, clusters[k]);
    }

    // Letter spacing before each cluster but the first, except inside a
    // run of a joining script (see box_layout.h).
    const float spacing = request_.letter_spacing;
    std::vector<uint8_t> spaced;
    if (spacing != 0.0f) {
        spaced.assign(p.size(), 0);
        for (const item &it : items) {
            for (size_t i = it.start; i < it.end; ++i) {
                spaced[i] = i > 0 && p.cluster[i] == i && !(i > it.start && is_joining_script(it.script));
            }
        }
    }
    std::vector<line_cut> cuts{{0, p.size(), p.size()}};
    if (request_.max_width > 0 && p.size() > 0) {
        const unit_widths u = widths_of(p, items, clusters);
        paragraph_breaks breaks;
        breaks.text = p.cps;
        find_breaks(breaks);
        if (request_.wrap == wrap_mode::character) break_at_clusters(breaks);
        cuts = cut_lines(breaks, request_.max_width, [&](size_t i, bool first, float x) {
            if (!first) {
                float step = u.kerning_before[i];
                if (spacing != 0.0f && spaced[i]) step = step + spacing;
                if (step != 0.0f) x = x + step;
            }
            return x + u.width[i];
        });
    }
    // With spacing, each stored glyph's cluster (its first code point) and item.
    std::vector<uint32_t> glyph_cluster, glyph_item;
    auto note = [&](const item &piece, const uint32_t *byte_clusters, size_t count) {
        if (spacing == 0.0f) return;
        for (size_t j = 0; j < count; ++j) {
            const uint32_t at = byte_clusters[j] <= p.length ? p.index_at[byte_clusters[j]] : k_no_code_point;
            glyph_cluster.push_back(at < p.size() ? p.cluster[at] : k_no_code_point);
            glyph_item.push_back(static_cast<uint32_t>(&piece - items.data()));
        }
    };

    int missing = 0;
    std::vector<uint32_t> scratch;
    for (const line_cut &cut : cuts) {
        const size_t first = glyphs.size();
        if (cut.end > cut.start) {
            for (const unicode::bidi_run &run : unicode::visual_runs(p.bidi, cut.start, cut.end)) {
                // The items this run crosses, in logical order, then shown
                // from the right when the run's level is odd.
                auto it = std::upper_bound(items.begin(), items.end(), run.start,
                                           [](size_t at, const item &i) { return at < i.end; });
                std::vector<const item *> crossed;
                for (; it != items.end() && it->start < run.end; ++it) crossed.push_back(&*it);
                if (run.level & 1) std::reverse(crossed.begin(), crossed.end());
                for (const item *piece : crossed) {
                    const size_t a = std::max(piece->start, run.start), b = std::min(piece->end, run.end);
                    if (a == piece->start && b == piece->end && run.level == piece->level) {
                        glyphs.insert(glyphs.end(), piece->glyphs.begin(), piece->glyphs.end());
                        note(*piece, clusters[static_cast<size_t>(piece - items.data())].data(), piece->glyphs.size());
                    } else {
                        scratch.clear();
                        produce(p, face, setup_, *piece, a, b, run.level, glyphs, scratch);
                        note(*piece, scratch.data(), scratch.size());
                    }
                }
            }
            for (size_t i = cut.start; i < cut.end; ++i) missing += p.uncovered[i];
        }
        if (spacing != 0.0f) {
            // Between neighbours in visual order of different clusters, but
            // not of one run of a joining script.
            for (size_t j = first; j + 1 < glyphs.size(); ++j) {
                const size_t a = j - first;
                if (glyph_cluster[a] == glyph_cluster[a + 1]) continue;
                if (glyph_item[a] == glyph_item[a + 1] && is_joining_script(items[glyph_item[a]].script)) continue;
                glyphs[j].kerning = glyphs[j].kerning + spacing;
            }
            glyph_cluster.clear();
            glyph_item.clear();
        }
        const float width = walk_stored_line(face, glyphs.data() + first, glyphs.size() - first, 0.0f,
                                             [](const glyph_ref &, float, float) {});
        const text_line line{text + p.offset[cut.start], p.offset[cut.end] - p.offset[cut.start],
                             cut.end > cut.start ? ceil_to_int(width) : 0, static_cast<uint8_t>(p.bidi.level & 1), 1};
        lines.push_back(shaped_line{line, first});
    }
    return missing;
}

}  // namespace imgtext
