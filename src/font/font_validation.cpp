// Load-time checks of font files: see font_validation.h. Every check below
// names the stb_truetype read it protects; each walk mirrors the one
// stb_truetype makes, quirks included, so that what is checked is exactly
// what will be read.
#include "font/font_validation.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <new>
#include <vector>

namespace imgtext {

namespace {

using u8 = unsigned char;

uint16_t get16(const u8 *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t get32(const u8 *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}
bool is_tag(const u8 *p, const char *tag) {
    const auto *t = reinterpret_cast<const u8 *>(tag);
    return p[0] == t[0] && p[1] == t[1] && p[2] == t[2] && p[3] == t[3];
}

// The versions stb_truetype takes for a font (rather than a collection).
bool is_sfnt(const u8 *p) {
    return (p[0] == 0 && p[1] == 1 && p[2] == 0 && p[3] == 0) || (p[0] == '1' && p[1] == 0 && p[2] == 0 && p[3] == 0) ||
           is_tag(p, "typ1") || is_tag(p, "OTTO") || is_tag(p, "true");
}

// Glyph outlines may expand, through their components, to this many points
// (a simple glyph holds at most about 2^17) and take this many steps to
// assemble; beyond that a few hundred bytes of composites would cost
// minutes and gigabytes on every draw.
constexpr uint64_t max_glyph_points = 1u << 17;
constexpr uint64_t max_glyph_work = 1u << 22;
// stb_truetype visits every pair-adjustment subtable of every lookup for
// each pair of glyphs it kerns; real fonts have a few dozen.
constexpr uint64_t max_kerning_subtables = 2048;
// Coverage, class and pair-set entries checked in GPOS; real fonts have
// tens of thousands.
constexpr uint64_t max_kerning_entries = 1u << 24;

// A table as stb_truetype finds it, with the length the directory gives it.
struct table {
    const u8 *p = nullptr;
    uint64_t size = 0;
    bool present() const { return p != nullptr; }
    bool has(uint64_t at, uint64_t n) const { return at <= size && n <= size - at; }
    uint16_t u16(uint64_t at) const { return get16(p + at); }
    int16_t s16(uint64_t at) const { return static_cast<int16_t>(get16(p + at)); }
    uint32_t u32(uint64_t at) const { return get32(p + at); }
    uint8_t byte(uint64_t at) const { return p[at]; }
};

class checker {
public:
    checker(const u8 *data, uint64_t size, char *message, size_t message_size)
        : data_(data), size_(size), message_(message), message_size_(message_size) {}

    bool run(int index, font_layout *layout);

private:
    const u8 *data_;
    uint64_t size_;
    char *message_;
    size_t message_size_;
    uint64_t fontstart_ = 0;
    int glyph_count_ = 0;
    uint64_t kerning_entries_ = 0;

    bool refuse(const char *format, ...) __attribute__((format(printf, 2, 3)));
    bool locate(int index);
    bool find(const char *tag, table *t);
    bool check_metrics(const table &head, const table &hhea, const table &hmtx, const table &maxp);
    bool check_cmap(const table &cmap);
    bool check_cmap_format4(const table &cmap, uint64_t sub);
    bool check_glyphs(const table &head, const table &loca, const table &glyf);
    bool check_kern(const table &kern);
    bool check_gpos(const table &gpos);
    bool check_coverage(const table &gpos, uint64_t at, int64_t *max_index);
    bool check_class_def(const table &gpos, uint64_t at);
    bool count_entries(uint64_t n);
    bool check_cff(const table &cff);
};

bool checker::refuse(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(message_, message_size_, format, args);
    va_end(args);
    return false;
}

// stbtt_GetFontOffsetForIndex reads the first 4 bytes, and for a collection
// the 12-byte header and the index-th offset; stbtt_InitFont then reads the
// table directory there.
bool checker::locate(int index) {
    if (size_ < 12) return refuse("the file is too short to be a font (%u bytes)", static_cast<unsigned>(size_));
    if (index < 0) return refuse("there is no font %d", index);
    if (is_sfnt(data_)) {
        if (index != 0) return refuse("the file holds one font, not a collection: there is no font %d", index);
        fontstart_ = 0;
    } else if (is_tag(data_, "ttcf") && (get32(data_ + 4) == 0x00010000 || get32(data_ + 4) == 0x00020000)) {
        const int32_t fonts = static_cast<int32_t>(get32(data_ + 8));
        if (index >= fonts)
            return refuse("the collection holds %d fonts: there is no font %d", std::max(fonts, 0), index);
        if (12 + 4 * (static_cast<uint64_t>(index) + 1) > size_)
            return refuse("the collection's list of fonts is cut short");
        fontstart_ = get32(data_ + 12 + 4 * static_cast<uint64_t>(index));
        if (fontstart_ > size_ - 12 || !is_sfnt(data_ + fontstart_)) {
            return refuse("font %d of the collection lies outside the file or is not a font", index);
        }
    } else {
        return refuse("not a TrueType or OpenType font");
    }
    const uint64_t tables = get16(data_ + fontstart_ + 4);
    if (fontstart_ + 12 + 16 * tables > size_) return refuse("the table directory runs past the end of the file");
    return true;
}

// stb_truetype takes the first directory entry with the tag and counts a
// table at offset 0 as missing.
bool checker::find(const char *tag, table *t) {
    *t = table{};
    const uint64_t tables = get16(data_ + fontstart_ + 4);
    for (uint64_t i = 0; i < tables; ++i) {
        const u8 *entry = data_ + fontstart_ + 12 + 16 * i;
        if (!is_tag(entry, tag)) continue;
        const uint64_t offset = get32(entry + 8), length = get32(entry + 12);
        if (offset == 0) return true;
        if (offset > size_ || length > size_ - offset) return refuse("the '%s' table lies outside the file", tag);
        *t = table{data_ + offset, length};
        return true;
    }
    return true;
}

// head: unitsPerEm (ScaleForMappingEmToPixels divides by it) and the loca
// format; hhea: ascender and descender (ScaleForPixelHeight divides by
// their difference) and the count of long metrics; hmtx: the advance of
// every glyph (the library never asks for side bearings); maxp: the glyph
// count, which bounds every glyph index the library queries.
bool checker::check_metrics(const table &head, const table &hhea, const table &hmtx, const table &maxp) {
    if (!head.has(0, 54)) return refuse("the 'head' table is too short");
    if (!hhea.has(0, 36)) return refuse("the 'hhea' table is too short");
    if (!maxp.has(0, 6)) return refuse("the 'maxp' table is missing or too short");
    const int units_per_em = head.u16(18);
    if (units_per_em < 16 || units_per_em > 16384) return refuse("units per em (%d) outside 16..16384", units_per_em);
    const int ascent = hhea.s16(4), descent = hhea.s16(6);
    if (ascent <= descent) return refuse("the ascender (%d) is not above the descender (%d)", ascent, descent);
    glyph_count_ = maxp.u16(4);
    if (glyph_count_ == 0) return refuse("the font has no glyphs");
    const uint64_t long_metrics = hhea.u16(34);
    if (long_metrics == 0) return refuse("the font has no horizontal metrics");
    if (!hmtx.has(0, 4 * std::min<uint64_t>(long_metrics, static_cast<uint64_t>(glyph_count_)))) {
        return refuse("the 'hmtx' table is shorter than its %u metrics",
                      static_cast<unsigned>(std::min<uint64_t>(long_metrics, static_cast<uint64_t>(glyph_count_))));
    }
    return true;
}

// stbtt_InitFont keeps the last encoding record that is Unicode (platform
// 0, or 3 with encoding 1 or 10); stbtt_FindGlyphIndex then reads that one
// subtable, in formats 0, 4, 6, 12 and 13 only.
bool checker::check_cmap(const table &cmap) {
    if (!cmap.has(0, 4)) return refuse("the 'cmap' table is too short");
    const uint64_t records = cmap.u16(2);
    if (!cmap.has(4, 8 * records)) return refuse("the 'cmap' encoding records run past the table");
    uint64_t sub = 0;
    bool found = false;
    for (uint64_t i = 0; i < records; ++i) {
        const uint64_t record = 4 + 8 * i;
        const int platform = cmap.u16(record), encoding = cmap.u16(record + 2);
        if (platform == 0 || (platform == 3 && (encoding == 1 || encoding == 10)))
            sub = cmap.u32(record + 4), found = true;
    }
    if (!found) return refuse("the font has no Unicode character map");
    if (!cmap.has(sub, 4)) return refuse("the character map lies outside the 'cmap' table");
    const int format = cmap.u16(sub);
    switch (format) {
        case 0: {  // glyph byte at 6 + code point, below the subtable's length
            const uint64_t length = cmap.u16(sub + 2);
            if (length > 6 && !cmap.has(sub, length)) return refuse("the format 0 character map runs past its table");
            return true;
        }
        case 6: {  // first code, count, then count glyph words
            if (!cmap.has(sub, 10) || !cmap.has(sub + 10, 2 * static_cast<uint64_t>(cmap.u16(sub + 8)))) {
                return refuse("the format 6 character map runs past its table");
            }
            return true;
        }
        case 4: return check_cmap_format4(cmap, sub);
        case 12:
        case 13: {  // 12-byte groups; a count beyond int range reads nothing
            if (!cmap.has(sub, 16)) return refuse("the format %d character map is too short", format);
            const uint64_t groups = cmap.u32(sub + 12);
            if (groups <= INT32_MAX && !cmap.has(sub + 16, 12 * groups)) {
                return refuse("the format %d character map's groups run past its table", format);
            }
            return true;
        }
        default: return refuse("the character map's format (%d) is not supported", format);
    }
}

// Format 4 is searched with the subtable's own searchRange, entrySelector
// and rangeShift, which fonts often get wrong: bound the segment the search
// can land on by following the path that always moves up, then check every
// segment up to it, including the glyph index words its range offset
// points at.
bool checker::check_cmap_format4(const table &cmap, uint64_t sub) {
    if (!cmap.has(sub, 14)) return refuse("the format 4 character map is too short");
    const uint64_t segments = cmap.u16(sub + 6) >> 1;
    uint64_t search_range = cmap.u16(sub + 8) >> 1;
    uint64_t steps = cmap.u16(sub + 10);
    const uint64_t range_shift = cmap.u16(sub + 12) >> 1;
    uint64_t last_item = range_shift;
    for (; steps > 0 && search_range > 0; --steps) last_item += (search_range >>= 1);
    const uint64_t range_offsets = sub + 16 + 6 * segments;
    if (!cmap.has(sub, 16 + 6 * segments + 2 * (last_item + 1))) {
        return refuse("the format 4 character map's segments run past its table");
    }
    for (uint64_t item = 0; item <= last_item; ++item) {
        const uint64_t end = cmap.u16(sub + 14 + 2 * item), start = cmap.u16(sub + 16 + 2 * segments + 2 * item);
        const uint64_t range_offset = cmap.u16(range_offsets + 2 * item);
        if (range_offset == 0 || start > end) continue;
        if (!cmap.has(range_offsets + 2 * item + range_offset, 2 * (end - start + 1))) {
            return refuse("segment %u of the format 4 character map points past its table",
                          static_cast<unsigned>(item));
        }
    }
    return true;
}

// stbtt__GetGlyfOffset reads the loca entries of a glyph and the next one;
// a glyph whose entries differ is read from the first, by
// stbtt__GetGlyphShapeTT: the header, the contour ends, the instruction
// length, the flags and the coordinates they announce, or the component
// records. Components are then loaded recursively, so cycles, nesting and
// the total work are bounded here too.
bool checker::check_glyphs(const table &head, const table &loca, const table &glyf) {
    const int loca_format = head.u16(50);
    if (loca_format > 1) return refuse("unknown glyph location format (%d)", loca_format);
    const uint64_t glyphs = static_cast<uint64_t>(glyph_count_);
    if (!loca.has(0, (glyphs + 1) * (loca_format ? 4 : 2)))
        return refuse("the 'loca' table is shorter than its glyphs");
    auto location = [&](uint64_t g) {
        return loca_format ? loca.u32(4 * g) : 2 * static_cast<uint64_t>(loca.u16(2 * g));
    };

    std::vector<uint64_t> points(glyphs, 0);  // vertex slots a simple glyph allocates
    std::vector<uint32_t> first_child(glyphs + 1,
                                      0);  // components of glyph g: children[first_child[g]..first_child[g+1])
    std::vector<uint16_t> children;
    std::vector<uint8_t> flags;
    for (uint64_t g = 0; g < glyphs; ++g) {
        first_child[g] = static_cast<uint32_t>(children.size());
        const uint64_t at = location(g);
        if (at == location(g + 1)) continue;  // no outline
        if (!glyf.has(at, 10)) return refuse("glyph %u lies outside the 'glyf' table", static_cast<unsigned>(g));
        const int contours = glyf.s16(at);
        if (contours > 0) {
            const uint64_t ends = at + 10, count = static_cast<uint64_t>(contours);
            if (!glyf.has(ends, 2 * count + 2)) return refuse("glyph %u is cut short", static_cast<unsigned>(g));
            int64_t previous = -1;
            for (uint64_t c = 0; c < count; ++c) {
                const int64_t end = glyf.u16(ends + 2 * c);
                if (end <= previous) return refuse("glyph %u's contours are out of order", static_cast<unsigned>(g));
                previous = end;
            }
            const uint64_t n = static_cast<uint64_t>(previous) + 1;
            uint64_t p = ends + 2 * count + 2 + glyf.u16(ends + 2 * count);
            // Flags as stb_truetype reads them: a repeat count follows any
            // flag with bit 3, even past the last point.
            flags.assign(n, 0);
            uint8_t flag = 0;
            uint64_t repeat = 0;
            for (uint64_t i = 0; i < n; ++i) {
                if (repeat == 0) {
                    if (!glyf.has(p, 1))
                        return refuse("glyph %u's flags run past the 'glyf' table", static_cast<unsigned>(g));
                    flag = glyf.byte(p++);
                    if (flag & 8) {
                        if (!glyf.has(p, 1))
                            return refuse("glyph %u's flags run past the 'glyf' table", static_cast<unsigned>(g));
                        repeat = glyf.byte(p++);
                    }
                } else {
                    --repeat;
                }
                flags[i] = flag;
            }
            uint64_t coordinates = 0;
            for (uint8_t f : flags) {
                coordinates += (f & 2) ? 1 : (f & 16) ? 0 : 2;
                coordinates += (f & 4) ? 1 : (f & 32) ? 0 : 2;
            }
            if (!glyf.has(p, coordinates))
                return refuse("glyph %u's coordinates run past the 'glyf' table", static_cast<unsigned>(g));
            points[g] = n + 2 * count;
        } else if (contours < 0) {
            uint64_t p = at + 10;
            for (bool more = true; more;) {
                if (!glyf.has(p, 4))
                    return refuse("glyph %u's components run past the 'glyf' table", static_cast<unsigned>(g));
                const uint16_t component = glyf.u16(p), child = glyf.u16(p + 2);
                p += 4 + ((component & 1) ? 4 : 2);
                p += (component & 8) ? 2 : (component & 64) ? 4 : (component & 128) ? 8 : 0;
                if (!glyf.has(p, 0))
                    return refuse("glyph %u's components run past the 'glyf' table", static_cast<unsigned>(g));
                if (child < glyphs) children.push_back(child);  // others are skipped as empty
                more = (component & 32) != 0;
            }
        }
    }
    first_child[glyphs] = static_cast<uint32_t>(children.size());

    // Depth-first over the component graph, with each glyph's expanded
    // point count and assembly work remembered once known.
    std::vector<uint8_t> state(glyphs, 0);  // 0 unseen, 1 on the current path, 2 done
    std::vector<uint64_t> expanded(glyphs, 0), work(glyphs, 0);
    struct frame {
        uint64_t glyph, next;
    };
    std::vector<frame> path;
    for (uint64_t root = 0; root < glyphs; ++root) {
        if (state[root]) continue;
        path.push_back({root, first_child[root]});
        state[root] = 1;
        while (!path.empty()) {
            frame &top = path.back();
            const uint64_t g = top.glyph;
            if (top.next < first_child[g + 1]) {
                const uint64_t child = children[top.next++];
                if (state[child] == 1) return refuse("glyph %u is a component of itself", static_cast<unsigned>(child));
                if (state[child] == 2) continue;
                if (path.size() > static_cast<size_t>(max_component_depth)) {
                    return refuse("glyph %u's components nest more than %d deep",
                                  static_cast<unsigned>(path.front().glyph), max_component_depth);
                }
                state[child] = 1;
                path.push_back({child, first_child[child]});
                continue;
            }
            // All components known: stb_truetype appends each one's points
            // to a new array holding all the points so far.
            uint64_t total = points[g], cost = points[g] + 1;
            for (uint64_t c = first_child[g]; c < first_child[g + 1]; ++c) {
                total = std::min(total + expanded[children[c]], max_glyph_points + 1);
                cost = std::min(cost + work[children[c]] + total + 1, max_glyph_work + 1);
            }
            if (total > max_glyph_points) {
                return refuse("glyph %u has more than %u points with its components", static_cast<unsigned>(g),
                              static_cast<unsigned>(max_glyph_points));
            }
            if (cost > max_glyph_work)
                return refuse("glyph %u repeats its components too often", static_cast<unsigned>(g));
            expanded[g] = total, work[g] = cost, state[g] = 2;
            path.pop_back();
        }
    }
    return true;
}

// Without GPOS, stb_truetype kerns from the first subtable of 'kern' when
// it is horizontal format 0, searching its pairs by binary search.
bool checker::check_kern(const table &kern) {
    if (!kern.has(0, 4)) return refuse("the 'kern' table is too short");
    if (kern.u16(2) < 1) return true;
    if (!kern.has(0, 10)) return refuse("the 'kern' table is too short");
    if (kern.u16(8) != 1) return true;
    if (!kern.has(0, 12) || !kern.has(18, 6 * static_cast<uint64_t>(kern.u16(10)))) {
        return refuse("the 'kern' pairs run past the table");
    }
    return true;
}

bool checker::count_entries(uint64_t n) {
    kerning_entries_ += n;
    return kerning_entries_ <= max_kerning_entries || refuse("the 'GPOS' table is too large to check");
}

// Coverage formats 1 and 2 are searched; the index found may reach the
// largest one any entry gives.
bool checker::check_coverage(const table &gpos, uint64_t at, int64_t *max_index) {
    *max_index = -1;
    if (!gpos.has(at, 2)) return refuse("a 'GPOS' coverage table lies outside the table");
    const int format = gpos.u16(at);
    if (format != 1 && format != 2) return true;
    if (!gpos.has(at, 4)) return refuse("a 'GPOS' coverage table is cut short");
    const uint64_t count = gpos.u16(at + 2);
    if (!count_entries(count)) return false;
    if (!gpos.has(at + 4, (format == 1 ? 2 : 6) * count)) return refuse("a 'GPOS' coverage table runs past the table");
    if (format == 1) {
        *max_index = static_cast<int64_t>(count) - 1;
        return true;
    }
    for (uint64_t r = 0; r < count; ++r) {
        const int64_t start = gpos.u16(at + 4 + 6 * r), end = gpos.u16(at + 6 + 6 * r);
        if (start <= end) *max_index = std::max(*max_index, gpos.u16(at + 8 + 6 * r) + end - start);
    }
    return true;
}

bool checker::check_class_def(const table &gpos, uint64_t at) {
    if (!gpos.has(at, 2)) return refuse("a 'GPOS' class table lies outside the table");
    const int format = gpos.u16(at);
    if (format == 1) {
        if (!gpos.has(at, 6) || !gpos.has(at + 6, 2 * static_cast<uint64_t>(gpos.u16(at + 4)))) {
            return refuse("a 'GPOS' class table runs past the table");
        }
        return count_entries(gpos.u16(at + 4));
    }
    if (format == 2) {
        if (!gpos.has(at, 4) || !gpos.has(at + 4, 6 * static_cast<uint64_t>(gpos.u16(at + 2)))) {
            return refuse("a 'GPOS' class table runs past the table");
        }
        return count_entries(gpos.u16(at + 2));
    }
    return true;
}

// GPOS 1.0: every lookup's type and subtable count; in pair adjustment
// lookups (type 2) every subtable's coverage, and for the one value format
// stb_truetype reads (x advance of the first glyph only), the pair sets of
// format 1 or the class definitions and class matrix of format 2.
bool checker::check_gpos(const table &gpos) {
    if (!gpos.has(0, 4)) return refuse("the 'GPOS' table is too short");
    if (gpos.u16(0) != 1 || gpos.u16(2) != 0) return true;
    if (!gpos.has(0, 10)) return refuse("the 'GPOS' table is too short");
    const uint64_t list = gpos.u16(8);
    if (!gpos.has(list, 2) || !gpos.has(list + 2, 2 * static_cast<uint64_t>(gpos.u16(list)))) {
        return refuse("the 'GPOS' lookup list runs past the table");
    }
    uint64_t subtables_seen = 0;
    for (uint64_t i = 0, lookups = gpos.u16(list); i < lookups; ++i) {
        const uint64_t lookup = list + gpos.u16(list + 2 + 2 * i);
        if (!gpos.has(lookup, 6)) return refuse("a 'GPOS' lookup lies outside the table");
        if (gpos.u16(lookup) != 2) continue;
        const uint64_t subtables = gpos.u16(lookup + 4);
        if (!gpos.has(lookup + 6, 2 * subtables)) return refuse("a 'GPOS' lookup's subtables run past the table");
        subtables_seen += subtables;
        if (subtables_seen > max_kerning_subtables)
            return refuse("the 'GPOS' table has too many pair adjustment subtables");
        for (uint64_t s = 0; s < subtables; ++s) {
            const uint64_t sub = lookup + gpos.u16(lookup + 6 + 2 * s);
            if (!gpos.has(sub, 4)) return refuse("a 'GPOS' pair adjustment lies outside the table");
            int64_t max_index = -1;
            if (!check_coverage(gpos, sub + gpos.u16(sub + 2), &max_index)) return false;
            if (max_index < 0) continue;  // never matched, never read further
            const int format = gpos.u16(sub);
            if (format != 1 && format != 2) continue;
            if (!gpos.has(sub, 8)) return refuse("a 'GPOS' pair adjustment is cut short");
            if (gpos.u16(sub + 4) != 4 || gpos.u16(sub + 6) != 0) continue;
            if (format == 1) {
                if (!gpos.has(sub, 10)) return refuse("a 'GPOS' pair adjustment is cut short");
                // The build's stb_truetype compares the coverage index with
                // the count before reading the pair set's offset.
                const uint64_t sets = std::min<uint64_t>(gpos.u16(sub + 8), static_cast<uint64_t>(max_index) + 1);
                if (!gpos.has(sub + 10, 2 * sets))
                    return refuse("a 'GPOS' pair adjustment's pair sets run past the table");
                if (!count_entries(sets)) return false;
                for (uint64_t k = 0; k < sets; ++k) {
                    const uint64_t set = sub + gpos.u16(sub + 10 + 2 * k);
                    if (!gpos.has(set, 2) || !gpos.has(set + 2, 4 * static_cast<uint64_t>(gpos.u16(set)))) {
                        return refuse("a 'GPOS' pair set runs past the table");
                    }
                }
            } else {
                if (!gpos.has(sub, 16)) return refuse("a 'GPOS' class pair adjustment is cut short");
                if (!check_class_def(gpos, sub + gpos.u16(sub + 8)) || !check_class_def(gpos, sub + gpos.u16(sub + 10)))
                    return false;
                const uint64_t cells = static_cast<uint64_t>(gpos.u16(sub + 12)) * gpos.u16(sub + 14);
                if (!gpos.has(sub + 16, 2 * cells))
                    return refuse("a 'GPOS' class pair adjustment's values run past the table");
            }
        }
    }
    return true;
}

// ---- CFF

// stb_truetype's bounded reader over the CFF table (see the build's fixes:
// the table's own length bounds it), reproduced so the values checked are
// the values stb_truetype will use.
struct cff_buf {
    const u8 *data = nullptr;
    int64_t size = 0, cursor = 0;
    uint8_t get8() { return cursor >= size ? 0 : data[cursor++]; }
    uint8_t peek8() const { return cursor >= size ? 0 : data[cursor]; }
    void seek(int64_t o) { cursor = (o > size || o < 0) ? size : o; }
    uint32_t get(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | get8();
        return v;
    }
    cff_buf range(int64_t o, int64_t s) const {
        if (o < 0 || s < 0 || o > size || s > size - o) return {};
        return {data + o, s, 0};
    }
};

uint32_t cff_int(cff_buf &b) {
    const int b0 = b.get8();
    if (b0 >= 32 && b0 <= 246) return static_cast<uint32_t>(b0 - 139);
    if (b0 >= 247 && b0 <= 250) return static_cast<uint32_t>((b0 - 247) * 256 + b.get8() + 108);
    if (b0 >= 251 && b0 <= 254) return static_cast<uint32_t>(-(b0 - 251) * 256 - b.get8() - 108);
    if (b0 == 28) return b.get(2);
    if (b0 == 29) return b.get(4);
    return 0;
}

// stbtt__dict_get_ints: the operands before the first occurrence of key.
void dict_ints(cff_buf dict, int key, int count, uint32_t *out) {
    dict.seek(0);
    cff_buf operands{};
    while (dict.cursor < dict.size) {
        const int64_t start = dict.cursor;
        while (dict.peek8() >= 28) {
            if (dict.peek8() == 30) {
                dict.seek(dict.cursor + 1);
                while (dict.cursor < dict.size) {
                    const int v = dict.get8();
                    if ((v & 0xF) == 0xF || (v >> 4) == 0xF) break;
                }
            } else {
                cff_int(dict);
            }
        }
        const int64_t end = dict.cursor;
        int op = dict.get8();
        if (op == 12) op = dict.get8() | 0x100;
        if (op == key) {
            operands = dict.range(start, end - start);
            break;
        }
    }
    for (int i = 0; i < count && operands.cursor < operands.size; ++i) out[i] = cff_int(operands);
}

struct cff_index {
    int64_t count = 0, end = 0;
    std::vector<int64_t> starts;  // element i is [starts[i], starts[i+1]) in the table
};

bool checker::check_cff(const table &cff) {
    if (!cff.has(0, 4)) return refuse("the 'CFF ' table is too short");
    const int64_t size = static_cast<int64_t>(cff.size);
    cff_buf whole{cff.p, size, 0};

    // An INDEX: count, offset size 1..4, count + 1 ascending offsets from 1,
    // data inside the table.
    auto index_at = [&](int64_t at, const char *what, cff_index *out) {
        *out = cff_index{};
        if (at < 0 || at + 2 > size) return refuse("the CFF %s lies outside the table", what);
        out->count = cff.u16(static_cast<uint64_t>(at));
        if (out->count == 0) {
            out->end = at + 2;
            return true;
        }
        if (at + 3 > size) return refuse("the CFF %s is cut short", what);
        const int offset_size = cff.byte(static_cast<uint64_t>(at + 2));
        if (offset_size < 1 || offset_size > 4) return refuse("the CFF %s has offset size %d", what, offset_size);
        const int64_t offsets = at + 3, data = offsets + (out->count + 1) * offset_size - 1;
        if (data + 1 > size) return refuse("the CFF %s's offsets run past the table", what);
        cff_buf b = whole;
        b.seek(offsets);
        int64_t previous = 1;
        out->starts.reserve(static_cast<size_t>(out->count) + 1);
        for (int64_t i = 0; i <= out->count; ++i) {
            const int64_t offset = b.get(offset_size);
            if (offset < previous || (i == 0 && offset != 1))
                return refuse("the CFF %s's offsets are out of order", what);
            previous = offset;
            out->starts.push_back(data + offset);
        }
        out->end = out->starts.back();
        if (out->end > size) return refuse("the CFF %s runs past the table", what);
        return true;
    };
    auto element = [&](const cff_index &index, int64_t i) {
        return whole.range(index.starts[static_cast<size_t>(i)],
                           index.starts[static_cast<size_t>(i) + 1] - index.starts[static_cast<size_t>(i)]);
    };
    // stbtt__get_subrs: a Private DICT [size, offset] and the Subrs INDEX at
    // its offset plus the Private DICT's offset.
    auto check_private = [&](const cff_buf &dict, const char *what) {
        uint32_t private_dict[2] = {0, 0};
        dict_ints(dict, 18, 2, private_dict);
        if (!private_dict[0] || !private_dict[1]) return true;
        if (private_dict[1] > cff.size || private_dict[0] > cff.size - private_dict[1]) {
            return refuse("the CFF %s's Private DICT lies outside the table", what);
        }
        uint32_t subrs = 0;
        dict_ints(whole.range(private_dict[1], private_dict[0]), 19, 1, &subrs);
        if (!subrs) return true;
        cff_index index;
        return index_at(static_cast<int64_t>(static_cast<uint32_t>(private_dict[1] + subrs)), "local subroutines",
                        &index);
    };

    cff_index names, top_dicts, strings, global_subrs, charstrings;
    const int header_size = cff.byte(2);
    if (header_size < 4) return refuse("the CFF header size (%d) is too small", header_size);
    if (!index_at(header_size, "Name INDEX", &names) || !index_at(names.end, "Top DICT INDEX", &top_dicts) ||
        !index_at(top_dicts.end, "String INDEX", &strings) ||
        !index_at(strings.end, "global subroutines", &global_subrs)) {
        return false;
    }
    if (top_dicts.count < 1) return refuse("the CFF table has no Top DICT");
    const cff_buf top = element(top_dicts, 0);
    uint32_t charstrings_at = 0, charstring_type = 2, fd_array = 0, fd_select = 0;
    dict_ints(top, 17, 1, &charstrings_at);
    dict_ints(top, 0x100 | 6, 1, &charstring_type);
    dict_ints(top, 0x100 | 36, 1, &fd_array);
    dict_ints(top, 0x100 | 37, 1, &fd_select);
    if (charstring_type != 2) return refuse("CFF charstring type %u is not supported", charstring_type);
    if (charstrings_at == 0) return refuse("the CFF table has no CharStrings");
    if (!check_private(top, "Top DICT")) return false;
    if (!index_at(charstrings_at, "CharStrings INDEX", &charstrings)) return false;
    if (charstrings.count < glyph_count_) {
        return refuse("the CFF table has %d charstrings for %d glyphs", static_cast<int>(charstrings.count),
                      glyph_count_);
    }
    if (!fd_array) return true;

    // CID-keyed: each glyph's local subroutines come from the font DICT its
    // FDSelect entry names.
    if (!fd_select) return refuse("the CID-keyed CFF font has no FDSelect");
    cff_index font_dicts;
    if (!index_at(fd_array, "FDArray", &font_dicts)) return false;
    if (font_dicts.count < 1) return refuse("the CFF FDArray is empty");
    for (int64_t i = 0; i < font_dicts.count; ++i) {
        if (!check_private(element(font_dicts, i), "font DICT")) return false;
    }
    if (fd_select >= cff.size) return refuse("the CFF FDSelect lies outside the table");
    const uint64_t at = fd_select;
    const int format = cff.byte(at);
    if (format == 0) {
        if (!cff.has(at + 1, static_cast<uint64_t>(glyph_count_))) return refuse("the CFF FDSelect is cut short");
        for (int g = 0; g < glyph_count_; ++g) {
            if (cff.byte(at + 1 + static_cast<uint64_t>(g)) >= font_dicts.count)
                return refuse("the CFF FDSelect names a missing font DICT");
        }
    } else if (format == 3) {
        if (!cff.has(at, 5)) return refuse("the CFF FDSelect is cut short");
        const uint64_t ranges = cff.u16(at + 1);
        if (!cff.has(at + 5, 3 * ranges)) return refuse("the CFF FDSelect's ranges run past the table");
        for (uint64_t r = 0; r < ranges; ++r) {
            if (cff.byte(at + 5 + 3 * r) >= font_dicts.count)
                return refuse("the CFF FDSelect names a missing font DICT");
        }
    } else {
        return refuse("CFF FDSelect format %d is not supported", format);
    }
    return true;
}

bool checker::run(int index, font_layout *layout) {
    if (!locate(index)) return false;
    table cmap, loca, head, glyf, hhea, hmtx, kern, gpos, maxp, cff, cbdt, cblc, sbix, colr;
    if (!find("cmap", &cmap) || !find("loca", &loca) || !find("head", &head) || !find("glyf", &glyf) ||
        !find("hhea", &hhea) || !find("hmtx", &hmtx) || !find("kern", &kern) || !find("GPOS", &gpos) ||
        !find("maxp", &maxp) || !find("CFF ", &cff) || !find("CBDT", &cbdt) || !find("CBLC", &cblc) ||
        !find("sbix", &sbix) || !find("COLR", &colr)) {
        return false;
    }
    const char *missing = !cmap.present()   ? "cmap"
                          : !head.present() ? "head"
                          : !hhea.present() ? "hhea"
                          : !hmtx.present() ? "hmtx"
                          : !maxp.present() ? "maxp"
                                            : nullptr;
    if (missing) return refuse("the font has no '%s' table", missing);
    if (!check_metrics(head, hhea, hmtx, maxp) || !check_cmap(cmap)) return false;
    layout->outlines = true;
    if (glyf.present()) {  // TrueType outlines win when both kinds are present
        if (!loca.present()) return refuse("the font has a 'glyf' table but no 'loca' table");
        if (!check_glyphs(head, loca, glyf)) return false;
    } else if (cff.present()) {
        if (!check_cff(cff)) return false;
    } else if ((cbdt.present() && cblc.present()) || sbix.present() || colr.present()) {
        // Colour glyphs alone: HarfBuzz checks those tables itself when it
        // first reads them, and stb_truetype is never asked for an outline.
        layout->outlines = false;
    } else {
        return refuse(
            "the font has no outlines ('glyf' or 'CFF ' table) and no colour glyphs ('CBDT', 'sbix' or 'COLR' table)");
    }
    if (gpos.present()) {
        if (!check_gpos(gpos)) return false;
    } else if (kern.present() && !check_kern(kern)) {
        return false;
    }
    layout->fontstart = static_cast<int>(fontstart_);
    layout->glyph_count = glyph_count_;
    return true;
}

}  // namespace

imgtext_status validate_font(const unsigned char *data, size_t size, int index, font_layout *layout,
                             const char **problem) noexcept {
    thread_local char message[200];
    *problem = message;
    try {
        checker check(data, size, message, sizeof message);
        return check.run(index, layout) ? IMGTEXT_OK : IMGTEXT_ERROR_DECODE;
    } catch (const std::bad_alloc &) {  // the glyph tables' bookkeeping
        return IMGTEXT_ERROR_MEMORY;
    }
}

}  // namespace imgtext
