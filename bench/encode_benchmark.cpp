// Encoder speed, the library's own against stb_image_write, on the same
// pictures in one run, so the ratio is what counts.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "codecs/jpeg_encoder.h"
#include "codecs/png_encoder.h"
#include "engine_support.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace {

struct picture {
    int width, height;
    std::vector<uint8_t> rgba;
};

// Smooth gradients with sensor-like noise, like a downscaled photograph.
picture photo_like(int w, int h) {
    picture p{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 4)};
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
    return p;
}

// A title card: flat background, a few flat shapes.
picture flat_card(int w, int h) {
    picture p{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 4)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t *q = &p.rgba[(static_cast<size_t>(y) * w + x) * 4];
            const bool band = y > h / 3 && y < h / 2 && x > w / 8 && x < 7 * w / 8;
            q[0] = band ? 250 : 32, q[1] = band ? 245 : 54, q[2] = band ? 230 : 84, q[3] = 255;
        }
    return p;
}

void discard(void *, const void *, size_t) {}
void discard_int(void *, void *, int) {}

const picture &photo_1080() {
    static const picture p = photo_like(1920, 1080);
    return p;
}
const picture &card() {
    static const picture p = flat_card(800, 400);
    return p;
}

void BM_png_ours(benchmark::State &state, const picture &p) {
    for (auto _ : state) imgtext::encode_png(p.rgba.data(), p.width, p.height, discard, nullptr);
    state.SetLabel(imgtext::vector_match_search_available() ? "AVX-512 search" : "portable search");
}
// The portable match search, which processors without AVX-512 run.
void BM_png_ours_portable(benchmark::State &state, const picture &p) {
    for (auto _ : state)
        imgtext::encode_png(p.rgba.data(), p.width, p.height, discard, nullptr, imgtext::match_search::portable);
}
void BM_png_stb(benchmark::State &state, const picture &p) {
    for (auto _ : state) stbi_write_png_to_func(discard_int, nullptr, p.width, p.height, 4, p.rgba.data(), p.width * 4);
}

const picture &photo_12mp() {
    static const picture p = photo_like(4000, 3000);
    return p;
}

void BM_jpeg_ours(benchmark::State &state, const picture &p) {
    for (auto _ : state) imgtext::encode_jpeg(p.rgba.data(), p.width, p.height, 92, discard, nullptr);
}
void BM_jpeg_stb(benchmark::State &state, const picture &p) {
    for (auto _ : state) stbi_write_jpg_to_func(discard_int, nullptr, p.width, p.height, 4, p.rgba.data(), 92);
}

// Whole saves to a file, through the checked, buffered file output: the
// JPEG and BMP writers hand over a few bytes at a time.
void BM_save(benchmark::State &state, int format, const char *path) {
    const picture &p = photo_12mp();
    for (auto _ : state) imgtext::save_image(path, p.width, p.height, p.rgba.data(), format);
    std::remove(path);
}

}  // namespace

BENCHMARK_CAPTURE(BM_jpeg_stb, photo_4000x3000, photo_12mp())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_jpeg_ours, photo_4000x3000, photo_12mp())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_save, jpeg_4000x3000, imgtext::FMT_JPG, "encode_benchmark.jpg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_save, bmp_4000x3000, imgtext::FMT_BMP, "encode_benchmark.bmp")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_png_stb, photo_1920x1080, photo_1080())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_png_ours, photo_1920x1080, photo_1080())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_png_ours_portable, photo_1920x1080, photo_1080())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_png_stb, card_800x400, card())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_png_ours, card_800x400, card())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_png_ours_portable, card_800x400, card())->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
