"""Writes text_tables.h: the properties the layout reads of a code point
itself, as sorted ranges: Default_Ignorable_Code_Point (characters no font
need have, which a font fallback chain does not ask for) and
Emoji_Presentation.

Usage: gen_text_tables.py <unicode data dir> <output header>
"""

import os
import sys

import ucd

SOURCES = ["DerivedCoreProperties.txt", "emoji-data.txt"]


def ranges_of(path, name):
    found = sorted((first, last) for first, last, fields in ucd.read_records(path) if fields[0] == name)
    merged = []
    for first, last in found:
        if merged and first == merged[-1][1] + 1:
            merged[-1] = (merged[-1][0], last)
        else:
            merged.append((first, last))
    return merged


def range_table(name, ranges, what):
    rows = ",\n".join(f"    {{0x{a:X}, 0x{b:X}}}" for a, b in ranges)
    return (f"// {what}: {len(ranges)} ranges, first and last code point.\n"
            f"inline constexpr char32_t {name}_ranges[][2] = {{\n{rows}}};\n"
            f"inline bool {name}(char32_t c) {{\n"
            f"    unsigned low = 0, high = sizeof {name}_ranges / sizeof {name}_ranges[0];\n"
            f"    while (low < high) {{\n"
            f"        const unsigned mid = (low + high) / 2;\n"
            f"        if (c < {name}_ranges[mid][0]) high = mid;\n"
            f"        else if (c > {name}_ranges[mid][1]) low = mid + 1;\n"
            f"        else return true;\n"
            f"    }}\n"
            f"    return false;\n"
            f"}}\n")


def main():
    data, output = sys.argv[1], sys.argv[2]
    body = "\n".join([
        range_table("default_ignorable", ranges_of(os.path.join(data, "DerivedCoreProperties.txt"),
                                                   "Default_Ignorable_Code_Point"), "Default_Ignorable_Code_Point"),
        range_table("emoji_presentation", ranges_of(os.path.join(data, "emoji-data.txt"), "Emoji_Presentation"),
                    "Emoji_Presentation"),
    ])
    ucd.write_header(output, "IMGTEXT_UNICODE_TEXT_TABLES_H", os.path.basename(__file__), SOURCES,
                     body)


if __name__ == "__main__":
    main()
