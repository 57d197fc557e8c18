// Deflate that makes exactly the decisions stb_image_write 1.16 makes for
// its PNGs: 16384 hash buckets of at most 16 earlier positions, trimmed to
// the newest 8 when full; the longest match, ties to the newest; one-step
// lazy matching; fixed Huffman codes; stored blocks when those are smaller.
// What differs is only how fast each decision is reached: fixed-size
// buckets, word-at-a-time match lengths, a branch-free 64-bit bit writer
// with precomputed reversed codes, and, where the processor has AVX-512, a
// search that measures all 16 candidates of a bucket at once.
#include "codecs/png_deflate.h"

#include <cstring>

#if (defined(__x86_64__) || defined(_M_X64)) && (defined(__GNUC__) || defined(__clang__))
#  define IMGTEXT_VECTOR_MATCH_SEARCH 1
#  if defined(__clang__)
#    include <immintrin.h>
#  else
// GCC 12 flags the AVX-512 headers' deliberately undefined registers as
// maybe-uninitialized when they are used from a target attribute.
#    pragma GCC diagnostic push
#    pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#    include <immintrin.h>
#    pragma GCC diagnostic pop
#  endif
#else
#  define IMGTEXT_VECTOR_MATCH_SEARCH 0
#endif

namespace imgtext {

bool byte_buffer::reserve(size_t more) {
    if (size_ + more <= capacity_) return true;
    // Doubling keeps small appends cheap; a large reservation gets exactly
    // what it asked for, so the worst-case bound costs no extra memory.
    size_t capacity = capacity_ ? capacity_ * 2 : 4096;
    if (capacity < size_ + more) capacity = size_ + more;
    auto *grown = static_cast<uint8_t *>(std::realloc(data_, capacity));
    if (!grown) return false;
    data_ = grown;
    capacity_ = capacity;
    return true;
}

namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "words are read and written little-endian");

inline uint64_t load64(const uint8_t *p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// ---------------------------------------------------------------- codes

// LSB-first bit writer into space the caller reserved in a byte_buffer,
// with at least 8 bytes to spare: every add() stores a whole word and moves
// on by the bytes completed, so nothing branches on how full the word is.
class bit_writer {
public:
    explicit bit_writer(byte_buffer &out) : out_(out), p_(out.data() + out.size()) {}
    void add(uint32_t code, int length) {  // length <= 31
        bits_ |= static_cast<uint64_t>(code) << count_;
        count_ += length;
        std::memcpy(p_, &bits_, 8);
        const int whole = count_ >> 3;
        p_ += whole;
        bits_ >>= 8 * whole;
        count_ &= 7;
    }
    // Pads with zero bits to a whole byte and settles the buffer's size.
    void finish() {
        if (count_ > 0) *p_++ = static_cast<uint8_t>(bits_);
        bits_ = 0, count_ = 0;
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

constexpr int k_max_match = 258;

const uint16_t k_length_base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23,  27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 259};
const uint8_t k_length_extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t k_dist_base[] = {1,    2,    3,    4,    5,    7,     9,     13,    17,   25,   33,
                                49,   65,   97,   129,  193,  257,   385,   513,   769,  1025, 1537,
                                2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32768};
const uint8_t k_dist_extra[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

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
            if (n <= 143)
                symbol[n] = {reverse_bits(0x30 + n, 8), 8};
            else if (n <= 255)
                symbol[n] = {reverse_bits(0x190 + n - 144, 9), 9};
            else if (n <= 279)
                symbol[n] = {reverse_bits(n - 256, 7), 7};
            else
                symbol[n] = {reverse_bits(0xC0 + n - 280, 8), 8};
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

// ---------------------------------------------------------------- matches

constexpr int k_hash_buckets = 16384;
constexpr int k_bucket_size = 16;  // twice the reference encoder's quality 8
constexpr int k_window = 32767;    // farthest distance a match may reach back

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
// the oldest half is dropped, as the reference does. One bucket is one
// aligned cache line (and one 512-bit vector).
struct hash_table {
    alignas(64) int32_t pos[k_hash_buckets][k_bucket_size];
    uint8_t count[k_hash_buckets];

    void insert(uint32_t h, int32_t position) {
        if (count[h] == k_bucket_size) {
            std::memmove(pos[h], pos[h] + k_bucket_size / 2, sizeof(int32_t) * (k_bucket_size / 2));
            count[h] = k_bucket_size / 2;
        }
        pos[h][count[h]++] = position;
    }
};

// The hash table lives on the heap (1 MiB), aligned by hand since not every
// C runtime has aligned_alloc.
class table_memory {
public:
    table_memory() : block_(std::malloc(sizeof(hash_table) + 63)) {}
    table_memory(const table_memory &) = delete;
    table_memory &operator=(const table_memory &) = delete;
    ~table_memory() { std::free(block_); }
    hash_table *get() const {
        if (!block_) return nullptr;
        return reinterpret_cast<hash_table *>((reinterpret_cast<uintptr_t>(block_) + 63) & ~uintptr_t{63});
    }

private:
    void *block_;
};

// One compression run: the input, the search state and the output bits.
struct compressor {
    const uint8_t *data;
    int len;
    hash_table &table;
    bit_writer &bits;
    const fixed_codes &codes;

    void literal(int i) { bits.add(codes.symbol[data[i]].bits, codes.symbol[data[i]].length); }
    void match(int length, int distance) {
        bits.add(codes.length_for[length].bits, codes.length_for[length].length);
        const code d = distance_code(distance);
        bits.add(d.bits, d.length);
    }
    int longest_at(int i, uint32_t h, int &best) const;
    bool longer_one_on(int i, uint32_t h_next, int best) const;
    int step(int i, uint32_t h, uint32_t h_next);
    // Moves i past the `covered` bytes just written and h to the new i's hash.
    void move_on(int &i, uint32_t &h, int covered, uint32_t h_next) const {
        i += covered;
        if (covered == 1)
            h = h_next;
        else if (i < len - 3)
            h = hash3(data + i);
    }
};

// The reference's search at i over bucket h: the longest match of at least
// 3 bytes, ties to the newest. Returns its position (or -1) and its length.
// Positions only get older down the bucket, so the first one outside the
// window ends the search.
int compressor::longest_at(int i, uint32_t h, int &best) const {
    const int32_t *bucket = table.pos[h];
    const int limit = len - i;
    const int longest = limit < k_max_match ? limit : k_max_match;
    const int32_t oldest = i - k_window;
    int best_pos = -1;
    best = 2;
    if (limit >= 16) {
        // Candidates are measured eight bytes at a time without branching
        // on the data; only one agreeing on all eight is followed further.
        const uint64_t here = load64(data + i);
        for (int j = table.count[h] - 1; j >= 0; --j) {
            const int32_t e = bucket[j];
            if (e < oldest) break;
            const uint64_t diff = load64(data + e) ^ here;
            const int d = diff ? __builtin_ctzll(diff) >> 3
                               : 8 + match_length(data + e + 8, data + i + 8, limit - 8, k_max_match - 8);
            const bool longer = d > best;
            best = longer ? d : best;
            best_pos = longer ? e : best_pos;
            if (d == longest) break;  // nothing older can be longer
        }
    } else {
        for (int j = table.count[h] - 1; j >= 0; --j) {
            const int32_t e = bucket[j];
            if (e < oldest) break;
            const int d = match_length(data + e, data + i, limit, k_max_match);
            if (d > best) best = d, best_pos = e;
        }
    }
    return best_pos;
}

// The reference's lazy check: whether bucket h_next holds a match for i + 1
// longer than best (one byte less of window, as the reference counts).
bool compressor::longer_one_on(int i, uint32_t h_next, int best) const {
    const int32_t *next = table.pos[h_next];
    const int32_t oldest = i - (k_window - 1);
    const int limit = len - i;
    if (best < 8 && limit >= 16) {
        // It must agree on the first best + 1 bytes.
        const uint64_t ahead = load64(data + i + 1), mask = ~0ull >> (8 * (7 - best));
        bool longer = false;
        for (int j = table.count[h_next] - 1; j >= 0; --j) {
            const int32_t e = next[j];
            if (e < oldest) break;
            longer |= ((load64(data + e) ^ ahead) & mask) == 0;
        }
        return longer;
    }
    for (int j = table.count[h_next] - 1; j >= 0; --j) {
        const int32_t e = next[j];
        if (e < oldest) break;
        if (match_length(data + e, data + i + 1, limit - 1, k_max_match) > best) return true;
    }
    return false;
}

// One of the reference's steps at position i (hash h; h_next for i + 1):
// search, record i, check one byte on, write a match or a literal. Returns
// how many bytes it covered.
int compressor::step(int i, uint32_t h, uint32_t h_next) {
    int best;
    int best_pos = longest_at(i, h, best);
    const int limit = len - i;
    const int longest = limit < k_max_match ? limit : k_max_match;
    // The table outgrows the fastest caches: the bucket after a match is
    // asked for while the lazy check runs.
    if (best_pos >= 0 && i + best < len - 3) __builtin_prefetch(table.pos[hash3(data + i + best)]);
    table.insert(h, i);
    if (best_pos >= 0 && best < longest && best < limit - 1 && longer_one_on(i, h_next, best)) best_pos = -1;
    if (best_pos < 0) {
        literal(i);
        return 1;
    }
    match(best, i - best_pos);
    return best;
}

// The portable search: the reference's steps one after another. Returns
// where the steps ended; the last bytes are literals.
int compress_portable(compressor &c) {
    int i = 0;
    uint32_t h = hash3(c.data);
    while (i < c.len - 3) {
        const uint32_t h_next = hash3(c.data + i + 1);
        __builtin_prefetch(c.table.pos[h_next]);
        c.move_on(i, h, c.step(i, h, h_next), h_next);
    }
    return i;
}

#if IMGTEXT_VECTOR_MATCH_SEARCH
#  define IMGTEXT_AVX512 __attribute__((target("avx512f,avx512vpopcntdq")))

// All 16 slots of a bucket at once: for each slot inside the window, how
// many of the first eight bytes at its position agree with `here`, packed as
// (length << 4 | slot). The maximum is the longest, ties to the newest.
// Slots not in use or outside the window are not read and count 0.
IMGTEXT_AVX512 inline uint32_t longest8_in_bucket(const uint8_t *data, const int32_t *bucket, int count, int32_t oldest,
                                                  uint64_t here) {
    const __m512i pos = _mm512_load_si512(bucket);
    const __mmask16 inside =
        static_cast<__mmask16>(_mm512_cmpge_epi32_mask(pos, _mm512_set1_epi32(oldest)) & ((1u << count) - 1));
    const __m512i unlike = _mm512_set1_epi64(static_cast<long long>(here ^ ~uint64_t{0}));
    const __m512i want = _mm512_set1_epi64(static_cast<long long>(here)), one = _mm512_set1_epi64(1);
    const __m512i low =
        _mm512_mask_i32gather_epi64(unlike, static_cast<__mmask8>(inside), _mm512_castsi512_si256(pos), data, 1);
    const __m512i high = _mm512_mask_i32gather_epi64(unlike, static_cast<__mmask8>(inside >> 8),
                                                     _mm512_extracti64x4_epi64(pos, 1), data, 1);
    // Agreeing bytes = trailing zero bytes of the difference: popcount of
    // the mask below its lowest set bit (64 when equal, giving 8).
    const __m512i dl = _mm512_xor_si512(low, want), dh = _mm512_xor_si512(high, want);
    const __m512i nl = _mm512_srli_epi64(_mm512_popcnt_epi64(_mm512_andnot_si512(dl, _mm512_sub_epi64(dl, one))), 3);
    const __m512i nh = _mm512_srli_epi64(_mm512_popcnt_epi64(_mm512_andnot_si512(dh, _mm512_sub_epi64(dh, one))), 3);
    const __m512i kl = _mm512_or_si512(_mm512_slli_epi64(nl, 4), _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0));
    const __m512i kh = _mm512_or_si512(_mm512_slli_epi64(nh, 4), _mm512_set_epi64(15, 14, 13, 12, 11, 10, 9, 8));
    // Keys fit 16 bits; the largest is found by one minimum-with-position
    // instruction on their complements, quicker than a shuffle tree.
    const __m128i keys = _mm512_cvtepi64_epi16(_mm512_max_epu64(kl, kh));
    const __m128i least = _mm_minpos_epu16(_mm_xor_si128(keys, _mm_set1_epi16(-1)));
    return ~static_cast<uint32_t>(_mm_cvtsi128_si32(least)) & 0xFFFF;
}

// The reference's steps, but each position's search and its lazy check run
// side by side instead of one after the other, and a literal hands the
// search it already did for the next position over. Both read the table
// before i is recorded, which is the same table the reference reads as long
// as i goes into another bucket; where it would not, where a match may run
// past eight bytes, and near the end, the step is the reference's own.
IMGTEXT_AVX512 int compress_vector(compressor &c) {
    std::memset(c.table.pos, 0, sizeof c.table.pos);  // the vector loads read whole buckets
    const uint8_t *data = c.data;
    int i = 0;
    uint32_t h = hash3(data);
    bool have_here = false;  // whether here_key is this position's search
    uint32_t here_key = 0;
    while (i < c.len - 3) {
        const uint32_t h_next = hash3(data + i + 1);
        if (c.len - i >= 17 && h != h_next) {
            const uint32_t key =
                have_here ? here_key
                          : longest8_in_bucket(data, c.table.pos[h], c.table.count[h], i - k_window, load64(data + i));
            const uint32_t next_key = longest8_in_bucket(data, c.table.pos[h_next], c.table.count[h_next],
                                                         i - (k_window - 1), load64(data + i + 1));
            const int best = static_cast<int>(key >> 4), best_next = static_cast<int>(next_key >> 4);
            if (best < 8) {  // every length is exact
                const int32_t best_pos = c.table.pos[h][key & 15];
                c.table.insert(h, i);
                const bool take = best >= 3 && best_next <= best;
                if (take)
                    c.match(best, i - best_pos);
                else
                    c.literal(i);
                c.move_on(i, h, take ? best : 1, h_next);
                have_here = !take;
                here_key = next_key;
                continue;
            }
        }
        have_here = false;
        c.move_on(i, h, c.step(i, h, h_next), h_next);
    }
    return i;
}

bool processor_has_avx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vpopcntdq");
}
#endif

// Adler-32 of the whole input, eight bytes a step with exact sums (the
// checksum only depends on the sums modulo 65521, not on when they are taken).
uint32_t adler32(const uint8_t *p, size_t n) {
    uint64_t s1 = 1, s2 = 0;
    while (n > 0) {
        size_t block = n < 65536 ? n : 65536;
        n -= block;
        for (; block >= 8; block -= 8, p += 8) {
            s2 += 8 * s1 + 8u * p[0] + 7u * p[1] + 6u * p[2] + 5u * p[3] + 4u * p[4] + 3u * p[5] + 2u * p[6] + p[7];
            s1 += 0u + p[0] + p[1] + p[2] + p[3] + p[4] + p[5] + p[6] + p[7];
        }
        for (; block > 0; --block) s1 += *p++, s2 += s1;
        s1 %= 65521;
        s2 %= 65521;
    }
    return static_cast<uint32_t>(s2 << 16 | s1);
}

// Stored blocks of at most 32767 bytes, each with a 5-byte header.
size_t stored_size(int len) { return static_cast<size_t>(len) + (static_cast<size_t>(len) + 32766) / 32767 * 5; }

// The input as stored blocks, as the reference writes it when compression
// did not pay.
bool store(const uint8_t *data, int len, byte_buffer &out) {
    if (!out.reserve(stored_size(len))) return false;
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
    return true;
}

}  // namespace

bool vector_match_search_available() {
#if IMGTEXT_VECTOR_MATCH_SEARCH
    static const bool available = processor_has_avx512();
    return available;
#else
    return false;
#endif
}

bool zlib_compress(const uint8_t *data, int len, byte_buffer &out, match_search search) {
    static const fixed_codes codes;
    const table_memory memory;
    hash_table *table = memory.get();
    if (!table) return false;
    std::memset(table->count, 0, sizeof table->count);

    const size_t start = out.size();
    if (!out.reserve(static_cast<size_t>(zlib_bound(static_cast<uint64_t>(len))))) return false;
    out.put(0x78);
    out.put(0x5E);
    bit_writer bits(out);
    bits.add(1, 1);  // final block
    bits.add(1, 2);  // fixed Huffman codes
    compressor c{data, len, *table, bits, codes};
    int i = 0;
    if (len > 3) {
#if IMGTEXT_VECTOR_MATCH_SEARCH
        i = search == match_search::automatic && vector_match_search_available() ? compress_vector(c)
                                                                                 : compress_portable(c);
#else
        (void)search;
        i = compress_portable(c);
#endif
    }
    for (; i < len; ++i) c.literal(i);
    bits.add(codes.symbol[256].bits, codes.symbol[256].length);
    bits.finish();

    if (out.size() - start > 2 + stored_size(len)) {
        out.resize(start + 2);
        if (!store(data, len, out)) return false;
    }

    const uint32_t adler = adler32(data, static_cast<size_t>(len));
    if (!out.reserve(4)) return false;
    for (int shift = 24; shift >= 0; shift -= 8) out.put(static_cast<uint8_t>(adler >> shift));
    return true;
}

}  // namespace imgtext
