// The EXIF reader on hostile blocks: whatever the bytes, it reads an
// orientation of 1..8 or none, within the block, and never follows links.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "image/metadata.h"
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
    EXPECT_EQ(with(0, {'I', 'M'}), 0);                                         // no byte order
    EXPECT_EQ(with(2, {43, 0}), 0);                                            // not 42
    EXPECT_EQ(with(4, {0xFF, 0xFF, 0xFF, 0xFF}), 0);                           // directory far beyond the block
    EXPECT_EQ(with(4, {static_cast<uint8_t>(block.size() - 1), 0, 0, 0}), 0);  // directory's count cut off
    EXPECT_EQ(with(10 + 12 + 2, {k_long, 0}), 0);                              // orientation not a SHORT
    EXPECT_EQ(with(10 + 12 + 4, {0, 0, 0, 0}), 0);                             // no values
    for (int value : {0, 9, 0xFFFF}) EXPECT_EQ(orientation_of(oriented(value)), 0) << value;
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

TEST(Exif, ResolutionNeedsBothRationalsInsideTheBlockAndAKnownUnit) {
    const uint32_t data = test_support::tiff_data_offset(3);  // 300/1 there, 600/2 after it
    auto read = [&](uint32_t unit, uint32_t y_at, int *u, double *y) {
        const std::vector<uint8_t> b =
            tiff_block(true, {{0x011A, k_rational, 1, data}, {0x011B, k_rational, 1, y_at}, {0x0128, k_short, 1, unit}},
                       {0x2C, 1, 0, 0, 1, 0, 0, 0, 0x58, 2, 0, 0, 2, 0, 0, 0});
        double x = 0;
        return exif_resolution(b.data(), b.size(), u, &x, y) && x == 300.0;
    };
    int unit = 0;
    double y = 0;
    EXPECT_TRUE(read(3, data + 8, &unit, &y) && unit == DENSITY_PER_CM && y == 300.0);
    EXPECT_FALSE(read(1, data + 8, &unit, &y));   // "no unit"
    EXPECT_FALSE(read(2, data + 12, &unit, &y));  // runs past the end
}

}  // namespace
