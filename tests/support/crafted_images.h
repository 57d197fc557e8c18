// Input files for every format the decoder reads, built field by field so a
// copy can be cut short at the end of any field. Headers may declare anything
// (palettes smaller than the indices used, every bit depth, odd layouts); the
// pixel data is a pattern, not a picture. The corpus made from them is
// replayed under valgrind and MemorySanitizer: every byte the decoder reads
// must come from the file or be a defined zero.
#ifndef IMGTEXT_CRAFTED_IMAGES_H
#define IMGTEXT_CRAFTED_IMAGES_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace crafted {

// A file being built, and the offsets at which each of its fields ends.
class file {
public:
    file &u8(unsigned v) { return field({static_cast<uint8_t>(v)}); }
    file &le16(unsigned v);
    file &le32(uint32_t v);
    file &be16(unsigned v);
    file &be32(uint32_t v);
    file &text(const std::string &s) { return field({s.begin(), s.end()}); }
    file &field(const std::vector<uint8_t> &bytes);
    file &append(const file &other);  // keeps other's field ends
    const std::vector<uint8_t> &bytes() const { return bytes_; }
    const std::vector<size_t> &ends() const { return ends_; }

private:
    std::vector<uint8_t> bytes_;
    std::vector<size_t> ends_;
};

// Palette indices in paletted formats run through every value the bit depth
// allows, whatever the palette size.
struct bmp_options {
    int header = 40;  // 12 (OS/2), 40, 56, 108 or 124
    int bpp = 24;
    int palette = 0;            // entries written
    int width = 5, height = 3;  // negative height: rows top first
    bool bitfields = false;
};
struct png_options {
    int colour = 6, depth = 8;
    int palette = 0;        // PLTE entries; none if 0
    int transparency = -1;  // tRNS: entries for a palette, else a colour key; none if -1
    int width = 5, height = 3;
    bool interlaced = false;
    bool huffman = false;     // zlib with fixed Huffman codes instead of stored blocks
    bool split_data = false;  // two IDAT chunks
    bool empty_data = false;  // an empty IDAT chunk before the data
    bool iphone = false;      // CgBI chunk, raw deflate
};
struct gif_options {
    int global_bits = 2;  // global table of 2^bits entries; none if 0
    int local_bits = 0;   // likewise for each frame
    int code_size = 2;    // LZW minimum code size; indices run up to 2^code_size - 1
    int width = 5, height = 3, frames = 1;
    bool interlaced = false, extensions = false;
    int transparent = -1, disposal = 0;
};
struct psd_options {
    int channels = 4, depth = 8, width = 5, height = 3;
    bool rle = false;
};
struct pic_options {
    std::vector<std::pair<int, int>> packets = {{0, 0xF0}};  // (compression type, channel mask)
    int width = 5, height = 3;
};
struct jpeg_options {
    std::vector<std::array<int, 2>> sampling = {{1, 1}, {1, 1}, {1, 1}};  // (h, v) per component
    int width = 13, height = 9;
    bool progressive = false, jfif = false, wide_tables = false, extended = false;
    int restart = 0;  // restart interval in MCUs; none if 0
    int adobe = -1;   // APP14 colour transform; no APP14 if -1
};
struct pnm_options {
    char kind = '6';
    int maxval = 255, width = 5, height = 3;
    bool comment = false;
};
struct hdr_options {
    int width = 3, height = 2;
    bool rle = false;          // run-length scanlines (width 8 to 32767)
    bool short_magic = false;  // "#?RGBE"
};
struct tga_options {
    int type = 2, bpp = 32;
    int colormap = 0, colormap_bits = 24, colormap_start = 0;
    int width = 5, height = 3, id_length = 0;
    bool top_first = false;
};

file bmp(const bmp_options &o);
file png(const png_options &o);
file gif(const gif_options &o);
file psd(const psd_options &o);
file pic(const pic_options &o);
file jpeg(const jpeg_options &o);
file pnm(const pnm_options &o);
file hdr(const hdr_options &o);
file tga(const tga_options &o);

// A PNG chunk: length, type, data, CRC.
void png_chunk(file &f, const std::string &type, const file &data);
// A GIF frame's image data: the LZW minimum code size, the indices in
// sub-blocks of up to `block` bytes, and the terminator. A clear code before
// every index keeps each code code_size + 1 bits wide.
void gif_image_data(file &f, const std::vector<uint8_t> &indices, int code_size, size_t block);

// Every variant of every format, each whole and cut at each field end,
// without duplicates: (name, bytes).
std::vector<std::pair<std::string, std::vector<uint8_t>>> corpus();

}  // namespace crafted

#endif
