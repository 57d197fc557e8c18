// UAX #14 line breaking: the default rules as one pass over the text, with a
// few units of look-behind and a look-ahead over combining marks.
#include "text/unicode/line_break.h"

#include "unicode/break_tables.h"

namespace imgtext::unicode {
namespace {

using lb = line_break_class;

// Before the first character and after the last: members of no class, named
// by the rules that mention sot and eot.
constexpr lb k_sot = static_cast<lb>(62);
constexpr lb k_eot = static_cast<lb>(63);

constexpr uint64_t bit(lb c) { return uint64_t{1} << static_cast<unsigned>(c); }

template <typename... Classes>
constexpr uint64_t classes(Classes... c) {
    return (bit(c) | ...);
}

constexpr bool in(lb c, uint64_t set) { return (bit(c) & set) != 0; }

constexpr uint64_t k_hard_breaks = classes(lb::bk, lb::cr, lb::lf, lb::nl);
constexpr uint64_t k_marks = classes(lb::cm, lb::zwj);
// LB9: what combining marks do not attach to.
constexpr uint64_t k_no_marks = k_hard_breaks | classes(k_sot, lb::sp, lb::zw);
constexpr uint64_t k_letters = classes(lb::al, lb::hl);
constexpr uint64_t k_hangul = classes(lb::jl, lb::jv, lb::jt, lb::h2, lb::h3);
// LB15a: what may come before an opening quote.
constexpr uint64_t k_before_open_quote = k_hard_breaks | classes(k_sot, lb::op, lb::qu, lb::gl, lb::sp, lb::zw);
// LB15b: what may follow a closing quote that does not break before it.
constexpr uint64_t k_after_close_quote =
    k_hard_breaks | classes(lb::sp, lb::gl, lb::wj, lb::cl, lb::qu, lb::cp, lb::ex, lb::is, lb::sy, lb::zw, k_eot);

// What the units before a unit made of it: the rules with a context longer
// than a pair read these instead of looking back.
enum context_flag : uint8_t {
    opens_quote = 1,         // QU Pi after one of k_before_open_quote (LB15a)
    after_hebrew = 2,        // HY or BA right after HL (LB21a)
    vowel_after_aksara = 4,  // VI right after AK, U+25CC or AS (LB28a)
    odd_regional = 8,        // the first, third, ... RI of a run (LB30a)
    in_number = 16,          // part of NU (NU | SY | IS)* (LB25)
    closes_number = 32,      // CL or CP right after such a number (LB25)
};

// A character with the combining marks LB9 attaches to it.
struct unit {
    lb cls;
    uint8_t detail;   // the table's bits above the class
    uint8_t context;  // context_flag bits
};

struct line_state {
    unit last{k_sot, 0, 0};           // the unit before the boundary
    unit before_spaces{k_sot, 0, 0};  // the last unit that is not SP
    bool after_zwj = false;           // the character before the boundary is ZWJ (LB8a)
};

lb class_of(uint8_t properties) { return static_cast<lb>(properties & lb_class_mask); }

bool is_aksara(const unit &u) {
    return u.cls == lb::ak || u.cls == lb::as || (u.cls == lb::al && (u.detail & lb_dotted_circle));
}

// The class of the unit after the one text[i] starts: the next character
// that is not a combining mark (text[i] takes those, LB9), or eot.
lb class_after(const char32_t *text, size_t count, size_t i) {
    for (size_t j = i + 1; j < count; ++j) {
        const lb c = class_of(line_break_properties(text[j]));
        if (!in(c, k_marks)) return c;
    }
    return k_eot;
}

// The unit a character starts after `last`, with its context flags.
unit start_unit(const unit &last, lb cls, uint8_t detail) {
    unit u{cls, detail, 0};
    if (cls == lb::qu && (detail & lb_initial_quote) && in(last.cls, k_before_open_quote)) u.context |= opens_quote;
    if ((cls == lb::hy || cls == lb::ba) && last.cls == lb::hl) u.context |= after_hebrew;
    if (cls == lb::vi && is_aksara(last)) u.context |= vowel_after_aksara;
    if (cls == lb::ri && !(last.cls == lb::ri && (last.context & odd_regional))) u.context |= odd_regional;
    if (cls == lb::nu || (in(cls, classes(lb::sy, lb::is)) && (last.context & in_number))) u.context |= in_number;
    if (in(cls, classes(lb::cl, lb::cp)) && (last.context & in_number)) u.context |= closes_number;
    return u;
}

// LB4-LB8: the rules that come before combining marks are attached, read on
// the characters as they are. Returns false when none of them applies.
bool hard_rules(const line_state &s, lb right, break_kind &result) {
    const lb left = s.last.cls;
    if (left == lb::bk || left == lb::lf || left == lb::nl || (left == lb::cr && right != lb::lf)) {
        result = break_kind::mandatory;  // LB4, LB5
    } else if (left == lb::cr || in(right, k_hard_breaks | classes(lb::sp, lb::zw))) {
        result = break_kind::none;  // LB5 CR x LF, LB6, LB7
    } else if (left == lb::zw || (left == lb::sp && s.before_spaces.cls == lb::zw)) {
        result = break_kind::allowed;  // LB8
    } else if (s.after_zwj) {
        result = break_kind::none;  // LB8a
    } else {
        return false;
    }
    return true;
}

// LB11-LB31 between the unit before the boundary and `right`, the class of
// the unit text[i] starts (a lone combining mark already AL, LB10).
break_kind pair_rules(const line_state &s, unit right, const char32_t *text, size_t count, size_t i) {
    const unit &l = s.last;
    const lb L = l.cls, R = right.cls;
    const lb before_spaces = s.before_spaces.cls;
    if (L == lb::wj || R == lb::wj || L == lb::gl) return break_kind::none;               // LB11, LB12
    if (R == lb::gl && !in(L, classes(lb::sp, lb::ba, lb::hy))) return break_kind::none;  // LB12a
    if (in(R, classes(lb::cl, lb::cp, lb::ex, lb::is, lb::sy))) return break_kind::none;  // LB13
    if (before_spaces == lb::op) return break_kind::none;                                 // LB14
    if (s.before_spaces.context & opens_quote) return break_kind::none;                   // LB15a
    if (R == lb::qu && (right.detail & lb_final_quote) && in(class_after(text, count, i), k_after_close_quote))
        return break_kind::none;                                                                          // LB15b
    if (R == lb::ns && in(before_spaces, classes(lb::cl, lb::cp))) return break_kind::none;               // LB16
    if (R == lb::b2 && before_spaces == lb::b2) return break_kind::none;                                  // LB17
    if (L == lb::sp) return break_kind::allowed;                                                          // LB18
    if (L == lb::qu || R == lb::qu) return break_kind::none;                                              // LB19
    if (L == lb::cb || R == lb::cb) return break_kind::allowed;                                           // LB20
    if (in(R, classes(lb::ba, lb::hy, lb::ns)) || L == lb::bb) return break_kind::none;                   // LB21
    if (l.context & after_hebrew) return break_kind::none;                                                // LB21a
    if (L == lb::sy && R == lb::hl) return break_kind::none;                                              // LB21b
    if (R == lb::in) return break_kind::none;                                                             // LB22
    if ((in(L, k_letters) && R == lb::nu) || (L == lb::nu && in(R, k_letters))) return break_kind::none;  // LB23
    const uint64_t ideographic = classes(lb::id, lb::eb, lb::em);
    if ((L == lb::pr && in(R, ideographic)) || (in(L, ideographic) && R == lb::po)) return break_kind::none;  // LB23a
    const uint64_t affixes = classes(lb::pr, lb::po);
    if ((in(L, affixes) && in(R, k_letters)) || (in(L, k_letters) && in(R, affixes))) return break_kind::none;  // LB24
    // LB25: (PR|PO)? (OP|HY)? NU (NU|SY|IS)* (CL|CP)? (PR|PO)? holds together.
    if (in(L, affixes) && (R == lb::nu || (in(R, classes(lb::op, lb::hy)) && class_after(text, count, i) == lb::nu)))
        return break_kind::none;
    if (in(L, classes(lb::op, lb::hy)) && R == lb::nu) return break_kind::none;
    if ((l.context & in_number) && in(R, classes(lb::nu, lb::sy, lb::is, lb::cl, lb::cp))) return break_kind::none;
    if ((l.context & (in_number | closes_number)) && in(R, affixes)) return break_kind::none;
    if ((L == lb::jl && in(R, classes(lb::jl, lb::jv, lb::h2, lb::h3))) ||
        (in(L, classes(lb::jv, lb::h2)) && in(R, classes(lb::jv, lb::jt))) ||
        (in(L, classes(lb::jt, lb::h3)) && R == lb::jt))
        return break_kind::none;                                                                        // LB26
    if ((in(L, k_hangul) && R == lb::po) || (L == lb::pr && in(R, k_hangul))) return break_kind::none;  // LB27
    if (in(L, k_letters) && in(R, k_letters)) return break_kind::none;                                  // LB28
    // LB28a: Brahmic orthographic syllables.
    if (L == lb::ap && is_aksara(right)) return break_kind::none;
    if (is_aksara(l) && in(R, classes(lb::vf, lb::vi))) return break_kind::none;
    if ((l.context & vowel_after_aksara) && is_aksara(right) && R != lb::as) return break_kind::none;
    if (is_aksara(l) && is_aksara(right) && class_after(text, count, i) == lb::vf) return break_kind::none;
    if (L == lb::is && in(R, k_letters)) return break_kind::none;  // LB29
    const uint64_t letters_digits = k_letters | bit(lb::nu);
    if ((in(L, letters_digits) && R == lb::op && !(right.detail & lb_east_asian)) ||
        (L == lb::cp && !(l.detail & lb_east_asian) && in(R, letters_digits)))
        return break_kind::none;                                                            // LB30
    if (L == lb::ri && R == lb::ri && (l.context & odd_regional)) return break_kind::none;  // LB30a
    if (R == lb::em && (L == lb::eb || (L == lb::id && (l.detail & lb_unassigned_pictographic))))
        return break_kind::none;  // LB30b
    return break_kind::allowed;   // LB31
}

// Most text the layout sees is words of ASCII letters and the spaces between
// them; these need none of the rules' machinery. A letter after a unit of
// AL is AL AL (LB28, no break; nothing earlier applies to a letter after
// AL), a space after it is LB7 (no break), and a letter after spaces that
// follow an AL breaks by LB18 (LB8-LB17 read nothing an AL before spaces
// matches). Returns false for anything else, and always for the first
// character (the state is then at sot).
bool ascii_word(line_state &s, char32_t c, break_kind &result) {
    const bool letter = (c | 0x20) - U'a' < 26;
    if (s.last.cls == lb::al && (letter || c == U' ')) {
        result = break_kind::none;
        s.last = unit{letter ? lb::al : lb::sp, 0, 0};
        if (letter) s.before_spaces = s.last;
    } else if (letter && s.last.cls == lb::sp && s.before_spaces.cls == lb::al) {
        result = break_kind::allowed;
        s.last = s.before_spaces = unit{lb::al, 0, 0};
    } else {
        return false;
    }
    s.after_zwj = false;
    return true;
}

}  // namespace

void line_breaks(const char32_t *text, size_t count, break_kind *breaks) {
    breaks[0] = break_kind::none;  // LB2
    if (count == 0) return;
    line_state s;
    for (size_t i = 0; i < count; ++i) {
        if (ascii_word(s, text[i], breaks[i])) continue;
        const uint8_t properties = line_break_properties(text[i]);
        const lb cls = class_of(properties);
        const bool mark = in(cls, k_marks);
        const bool attached = mark && !in(s.last.cls, k_no_marks);  // LB9
        // LB10: a mark with nothing to attach to is AL.
        const auto detail = static_cast<uint8_t>(properties & ~lb_class_mask);
        const unit right = mark ? unit{lb::al, 0, 0} : unit{cls, detail, 0};
        if (i > 0) {
            break_kind result;
            if (!hard_rules(s, cls, result))
                result = attached ? break_kind::none : pair_rules(s, right, text, count, i);  // LB9, LB10-LB31
            breaks[i] = result;
        }
        s.after_zwj = cls == lb::zwj;
        if (attached) continue;  // the unit stays what its first character made it
        s.last = start_unit(s.last, right.cls, right.detail);
        if (right.cls != lb::sp) s.before_spaces = s.last;
    }
    breaks[count] = break_kind::mandatory;  // LB3
}

}  // namespace imgtext::unicode
