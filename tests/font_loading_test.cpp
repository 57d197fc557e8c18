// Loading fonts through the shared library: Caladea from memory and from its
// file against the built-in font, collections, CFF outlines, and damaged or
// hostile files, which must be refused (DECODE, with a message) or drawn
// without fault. Run under the asan preset, the damage sweeps check every
// read the font reader makes.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "api_support.h"
#include "drawing/drawing.h"
#include "font/font.h"
#include "font/font_data.h"
#include "font_builder.h"
#include "quendal_imgtext.h"
#include "test_support.h"

namespace ts = test_support;

namespace {

// The built-in font's own bytes: the pinned Caladea file.
std::vector<uint8_t> caladea() { return {imgtext::s_font_data, imgtext::s_font_data + imgtext::k_font_data_size}; }

struct font_handle {
    imgtext_font *font = nullptr;
    imgtext_status status = IMGTEXT_OK;
    std::string message;
    font_handle(const std::vector<uint8_t> &bytes, int index) {
        status = imgtext_font_load_memory(bytes.data(), bytes.size(), index, &font);
        message = imgtext_error_message();
    }
    ~font_handle() { imgtext_font_free(font); }
    font_handle(const font_handle &) = delete;
    font_handle &operator=(const font_handle &) = delete;
};

struct drawing {
    imgtext_text_metrics metrics{};
    std::vector<uint8_t> pixels;
};

// Measures and draws text in the font at a pixel height onto a dark 160 x 60 canvas.
drawing draw(const imgtext_font *font, const char *text, float size = 28.0f) {
    imgtext_text_style style = ts::style_of(size);
    style.font = font;
    drawing out;
    out.metrics.struct_size = sizeof out.metrics;
    ts::image_handle image;
    EXPECT_EQ(imgtext_image_create(160, 60, {0, 0, 0, 255}, &image.p), IMGTEXT_OK);
    EXPECT_EQ(imgtext_draw_text(image.p, text, IMGTEXT_NUL_TERMINATED, 4, 4, IMGTEXT_TOP_LEFT, &style, &out.metrics),
              IMGTEXT_OK)
        << imgtext_error_message();
    out.pixels = ts::pixels_of(image.p).pixels;
    return out;
}

int lit_pixels(const drawing &d) {
    int lit = 0;
    for (size_t i = 0; i < d.pixels.size(); i += 4) lit += d.pixels[i] != 0;
    return lit;
}

int width_of(const imgtext_font *font, const char *text) { return draw(font, text, 100.0f).metrics.width; }

// A damaged font is refused as undecodable, with a message, or loads and draws.
void expect_refused_or_drawn(const std::vector<uint8_t> &bytes, const std::string &what) {
    const font_handle f(bytes, 0);
    if (f.status == IMGTEXT_OK) {
        // Drawn, it draws the same twice (nothing read that the checks did
        // not cover), within the box its measure gives.
        const char *const text = "Hello AV W\xC3\xA9 \xE4\xB8\x80 fi \xC3\x81";
        const drawing first = draw(f.font, text, 23.0f), again = draw(f.font, text, 23.0f);
        EXPECT_TRUE(first.pixels == again.pixels) << what;
        imgtext_text_style style = ts::style_of(23.0f);
        style.font = f.font;
        imgtext_text_metrics measured;
        imgtext_text_metrics_init(&measured);
        ASSERT_EQ(imgtext_measure_text(text, IMGTEXT_NUL_TERMINATED, &style, &measured, nullptr, 0), IMGTEXT_OK)
            << what;
        EXPECT_EQ(std::pair(measured.width, measured.height), std::pair(first.metrics.width, first.metrics.height))
            << what;
    } else {
        ASSERT_EQ(f.status, IMGTEXT_ERROR_DECODE) << what;
        ASSERT_FALSE(f.message.empty()) << what;
    }
}

constexpr const char *k_sample = "Hamburgefonts AV W\xC3\xA9!";

TEST(FontLoading, CaladeaFromMemoryOrFileDrawsAsTheBuiltInFont) {
    const drawing builtin = draw(nullptr, k_sample);
    const font_handle from_memory(caladea(), 0);
    ASSERT_EQ(from_memory.status, IMGTEXT_OK) << from_memory.message;
    const ts::scratch_dir dir;
    ts::write_bytes(dir.path("Caladea-Regular.ttf"), caladea());
    imgtext_font *from_file = nullptr;
    ASSERT_EQ(imgtext_font_load(dir.path("Caladea-Regular.ttf").c_str(), 0, &from_file), IMGTEXT_OK)
        << imgtext_error_message();
    for (const imgtext_font *font :
         {static_cast<const imgtext_font *>(from_memory.font), static_cast<const imgtext_font *>(from_file)}) {
        const drawing loaded = draw(font, k_sample);
        EXPECT_EQ((std::vector<int>{loaded.metrics.width, loaded.metrics.height, loaded.metrics.ascent}),
                  (std::vector<int>{builtin.metrics.width, builtin.metrics.height, builtin.metrics.ascent}));
        EXPECT_EQ(loaded.pixels, builtin.pixels);
    }
    imgtext_font_free(from_file);
    EXPECT_GT(lit_pixels(builtin), 300);
}

TEST(FontLoading, CollectionPicksTheFontByIndexAndRefusesOthers) {
    const std::vector<uint8_t> tiny = ts::tiny_font({});
    const std::vector<uint8_t> both = ts::collection_bytes({tiny, caladea()});
    const font_handle first(both, 0), second(both, 1), missing(both, 2), negative(both, -1);
    ASSERT_EQ(first.status, IMGTEXT_OK) << first.message;
    ASSERT_EQ(second.status, IMGTEXT_OK) << second.message;
    EXPECT_EQ(draw(first.font, "AV").pixels, draw(font_handle(tiny, 0).font, "AV").pixels);
    EXPECT_EQ(draw(second.font, k_sample).pixels, draw(nullptr, k_sample).pixels);
    EXPECT_EQ(missing.status, IMGTEXT_ERROR_DECODE);
    EXPECT_EQ(missing.message, "cannot decode font: the collection holds 2 fonts: there is no font 2");
    EXPECT_EQ(negative.status, IMGTEXT_ERROR_DECODE);
    EXPECT_EQ(font_handle(tiny, 1).status, IMGTEXT_ERROR_DECODE);
}

TEST(FontLoading, TrueTypeAndCffOutlinesDrawTheSameGlyphsAndKern) {
    const struct {
        ts::tiny_font_options options;
        const char *name;
    } fonts[] = {
        {{}, "TrueType, kern table"},
        {{.kerning = 1}, "TrueType, GPOS pairs"},
        {{.kerning = 2, .cmap12 = true}, "TrueType, GPOS classes, format 12 map"},
        {{.cff = true}, "CFF"},
        {{.cff = true, .cid = true, .kerning = 2}, "CID-keyed CFF, GPOS classes"},
    };
    for (const auto &f : fonts) {
        SCOPED_TRACE(f.name);
        const font_handle font(ts::tiny_font(f.options), 0);
        ASSERT_EQ(font.status, IMGTEXT_OK) << font.message;
        // 1000 units per em, 1000 from ascender to descender: at 100 px a
        // unit is a tenth of a pixel, and A V kern by -80 units.
        EXPECT_EQ(width_of(font.font, "A"), 60);
        EXPECT_EQ(width_of(font.font, "AV"), 112);
        const drawing text = draw(font.font, "A\xC3\x81\xE4\xB8\x80");
        EXPECT_EQ(text.metrics.missing_glyphs, 0);
        EXPECT_EQ(text.metrics.ascent, 23);  // 800 units at 28 px: 22.4
        for (const char *glyph : {"A", "\xC3\x81", "\xE4\xB8\x80"})
            EXPECT_GT(lit_pixels(draw(font.font, glyph)), 20) << glyph;
        EXPECT_GT(lit_pixels(draw(font.font, "\xC3\x81")), lit_pixels(draw(font.font, "A")));  // the accent too
    }
}

TEST(FontLoading, TruncatedCaladeaIsRefusedOrDrawn) {
    const std::vector<uint8_t> font = caladea();
    for (size_t length = 1; length < font.size(); length += length < 600 ? 7 : 331) {
        expect_refused_or_drawn(std::vector<uint8_t>(font.begin(), font.begin() + static_cast<long>(length)),
                                "length " + std::to_string(length));
    }
}

// Every byte of the table directory and of the first 32 bytes of each table,
// and every 193rd byte elsewhere, set to 0, 0xFF and flipped in its top bit.
TEST(FontLoading, CorruptedCaladeaIsRefusedOrDrawn) {
    const std::vector<uint8_t> font = caladea();
    const size_t tables = static_cast<size_t>(font[4] << 8 | font[5]);
    std::vector<bool> chosen(font.size(), false);
    for (size_t i = 0; i < 12 + 16 * tables; ++i) chosen[i] = true;
    for (size_t t = 0; t < tables; ++t) {
        const uint8_t *entry = &font[12 + 16 * t + 8];
        const size_t offset = static_cast<size_t>(entry[0]) << 24 | entry[1] << 16 | entry[2] << 8 | entry[3];
        for (size_t i = offset; i < offset + 32 && i < font.size(); ++i) chosen[i] = true;
    }
    for (size_t i = 0; i < font.size(); i += 193) chosen[i] = true;
    size_t n = 0;  // under the sanitizers and memcheck, a sample of the chosen bytes
    for (size_t i = 0; i < font.size(); ++i) {
        if (!chosen[i] || n++ % ts::exhaustive_stride() != 0) continue;
        for (int value : {0x00, 0xFF, font[i] ^ 0x80}) {
            std::vector<uint8_t> damaged = font;
            damaged[i] = static_cast<uint8_t>(value);
            expect_refused_or_drawn(damaged, "byte " + std::to_string(i) + " = " + std::to_string(value));
        }
    }
}

TEST(FontLoading, CompositeGlyphThatContainsItselfIsRefused) {
    const font_handle f(ts::tiny_font({.accent_glyph = 4}), 0);
    EXPECT_EQ(f.status, IMGTEXT_ERROR_DECODE);
    EXPECT_EQ(f.message, "cannot decode font: glyph 4 is a component of itself");
}

// Ten global subroutines, each calling the next 40 times: 40^10 steps if
// run, so the glyph is given up on and the rest of the text is drawn.
TEST(FontLoading, CharstringThatRunsForEverDrawsNothing) {
    std::vector<std::vector<uint8_t>> subrs;
    for (int level = 0; level < 10; ++level) {
        std::vector<uint8_t> subr;
        for (int call = 0; call < 40 && level < 9; ++call) {
            const std::vector<uint8_t> step = ts::charstring({level + 1 - 107, ts::cff_op(29)});
            subr.insert(subr.end(), step.begin(), step.end());
        }
        const std::vector<uint8_t> tail = ts::charstring({10, 0, ts::cff_op(5), ts::cff_op(11)});
        subr.insert(subr.end(), tail.begin(), tail.end());
        subrs.push_back(subr);
    }
    const font_handle f(
        ts::tiny_font(
            {.cff = true,
             .cff_charstrings = {{4, ts::charstring({0, 0, ts::cff_op(21), -107, ts::cff_op(29), ts::cff_op(14)})}},
             .cff_global_subrs = subrs}),
        0);
    ASSERT_EQ(f.status, IMGTEXT_OK) << f.message;
    EXPECT_EQ(lit_pixels(draw(f.font, "\xC3\x81")), 0);
    EXPECT_EQ(draw(f.font, "A\xC3\x81").pixels, draw(f.font, "A").pixels);
}

// ---- CFF glyphs that cost many steps: a chain of nested subroutine calls
// a few hundred bytes long. 'A' calls the whole chain, 262,147 steps, over
// the limit of 2^18: it draws nothing. 'V' calls parts of it three times
// each, 258,049 steps, just under.

std::vector<uint8_t> costly_font() {
    const int rmoveto = ts::cff_op(21), rlineto = ts::cff_op(5), endchar = ts::cff_op(14), callgsubr = ts::cff_op(29);
    const std::vector<uint8_t> a = ts::charstring({0, 0, rmoveto, -107, callgsubr, 300, 700, rlineto, endchar});
    const std::vector<uint8_t> v =
        ts::charstring({50,        0,    rmoveto,   -106,    callgsubr, -106, callgsubr, -106,   callgsubr, -105,
                        callgsubr, -105, callgsubr, -105,    callgsubr, -104, callgsubr, -104,   callgsubr, -104,
                        callgsubr, 0,    700,       rlineto, 400,       0,    rlineto,   endchar});
    return ts::tiny_font(
        {.cff = true, .cff_charstrings = {{1, a}, {2, v}}, .cff_global_subrs = ts::cff_call_chain(4, 9)});
}

// Steps of one run of 'V': its own ten, and three calls into each of the
// chain's levels 1 to 3.
const uint64_t k_v_steps =
    static_cast<uint64_t>(10 + 3 * (ts::cff_call_chain_steps(4, 9, 1) + ts::cff_call_chain_steps(4, 9, 2) +
                                    ts::cff_call_chain_steps(4, 9, 3)));

struct drawn_cost {
    imgtext_status status;
    uint64_t steps;  // charstring steps the call ran
};

// Draws `count` copies of `glyph` onto an 800 x 800 picture, wrapped so
// that none is clipped, through the engine's drawing call.
drawn_cost draw_costing(const imgtext_font *font, char glyph, int count, const imgtext::text_effects &effects,
                        uint64_t max_steps = QUENDAL_IMGTEXT_MAX_DRAW_STEPS) {
    const std::string text(static_cast<size_t>(count), glyph);
    std::vector<unsigned char> pixels(800 * 800 * 4, 0);
    imgtext::text_request request;
    request.layout = {text.data(), text.size(), imgtext::text_encoding::utf8,
                      imgtext::make_text_face(&font, 1, 20.0f, false, 1.0f), 740};
    request.colour = {250, 250, 250, 1.0f};
    request.effects = effects;
    request.max_steps = max_steps;
    const uint64_t before = imgtext::charstring_steps_run();
    const imgtext_status status =
        imgtext::draw_text({800, 800, pixels.data()}, request, {false, IMGTEXT_TOP_LEFT, 20, 20, 0}, nullptr, nullptr);
    return {status, imgtext::charstring_steps_run() - before};
}

struct effects_case {
    imgtext::text_effects effects;
    const char *name;
};
void PrintTo(const effects_case &c, std::ostream *out) { *out << c.name; }

class CostlyCffGlyphs : public testing::TestWithParam<effects_case> {};

// A glyph that fails is run once per font, however often and in however
// many calls it recurs; one that draws runs three times per call (its box,
// its point count, its points), with the fill, outline and shadow sharing
// them.
TEST_P(CostlyCffGlyphs, AreRunOncePerFontIfTheyFailAndOncePerCallIfTheyDraw) {
    const imgtext::text_effects &effects = GetParam().effects;
    const font_handle f(costly_font(), 0);
    ASSERT_EQ(f.status, IMGTEXT_OK) << f.message;
    EXPECT_EQ(draw_costing(f.font, 'A', 1, effects).steps, (1u << 18) + 1);  // stopped past the limit
    EXPECT_EQ(draw_costing(f.font, 'A', 1000, effects).steps, 0u);
    for (int call = 0; call < 2; ++call) EXPECT_EQ(draw_costing(f.font, 'V', 1000, effects).steps, 3 * k_v_steps);
}

// A call may run as many steps as its budget allows, and is refused beyond.
TEST_P(CostlyCffGlyphs, BeyondTheCallsBudgetAreRefused) {
    const imgtext::text_effects &effects = GetParam().effects;
    const font_handle f(costly_font(), 0);
    ASSERT_EQ(f.status, IMGTEXT_OK) << f.message;
    EXPECT_EQ(draw_costing(f.font, 'V', 1000, effects, 3 * k_v_steps).status, IMGTEXT_OK);
    const drawn_cost refused = draw_costing(f.font, 'V', 1000, effects, 3 * k_v_steps - 1);
    EXPECT_EQ(refused.status, IMGTEXT_ERROR_LIMIT);
    EXPECT_EQ(refused.steps, 3 * k_v_steps);  // it stopped at the first glyph over
    EXPECT_EQ(std::string(imgtext_error_message()), "text too costly to draw: its glyphs' charstrings ran more than " +
                                                        std::to_string(3 * k_v_steps - 1) +
                                                        " steps, the limit of one drawing call");
}

INSTANTIATE_TEST_SUITE_P(Styles, CostlyCffGlyphs,
                         testing::Values(effects_case{{}, "fill"}, effects_case{{.stroke_width = 2}, "outline"},
                                         effects_case{{.shadow = true, .shadow_dx = 3, .shadow_dy = 3}, "shadow"},
                                         effects_case{{.stroke_width = 1.5f, .shadow = true, .shadow_blur = 2},
                                                      "outline_and_shadow"}),
                         [](const testing::TestParamInfo<effects_case> &info) { return info.param.name; });

// Threads that share a font judge its glyphs as one thread does.
TEST(CostlyCffGlyphs, ThreadsSharingTheFontDrawWhatOneThreadDraws) {
    const std::vector<uint8_t> bytes = costly_font();
    auto draw_av = [](const imgtext_font *font, std::vector<uint8_t> *pixels) {
        imgtext_text_style style = ts::style_of(20.0f);
        style.font = font, style.stroke_width = 1.0f;
        ts::image_handle image;
        imgtext_image_create(120, 40, {0, 0, 0, 255}, &image.p);
        imgtext_draw_text(image.p, "VAV AVA", IMGTEXT_NUL_TERMINATED, 2, 2, IMGTEXT_TOP_LEFT, &style, nullptr);
        *pixels = ts::pixels_of(image.p).pixels;
    };
    std::vector<uint8_t> alone;
    draw_av(font_handle(bytes, 0).font, &alone);
    const font_handle shared(bytes, 0);
    std::vector<std::vector<uint8_t>> pixels(4);
    std::vector<std::thread> threads;
    for (auto &p : pixels) threads.emplace_back(draw_av, shared.font, &p);
    for (auto &t : threads) t.join();
    for (const auto &p : pixels) EXPECT_EQ(p, alone);
}

// Fonts as installed by Debian packages: a TrueType family and a CFF one.
TEST(FontLoading, InstalledFontsLoadAndDraw) {
    int found = 0;
    for (const char *path : {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                             "/usr/share/fonts/opentype/linux-libertine/LinLibertine_R.otf"}) {
        if (!ts::file_exists(path)) continue;
        ++found;
        SCOPED_TRACE(path);
        imgtext_font *font = nullptr;
        ASSERT_EQ(imgtext_font_load(path, 0, &font), IMGTEXT_OK) << imgtext_error_message();
        const drawing text = draw(font, k_sample);
        EXPECT_EQ(text.metrics.missing_glyphs, 0);
        EXPECT_GT(lit_pixels(text), 300);
        EXPECT_LT(width_of(font, "AV"), width_of(font, "A") + width_of(font, "V"));  // kerned
        imgtext_font_free(font);
    }
    if (found == 0)
        IMGTEXT_SKIP_FOR_WANT_OF("system-fonts", "neither fonts-dejavu-core nor fonts-linuxlibertine is installed");
}

}  // namespace
