#include "crafted_images.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <set>

#include "test_support.h"

namespace crafted {

file &file::le16(unsigned v) { return field({static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}); }
file &file::be16(unsigned v) { return field({static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}); }
file &file::le32(uint32_t v) {
    return field({static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                  static_cast<uint8_t>(v >> 24)});
}
file &file::be32(uint32_t v) {
    return field({static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                  static_cast<uint8_t>(v)});
}

file &file::field(const std::vector<uint8_t> &bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    ends_.push_back(bytes_.size());
    return *this;
}

file &file::append(const file &other) {
    for (size_t end : other.ends_) ends_.push_back(bytes_.size() + end);
    bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
    return *this;
}

namespace {

// Pattern bytes: every value turns up, neighbours differ.
uint8_t sample(size_t i) { return static_cast<uint8_t>(i * 73 + 41); }
std::vector<uint8_t> samples(size_t first, size_t count) {
    std::vector<uint8_t> out(count);
    for (size_t i = 0; i < count; ++i) out[i] = sample(first + i);
    return out;
}
std::array<uint8_t, 3> colour(int i) {
    return {static_cast<uint8_t>(10 * i + 1), static_cast<uint8_t>(20 * i + 2), static_cast<uint8_t>(30 * i + 3)};
}

// `count` indices of `bits` bits each, packed from the high bit, running
// through 0 .. 2^bits - 1 from `first` on.
std::vector<uint8_t> packed_indices(size_t first, int count, int bits) {
    std::vector<uint8_t> out((count * bits + 7) / 8);
    for (int i = 0; i < count; ++i) {
        const unsigned index = (first + i) % (1u << bits);
        const int at = i * bits;
        out[at / 8] |= static_cast<uint8_t>(index << (8 - bits - at % 8));
    }
    return out;
}

int div_up(int a, int b) { return (a + b - 1) / b; }

// Writes a colour table as fields: the first two entries one by one, then in
// groups of 64, so that a full table is not cut in hundreds of places.
void table(file &f, int entries, int entry_size, int first_colour) {
    std::vector<uint8_t> pending;
    for (int i = 0; i < entries; ++i) {
        const auto c = colour(first_colour + i);
        for (int k = 0; k < entry_size; ++k) pending.push_back(k < 3 ? c[k] : 0);
        if (i < 2 || (i + 1) % 64 == 0 || i + 1 == entries) f.field(pending), pending.clear();
    }
}

}  // namespace

file bmp(const bmp_options &o) {
    const bool os2 = o.header == 12;
    const bool masks_after = o.bitfields && (o.header == 40 || o.header == 56);
    const int rows = std::abs(o.height);
    const uint32_t row_bytes = (o.width * o.bpp + 31) / 32 * 4;
    const uint32_t offset = 14 + o.header + (masks_after ? 12 : 0) + o.palette * (os2 ? 3 : 4);
    // Unusual masks, so the general path runs rather than the byte-order one.
    const uint32_t r = o.bpp == 16 ? 0xF800 : 0x0000FF00, g = o.bpp == 16 ? 0x07E0 : 0x00FF0000,
                   b = o.bpp == 16 ? 0x001F : 0xFF000000, a = o.bpp == 16 ? 0 : 0x000000FF;
    file f;
    f.text("BM").le32(offset + row_bytes * rows).le16(0).le16(0).le32(offset).le32(o.header);
    if (os2) {
        f.le16(o.width).le16(o.height);
    } else {
        f.le32(o.width).le32(o.height);
    }
    f.le16(1).le16(o.bpp);
    if (!os2) {
        f.le32(o.bitfields ? 3 : 0).le32(row_bytes * rows).le32(2835).le32(2835);
        f.le32(o.palette).le32(0);
        if (o.header >= 56) f.le32(r).le32(g).le32(b).le32(a);
        if (o.header >= 108) {
            f.le32(0x73524742);                      // colour space "sRGB"
            for (int i = 0; i < 12; ++i) f.le32(0);  // end points and gamma
        }
        if (o.header == 124)
            for (int i = 0; i < 4; ++i) f.le32(0);  // intent and profile
        if (masks_after) f.le32(r).le32(g).le32(b);
    }
    table(f, o.palette, os2 ? 3 : 4, 0);
    for (int y = 0; y < rows; ++y) {
        const size_t first = y * o.width;
        std::vector<uint8_t> row =
            o.bpp <= 8 ? packed_indices(first, o.width, o.bpp) : samples(first * 4, o.width * o.bpp / 8);
        row.resize(row_bytes);
        f.field(row);
    }
    return f;
}

namespace {

uint32_t crc32(const std::vector<uint8_t> &bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// A zlib stream of stored blocks of at most 32 bytes, each field separate.
file zlib_stored(const std::vector<uint8_t> &raw) {
    file z;
    z.u8(0x78).u8(0x01);
    for (size_t at = 0; at < raw.size(); at += 32) {
        const size_t n = std::min<size_t>(32, raw.size() - at);
        z.u8(at + n == raw.size()).le16(n).le16(~n & 0xFFFF).field({raw.begin() + at, raw.begin() + at + n});
    }
    uint32_t s1 = 1, s2 = 0;
    for (uint8_t byte : raw) s1 = (s1 + byte) % 65521, s2 = (s2 + s1) % 65521;
    return z.be32(s2 << 16 | s1);
}

// A compressed stream as fields of 8 bytes.
file in_fields(const std::vector<uint8_t> &bytes, size_t from, size_t to) {
    file f;
    for (size_t at = from; at < to; at += 8) f.field({bytes.begin() + at, bytes.begin() + std::min(to, at + 8)});
    return f;
}

}  // namespace

void png_chunk(file &f, const std::string &type, const file &data) {
    std::vector<uint8_t> body(type.begin(), type.end());
    body.insert(body.end(), data.bytes().begin(), data.bytes().end());
    f.be32(data.bytes().size()).text(type).append(data).be32(crc32(body));
}

file png(const png_options &o) {
    static const int channels_of[7] = {1, 0, 3, 1, 2, 0, 4};
    const int channels = o.colour <= 6 ? channels_of[o.colour] : 1;
    const int bits = std::max(channels, 1) * o.depth;
    // Adam7's passes, or the whole image as one.
    struct pass {
        int x0, y0, dx, dy;
    };
    static const pass adam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                  {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    const std::vector<pass> passes =
        o.interlaced ? std::vector<pass>(adam7, adam7 + 7) : std::vector<pass>{{0, 0, 1, 1}};
    std::vector<uint8_t> raw;
    size_t index = 0;
    for (const pass &p : passes) {
        const int w = div_up(o.width - p.x0, p.dx), h = div_up(o.height - p.y0, p.dy);
        if (w <= 0 || h <= 0) continue;
        for (int y = 0; y < h; ++y) {
            raw.push_back(o.colour == 3 ? 0 : static_cast<uint8_t>(y % 5));  // every filter
            const std::vector<uint8_t> row =
                o.colour == 3 ? packed_indices(index, w, o.depth) : samples(index * 8, div_up(w * bits, 8));
            raw.insert(raw.end(), row.begin(), row.end());
            index += w;
        }
    }
    file data;
    if (o.huffman || o.iphone) {
        const std::vector<uint8_t> z = test_support::reference_zlib(raw);
        const size_t from = o.iphone ? 2 : 0, to = o.iphone ? z.size() - 4 : z.size();
        data = in_fields(z, from, to);
    } else {
        data = zlib_stored(raw);
    }

    file f;
    f.field({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
    if (o.iphone) png_chunk(f, "CgBI", file().be32(0x50002002));
    png_chunk(f, "IHDR", file().be32(o.width).be32(o.height).u8(o.depth).u8(o.colour).u8(0).u8(0).u8(o.interlaced));
    if (o.palette > 0) {
        file plte;
        table(plte, o.palette, 3, 0);
        png_chunk(f, "PLTE", plte);
    }
    if (o.transparency >= 0) {
        file trns;
        if (o.colour == 3) {
            for (int i = 0; i < o.transparency; ++i) trns.u8(40 * i + 7);
        } else {
            for (int c = 0; c < (o.colour == 2 ? 3 : 1); ++c) trns.be16(o.transparency);
        }
        png_chunk(f, "tRNS", trns);
    }
    if (o.empty_data) png_chunk(f, "IDAT", file());
    if (o.split_data) {
        const size_t half = data.bytes().size() / 2;
        png_chunk(f, "IDAT", in_fields(data.bytes(), 0, half));
        png_chunk(f, "IDAT", in_fields(data.bytes(), half, data.bytes().size()));
    } else {
        png_chunk(f, "IDAT", data);
    }
    png_chunk(f, "IEND", file());
    return f;
}

file gif(const gif_options &o) {
    file f;
    f.text("GIF89a").le16(o.width).le16(o.height);
    f.u8(o.global_bits ? 0x80u | (o.global_bits - 1) : 0).u8(0).u8(0);
    if (o.global_bits) table(f, 1 << o.global_bits, 3, 0);
    if (o.extensions) {
        f.u8(0x21).u8(0xFF).u8(11).text("NETSCAPE2.0").u8(3).field({1, 0, 0}).u8(0);
        f.u8(0x21).u8(0xFE).u8(3).text("abc").u8(0);
    }
    for (int frame = 0; frame < o.frames; ++frame) {
        if (o.transparent >= 0 || o.disposal) {
            f.u8(0x21).u8(0xF9).u8(4).u8(o.disposal << 2 | (o.transparent >= 0));
            f.le16(10).u8(std::max(o.transparent, 0)).u8(0);
        }
        // Later frames cover the picture less one pixel at the top left.
        const int x = frame ? 1 : 0, w = std::max(o.width - x, 1), h = std::max(o.height - x, 1);
        f.u8(0x2C).le16(x).le16(x).le16(w).le16(h);
        f.u8((o.local_bits ? 0x80u | (o.local_bits - 1) : 0) | (o.interlaced ? 0x40u : 0));
        if (o.local_bits) table(f, 1 << o.local_bits, 3, 7);
        std::vector<uint8_t> indices(static_cast<size_t>(w) * h);
        for (size_t i = 0; i < indices.size(); ++i)
            indices[i] = static_cast<uint8_t>((i + frame) % (1u << o.code_size));
        gif_image_data(f, indices, o.code_size, 16);
    }
    f.u8(0x3B);
    return f;
}

void gif_image_data(file &f, const std::vector<uint8_t> &indices, int code_size, size_t block) {
    f.u8(code_size);
    // A clear code before every literal keeps the code width fixed.
    const int width = code_size + 1;
    const unsigned clear = 1u << code_size;
    std::vector<uint8_t> packed;
    uint32_t acc = 0;
    int count = 0;
    auto emit = [&](unsigned code) {
        acc |= code << count;
        for (count += width; count >= 8; count -= 8, acc >>= 8) packed.push_back(static_cast<uint8_t>(acc));
    };
    for (uint8_t index : indices) {
        emit(clear);
        emit(index);
    }
    emit(clear + 1);
    if (count > 0) packed.push_back(static_cast<uint8_t>(acc));
    for (size_t at = 0; at < packed.size(); at += block) {
        const size_t n = std::min(block, packed.size() - at);
        f.u8(n).field({packed.begin() + at, packed.begin() + at + n});
    }
    f.u8(0);
}

file psd(const psd_options &o) {
    file f;
    f.text("8BPS").be16(1).field({0, 0, 0, 0, 0, 0}).be16(o.channels);
    f.be32(o.height).be32(o.width);
    f.be16(o.depth).be16(3).be32(0).be32(0).be32(0).be16(o.rle);
    const int row = o.width * o.depth / 8;
    if (!o.rle) {
        for (int c = 0; c < o.channels; ++c)
            for (int y = 0; y < o.height; ++y) f.field(samples((c * o.height + y) * row, row));
        return f;
    }
    // Each row: a run of three (or what is left), then literals.
    std::vector<file> rows;
    for (int c = 0; c < o.channels; ++c) {
        for (int y = 0; y < o.height; ++y) {
            file r;
            const int run = std::min(3, row);
            r.u8(257 - run).u8(sample(c + y));
            if (row > run) {
                r.u8(row - run - 1);
                r.field(samples(c * 31 + y, row - run));
            }
            rows.push_back(r);
        }
    }
    for (const file &r : rows) f.be16(r.bytes().size());
    for (const file &r : rows) f.append(r);
    return f;
}

file pic(const pic_options &o) {
    file f;
    f.field({0x53, 0x80, 0xF6, 0x34}).field(std::vector<uint8_t>(84, 0)).text("PICT");
    f.be16(o.width).be16(o.height).be32(0x3F800000).be16(3).be16(0);
    for (size_t i = 0; i < o.packets.size(); ++i) {
        f.u8(i + 1 < o.packets.size()).u8(8);
        f.u8(o.packets[i].first).u8(o.packets[i].second);
    }
    size_t seed = 0;
    for (int y = 0; y < o.height; ++y) {
        for (const auto &[type, mask] : o.packets) {
            const int channels = std::popcount(mask & 0xF0u);
            auto value = [&] { return samples(seed++ * 4, channels); };
            int left = o.width;
            while (left > 0) {
                if (type == 1) {  // pure run-length: count, value
                    const int n = std::min(left, 2);
                    f.u8(n).field(value());
                    left -= n;
                } else if (type == 2 && left >= 2) {  // mixed: a run, long form when it can be
                    const int n = std::min(left, 3);
                    if (n == 3)
                        f.u8(128).be16(3);
                    else
                        f.u8(127 + n);
                    f.field(value());
                    left -= n;
                } else if (type == 2) {  // mixed: one literal
                    f.u8(0).field(value());
                    --left;
                } else {
                    f.field(value());
                    --left;
                }
            }
        }
    }
    return f;
}

namespace {

void jpeg_segment(file &f, unsigned marker, const file &body) {
    f.be16(marker).be16(body.bytes().size() + 2).append(body);
}

}  // namespace

// Every block is DC difference 0 and end of block, under one-code Huffman
// tables: two zero bits per block (one per block in a progressive scan).
file jpeg(const jpeg_options &o) {
    const int components = o.sampling.size();
    int hmax = 1, vmax = 1;
    for (const auto &s : o.sampling) hmax = std::max(hmax, s[0]), vmax = std::max(vmax, s[1]);

    file f;
    f.be16(0xFFD8);
    if (o.jfif)
        jpeg_segment(f, 0xFFE0, file().text(std::string("JFIF\0", 5)).be16(0x0102).u8(0).be16(1).be16(1).be16(0));
    if (o.adobe >= 0) jpeg_segment(f, 0xFFEE, file().text("Adobe").be16(100).be16(0).be16(0).u8(o.adobe));
    file tables;
    for (unsigned t = 0; t < 2; ++t) {
        tables.u8(o.wide_tables << 4 | t);
        std::vector<uint8_t> steps(o.wide_tables ? 128 : 64, 1);  // every step 1
        if (o.wide_tables)
            for (size_t i = 0; i < steps.size(); i += 2) steps[i] = 0;
        tables.field(steps);
    }
    jpeg_segment(f, 0xFFDB, tables);
    file frame;
    frame.u8(8).be16(o.height).be16(o.width).u8(components);
    for (int c = 0; c < components; ++c) frame.u8(c + 1).u8(o.sampling[c][0] << 4 | o.sampling[c][1]).u8(c > 0);
    jpeg_segment(f, o.progressive ? 0xFFC2 : o.extended ? 0xFFC1 : 0xFFC0, frame);
    file huffman;
    for (unsigned table : {0x00u, 0x10u, 0x01u, 0x11u}) {
        std::vector<uint8_t> counts(16, 0);
        counts[0] = 1;
        huffman.u8(table).field(counts).u8(0);
    }
    jpeg_segment(f, 0xFFC4, huffman);
    if (o.restart) jpeg_segment(f, 0xFFDD, file().be16(o.restart));

    // One scan: its components, spectral band, approximation, bits per block.
    auto scan = [&](const std::vector<int> &members, int ss, int se, int ah_al, int bits_per_block) {
        file header;
        header.u8(members.size());
        for (int c : members) header.u8(c + 1).u8(c > 0 ? 0x11 : 0x00);
        header.u8(ss).u8(se).u8(ah_al);
        jpeg_segment(f, 0xFFDA, header);
        int mcus = 0, blocks_per_mcu = 0;
        if (members.size() == 1) {
            const auto &s = o.sampling[members[0]];
            mcus = div_up(div_up(o.width * s[0], hmax), 8) * div_up(div_up(o.height * s[1], vmax), 8);
            blocks_per_mcu = 1;
        } else {
            mcus = div_up(o.width, 8 * hmax) * div_up(o.height, 8 * vmax);
            for (int c : members) blocks_per_mcu += o.sampling[c][0] * o.sampling[c][1];
        }
        const int per_interval = o.restart ? o.restart : mcus;
        for (int first = 0, marker = 0; first < mcus; first += per_interval, ++marker) {
            if (first > 0) f.be16(0xFFD0u + (marker - 1) % 8);
            const int bits = std::min(per_interval, mcus - first) * blocks_per_mcu * bits_per_block;
            std::vector<uint8_t> data(div_up(bits, 8), 0);
            if (bits % 8) data.back() = static_cast<uint8_t>(0xFF >> (bits % 8));  // padding ones
            f.append(in_fields(data, 0, data.size()));
        }
    };
    std::vector<int> all(components);
    for (int c = 0; c < components; ++c) all[c] = c;
    if (!o.progressive) {
        scan(all, 0, 63, 0, 2);
    } else {
        scan(all, 0, 0, 0x01, 1);  // DC, first approximation
        scan(all, 0, 0, 0x10, 1);  // DC refinement
        for (int c : all) scan({c}, 1, 63, 0, 1);
    }
    f.be16(0xFFD9);
    return f;
}

file pnm(const pnm_options &o) {
    file f;
    f.text(std::string("P") + o.kind).text("\n");
    if (o.comment) f.text("# crafted\n");
    f.text(std::to_string(o.width)).text(" ").text(std::to_string(o.height)).text("\n");
    f.text(std::to_string(o.maxval)).text("\n");
    const size_t row = o.width * (o.kind == '6' ? 3 : 1) * (o.maxval > 255 ? 2 : 1);
    for (int y = 0; y < o.height; ++y) f.field(samples(y * row, row));
    return f;
}

file hdr(const hdr_options &o) {
    file f;
    f.text(o.short_magic ? "#?RGBE\n" : "#?RADIANCE\n").text("FORMAT=32-bit_rle_rgbe\n").text("EXPOSURE=1.0\n");
    f.text("\n").text("-Y " + std::to_string(o.height) + " +X " + std::to_string(o.width) + "\n");
    for (int y = 0; y < o.height; ++y) {
        if (!o.rle) {  // flat: r, g, b, exponent; a first byte of 2 would mean run-length
            for (int x = 0; x < o.width; ++x) {
                const size_t i = y * o.width + x;
                f.field({static_cast<uint8_t>(sample(i) | 4), sample(i + 1), sample(i + 2),
                         static_cast<uint8_t>(126 + i % 4)});
            }
            continue;
        }
        f.u8(2).u8(2).u8(o.width >> 8).u8(o.width & 0xFF);
        for (int channel = 0; channel < 4; ++channel) {
            for (int x = 0; x < o.width;) {  // a literal of two, then a run of up to five
                const int literal = std::min(2, o.width - x);
                f.u8(literal).field(samples(y * 7 + channel + x, literal));
                x += literal;
                if (x == o.width) break;
                const int run = std::min(5, o.width - x);
                f.u8(128 + run).u8(channel == 3 ? 128u + (x % 3) : sample(x));
                x += run;
            }
        }
    }
    return f;
}

file tga(const tga_options &o) {
    const bool indexed = o.type == 1 || o.type == 9, rle = o.type >= 9;
    file f;
    f.u8(o.id_length).u8(indexed).u8(o.type);
    f.le16(o.colormap_start).le16(o.colormap).u8(o.colormap_bits);
    f.le16(0).le16(0).le16(o.width).le16(o.height).u8(o.bpp);
    f.u8((o.top_first ? 0x20u : 0) | (o.bpp == 32 ? 8u : 0));
    if (o.id_length) f.field(std::vector<uint8_t>(o.id_length, 'i'));
    if (o.colormap_start) f.field(std::vector<uint8_t>(o.colormap_start, 0));
    table(f, o.colormap, div_up(o.colormap_bits, 8), 0);
    const size_t pixel = div_up(o.bpp, 8);
    // Indices run past the colour map's end.
    auto value = [&](int i) {
        if (!indexed) return samples(i * pixel, pixel);
        const unsigned index = i % (o.colormap + 2);
        return pixel == 1 ? std::vector<uint8_t>{static_cast<uint8_t>(index)}
                          : std::vector<uint8_t>{static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8)};
    };
    for (int y = 0; y < o.height; ++y) {
        const int first = y * o.width;
        if (!rle) {
            std::vector<uint8_t> row;
            for (int x = 0; x < o.width; ++x) {
                const auto v = value(first + x);
                row.insert(row.end(), v.begin(), v.end());
            }
            f.field(row);
            continue;
        }
        // A repeat of two (or one), then the rest of the row raw.
        const int repeat = std::min(2, o.width);
        f.u8(0x80u | (repeat - 1)).field(value(first));
        if (o.width > repeat) {
            f.u8(o.width - repeat - 1);
            for (int x = repeat; x < o.width; ++x) f.field(value(first + x));
        }
    }
    return f;
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> corpus() {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> out;
    std::set<std::vector<uint8_t>> seen;
    auto add = [&](const std::string &name, const file &f) {
        const std::vector<uint8_t> &bytes = f.bytes();
        if (seen.insert(bytes).second) out.emplace_back(name, bytes);
        for (size_t end : f.ends()) {
            if (end == 0 || end >= bytes.size()) continue;
            std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + end);
            if (seen.insert(cut).second) out.emplace_back(name + "-cut" + std::to_string(end), std::move(cut));
        }
    };

    for (int header : {12, 40, 56, 108, 124}) {
        // Palette sizes in full for the two common headers; the longer ones
        // differ from the 40-byte one only before the palette.
        const bool all_sizes = header <= 40;
        for (int bpp : {1, 4, 8}) {
            for (int entries : {0, 1, 2, 5, 1 << bpp}) {
                if (entries > (1 << bpp) || (!all_sizes && entries != 1)) continue;
                const int side = bpp == 8 ? 16 : 5;  // every index appears
                add("bmp-h" + std::to_string(header) + "-" + std::to_string(bpp) + "bit-pal" + std::to_string(entries),
                    bmp({.header = header, .bpp = bpp, .palette = entries, .width = side, .height = side}));
            }
        }
        for (int bpp : {16, 24, 32}) {
            const std::string name = "bmp-h" + std::to_string(header) + "-" + std::to_string(bpp) + "bit";
            add(name, bmp({.header = header, .bpp = bpp}));
            add(name + "-top", bmp({.header = header, .bpp = bpp, .height = -3}));
            if (bpp != 24 && header != 12)
                add(name + "-fields", bmp({.header = header, .bpp = bpp, .bitfields = true}));
        }
    }
    add("bmp-h40-2bit-pal4", bmp({.header = 40, .bpp = 2, .palette = 4}));

    for (int depth : {1, 2, 4, 8, 16}) {
        const std::string d = std::to_string(depth);
        add("png-grey" + d, png({.colour = 0, .depth = depth}));
        if (depth == 8 || depth == 16) {
            add("png-grey" + d + "-key", png({.colour = 0, .depth = depth, .transparency = 100}));
            add("png-rgb" + d, png({.colour = 2, .depth = depth}));
            add("png-rgb" + d + "-key", png({.colour = 2, .depth = depth, .transparency = 1000}));
            add("png-greyalpha" + d, png({.colour = 4, .depth = depth}));
            add("png-rgba" + d, png({.colour = 6, .depth = depth}));
            add("png-rgba" + d + "-interlaced", png({.colour = 6, .depth = depth, .interlaced = true}));
        }
        if (depth == 16) continue;
        const int side = depth == 8 ? 16 : 5;
        for (int entries : {0, 1, 2, 1 << depth}) {
            if (entries > (1 << depth)) continue;
            add("png-pal" + d + "-" + std::to_string(entries),
                png({.colour = 3, .depth = depth, .palette = entries, .width = side, .height = side}));
        }
        add("png-pal" + d + "-1-alpha", png({.colour = 3, .depth = depth, .palette = 1, .transparency = 1}));
        add("png-pal" + d + "-2-interlaced", png({.colour = 3, .depth = depth, .palette = 2, .interlaced = true}));
    }
    add("png-grey1-interlaced", png({.colour = 0, .depth = 1, .width = 9, .height = 9, .interlaced = true}));
    add("png-rgba8-huffman", png({.colour = 6, .huffman = true}));
    add("png-pal8-1-huffman", png({.colour = 3, .palette = 1, .width = 16, .height = 16, .huffman = true}));
    add("png-rgba8-split", png({.colour = 6, .width = 9, .height = 7, .split_data = true}));
    add("png-rgba8-empty-first-data", png({.colour = 6, .empty_data = true}));
    add("png-rgba8-iphone", png({.colour = 6, .iphone = true}));
    add("png-rgb8-iphone", png({.colour = 2, .iphone = true}));
    add("png-colour5", png({.colour = 5}));

    for (int code_size = 2; code_size <= 8; ++code_size) {
        const int side = code_size == 8 ? 16 : 5;
        for (int global : {0, 1, 2, 8}) {
            for (int local : {0, 1}) {
                const std::string name = "gif-code" + std::to_string(code_size) + "-global" + std::to_string(global) +
                                         "-local" + std::to_string(local);
                add(name, gif({.global_bits = global,
                               .local_bits = local,
                               .code_size = code_size,
                               .width = side,
                               .height = side}));
            }
        }
    }
    add("gif-transparent", gif({.global_bits = 1, .transparent = 3}));
    add("gif-interlaced", gif({.width = 4, .height = 9, .interlaced = true}));
    add("gif-extensions", gif({.extensions = true}));
    for (int disposal : {0, 1, 2, 3})
        add("gif-frames-dispose" + std::to_string(disposal),
            gif({.global_bits = 1, .frames = 3, .transparent = 1, .disposal = disposal}));

    for (int channels : {0, 1, 3, 4, 5}) {
        add("psd-" + std::to_string(channels) + "ch", psd({.channels = channels}));
        add("psd-" + std::to_string(channels) + "ch-rle", psd({.channels = channels, .rle = true}));
    }
    add("psd-4ch-16bit", psd({.channels = 4, .depth = 16}));
    add("psd-3ch-16bit", psd({.channels = 3, .depth = 16}));
    add("psd-4ch-16bit-rle", psd({.channels = 4, .depth = 16, .rle = true}));

    for (int type : {0, 1, 2, 3}) {
        for (int mask : {0xE0, 0xF0, 0x10, 0x00})
            add("pic-type" + std::to_string(type) + "-mask" + std::to_string(mask), pic({.packets = {{type, mask}}}));
    }
    add("pic-split", pic({.packets = {{2, 0xE0}, {1, 0x10}}}));
    add("pic-overlap", pic({.packets = {{0, 0xC0}, {2, 0x60}, {1, 0x30}}, .width = 7}));

    const std::vector<std::pair<std::string, std::vector<std::array<int, 2>>>> samplings = {
        {"grey", {{1, 1}}},
        {"444", {{1, 1}, {1, 1}, {1, 1}}},
        {"420", {{2, 2}, {1, 1}, {1, 1}}},
        {"422", {{2, 1}, {1, 1}, {1, 1}}},
        {"440", {{1, 2}, {1, 1}, {1, 1}}},
        {"411", {{4, 1}, {1, 1}, {1, 1}}},
        {"odd", {{1, 2}, {2, 1}, {1, 1}}},
        {"chroma-larger", {{1, 1}, {2, 2}, {1, 1}}},
        {"cmyk", {{1, 1}, {1, 1}, {1, 1}, {1, 1}}},
        {"two", {{1, 1}, {1, 1}}},
    };
    for (const auto &[name, sampling] : samplings) {
        add("jpeg-" + name, jpeg({.sampling = sampling}));
        add("jpeg-" + name + "-progressive", jpeg({.sampling = sampling, .progressive = true}));
    }
    add("jpeg-420-restart1", jpeg({.sampling = samplings[2].second, .width = 40, .height = 20, .restart = 1}));
    add("jpeg-444-restart2-progressive", jpeg({.width = 30, .height = 20, .progressive = true, .restart = 2}));
    add("jpeg-444-jfif-wide-extended", jpeg({.jfif = true, .wide_tables = true, .extended = true}));
    for (int transform : {0, 1, 2}) {
        add("jpeg-444-adobe" + std::to_string(transform), jpeg({.adobe = transform}));
        add("jpeg-cmyk-adobe" + std::to_string(transform), jpeg({.sampling = samplings[8].second, .adobe = transform}));
    }
    add("jpeg-1x1", jpeg({.width = 1, .height = 1}));

    for (char kind : {'5', '6'}) {
        for (int maxval : {1, 255, 300, 65535}) {
            add(std::string("pnm-p") + kind + "-" + std::to_string(maxval), pnm({.kind = kind, .maxval = maxval}));
        }
        add(std::string("pnm-p") + kind + "-comment", pnm({.kind = kind, .comment = true}));
    }

    add("hdr-flat", hdr({}));
    add("hdr-flat-rgbe", hdr({.width = 7, .height = 1, .short_magic = true}));
    add("hdr-rle", hdr({.width = 9, .height = 2, .rle = true}));
    add("hdr-rle-wide", hdr({.width = 20, .height = 3, .rle = true}));
    add("hdr-flat-rows-of-rle-width", hdr({.width = 8, .height = 2}));

    for (int bpp : {15, 16, 24, 32}) {
        add("tga-rgb" + std::to_string(bpp), tga({.type = 2, .bpp = bpp}));
        add("tga-rgb" + std::to_string(bpp) + "-rle", tga({.type = 10, .bpp = bpp, .top_first = true}));
    }
    for (int bpp : {8, 16}) {
        add("tga-grey" + std::to_string(bpp), tga({.type = 3, .bpp = bpp}));
        add("tga-grey" + std::to_string(bpp) + "-rle", tga({.type = 11, .bpp = bpp}));
    }
    for (int bits : {8, 15, 16, 24, 32}) {
        for (int entries : {1, 2, 256}) {
            const std::string name = "tga-map" + std::to_string(bits) + "-" + std::to_string(entries);
            add(name, tga({.type = 1, .bpp = 8, .colormap = entries, .colormap_bits = bits}));
            add(name + "-rle", tga({.type = 9, .bpp = 8, .colormap = entries, .colormap_bits = bits}));
        }
    }
    add("tga-map24-index16", tga({.type = 1, .bpp = 16, .colormap = 3}));
    add("tga-map24-start-id", tga({.type = 1, .bpp = 8, .colormap = 3, .colormap_start = 2, .id_length = 5}));
    return out;
}

}  // namespace crafted
