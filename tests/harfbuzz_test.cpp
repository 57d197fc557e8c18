// HarfBuzz as the library compiles it in: the built-in font's bytes shaped by
// the same objects the shared library ships, against hb-shape 6.0.0 (Debian
// bookworm's libharfbuzz-bin, an independent build) and against the
// library's own reading of the font's cmap, hmtx and GPOS kerning.
#include <gtest/gtest.h>
#include <hb.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "font/font.h"
#include "font/font_data.h"

namespace {

struct shaped_glyph {
    unsigned glyph;
    int advance;  // font units
    bool operator==(const shaped_glyph &) const = default;
    friend void PrintTo(const shaped_glyph &g, std::ostream *os) { *os << g.glyph << '+' << g.advance; }
};

template <class T, void (*destroy)(T *)>
struct hb_deleter {
    void operator()(T *object) const { destroy(object); }
};
template <class T, void (*destroy)(T *)>
using hb_ptr = std::unique_ptr<T, hb_deleter<T, destroy>>;

struct hb_builtin_font {
    hb_ptr<hb_blob_t, hb_blob_destroy> blob{hb_blob_create(reinterpret_cast<const char *>(imgtext::s_font_data),
                                                           imgtext::k_font_data_size, HB_MEMORY_MODE_READONLY, nullptr,
                                                           nullptr)};
    hb_ptr<hb_face_t, hb_face_destroy> face{hb_face_create(blob.get(), 0)};
    // A new font's scale is the face's units per em: advances in font units.
    hb_ptr<hb_font_t, hb_font_destroy> font{hb_font_create(face.get())};
};

// Shapes text as English, left to right. Latin with this font maps each
// letter to one glyph in order, moved by nothing but its advance.
std::vector<shaped_glyph> shape(const std::string &text) {
    hb_builtin_font built_in;
    hb_ptr<hb_buffer_t, hb_buffer_destroy> buffer{hb_buffer_create()};
    hb_buffer_add_utf8(buffer.get(), text.data(), static_cast<int>(text.size()), 0, -1);
    hb_buffer_set_direction(buffer.get(), HB_DIRECTION_LTR);
    hb_buffer_set_script(buffer.get(), HB_SCRIPT_LATIN);
    hb_buffer_set_language(buffer.get(), hb_language_from_string("en", -1));
    hb_shape(built_in.font.get(), buffer.get(), nullptr, 0);

    unsigned count = 0;
    const hb_glyph_info_t *info = hb_buffer_get_glyph_infos(buffer.get(), &count);
    const hb_glyph_position_t *position = hb_buffer_get_glyph_positions(buffer.get(), nullptr);
    std::vector<shaped_glyph> glyphs;
    for (unsigned i = 0; i < count; ++i) {
        EXPECT_EQ(info[i].cluster, i);
        EXPECT_EQ(position[i].x_offset, 0);
        EXPECT_EQ(position[i].y_offset, 0);
        EXPECT_EQ(position[i].y_advance, 0);
        glyphs.push_back({info[i].codepoint, position[i].x_advance});
    }
    return glyphs;
}

// What the library's own font queries say the same text is: a glyph per
// byte, each advance plus its kerning with the next.
std::vector<shaped_glyph> from_font_queries(const std::string &text) {
    const imgtext::font_face &font = *imgtext::builtin_font();
    std::vector<shaped_glyph> glyphs;
    for (size_t i = 0; i < text.size(); ++i) {
        int glyph = imgtext::glyph_for_codepoint(font, text[i]);
        int kerning = i + 1 < text.size()
                          ? imgtext::glyph_kerning(font, glyph, imgtext::glyph_for_codepoint(font, text[i + 1]))
                          : 0;
        glyphs.push_back({static_cast<unsigned>(glyph), imgtext::glyph_advance(font, glyph) + kerning});
    }
    return glyphs;
}

TEST(HarfBuzz, IsThePinnedReleaseAndReadsTheBuiltinFont) {
    EXPECT_STREQ(hb_version_string(), "10.2.0");
    hb_builtin_font built_in;
    EXPECT_EQ(hb_face_get_upem(built_in.face.get()), 1000u);
    EXPECT_EQ(hb_face_get_glyph_count(built_in.face.get()), 420u);
}

struct shaping_case {
    const char *text;
    std::vector<shaped_glyph> hb_shape;  // `hb-shape --no-glyph-names Caladea-Regular.ttf <text>`
    friend void PrintTo(const shaping_case &c, std::ostream *os) { *os << '"' << c.text << '"'; }
};

class HarfBuzzShaping : public ::testing::TestWithParam<shaping_case> {};

TEST_P(HarfBuzzShaping, MatchesHbShapeAndTheFontsOwnTables) {
    std::vector<shaped_glyph> shaped = shape(GetParam().text);
    EXPECT_EQ(shaped, GetParam().hb_shape);
    EXPECT_EQ(shaped, from_font_queries(GetParam().text));
}

// A is 623 units wide and kerned by -59 before V (GPOS). Caladea has no
// ligatures (its GSUB has no lookups), so "office" keeps both f and the i.
INSTANTIATE_TEST_SUITE_P(
    BuiltinFont, HarfBuzzShaping,
    ::testing::Values(shaping_case{"AV", {{36, 564}, {57, 604}}},
                      shaping_case{"office", {{82, 531}, {73, 303}, {73, 303}, {76, 278}, {70, 441}, {72, 488}}}));

}  // namespace
