// imgtext_draw_file and imgtext_draw_memory against the calls they stand
// for (load, draw each text, save or encode): the same bytes whether the
// picture streams (a baseline JPEG to JPEG) or not (a quarter turn, PNG
// in or out, a rotated text), the same metadata, the same failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "api_support.h"
#include "quendal_imgtext.h"
#include "test_support.h"

using test_support::jpeg_segment;
using test_support::jpeg_with_segments;
using test_support::tiff_block;

namespace {

using bytes = std::vector<uint8_t>;

bytes exif_orientation(int value) {
    bytes segment = {'E', 'x', 'i', 'f', 0, 0};
    const bytes tiff = tiff_block(false, {{0x0112, 3, 1, static_cast<uint32_t>(value)}});
    segment.insert(segment.end(), tiff.begin(), tiff.end());
    return jpeg_segment(0xE1, segment);
}

struct job_set {
    imgtext_text_style style;
    std::vector<imgtext_text_job> jobs;
    explicit job_set(float rotation) {
        imgtext_text_style_init(&style);
        style.size = 30, style.box = 1, style.padding = 4, style.stroke_width = 1.5f, style.rotation = rotation;
        style.color = imgtext_color{255, 200, 0, 220};
        const char *texts[] = {"Watermark", "© 2026"};
        for (int i = 0; i < 2; ++i) {
            imgtext_text_job job;
            imgtext_text_job_init(&job);
            job.text = texts[i], job.length = std::strlen(texts[i]), job.style = &style;
            job.gravity = i, job.position = i ? IMGTEXT_BOTTOM_RIGHT : IMGTEXT_TOP_LEFT;
            job.x = 7, job.y = 33, job.margin = 9;
            jobs.push_back(job);
        }
    }
};

// The calls one by one.
bytes one_by_one(const bytes &input, const job_set &set, const imgtext_save_options &save) {
    imgtext_image *image = nullptr;
    EXPECT_EQ(imgtext_image_load_memory(input.data(), input.size(), nullptr, &image), IMGTEXT_OK);
    for (const imgtext_text_job &j : set.jobs) {
        EXPECT_EQ(j.gravity ? imgtext_draw_text_gravity(image, j.text, j.length, j.position, j.margin, j.style, nullptr)
                            : imgtext_draw_text(image, j.text, j.length, j.x, j.y, j.position, j.style, nullptr),
                  IMGTEXT_OK);
    }
    void *data = nullptr;
    size_t size = 0;
    EXPECT_EQ(imgtext_image_encode(image, &save, &data, &size), IMGTEXT_OK);
    imgtext_image_free(image);
    bytes out(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + size);
    imgtext_free(data);
    return out;
}

bytes in_one_call(const bytes &input, const job_set &set, const imgtext_save_options &save) {
    void *data = nullptr;
    size_t size = 0;
    EXPECT_EQ(
        imgtext_draw_memory(input.data(), input.size(), set.jobs.data(), set.jobs.size(), nullptr, &save, &data, &size),
        IMGTEXT_OK)
        << imgtext_error_message();
    bytes out(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + size);
    imgtext_free(data);
    return out;
}

}  // namespace

TEST(DrawFile, SameBytesAsTheCallsItStandsFor) {
    const test_support::rgba picture = test_support::noise(300, 200);
    const bytes jpeg = jpeg_with_segments(picture, {exif_orientation(1)});
    const bytes turned = jpeg_with_segments(picture, {exif_orientation(6)});
    const bytes png = test_support::reference_png(picture);
    struct case_ {
        const char *name;
        const bytes &input;
        int format, quality, keep_exif;
        float rotation;
    } cases[] = {{"streams", jpeg, IMGTEXT_FORMAT_AUTO, 92, 1, 0},
                 {"streams at q90", jpeg, IMGTEXT_FORMAT_JPEG, 90, 0, 0},
                 {"quarter turn", turned, IMGTEXT_FORMAT_AUTO, 92, 1, 0},
                 {"to PNG", jpeg, IMGTEXT_FORMAT_PNG, 92, 0, 0},
                 {"from PNG", png, IMGTEXT_FORMAT_JPEG, 80, 0, 0},
                 {"rotated", jpeg, IMGTEXT_FORMAT_AUTO, 92, 0, 30}};
    for (const case_ &c : cases) {
        SCOPED_TRACE(c.name);
        const job_set set(c.rotation);
        imgtext_save_options save;
        imgtext_save_options_init(&save);
        save.format = c.format, save.jpeg_quality = c.quality, save.keep_exif = c.keep_exif;
        const bytes expected = one_by_one(c.input, set, save);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(in_one_call(c.input, set, save), expected);
    }
    // A size as a share of the picture's height: known once the header is read.
    {
        job_set set(0);
        set.jobs[0].size_percent = 12.5f;
        job_set sized(0);
        sized.style.size = 200 * 12.5f / 100.0f;
        sized.jobs[0].style = &sized.style;
        sized.jobs[1].style = &set.style;
        imgtext_save_options save;
        imgtext_save_options_init(&save);
        EXPECT_EQ(in_one_call(jpeg, set, save), one_by_one(jpeg, sized, save));
        set.jobs[1].size_percent = -1;
        void *data = nullptr;
        size_t size = 0;
        EXPECT_EQ(imgtext_draw_memory(jpeg.data(), jpeg.size(), set.jobs.data(), 2, nullptr, nullptr, &data, &size),
                  IMGTEXT_ERROR_ARGUMENT);
    }
    // To a file too, with the extension choosing the format.
    const test_support::scratch_dir scratch;
    const std::string dir = scratch.root();
    test_support::write_bytes(dir + "/in.jpg", jpeg);
    const job_set set(0);
    ASSERT_EQ(imgtext_draw_file((dir + "/in.jpg").c_str(), (dir + "/out.jpg").c_str(), set.jobs.data(), set.jobs.size(),
                                nullptr, nullptr),
              IMGTEXT_OK);
    imgtext_save_options save;
    imgtext_save_options_init(&save);
    EXPECT_EQ(test_support::read_bytes(dir + "/out.jpg"), one_by_one(jpeg, set, save));
}

TEST(DrawFile, FailsAsTheCallsWouldAndWritesNothing) {
    const test_support::scratch_dir scratch;
    const std::string dir = scratch.root();
    const std::string out = dir + "/out.jpg";
    const job_set set(0);
    EXPECT_EQ(imgtext_draw_file((dir + "/missing.jpg").c_str(), out.c_str(), set.jobs.data(), 1, nullptr, nullptr),
              IMGTEXT_ERROR_READ);
    const std::string message = imgtext_error_message();
    imgtext_image *image = nullptr;
    EXPECT_EQ(imgtext_image_load((dir + "/missing.jpg").c_str(), nullptr, &image), IMGTEXT_ERROR_READ);
    EXPECT_EQ(message, imgtext_error_message());
    test_support::write_bytes(dir + "/in.jpg", test_support::reference_jpg(test_support::noise(40, 40), 90));
    imgtext_text_job bad = set.jobs[0];
    const int unknown = 99;
    std::memcpy(&bad.position, &unknown, sizeof unknown);
    EXPECT_EQ(imgtext_draw_file((dir + "/in.jpg").c_str(), out.c_str(), &bad, 1, nullptr, nullptr),
              IMGTEXT_ERROR_ARGUMENT);
    EXPECT_STREQ(imgtext_error_message(), "invalid argument: unknown position");
    EXPECT_FALSE(test_support::file_exists(out));
    EXPECT_EQ(imgtext_draw_file((dir + "/in.jpg").c_str(), (dir + "/out.gif").c_str(), nullptr, 0, nullptr, nullptr),
              IMGTEXT_ERROR_ARGUMENT);
    EXPECT_FALSE(test_support::file_exists(dir + "/out.gif"));
}
