// Reading text: code points from UTF-8 (the drawing API), or one per byte
// (the seven calls).
#ifndef IMGTEXT_TEXT_UTF8_H
#define IMGTEXT_TEXT_UTF8_H

namespace imgtext {

// The seven calls read one code point per byte, taken as a signed char (so
// bytes 0x80-0xFF match no glyph) and break lines at LF only; the drawing
// API reads UTF-8 and also takes CR LF as one line break.
enum class text_encoding { bytes, utf8 };

constexpr int k_replacement_character = 0xFFFD;

// Reads the next code point and advances p (never past end, and always by
// at least one byte). In UTF-8 each malformed sequence (its longest
// valid-looking prefix, as Unicode recommends) reads as one U+FFFD; lone
// surrogates are malformed.
int next_codepoint(const char *&p, const char *end, text_encoding encoding);

}  // namespace imgtext

#endif
