// The format a name and an input's first bytes select, at the level of the
// two functions that decide it.
#include <gtest/gtest.h>

#include <vector>

#include "image/image_io.h"

using namespace imgtext;

namespace {

// format_from_path: the extension, folded to lower case, else the fallback.
TEST(FormatChoice, ByTheOutputNameElseTheFallback) {
    const struct {
        const char *path;
        int fallback, expected;
    } rows[] = {{"out.PNG", FMT_JPG, FMT_PNG},  {"out.jpeg", FMT_PNG, FMT_JPG}, {"x.Jpeg", FMT_PNG, FMT_JPG},
                {"x.JPG", FMT_PNG, FMT_JPG},    {"out.bmp", FMT_PNG, FMT_BMP},  {"x.png/out.jpg", FMT_PNG, FMT_JPG},
                {"out.webp", FMT_BMP, FMT_BMP}, {"out", FMT_BMP, FMT_BMP},      {"x.jpe", FMT_BMP, FMT_BMP},
                {"x.tif", FMT_BMP, FMT_BMP},    {"png", FMT_BMP, FMT_BMP},      {"", FMT_BMP, FMT_BMP},
                {nullptr, FMT_JPG, FMT_JPG}};
    for (const auto &row : rows) EXPECT_EQ(format_from_path(row.path, row.fallback), row.expected) << row.path;
}

// sniff_format: a signature in the first bytes wins over the extension; only
// the first bytes are compared, and near misses fall back to the extension
// (PNG if none).
TEST(FormatChoice, ByTheInputsFirstBytesElseItsExtension) {
    const struct {
        const char *path;
        std::vector<unsigned char> bytes;
        int expected;
    } rows[] = {
        {"a.bmp", {0xFF, 0xD8, 0xFF}, FMT_JPG},
        {"a.jpg", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, FMT_PNG},
        {"a.png", {'B', 'M', 0, 0}, FMT_BMP},
        {"a.bmp", {0x89, 'P', 'N', 'G', 0, 0, 0, 0}, FMT_PNG},        // eight bytes starting 0x89 "PNG"...
        {"a.bmp", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A}, FMT_BMP},  // ...but not seven
        {"a.bmp", {0xFF, 0xD9}, FMT_BMP},
        {"a.jpeg", {0x89, 'X', 'N', 'G', 0, 0, 0, 0}, FMT_JPG},
        {"a.gif", {'G', 'I', 'F', '8'}, FMT_PNG},
        {"a.BMP", {'B', 'X'}, FMT_BMP},
        {"a.jpg", {0x89}, FMT_JPG},  // a one-byte file goes by its extension
        {"a.jpg", {'B'}, FMT_JPG},
        {"a", {0xFF}, FMT_PNG},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(sniff_format(row.path, row.bytes.data(), static_cast<int>(row.bytes.size())), row.expected)
            << row.path << " " << row.bytes.size() << " bytes";
    }
}

TEST(FormatChoice, FoldingSetsBit0x20SoSomePunctuationPairsMatch) {
    EXPECT_EQ(str_ends_with_nocase("a@", "`"), 1);
    EXPECT_EQ(str_ends_with_nocase("ab", "abc"), 0);
    EXPECT_EQ(str_ends_with_nocase("abc", ""), 1);
}

}  // namespace
