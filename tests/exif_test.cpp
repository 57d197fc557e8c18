// The EXIF reader on hostile blocks: whatever the bytes, it reads an
// orientation of 1..8 or none, within the block, and never follows links.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "image_metadata.h"
#include "test_support.h"

using namespace imgtext;
using test_support::tiff_block;
using test_support::tiff_entry;

namespace {

constexpr uint16_t k_short = 3, k_long = 4, k_rational = 5;

int orientation_of(const std::vector<uint8_t> &block) { return exif_orientation(block.data(), block.size()); }

std::vector<uint8_t> oriented(int value, bool little = true) {
    // The orientation after another entry, as cameras write it.
    return tiff_block(little, {{0x010F, 2, 4, 0}, {0x0112, k_short, 1, static_cast<uint32_t>(value)}});
}

TEST(Exif, ReadsTheOrientationInEitherByteOrder) {
    for (int value = 1; value <= 8; ++value) {
        EXPECT_EQ(orientation_of(oriented(value, true)), value);
        EXPECT_EQ(orientation_of(oriented(value, false)), value);
    }
}

TEST(Exif, EveryTruncationReadsAsNoneUnlessTheWholeEntryIsThere) {
    const std::vector<uint8_t> block = oriented(6);
    const size_t entry_end = 8 + 2 + 2 * 12;
    for (size_t n = 0; n < block.size(); ++n) {
        const std::vector<uint8_t> cut(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(orientation_of(cut), n >= entry_end ? 6 : 0) << n << " bytes";
    }
}

TEST(Exif, DamagedDirectoriesReadAsNone) {
    std::vector<uint8_t> block = oriented(6);
    auto with = [&](size_t at, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> damaged = block;
        std::copy(bytes.begin(), bytes.end(), damaged.begin() + static_cast<std::ptrdiff_t>(at));
        return orientation_of(damaged);
    };
    EXPECT_EQ(with(0, {'I', 'M'}), 0);                // no byte order
    EXPECT_EQ(with(2, {43, 0}), 0);                   // not 42
    EXPECT_EQ(with(4, {0xFF, 0xFF, 0xFF, 0xFF}), 0);  // directory far beyond the block
    EXPECT_EQ(with(4, {static_cast<uint8_t>(block.size() - 1), 0, 0, 0}), 0);  // directory's count cut off
    EXPECT_EQ(with(10 + 12 + 2, {k_long, 0}), 0);     // orientation not a SHORT
    EXPECT_EQ(with(10 + 12 + 4, {0, 0, 0, 0}), 0);    // no values
    EXPECT_EQ(orientation_of(oriented(0)), 0);
    EXPECT_EQ(orientation_of(oriented(9)), 0);
    EXPECT_EQ(orientation_of(oriented(0xFFFF)), 0);
    // A count of 65535 entries is read only as far as the block goes.
    EXPECT_EQ(with(8, {0xFF, 0xFF}), 6);
    EXPECT_EQ(exif_orientation(nullptr, 0), 0);
}

TEST(Exif, LinkedDirectoriesAreNeverFollowed) {
    // IFD0 links to itself: a reader that walked the chain would never end.
    std::vector<uint8_t> block = tiff_block(true, {{0x0100, k_short, 1, 64}});
    block[8 + 2 + 12] = 8;
    EXPECT_EQ(orientation_of(block), 0);
    block = oriented(3);
    block[8 + 2 + 24] = 8;
    EXPECT_EQ(orientation_of(block), 3);
}

TEST(Exif, ResettingTheOrientationChangesOnlyItsValue) {
    for (const bool little : {true, false}) {
        std::vector<uint8_t> block = oriented(8, little);
        const std::vector<uint8_t> before = block;
        ASSERT_TRUE(exif_set_orientation(block.data(), block.size(), 1));
        EXPECT_EQ(orientation_of(block), 1);
        size_t changed = 0;
        for (size_t i = 0; i < block.size(); ++i) changed += block[i] != before[i];
        EXPECT_EQ(changed, 1u);
    }
    std::vector<uint8_t> none = tiff_block(true, {});
    EXPECT_FALSE(exif_set_orientation(none.data(), none.size(), 1));
}

TEST(Exif, ResolutionNeedsBothRationalsAndAKnownUnit) {
    const uint32_t data = test_support::tiff_data_offset(3);
    const std::vector<uint8_t> rationals = {0x2C, 1, 0, 0, 1, 0, 0, 0, 0x58, 2, 0, 0, 2, 0, 0, 0};  // 300/1, 600/2
    auto block = [&](uint32_t unit, uint32_t y_offset) {
        return tiff_block(true, {{0x011A, k_rational, 1, data}, {0x011B, k_rational, 1, y_offset}, {0x0128, k_short, 1, unit}},
                          rationals);
    };
    int unit = 0;
    double x = 0, y = 0;
    std::vector<uint8_t> b = block(3, data + 8);
    ASSERT_TRUE(exif_resolution(b.data(), b.size(), &unit, &x, &y));
    EXPECT_EQ(unit, DENSITY_PER_CM);
    EXPECT_EQ(x, 300.0);
    EXPECT_EQ(y, 300.0);
    b = block(1, data + 8);  // "no unit"
    EXPECT_FALSE(exif_resolution(b.data(), b.size(), &unit, &x, &y));
    b = block(2, data + 12);  // the rational runs past the end
    EXPECT_FALSE(exif_resolution(b.data(), b.size(), &unit, &x, &y));
}

}  // namespace
