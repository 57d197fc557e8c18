// Shaping with HarfBuzz: one run of a paragraph (one font, script and
// direction) into glyphs with the font's GSUB and GPOS and the default
// features for its script, plus the style's own features and language.
// HarfBuzz's types stay inside shaping.cpp.
#ifndef IMGTEXT_TEXT_SHAPING_H
#define IMGTEXT_TEXT_SHAPING_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "quendal_imgtext.h"
#include "text/layout.h"

struct hb_feature_t;
struct hb_language_impl_t;

namespace imgtext {

// Checks a style's feature list ("-liga,smcp,ss01=1,kern=0": tags with
// optional values and ranges, as HarfBuzz reads them, separated by commas or
// spaces) and language (a BCP 47 tag such as "sr", "tr" or "zh-Hant").
// IMGTEXT_ERROR_ARGUMENT names the first malformed one.
imgtext_status check_features(const char *features);
imgtext_status check_language(const char *language);

// The features and language of one layout call, parsed once.
class shaping_setup {
public:
    explicit shaping_setup(const shaping_options &options);
    ~shaping_setup();
    shaping_setup(const shaping_setup &) = delete;
    shaping_setup &operator=(const shaping_setup &) = delete;

    const std::vector<hb_feature_t> &features() const { return features_; }
    // With letter spacing, as CSS has it: the optional ligatures (liga,
    // clig, dlig, hlig) off before the style's own features, which may turn
    // them back on, for runs of scripts that do not join (a joining
    // script's ligatures are part of its joining and stay).
    const std::vector<hb_feature_t> &spaced_features() const { return spaced_features_; }
    const hb_language_impl_t *language() const { return language_; }  // null for none

private:
    std::vector<hb_feature_t> features_, spaced_features_;
    const hb_language_impl_t *language_ = nullptr;
};

// One run: bytes [start, end) of a paragraph, in one font of the face,
// one script and one direction.
struct shaping_run {
    size_t start, end;
    int font;         // index into the face's fonts
    uint32_t script;  // a script as script_of gives it
    bool rtl;
};

// The Unicode Script of a code point, as HarfBuzz names scripts; Common and
// Inherited are reported as such (see is_common_script) for the caller to
// resolve from their neighbours.
uint32_t script_of(char32_t c);
bool is_common_script(uint32_t script);  // Common, Inherited or Unknown
// Scripts whose letters join cursively (Arabic, Syriac, N'Ko, Mongolian,
// Mandaic, Adlam ...): letter spacing never goes inside a run of one.
bool is_joining_script(uint32_t script);

// Shapes the run, with the whole paragraph as context (so that letters
// join across a change of font), and appends its glyphs to `glyphs` in
// visual order and their clusters (byte offsets into the paragraph) to
// `clusters`. Glyph indexes the font does not have are its missing glyph.
void shape_run(const text_face &face, const shaping_setup &setup, const char *paragraph, size_t paragraph_length,
               const shaping_run &run, std::vector<line_glyph> &glyphs, std::vector<uint32_t> &clusters);

}  // namespace imgtext

#endif
