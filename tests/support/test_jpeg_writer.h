// A small JPEG writer for tests: the variants stb_image_write never writes
// (progressive scan scripts, restart intervals, grey, every sampling),
// valid and varied rather than good. Huffman tables are made for each scan
// from its own symbols, so long codes and DHT segments between scans occur.
#ifndef IMGTEXT_TEST_JPEG_WRITER_H
#define IMGTEXT_TEST_JPEG_WRITER_H

#include <cstdint>
#include <vector>

#include "test_support.h"

namespace test_support {

struct jpeg_scan {
    std::vector<int> components;  // indices into the frame's components
    int ss = 0, se = 63, ah = 0, al = 0;
};

struct jpeg_options {
    int components = 3;                             // 1 (grey) or 3 (YCbCr)
    int sampling[3][2] = {{1, 1}, {1, 1}, {1, 1}};  // h, v of each component (1 or 2)
    int quality = 75;
    int restart_interval = 0;  // in MCUs; 0 for none
    bool progressive = false;
    // Empty: one interleaved scan (baseline), or a typical progressive script.
    std::vector<jpeg_scan> scans;
};

std::vector<uint8_t> write_test_jpeg(const rgba &image, const jpeg_options &options);

// The progressive scripts the tests use (variant 0, 1 or 2): frequency
// bands, DC successive approximation, interleaved and not, and AC
// successive approximation.
std::vector<jpeg_scan> progressive_script(int components, int variant);

}  // namespace test_support

#endif
