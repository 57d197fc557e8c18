"""Writes break_tables.h: the properties line breaking (UAX #14) and grapheme
clusters (UAX #29) read, one byte per code point in each of two tables.

Usage: gen_break_tables.py <unicode data dir> <output header>

The line table holds the Line_Break class already resolved as LB1 does
without tailoring (AI, SG, XX -> AL; SA -> CM for Mn and Mc, else AL;
CJ -> NS), so the rules never see the five classes LB1 removes. The two bits
above the class say what a rule needs beyond it, and only for the classes
that rule reads; keeping them off everywhere else lets more blocks share.
"""

import os
import sys

import ucd

LINE_CLASSES = [
    "BK", "CR", "LF", "NL", "SP", "ZW", "CM", "ZWJ", "WJ", "GL", "BA", "BB", "B2", "HY", "CB", "CL", "CP",
    "EX", "IN", "NS", "OP", "QU", "IS", "NU", "PO", "PR", "SY", "AL", "HL", "ID", "EB", "EM", "H2", "H3",
    "JL", "JV", "JT", "RI", "AK", "AP", "AS", "VF", "VI",
]
LB1 = {"AI": "AL", "SG": "AL", "XX": "AL", "CJ": "NS"}  # SA depends on the category

GRAPHEME_CLASSES = [
    "Other", "CR", "LF", "Control", "Extend", "ZWJ", "Regional_Indicator", "Prepend", "SpacingMark",
    "L", "V", "T", "LV", "LVT",
]
GRAPHEME_NAMES = {"Regional_Indicator": "regional_indicator", "SpacingMark": "spacing_mark"}
INCB_VALUES = ["None", "Linker", "Consonant", "Extend"]

# The detail bits: (constant, bit, the classes it qualifies, what it says,
# its test on a code point's properties).
DETAILS = [
    ("lb_east_asian", 0x40, ("OP", "CP"), "East_Asian_Width F, W or H (LB30)",
     lambda p: p["ea"] in ("F", "W", "H")),
    ("lb_initial_quote", 0x40, ("QU",), "General_Category Pi (LB15a)", lambda p: p["gc"] == "Pi"),
    ("lb_final_quote", 0x80, ("QU",), "General_Category Pf (LB15b)", lambda p: p["gc"] == "Pf"),
    ("lb_unassigned_pictographic", 0x40, ("ID",), "unassigned and Extended_Pictographic (LB30b)",
     lambda p: p["gc"] == "Cn" and p["pict"]),
    ("lb_dotted_circle", 0x40, ("AL",), "U+25CC DOTTED CIRCLE (LB28a)", lambda p: p["cp"] == 0x25CC),
]

SOURCES = ["LineBreak.txt", "EastAsianWidth.txt", "DerivedGeneralCategory.txt", "emoji-data.txt",
           "GraphemeBreakProperty.txt", "DerivedCoreProperties.txt"]


def with_missing(path, field=0, accept=None):
    """Property values with the file's @missing lines for unlisted code points."""
    defaults = ucd.missing_defaults(path)
    values = ucd.property_values(path, None, field, accept)
    fill = [None] * ucd.CODE_POINTS
    for first, last, value in defaults:
        fill[first:last + 1] = [value] * (last - first + 1)
    return [v if v is not None else fill[cp] for cp, v in enumerate(values)]


def line_codes(data):
    lb = with_missing(os.path.join(data, "LineBreak.txt"))
    ea = with_missing(os.path.join(data, "EastAsianWidth.txt"))
    gc = ucd.property_values(os.path.join(data, "DerivedGeneralCategory.txt"), "Cn")
    pict = ucd.property_values(os.path.join(data, "emoji-data.txt"), False,
                               accept=lambda f: f[0] == "Extended_Pictographic")
    index = {name: i for i, name in enumerate(LINE_CLASSES)}
    codes = []
    for cp in range(ucd.CODE_POINTS):
        cls = lb[cp]
        if cls is None:
            raise SystemExit(f"LineBreak.txt gives U+{cp:04X} no class")
        if cls == "SA":
            cls = "CM" if gc[cp] in ("Mn", "Mc") else "AL"
        cls = LB1.get(cls, cls)
        code = index[cls]
        props = {"cp": cp, "ea": ea[cp], "gc": gc[cp], "pict": bool(pict[cp])}
        for _, bit, owners, _, test in DETAILS:
            if cls in owners and test(props):
                code |= bit
        # LB30b reads the unassigned pictographs as ID: a data file that
        # gave them another class would need the bit there too.
        if gc[cp] == "Cn" and pict[cp] and cls != "ID":
            raise SystemExit(f"unassigned pictograph U+{cp:04X} is {cls}, not ID")
        codes.append(code)
    return codes


def grapheme_codes(data):
    gcb = with_missing(os.path.join(data, "GraphemeBreakProperty.txt"))
    # The file's @missing line for InCB names the property before the value
    # ("InCB; None"), so its default is spelled out here.
    incb = ucd.property_values(os.path.join(data, "DerivedCoreProperties.txt"), "None", field=1,
                               accept=lambda f: f[0] == "InCB")
    pict = ucd.property_values(os.path.join(data, "emoji-data.txt"), False,
                               accept=lambda f: f[0] == "Extended_Pictographic")
    gcb_index = {name: i for i, name in enumerate(GRAPHEME_CLASSES)}
    incb_index = {name: i for i, name in enumerate(INCB_VALUES)}
    return [gcb_index[gcb[cp]] | incb_index[incb[cp]] << 4 | (0x40 if pict[cp] else 0)
            for cp in range(ucd.CODE_POINTS)]


def body(data):
    out = ["// Line_Break classes as the rules see them, after LB1 (AI, SG, XX, SA and CJ resolved).\n",
           ucd.enum_class("line_break_class", [c.lower() for c in LINE_CLASSES]), "\n",
           "// line_break_properties(c): the class in the low six bits, and above it\n"
           "// what a rule reads beyond the class, set only on the class named.\n",
           "inline constexpr uint8_t lb_class_mask = 0x3F;\n"]
    for name, bit, owners, meaning, _ in DETAILS:
        out.append(f"inline constexpr uint8_t {name} = 0x{bit:02X};  // {', '.join(owners)}: {meaning}\n")
    out += ["\n", ucd.two_stage_table("line_break_properties", line_codes(data)), "\n",
            "// Grapheme_Cluster_Break values.\n",
            ucd.enum_class("grapheme_break", [GRAPHEME_NAMES.get(c, c.lower()) for c in GRAPHEME_CLASSES]), "\n",
            "// Indic_Conjunct_Break values.\n",
            ucd.enum_class("indic_conjunct_break", [v.lower() for v in INCB_VALUES]), "\n",
            "// grapheme_properties(c): Grapheme_Cluster_Break in bits 0-3,\n"
            "// Indic_Conjunct_Break in bits 4-5, Extended_Pictographic in bit 6.\n",
            "inline constexpr uint8_t gb_break_mask = 0x0F;\n",
            "inline constexpr unsigned gb_conjunct_shift = 4;\n",
            "inline constexpr uint8_t gb_pictographic = 0x40;\n\n",
            ucd.two_stage_table("grapheme_properties", grapheme_codes(data))]
    return "".join(out)


def main():
    data, output = sys.argv[1], sys.argv[2]
    ucd.write_header(output, "IMGTEXT_UNICODE_BREAK_TABLES_H", os.path.basename(__file__), SOURCES, body(data))


if __name__ == "__main__":
    main()
