// Shaping runs of text with HarfBuzz, at the font's own units (each font's
// HarfBuzz object is made once, at load, with its scale at units per em),
// so that positions come back as integers and are scaled to pixels here in
// single precision, as the simple layout scales advances.
#include "text/shaping.h"

#include <hb.h>

#include <cstring>
#include <new>

#include "frame/errors.h"

namespace imgtext {

namespace {

// A list separator: commas and white space.
bool is_separator(char c) { return c == ',' || c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Calls visit(start, length) for each item of a separated list.
template <typename Visit>
bool for_each_item(const char *list, Visit visit) {
    for (const char *p = list; *p;) {
        while (*p && is_separator(*p)) ++p;
        const char *start = p;
        while (*p && !is_separator(*p)) ++p;
        if (p > start && !visit(start, static_cast<int>(p - start))) return false;
    }
    return true;
}

bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_alnum(char c) { return is_alpha(c) || (c >= '0' && c <= '9'); }

// BCP 47's shape: a primary subtag of 2 to 8 letters, then subtags of 1 to
// 8 letters or digits, separated by hyphens (or underscores, as in POSIX
// locale names).
bool is_language_tag(const char *tag) {
    size_t length = 0;
    bool primary = true;
    for (const char *p = tag;; ++p) {
        if (*p == '\0' || *p == '-' || *p == '_') {
            if (length == 0 || length > 8 || (primary && length < 2)) return false;
            if (*p == '\0') return true;
            length = 0, primary = false;
            continue;
        }
        if (!(primary ? is_alpha(*p) : is_alnum(*p))) return false;
        ++length;
    }
}

hb_script_t resolved_script(uint32_t script) { return static_cast<hb_script_t>(script); }

}  // namespace

imgtext_status check_features(const char *features) {
    if (!features) return IMGTEXT_OK;
    const char *bad = nullptr;
    int bad_length = 0;
    for_each_item(features, [&](const char *item, int length) {
        hb_feature_t feature;
        if (hb_feature_from_string(item, length, &feature)) return true;
        bad = item, bad_length = length;
        return false;
    });
    if (!bad) return IMGTEXT_OK;
    return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: malformed OpenType feature '%.*s'",
                     bad_length > 64 ? 64 : bad_length, bad);
}

imgtext_status check_language(const char *language) {
    if (!language || is_language_tag(language)) return IMGTEXT_OK;
    return set_error(IMGTEXT_ERROR_ARGUMENT, "invalid argument: malformed language tag '%.64s'", language);
}

shaping_setup::shaping_setup(const shaping_options &options) {
    if (options.features) {
        for_each_item(options.features, [&](const char *item, int length) {
            hb_feature_t feature;
            if (hb_feature_from_string(item, length, &feature)) features_.push_back(feature);
            return true;
        });
    }
    if (options.language) language_ = hb_language_from_string(options.language, -1);
    if (options.spaced) {
        for (const char *tag : {"liga", "clig", "dlig", "hlig"}) {
            spaced_features_.push_back(
                hb_feature_t{hb_tag_from_string(tag, 4), 0, HB_FEATURE_GLOBAL_START, HB_FEATURE_GLOBAL_END});
        }
        spaced_features_.insert(spaced_features_.end(), features_.begin(), features_.end());
    }
}

shaping_setup::~shaping_setup() = default;

uint32_t script_of(char32_t c) {
    return static_cast<uint32_t>(hb_unicode_script(hb_unicode_funcs_get_default(), static_cast<hb_codepoint_t>(c)));
}

bool is_common_script(uint32_t script) {
    const auto s = static_cast<hb_script_t>(script);
    return s == HB_SCRIPT_COMMON || s == HB_SCRIPT_INHERITED || s == HB_SCRIPT_UNKNOWN;
}

bool is_joining_script(uint32_t script) {
    switch (static_cast<hb_script_t>(script)) {
        case HB_SCRIPT_ARABIC:
        case HB_SCRIPT_SYRIAC:
        case HB_SCRIPT_NKO:
        case HB_SCRIPT_MONGOLIAN:
        case HB_SCRIPT_PHAGS_PA:
        case HB_SCRIPT_MANDAIC:
        case HB_SCRIPT_MANICHAEAN:
        case HB_SCRIPT_PSALTER_PAHLAVI:
        case HB_SCRIPT_ADLAM:
        case HB_SCRIPT_HANIFI_ROHINGYA:
        case HB_SCRIPT_SOGDIAN:
        case HB_SCRIPT_CHORASMIAN:
        case HB_SCRIPT_OLD_UYGHUR: return true;
        default: return false;
    }
}

void shape_run(const text_face &face, const shaping_setup &setup, const char *paragraph, size_t paragraph_length,
               const shaping_run &run, std::vector<line_glyph> &glyphs, std::vector<uint32_t> &clusters) {
    const face_font &f = face.fonts[run.font];
    hb_buffer_t *buffer = hb_buffer_create();
    // The paragraph goes in whole and the run is marked as the part to
    // shape: what lies around it is context (joining, reordering) only.
    hb_buffer_add_utf8(buffer, paragraph, static_cast<int>(paragraph_length), static_cast<unsigned>(run.start),
                       static_cast<int>(run.end - run.start));
    hb_buffer_set_direction(buffer, run.rtl ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_buffer_set_script(buffer, resolved_script(run.script));
    // Never the process's locale: a language changes glyphs, and output must
    // not depend on the machine.
    if (setup.language()) hb_buffer_set_language(buffer, setup.language());
    const std::vector<hb_feature_t> &features =
        setup.spaced_features().empty() || is_joining_script(run.script) ? setup.features() : setup.spaced_features();
    hb_shape(harfbuzz_font(*f.font), buffer, features.data(), static_cast<unsigned>(features.size()));

    // HarfBuzz reports a failed allocation only here; the export's guard
    // turns this into IMGTEXT_ERROR_MEMORY.
    if (!hb_buffer_allocation_successful(buffer)) {
        hb_buffer_destroy(buffer);
        throw std::bad_alloc();
    }
    unsigned count = 0;
    const hb_glyph_info_t *info = hb_buffer_get_glyph_infos(buffer, &count);
    const hb_glyph_position_t *position = hb_buffer_get_glyph_positions(buffer, &count);
    const int glyph_count = font_glyph_count(*f.font);
    glyphs.reserve(glyphs.size() + count);
    clusters.reserve(clusters.size() + count);
    for (unsigned i = 0; i < count; ++i) {
        line_glyph g{};
        g.font = static_cast<uint16_t>(run.font);
        // A hostile GSUB may substitute any number: only glyphs the font has
        // (and its validation covered) reach the rasteriser.
        g.glyph = info[i].codepoint < static_cast<unsigned>(glyph_count) ? info[i].codepoint : 0;
        g.advance = static_cast<float>(position[i].x_advance) * f.scale;
        g.dx = static_cast<float>(position[i].x_offset) * f.scale;
        g.dy = -(static_cast<float>(position[i].y_offset) * f.scale);
        glyphs.push_back(g);
        clusters.push_back(info[i].cluster);
    }
    hb_buffer_destroy(buffer);
}

}  // namespace imgtext
