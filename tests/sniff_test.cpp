// Guessing the input's format from its first bytes, then its extension.
#include <gtest/gtest.h>

#include <vector>

#include "image.h"

using namespace imgtext;

namespace {

int sniff(const char *path, std::vector<unsigned char> bytes) {
    return sniff_format(path, bytes.data(), static_cast<int>(bytes.size()));
}

TEST(Sniff, SignaturesWinOverTheExtension) {
    EXPECT_EQ(sniff("a.bmp", {0xFF, 0xD8, 0xFF}), FMT_JPG);
    EXPECT_EQ(sniff("a.jpg", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}), FMT_PNG);
    EXPECT_EQ(sniff("a.png", {'B', 'M', 0, 0}), FMT_BMP);
}

TEST(Sniff, OnlyTheFirstBytesAreCompared) {
    // Eight bytes starting 0x89 "PNG" are PNG whatever follows...
    EXPECT_EQ(sniff("a.bmp", {0x89, 'P', 'N', 'G', 0, 0, 0, 0}), FMT_PNG);
    // ...but seven are not, and fall back to the extension.
    EXPECT_EQ(sniff("a.bmp", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A}), FMT_BMP);
}

TEST(Sniff, NearMissesFallBackToTheExtension) {
    EXPECT_EQ(sniff("a.bmp", {0xFF, 0xD9}), FMT_BMP);
    EXPECT_EQ(sniff("a.jpeg", {0x89, 'X', 'N', 'G', 0, 0, 0, 0}), FMT_JPG);
    EXPECT_EQ(sniff("a.gif", {'G', 'I', 'F', '8'}), FMT_PNG);
    EXPECT_EQ(sniff("a.BMP", {'B', 'X'}), FMT_BMP);
}

TEST(Sniff, AOneByteFileUsesTheExtension) {
    EXPECT_EQ(sniff("a.jpg", {0x89}), FMT_JPG);
    EXPECT_EQ(sniff("a.jpg", {'B'}), FMT_JPG);
    EXPECT_EQ(sniff("a", {0xFF}), FMT_PNG);
}

}  // namespace
