// The files the library writes: which format each name selects, and the exact
// structure of PNG, BMP and JPEG output.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "quendal_imgtext.h"
#include "test_support.h"

using test_support::scratch_dir;

namespace {

uint32_t be32(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}
uint32_t le32(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}
uint16_t le16(const std::vector<uint8_t> &b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

std::vector<uint8_t> make_card(const scratch_dir &dir, const std::string &name, int w = 37, int h = 23) {
    const std::string out = dir.path(name);
    EXPECT_EQ(imgtext_create(out.c_str(), "Hi\nyo", w, h, 12, 250, 20, 90, 10, 60, 200), 1) << imgtext_last_error();
    return test_support::read_bytes(out);
}

// The output path's extension in any case; otherwise the input's format as
// its first bytes show it (JPEG, PNG or BMP); otherwise PNG.
TEST(OutputFormat, ChosenByTheOutputNameThenTheInputsSignatureThenPng) {
    scratch_dir dir;
    const test_support::rgba picture = test_support::pattern(20, 10);
    test_support::write_jpg(dir.path("photo.jpg"), picture);
    test_support::write_bmp(dir.path("photo.bmp"), picture);
    test_support::write_png(dir.path("really-png.jpg"), picture);
    test_support::write_bytes(dir.path("anim.gif"), test_support::gif_bytes(2, 2, {{0, 1, 2, 3}}, {{{9, 9, 9}}}));
    using enum test_support::file_kind;
    const struct {
        const char *input;  // null: imgtext_create
        const char *output;
        test_support::file_kind expected;
    } rows[] = {{nullptr, "a.png", png},     {nullptr, "b.PNG", png},          {nullptr, "c.jpg", jpeg},
                {nullptr, "d.jpeg", jpeg},   {nullptr, "e.bmp", bmp},          {nullptr, "f.webp", png},
                {nullptr, "g", png},         {nullptr, "h.jpe", png},          {"photo.jpg", "i.dat", jpeg},
                {"photo.bmp", "j.dat", bmp}, {"really-png.jpg", "k.dat", png}, {"anim.gif", "l.dat", png},
                {"photo.jpg", "m.png", png}, {"photo.bmp", "n.JPEG", jpeg}};
    for (const auto &row : rows) {
        const std::string out = dir.path(row.output);
        if (row.input) {
            ASSERT_EQ(imgtext_add(dir.path(row.input).c_str(), out.c_str(), "Hi", 1, 1, 12, 255, 0, 0, 1.0f), 1);
        } else {
            make_card(dir, row.output);
        }
        EXPECT_EQ(test_support::kind_of(out), row.expected) << row.output;
    }
}

TEST(OutputFormat, PngHasExactlyIhdrOneIdatAndIend) {
    scratch_dir dir;
    const std::vector<uint8_t> png = make_card(dir, "card.png");
    std::vector<std::string> chunks;
    for (const auto &chunk : test_support::parts(png)) chunks.push_back(chunk.first);
    EXPECT_EQ(chunks, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    EXPECT_EQ(be32(png, 16), 37u);  // width
    EXPECT_EQ(be32(png, 20), 23u);  // height
    EXPECT_EQ(png[24], 8);          // bit depth
    EXPECT_EQ(png[25], 6);          // RGBA
    EXPECT_EQ(png[28], 0);          // no interlace
}

TEST(OutputFormat, BmpIs32BitWithV4HeaderAndAlphaMask) {
    scratch_dir dir;
    const std::vector<uint8_t> bmp = make_card(dir, "card.bmp");
    ASSERT_EQ(bmp.size(), 122u + 37 * 23 * 4);
    EXPECT_EQ(le32(bmp, 2), bmp.size());
    EXPECT_EQ(le32(bmp, 10), 122u);  // pixel data offset
    EXPECT_EQ(le32(bmp, 14), 108u);  // BITMAPV4HEADER
    EXPECT_EQ(le16(bmp, 28), 32);    // bits per pixel
    EXPECT_EQ(le32(bmp, 30), 3u);    // BI_BITFIELDS
    EXPECT_EQ(le32(bmp, 54), 0x00FF0000u);
    EXPECT_EQ(le32(bmp, 58), 0x0000FF00u);
    EXPECT_EQ(le32(bmp, 62), 0x000000FFu);
    EXPECT_EQ(le32(bmp, 66), 0xFF000000u);
    // Bottom row first, stored B, G, R, A: the bottom-left pixel is background.
    EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 122, bmp.begin() + 126), (std::vector<uint8_t>{200, 60, 10, 255}));
}

TEST(OutputFormat, BmpAndPngCarryTheSamePixels) {
    scratch_dir dir;
    make_card(dir, "card.png");
    make_card(dir, "card.bmp");
    EXPECT_EQ(test_support::decode(dir.path("card.png")).pixels, test_support::decode(dir.path("card.bmp")).pixels);
}

TEST(OutputFormat, JpegIsTheReferenceWriterAtQuality92WithFullChroma) {
    scratch_dir dir;
    make_card(dir, "card.png");
    const std::vector<uint8_t> jpeg = make_card(dir, "card.jpg");
    test_support::write_jpg(dir.path("reference.jpg"), test_support::decode(dir.path("card.png")), 92);
    EXPECT_EQ(jpeg, test_support::read_bytes(dir.path("reference.jpg")));

    // Baseline frame (SOF0) with every component sampled 1x1 (4:4:4).
    const auto segments = test_support::parts(jpeg);
    const auto sof = std::find_if(segments.begin(), segments.end(), [](const auto &s) { return s.first == "192"; });
    ASSERT_NE(sof, segments.end());
    EXPECT_EQ(sof->second[5], 3);  // components
    for (int c = 0; c < 3; ++c) EXPECT_EQ(sof->second[7 + c * 3], 0x11) << c;
}

}  // namespace
