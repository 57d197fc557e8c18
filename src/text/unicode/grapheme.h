// Grapheme clusters: Unicode's extended grapheme cluster boundaries (UAX #29,
// Unicode 15.1.0), the user-perceived characters a cursor or a forced cut
// in a word must not split.
#ifndef IMGTEXT_TEXT_UNICODE_GRAPHEME_H
#define IMGTEXT_TEXT_UNICODE_GRAPHEME_H

#include <cstddef>

namespace imgtext::unicode {

// Finds the extended grapheme cluster boundaries in `text` (`count` code
// points), writing count + 1 entries to `boundaries`: boundaries[i] is true
// where a cluster boundary lies before text[i]. For non-empty text
// boundaries[0] and boundaries[count] are true (GB1, GB2); for empty text
// the one entry is false.
//
// The rules are GB3-GB999, among them GB9c (no boundary inside an Indic
// conjunct: a consonant, then linkers and extenders with at least one
// linker, then a consonant), GB11 (emoji ZWJ sequences) and GB12/GB13
// (regional indicator pairs). CR LF is one cluster.
//
// Any char32_t is accepted: values above U+10FFFF read as an unassigned code
// point. Time is linear in `count`, memory constant beyond `boundaries`;
// nothing is allocated.
void grapheme_boundaries(const char32_t *text, size_t count, bool *boundaries);

}  // namespace imgtext::unicode

#endif
