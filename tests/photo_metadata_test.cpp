// Photos through the drawing API: loaded upright by their EXIF orientation,
// saved with their ICC profile and resolution (and EXIF when asked). Inputs
// are stb_image_write JPEGs with hand-built segments spliced in; outputs are
// read back here by walking their segments and chunks, without any decoder.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "api_support.h"
#include "quendal_imgtext.h"
#include "test_support.h"

using test_support::jpeg_segment;
using test_support::jpeg_with_segments;
using test_support::parts;
using test_support::tiff_block;

namespace {

using bytes = std::vector<uint8_t>;

bytes cat(bytes a, const bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
bytes slice(const bytes &b, size_t from, size_t n) { return {b.begin() + from, b.begin() + from + n}; }

bytes exif_segment(const bytes &tiff) { return jpeg_segment(0xE1, cat({'E', 'x', 'i', 'f', 0, 0}, tiff)); }
bytes orientation_tiff(int value) { return tiff_block(false, {{0x0112, 3, 1, static_cast<uint32_t>(value)}}); }
bytes icc_segment(int number, int count, const bytes &piece) {
    const bytes tag = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
    return jpeg_segment(0xE2, cat(cat(tag, {static_cast<uint8_t>(number), static_cast<uint8_t>(count)}), piece));
}

// A 32 x 16 JPEG in four flat quadrants, red, green / blue, white, with segments added.
bytes photo(const std::vector<bytes> &segments) {
    test_support::rgba image = test_support::solid(32, 16, 0, 0, 0, 255);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            const bool right = x >= 16, bottom = y >= 8;
            image.at(x, y)[0] = right == bottom ? 255 : 0, image.at(x, y)[1] = right ? 255 : 0,
                        image.at(x, y)[2] = bottom ? 255 : 0;
        }
    return jpeg_with_segments(image, segments);
}

struct loaded {
    imgtext_image *image = nullptr;
    loaded(const bytes &file, int auto_orient = 1) {
        imgtext_load_options options;
        imgtext_load_options_init(&options);
        options.auto_orient = auto_orient;
        EXPECT_EQ(imgtext_image_load_memory(file.data(), file.size(), &options, &image), IMGTEXT_OK);
    }
    ~loaded() { imgtext_image_free(image); }
    // The quadrant colours' initials at the corners: top-left, top-right, bottom-left, bottom-right.
    std::string corners() const {
        const int w = imgtext_image_width(image), h = imgtext_image_height(image);
        const std::pair<int, int> at[4] = {{2, 2}, {w - 3, 2}, {2, h - 3}, {w - 3, h - 3}};
        std::string out;
        for (const auto &[x, y] : at) {
            const uint8_t *p = imgtext_image_pixels(image) + imgtext_image_stride(image) * y + x * 4;
            out += p[2] > 128 ? (p[0] > 128 ? 'W' : 'B') : p[0] > 128 ? 'R' : 'G';
        }
        return out;
    }
};

bytes encode(const imgtext_image *image, int format, int keep_exif = 0, int drop_metadata = 0) {
    imgtext_save_options options = test_support::save_options(format);
    options.keep_exif = keep_exif, options.drop_metadata = drop_metadata;
    return test_support::encoded(image, options);
}

const std::string k_app1 = "225", k_app2 = "226";

TEST(Orientation, EveryExifOrientationLoadsUpright) {
    // The stored picture mirrored, turned, or both, as EXIF defines them.
    const char *const upright[9] = {"", "RGBW", "GRWB", "WBGR", "BWRG", "RBGW", "BRWG", "WGBR", "GWRB"};
    for (int value = 1; value <= 8; ++value) {
        const loaded upright_photo(photo({exif_segment(orientation_tiff(value))}));
        EXPECT_EQ(imgtext_image_width(upright_photo.image), value >= 5 ? 16 : 32) << value;
        EXPECT_EQ(upright_photo.corners(), upright[value]) << "orientation " << value;
    }
    EXPECT_EQ(loaded(photo({exif_segment(orientation_tiff(6))}), 0).corners(), "RGBW");  // turned off
}

TEST(Orientation, DamagedExifLoadsThePictureUnturned) {
    bytes far_directory = orientation_tiff(6), truncated = orientation_tiff(6);
    far_directory[4] = 0x7F;  // IFD0 2 GB into a block of 26 bytes
    truncated.resize(14);     // the entry cut off
    for (const bytes &tiff : {far_directory, truncated, bytes{'M', 'M', 0, 42}})
        EXPECT_EQ(loaded(photo({exif_segment(tiff)})).corners(), "RGBW");
}

TEST(Metadata, IccProfileInSeveralSegmentsRoundTripsIntoJpegAndPng) {
    // 150,000 noise bytes in three APP2 segments, spliced in out of order.
    // Noise does not compress, so the iCCP stream holds stored blocks.
    bytes profile(150000);
    std::mt19937 noise(14);
    for (uint8_t &b : profile) b = static_cast<uint8_t>(noise() >> 24);
    auto piece = [&](int n) {
        return icc_segment(n + 1, 3, slice(profile, n * 65519u, std::min<size_t>(65519, 150000 - n * 65519u)));
    };
    const loaded with_profile(photo({piece(1), piece(0), piece(2)}));

    bytes from_jpeg;
    for (const auto &[marker, payload] : parts(encode(with_profile.image, IMGTEXT_FORMAT_JPEG))) {
        if (marker != k_app2) continue;
        EXPECT_EQ(static_cast<size_t>(payload[12]), from_jpeg.size() / 65519 + 1);
        from_jpeg = cat(from_jpeg, slice(payload, 14, payload.size() - 14));
    }
    EXPECT_EQ(from_jpeg, profile);

    const auto chunks = parts(encode(with_profile.image, IMGTEXT_FORMAT_PNG));
    ASSERT_EQ(chunks[1].first, "iCCP");  // right after IHDR, before any image data
    const bytes &iccp = chunks[1].second;
    const size_t z = std::strlen(reinterpret_cast<const char *>(iccp.data())) + 2;  // name, NUL, method 0
    bytes from_png;
    for (size_t at = z + 2, n = 0; at < iccp.size() - 4; at += 5 + n) {
        ASSERT_EQ(iccp[at] & 6, 0) << "not a stored block";
        n = iccp[at + 1] | iccp[at + 2] << 8;
        from_png = cat(from_png, slice(iccp, at + 5, n));
    }
    EXPECT_EQ(from_png, profile);

    const loaded partial(photo({piece(0), piece(2)}));  // a piece missing: no profile
    for (const auto &part : parts(encode(partial.image, IMGTEXT_FORMAT_JPEG))) EXPECT_NE(part.first, k_app2);
}

TEST(Metadata, ResolutionIsKeptInJpegAndPng) {
    bytes jpeg = photo({});
    const uint8_t dpi300[5] = {1, 1, 44, 1, 44};  // JFIF: per inch, 300 x 300
    std::memcpy(&jpeg[13], dpi300, 5);
    const loaded dense(jpeg);
    EXPECT_EQ(slice(encode(dense.image, IMGTEXT_FORMAT_JPEG), 13, 5), bytes(dpi300, dpi300 + 5));
    const auto chunks = parts(encode(dense.image, IMGTEXT_FORMAT_PNG));
    ASSERT_EQ(chunks[1].first, "pHYs");
    EXPECT_EQ(chunks[1].second, (bytes{0, 0, 0x2E, 0x23, 0, 0, 0x2E, 0x23, 1}));  // 11811 per metre
}

TEST(Metadata, ExifOnlyWhenAskedAndThenUpright) {
    auto exif_of = [](const bytes &jpeg) {
        for (const auto &[marker, payload] : parts(jpeg))
            if (marker == k_app1) return slice(payload, 6, payload.size() - 6);
        return bytes{};
    };
    const bytes turned = photo({exif_segment(orientation_tiff(6))});
    EXPECT_EQ(exif_of(encode(loaded(turned).image, IMGTEXT_FORMAT_JPEG)), bytes{});
    EXPECT_EQ(exif_of(encode(loaded(turned).image, IMGTEXT_FORMAT_JPEG, 1)), orientation_tiff(1));
    EXPECT_EQ(exif_of(encode(loaded(turned, 0).image, IMGTEXT_FORMAT_JPEG, 1)),
              orientation_tiff(6));  // still true to the pixels
}

TEST(Metadata, PicturesWithoutMetadataKeepTheSevenCallsBytes) {
    const loaded plain(photo({})),
        with_metadata(photo({icc_segment(1, 1, bytes(300, 7)), exif_segment(orientation_tiff(1))}));
    test_support::image_handle copy;
    ASSERT_EQ(imgtext_image_copy(imgtext_image_pixels(plain.image), 32, 16, 32 * 4, &copy.p), IMGTEXT_OK);
    for (const int format : {IMGTEXT_FORMAT_JPEG, IMGTEXT_FORMAT_PNG, IMGTEXT_FORMAT_BMP}) {
        EXPECT_EQ(encode(plain.image, format), encode(copy.p, format)) << format;
        EXPECT_EQ(encode(with_metadata.image, format, 1, 1), encode(copy.p, format)) << format;  // dropped on request
    }
}

}  // namespace
