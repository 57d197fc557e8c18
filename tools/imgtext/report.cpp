// JSON strings for the tool's --report.
#include "report.h"

#include <cstdio>

std::string json_string(const std::string &text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            if (lead == '"' || lead == '\\') {
                out += '\\', out += static_cast<char>(lead);
            } else if (lead < 0x20 || lead == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", lead);
                out += escaped;
            } else {
                out += static_cast<char>(lead);
            }
            ++i;
            continue;
        }
        // The sequence's length from its lead byte, then whether its
        // continuation bytes, and the code point they make, are valid.
        const size_t extra = (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : 0;
        bool valid = extra > 0 && i + extra < text.size();
        char32_t cp = extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
        for (size_t k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            cp = (cp << 6) | (next & 0x3F);
        }
        const char32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (!valid || cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += "\xEF\xBF\xBD";  // U+FFFD
            ++i;
            continue;
        }
        out.append(text, i, extra + 1);
        i += extra + 1;
    }
    return out + "\"";
}
