// PNG encoding that makes exactly the decisions stb_image_write 1.16 makes:
// the same filter per row (least sum of |signed byte|, ties to the lower
// type), the same deflate matches (16384 hash buckets of at most 16 earlier
// positions, trimmed to the newest 8 when full; longest match, ties to the
// newest; one-step lazy matching; fixed Huffman codes; stored blocks when
// that is smaller). What differs is only how fast each decision is reached:
// fixed-size buckets, word-at-a-time match lengths, a quick reject on the
// byte that would decide a match, filter sums in one pass without building
// rejected rows, a 64-bit bit writer with precomputed reversed codes, and no
// final copy of the file.
#include "png_encoder.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace imgtext {

namespace {

// ---------------------------------------------------------------- filters

inline int magnitude(int filtered_byte) { return std::abs(static_cast<int>(static_cast<int8_t>(filtered_byte))); }

// The byte Paeth-filtered against left a, up b and up-left c, branch-free so
// that the row loops vectorise.
inline uint8_t paeth_filtered(int x, int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    const int predictor = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
    return static_cast<uint8_t>(x - predictor);
}

// Writes the row filtered with `type` (as the reference encoder numbers them)
// into out and returns the sum of |filtered byte as signed|. `up` is null on
// the first row, where Up becomes None, Average uses only the left byte and
// Paeth becomes Sub, exactly as in the reference.
int64_t filter_with(int type, const uint8_t *z, const uint8_t *up, size_t n, uint8_t *out) {
    int64_t sum = 0;
    const size_t first = n < 4 ? n : 4;  // the first pixel has no left neighbour
    if (type == 0 || (type == 2 && !up)) {
        for (size_t i = 0; i < n; ++i) sum += magnitude(out[i] = z[i]);
    } else if (type == 1 || (type == 4 && !up)) {
        for (size_t i = 0; i < first; ++i) sum += magnitude(out[i] = z[i]);
        for (size_t i = 4; i < n; ++i) sum += magnitude(out[i] = static_cast<uint8_t>(z[i] - z[i - 4]));
    } else if (type == 2) {
        for (size_t i = 0; i < n; ++i) sum += magnitude(out[i] = static_cast<uint8_t>(z[i] - up[i]));
    } else if (type == 3 && !up) {
        for (size_t i = 0; i < first; ++i) sum += magnitude(out[i] = z[i]);
        for (size_t i = 4; i < n; ++i) sum += magnitude(out[i] = static_cast<uint8_t>(z[i] - (z[i - 4] >> 1)));
    } else if (type == 3) {
        for (size_t i = 0; i < first; ++i) sum += magnitude(out[i] = static_cast<uint8_t>(z[i] - (up[i] >> 1)));
        for (size_t i = 4; i < n; ++i)
            sum += magnitude(out[i] = static_cast<uint8_t>(z[i] - ((z[i - 4] + up[i]) >> 1)));
    } else {
        for (size_t i = 0; i < first; ++i) sum += magnitude(out[i] = paeth_filtered(z[i], 0, up[i], 0));
        for (size_t i = 4; i < n; ++i) sum += magnitude(out[i] = paeth_filtered(z[i], z[i - 4], up[i], up[i - 4]));
    }
    return sum;
}

// Chooses the row's filter by the least sum of |filtered byte as signed|,
// ties to the lower type, and writes the filter byte and the filtered row.
// Candidates are filtered into `scratch`; only a better one is kept in out.
void filter_row(const uint8_t *z, const uint8_t *up, size_t n, uint8_t *out, uint8_t *scratch) {
    int best = 0;
    int64_t best_sum = filter_with(0, z, up, n, out + 1);
    for (int type = 1; type < 5; ++type) {
        const int64_t sum = filter_with(type, z, up, n, scratch);
        if (sum < best_sum) {
            best_sum = sum, best = type;
            std::memcpy(out + 1, scratch, n);
        }
    }
    out[0] = static_cast<uint8_t>(best);
}

// ---------------------------------------------------------------- output

class byte_buffer {
public:
    ~byte_buffer() { std::free(data_); }
    bool reserve(size_t more) {
        if (size_ + more <= capacity_) return true;
        size_t capacity = capacity_ ? capacity_ : 4096;
        while (capacity < size_ + more) capacity *= 2;
        auto *grown = static_cast<uint8_t *>(std::realloc(data_, capacity));
        if (!grown) return false;
        data_ = grown;
        capacity_ = capacity;
        return true;
    }
    void put(uint8_t b) { data_[size_++] = b; }
    uint8_t *data() { return data_; }
    size_t size() const { return size_; }
    void resize(size_t n) { size_ = n; }

private:
    uint8_t *data_ = nullptr;
    size_t size_ = 0, capacity_ = 0;
};

// LSB-first bit writer into space the caller reserved in a byte_buffer,
// storing four bytes at a time; finish() pads with zero bits to a whole byte
// and settles the buffer's size.
class bit_writer {
public:
    explicit bit_writer(byte_buffer &out) : out_(out), p_(out.data() + out.size()) {}
    void add(uint32_t code, int length) {  // length <= 31
        bits_ |= static_cast<uint64_t>(code) << count_;
        count_ += length;
        if (count_ >= 32) {
            const uint32_t word = static_cast<uint32_t>(bits_);
            const uint8_t bytes[4] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                                      static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 24)};
            std::memcpy(p_, bytes, 4);
            p_ += 4;
            bits_ >>= 32;
            count_ -= 32;
        }
    }
    void finish() {
        for (; count_ > 0; count_ -= 8, bits_ >>= 8) *p_++ = static_cast<uint8_t>(bits_);
        count_ = 0;
        out_.resize(static_cast<size_t>(p_ - out_.data()));
    }

private:
    byte_buffer &out_;
    uint8_t *p_;
    uint64_t bits_ = 0;
    int count_ = 0;
};

uint32_t reverse_bits(uint32_t code, int length) {
    uint32_t r = 0;
    for (int i = 0; i < length; ++i, code >>= 1) r = (r << 1) | (code & 1);
    return r;
}

// ---------------------------------------------------------------- deflate

constexpr int k_hash_buckets = 16384;
constexpr int k_bucket_size = 16;  // twice the reference encoder's quality 8
constexpr int k_max_match = 258;

const uint16_t k_length_base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 259};
const uint8_t k_length_extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t k_dist_base[] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32768};
const uint8_t k_dist_extra[] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

struct code {
    uint32_t bits;
    int length;
};

// Fixed-Huffman literal/length codes, bit-reversed for LSB-first output.
struct fixed_codes {
    code symbol[288];
    code length_for[k_max_match + 1];  // length symbol and extra bits, packed
    fixed_codes() {
        for (int n = 0; n < 288; ++n) {
            if (n <= 143) symbol[n] = {reverse_bits(0x30 + n, 8), 8};
            else if (n <= 255) symbol[n] = {reverse_bits(0x190 + n - 144, 9), 9};
            else if (n <= 279) symbol[n] = {reverse_bits(n - 256, 7), 7};
            else symbol[n] = {reverse_bits(0xC0 + n - 280, 8), 8};
        }
        for (int len = 3; len <= k_max_match; ++len) {
            int j = 0;
            while (len > k_length_base[j + 1] - 1) ++j;
            const code s = symbol[257 + j];
            length_for[len] = {s.bits | static_cast<uint32_t>(len - k_length_base[j]) << s.length,
                               s.length + k_length_extra[j]};
        }
    }
};

// The code for distance d (its bit-reversed 5-bit symbol and extra bits):
// distances up to 256 are looked up directly, longer ones by their 128-wide
// block, inside which the symbol does not change.
struct distance_codes {
    uint8_t symbol[512];
    uint8_t reversed[30];
    distance_codes() {
        for (int slot = 0; slot < 512; ++slot) {
            const int d = slot < 256 ? slot + 1 : ((slot - 256) << 7) + 1;
            int j = 0;
            while (d > k_dist_base[j + 1] - 1) ++j;
            symbol[slot] = static_cast<uint8_t>(j);
        }
        for (uint32_t j = 0; j < 30; ++j) reversed[j] = static_cast<uint8_t>(reverse_bits(j, 5));
    }
};

code distance_code(int d) {
    static const distance_codes table;
    const int j = table.symbol[d <= 256 ? d - 1 : 256 + ((d - 1) >> 7)];
    return {table.reversed[j] | static_cast<uint32_t>(d - k_dist_base[j]) << 5, 5 + k_dist_extra[j]};
}

inline uint32_t hash3(const uint8_t *p) {
    uint32_t h = p[0] + (p[1] << 8) + (p[2] << 16);
    h ^= h << 3;
    h += h >> 5;
    h ^= h << 4;
    h += h >> 17;
    h ^= h << 25;
    h += h >> 6;
    return h & (k_hash_buckets - 1);
}

inline uint64_t load64(const uint8_t *p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "match_length counts bytes from the low end of a word");

// Length of the common prefix of a and b, at most min(limit, cap), eight
// bytes a step.
inline int match_length(const uint8_t *a, const uint8_t *b, int limit, int cap) {
    if (limit > cap) limit = cap;
    int i = 0;
    while (i + 8 <= limit) {
        const uint64_t diff = load64(a + i) ^ load64(b + i);
        if (diff) return i + __builtin_ctzll(diff) / 8;
        i += 8;
    }
    while (i < limit && a[i] == b[i]) ++i;
    return i;
}

// Up to 16 earlier positions per bucket, oldest first; when a bucket is full
// the oldest half is dropped, as the reference does.
struct hash_table {
    int32_t pos[k_hash_buckets][k_bucket_size];
    uint8_t count[k_hash_buckets];

    void insert(uint32_t h, int32_t position) {
        if (count[h] == k_bucket_size) {
            std::memmove(pos[h], pos[h] + k_bucket_size / 2, sizeof(int32_t) * (k_bucket_size / 2));
            count[h] = k_bucket_size / 2;
        }
        pos[h][count[h]++] = position;
    }
};



// The zlib stream (header, one fixed-Huffman block or stored blocks, Adler-32).
bool deflate(const uint8_t *data, int len, byte_buffer &out) {
    static const fixed_codes codes;
    // One cache line per bucket: the block is aligned by hand, since not
    // every C runtime has aligned_alloc.
    void *block = std::malloc(sizeof(hash_table) + 63);
    if (!block) return false;
    auto *table = reinterpret_cast<hash_table *>((reinterpret_cast<uintptr_t>(block) + 63) & ~uintptr_t{63});
    std::memset(table->count, 0, sizeof table->count);

    // Fixed-Huffman output never exceeds 9 bits a byte, plus a little.
    const size_t bound = static_cast<size_t>(len) + static_cast<size_t>(len) / 8 + 64;
    if (!out.reserve(bound)) {
        std::free(block);
        return false;
    }
    out.put(0x78);
    out.put(0x5E);
    bit_writer bits(out);
    bits.add(1, 1);  // final block
    bits.add(1, 2);  // fixed Huffman codes

    int i = 0;
    uint32_t h = len > 3 ? hash3(data) : 0;
    while (i < len - 3) {
        // The longest match, ties to the newest: newest first, keeping only
        // a strictly longer one. Positions only get older down the bucket,
        // so the first one outside the window ends the search.
        const int32_t *bucket = table->pos[h];
        const int limit = len - i;
        // The table outgrows the fastest caches; the next position's bucket
        // (for a literal, and for the lazy check) is asked for early.
        const uint32_t h_next = hash3(data + i + 1);
        __builtin_prefetch(table->pos[h_next]);
        const int longest = limit < k_max_match ? limit : k_max_match;
        int best = 2, best_pos = -1;
        const int32_t oldest_in_window = i - 32767;
        if (limit >= 16) {
            // Candidates are measured eight bytes at a time without branching
            // on the data; only one agreeing on all eight is followed further.
            const uint64_t here = load64(data + i);
            for (int j = table->count[h] - 1; j >= 0; --j) {
                const int32_t e = bucket[j];
                if (e < oldest_in_window) break;
                const uint64_t diff = load64(data + e) ^ here;
                const int d = diff ? __builtin_ctzll(diff) >> 3
                                   : 8 + match_length(data + e + 8, data + i + 8, limit - 8, k_max_match - 8);
                const bool longer = d > best;
                best = longer ? d : best;
                best_pos = longer ? e : best_pos;
                if (d == longest) break;  // nothing older can be longer
            }
        } else {
            for (int j = table->count[h] - 1; j >= 0; --j) {
                const int32_t e = bucket[j];
                if (e < oldest_in_window) break;
                const int d = match_length(data + e, data + i, limit, k_max_match);
                if (d > best) best = d, best_pos = e;
            }
        }
        if (best_pos < 0) best = 3;
        else if (i + best < len - 3) __builtin_prefetch(table->pos[hash3(data + i + best)]);
        table->insert(h, i);

        if (best_pos >= 0 && best < longest && best < limit - 1) {
            // Lazy matching: a longer match one byte on makes this a literal.
            // It must agree on the first best + 1 bytes.
            const int32_t *next = table->pos[h_next];
            const int32_t oldest_lazy = i - 32766;
            if (best < 8 && limit >= 16) {
                const uint64_t ahead = load64(data + i + 1), mask = ~0ull >> (8 * (7 - best));
                bool longer = false;
                for (int j = table->count[h_next] - 1; j >= 0; --j) {
                    const int32_t e = next[j];
                    if (e < oldest_lazy) break;
                    longer |= ((load64(data + e) ^ ahead) & mask) == 0;
                }
                if (longer) best_pos = -1;
            } else {
                for (int j = table->count[h_next] - 1; j >= 0; --j) {
                    const int32_t e = next[j];
                    if (e < oldest_lazy) break;
                    if (match_length(data + e, data + i + 1, limit - 1, k_max_match) > best) {
                        best_pos = -1;
                        break;
                    }
                }
            }
        }

        if (best_pos >= 0) {
            const code &length = codes.length_for[best];
            bits.add(length.bits, length.length);
            const code distance = distance_code(i - best_pos);
            bits.add(distance.bits, distance.length);
            i += best;
            if (i < len - 3) h = hash3(data + i);
        } else {
            const code &literal = codes.symbol[data[i]];
            bits.add(literal.bits, literal.length);
            ++i;
            h = h_next;
        }
    }
    for (; i < len; ++i) bits.add(codes.symbol[data[i]].bits, codes.symbol[data[i]].length);
    bits.add(codes.symbol[256].bits, codes.symbol[256].length);
    bits.finish();
    std::free(block);

    // Stored blocks when compression did not pay, as the reference does.
    const size_t stored = static_cast<size_t>(len) + 2 + (static_cast<size_t>(len) + 32766) / 32767 * 5;
    if (out.size() > stored) {
        out.resize(2);
        if (!out.reserve(stored + 4)) return false;
        for (int j = 0; j < len;) {
            const int block = len - j > 32767 ? 32767 : len - j;
            out.put(len - j == block ? 1 : 0);
            out.put(static_cast<uint8_t>(block));
            out.put(static_cast<uint8_t>(block >> 8));
            out.put(static_cast<uint8_t>(~block));
            out.put(static_cast<uint8_t>(~block >> 8));
            std::memcpy(out.data() + out.size(), data + j, static_cast<size_t>(block));
            out.resize(out.size() + static_cast<size_t>(block));
            j += block;
        }
    }

    uint32_t s1 = 1, s2 = 0;
    for (int j = 0; j < len;) {
        const int block = (j == 0 && len % 5552) ? len % 5552 : 5552;
        for (int k = 0; k < block; ++k) s1 += data[j + k], s2 += s1;
        s1 %= 65521;
        s2 %= 65521;
        j += block;
    }
    if (!out.reserve(4)) return false;
    out.put(static_cast<uint8_t>(s2 >> 8));
    out.put(static_cast<uint8_t>(s2));
    out.put(static_cast<uint8_t>(s1 >> 8));
    out.put(static_cast<uint8_t>(s1));
    return true;
}

// ---------------------------------------------------------------- chunks

struct crc_table {
    uint32_t entry[8][256];
    crc_table() {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entry[0][n] = c;
        }
        for (int t = 1; t < 8; ++t)
            for (uint32_t n = 0; n < 256; ++n) entry[t][n] = (entry[t - 1][n] >> 8) ^ entry[0][entry[t - 1][n] & 0xFF];
    }
};

// CRC-32 continued over more bytes, eight at a time.
uint32_t crc_update(uint32_t crc, const uint8_t *p, size_t n) {
    static const crc_table t;
    crc = ~crc;
    for (; n >= 8; n -= 8, p += 8) {
        const uint32_t lo = crc ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
        crc = t.entry[7][lo & 0xFF] ^ t.entry[6][(lo >> 8) & 0xFF] ^ t.entry[5][(lo >> 16) & 0xFF] ^
              t.entry[4][lo >> 24] ^ t.entry[3][p[4]] ^ t.entry[2][p[5]] ^ t.entry[1][p[6]] ^ t.entry[0][p[7]];
    }
    while (n--) crc = t.entry[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void put_be32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24), p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8), p[3] = static_cast<uint8_t>(v);
}

}  // namespace

int encode_png(const unsigned char *pixels, int width, int height, write_fn write, void *context) {
    const size_t row = static_cast<size_t>(width) * 4;
    const size_t filtered_size = (row + 1) * static_cast<size_t>(height);
    auto *filt = static_cast<uint8_t *>(std::malloc(filtered_size + row));
    if (!filt) return 0;
    uint8_t *scratch = filt + filtered_size;  // one row for candidate filters
    for (int y = 0; y < height; ++y) {
        const uint8_t *z = pixels + row * static_cast<size_t>(y);
        filter_row(z, y ? z - row : nullptr, row, filt + (row + 1) * static_cast<size_t>(y), scratch);
    }
    byte_buffer zlib;
    const bool ok = deflate(filt, static_cast<int>(filtered_size), zlib);
    std::free(filt);
    if (!ok) return 0;

    uint8_t head[8 + 25 + 8];
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::memcpy(head, signature, 8);
    put_be32(head + 8, 13);
    std::memcpy(head + 12, "IHDR", 4);
    put_be32(head + 16, static_cast<uint32_t>(width));
    put_be32(head + 20, static_cast<uint32_t>(height));
    const uint8_t ihdr_tail[5] = {8, 6, 0, 0, 0};  // 8-bit RGBA, no interlace
    std::memcpy(head + 24, ihdr_tail, 5);
    put_be32(head + 29, crc_update(0, head + 12, 17));
    put_be32(head + 33, static_cast<uint32_t>(zlib.size()));
    std::memcpy(head + 37, "IDAT", 4);
    write(context, head, sizeof head);
    write(context, zlib.data(), zlib.size());

    uint8_t tail[4 + 12];
    put_be32(tail, crc_update(crc_update(0, reinterpret_cast<const uint8_t *>("IDAT"), 4), zlib.data(), zlib.size()));
    put_be32(tail + 4, 0);
    std::memcpy(tail + 8, "IEND", 4);
    put_be32(tail + 12, crc_update(0, reinterpret_cast<const uint8_t *>("IEND"), 4));
    write(context, tail, sizeof tail);
    return 1;
}

}  // namespace imgtext
