// Writes the fuzzers' starting corpus: one small picture in every format the
// decoder reads, a few text-layout records, encoder patterns, photo metadata
// (EXIF blocks, and JPEGs carrying EXIF, ICC and JFIF density), fonts (the
// built-in Caladea, a collection of it twice, and small TrueType and CFF
// fonts built here), and the crafted corpus of every decoder's headers
// (tests/support/crafted_images.h), for replay, and JPEGs of every layout the
// own decoder takes.
// Usage: make_seeds INPUT-DIR LAYOUT-DIR ENCODER-IDENTITY-DIR METADATA-DIR FONT-DIR CRAFTED-DIR JPEG-DIR CALADEA-TTF
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "crafted_images.h"
#include "font_builder.h"
#include "test_jpeg_writer.h"
#include "test_support.h"

namespace ts = test_support;

namespace {

void put(std::vector<uint8_t> &out, const void *p, size_t n) {
    out.insert(out.end(), static_cast<const uint8_t *>(p), static_cast<const uint8_t *>(p) + n);
}

// One record in the layout the text fuzzer reads.
std::vector<uint8_t> layout_record(uint8_t which, int16_t x, int16_t y, int16_t padding, int8_t size, int16_t red,
                                   uint8_t green, uint8_t blue, float opacity, const char *text) {
    std::vector<uint8_t> out{which};
    put(out, &x, 2), put(out, &y, 2), put(out, &padding, 2), put(out, &size, 1);
    put(out, &red, 2), put(out, &green, 1), put(out, &blue, 1), put(out, &opacity, 4);
    put(out, text, std::strlen(text));
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 9) return 2;
    const std::string in = argv[1], layout = argv[2], identity = argv[3], metadata = argv[4], fonts = argv[5],
                      crafted_dir = argv[6], jpeg = argv[7];
    ts::rgba picture = ts::pattern(9, 7);
    picture.at(2, 3)[3] = 100;
    ts::write_png(in + "/rgba.png", picture);
    ts::write_png_channels(in + "/grey.png", 4, 2, 1, {0, 50, 100, 150, 200, 250, 30, 60});
    ts::write_bytes(in + "/deep.png", ts::png16_bytes(2, 1, {1, 2, 3, 4, 5, 6, 7, 8}));
    ts::write_jpg(in + "/photo.jpg", picture, 90);
    ts::write_bmp(in + "/picture.bmp", picture);
    ts::write_tga(in + "/picture.tga", picture);
    ts::write_bytes(in + "/anim.gif", ts::gif_bytes(2, 2, {{0, 1, 2, 3}, {3, 2, 1, 0}}, {{{1, 2, 3}}}, 1));
    ts::write_bytes(in + "/picture.psd", ts::psd_bytes(picture));
    ts::write_bytes(in + "/picture.ppm", ts::ppm_bytes(picture));
    ts::write_hdr(in + "/light.hdr", 2, 1, {1.0f, 0.5f, 0.25f, 2.0f, 0.0f, 0.125f});

    ts::write_bytes(layout + "/add", layout_record(0, 32, 48, 0, 12, 255, 255, 255, 0.8f, "Hello\nWorld"));
    ts::write_bytes(layout + "/boxed", layout_record(1, -16, 80, 64, 24, 10, 200, 30, 1.0f, "AV To\r\n\tW\xC3\xA9"));
    ts::write_bytes(layout + "/centered", layout_record(2, 0, 0, 0, -1, 0, 0, 255, 1.0f, "\n\nx\n"));
    ts::write_bytes(layout + "/create", layout_record(3, 1000, 300, 0, 100, 255, 0, 0, 0.5f, "Title"));

    // Encoder identity: 2 bytes width, 2 bytes height, then the pixel pattern.
    ts::write_bytes(identity + "/flat", {37, 0, 11, 0, 10, 20, 30, 255});
    ts::write_bytes(identity + "/runs", {0, 2, 3, 0, 1, 1, 1, 1, 1, 1, 1, 1, 200, 200, 200, 200, 7});
    std::vector<uint8_t> noise = {99, 1, 64, 0};
    for (int i = 0; i < 3000; ++i) noise.push_back(static_cast<uint8_t>((i * 2654435761u) >> 13));
    ts::write_bytes(identity + "/noise", noise);
    ts::write_bytes(identity + "/tiny", {0, 0, 0, 0});

    const std::vector<uint8_t> rational = {0x48, 0, 0, 0, 1, 0, 0, 0};  // 72/1
    const uint32_t at = ts::tiff_data_offset(4);
    const std::vector<uint8_t> exif =
        ts::tiff_block(true, {{0x0112, 3, 1, 6}, {0x011A, 5, 1, at}, {0x011B, 5, 1, at}, {0x0128, 3, 1, 2}}, rational);
    ts::write_bytes(metadata + "/exif-le", exif);
    ts::write_bytes(metadata + "/exif-be", ts::tiff_block(false, {{0x010F, 2, 4, 0}, {0x0112, 3, 1, 8}}));
    std::vector<uint8_t> app1 = {'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), exif.begin(), exif.end());
    const std::vector<uint8_t> icc = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I',
                                      'L', 'E', 0,   1,   1,   'a', 'c', 's', 'p'};
    std::vector<uint8_t> photo =
        ts::jpeg_with_segments(ts::pattern(4, 3), {ts::jpeg_segment(0xE1, app1), ts::jpeg_segment(0xE2, icc)});
    photo[13] = 1, photo[15] = 200, photo[17] = 200;  // JFIF: 200 dots per inch
    ts::write_bytes(metadata + "/photo.jpg", photo);
    const std::vector<uint8_t> caladea = ts::read_bytes(argv[8]);
    if (caladea.empty()) return 1;
    ts::write_bytes(fonts + "/caladea.ttf", caladea);
    ts::write_bytes(fonts + "/caladea-twice.ttc", ts::collection_bytes({caladea, caladea}));
    ts::write_bytes(fonts + "/tiny-kern.ttf", ts::tiny_font({}));
    ts::write_bytes(fonts + "/tiny-gpos1.ttf", ts::tiny_font({.kerning = 1}));
    ts::write_bytes(fonts + "/tiny-gpos2-cmap12.ttf", ts::tiny_font({.kerning = 2, .cmap12 = true}));
    ts::write_bytes(fonts + "/tiny-cff.otf", ts::tiny_font({.cff = true}));
    ts::write_bytes(fonts + "/tiny-cff-cid-gpos1.otf", ts::tiny_font({.cff = true, .cid = true, .kerning = 1}));
    // Nested subroutine calls: 'Á' calls the whole chain, past the step limit; 'V' runs 131,000 steps.
    ts::write_bytes(
        fonts + "/tiny-cff-costly.otf",
        ts::tiny_font(
            {.cff = true,
             .cff_charstrings = {{2, ts::charstring({0, 0, ts::cff_op(21), -106, ts::cff_op(29), -106, ts::cff_op(29),
                                                     300, 700, ts::cff_op(5), ts::cff_op(14)})}},
             .cff_global_subrs = ts::cff_call_chain(4, 9)}));
    // Colour glyphs for U+4E00: a CBDT strike's PNG in a font without
    // outlines, and COLRv0 layers over glyf outlines.
    ts::write_bytes(fonts + "/tiny-cbdt.ttf",
                    ts::tiny_font({.outlines = false, .cbdt_png = ts::reference_png(ts::pattern(20, 20))}));
    ts::write_bytes(fonts + "/tiny-colr.ttf", ts::tiny_font({.colr = true}));
    ts::write_bytes(fonts + "/tiny-colr1.ttf", ts::tiny_font({.colr1 = true}));
    ts::write_bytes(fonts + "/tiny-pair.ttc",
                    ts::collection_bytes({ts::tiny_font({}), ts::tiny_font({.cff = true, .kerning = 2})}));
    for (const auto &[name, bytes] : crafted::corpus()) ts::write_bytes(crafted_dir + "/" + name, bytes);
    // JPEG decoder: one file of each layout it takes, small enough to mutate.
    const ts::rgba small = ts::pattern(19, 11);
    ts::write_bytes(jpeg + "/stb-444.jpg", ts::reference_jpg(small, 95));
    ts::write_bytes(jpeg + "/stb-420.jpg", ts::reference_jpg(small, 60));
    const int samplings[][2] = {{1, 1}, {2, 1}, {2, 2}, {1, 2}};
    for (int s = 0; s < 4; ++s)
        for (int progressive = 0; progressive < 4; ++progressive) {
            ts::jpeg_options o;
            o.sampling[0][0] = samplings[s][0], o.sampling[0][1] = samplings[s][1];
            o.restart_interval = s == 1 ? 2 : 0;
            o.progressive = progressive > 0;
            if (progressive) o.scans = ts::progressive_script(3, progressive - 1);
            ts::write_bytes(jpeg + "/ycbcr-" + std::to_string(s) + "-" + std::to_string(progressive) + ".jpg",
                            ts::write_test_jpeg(small, o));
        }
    ts::jpeg_options grey;
    grey.components = 1;
    ts::write_bytes(jpeg + "/grey.jpg", ts::write_test_jpeg(small, grey));
    grey.progressive = true, grey.restart_interval = 3;
    grey.scans = ts::progressive_script(1, 0);
    ts::write_bytes(jpeg + "/grey-progressive.jpg", ts::write_test_jpeg(small, grey));
    return 0;
}
