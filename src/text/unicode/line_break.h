// Line break opportunities: Unicode's line breaking algorithm (UAX #14,
// Unicode 15.1.0), its default rules without tailoring.
#ifndef IMGTEXT_TEXT_UNICODE_LINE_BREAK_H
#define IMGTEXT_TEXT_UNICODE_LINE_BREAK_H

#include <cstddef>
#include <cstdint>

namespace imgtext::unicode {

// What may happen between two characters.
enum class break_kind : uint8_t {
    none,       // the line must not break here
    allowed,    // a line may break here (a wrap opportunity)
    mandatory,  // the line ends here: after BK, CR, LF, NL (CR LF as one) and at the end of the text
};

// Finds the break opportunities in `text` (`count` code points), writing
// count + 1 entries to `breaks`: breaks[i] is the opportunity between
// text[i - 1] and text[i], so breaks[0] is none (LB2) and breaks[count]
// mandatory (LB3); for empty text the one entry is none.
//
// The rules are UAX #14's LB1-LB31 of Unicode 15.1, with LB25 in the form
// Unicode's LineBreakTest.txt checks (a number as one unit:
// (PR|PO)? (OP|HY)? NU (NU|SY|IS)* (CL|CP)? (PR|PO)?). LB1 resolves AI, SG
// and XX to AL, SA to CM (for Mn and Mc) or AL, and CJ to NS. The rules
// Unicode 16.0 added are not among them (LB15c, a break between a space and
// a decimal point that starts a number; LB15d; LB20a, no break after a
// word-initial hyphen): 15.1's test file contradicts them, and they would
// mix two versions of the standard.
//
// Thai, Lao, Khmer, Myanmar and the other scripts of class SA write words
// without spaces; finding the breaks between their words needs a
// dictionary, which this does not have, so the default rules give no break
// inside a run of such letters. A layout that must wrap a word wider than
// the line cuts it at a grapheme cluster boundary instead (grapheme.h).
//
// Any char32_t is accepted: values above U+10FFFF read as an unassigned code
// point outside any block (AL). Time is linear in `count`, memory constant
// beyond `breaks`; nothing is allocated.
void line_breaks(const char32_t *text, size_t count, break_kind *breaks);

}  // namespace imgtext::unicode

#endif
