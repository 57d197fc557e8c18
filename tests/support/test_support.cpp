// Test helpers; stb is compiled here privately for generating and decoding.
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace fs = std::filesystem;

namespace test_support {

scratch_dir::scratch_dir() {
    static std::atomic<int> counter{0};
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "scratch";
    std::replace(name.begin(), name.end(), '/', '_');
    const fs::path dir = fs::temp_directory_path() / "imgtext-tests" /
                         (name + "-" + std::to_string(counter++) + "-" + std::to_string(std::rand()));
    fs::create_directories(dir);
    root_ = dir.string();
}

scratch_dir::~scratch_dir() {
    std::error_code ec;
    fs::remove_all(root_, ec);
}

std::vector<std::string> scratch_dir::entries() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(root_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool file_exists(const std::string &path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

std::vector<uint8_t> read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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

uint64_t fnv1a(const std::vector<uint8_t> &bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes) {
        hash ^= b;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

}  // namespace test_support
