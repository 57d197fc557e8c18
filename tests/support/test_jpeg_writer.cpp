#include "test_jpeg_writer.h"

#include <algorithm>
#include <cmath>

#include "crafted_images.h"

namespace test_support {

namespace {

const double k_pi = 3.14159265358979323846;

const int k_zigzag_to_natural[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                     12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                     35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                     58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
const int k_luma_quant[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                              14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                              18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                              49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const int k_chroma_quant[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
                                99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// A length-limited Huffman code for the symbol counts (the usual method:
// merge the two rarest, then move codes longer than 16 bits up; a reserved
// symbol keeps any code from being all ones).
struct table {
    uint8_t counts[16] = {};
    std::vector<uint8_t> symbols;
    uint16_t code[256] = {};
    uint8_t length[256] = {};

    explicit table(const long frequency[256]) {
        long freq[257];
        int size[257] = {}, others[257];
        std::copy(frequency, frequency + 256, freq);
        freq[256] = 1;
        std::fill(others, others + 257, -1);
        for (;;) {
            int v1 = -1, v2 = -1;
            for (int i = 0; i < 257; ++i)
                if (freq[i] > 0 && (v1 < 0 || freq[i] <= freq[v1])) v1 = i;
            for (int i = 0; i < 257; ++i)
                if (freq[i] > 0 && i != v1 && (v2 < 0 || freq[i] <= freq[v2])) v2 = i;
            if (v2 < 0) break;
            freq[v1] += freq[v2];
            freq[v2] = 0;
            for (++size[v1]; others[v1] >= 0; ++size[v1]) v1 = others[v1];
            others[v1] = v2;
            for (++size[v2]; others[v2] >= 0; ++size[v2]) v2 = others[v2];
        }
        int bits[40] = {};
        for (int i = 0; i < 257; ++i)
            if (size[i]) ++bits[size[i]];
        for (int i = 39; i > 16; --i)
            while (bits[i] > 0) {
                int j = i - 2;
                while (bits[j] == 0) --j;
                bits[i] -= 2;
                ++bits[i - 1];
                bits[j + 1] += 2;
                --bits[j];
            }
        int longest = 16;
        while (bits[longest] == 0) --longest;
        --bits[longest];  // the reserved symbol's code
        for (int i = 1; i <= 16; ++i) counts[i - 1] = static_cast<uint8_t>(bits[i]);
        std::vector<int> order;
        for (int i = 0; i < 256; ++i)
            if (size[i]) order.push_back(i);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return size[a] < size[b]; });
        int next = 0, k = 0;
        for (int len = 1; len <= 16; ++len, next <<= 1)
            for (int n = 0; n < counts[len - 1]; ++n, ++k, ++next) {
                symbols.push_back(static_cast<uint8_t>(order[static_cast<size_t>(k)]));
                code[order[static_cast<size_t>(k)]] = static_cast<uint16_t>(next);
                length[order[static_cast<size_t>(k)]] = static_cast<uint8_t>(len);
            }
    }
};

struct bit_writer {
    std::vector<uint8_t> &out;
    uint32_t acc = 0;
    int count = 0;
    void put(uint32_t bits, int n) {
        for (int i = n - 1; i >= 0; --i) {
            acc = acc << 1 | ((bits >> i) & 1);
            if (++count == 8) {
                out.push_back(static_cast<uint8_t>(acc));
                if ((acc & 0xFF) == 0xFF) out.push_back(0);
                acc = 0, count = 0;
            }
        }
    }
    void pad() {
        while (count) put(1, 1);
    }
};

int magnitude(int v) {
    int n = 0;
    for (int m = v < 0 ? -v : v; m; m >>= 1) ++n;
    return n;
}
uint32_t value_bits(int v, int n) { return static_cast<uint32_t>(v < 0 ? v - 1 : v) & ((1u << n) - 1); }

struct component_data {
    int h, v, x, y, blocks_w, blocks_h, quant;
    std::vector<int> coeff;  // blocks_w * blocks_h blocks of 64, zigzag order
    int *block(int bx, int by) { return &coeff[(static_cast<size_t>(by) * blocks_w + bx) * 64]; }
};

// Codes (or, while counting, tallies) one scan's symbols.
struct scan_coder {
    bool counting = true;
    long freq[2][2][256] = {};  // [dc/ac][table]
    const table *tables[2][2] = {};
    bit_writer *bits = nullptr;
    int eob_run = 0, eob_table = 0;
    std::vector<uint8_t> eob_bits;  // refinement bits of the blocks in the run, sent after it

    void symbol(int cls, int id, int s) {
        if (counting)
            ++freq[cls][id][s];
        else
            bits->put(tables[cls][id]->code[s], tables[cls][id]->length[s]);
    }
    void raw(uint32_t v, int n) {
        if (!counting && n) bits->put(v, n);
    }
    void flush_eob_run() {
        if (!eob_run) return;
        const int r = magnitude(eob_run) - 1;
        symbol(1, eob_table, r << 4);
        raw(static_cast<uint32_t>(eob_run - (1 << r)), r);
        for (uint8_t bit : eob_bits) raw(bit, 1);
        eob_bits.clear();
        eob_run = 0;
    }
};

}  // namespace

std::vector<jpeg_scan> progressive_script(int components, int variant) {
    std::vector<jpeg_scan> scans;
    std::vector<int> all;
    for (int c = 0; c < components; ++c) all.push_back(c);
    if (variant == 0) {  // interleaved DC with one refinement bit, then AC bands
        scans.push_back({all, 0, 0, 0, 1});
        for (int c = 0; c < components; ++c) scans.push_back({{c}, 1, 5, 0, 0});
        scans.push_back({all, 0, 0, 1, 0});
        for (int c = 0; c < components; ++c) scans.push_back({{c}, 6, 63, 0, 0});
    } else if (variant == 1) {  // each component's DC on its own, AC in one band, shifted
        for (int c = components - 1; c >= 0; --c) scans.push_back({{c}, 0, 0, 0, 0});
        for (int c = 0; c < components; ++c) scans.push_back({{c}, 1, 63, 0, c == 0 ? 1 : 0});
    } else {  // successive approximation of the AC bands too, two bits deep
        scans.push_back({all, 0, 0, 0, 1});
        for (int c = 0; c < components; ++c) scans.push_back({{c}, 1, 5, 0, 2}), scans.push_back({{c}, 6, 63, 0, 2});
        for (int c = 0; c < components; ++c) scans.push_back({{c}, 1, 63, 2, 1});
        scans.push_back({all, 0, 0, 1, 0});
        for (int c = 0; c < components; ++c) scans.push_back({{c}, 1, 63, 1, 0});
    }
    return scans;
}

std::vector<uint8_t> write_test_jpeg(const rgba &image, const jpeg_options &o) {
    const int n = o.components, width = image.width, height = image.height;
    int h_max = 1, v_max = 1;
    for (int c = 0; c < n; ++c) h_max = std::max(h_max, o.sampling[c][0]), v_max = std::max(v_max, o.sampling[c][1]);
    const int mcu_x = (width + 8 * h_max - 1) / (8 * h_max), mcu_y = (height + 8 * v_max - 1) / (8 * v_max);

    // Samples, averaged down to each component's resolution, then DCT.
    double basis[8][8];  // orthonormal DCT-II: basis[u][x]
    for (int u = 0; u < 8; ++u)
        for (int x = 0; x < 8; ++x)
            basis[u][x] = 0.5 * (u ? 1 : std::sqrt(0.5)) * std::cos((2 * x + 1) * u * k_pi / 16);
    std::vector<component_data> comps(static_cast<size_t>(n));
    const int scale = o.quality < 50 ? 5000 / o.quality : 200 - o.quality * 2;
    int quant[2][64];
    for (int i = 0; i < 64; ++i) {
        quant[0][i] = std::clamp((k_luma_quant[i] * scale + 50) / 100, 1, 255);
        quant[1][i] = std::clamp((k_chroma_quant[i] * scale + 50) / 100, 1, 255);
    }
    for (int c = 0; c < n; ++c) {
        component_data &k = comps[static_cast<size_t>(c)];
        k.h = o.sampling[c][0], k.v = o.sampling[c][1], k.quant = c == 0 ? 0 : 1;
        k.x = (width * k.h + h_max - 1) / h_max, k.y = (height * k.v + v_max - 1) / v_max;
        k.blocks_w = mcu_x * k.h, k.blocks_h = mcu_y * k.v;
        const int fx = h_max / k.h, fy = v_max / k.v;
        auto sample = [&](int sx, int sy) {  // edge-replicated, averaged over fx x fy pixels
            sx = std::min(sx, k.x - 1), sy = std::min(sy, k.y - 1);
            double sum = 0;
            for (int dy = 0; dy < fy; ++dy)
                for (int dx = 0; dx < fx; ++dx) {
                    const uint8_t *p = image.at(std::min(sx * fx + dx, width - 1), std::min(sy * fy + dy, height - 1));
                    const double r = p[0], g = p[1], b = p[2];
                    sum += c == 0   ? 0.299 * r + 0.587 * g + 0.114 * b
                           : c == 1 ? -0.168736 * r - 0.331264 * g + 0.5 * b + 128
                                    : 0.5 * r - 0.418688 * g - 0.081312 * b + 128;
                }
            return sum / (fx * fy) - 128;
        };
        k.coeff.assign(static_cast<size_t>(k.blocks_w) * k.blocks_h * 64, 0);
        for (int by = 0; by < k.blocks_h; ++by)
            for (int bx = 0; bx < k.blocks_w; ++bx) {
                double s[8][8];
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x) s[y][x] = sample(bx * 8 + x, by * 8 + y);
                // Separable: rows, then columns.
                double rows[8][8];
                for (int y = 0; y < 8; ++y)
                    for (int u = 0; u < 8; ++u) {
                        rows[y][u] = 0;
                        for (int x = 0; x < 8; ++x) rows[y][u] += s[y][x] * basis[u][x];
                    }
                int *out = k.block(bx, by);
                for (int z = 0; z < 64; ++z) {
                    const int u = k_zigzag_to_natural[z] % 8, v = k_zigzag_to_natural[z] / 8;
                    double sum = 0;
                    for (int y = 0; y < 8; ++y) sum += rows[y][u] * basis[v][y];
                    out[z] = static_cast<int>(std::lround(sum / quant[k.quant][k_zigzag_to_natural[z]]));
                }
            }
    }

    std::vector<uint8_t> out = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    auto segment = [&out](uint8_t marker, const crafted::file &payload) {
        const std::vector<uint8_t> bytes = jpeg_segment(marker, payload.bytes());
        out.insert(out.end(), bytes.begin(), bytes.end());
    };
    for (int t = 0; t < (n > 1 ? 2 : 1); ++t) {
        crafted::file dqt;
        dqt.u8(t);
        for (int z = 0; z < 64; ++z) dqt.u8(quant[t][k_zigzag_to_natural[z]]);
        segment(0xDB, dqt);
    }
    crafted::file frame;
    frame.u8(8).be16(height).be16(width).u8(n);
    for (int c = 0; c < n; ++c) frame.u8(c + 1).u8(o.sampling[c][0] << 4 | o.sampling[c][1]).u8(c == 0 ? 0 : 1);
    segment(o.progressive ? 0xC2 : 0xC0, frame);
    if (o.restart_interval) segment(0xDD, crafted::file().be16(o.restart_interval));

    std::vector<jpeg_scan> scans = o.scans;
    if (scans.empty()) {
        if (o.progressive)
            scans = progressive_script(n, 0);
        else {
            jpeg_scan all;
            for (int c = 0; c < n; ++c) all.components.push_back(c);
            scans.push_back(all);
        }
    }
    for (const jpeg_scan &scan : scans) {
        scan_coder coder;
        std::vector<uint8_t> entropy;
        bit_writer bits{entropy};
        coder.bits = &bits;
        table *built[2][2] = {};
        for (int pass = 0; pass < 2; ++pass) {
            coder.counting = pass == 0;
            int pred[3] = {0, 0, 0}, mcu = 0, restarts = 0;
            auto code_block = [&](int c, int *coef) {
                const int id = comps[static_cast<size_t>(c)].quant;
                if (scan.ss == 0) {
                    if (scan.ah == 0) {
                        const int dc = coef[0] >> scan.al, diff = dc - pred[c];
                        pred[c] = dc;
                        const int m = magnitude(diff);
                        coder.symbol(0, id, m);
                        coder.raw(value_bits(diff, m), m);
                    } else {
                        coder.raw(static_cast<uint32_t>(coef[0] >> scan.al) & 1, 1);
                    }
                    if (o.progressive) return;
                }
                if (scan.ah > 0) {  // AC refinement: one more bit of each coefficient
                    auto bit_of = [&](int z) { return (coef[z] < 0 ? -coef[z] : coef[z]) >> scan.al; };
                    int end = 0;  // the last coefficient that becomes nonzero in this scan
                    for (int z = scan.ss; z <= scan.se; ++z)
                        if (bit_of(z) == 1) end = z;
                    int run = 0;
                    std::vector<uint8_t> pending;  // correction bits since the last symbol
                    for (int z = scan.ss; z <= scan.se; ++z) {
                        const int b = bit_of(z);
                        if (b == 0) {
                            ++run;
                            continue;
                        }
                        while (run > 15 && z <= end) {
                            coder.flush_eob_run();
                            coder.symbol(1, id, 0xF0);
                            run -= 16;
                            for (uint8_t bit : pending) coder.raw(bit, 1);
                            pending.clear();
                        }
                        if (b > 1) {  // already nonzero: its next bit
                            pending.push_back(static_cast<uint8_t>(b & 1));
                            continue;
                        }
                        coder.flush_eob_run();
                        coder.symbol(1, id, run << 4 | 1);
                        coder.raw(coef[z] < 0 ? 0 : 1, 1);
                        for (uint8_t bit : pending) coder.raw(bit, 1);
                        pending.clear();
                        run = 0;
                    }
                    coder.eob_table = id;
                    if (run > 0 || !pending.empty()) {
                        coder.eob_bits.insert(coder.eob_bits.end(), pending.begin(), pending.end());
                        if (++coder.eob_run == 0x7FFF || coder.eob_bits.size() > 900) coder.flush_eob_run();
                    }
                    return;
                }
                // AC: after the DC in baseline, or a progressive first pass of the band
                const int ss = scan.ss ? scan.ss : 1;
                auto value = [&](int z) { return coef[z] < 0 ? -((-coef[z]) >> scan.al) : coef[z] >> scan.al; };
                int last = 0;
                for (int z = ss; z <= scan.se; ++z)
                    if (value(z)) last = z;
                if (!last) {
                    if (!o.progressive)
                        coder.symbol(1, id, 0);
                    else if (++coder.eob_run == 0x7FFF)
                        coder.flush_eob_run();
                    coder.eob_table = id;
                    return;
                }
                coder.flush_eob_run();
                int run = 0;
                for (int z = ss; z <= last; ++z) {
                    const int v = value(z);
                    if (!v) {
                        ++run;
                        continue;
                    }
                    for (; run >= 16; run -= 16) coder.symbol(1, id, 0xF0);
                    const int m = magnitude(v);
                    coder.symbol(1, id, run << 4 | m);
                    coder.raw(value_bits(v, m), m);
                    run = 0;
                }
                if (last < scan.se) {
                    if (!o.progressive)
                        coder.symbol(1, id, 0);
                    else if (++coder.eob_run == 0x7FFF)
                        coder.flush_eob_run();
                }
                coder.eob_table = id;
            };
            auto next_mcu = [&] {
                if (o.restart_interval && mcu > 0 && mcu % o.restart_interval == 0) {
                    coder.flush_eob_run();
                    if (!coder.counting) {
                        bits.pad();
                        entropy.push_back(0xFF);
                        entropy.push_back(static_cast<uint8_t>(0xD0 + (restarts & 7)));
                    }
                    ++restarts;
                    pred[0] = pred[1] = pred[2] = 0;
                }
                ++mcu;
            };
            // A non-interleaved scan covers the component's own blocks only.
            if (scan.components.size() == 1) {
                const int c = scan.components[0];
                component_data &k = comps[static_cast<size_t>(c)];
                for (int by = 0; by < (k.y + 7) / 8; ++by)
                    for (int bx = 0; bx < (k.x + 7) / 8; ++bx) {
                        next_mcu();
                        code_block(c, k.block(bx, by));
                    }
            } else {
                for (int my = 0; my < mcu_y; ++my)
                    for (int mx = 0; mx < mcu_x; ++mx) {
                        next_mcu();
                        for (int c : scan.components) {
                            component_data &k = comps[static_cast<size_t>(c)];
                            for (int y = 0; y < k.v; ++y)
                                for (int x = 0; x < k.h; ++x) code_block(c, k.block(mx * k.h + x, my * k.v + y));
                        }
                    }
            }
            coder.flush_eob_run();
            if (pass == 0) {
                for (int cls = 0; cls < 2; ++cls)
                    for (int id = 0; id < 2; ++id) {
                        bool used = false;
                        for (long f : coder.freq[cls][id]) used |= f > 0;
                        if (!used) continue;
                        built[cls][id] = new table(coder.freq[cls][id]);
                        coder.tables[cls][id] = built[cls][id];
                        const table &t = *built[cls][id];
                        segment(0xC4,
                                crafted::file().u8(cls << 4 | id).field({t.counts, t.counts + 16}).field(t.symbols));
                    }
            }
        }
        bits.pad();
        for (auto &row : built)
            for (table *t : row) delete t;
        crafted::file header;
        header.u8(scan.components.size());
        for (int c : scan.components) {
            const int id = comps[static_cast<size_t>(c)].quant;
            header.u8(c + 1).u8(id << 4 | id);
        }
        segment(0xDA, header.u8(scan.ss).u8(scan.se).u8(scan.ah << 4 | scan.al));
        out.insert(out.end(), entropy.begin(), entropy.end());
    }
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

}  // namespace test_support
