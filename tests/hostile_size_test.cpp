// Small files that claim huge pictures, and other inputs whose cost is out of
// all proportion to their size: each is refused before the work is done.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#if !defined(_WIN32)
#  include <sys/resource.h>
#  include <sys/wait.h>
#  include <unistd.h>
#  include <valgrind/valgrind.h>
#endif

#include "crafted_images.h"
#include "quendal_imgtext.h"
#include "test_support.h"

using test_support::scratch_dir;

namespace {

// Overwrites `bytes` bytes at `at` with v, most significant first if big.
void put(std::vector<uint8_t> &b, size_t at, unsigned v, int bytes, bool big) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> 8 * (big ? bytes - 1 - i : i));
}

size_t find_marker(const std::vector<uint8_t> &jpeg, uint8_t marker) {
    for (size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == marker) return i;
    ADD_FAILURE() << "no marker " << int(marker);
    return 0;
}

// 23170 x 23170: four bytes a pixel is just under INT_MAX, so the JPEG and
// BMP writers would take it, but the PNG writer's limit refuses it.
constexpr unsigned k_side = 23170;

// Real small files of each format with only their header's size changed.
std::vector<std::pair<std::string, std::vector<uint8_t>>> header_bombs(const scratch_dir &dir) {
    const test_support::rgba small = test_support::pattern(8, 8);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    test_support::write_jpg(dir.path("b.jpg"), small);
    std::vector<uint8_t> jpeg = test_support::read_bytes(dir.path("b.jpg"));
    const size_t sof = find_marker(jpeg, 0xC0);
    put(jpeg, sof + 5, k_side, 2, true), put(jpeg, sof + 7, k_side, 2, true);
    files.emplace_back("jpeg", jpeg);
    test_support::write_bmp(dir.path("b.bmp"), small);
    std::vector<uint8_t> bmp = test_support::read_bytes(dir.path("b.bmp"));
    put(bmp, 18, k_side, 4, false), put(bmp, 22, k_side, 4, false);
    files.emplace_back("bmp", bmp);
    test_support::write_tga(dir.path("b.tga"), small);
    std::vector<uint8_t> tga = test_support::read_bytes(dir.path("b.tga"));
    put(tga, 12, k_side, 2, false), put(tga, 14, k_side, 2, false);
    files.emplace_back("tga", tga);
    std::vector<uint8_t> psd = test_support::psd_bytes(small);
    put(psd, 14, k_side, 4, true), put(psd, 18, k_side, 4, true);
    files.emplace_back("psd", psd);
    std::vector<uint8_t> png = crafted::png({}).bytes();
    put(png, 16, k_side, 4, true), put(png, 20, k_side, 4, true);
    files.emplace_back("png", png);
    std::vector<uint8_t> gif = crafted::gif({}).bytes();  // the logical screen; its frame stays small
    put(gif, 6, k_side, 2, false), put(gif, 8, k_side, 2, false);
    files.emplace_back("gif", gif);
    // stbi_info rejects this PIC's packets, but its decoder reads the same
    // header and would allocate the picture before giving up.
    std::vector<uint8_t> pic = crafted::pic({}).bytes();
    put(pic, 92, k_side, 2, true), put(pic, 94, k_side, 2, true);
    files.emplace_back("pic", pic);
    const std::string side = std::to_string(k_side), pnm = "P6\n" + side + " " + side + "\n255\n\x01\x02\x03";
    files.emplace_back("ppm", std::vector<uint8_t>(pnm.begin(), pnm.end()));
    const std::string hdr = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y " + side + " +X " + side + "\n\x80\x80\x80\x80";
    files.emplace_back("hdr", std::vector<uint8_t>(hdr.begin(), hdr.end()));
    return files;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool k_address_sanitizer = true;
#elif defined(__has_feature)
#  if __has_feature(address_sanitizer)
constexpr bool k_address_sanitizer = true;
#  else
constexpr bool k_address_sanitizer = false;
#  endif
#else
constexpr bool k_address_sanitizer = false;
#endif

// Runs the call in a child process and returns its peak resident memory in
// MiB (0 where that cannot be measured), failing if the call did not fail.
template <typename Call>
long peak_mib_of_failing_call(Call call) {
    long mib = 0;
#if !defined(_WIN32)
    // Valgrind's own memory, or AddressSanitizer's shadow of every mapped
    // block, would swamp the figure.
    if (!RUNNING_ON_VALGRIND && !k_address_sanitizer) {
        const pid_t child = fork();
        if (child == 0) {
            // A decoder that slipped past the limits fails here rather than
            // taking the machine's memory, and with another message.
            const rlimit one_gib{size_t{1} << 30, size_t{1} << 30};
            setrlimit(RLIMIT_AS, &one_gib);
            _exit(call() == 0 ? 0 : 1);
        }
        int status = 0;
        rusage usage{};
        EXPECT_EQ(wait4(child, &status, 0, &usage), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the call did not fail";
        mib = usage.ru_maxrss / 1024;
    }
#endif
    EXPECT_EQ(call(), 0);  // in this process too, for the message
    return mib;
}

TEST(HostileSize, HeadersClaimingWhatTheWriterRefusesAreRefusedBeforeDecoding) {
    scratch_dir dir;
    const std::string out = dir.path("out.png");
    for (const auto &[format, bytes] : header_bombs(dir)) {
        const std::string in = dir.path("bomb." + format);
        test_support::write_bytes(in, bytes);
        const long mib =
            peak_mib_of_failing_call([&] { return imgtext_add(in.c_str(), out.c_str(), "x", 0, 0, 0, 0, 0, 0, 1.0f); });
        EXPECT_LT(mib, 150) << format;
        EXPECT_EQ(std::string(imgtext_last_error()), "failed to write image to " + out) << format;
    }
    EXPECT_FALSE(test_support::file_exists(out));
}

// The drawing API's pixel limit, whichever decoder reads the header and
// however: refused before the picture is allocated.
TEST(HostileSize, HeadersBeyondThePixelLimitAreRefusedBeforeDecoding) {
    scratch_dir dir;
    const std::string refused =
        "image too large: " + std::to_string(k_side) + "x" + std::to_string(k_side) + " is more than 178956970 pixels";
    for (const auto &bomb : header_bombs(dir)) {
        const auto &format = bomb.first;
        const auto &bytes = bomb.second;  // a plain reference: lambdas capture no bindings before C++20
        imgtext_image *image = nullptr;
        const long mib = peak_mib_of_failing_call(
            [&] { return imgtext_image_load_memory(bytes.data(), bytes.size(), nullptr, &image) == IMGTEXT_OK; });
        EXPECT_LT(mib, 150) << format;
        EXPECT_EQ(imgtext_error_message(), refused) << format;
    }
}

TEST(HostileSize, CanvasTheWriterRefusesIsNeverFilled) {
    scratch_dir dir;
    const std::string out = dir.path("card.png");
    const long mib =
        peak_mib_of_failing_call([&] { return imgtext_create(out.c_str(), "x", 30000, 20000, 0, 0, 0, 0, 9, 9, 9); });
    EXPECT_LT(mib, 150);
    EXPECT_EQ(std::string(imgtext_last_error()), "failed to write image to " + out);
}

// Each scan of a progressive JPEG is a pass over the whole picture, and an
// empty scan is a few bytes: past the limit the file is refused unread.
TEST(HostileSize, JpegWithMoreScansThanTheLimitIsRefused) {
    scratch_dir dir;
    test_support::write_jpg(dir.path("base.jpg"), test_support::pattern(16, 16));
    const std::vector<uint8_t> base = test_support::read_bytes(dir.path("base.jpg"));
    const size_t sos = find_marker(base, 0xDA);
    const size_t header_len = 2 + ((size_t{base[sos + 2]} << 8) | base[sos + 3]);
    const std::vector<uint8_t> empty_scan(base.begin() + static_cast<long>(sos),
                                          base.begin() + static_cast<long>(sos + header_len));
    for (const int extra : {499, 500}) {                          // plus the file's own scan
        std::vector<uint8_t> jpeg(base.begin(), base.end() - 2);  // up to the end-of-image marker
        for (int i = 0; i < extra; ++i) jpeg.insert(jpeg.end(), empty_scan.begin(), empty_scan.end());
        jpeg.push_back(0xFF), jpeg.push_back(0xD9);
        const std::string in = dir.path("scans.jpg");
        test_support::write_bytes(in, jpeg);
        const int ok = imgtext_add(in.c_str(), dir.path("out.png").c_str(), "x", 0, 0, 0, 0, 0, 0, 1.0f);
        const std::string refused = "cannot decode image " + in + " (too many scans)";
        if (extra == 500) {
            EXPECT_EQ(ok, 0);
            EXPECT_EQ(imgtext_last_error(), refused);
        } else {
            EXPECT_NE(imgtext_last_error(), refused);
        }
    }
}

}  // namespace
