// Decoding UTF-8 and the seven calls' bytes into code points.
#include "text/utf8.h"

namespace imgtext {

namespace {

int next_utf8(const char *&p, const char *end) {
    const auto lead = static_cast<unsigned char>(*p++);
    if (lead < 0x80) return lead;
    int need = 0, cp = 0;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2, cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3, cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return k_replacement_character;
    }
    for (int i = 0; i < need; ++i, low = 0x80, high = 0xBF) {
        if (p == end) return k_replacement_character;
        const auto b = static_cast<unsigned char>(*p);
        if (b < low || b > high) return k_replacement_character;
        cp = (cp << 6) | (b & 0x3F);
        ++p;
    }
    return cp;
}

}  // namespace

int next_codepoint(const char *&p, const char *end, text_encoding encoding) {
    if (encoding == text_encoding::bytes) return static_cast<signed char>(*p++);
    return next_utf8(p, end);
}

}  // namespace imgtext
