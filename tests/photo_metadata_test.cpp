// Photos through the drawing API: loaded upright by their EXIF orientation,
// saved with their ICC profile and resolution (and EXIF when asked). Inputs
// are stb_image_write JPEGs with hand-built segments spliced in; outputs are
// read back here by walking their segments and chunks, without any decoder.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "quendal_imgtext.h"
#include "test_support.h"

using test_support::jpeg_segment;
using test_support::jpeg_with_segments;
using test_support::rgba;

namespace {

using bytes = std::vector<uint8_t>;

bytes exif_segment(const bytes &tiff) {
    bytes payload = {'E', 'x', 'i', 'f', 0, 0};
    payload.insert(payload.end(), tiff.begin(), tiff.end());
    return jpeg_segment(0xE1, payload);
}

bytes orientation_segment(int value) {
    return exif_segment(test_support::tiff_block(false, {{0x0112, 3, 1, static_cast<uint32_t>(value)}}));
}

bytes icc_segment(int number, int count, const bytes &piece) {
    bytes payload = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, static_cast<uint8_t>(number),
                     static_cast<uint8_t>(count)};
    payload.insert(payload.end(), piece.begin(), piece.end());
    return jpeg_segment(0xE2, payload);
}

// A 32 x 16 picture in four flat quadrants: red, green / blue, white.
rgba quadrants() {
    rgba image = test_support::solid(32, 16, 0, 0, 0, 255);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            uint8_t *p = image.at(x, y);
            const bool right = x >= 16, bottom = y >= 8;
            p[0] = right == bottom ? 255 : 0;
            p[1] = right ? 255 : 0;
            p[2] = bottom ? 255 : 0;
        }
    return image;
}

struct loaded {
    imgtext_image *image = nullptr;
    ~loaded() { imgtext_image_free(image); }
    char corner(int x, int y) const {  // the quadrant colour's initial
        const uint8_t *p = imgtext_image_pixels(image) + imgtext_image_stride(image) * y + static_cast<size_t>(x) * 4;
        const int r = p[0] > 128, g = p[1] > 128, b = p[2] > 128;
        return r && g && b ? 'W' : r ? 'R' : g ? 'G' : b ? 'B' : '?';
    }
    std::string corners() const {  // top-left, top-right, bottom-left, bottom-right
        const int w = imgtext_image_width(image), h = imgtext_image_height(image);
        return {corner(2, 2), corner(w - 3, 2), corner(2, h - 3), corner(w - 3, h - 3)};
    }
};

imgtext_status load(const bytes &file, loaded *out, int auto_orient = 1) {
    imgtext_load_options options;
    imgtext_load_options_init(&options);
    options.auto_orient = auto_orient;
    return imgtext_image_load_memory(file.data(), file.size(), &options, &out->image);
}

bytes encode(const imgtext_image *image, int format, int keep_exif = 0, int drop_metadata = 0) {
    imgtext_save_options options;
    imgtext_save_options_init(&options);
    options.format = format;
    options.keep_exif = keep_exif;
    options.drop_metadata = drop_metadata;
    void *data = nullptr;
    size_t size = 0;
    EXPECT_EQ(imgtext_image_encode(image, &options, &data, &size), IMGTEXT_OK) << imgtext_error_message();
    bytes out(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + size);
    imgtext_free(data);
    return out;
}

// The JPEG's segments before its first scan, as (marker, payload).
std::vector<std::pair<int, bytes>> jpeg_segments(const bytes &jpeg) {
    std::vector<std::pair<int, bytes>> out;
    for (size_t at = 2; at + 4 <= jpeg.size() && jpeg[at + 1] != 0xDA;) {
        const size_t length = static_cast<size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3];
        out.emplace_back(jpeg[at + 1], bytes(jpeg.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                             jpeg.begin() + static_cast<std::ptrdiff_t>(at + 2 + length)));
        at += 2 + length;
    }
    return out;
}

// The PNG's chunks in order, as (type, data).
std::vector<std::pair<std::string, bytes>> png_chunks(const bytes &png) {
    std::vector<std::pair<std::string, bytes>> out;
    for (size_t at = 8; at + 12 <= png.size();) {
        const size_t length = static_cast<size_t>(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
        out.emplace_back(std::string(png.begin() + static_cast<std::ptrdiff_t>(at + 4), png.begin() + static_cast<std::ptrdiff_t>(at + 8)),
                         bytes(png.begin() + static_cast<std::ptrdiff_t>(at + 8), png.begin() + static_cast<std::ptrdiff_t>(at + 8 + length)));
        at += 12 + length;
    }
    return out;
}

uint32_t be32(const uint8_t *p) { return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// The data of a zlib stream made of stored blocks only (what deflate makes
// of incompressible bytes); fails the test for any other kind of block.
bytes stored_zlib_data(const bytes &z) {
    bytes out;
    size_t at = 2;
    for (bool last = false; !last && at + 5 <= z.size();) {
        last = z[at] & 1;
        EXPECT_EQ(z[at] & 6, 0) << "not a stored block";
        const size_t n = z[at + 1] | z[at + 2] << 8;
        out.insert(out.end(), z.begin() + static_cast<std::ptrdiff_t>(at + 5), z.begin() + static_cast<std::ptrdiff_t>(at + 5 + n));
        at += 5 + n;
    }
    return out;
}

TEST(Orientation, EveryExifOrientationLoadsUpright) {
    // Corners of the upright picture for each orientation: the stored
    // picture mirrored, turned, or both, as the EXIF standard defines them.
    const char *const upright[9] = {"", "RGBW", "GRWB", "WBGR", "BWRG", "RBGW", "BRWG", "WGBR", "GWRB"};
    for (int value = 1; value <= 8; ++value) {
        loaded photo;
        ASSERT_EQ(load(jpeg_with_segments(quadrants(), {orientation_segment(value)}), &photo), IMGTEXT_OK);
        const bool quarter = value >= 5;
        EXPECT_EQ(imgtext_image_width(photo.image), quarter ? 16 : 32) << value;
        EXPECT_EQ(imgtext_image_height(photo.image), quarter ? 32 : 16) << value;
        EXPECT_EQ(photo.corners(), upright[value]) << "orientation " << value;
    }
}

TEST(Orientation, TurnedOffTheStoredPixelsStay) {
    loaded photo;
    ASSERT_EQ(load(jpeg_with_segments(quadrants(), {orientation_segment(6)}), &photo, 0), IMGTEXT_OK);
    EXPECT_EQ(imgtext_image_width(photo.image), 32);
    EXPECT_EQ(photo.corners(), "RGBW");
}

TEST(Orientation, DamagedExifLoadsThePictureUnturned) {
    bytes truncated = orientation_segment(6);
    truncated.resize(truncated.size() - 12);
    truncated[3] = static_cast<uint8_t>(truncated[3] - 12);
    bytes far_directory = orientation_segment(6);
    far_directory[4 + 6 + 4] = 0x7F;  // IFD0 offset 2 GB into a block of 26 bytes
    for (const bytes &segment : {truncated, far_directory, exif_segment({'M', 'M', 0, 42})}) {
        loaded photo;
        ASSERT_EQ(load(jpeg_with_segments(quadrants(), {segment}), &photo), IMGTEXT_OK) << imgtext_error_message();
        EXPECT_EQ(photo.corners(), "RGBW");
    }
}

TEST(Metadata, IccProfileInSeveralSegmentsRoundTripsIntoJpegAndPng) {
    // 150,000 noise bytes: three APP2 segments, spliced in out of order.
    bytes profile(150000);
    std::mt19937 noise(14);
    for (uint8_t &b : profile) b = static_cast<uint8_t>(noise() >> 24);
    const size_t piece = 65519;
    auto part = [&](int n) {
        const size_t from = static_cast<size_t>(n) * piece;
        return bytes(profile.begin() + static_cast<std::ptrdiff_t>(from),
                     profile.begin() + static_cast<std::ptrdiff_t>(std::min(from + piece, profile.size())));
    };
    loaded photo;
    ASSERT_EQ(load(jpeg_with_segments(quadrants(), {icc_segment(2, 3, part(1)), icc_segment(1, 3, part(0)),
                                                    icc_segment(3, 3, part(2))}),
                   &photo),
              IMGTEXT_OK);

    bytes from_jpeg;
    int segments = 0;
    for (const auto &[marker, payload] : jpeg_segments(encode(photo.image, IMGTEXT_FORMAT_JPEG))) {
        if (marker != 0xE2 || std::memcmp(payload.data(), "ICC_PROFILE", 12) != 0) continue;
        EXPECT_EQ(payload[12], ++segments);
        EXPECT_EQ(payload[13], 3);
        from_jpeg.insert(from_jpeg.end(), payload.begin() + 14, payload.end());
    }
    EXPECT_EQ(from_jpeg, profile);

    const auto chunks = png_chunks(encode(photo.image, IMGTEXT_FORMAT_PNG));
    ASSERT_GE(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].first, "IHDR");
    ASSERT_EQ(chunks[1].first, "iCCP");  // before any image data, as PNG requires
    const bytes &iccp = chunks[1].second;
    const size_t name_end = std::string(iccp.begin(), iccp.end()).find('\0');
    ASSERT_LT(name_end, 80u);
    EXPECT_EQ(iccp[name_end + 1], 0);  // zlib
    EXPECT_EQ(stored_zlib_data(bytes(iccp.begin() + static_cast<std::ptrdiff_t>(name_end + 2), iccp.end())), profile);

    // A profile with a piece missing is no profile.
    loaded partial;
    ASSERT_EQ(load(jpeg_with_segments(quadrants(), {icc_segment(1, 3, part(0)), icc_segment(3, 3, part(2))}), &partial),
              IMGTEXT_OK);
    for (const auto &segment : jpeg_segments(encode(partial.image, IMGTEXT_FORMAT_JPEG))) EXPECT_NE(segment.first, 0xE2);
}

TEST(Metadata, ResolutionIsKeptInJpegAndPng) {
    bytes jpeg = jpeg_with_segments(quadrants(), {});
    const uint8_t dpi300[5] = {1, 1, 44, 1, 44};  // JFIF units: per inch, 300 x 300
    std::memcpy(jpeg.data() + 13, dpi300, 5);
    loaded photo;
    ASSERT_EQ(load(jpeg, &photo), IMGTEXT_OK);
    const bytes out = encode(photo.image, IMGTEXT_FORMAT_JPEG);
    EXPECT_EQ(bytes(out.begin() + 13, out.begin() + 18), bytes(dpi300, dpi300 + 5));
    for (const auto &[type, data] : png_chunks(encode(photo.image, IMGTEXT_FORMAT_PNG))) {
        if (type != "pHYs") continue;
        EXPECT_EQ(be32(data.data()), 11811u);  // pixels per metre
        EXPECT_EQ(be32(data.data() + 4), 11811u);
        EXPECT_EQ(data[8], 1);
        return;
    }
    ADD_FAILURE() << "no pHYs chunk";
}

TEST(Metadata, ExifOnlyWhenAskedAndThenUpright) {
    loaded photo;
    ASSERT_EQ(load(jpeg_with_segments(quadrants(), {orientation_segment(6)}), &photo), IMGTEXT_OK);
    auto exif_blocks = [](const bytes &jpeg) {
        std::vector<bytes> found;
        for (const auto &[marker, payload] : jpeg_segments(jpeg))
            if (marker == 0xE1) found.emplace_back(payload.begin() + 6, payload.end());
        return found;
    };
    EXPECT_TRUE(exif_blocks(encode(photo.image, IMGTEXT_FORMAT_JPEG)).empty());
    const auto kept = exif_blocks(encode(photo.image, IMGTEXT_FORMAT_JPEG, 1));
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0], test_support::tiff_block(false, {{0x0112, 3, 1, 1}}));

    loaded unturned;  // not applied, so the orientation stays true to the pixels
    ASSERT_EQ(load(jpeg_with_segments(quadrants(), {orientation_segment(6)}), &unturned, 0), IMGTEXT_OK);
    EXPECT_EQ(exif_blocks(encode(unturned.image, IMGTEXT_FORMAT_JPEG, 1))[0],
              test_support::tiff_block(false, {{0x0112, 3, 1, 6}}));
}

TEST(Metadata, PicturesWithoutMetadataKeepTheSevenCallsBytes) {
    const rgba picture = quadrants();
    bytes profile(300, 7);
    loaded plain, with_profile;
    ASSERT_EQ(load(jpeg_with_segments(picture, {}), &plain), IMGTEXT_OK);
    ASSERT_EQ(load(jpeg_with_segments(picture, {icc_segment(1, 1, profile), orientation_segment(1)}), &with_profile),
              IMGTEXT_OK);
    imgtext_image *copy = nullptr;
    ASSERT_EQ(imgtext_image_copy(imgtext_image_pixels(plain.image), 32, 16, 32 * 4, &copy), IMGTEXT_OK);
    for (const int format : {IMGTEXT_FORMAT_JPEG, IMGTEXT_FORMAT_PNG, IMGTEXT_FORMAT_BMP}) {
        const bytes expected = encode(copy, format);
        EXPECT_EQ(encode(plain.image, format), expected) << format;
        EXPECT_EQ(encode(with_profile.image, format, 1, 1), expected) << format;  // dropped on request
    }
    imgtext_image_free(copy);
}

}  // namespace
