// The drawing API through the shared library, as a host uses it: identity
// with the seven calls, UTF-8, wrapping, anchors and gravity, options that
// carry their size, limits, and threads.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#endif

#include "api_support.h"
#include "quendal_imgtext.h"
#include "test_support.h"

using test_support::encoded;
using test_support::image_handle;
using test_support::save_options;
using test_support::scratch_dir;
using test_support::style_of;

namespace {

imgtext_text_metrics measure(const std::string &text, const imgtext_text_style &style,
                             std::vector<int> *widths = nullptr) {
    imgtext_text_metrics m{};
    m.struct_size = sizeof m;
    std::vector<int> w(64, -1);
    EXPECT_EQ(imgtext_measure_text(text.data(), text.size(), &style, &m, w.data(), w.size()), IMGTEXT_OK)
        << imgtext_error_message();
    if (widths) widths->assign(w.begin(), w.begin() + m.line_count);
    return m;
}

const char *const k_ascii = "Hello, World!\nAV To  {}|~\n\nW";

// ASCII in the built-in font at the default style is the seven calls' own
// drawing: the same bytes come out, call for call.
TEST(DrawingApi, AsciiGivesTheSevenCallsBytes) {
    scratch_dir dir;
    const std::string in = dir.path("in.png");
    test_support::write_png(in, test_support::pattern(160, 90));
    struct call {
        const char *name;
        bool ok;
        imgtext_position where;
        int x, y, margin;
        imgtext_text_style style;
    };
    imgtext_text_style add = style_of(20), boxed = style_of(17), centred = style_of(23);
    add.color = {250, 255, 128, 255}, add.opacity = 0.8f;
    boxed.color = {1, 2, 3, 255}, boxed.box = 1, boxed.box_color = {200, 100, 50, 255}, boxed.padding = 6;
    centred.color = {9, 200, 90, 255}, centred.align = IMGTEXT_ALIGN_CENTER;
    imgtext_text_style unpadded = boxed;
    unpadded.padding = -4;  // as 0, the seven calls' reading
    const call calls[] = {
        // green 300 is clamped to 255
        {"add.png", imgtext_add(in.c_str(), dir.path("add.png").c_str(), k_ascii, -7, 11, 20, 250, 300, 128, 0.8f) == 1,
         IMGTEXT_TOP_LEFT, -7, 11, 0, add},
        {"boxed.jpg",
         imgtext_add_boxed(in.c_str(), dir.path("boxed.jpg").c_str(), k_ascii, 30, 4, 17, 1, 2, 3, 200, 100, 50, 6) ==
             1,
         IMGTEXT_TOP_LEFT, 36, 10, 0, boxed},
        {"unpadded.png",
         imgtext_add_boxed(in.c_str(), dir.path("unpadded.png").c_str(), k_ascii, 30, 4, 17, 1, 2, 3, 200, 100, 50,
                           -4) == 1,
         IMGTEXT_TOP_LEFT, 30, 4, 0, unpadded},
        {"centred.bmp", imgtext_centered(in.c_str(), dir.path("centred.bmp").c_str(), k_ascii, 23, 9, 200, 90) == 1,
         IMGTEXT_CENTER, 0, 0, 0, centred},
    };
    for (const call &c : calls) {
        ASSERT_TRUE(c.ok) << c.name << ": " << imgtext_last_error();
        image_handle image;
        ASSERT_EQ(imgtext_image_load(in.c_str(), nullptr, &image.p), IMGTEXT_OK);
        const imgtext_status drawn =
            c.where == IMGTEXT_CENTER
                ? imgtext_draw_text_gravity(image.p, k_ascii, IMGTEXT_NUL_TERMINATED, IMGTEXT_CENTER, 0, &c.style,
                                            nullptr)
                : imgtext_draw_text(image.p, k_ascii, IMGTEXT_NUL_TERMINATED, c.x, c.y, c.where, &c.style, nullptr);
        ASSERT_EQ(drawn, IMGTEXT_OK);
        const std::string out = dir.path(std::string("api-") + c.name);
        ASSERT_EQ(imgtext_image_save(image.p, out.c_str(), nullptr), IMGTEXT_OK) << imgtext_error_message();
        EXPECT_EQ(test_support::read_bytes(out), test_support::read_bytes(dir.path(c.name))) << c.name;
    }
    ASSERT_EQ(imgtext_create(dir.path("card.png").c_str(), k_ascii, 150, 80, 19, 1, 2, 3, 40, 50, 60), 1);
    image_handle card;
    ASSERT_EQ(imgtext_image_create(150, 80, {40, 50, 60, 255}, &card.p), IMGTEXT_OK);
    imgtext_text_style card_style = style_of(19);
    card_style.color = {1, 2, 3, 255}, card_style.align = IMGTEXT_ALIGN_CENTER;
    ASSERT_EQ(
        imgtext_draw_text_gravity(card.p, k_ascii, IMGTEXT_NUL_TERMINATED, IMGTEXT_CENTER, 0, &card_style, nullptr),
        IMGTEXT_OK);
    EXPECT_EQ(encoded(card.p, save_options(IMGTEXT_FORMAT_PNG)), test_support::read_bytes(dir.path("card.png")));
}

TEST(DrawingApi, Utf8DrawsLatinAndCountsWhatTheFontLacks) {
    const imgtext_text_style style = style_of(24);
    EXPECT_EQ(measure("Gr\xC3\xBC\xC3\x9F"
                      "e \xE2\x82\xAC \xC5\x81\xC3\xB3"
                      "d\xC5\xBA",
                      style)
                  .missing_glyphs,
              0);
    EXPECT_EQ(measure("\xE4\xB8\xAD \xF0\x9F\x98\x80\t", style).missing_glyphs, 3);  // CJK, emoji, tab
    // CR LF is one break; a lone CR stays in the line as a missing glyph.
    std::vector<int> widths;
    EXPECT_EQ(measure("ab\r\ncd\ref", style, &widths).line_count, 2);
    EXPECT_EQ(widths[0], measure("ab", style).width);
    // The glyph is drawn, where the seven calls' byte reading drew nothing.
    image_handle image;
    ASSERT_EQ(imgtext_image_create(40, 40, {0, 0, 0, 255}, &image.p), IMGTEXT_OK);
    ASSERT_EQ(imgtext_draw_text(image.p, "\xC3\x89", 2, 5, 5, IMGTEXT_TOP_LEFT, &style, nullptr), IMGTEXT_OK);
    int ink = 0;
    for (int i = 0; i < 40 * 40; ++i) ink += imgtext_image_pixels(image.p)[i * 4] != 0;
    EXPECT_GT(ink, 30);
}

// Each malformed sequence reads as one U+FFFD per maximal ill-formed part,
// never more bytes and never a crash.
TEST(DrawingApi, MalformedUtf8IsOneReplacementPerBadSequence) {
    const imgtext_text_style style = style_of(24);
    const struct {
        std::string bytes;
        int replacements;
    } cases[] = {{"\x80", 1},         {"\xC0\xAF", 2},         {"\xE2\x82", 1},         {"\xE2\x82x", 1},
                 {"\xED\xA0\x80", 3}, {"\xF0\x80\x80\x80", 4}, {"\xF4\x90\x80\x80", 4}, {"\xF8\x88\x80\x80\x80", 5},
                 {"\xFF", 1},         {"\xF0\x9F\x98", 1}};
    for (const auto &c : cases) {
        std::string expected;
        for (int i = 0; i < c.replacements; ++i) expected += "\xEF\xBF\xBD";
        if (c.bytes.back() == 'x') expected += "x";
        const imgtext_text_metrics got = measure(c.bytes, style);
        EXPECT_EQ(got.width, measure(expected, style).width) << c.replacements;
        EXPECT_EQ(got.missing_glyphs, c.replacements);
    }
    for (int a = 0x80; a < 0x100; ++a)
        for (int b = 0; b < 0x100; b += 7) {
            const std::string bytes{static_cast<char>(a), static_cast<char>(b), '\xBF', '\x80'};
            EXPECT_GE(measure(bytes, style).missing_glyphs, 1);
        }
}

TEST(DrawingApi, WrappingBreaksAtSpacesAndInsideOnlyOverlongWords) {
    imgtext_text_style style = style_of(24);
    style.max_width = 75;  // "one two" is 71 px, "one two three" more
    std::vector<int> widths;
    const imgtext_text_metrics words = measure("one two three   ", style, &widths);
    ASSERT_EQ(words.line_count, 2);
    EXPECT_EQ(widths[0], measure("one two", style_of(24)).width);
    EXPECT_EQ(widths[1], measure("three", style_of(24)).width);  // trailing spaces take no width
    const imgtext_text_metrics long_word = measure("a Mississippian", style, &widths);
    EXPECT_EQ(long_word.line_count, 3);  // "a", then the word cut where it overflows
    for (int w : widths) EXPECT_LE(w, 75);
    EXPECT_EQ(measure("x\n\ny", style, &widths).line_count, 3);
    EXPECT_EQ(widths[1], 0);
    style.max_width = 1;  // narrower than any glyph: one glyph a line
    EXPECT_EQ(measure("abc", style).line_count, 3);
}

TEST(DrawingApi, AnchorsPlaceEachOfTheNinePointsAndGravityKeepsTheMargin) {
    const imgtext_text_style style = style_of(30);
    const imgtext_text_metrics box = measure("Anchor\nWy", style);
    image_handle image;
    ASSERT_EQ(imgtext_image_create(300, 200, {0, 0, 0, 0}, &image.p), IMGTEXT_OK);
    for (int p = IMGTEXT_TOP_LEFT; p <= IMGTEXT_BOTTOM_RIGHT; ++p) {
        imgtext_text_metrics at{};
        at.struct_size = sizeof at;
        const auto position = static_cast<imgtext_position>(p);
        ASSERT_EQ(imgtext_draw_text(image.p, "Anchor\nWy", 9, 150, 100, position, &style, &at), IMGTEXT_OK);
        EXPECT_EQ(at.x, 150 - (p % 3) * box.width / 2) << p;
        EXPECT_EQ(at.y, 100 - (p / 3) * box.height / 2) << p;
        ASSERT_EQ(imgtext_draw_text_gravity(image.p, "Anchor\nWy", 9, position, 16, &style, &at), IMGTEXT_OK);
        const int xs[] = {16, (300 - box.width) / 2, 300 - 16 - box.width};
        const int ys[] = {16, (200 - box.height) / 2, 200 - 16 - box.height};
        EXPECT_EQ(at.x, xs[p % 3]) << p;
        EXPECT_EQ(at.y, ys[p / 3]) << p;
    }
}

// A caller built against an older, shorter struct gets the defaults for the
// fields it does not know, whatever lies beyond its struct in memory.
TEST(DrawingApi, OptionStructsAreReadOnlyAsFarAsTheirSize) {
    imgtext_text_style old_style = style_of(40);
    old_style.struct_size = offsetof(imgtext_text_style, size_unit);
    old_style.align = 77, old_style.max_width = -5, old_style.box = 1;  // beyond the old struct: ignored
    EXPECT_EQ(measure("AV", old_style).width, measure("AV", style_of(40)).width);
    old_style.struct_size = 2;
    EXPECT_EQ(imgtext_measure_text("x", 1, &old_style, nullptr, nullptr, 0), IMGTEXT_ERROR_ARGUMENT);
}

// Arguments no caller could mean: rows whose span wraps the address space,
// metrics with no room, a position beyond the enum (read as an int first, so
// the check itself is defined behaviour).
TEST(DrawingApi, ImpossibleArgumentsAreRefused) {
    uint8_t pixels[12] = {};
    imgtext_image *image = nullptr;
    for (size_t stride : {SIZE_MAX / 2 + 1, SIZE_MAX, size_t{PTRDIFF_MAX}}) {
        EXPECT_EQ(imgtext_image_wrap(pixels, 1, 3, stride, &image), IMGTEXT_ERROR_ARGUMENT) << stride;
        EXPECT_EQ(imgtext_image_copy(pixels, 1, 3, stride, &image), IMGTEXT_ERROR_ARGUMENT) << stride;
    }
    ASSERT_EQ(imgtext_image_wrap(pixels, 1, 1, SIZE_MAX, &image), IMGTEXT_OK);  // one row: no span
    imgtext_text_metrics metrics;
    std::memset(&metrics, 0xAB, sizeof metrics);
    metrics.struct_size = 0;
    EXPECT_EQ(imgtext_measure_text("x", 1, nullptr, &metrics, nullptr, 0), IMGTEXT_ERROR_ARGUMENT);
    EXPECT_STREQ(imgtext_error_message(), "invalid argument: text metrics size");
    EXPECT_EQ(imgtext_draw_text(image, "x", 1, 0, 0, IMGTEXT_TOP_LEFT, nullptr, &metrics), IMGTEXT_ERROR_ARGUMENT);
    imgtext_text_metrics_init(&metrics);
    EXPECT_EQ(imgtext_measure_text("x", 1, nullptr, &metrics, nullptr, 0), IMGTEXT_OK);
    EXPECT_EQ(metrics.line_count, 1);
    // Unknown positions are checked by the C host: in C an enum is an int and
    // any value may arrive, while in C++ forming one is undefined behaviour.
    imgtext_image_free(image);
}

TEST(DrawingApi, LoadingRefusesMorePixelsThanTheLimitFromTheHeader) {
    scratch_dir dir;
    const std::string in = dir.path("big.png");
    test_support::write_png(in, test_support::solid(100, 100, 1, 2, 3, 255));
    const std::vector<uint8_t> bytes = test_support::read_bytes(in);
    imgtext_load_options options;
    imgtext_load_options_init(&options);
    EXPECT_EQ(options.max_pixels, IMGTEXT_DEFAULT_MAX_PIXELS);
    options.max_pixels = 9999;
    image_handle image;
    EXPECT_EQ(imgtext_image_load_memory(bytes.data(), bytes.size(), &options, &image.p), IMGTEXT_ERROR_LIMIT);
    EXPECT_STREQ(imgtext_error_message(), "image too large: 100x100 is more than 9999 pixels");
    options.max_pixels = 10000;
    EXPECT_EQ(imgtext_image_load(in.c_str(), &options, &image.p), IMGTEXT_OK);
    EXPECT_EQ(imgtext_image_format(image.p), IMGTEXT_FORMAT_PNG);
    EXPECT_STREQ(imgtext_error_message(), "");
}

// Two threads make the same pixels; a negative count is refused.
TEST(DrawingApi, LoadingOnTwoThreadsGivesTheSamePixels) {
    const std::vector<uint8_t> bytes = test_support::reference_jpg(test_support::pattern(300, 200), 90);
    imgtext_load_options options;
    imgtext_load_options_init(&options);
    EXPECT_EQ(options.threads, 1);
    image_handle one, two, refused;
    ASSERT_EQ(imgtext_image_load_memory(bytes.data(), bytes.size(), &options, &one.p), IMGTEXT_OK);
    options.threads = 2;
    ASSERT_EQ(imgtext_image_load_memory(bytes.data(), bytes.size(), &options, &two.p), IMGTEXT_OK);
    EXPECT_EQ(std::memcmp(imgtext_image_pixels(one.p), imgtext_image_pixels(two.p), 300 * 200 * 4), 0);
    options.threads = 0;  // the same as 1
    image_handle zero;
    EXPECT_EQ(imgtext_image_load_memory(bytes.data(), bytes.size(), &options, &zero.p), IMGTEXT_OK);
    options.threads = -1;
    EXPECT_EQ(imgtext_image_load_memory(bytes.data(), bytes.size(), &options, &refused.p), IMGTEXT_ERROR_ARGUMENT);
    EXPECT_STREQ(imgtext_error_message(), "invalid argument: threads must be 0 or more (-1)");

    // A program built before `threads` existed passes the first version's
    // size, with whatever its padding held: that is not read as a count.
    struct first_version {
        size_t struct_size;
        uint64_t max_pixels;
        int auto_orient;
    };
    std::memset(&options, 0xFF, sizeof options);
    options.struct_size = sizeof(first_version);
    options.max_pixels = IMGTEXT_DEFAULT_MAX_PIXELS;
    options.auto_orient = 1;
    image_handle old_caller;
    EXPECT_EQ(imgtext_image_load_memory(bytes.data(), bytes.size(), &options, &old_caller.p), IMGTEXT_OK);
}

TEST(DrawingApi, SaveOptionsMatchTheReferenceWriters) {
    const test_support::rgba picture = test_support::pattern(33, 21);
    image_handle image;
    ASSERT_EQ(imgtext_image_copy(picture.pixels.data(), 33, 21, 33 * 4, &image.p), IMGTEXT_OK);
    imgtext_save_options options = save_options(IMGTEXT_FORMAT_JPEG);
    for (const int quality : {1, 50, 90, 91, 100}) {
        options.jpeg_quality = quality;
        EXPECT_EQ(encoded(image.p, options), test_support::reference_jpg(picture, quality)) << quality;
    }
    options.jpeg_quality = 0;
    void *data = nullptr;
    size_t size = 0;
    EXPECT_EQ(imgtext_image_encode(image.p, &options, &data, &size), IMGTEXT_ERROR_ARGUMENT);
    // RGB only when every pixel is opaque: colour type 2, else 6.
    options = save_options(IMGTEXT_FORMAT_AUTO);
    options.png_rgb_if_opaque = 1;
    image_handle opaque;
    ASSERT_EQ(imgtext_image_create(5, 4, {9, 8, 7, 255}, &opaque.p), IMGTEXT_OK);
    for (const int alpha : {255, 254}) {
        imgtext_image_pixels(opaque.p)[3] = static_cast<uint8_t>(alpha);
        EXPECT_EQ(encoded(opaque.p, options).at(25), alpha == 255 ? 2 : 6);
    }
}

TEST(DrawingApi, WrappedBuffersAreDrawnInPlaceAndKeepTheirPadding) {
    const size_t stride = 20 * 4 + 12;
    std::vector<uint8_t> buffer(stride * 10, 0xAB);
    image_handle wrapped;
    ASSERT_EQ(imgtext_image_wrap(buffer.data(), 20, 10, stride, &wrapped.p), IMGTEXT_OK);
    EXPECT_EQ(imgtext_image_pixels(wrapped.p), buffer.data());
    imgtext_text_style style = style_of(30);
    style.box = 1, style.padding = 200, style.box_color = {1, 2, 3, 255};
    ASSERT_EQ(imgtext_draw_text(wrapped.p, "M", 1, 100, 100, IMGTEXT_TOP_LEFT, &style, nullptr), IMGTEXT_OK);
    for (int y = 0; y < 10; ++y) {
        for (size_t x = 0; x < 80; x += 4) EXPECT_EQ(buffer[y * stride + x + 2], 3);  // the box painted the picture...
        for (size_t pad = 80; pad < stride; ++pad) EXPECT_EQ(buffer[y * stride + pad], 0xAB);  // ...not the gap
    }
    image_handle too_narrow;
    EXPECT_EQ(imgtext_image_wrap(buffer.data(), 20, 10, 79, &too_narrow.p), IMGTEXT_ERROR_ARGUMENT);
}

// Threads share fonts and nothing else: eight at once give one thread's
// bytes, and each reads only its own errors.
TEST(DrawingApi, EightThreadsGiveTheSameBytesAndTheirOwnErrors) {
    auto job = [](int id, std::vector<uint8_t> *png, std::string *error) {
        image_handle image;
        // Each status as expected, or what went wrong instead, in *error.
        auto expect = [&](imgtext_status got, imgtext_status wanted, const char *what) {
            if (got != wanted) *error = std::string(what) + ": " + imgtext_status_name(got);
        };
        expect(imgtext_image_create(240, 120, {20, 30, 40, 255}, &image.p), IMGTEXT_OK, "create");
        imgtext_text_style style = style_of(22);
        style.max_width = 200, style.align = IMGTEXT_ALIGN_RIGHT;
        expect(imgtext_draw_text_gravity(image.p,
                                         "\xC2\xA9 2026 Caf\xC3\xA9 \xC5\x81\xC3\xB3"
                                         "d\xC5\xBA, wrapped twice over",
                                         IMGTEXT_NUL_TERMINATED, IMGTEXT_BOTTOM_RIGHT, 8, &style, nullptr),
               IMGTEXT_OK, "draw");
        *png = encoded(image.p, save_options(IMGTEXT_FORMAT_PNG));
        image_handle missing;
        const std::string path = "/no/such/file-" + std::to_string(id) + ".png";
        for (int i = 0; i < 50; ++i) {
            expect(imgtext_image_load(path.c_str(), nullptr, &missing.p), IMGTEXT_ERROR_READ, "load");
            if (imgtext_error_message() != "cannot read file: " + path) *error = imgtext_error_message();
        }
    };
    std::vector<uint8_t> alone;
    std::string alone_error;
    job(99, &alone, &alone_error);
    std::vector<std::vector<uint8_t>> pngs(8);
    std::vector<std::string> errors(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) threads.emplace_back(job, i, &pngs[i], &errors[i]);
    for (auto &t : threads) t.join();
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(pngs[i], alone) << i;
        EXPECT_EQ(errors[i], "") << i;
    }
}

// Paths are UTF-8 everywhere; on Windows they reach the wide file functions,
// so names outside the ANSI code page work there too.
TEST(DrawingApi, Utf8PathsNameTheFilesTheySay) {
    scratch_dir dir;
    image_handle card;
    ASSERT_EQ(imgtext_image_create(12, 7, {200, 100, 50, 255}, &card.p), IMGTEXT_OK);
    for (const char *name : {"\xCE\xB5\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC.png",  // Greek
                             "\xE4\xB8\xAD\xE6\x96\x87\xE5\x90\x8D.jpg"}) {                           // CJK
        const std::string path = dir.path(name);
        ASSERT_EQ(imgtext_image_save(card.p, path.c_str(), nullptr), IMGTEXT_OK) << imgtext_error_message();
        ASSERT_EQ(imgtext_image_save(card.p, path.c_str(), nullptr), IMGTEXT_OK);  // and replace it
        image_handle back;
        ASSERT_EQ(imgtext_image_load(path.c_str(), nullptr, &back.p), IMGTEXT_OK) << imgtext_error_message();
        EXPECT_EQ(imgtext_image_width(back.p), 12);
#if defined(_WIN32)
        wchar_t wide[MAX_PATH];
        ASSERT_GT(MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide, MAX_PATH), 0);
        FILE *file = _wfopen(wide, L"rb");
        EXPECT_NE(file, nullptr) << "no file under the Unicode name";
        if (file) fclose(file);
#endif
    }
    // Counted without turning the names into narrow strings, which cannot
    // hold them on Windows.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.root()), {}), 2);
}

}  // namespace
