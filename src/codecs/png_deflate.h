// The zlib stream inside the library's PNG files: byte for byte what
// stb_image_write 1.16 produces at its default level, computed faster.
#ifndef IMGTEXT_PNG_DEFLATE_H
#define IMGTEXT_PNG_DEFLATE_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace imgtext {

// A growable malloc'd byte array; callers reserve() before writing.
class byte_buffer {
public:
    byte_buffer() = default;
    byte_buffer(const byte_buffer &) = delete;
    byte_buffer &operator=(const byte_buffer &) = delete;
    ~byte_buffer() { std::free(data_); }

    bool reserve(size_t more);
    void put(uint8_t b) { data_[size_++] = b; }
    uint8_t *data() { return data_; }
    size_t size() const { return size_; }
    void resize(size_t n) { size_ = n; }

private:
    uint8_t *data_ = nullptr;
    size_t size_ = 0, capacity_ = 0;
};

// How matches are searched. Both make the same decisions; `automatic`
// takes the vector search when the processor has AVX-512 (F and VPOPCNTDQ)
// and the portable one otherwise. Tests force `portable` to cover both.
enum class match_search { automatic, portable };

// True when `automatic` would use the vector search on this machine.
bool vector_match_search_available();

// The most bytes zlib_compress writes for len input bytes: fixed-Huffman
// codes never take more than 9 bits a byte, and the bit writer needs 8 bytes
// beyond its last. The reference writer's stream has the same bound.
constexpr uint64_t zlib_bound(uint64_t len) { return len + len / 8 + 64; }

// Appends the zlib stream for len bytes to out (header, one fixed-Huffman
// block or stored blocks, Adler-32). Returns false if memory ran out.
bool zlib_compress(const uint8_t *data, int len, byte_buffer &out, match_search search = match_search::automatic);

}  // namespace imgtext

#endif
