// Cutting a paragraph into lines no wider than a width: the greedy fill
// both layouts use, over the break opportunities of UAX #14 and, for a word
// wider than the line alone, the grapheme cluster boundaries of UAX #29.
#ifndef IMGTEXT_TEXT_LINE_BREAKING_H
#define IMGTEXT_TEXT_LINE_BREAKING_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace imgtext {

// A line of a paragraph: code points [start, end) are drawn (the spaces a
// wrap ends on are not), and the next line starts at `next`.
struct line_cut {
    size_t start, end, next;
};

// The code points of a paragraph and where it may be cut.
struct paragraph_breaks {
    std::vector<char32_t> text;
    std::vector<uint8_t> opportunity;  // text.size() + 1: a line may start at i (UAX #14)
    std::vector<uint8_t> cluster;      // text.size() + 1: a grapheme cluster starts at i
};

// Finds the opportunities and cluster boundaries of the paragraph's text.
void find_breaks(paragraph_breaks &p);

// Character wrapping: a line may end at any grapheme cluster boundary.
inline void break_at_clusters(paragraph_breaks &p) { p.opportunity = p.cluster; }

// Greedy lines: each as long as fits max_width, ending at the last break
// opportunity before the text grows wider, or inside a word (at a cluster
// boundary) only when that word alone is wider. pen(i, first, x) returns
// the pen after code point i when the pen stood at x (first: i starts the
// line), in the same single-precision steps drawing takes, so that a line
// measured here is the line drawn. Spaces where a line ends take no width
// and do not start the next line.
template <typename Pen>
std::vector<line_cut> cut_lines(const paragraph_breaks &p, int max_width, Pen pen);

int ceil_to_int(float value);

template <typename Pen>
std::vector<line_cut> cut_lines(const paragraph_breaks &p, int max_width, Pen pen) {
    const size_t n = p.text.size();
    auto trimmed = [&](size_t start, size_t end) {
        while (end > start && p.text[end - 1] == U' ') --end;
        return end;
    };
    std::vector<line_cut> lines;
    size_t start = 0;
    for (;;) {
        float x = 0.0f;
        size_t cut = n;
        for (size_t i = start; i < n; ++i) {
            x = pen(i, i == start, x);
            if (p.text[i] == U' ' || !(ceil_to_int(x) > max_width) || i == start) continue;
            // The last opportunity up to here, else the last cluster
            // boundary, else the end of the first cluster.
            // An opportunity after nothing but leading spaces would leave an
            // empty line: not one.
            size_t at = i;
            while (at > start && (!p.opportunity[at] || trimmed(start, at) == start)) --at;
            if (at == start) {
                at = i;
                while (at > start && !p.cluster[at]) --at;
                if (at == start) {
                    at = i + 1;
                    while (at < n && !p.cluster[at]) ++at;
                }
            }
            cut = at;
            break;
        }
        lines.push_back({start, trimmed(start, cut), cut});
        if (cut >= n) return lines;
        start = cut;
    }
}

}  // namespace imgtext

#endif
