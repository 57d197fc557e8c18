// Test helpers; stb is compiled here privately for generating and decoding.
#include "test_support.h"

#include <gtest/gtest.h>
#include <cstdlib>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#if defined(_WIN32)
#  include <process.h>
#  define getpid _getpid
#else
#  include <unistd.h>
#endif

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include "crafted_images.h"

namespace fs = std::filesystem;

namespace test_support {

scratch_dir::scratch_dir() {
    static std::atomic<int> counter{0};
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "scratch";
    std::replace(name.begin(), name.end(), '/', '_');
    // Other checkouts on the machine run the same tests at the same time: the
    // process id keeps their folders apart.
    const fs::path dir = fs::temp_directory_path() / "imgtext-tests" /
                         (name + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::error_code ec;
    fs::remove_all(dir, ec);  // left by a crashed run whose process id this one got
    fs::create_directories(dir);
    root_ = dir.string();
}

scratch_dir::~scratch_dir() {
    std::error_code ec;
    fs::remove_all(root_, ec);
}

std::vector<std::string> scratch_dir::entries() const { return entries(root_); }

std::vector<std::string> scratch_dir::entries(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool file_exists(const std::string &path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

size_t exhaustive_stride() {
    const char *text = std::getenv("IMGTEXT_TEST_STRIDE");
    const long stride = text ? std::strtol(text, nullptr, 10) : 1;
    return stride > 1 ? static_cast<size_t>(stride) : 1;
}

bool skip_allowed(const char *what) {
    const char *allowed = std::getenv("IMGTEXT_SKIPS_ALLOWED");
    if (!allowed) return true;
    const std::string list = std::string(",") + allowed + ",";
    return list.find(std::string(",") + what + ",") != std::string::npos;
}

std::vector<uint8_t> read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

ink_bounds ink(const rgba &img, const rgba &reference, int top, int bottom) {
    ink_bounds b;
    for (int y = std::max(top, 0); y < std::min(bottom, img.height); ++y)
        for (int x = 0; x < img.width; ++x)
            if (img.px(x, y) != reference.px(x, y)) {
                b.left = std::min(b.left, x), b.right = std::max(b.right, x), ++b.count;
                b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
            }
    return b;
}

file_kind kind_of(const std::string &path) {
    const std::vector<uint8_t> b = read_bytes(path);
    if (b.size() > 8 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') return file_kind::png;
    if (b.size() > 2 && b[0] == 0xFF && b[1] == 0xD8) return file_kind::jpeg;
    if (b.size() > 2 && b[0] == 'B' && b[1] == 'M') return file_kind::bmp;
    return file_kind::other;
}

rgba solid(int width, int height, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    rgba image{width, height, {}};
    image.pixels.reserve(static_cast<size_t>(width) * height * 4);
    for (int i = 0; i < width * height; ++i) image.pixels.insert(image.pixels.end(), {r, g, b, a});
    return image;
}

rgba pattern(int width, int height) {
    rgba image{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t *p = image.at(x, y);
            p[0] = static_cast<uint8_t>(x * 255 / std::max(width - 1, 1));
            p[1] = static_cast<uint8_t>(y * 255 / std::max(height - 1, 1));
            p[2] = static_cast<uint8_t>((x * 7 + y * 13) & 0xFF);
            p[3] = 255;
        }
    }
    return image;
}

rgba noise(int width, int height) {
    rgba image{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
    uint32_t state = 12345;
    for (auto &byte : image.pixels) byte = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 24);
    return image;
}

rgba decode(const std::string &path) {
    int w = 0, h = 0, n = 0;
    unsigned char *data = stbi_load(path.c_str(), &w, &h, &n, 4);
    EXPECT_NE(data, nullptr) << "cannot decode " << path << ": " << stbi_failure_reason();
    if (!data) return {};
    rgba image{w, h, std::vector<uint8_t>(data, data + static_cast<size_t>(w) * h * 4)};
    stbi_image_free(data);
    return image;
}

void write_png(const std::string &path, const rgba &image) {
    ASSERT_TRUE(stbi_write_png(path.c_str(), image.width, image.height, 4, image.pixels.data(), image.width * 4));
}

void write_jpg(const std::string &path, const rgba &image, int quality) {
    ASSERT_TRUE(stbi_write_jpg(path.c_str(), image.width, image.height, 4, image.pixels.data(), quality));
}

void write_bmp(const std::string &path, const rgba &image) {
    ASSERT_TRUE(stbi_write_bmp(path.c_str(), image.width, image.height, 4, image.pixels.data()));
}

void write_tga(const std::string &path, const rgba &image) {
    ASSERT_TRUE(stbi_write_tga(path.c_str(), image.width, image.height, 4, image.pixels.data()));
}

void write_png_channels(const std::string &path, int width, int height, int comp, const std::vector<uint8_t> &data) {
    ASSERT_TRUE(stbi_write_png(path.c_str(), width, height, comp, data.data(), width * comp));
}

void write_hdr(const std::string &path, int width, int height, const std::vector<float> &rgb) {
    ASSERT_TRUE(stbi_write_hdr(path.c_str(), width, height, 3, rgb.data()));
}

std::vector<uint8_t> png16_bytes(int width, int height, const std::vector<uint16_t> &rgba) {
    crafted::file raw;  // filter byte 0, then big-endian samples
    for (int y = 0; y < height; ++y) {
        raw.u8(0);
        for (int i = 0; i < width * 4; ++i) raw.be16(rgba[static_cast<size_t>(y) * width * 4 + i]);
    }
    crafted::file f;
    f.field({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
    crafted::png_chunk(f, "IHDR", crafted::file().be32(width).be32(height).field({16, 6, 0, 0, 0}));
    crafted::png_chunk(f, "IDAT", crafted::file().field(reference_zlib(raw.bytes())));
    crafted::png_chunk(f, "IEND", crafted::file());
    return f.bytes();
}

std::vector<uint8_t> gif_bytes(int width, int height, const std::vector<std::vector<uint8_t>> &frames,
                               const std::vector<std::array<uint8_t, 3>> &palette, int transparent_index) {
    crafted::file f;
    f.text("GIF89a").le16(width).le16(height).field({0xF1, 0, 0});  // global table of 4 entries
    for (size_t i = 0; i < 4; ++i) {
        const auto c = i < palette.size() ? palette[i] : std::array<uint8_t, 3>{0, 0, 0};
        f.field({c.begin(), c.end()});
    }
    for (const auto &frame : frames) {
        if (transparent_index >= 0) f.field({0x21, 0xF9, 4, 0x01, 0, 0, static_cast<uint8_t>(transparent_index), 0});
        f.u8(0x2C).le16(0).le16(0).le16(width).le16(height).u8(0);  // no local table, not interlaced
        crafted::gif_image_data(f, frame, 2, 255);
    }
    return f.u8(0x3B).bytes();
}

std::vector<uint8_t> psd_bytes(const rgba &image) {
    crafted::file f;
    f.text("8BPS").be16(1).field({0, 0, 0, 0, 0, 0}).be16(4);  // version 1, 4 channels
    f.be32(image.height).be32(image.width).be16(8).be16(3);    // depth 8, RGB
    f.be32(0).be32(0).be32(0).be16(0);  // no colour mode data, image resources, layers or masks; raw planes
    for (int channel = 0; channel < 4; ++channel)
        for (size_t i = 0; i < image.pixels.size() / 4; ++i) f.u8(image.pixels[i * 4 + channel]);
    return f.bytes();
}

std::vector<uint8_t> ppm_bytes(const rgba &image) {
    const std::string header = "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    std::vector<uint8_t> out(header.begin(), header.end());
    for (size_t i = 0; i < image.pixels.size(); i += 4) out.insert(out.end(), &image.pixels[i], &image.pixels[i] + 3);
    return out;
}

std::vector<uint8_t> pic_bytes(const rgba &image) {
    crafted::file f;
    f.field({0x53, 0x80, 0xF6, 0x34}).field(std::vector<uint8_t>(84, 0)).text("PICT");  // magic, version and comment
    f.be16(image.width).be16(image.height).field(std::vector<uint8_t>(8, 0));           // aspect ratio, fields, padding
    f.field({0, 8, 0, 0xF0});  // last packet: 8 bits, uncompressed, R, G, B and A
    return f.field(image.pixels).bytes();
}

namespace {

using bytes = std::vector<uint8_t>;

// Grey levels 0, 4, 8, ... of a 9 x 7 image, with falling alpha if asked, as
// the file stores them or as the RGBA they stand for.
bytes grey_ramp(bool alpha, bool as_rgba) {
    bytes out;
    for (int i = 0; i < 9 * 7; ++i) {
        const auto v = static_cast<uint8_t>(i * 4), a = static_cast<uint8_t>(alpha ? 255 - i : 255);
        if (as_rgba)
            out.insert(out.end(), {v, v, v, a});
        else
            out.insert(out.end(), {v, a}), out.resize(out.size() - !alpha);
    }
    return out;
}

}  // namespace

const std::vector<sample_input> &sample_inputs() {
    static const rgba opaque = pattern(6, 5), picture = [] {
        rgba p = pattern(6, 5);
        p.at(1, 1)[3] = 77;  // formats that keep alpha must keep this
        return p;
    }();
    static const std::vector<sample_input> inputs = {
        {"rgba.png", [](auto &p) { write_png(p, picture); }, picture.pixels},
        {"grey.png", [](auto &p) { write_png_channels(p, 9, 7, 1, grey_ramp(false, false)); }, grey_ramp(false, true)},
        {"grey-alpha.png", [](auto &p) { write_png_channels(p, 9, 7, 2, grey_ramp(true, false)); },
         grey_ramp(true, true)},
        // 16 bits per sample keep the high byte.
        {"deep.png",
         [](auto &p) {
             write_bytes(p, png16_bytes(2, 1, {0x1234, 0xABFF, 0x00FF, 0xFFFF, 0x8000, 0x7FFF, 0x0100, 0x4242}));
         },
         {0x12, 0xAB, 0x00, 0xFF, 0x80, 0x7F, 0x01, 0x42}},
        {"in.bmp", [](auto &p) { write_bmp(p, picture); }, picture.pixels},
        {"in.tga", [](auto &p) { write_tga(p, picture); }, picture.pixels},
        {"in.pic", [](auto &p) { write_bytes(p, pic_bytes(picture)); }, picture.pixels},
        // PSD is tested opaque here, as its reader removes a white matte from
        // partly transparent pixels; PNM has no alpha.
        {"in.psd", [](auto &p) { write_bytes(p, psd_bytes(opaque)); }, opaque.pixels},
        {"in.ppm", [](auto &p) { write_bytes(p, ppm_bytes(picture)); }, opaque.pixels},
        // Removing the white matte from (10, 200, 250) at alpha 100 gives
        // (-369.75, 114.75, 242.25): the negative channel becomes 0, not a wrap.
        {"matte.psd",
         [](auto &p) { write_bytes(p, psd_bytes(solid(2, 1, 10, 200, 250, 100))); },
         {0, 114, 242, 100, 0, 114, 242, 100}},
        {"in.jpg", [](auto &p) { write_jpg(p, pattern(16, 16), 100); }, pattern(16, 16).pixels, 12},
        // An animation gives its first frame, with transparent pixels cleared.
        {"anim.gif",
         [](auto &p) {
             write_bytes(p, gif_bytes(2, 2, {{0, 1, 2, 3}, {1, 1, 1, 1}},
                                      {{{10, 20, 30}}, {{200, 0, 0}}, {{0, 200, 0}}, {{1, 2, 3}}}, 3));
         },
         {10, 20, 30, 255, 200, 0, 0, 255, 0, 200, 0, 255, 0, 0, 0, 0}},
        // Tone mapped as v^(1/2.2) * 255 + 0.5, clamped and truncated: 1 -> 255,
        // 0.25 -> 136, 4 -> 255, 0.0625 -> 72, 0.5 -> 186.
        {"in.hdr",
         [](auto &p) {
             write_hdr(p, 2, 1, {1.0f, 0.25f, 0.0f, 4.0f, 0.0625f, 0.5f});
         },
         {255, 136, 0, 255, 255, 72, 186, 255}},
    };
    return inputs;
}

namespace {
void append_bytes(void *context, void *data, int size) {
    auto *out = static_cast<std::vector<uint8_t> *>(context);
    out->insert(out->end(), static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + size);
}
}  // namespace

std::vector<uint8_t> reference_png(const rgba &image) {
    std::vector<uint8_t> out;
    stbi_write_png_to_func(append_bytes, &out, image.width, image.height, 4, image.pixels.data(), image.width * 4);
    return out;
}

std::vector<uint8_t> reference_jpg(const rgba &image, int quality) {
    std::vector<uint8_t> out;
    stbi_write_jpg_to_func(append_bytes, &out, image.width, image.height, 4, image.pixels.data(), quality);
    return out;
}

std::vector<uint8_t> reference_zlib(const std::vector<uint8_t> &bytes) {
    int size = 0;
    unsigned char *z =
        stbi_zlib_compress(const_cast<unsigned char *>(bytes.data()), static_cast<int>(bytes.size()), &size, 8);
    std::vector<uint8_t> out(z, z + size);
    STBIW_FREE(z);
    return out;
}

std::vector<uint8_t> tiff_block(bool little, const std::vector<tiff_entry> &entries,
                                const std::vector<uint8_t> &after) {
    std::vector<uint8_t> out;
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<uint8_t>(v >> (little ? 8 * i : 8 * (bytes - 1 - i))));
    };
    out.push_back(little ? 'I' : 'M'), out.push_back(little ? 'I' : 'M');
    put(42, 2), put(8, 4), put(static_cast<uint32_t>(entries.size()), 2);
    for (const tiff_entry &e : entries) {
        put(e.tag, 2), put(e.type, 2), put(e.count, 4);
        const bool one_short = e.type == 3 && e.count == 1;  // sits in the field's first two bytes
        if (one_short)
            put(e.value, 2), put(0, 2);
        else
            put(e.value, 4);
    }
    put(0, 4);  // no next directory
    out.insert(out.end(), after.begin(), after.end());
    return out;
}

std::vector<uint8_t> jpeg_segment(uint8_t marker, const std::vector<uint8_t> &payload) {
    const size_t length = payload.size() + 2;
    std::vector<uint8_t> out(payload.size() + 4);
    out[0] = 0xFF, out[1] = marker, out[2] = static_cast<uint8_t>(length >> 8), out[3] = static_cast<uint8_t>(length);
    std::copy(payload.begin(), payload.end(), out.begin() + 4);
    return out;
}

std::vector<uint8_t> jpeg_with_segments(const rgba &image, const std::vector<std::vector<uint8_t>> &segments) {
    std::vector<uint8_t> jpeg = reference_jpg(image, 100);
    size_t at = 20;  // SOI and the JFIF segment stb_image_write starts with
    for (const auto &segment : segments) {
        jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(at), segment.begin(), segment.end());
        at += segment.size();
    }
    return jpeg;
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> parts(const std::vector<uint8_t> &file) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> out;
    auto be = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | file[at + i];
        return v;
    };
    auto slice = [&](size_t from, size_t n) {
        return std::vector<uint8_t>(file.begin() + from, file.begin() + from + n);
    };
    if (file[0] == 0xFF) {
        for (size_t at = 2; file[at + 1] != 0xDA; at += 2 + be(at + 2, 2))
            out.emplace_back(std::to_string(file[at + 1]), slice(at + 4, be(at + 2, 2) - 2));
    } else {
        for (size_t at = 8; at < file.size(); at += 12 + be(at, 4))
            out.emplace_back(std::string(file.begin() + at + 4, file.begin() + at + 8), slice(at + 8, be(at, 4)));
    }
    return out;
}

uint64_t fnv1a(const std::vector<uint8_t> &bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes) {
        hash ^= b;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

}  // namespace test_support
