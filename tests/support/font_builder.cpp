#include "font_builder.h"

#include <algorithm>
#include <map>

namespace test_support {

namespace {

using bytes = std::vector<uint8_t>;

struct writer {
    bytes out;
    writer &u8(int v) { return out.push_back(static_cast<uint8_t>(v)), *this; }
    writer &u16(int v) { return u8(v >> 8).u8(v); }
    writer &u32(uint32_t v) { return u16(static_cast<int>(v >> 16)).u16(static_cast<int>(v & 0xFFFF)); }
    writer &add(const bytes &b) { return out.insert(out.end(), b.begin(), b.end()), *this; }
};

uint32_t checksum(const bytes &b) {
    uint32_t sum = 0;
    for (size_t i = 0; i < b.size(); ++i) sum += static_cast<uint32_t>(b[i]) << (24 - 8 * (i % 4));
    return sum;
}

// An sfnt: table directory (tags sorted), each table 4-byte aligned.
bytes sfnt(uint32_t version, const std::map<std::string, bytes> &tables) {
    const int n = static_cast<int>(tables.size());
    int power = 1, log2 = 0;
    while (power * 2 <= n) power *= 2, ++log2;
    writer w;
    w.u32(version).u16(n).u16(power * 16).u16(log2).u16(n * 16 - power * 16);
    uint32_t offset = 12 + 16 * static_cast<uint32_t>(n);
    for (const auto &[tag, data] : tables) {
        for (char c : tag) w.u8(c);
        w.u32(checksum(data)).u32(offset).u32(static_cast<uint32_t>(data.size()));
        offset += (static_cast<uint32_t>(data.size()) + 3) & ~3u;
    }
    for (const auto &entry : tables) {
        w.add(entry.second);
        while (w.out.size() % 4) w.u8(0);
    }
    return w.out;
}

constexpr int glyph_count = 7;
// Code point -> glyph: space, A, V, Á, 一.
const std::vector<std::pair<int, int>> k_map = {{0x20, 6}, {0x41, 1}, {0x56, 2}, {0xC1, 4}, {0x4E00, 3}};

bytes cmap_table(bool with_format12) {
    // Format 4: one segment per code point plus the 0xFFFF terminator; 'V'
    // goes through the glyph index array, the rest through idDelta.
    const int segments = static_cast<int>(k_map.size()) + 1;
    writer f4;
    f4.u16(4).u16(0).u16(0).u16(segments * 2).u16(8).u16(2).u16(segments * 2 - 8);
    for (const auto &[cp, g] : k_map) f4.u16(cp);
    f4.u16(0xFFFF).u16(0);
    for (const auto &[cp, g] : k_map) f4.u16(cp);
    f4.u16(0xFFFF);
    for (const auto &[cp, g] : k_map) f4.u16(cp == 'V' ? 0 : (g - cp) & 0xFFFF);
    f4.u16(1);
    for (int i = 0; i < segments; ++i) {
        // idRangeOffset: from this word to the glyph index array after the last one.
        f4.u16(i < segments - 1 && k_map[i].first == 'V' ? (segments - i) * 2 : 0);
    }
    f4.u16(2);  // glyph index array: 'V'
    f4.out[2] = static_cast<uint8_t>(f4.out.size() >> 8), f4.out[3] = static_cast<uint8_t>(f4.out.size());

    writer f12;
    f12.u16(12)
        .u16(0)
        .u32(16 + 12 * static_cast<uint32_t>(k_map.size()))
        .u32(0)
        .u32(static_cast<uint32_t>(k_map.size()));
    auto sorted = k_map;
    std::sort(sorted.begin(), sorted.end());
    for (const auto &[cp, g] : sorted) f12.u32(cp).u32(cp).u32(g);

    writer w;
    const int records = with_format12 ? 2 : 1;
    w.u16(0).u16(records);
    w.u16(3).u16(1).u32(4 + 8 * records);
    if (with_format12) w.u16(3).u16(10).u32(4 + 8 * records + static_cast<uint32_t>(f4.out.size()));
    w.add(f4.out);
    if (with_format12) w.add(f12.out);
    return w.out;
}

struct point {
    int x, y;
    bool on;
};

// A simple glyph with every coordinate as a two-byte delta.
bytes simple_glyph(const std::vector<std::vector<point>> &contours) {
    int x0 = 1 << 20, y0 = 1 << 20, x1 = -(1 << 20), y1 = -(1 << 20);
    for (const auto &c : contours)
        for (const point &p : c)
            x0 = std::min(x0, p.x), y0 = std::min(y0, p.y), x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
    writer w;
    w.u16(static_cast<int>(contours.size())).u16(x0).u16(y0).u16(x1).u16(y1);
    int end = -1;
    for (const auto &c : contours) w.u16(end += static_cast<int>(c.size()));
    w.u16(0);  // no instructions
    for (const auto &c : contours)
        for (const point &p : c) w.u8(p.on ? 1 : 0);
    int last = 0;
    for (const auto &c : contours)
        for (const point &p : c) w.u16(p.x - last), last = p.x;
    last = 0;
    for (const auto &c : contours)
        for (const point &p : c) w.u16(p.y - last), last = p.y;
    return w.out;
}

// 'Á': 'A' unmoved (word arguments), then the accent moved and scaled by 3/4.
bytes composite_glyph(int accent) {
    writer w;
    w.u16(0xFFFF).u16(0).u16(0).u16(600).u16(900);
    w.u16(0x0001 | 0x0002 | 0x0020).u16(1).u16(0).u16(0);
    w.u16(0x0002 | 0x0008).u16(accent).u8(40).u8(100).u16(0x3000);
    return w.out;
}

bytes truetype_outlines(int accent, bytes *loca) {
    const std::vector<bytes> glyphs = {
        simple_glyph({{{50, 0, true}, {50, 700, true}, {450, 700, true}, {450, 0, true}}}),
        simple_glyph({{{0, 0, true}, {300, 700, true}, {600, 0, true}},
                      {{200, 200, true}, {400, 200, true}, {300, 400, false}}}),
        simple_glyph({{{0, 700, true}, {600, 700, true}, {300, 0, true}}}),
        simple_glyph({{{50, 300, true}, {50, 400, true}, {950, 400, true}, {950, 300, true}}}),
        composite_glyph(accent),
        simple_glyph({{{250, 750, false}, {350, 850, true}, {400, 750, true}}}),
        {},  // space: no outline
    };
    writer offsets, glyf;
    for (const bytes &g : glyphs) {
        offsets.u32(static_cast<uint32_t>(glyf.out.size()));
        glyf.add(g);
        while (glyf.out.size() % 4) glyf.u8(0);
    }
    offsets.u32(static_cast<uint32_t>(glyf.out.size()));
    *loca = offsets.out;
    return glyf.out;
}

// ---- CFF

void cff_int(writer &w, int v) {
    if (v >= -107 && v <= 107) {
        w.u8(v + 139);
    } else if (v >= 108 && v <= 1131) {
        w.u8(((v - 108) >> 8) + 247).u8((v - 108) & 0xFF);
    } else if (v >= -1131 && v <= -108) {
        w.u8(((-v - 108) >> 8) + 251).u8((-v - 108) & 0xFF);
    } else {
        w.u8(28).u16(v);
    }
}

// A DICT operand of fixed width, so offsets can be filled in after layout.
void dict_offset(writer &w, uint32_t v) { w.u8(29).u32(v); }

constexpr int rmoveto = cff_op(21), rlineto = cff_op(5), hlineto = cff_op(6), rrcurveto = cff_op(8),
              endchar = cff_op(14), callsubr = cff_op(10), callgsubr = cff_op(29), ret = cff_op(11),
              hstemhm = cff_op(18), hintmask = cff_op(19);

bytes cff_index(const std::vector<bytes> &items) {
    writer w;
    w.u16(static_cast<int>(items.size()));
    if (items.empty()) return w.out;
    w.u8(4);
    uint32_t offset = 1;
    for (const bytes &item : items) w.u32(offset), offset += static_cast<uint32_t>(item.size());
    w.u32(offset);
    for (const bytes &item : items) w.add(item);
    return w.out;
}

bytes cff_table(const tiny_font_options &options) {
    const bool cid = options.cid;
    const bytes accent_subr = charstring({250, 750, rmoveto, 100, 0, 0, 100, -100, 0, rrcurveto, ret});
    bytes hinted_a = charstring({0, 100, 200, 50, hstemhm, hintmask});
    hinted_a.push_back(0xC0);  // two stems: one mask byte
    const bytes a_body = charstring({0, 0, rmoveto, 300, 700, rlineto, 300, -700, rlineto});
    hinted_a.insert(hinted_a.end(), a_body.begin(), a_body.end());
    hinted_a.push_back(14);
    std::vector<bytes> glyphs = {
        charstring({50, 0, rmoveto, 0, 700, rlineto, 400, 0, rlineto, 0, -700, rlineto, endchar}),
        hinted_a,
        charstring({0, 700, rmoveto, 600, 0, rlineto, -300, -700, rlineto, endchar}),
        charstring({50, 300, rmoveto, 900, 100, -900, hlineto, endchar}),
        charstring({-107, callsubr, -107, callgsubr, endchar}),  // local subr 0 ('A'), global subr 0 (accent)
        charstring({250, 750, rmoveto, 100, 0, 0, 100, -100, 0, rrcurveto, endchar}),
        charstring({endchar}),
    };
    for (const auto &[glyph, program] : options.cff_charstrings) glyphs.at(static_cast<size_t>(glyph)) = program;
    bytes local_subr = a_body;
    local_subr.push_back(11);

    // Layout: header, Name, Top DICT, String and Global Subr INDEXes, then
    // CharStrings, the Private DICT with its Subrs, and for CID fonts the
    // FDSelect and FDArray.
    const bytes header = {1, 0, 4, 4};
    const bytes names = cff_index({{'T', 'i', 'n', 'y'}});
    const bytes strings = cff_index({});
    const bytes gsubrs =
        cff_index(options.cff_global_subrs.empty() ? std::vector<bytes>{accent_subr} : options.cff_global_subrs);
    const bytes charstrings = cff_index(glyphs);
    const bytes subrs = cff_index({local_subr});
    const size_t top_dict_size = cid ? 6 + 7 + 7 : 6 + 11;
    const size_t top_index_size = 2 + 1 + 8 + top_dict_size;
    const uint32_t charstrings_at =
        static_cast<uint32_t>(header.size() + names.size() + top_index_size + strings.size() + gsubrs.size());
    const uint32_t private_size = 6;  // Subrs operand and operator
    const uint32_t private_at = charstrings_at + static_cast<uint32_t>(charstrings.size());
    const uint32_t fdselect_at = private_at + private_size + static_cast<uint32_t>(subrs.size());
    const uint32_t fdarray_at = fdselect_at + 8;

    // The Private operator: its DICT's size and offset.
    auto private_entry = [&](writer &d) { dict_offset(d, private_size), dict_offset(d, private_at), d.u8(18); };
    writer private_dict;
    dict_offset(private_dict, private_size);
    private_dict.u8(19);
    writer top;
    dict_offset(top, charstrings_at);
    top.u8(17);
    if (cid) {
        dict_offset(top, fdarray_at);
        top.u8(12).u8(36);
        dict_offset(top, fdselect_at);
        top.u8(12).u8(37);
    } else {
        private_entry(top);
    }
    writer w;
    w.add(header).add(names).add(cff_index({top.out})).add(strings).add(gsubrs).add(charstrings);
    w.add(private_dict.out).add(subrs);
    if (cid) {
        w.u8(3).u16(1).u16(0).u8(0).u16(glyph_count);  // FDSelect format 3: one range, all glyphs in FD 0
        writer font_dict;
        private_entry(font_dict);
        w.add(cff_index({font_dict.out}));
    }
    return w.out;
}

bytes kerning_table(int kind) {
    writer w;
    if (kind == 0) {  // kern: one horizontal format 0 subtable, one pair
        w.u16(0).u16(1).u16(0).u16(20).u16(1).u16(1).u16(6).u16(0).u16(0).u16(1).u16(2).u16(-80);
        return w.out;
    }
    // GPOS: the default script's one feature, kern, with one pair
    // adjustment lookup (shapers apply only what a feature names).
    w.u32(0x00010000).u16(10).u16(30).u16(44);
    w.u16(1).u32(0x44464C54).u16(8);                    // ScriptList at 10: DFLT at +8
    w.u16(4).u16(0);                                    // Script: default language system at +4
    w.u16(0).u16(0xFFFF).u16(1).u16(0);                 // LangSys: feature 0
    w.u16(1).u32(0x6B65726E).u16(8);                    // FeatureList at 30: kern at +8
    w.u16(0).u16(1).u16(0);                             // Feature: lookup 0
    w.u16(1).u16(4);                                    // LookupList at 44: one lookup at +4
    w.u16(2).u16(0).u16(1).u16(8);                      // Lookup: type 2, one subtable at +8
    if (kind == 1) {                                    // PairPos format 1
        w.u16(1).u16(12).u16(4).u16(0).u16(1).u16(18);  // coverage at +12, one pair set at +18
        w.u16(1).u16(1).u16(1);                         // Coverage format 1: glyph 1
        w.u16(1).u16(2).u16(-80);                       // PairSet: V, -80
    } else {                                            // PairPos format 2
        w.u16(2).u16(24).u16(4).u16(0).u16(34).u16(42).u16(2).u16(2);
        w.u16(0).u16(0).u16(0).u16(-80);       // class1 x class2 values
        w.u16(2).u16(1).u16(1).u16(1).u16(0);  // Coverage format 2: glyph 1, index 0
        w.u16(1).u16(1).u16(1).u16(1);         // ClassDef format 1: glyph 1 is class 1
        w.u16(2).u16(1).u16(2).u16(2).u16(1);  // ClassDef format 2: glyph 2 is class 1
    }
    return w.out;
}

}  // namespace

std::vector<uint8_t> charstring(std::initializer_list<int> operands_and_ops) {
    writer w;
    for (int v : operands_and_ops) {
        if (v <= cff_op(1200))
            w.u8(12).u8(cff_op(1200) - v);
        else if (v <= cff_op(0))
            w.u8(cff_op(0) - v);
        else
            cff_int(w, v);
    }
    return w.out;
}

std::vector<std::vector<uint8_t>> cff_call_chain(int fanout, int levels) {
    std::vector<bytes> subrs;
    for (int level = 0; level < levels; ++level) {
        writer w;
        for (int call = 0; call < fanout && level + 1 < levels; ++call) w.add(charstring({level + 1 - 107, callgsubr}));
        w.add(charstring({ret}));
        subrs.push_back(w.out);
    }
    return subrs;
}

int64_t cff_call_chain_steps(int fanout, int levels, int level) {
    int64_t body = 1;  // the last subroutine's return
    for (int l = levels - 2; l >= level; --l) body = fanout * (2 + body) + 1;
    return 2 + body;
}

namespace {

// ---- colour glyphs

bytes colr_tables(bytes *cpal) {
    writer colr;
    colr.u16(0).u16(1).u32(14).u32(20).u16(2);  // one base glyph record, two layer records
    colr.u16(3).u16(0).u16(2);                  // glyph 3: layers 0 and 1
    colr.u16(3).u16(0).u16(5).u16(0xFFFF);      // itself in entry 0, the accent in the text colour
    writer palette;
    palette.u16(0).u16(1).u16(1).u16(1).u32(14).u16(0);
    palette.u8(0).u8(0).u8(255).u8(255);  // BGRA: opaque red
    *cpal = palette.out;
    return colr.out;
}

bytes colr1_tables(bytes *cpal) {
    writer colr;
    colr.u16(1).u16(0).u32(0).u32(0).u16(0);             // version 1, no COLRv0 records
    colr.u32(34).u32(0).u32(0).u32(0).u32(0);            // the base glyph list at 34; no layers, clips or variations
    colr.u32(1).u16(3).u32(10);                          // glyph 3: the paint 10 bytes into the list
    colr.u8(32).u8(0).u16(8).u8(3).u8(0).u16(45);        // PaintComposite: source at +8, SRC_OVER, backdrop at +45
    colr.u8(10).u8(0).u16(6).u16(5);                     // PaintGlyph: the accent, its paint at +6
    colr.u8(4).u8(0).u16(16);                            // PaintLinearGradient: its colour line at +16,
    colr.u16(0).u16(0).u16(300).u16(0).u16(0).u16(300);  // from (0, 0) to (300, 0), (0, 300)
    colr.u8(1).u16(2);                                   // a repeating line of two stops:
    colr.u16(0).u16(0).u16(0x4000).u16(0x4000).u16(0xFFFF).u16(0x4000);  // entry 0, then the text colour
    colr.u8(10).u8(0).u16(6).u16(3);                                     // PaintGlyph: glyph 3, its paint at +6
    colr.u8(2).u16(0).u16(0x2000);                                       // PaintSolid: entry 0 at half alpha
    writer palette;
    palette.u16(0).u16(1).u16(1).u16(1).u32(14).u16(0);
    palette.u8(0).u8(0).u8(255).u8(255);  // BGRA: opaque red
    *cpal = palette.out;
    return colr.out;
}

// One strike of one glyph (3) in index format 1 and image format 17 (PNG
// with small metrics).
bytes cbdt_tables(const bytes &png, bytes *cblc) {
    writer cbdt;
    cbdt.u16(3).u16(0);
    cbdt.u8(20).u8(20).u8(0).u8(16).u8(20);  // height, width, bearing x and y, advance
    cbdt.u32(static_cast<uint32_t>(png.size())).add(png);
    writer c;
    c.u16(3).u16(0).u32(1);
    c.u32(8 + 48).u32(8 + 16).u32(1).u32(0);  // index subtable array, its size, one subtable
    for (int i = 0; i < 24; ++i) c.u8(i == 0 ? 16 : i == 1 ? static_cast<uint8_t>(-4) : 0);  // line metrics
    c.u16(3).u16(3).u8(100).u8(100).u8(32).u8(1);  // glyphs 3..3, 100 ppem, 32 bits, horizontal
    c.u16(3).u16(3).u32(8);                        // the subtable, 8 bytes after the array
    c.u16(1).u16(17).u32(4);                       // format 1, PNG, data from CBDT offset 4
    c.u32(0).u32(static_cast<uint32_t>(cbdt.out.size()) - 4);
    *cblc = c.out;
    return cbdt.out;
}

}  // namespace

std::vector<uint8_t> tiny_font(const tiny_font_options &options) {
    std::map<std::string, bytes> tables;
    tables["cmap"] = cmap_table(options.cmap12);
    writer head;
    head.u32(0x00010000).u32(0x00010000).u32(0).u32(0x5F0F3CF5).u16(0).u16(1000);
    for (int i = 0; i < 4; ++i) head.u32(0);  // created, modified
    head.u16(0).u16(-200).u16(1000).u16(900).u16(0).u16(8).u16(2).u16(1).u16(0);
    tables["head"] = head.out;
    writer hhea;
    hhea.u32(0x00010000).u16(800).u16(-200).u16(100).u16(1000);
    for (int i = 0; i < 11; ++i) hhea.u16(0);
    hhea.u16(glyph_count);
    tables["hhea"] = hhea.out;
    writer hmtx;
    const int advances[glyph_count] = {500, 600, 600, 1000, 600, 400, 250};
    for (int advance : advances) hmtx.u16(advance).u16(0);
    tables["hmtx"] = hmtx.out;
    writer maxp;
    if (options.cff) {
        maxp.u32(0x00005000).u16(glyph_count);
        tables["CFF "] = cff_table(options);
    } else {
        maxp.u32(0x00010000).u16(glyph_count);
        for (int i = 0; i < 13; ++i) maxp.u16(i == 4 ? 2 : i == 12 ? 1 : 0);  // maxZones 2, maxComponentDepth 1
        bytes loca;
        if (options.outlines) {
            tables["glyf"] = truetype_outlines(options.accent_glyph, &loca);
            tables["loca"] = loca;
        }
    }
    if (options.colr) tables["COLR"] = colr_tables(&tables["CPAL"]);
    if (options.colr1) tables["COLR"] = colr1_tables(&tables["CPAL"]);
    if (!options.cbdt_png.empty()) tables["CBDT"] = cbdt_tables(options.cbdt_png, &tables["CBLC"]);
    tables["maxp"] = maxp.out;
    if (options.kerning == 0) tables["kern"] = kerning_table(0);
    if (options.kerning > 0) tables["GPOS"] = kerning_table(options.kerning);
    return sfnt(options.cff ? 0x4F54544F : 0x00010000, tables);
}

std::vector<uint8_t> collection_bytes(const std::vector<std::vector<uint8_t>> &fonts) {
    writer w;
    w.u32(0x74746366).u32(0x00010000).u32(static_cast<uint32_t>(fonts.size()));
    uint32_t at = 12 + 4 * static_cast<uint32_t>(fonts.size());
    for (const bytes &font : fonts) w.u32(at), at += static_cast<uint32_t>((font.size() + 3) & ~size_t{3});
    for (const bytes &font : fonts) {
        // Table offsets in a collection count from the start of the file.
        const uint32_t base = static_cast<uint32_t>(w.out.size());
        bytes copy = font;
        const int tables = copy[4] << 8 | copy[5];
        for (int i = 0; i < tables; ++i) {
            uint8_t *p = &copy[12 + 16 * i + 8];
            const uint32_t offset = (uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]) + base;
            p[0] = static_cast<uint8_t>(offset >> 24), p[1] = static_cast<uint8_t>(offset >> 16);
            p[2] = static_cast<uint8_t>(offset >> 8), p[3] = static_cast<uint8_t>(offset);
        }
        w.add(copy);
        while (w.out.size() % 4) w.u8(0);
    }
    return w.out;
}

}  // namespace test_support
