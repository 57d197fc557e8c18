"""Writes bidi_tables.h: the bidi class of every code point, the paired
brackets and the mirroring glyphs, for src/text/unicode/bidi.cpp.

Usage: gen_bidi_tables.py <unicode data dir> <output header>
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ucd  # noqa: E402

# The order of imgtext::unicode::bidi_class in bidi.h; bidi.cpp checks the
# generated enum member by member against it.
CLASSES = ["L", "R", "AL", "EN", "ES", "ET", "AN", "CS", "NSM", "BN", "B", "S", "WS", "ON",
           "LRE", "LRO", "RLE", "RLO", "PDF", "LRI", "RLI", "FSI", "PDI"]

# The @missing lines give long value names, the data lines short ones.
LONG_NAMES = {
    "Left_To_Right": "L", "Right_To_Left": "R", "Arabic_Letter": "AL", "European_Number": "EN",
    "European_Separator": "ES", "European_Terminator": "ET", "Arabic_Number": "AN",
    "Common_Separator": "CS", "Nonspacing_Mark": "NSM", "Boundary_Neutral": "BN",
    "Paragraph_Separator": "B", "Segment_Separator": "S", "White_Space": "WS", "Other_Neutral": "ON",
    "Left_To_Right_Embedding": "LRE", "Left_To_Right_Override": "LRO", "Right_To_Left_Embedding": "RLE",
    "Right_To_Left_Override": "RLO", "Pop_Directional_Format": "PDF", "Left_To_Right_Isolate": "LRI",
    "Right_To_Left_Isolate": "RLI", "First_Strong_Isolate": "FSI", "Pop_Directional_Isolate": "PDI",
}


def short_name(value):
    value = LONG_NAMES.get(value, value)
    if value not in CLASSES:
        raise SystemExit(f"gen_bidi_tables.py: unknown bidi class {value!r}")
    return value


def bidi_classes(data_dir):
    """The class index of every code point: the listed value, else the
    unlisted range's @missing default (later lines override earlier)."""
    path = os.path.join(data_dir, "DerivedBidiClass.txt")
    defaults = [None] * ucd.CODE_POINTS
    for first, last, value in ucd.missing_defaults(path):
        defaults[first:last + 1] = [short_name(value)] * (last - first + 1)
    if None in defaults:
        raise SystemExit("gen_bidi_tables.py: the @missing lines leave code points without a class")
    listed = ucd.property_values(path, None)
    index = {name: i for i, name in enumerate(CLASSES)}
    return [index[short_name(v)] if v is not None else index[d] for v, d in zip(listed, defaults)]


def brackets(data_dir):
    """(code point, paired bracket, is opening) sorted by code point."""
    found = []
    for first, last, fields in ucd.read_records(os.path.join(data_dir, "BidiBrackets.txt")):
        if first != last or fields[1] not in ("o", "c"):
            raise SystemExit(f"gen_bidi_tables.py: unexpected BidiBrackets record at {first:04X}")
        found.append((first, int(fields[0], 16), fields[1] == "o"))
    found.sort()
    pairs = {cp: (pair, opening) for cp, pair, opening in found}
    for cp, pair, opening in found:  # each bracket's partner names it back, with the other type
        if pairs.get(pair, (None, None))[0] != cp or pairs[pair][1] == opening:
            raise SystemExit(f"gen_bidi_tables.py: bracket {cp:04X} and {pair:04X} do not pair")
    return found


def mirrors(data_dir):
    """(code point, mirroring glyph) sorted by code point."""
    found = [(first, int(fields[0], 16))
             for first, last, fields in ucd.read_records(os.path.join(data_dir, "BidiMirroring.txt"))]
    return sorted(found)


def main():
    data_dir, output = sys.argv[1], sys.argv[2]
    classes = bidi_classes(data_dir)
    bracket_rows = ",\n".join(f"    {{0x{cp:04X}, 0x{pair:04X}, {'true' if opening else 'false'}}}"
                              for cp, pair, opening in brackets(data_dir))
    mirror_rows = ",\n".join(f"    {{0x{cp:04X}, 0x{glyph:04X}}}" for cp, glyph in mirrors(data_dir))
    body = (
        ucd.enum_class("bidi_class_id", CLASSES)
        + f"inline constexpr int bidi_class_id_count = {len(CLASSES)};\n\n"
        + "// Bidi_Class, as a bidi_class_id, of every code point.\n"
        + ucd.two_stage_table("bidi_class_table", classes)
        + "\n// Bidi_Paired_Bracket and Bidi_Paired_Bracket_Type, sorted by code point.\n"
        + "struct bidi_bracket_entry {\n    char32_t code;\n    char32_t pair;\n    bool opening;\n};\n"
        + f"inline constexpr bidi_bracket_entry bidi_brackets[] = {{\n{bracket_rows}}};\n"
        + "\n// Bidi_Mirroring_Glyph, sorted by code point.\n"
        + "struct bidi_mirror_entry {\n    char32_t code;\n    char32_t glyph;\n};\n"
        + f"inline constexpr bidi_mirror_entry bidi_mirrors[] = {{\n{mirror_rows}}};\n"
    )
    ucd.write_header(output, "IMGTEXT_GENERATED_UNICODE_BIDI_TABLES_H", "src/text/unicode/gen_bidi_tables.py",
                     ["DerivedBidiClass.txt", "BidiBrackets.txt", "BidiMirroring.txt"], body)


if __name__ == "__main__":
    main()
