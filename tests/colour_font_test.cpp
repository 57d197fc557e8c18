// Colour fonts: Noto Color Emoji (CBDT/CBLC PNG bitmaps, from Debian's
// fonts-noto-color-emoji) against Unicode's emoji-test.txt, its bitmaps
// drawn at two sizes, at opacity and turned, and fonts built here for
// COLRv0 layers, COLRv1 paint graphs and an sbix strike (by
// python3-fonttools), a tiny CBDT strike and the load rules for fonts
// without outlines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "api_support.h"
#include "font/font.h"
#include "font_builder.h"
#include "quendal_imgtext.h"
#include "test_support.h"
#include "text/colour_glyphs.h"
#include "text/layout.h"

namespace ts = test_support;

namespace {

const char k_noto_emoji[] = "/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf";

struct font_handle {
    imgtext_font *font = nullptr;
    imgtext_status status;
    std::string message;
    explicit font_handle(const std::vector<uint8_t> &bytes)
        : status(imgtext_font_load_memory(bytes.data(), bytes.size(), 0, &font)), message(imgtext_error_message()) {}
    explicit font_handle(const char *path)
        : status(imgtext_font_load(path, 0, &font)), message(imgtext_error_message()) {}
    ~font_handle() { imgtext_font_free(font); }
    font_handle(const font_handle &) = delete;
    font_handle &operator=(const font_handle &) = delete;
};

// A font that one of the tests' scripts builds with python3-fonttools (part
// of the set-up; Debian's own Python, which has it); fails the test if not.
std::string font_from_script(const ts::scratch_dir &dir, const char *script, const char *name) {
    const std::string path = dir.path(name);
    const std::string command = std::string("/usr/bin/python3 '") + script + "' '" + path + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << "python3-fonttools is part of the set-up";
    return path;
}

struct drawn {
    ts::rgba pixels;
    imgtext_text_metrics metrics{};
};

// Text drawn with its anchor at (x, y) (default: top-left at (4, 4)) on a
// w x h picture of one colour.
drawn draw(const imgtext_text_style &style, const char *text, imgtext_color background, int w = 160, int h = 120,
           int x = 4, int y = 4, imgtext_position anchor = IMGTEXT_TOP_LEFT) {
    ts::image_handle image;
    EXPECT_EQ(imgtext_image_create(w, h, background, &image.p), IMGTEXT_OK);
    drawn out;
    imgtext_text_metrics_init(&out.metrics);
    EXPECT_EQ(imgtext_draw_text(image.p, text, IMGTEXT_NUL_TERMINATED, x, y, anchor, &style, &out.metrics), IMGTEXT_OK)
        << imgtext_error_message();
    out.pixels = ts::pixels_of(image.p);
    return out;
}

// Pixels whose channels differ by more than `by`: not grey.
int coloured(const ts::rgba &p, int by = 40) {
    int n = 0;
    for (size_t i = 0; i < p.pixels.size(); i += 4) {
        const int r = p.pixels[i], g = p.pixels[i + 1], b = p.pixels[i + 2];
        n += std::abs(r - g) > by || std::abs(g - b) > by || std::abs(r - b) > by;
    }
    return n;
}

int count_where(const ts::rgba &p, bool (*test)(const uint8_t *)) {
    int n = 0;
    for (size_t i = 0; i < p.pixels.size(); i += 4) n += test(&p.pixels[i]);
    return n;
}

std::string utf8(const std::vector<char32_t> &cps) {
    std::string s;
    for (char32_t c : cps) {
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xC0 | c >> 6), s += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            s += static_cast<char>(0xE0 | c >> 12), s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | c >> 18), s += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            s += static_cast<char>(0x80 | (c >> 6 & 0x3F)), s += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return s;
}

// Every fully-qualified sequence of emoji-test.txt whose code points the
// font's character map all has lays out, shaped, as exactly one glyph, one
// the font has in colour, with nothing missing: ZWJ sequences, skin tones,
// flags, keycaps and VS16 forms are one grapheme cluster and the font's
// ligature. So do those whose only unmapped code point is VS16, which the
// font, like most, leaves out of its map (HarfBuzz reads it from the
// variation sequences).
TEST(ColourFont, EveryCoveredEmojiSequenceIsOneGlyph) {
    const font_handle noto(k_noto_emoji);
    ASSERT_EQ(noto.status, IMGTEXT_OK) << noto.message << " (fonts-noto-color-emoji is part of the set-up)";
    std::ifstream file(std::string(IMGTEXT_UNICODE_DATA_DIR) + "/emoji-test.txt");
    ASSERT_TRUE(file) << "emoji-test.txt not found in " << IMGTEXT_UNICODE_DATA_DIR;
    const imgtext::font_face *font = noto.font;
    imgtext::layout_request request{};
    request.encoding = imgtext::text_encoding::utf8;
    request.face = imgtext::make_text_face(&font, 1, 32.0f, false, 1.0f);
    request.shaping.mode = imgtext::layout_mode::shaped;
    int total = 0, covered = 0, with_vs16 = 0, failed = 0;
    std::string line;
    while (std::getline(file, line)) {
        const size_t semicolon = line.find(';');
        if (line.empty() || line[0] == '#' || semicolon == std::string::npos) continue;
        if (line.compare(semicolon, 17, "; fully-qualified") != 0) continue;
        std::vector<char32_t> cps;
        std::istringstream hex(line.substr(0, semicolon));
        for (unsigned cp = 0; hex >> std::hex >> cp;) cps.push_back(cp);
        ++total;
        bool all = true, but_vs16 = true;
        for (char32_t c : cps) {
            const bool mapped = imgtext::glyph_for_codepoint(*font, static_cast<int>(c)) != 0;
            all = all && mapped;
            but_vs16 = but_vs16 && (mapped || c == 0xFE0F);
        }
        if (!but_vs16) continue;
        ++(all ? covered : with_vs16);
        const std::string text = utf8(cps);
        request.text = text.data(), request.size = text.size();
        imgtext::text_layout layout{};
        ASSERT_EQ(imgtext::layout_text(request, &layout), IMGTEXT_OK);
        const bool one = layout.line_count == 1 && layout.stored && layout.stored->glyphs.size() == 1 &&
                         layout.stored->glyphs[0].glyph != 0 && layout.missing_glyphs == 0 &&
                         imgtext::colour_kind_of(*font, static_cast<int>(layout.stored->glyphs[0].glyph)) ==
                             imgtext::colour_kind::bitmap;
        if (!one && ++failed <= 10) ADD_FAILURE() << line;
        imgtext::free_text_layout(&layout);
    }
    std::printf(
        "emoji-test.txt: %d fully-qualified sequences, %d with every code point in Noto Color Emoji's map, "
        "%d more but for VS16; %d not one glyph\n",
        total, covered, with_vs16, failed);
    EXPECT_EQ(failed, 0);
    EXPECT_GT(covered + with_vs16, total * 9 / 10);
}

// A CBDT bitmap drawn at two sizes keeps its own colours, scaled to the
// size; color.a and opacity scale its alpha; with colour glyphs off a font
// of bitmaps alone draws nothing and counts the character missing.
TEST(ColourFont, NotoBitmapsDrawInColourAtAnySizeAndOpacity) {
    const font_handle noto(k_noto_emoji);
    ASSERT_EQ(noto.status, IMGTEXT_OK) << noto.message;
    const char grin[] = "\xF0\x9F\x98\x80";  // U+1F600
    imgtext_text_style style = ts::style_of(24);
    style.font = noto.font;
    const imgtext_color grey{128, 128, 128, 255}, clear{0, 0, 0, 0};
    const drawn small = draw(style, grin, grey);
    style.size = 96;
    const drawn large = draw(style, grin, grey);
    EXPECT_EQ(small.metrics.missing_glyphs, 0);
    EXPECT_GT(coloured(small.pixels), 100);
    // Area grows with the square of the size.
    EXPECT_GT(coloured(large.pixels), coloured(small.pixels) * 10);

    const drawn opaque = draw(style, grin, clear);
    style.opacity = 0.5f;
    const drawn half = draw(style, grin, clear);
    style.opacity = 1, style.color.a = 128;
    const drawn translucent = draw(style, grin, clear);
    int most = 0;
    for (size_t i = 3; i < opaque.pixels.pixels.size(); i += 4) {
        const int a = opaque.pixels.pixels[i];
        most = std::max(most, a);
        ASSERT_NEAR(half.pixels.pixels[i], a * 0.5, 1.0) << i;
        ASSERT_NEAR(translucent.pixels.pixels[i], a * 128 / 255.0, 1.0) << i;
    }
    EXPECT_EQ(most, 255);

    style.color.a = 255, style.color_glyphs = 0;
    const drawn off = draw(style, grin, grey);
    EXPECT_EQ(coloured(off.pixels), 0);
    EXPECT_EQ(off.metrics.missing_glyphs, 1);
}

bool is_red(const uint8_t *p) { return p[0] > 200 && p[1] < 60 && p[2] < 60; }
bool is_green(const uint8_t *p) { return p[1] > 200 && p[0] < 60 && p[2] < 60; }
bool is_blue(const uint8_t *p) { return p[2] > 200 && p[0] < 60 && p[1] < 60; }

// COLRv0: the bar of U+4E00 in palette entry 0 (red), the accent above it
// in the text colour (green); off, the bar's outline in the text colour
// alone. An outline (blue) goes around the layers' shape, under them.
TEST(ColourFont, ColrLayersDrawInPaletteAndTextColours) {
    const font_handle colr(ts::tiny_font({.colr = true}));
    ASSERT_EQ(colr.status, IMGTEXT_OK) << colr.message;
    imgtext_text_style style = ts::style_of(100);
    style.font = colr.font;
    style.color = imgtext_color{0, 255, 0, 255};
    const char bar[] = "\xE4\xB8\x80";  // U+4E00
    const imgtext_color black{0, 0, 0, 255};
    const drawn on = draw(style, bar, black);
    const int red = count_where(on.pixels, is_red), green = count_where(on.pixels, is_green);
    EXPECT_GT(red, 500);   // 90 x 10 px
    EXPECT_GT(green, 20);  // the accent, above
    style.stroke_width = 2, style.stroke_color = imgtext_color{0, 0, 255, 255};
    const drawn outlined = draw(style, bar, black);
    EXPECT_GT(count_where(outlined.pixels, is_blue), 200);
    EXPECT_NEAR(count_where(outlined.pixels, is_red), red, red / 10);
    style.stroke_width = 0, style.color_glyphs = 0;
    const drawn off = draw(style, bar, black);
    EXPECT_EQ(count_where(off.pixels, is_red), 0);
    EXPECT_GT(count_where(off.pixels, is_green), 500);
    EXPECT_EQ(off.metrics.missing_glyphs, 0);
}

// Fonts without outlines load when they have colour glyphs and are refused,
// saying why, when they have none. A strike's PNG is drawn (scaled from
// 20 px to 40); one beyond the header's limits is never decoded, and the
// glyph's outline is drawn instead.
TEST(ColourFont, FontsWithoutOutlinesAndBitmapLimits) {
    const font_handle bare(ts::tiny_font({.outlines = false}));
    EXPECT_EQ(bare.status, IMGTEXT_ERROR_DECODE);
    EXPECT_NE(bare.message.find("no outlines"), std::string::npos) << bare.message;
    EXPECT_NE(bare.message.find("no colour glyphs"), std::string::npos) << bare.message;
    EXPECT_EQ(font_handle(ts::tiny_font({.outlines = false, .colr = true})).status, IMGTEXT_OK);

    ts::rgba blue{20, 20, std::vector<uint8_t>(20 * 20 * 4, 0)};
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) blue.at(x, y)[2] = blue.at(x, y)[3] = 255;
    const font_handle strike(ts::tiny_font({.outlines = false, .cbdt_png = ts::reference_png(blue)}));
    ASSERT_EQ(strike.status, IMGTEXT_OK) << strike.message;
    imgtext_text_style style = ts::style_of(40);
    style.size_unit = IMGTEXT_SIZE_EM;  // 1000 units per em: 40 px a em, 0.4 px per strike pixel of 100 ppem
    style.font = strike.font;
    const drawn scaled = draw(style, "\xE4\xB8\x80", imgtext_color{0, 0, 0, 255});
    EXPECT_NEAR(count_where(scaled.pixels, is_blue), 8 * 8, 8 * 4 + 4);  // 20 px at 0.4: 8 x 8

    ts::rgba wide{QUENDAL_IMGTEXT_MAX_COLOR_BITMAP_SIDE + 1, 2, {}};
    wide.pixels.assign(static_cast<size_t>(wide.width) * 2 * 4, 255);
    const font_handle too_wide(ts::tiny_font({.cbdt_png = ts::reference_png(wide)}));
    ASSERT_EQ(too_wide.status, IMGTEXT_OK) << too_wide.message;
    style.font = too_wide.font, style.size_unit = IMGTEXT_SIZE_PIXEL_HEIGHT, style.size = 60;
    style.color = imgtext_color{0, 255, 0, 255};
    const drawn outline = draw(style, "\xE4\xB8\x80", imgtext_color{0, 0, 0, 255});
    EXPECT_GT(count_where(outline.pixels, is_green), 200);
}

// Turned colour glyphs keep their colours: a quarter turn about the
// top-left anchor (X, Y) puts the upright pixel (X + u, Y + v) at (X + v,
// Y - 1 - u), an emoji's bitmap and COLRv0 layers alike; at any angle the
// turned box holds all the ink, with the upright's amount of colour and
// its alpha scaled by the opacity.
TEST(ColourFont, TurnedColourGlyphsAreTheirUprightPicturesTurned) {
    const font_handle noto(k_noto_emoji);
    ASSERT_EQ(noto.status, IMGTEXT_OK) << noto.message;
    const font_handle colr(ts::tiny_font({.colr = true}));
    ASSERT_EQ(colr.status, IMGTEXT_OK) << colr.message;
    const imgtext_color clear{0, 0, 0, 0};
    for (const imgtext_font *font : {noto.font, colr.font}) {
        imgtext_text_style style = ts::style_of(font == noto.font ? 40 : 60);
        style.font = font;
        style.color = imgtext_color{0, 255, 0, 255};
        const char *text = font == noto.font ? "\xF0\x9F\x98\x80" : "\xE4\xB8\x80";
        const drawn upright = draw(style, text, clear, 160, 160, 30, 90);
        style.rotation = 90.0f;
        const drawn turned = draw(style, text, clear, 160, 160, 30, 90);
        int worst = 0;
        for (int y = 0; y < 160; ++y) {
            for (int x = 0; x < 160; ++x) {
                const int tx = 30 + (y - 90), ty = 90 - 1 - (x - 30);
                if (tx < 0 || tx >= 160 || ty < 0 || ty >= 160) continue;
                for (int ch = 0; ch < 4; ++ch)
                    worst = std::max(worst, std::abs(turned.pixels.at(tx, ty)[ch] - upright.pixels.at(x, y)[ch]));
            }
        }
        EXPECT_LE(worst, 1);
        EXPECT_GT(coloured(upright.pixels), 300);
        EXPECT_EQ(turned.metrics.width, upright.metrics.height);
        EXPECT_LT(upright.metrics.y + upright.metrics.height, 160);  // nothing cut off

        style.rotation = 33.0f, style.opacity = 0.5f;
        const drawn slanted = draw(style, text, clear, 160, 160, 80, 80, IMGTEXT_CENTER);
        const imgtext_text_metrics &m = slanted.metrics;
        // Each channel premultiplied by alpha, and alpha itself, summed.
        int64_t sums[4] = {}, upright_sums[4] = {};
        for (int y = 0; y < 160; ++y) {
            for (int x = 0; x < 160; ++x) {
                const uint8_t *p = slanted.pixels.at(x, y), *q = upright.pixels.at(x, y);
                for (int ch = 0; ch < 4; ++ch)
                    sums[ch] += ch == 3 ? p[3] : p[ch] * p[3], upright_sums[ch] += ch == 3 ? q[3] : q[ch] * q[3];
                if (x < m.x || x >= m.x + m.width || y < m.y || y >= m.y + m.height) {
                    ASSERT_EQ(p[3], 0) << x << "," << y;
                }
            }
        }
        for (int ch = 0; ch < 4; ++ch)
            EXPECT_NEAR(static_cast<double>(sums[ch]), upright_sums[ch] * 0.5, upright_sums[ch] * 0.02 + 255 * 20)
                << ch;
    }
}

// COLRv1 paint graphs, from a font python3-fonttools (part of the set-up)
// builds here: 100 px an em, so the box glyph spans x 14..94 and y 4..84
// drawn at (4, 4), with its baseline at 84; each pixel is read at its
// centre, 10 font units a pixel from the pen at x = 4.
TEST(ColourFont, ColrV1PaintGraphsDrawFillsGradientsClipsAndGroups) {
    ts::scratch_dir dir;
    const std::string path = font_from_script(dir, IMGTEXT_COLRV1_FONT_SCRIPT, "colr1.ttf");
    const font_handle colr(path.c_str());
    ASSERT_EQ(colr.status, IMGTEXT_OK) << colr.message;
    imgtext_text_style style = ts::style_of(100);
    style.size_unit = IMGTEXT_SIZE_EM, style.font = colr.font;
    style.color = imgtext_color{0, 255, 0, 255};
    const imgtext_color black{0, 0, 0, 255};
    auto near = [](const ts::pixel &p, int r, int g, int b) {
        return std::abs(p[0] - r) <= 2 && std::abs(p[1] - g) <= 2 && std::abs(p[2] - b) <= 2 && p[3] == 255;
    };
    const drawn solid = draw(style, "A", black);
    EXPECT_EQ(solid.pixels.px(54, 44), (ts::pixel{255, 0, 0, 255}));
    EXPECT_EQ(solid.pixels.px(12, 44), (ts::pixel{0, 0, 0, 255}));  // outside the clip
    // Linear: t = (10 (x + 0.5 - 4) - 100) / 800.
    const drawn linear = draw(style, "B", black);
    EXPECT_TRUE(near(linear.pixels.px(54, 44), 126, 0, 129));
    EXPECT_TRUE(near(linear.pixels.px(93, 44), 3, 0, 252));
    // A DEST_OUT group cuts the moved square (x 44..64, y 34..54) out of the
    // box in the text colour.
    const drawn hole = draw(style, "C", black);
    EXPECT_EQ(hole.pixels.px(54, 44), (ts::pixel{0, 0, 0, 255}));
    EXPECT_EQ(hole.pixels.px(40, 44), (ts::pixel{0, 255, 0, 255}));
    EXPECT_EQ(hole.pixels.px(54, 60), (ts::pixel{0, 255, 0, 255}));
    // Radial from (500, 400): at (505, 395) t = 7.07 / 300, at (755, 395)
    // 255.05 / 300.
    const drawn radial = draw(style, "D", black);
    EXPECT_TRUE(near(radial.pixels.px(54, 44), 249, 0, 6));
    EXPECT_TRUE(near(radial.pixels.px(79, 44), 38, 0, 217));
    // Sweep about (500, 400) from 0 to 180 degrees: (505, 635) is at 88.78,
    // (765, 425) at 5.39.
    const drawn sweep = draw(style, "E", black);
    EXPECT_TRUE(near(sweep.pixels.px(54, 20), 129, 0, 126));
    EXPECT_TRUE(near(sweep.pixels.px(80, 41), 247, 0, 8));
    EXPECT_TRUE(near(sweep.pixels.px(54, 70), 0, 0, 255));  // beyond 180: padded
    for (const drawn *d : {&solid, &linear, &hole, &radial, &sweep}) EXPECT_EQ(d->metrics.missing_glyphs, 0);
    // Clips nested within QUENDAL_IMGTEXT_MAX_COLOR_PAINT_DEPTH paint; what
    // lies deeper is left out.
    EXPECT_EQ(draw(style, "F", black).pixels.px(54, 44), (ts::pixel{255, 0, 0, 255}));
    EXPECT_EQ(draw(style, "G", black).pixels.px(54, 44), (ts::pixel{0, 0, 0, 255}));
    // The fuzzer's COLRv1 seed, built byte by byte, draws its glyph in colour.
    const font_handle seed(ts::tiny_font({.colr1 = true}));
    ASSERT_EQ(seed.status, IMGTEXT_OK) << seed.message;
    style.font = seed.font;
    const drawn seeded = draw(style, "\xE4\xB8\x80", black);
    EXPECT_GT(coloured(seeded.pixels), 500);            // the bar, half red
    EXPECT_GT(count_where(seeded.pixels, is_red), 10);  // the accent's gradient
}

// sbix, from a font python3-fonttools builds here: the 64 ppem strike's
// 64 x 64 picture drawn at 40 px an em is area-averaged to 40 x 40 and put
// by its origin offset (8, -16) at x 9..49, y 6..46 (pen at x 4, baseline
// 36), its quadrants' seams falling on x 29 and y 26; the text colour's
// alpha and the opacity scale it. Off, the outline (x 8..40, y 4..36) is
// drawn in the text colour.
TEST(ColourFont, SbixStrikeDrawsItsPngInPlaceAndScaled) {
    ts::scratch_dir dir;
    const std::string path = font_from_script(dir, IMGTEXT_SBIX_FONT_SCRIPT, "sbix.ttf");
    const font_handle sbix(path.c_str());
    ASSERT_EQ(sbix.status, IMGTEXT_OK) << sbix.message;
    imgtext_text_style style = ts::style_of(40);
    style.size_unit = IMGTEXT_SIZE_EM, style.font = sbix.font;
    const imgtext_color text{200, 100, 50, 255}, clear{0, 0, 0, 0};
    style.color = text;
    const drawn on = draw(style, "A", clear);
    EXPECT_EQ(on.metrics.missing_glyphs, 0);
    style.color.a = 128;
    const drawn translucent = draw(style, "A", clear);
    style.color.a = 255, style.opacity = 0.5f;
    const drawn half = draw(style, "A", clear);
    const ts::pixel quadrants[4] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 0, 255}};
    auto near = [](const ts::pixel &p, const ts::pixel &q) {
        for (int ch = 0; ch < 4; ++ch)
            if (std::abs(p[ch] - q[ch]) > 2) return false;
        return true;
    };
    for (int q = 0; q < 4; ++q) {
        const int x = q % 2 ? 39 : 19, y = q / 2 ? 36 : 16;
        EXPECT_TRUE(near(on.pixels.px(x, y), quadrants[q])) << q;
        const ts::pixel scaled{quadrants[q][0], quadrants[q][1], quadrants[q][2], 128};
        EXPECT_TRUE(near(translucent.pixels.px(x, y), scaled)) << q;
        EXPECT_TRUE(near(half.pixels.px(x, y), scaled)) << q;
    }
    // The picture's corners and seams, to the pixel.
    EXPECT_EQ(on.pixels.px(9, 6), quadrants[0]);
    EXPECT_EQ(on.pixels.px(28, 25), quadrants[0]);
    EXPECT_EQ(on.pixels.px(29, 25), quadrants[1]);
    EXPECT_EQ(on.pixels.px(28, 26), quadrants[2]);
    EXPECT_EQ(on.pixels.px(48, 45), quadrants[3]);
    for (const auto &[x, y] : {std::pair{8, 6}, {9, 5}, {49, 45}, {48, 46}})
        EXPECT_EQ(on.pixels.px(x, y)[3], 0) << x << "," << y;

    style.opacity = 1, style.color_glyphs = 0;
    const drawn off = draw(style, "A", clear);
    EXPECT_EQ(off.pixels.px(20, 20), (ts::pixel{200, 100, 50, 255}));
    EXPECT_EQ(off.pixels.px(44, 40)[3], 0);  // inside the picture, outside the outline
    EXPECT_EQ(off.metrics.missing_glyphs, 0);
}

}  // namespace
