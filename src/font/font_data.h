// The Caladea Regular font file, byte for byte, generated at build time from
// the pinned font by embed_font.cmake.
#ifndef IMGTEXT_FONT_DATA_H
#define IMGTEXT_FONT_DATA_H

namespace imgtext {

constexpr unsigned k_font_data_size = 58964;
extern const unsigned char s_font_data[k_font_data_size];

}  // namespace imgtext

#endif
