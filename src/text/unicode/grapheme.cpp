// UAX #29 extended grapheme clusters: the pair rules plus a few flags of
// look-behind (emoji ZWJ sequences, regional indicator pairs, Indic conjuncts).
#include "text/unicode/grapheme.h"

#include "unicode/break_tables.h"

namespace imgtext::unicode {
namespace {

using gb = grapheme_break;
using incb = indic_conjunct_break;

// GB9c: how far the text before the boundary is into Consonant [Extend Linker]* Linker [Extend Linker]*.
enum class conjunct_state : uint8_t {
    outside,
    consonant,  // a consonant, then extenders only
    linked,     // a consonant, then extenders and at least one linker
};

struct grapheme_state {
    gb last = gb::other;                                // the character before the boundary
    bool pictographic_zwj = false;                      // it is a ZWJ after Extended_Pictographic Extend* (GB11)
    bool in_pictographic = false;                       // Extended_Pictographic Extend* ends before the boundary
    bool odd_regional = false;                          // it is the first, third, ... RI of a run (GB12, GB13)
    conjunct_state conjunct = conjunct_state::outside;  // GB9c
};

constexpr unsigned bit(gb c) { return 1u << static_cast<unsigned>(c); }

template <typename... Values>
constexpr unsigned values(Values... c) {
    return (bit(c) | ...);
}

constexpr bool in(gb c, unsigned set) { return (bit(c) & set) != 0; }

bool boundary(const grapheme_state &s, gb right, uint8_t properties) {
    const gb left = s.last;
    if (left == gb::cr && right == gb::lf) return false;                                   // GB3
    if (in(left, values(gb::control, gb::cr, gb::lf))) return true;                        // GB4
    if (in(right, values(gb::control, gb::cr, gb::lf))) return true;                       // GB5
    if (left == gb::l && in(right, values(gb::l, gb::v, gb::lv, gb::lvt))) return false;   // GB6
    if (in(left, values(gb::lv, gb::v)) && in(right, values(gb::v, gb::t))) return false;  // GB7
    if (in(left, values(gb::lvt, gb::t)) && right == gb::t) return false;                  // GB8
    if (in(right, values(gb::extend, gb::zwj, gb::spacing_mark))) return false;            // GB9, GB9a
    if (left == gb::prepend) return false;                                                 // GB9b
    const auto conjunct = static_cast<incb>(properties >> gb_conjunct_shift & 3);
    if (s.conjunct == conjunct_state::linked && conjunct == incb::consonant) return false;  // GB9c
    if (s.pictographic_zwj && (properties & gb_pictographic)) return false;                 // GB11
    if (left == gb::regional_indicator && right == gb::regional_indicator && s.odd_regional)
        return false;  // GB12, GB13
    return true;       // GB999
}

void advance(grapheme_state &s, gb cls, uint8_t properties) {
    const bool pictographic = properties & gb_pictographic;
    s.pictographic_zwj = cls == gb::zwj && s.in_pictographic;
    s.in_pictographic = pictographic || (cls == gb::extend && s.in_pictographic);
    s.odd_regional = cls == gb::regional_indicator && !(s.last == gb::regional_indicator && s.odd_regional);
    const auto conjunct = static_cast<incb>(properties >> gb_conjunct_shift & 3);
    if (conjunct == incb::consonant) {
        s.conjunct = conjunct_state::consonant;
    } else if (s.conjunct != conjunct_state::outside && conjunct == incb::linker) {
        s.conjunct = conjunct_state::linked;
    } else if (conjunct != incb::extend) {
        s.conjunct = conjunct_state::outside;
    }
    s.last = cls;
}

}  // namespace

void grapheme_boundaries(const char32_t *text, size_t count, bool *boundaries) {
    boundaries[0] = count > 0;  // GB1
    if (count == 0) return;
    grapheme_state s;
    for (size_t i = 0; i < count; ++i) {
        // Printable ASCII starts a cluster after anything but Prepend (GB9b):
        // no other rule keeps it, and it leaves no state behind.
        if (text[i] - U' ' < 0x5F && s.last != gb::prepend) {
            if (i > 0) boundaries[i] = true;
            s = grapheme_state{};
            continue;
        }
        const uint8_t properties = grapheme_properties(text[i]);
        const auto cls = static_cast<gb>(properties & gb_break_mask);
        if (i > 0) boundaries[i] = boundary(s, cls, properties);
        advance(s, cls, properties);
    }
    boundaries[count] = true;  // GB2
}

}  // namespace imgtext::unicode
