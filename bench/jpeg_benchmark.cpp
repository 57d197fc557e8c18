// JPEG speed, the library's own decoder and encoder against stb_image and
// stb_image_write, on the same photo-like pictures in one run: decoding
// alone, encoding alone, and both as a JPEG-to-JPEG call does them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/jpeg/jpeg_decoder.h"
#include "codecs/jpeg_encoder.h"

// stb_image as the library builds it (zeroed allocations).
#include "image/decoder_allocation.h"
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#include <stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace {

struct picture {
    int width, height;
    std::vector<uint8_t> rgba;
    std::vector<uint8_t> jpeg;  // 4:2:0, as cameras and most tools write
};

void append(void *context, const void *data, size_t size) {
    auto *out = static_cast<std::vector<uint8_t> *>(context);
    out->insert(out->end(), static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + size);
}
void discard(void *, const void *, size_t) {}
void discard_int(void *, void *, int) {}

// Smooth gradients with sensor-like noise, like a downscaled photograph.
picture photo_like(int w, int h) {
    picture p{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 4), {}};
    uint32_t state = 1;
    auto noise = [&] { return static_cast<int>((state = state * 1103515245u + 12345u) >> 28); };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t *q = &p.rgba[(static_cast<size_t>(y) * w + x) * 4];
            q[0] = static_cast<uint8_t>(x * 220 / w + noise());
            q[1] = static_cast<uint8_t>(y * 200 / h + noise());
            q[2] = static_cast<uint8_t>((x + y) * 120 / (w + h) + noise());
            q[3] = 255;
        }
    imgtext::encode_jpeg(p.rgba.data(), w, h, 90, append, &p.jpeg);
    return p;
}

const picture &photo_1080() {
    static const picture p = photo_like(1920, 1080);
    return p;
}
const picture &photo_12mp() {
    static const picture p = photo_like(4000, 3000);
    return p;
}

unsigned char *decode_ours(const picture &p,
                           imgtext::jpeg_decode_kernel kernel = imgtext::jpeg_decode_kernel::automatic,
                           int threads = 1) {
    int w = 0, h = 0;
    unsigned char *pixels = nullptr;
    const char *reason = nullptr;
    imgtext::decode_jpeg_rgba(p.jpeg.data(), static_cast<int>(p.jpeg.size()), &w, &h, &pixels, &reason, kernel,
                              threads);
    return pixels;
}
unsigned char *decode_stb(const picture &p) {
    int w = 0, h = 0, n = 0;
    return stbi_load_from_memory(p.jpeg.data(), static_cast<int>(p.jpeg.size()), &w, &h, &n, 4);
}

void BM_decode_stb(benchmark::State &state, const picture &p) {
    for (auto _ : state) std::free(decode_stb(p));
}
void BM_decode_ours(benchmark::State &state, const picture &p) {
    for (auto _ : state) std::free(decode_ours(p));
}
// The SSE2 inner loops, which processors without AVX2 and the Windows DLL
// run. (The portable ones serve only as the tests' reference on x86.)
void BM_decode_ours_sse2(benchmark::State &state, const picture &p) {
    for (auto _ : state) std::free(decode_ours(p, imgtext::jpeg_decode_kernel::sse2));
}
// The load option threads = 2: the pixels made on a second thread.
void BM_decode_ours_two_threads(benchmark::State &state, const picture &p) {
    for (auto _ : state) std::free(decode_ours(p, imgtext::jpeg_decode_kernel::automatic, 2));
}
void BM_encode_stb(benchmark::State &state, const picture &p, int quality) {
    for (auto _ : state) stbi_write_jpg_to_func(discard_int, nullptr, p.width, p.height, 4, p.rgba.data(), quality);
}
void BM_encode_ours(benchmark::State &state, const picture &p, int quality) {
    for (auto _ : state) imgtext::encode_jpeg(p.rgba.data(), p.width, p.height, quality, discard, nullptr);
}
// A JPEG-to-JPEG call's own work: decode, then write at the library's 92.
void BM_round_trip_stb(benchmark::State &state, const picture &p) {
    for (auto _ : state) {
        unsigned char *pixels = decode_stb(p);
        stbi_write_jpg_to_func(discard_int, nullptr, p.width, p.height, 4, pixels, 92);
        std::free(pixels);
    }
}
void BM_round_trip_ours(benchmark::State &state, const picture &p) {
    for (auto _ : state) {
        unsigned char *pixels = decode_ours(p);
        imgtext::encode_jpeg(pixels, p.width, p.height, 92, discard, nullptr);
        std::free(pixels);
    }
}

}  // namespace

#define IMGTEXT_CASE(fn, name, ...) BENCHMARK_CAPTURE(fn, name, __VA_ARGS__)->Unit(benchmark::kMillisecond)
IMGTEXT_CASE(BM_decode_stb, 4000x3000_420, photo_12mp());
IMGTEXT_CASE(BM_decode_ours, 4000x3000_420, photo_12mp());
IMGTEXT_CASE(BM_decode_ours_sse2, 4000x3000_420, photo_12mp());
IMGTEXT_CASE(BM_decode_ours_two_threads, 4000x3000_420, photo_12mp())->UseRealTime();
IMGTEXT_CASE(BM_decode_stb, 1920x1080_420, photo_1080());
IMGTEXT_CASE(BM_decode_ours, 1920x1080_420, photo_1080());
IMGTEXT_CASE(BM_decode_ours_two_threads, 1920x1080_420, photo_1080())->UseRealTime();
IMGTEXT_CASE(BM_encode_stb, 4000x3000_q92_444, photo_12mp(), 92);
IMGTEXT_CASE(BM_encode_ours, 4000x3000_q92_444, photo_12mp(), 92);
IMGTEXT_CASE(BM_encode_stb, 4000x3000_q90_420, photo_12mp(), 90);
IMGTEXT_CASE(BM_encode_ours, 4000x3000_q90_420, photo_12mp(), 90);
IMGTEXT_CASE(BM_round_trip_stb, 4000x3000, photo_12mp());
IMGTEXT_CASE(BM_round_trip_ours, 4000x3000, photo_12mp());
IMGTEXT_CASE(BM_round_trip_stb, 1920x1080, photo_1080());
IMGTEXT_CASE(BM_round_trip_ours, 1920x1080, photo_1080());

BENCHMARK_MAIN();
