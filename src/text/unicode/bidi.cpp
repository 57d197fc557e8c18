// The Unicode Bidirectional Algorithm: a paragraph's levels (P2-I2) and a line's visual order (L1-L2).
#include "text/unicode/bidi.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

#include "unicode/bidi_tables.h"

namespace imgtext::unicode {

// The generated table stores classes as bidi_class_id: the two orders must be one.
#define IMGTEXT_SAME_BIDI_CLASS(name) \
  static_assert(static_cast<int>(bidi_class::name) == static_cast<int>(bidi_class_id::name));
IMGTEXT_SAME_BIDI_CLASS(L)
IMGTEXT_SAME_BIDI_CLASS(R)
IMGTEXT_SAME_BIDI_CLASS(AL)
IMGTEXT_SAME_BIDI_CLASS(EN)
IMGTEXT_SAME_BIDI_CLASS(ES)
IMGTEXT_SAME_BIDI_CLASS(ET)
IMGTEXT_SAME_BIDI_CLASS(AN)
IMGTEXT_SAME_BIDI_CLASS(CS)
IMGTEXT_SAME_BIDI_CLASS(NSM)
IMGTEXT_SAME_BIDI_CLASS(BN)
IMGTEXT_SAME_BIDI_CLASS(B)
IMGTEXT_SAME_BIDI_CLASS(S)
IMGTEXT_SAME_BIDI_CLASS(WS)
IMGTEXT_SAME_BIDI_CLASS(ON)
IMGTEXT_SAME_BIDI_CLASS(LRE)
IMGTEXT_SAME_BIDI_CLASS(LRO)
IMGTEXT_SAME_BIDI_CLASS(RLE)
IMGTEXT_SAME_BIDI_CLASS(RLO)
IMGTEXT_SAME_BIDI_CLASS(PDF)
IMGTEXT_SAME_BIDI_CLASS(LRI)
IMGTEXT_SAME_BIDI_CLASS(RLI)
IMGTEXT_SAME_BIDI_CLASS(FSI)
IMGTEXT_SAME_BIDI_CLASS(PDI)
#undef IMGTEXT_SAME_BIDI_CLASS
static_assert(bidi_class_id_count == static_cast<int>(bidi_class::PDI) + 1);

namespace {

using bc = bidi_class;

constexpr uint8_t max_depth = 125;        // the deepest explicit embedding level (BD2)
constexpr size_t max_bracket_pairs = 63;  // BD16's stack of open brackets
constexpr size_t none = static_cast<size_t>(-1);

bool is_isolate_initiator(bc c) { return c == bc::LRI || c == bc::RLI || c == bc::FSI; }
bool is_isolate_control(bc c) { return is_isolate_initiator(c) || c == bc::PDI; }
bool is_neutral_or_isolate(bc c) {
    return c == bc::B || c == bc::S || c == bc::WS || c == bc::ON || is_isolate_control(c);
}
// The strong direction N0-N2 see in a resolved type: numbers count as R.
bc strong_direction(bc c) { return c == bc::L ? bc::L : bc::R; }
bc direction_of_level(unsigned level) { return (level & 1) ? bc::R : bc::L; }

// The least odd (rtl) or even level above `level`.
unsigned next_level(unsigned level, bool rtl) { return rtl ? (level + 1) | 1 : (level + 2) & ~1u; }

const bidi_bracket_entry *find_bracket(char32_t c) {
    const auto *it = std::lower_bound(std::begin(bidi_brackets), std::end(bidi_brackets), c,
                                      [](const bidi_bracket_entry &e, char32_t v) { return e.code < v; });
    return it != std::end(bidi_brackets) && it->code == c ? it : nullptr;
}

// The angle brackets U+2329/U+232A are canonically equivalent to U+3008/U+3009,
// and BD16 pairs either form with either.
char32_t canonical_bracket(char32_t c) { return c == 0x2329 ? 0x3008 : c == 0x232A ? 0x3009 : c; }

// A run of characters at one level, X9's removed ones skipped: [start, end)
// spans its first to its last kept character.
struct level_run {
    size_t start;
    size_t end;
    uint8_t level;
    size_t next = none;  // the following run of its isolating run sequence
};

class paragraph_resolver {
public:
    paragraph_resolver(std::span<const bc> classes, const char32_t *text, bidi_paragraph &out)
        : classes_(classes), text_(text), n_(classes.size()), levels_(out.levels), level_(out.level) {}

    void resolve(base_direction direction) {
        levels_.assign(n_, 0);
        level_ = 0;
        if (direction != base_direction::rtl && all_left_to_right()) return;
        if (std::any_of(classes_.begin(), classes_.end(), is_isolate_initiator)) match_isolates();
        if (direction == base_direction::automatic)
            level_ = first_strong(0, n_) == bc::R ? 1 : 0;
        else
            level_ = direction == base_direction::rtl ? 1 : 0;
        types_.assign(classes_.begin(), classes_.end());
        explicit_levels();
        level_runs();
        for (size_t first : sequences()) resolve_sequence(first);
        // X9's removed characters follow the character before them.
        for (size_t i = 0; i < n_; ++i)
            if (is_removed_by_x9(classes_[i])) levels_[i] = i ? levels_[i - 1] : level_;
    }

private:
    // Without R, AL, AN or explicit controls every level is 0: W7 turns each
    // EN into L after an L start of sequence.
    bool all_left_to_right() const {
        return std::none_of(classes_.begin(), classes_.end(), [](bc c) {
            return c == bc::R || c == bc::AL || c == bc::AN || (c >= bc::LRE && c <= bc::PDI);
        });
    }

    // BD9: each isolate initiator's matching PDI, or none. A B ends them all.
    void match_isolates() {
        match_.assign(n_, none);
        std::vector<size_t> open;
        for (size_t i = 0; i < n_; ++i) {
            const bc c = classes_[i];
            if (is_isolate_initiator(c)) {
                open.push_back(i);
            } else if (c == bc::PDI && !open.empty()) {
                match_[open.back()] = i;
                open.pop_back();
            } else if (c == bc::B) {
                open.clear();
            }
        }
    }

    // P2-P3 over [from, to): L or R from the first strong character outside
    // isolates, ON when there is none. Every character is read by at most
    // one such scan (the one of the isolate directly around it), so all FSIs
    // together stay linear.
    bc first_strong(size_t from, size_t to) const {
        for (size_t i = from; i < to; ++i) {
            const bc c = classes_[i];
            if (c == bc::L) return bc::L;
            if (c == bc::R || c == bc::AL) return bc::R;
            if (is_isolate_initiator(c)) {
                if (match_[i] == none) break;  // the isolate runs to the end of the paragraph
                i = match_[i];
            }
        }
        return bc::ON;
    }

    // X1-X8: explicit levels, and overrides applied to the types.
    void explicit_levels() {
        struct entry {
            uint8_t level;
            bc override_class;  // L or R, ON when neutral
            bool isolate;
        };
        std::array<entry, max_depth + 2> stack{};
        size_t depth = 1;
        stack[0] = {level_, bc::ON, false};
        size_t overflow_isolates = 0, overflow_embeddings = 0, valid_isolates = 0;
        // The level and override of the innermost entry, for a character inside it.
        auto take_top = [&](size_t i) {
            levels_[i] = stack[depth - 1].level;
            if (stack[depth - 1].override_class != bc::ON) types_[i] = stack[depth - 1].override_class;
        };
        for (size_t i = 0; i < n_; ++i) {
            const bc c = classes_[i];
            switch (c) {
                case bc::RLE:
                case bc::LRE:
                case bc::RLO:
                case bc::LRO: {  // X2-X5
                    levels_[i] = stack[depth - 1].level;
                    const unsigned level = next_level(stack[depth - 1].level, c == bc::RLE || c == bc::RLO);
                    if (level <= max_depth && overflow_isolates == 0 && overflow_embeddings == 0) {
                        const bc override_class = c == bc::RLO ? bc::R : c == bc::LRO ? bc::L : bc::ON;
                        stack[depth++] = {static_cast<uint8_t>(level), override_class, false};
                    } else if (overflow_isolates == 0) {
                        ++overflow_embeddings;
                    }
                    break;
                }
                case bc::RLI:
                case bc::LRI:
                case bc::FSI: {  // X5a-X5c
                    take_top(i);
                    if (overflow_isolates != 0 || overflow_embeddings != 0) {
                        ++overflow_isolates;
                        break;
                    }
                    const size_t isolate_end = match_[i] == none ? n_ : match_[i];
                    const bool rtl = c == bc::RLI || (c == bc::FSI && first_strong(i + 1, isolate_end) == bc::R);
                    const unsigned level = next_level(stack[depth - 1].level, rtl);
                    if (level <= max_depth) {
                        ++valid_isolates;
                        stack[depth++] = {static_cast<uint8_t>(level), bc::ON, true};
                    } else {
                        ++overflow_isolates;
                    }
                    break;
                }
                case bc::PDI:  // X6a
                    if (overflow_isolates > 0) {
                        --overflow_isolates;
                    } else if (valid_isolates > 0) {
                        overflow_embeddings = 0;
                        while (!stack[depth - 1].isolate) --depth;
                        --depth;
                        --valid_isolates;
                    }
                    take_top(i);
                    break;
                case bc::PDF:  // X7
                    if (overflow_isolates > 0) {
                    } else if (overflow_embeddings > 0) {
                        --overflow_embeddings;
                    } else if (!stack[depth - 1].isolate && depth >= 2) {
                        --depth;
                    }
                    levels_[i] = stack[depth - 1].level;
                    break;
                case bc::B:  // X8
                    levels_[i] = level_;
                    depth = 1;
                    overflow_isolates = overflow_embeddings = valid_isolates = 0;
                    break;
                case bc::BN: levels_[i] = stack[depth - 1].level; break;
                default:  // X6
                    take_top(i);
                    break;
            }
        }
    }

    // X9-X10: level runs over the characters X9 keeps.
    void level_runs() {
        runs_.clear();
        for (size_t i = 0; i < n_; ++i) {
            if (is_removed_by_x9(classes_[i])) continue;
            if (runs_.empty() || runs_.back().level != levels_[i])
                runs_.push_back({i, i + 1, levels_[i]});
            else
                runs_.back().end = i + 1;
        }
    }

    // BD13: chains the level runs into isolating run sequences (an isolate
    // initiator's run continues at its matching PDI's); returns each one's
    // first run. Isolates nest, so the runs still waiting for their PDI form
    // a stack whose top has the nearest PDI.
    std::vector<size_t> sequences() {
        struct waiting {
            size_t pdi;
            size_t run;
        };
        std::vector<waiting> open;
        std::vector<size_t> firsts;
        for (size_t r = 0; r < runs_.size(); ++r) {
            const size_t start = runs_[r].start;
            while (!open.empty() && open.back().pdi < start) open.pop_back();
            if (!open.empty() && open.back().pdi == start) {
                runs_[open.back().run].next = r;
                open.pop_back();
            } else {
                firsts.push_back(r);
            }
            const size_t last = runs_[r].end - 1;
            if (is_isolate_initiator(classes_[last]) && match_[last] != none) open.push_back({match_[last], r});
        }
        return firsts;
    }

    // W1-I2 on the isolating run sequence that starts with run `first`.
    void resolve_sequence(size_t first) {
        index_.clear();
        size_t last = first;
        for (size_t r = first; r != none; r = runs_[r].next) {
            last = r;
            for (size_t i = runs_[r].start; i < runs_[r].end; ++i)
                if (!is_removed_by_x9(classes_[i])) index_.push_back(i);
        }
        const uint8_t level = runs_[first].level;
        const uint8_t before = first == 0 ? level_ : runs_[first - 1].level;
        const bool isolate_open = is_isolate_initiator(classes_[runs_[last].end - 1]);
        const uint8_t after = last + 1 == runs_.size() || isolate_open ? level_ : runs_[last + 1].level;
        const bc sos = direction_of_level(std::max(level, before));
        const bc eos = direction_of_level(std::max(level, after));

        seq_.resize(index_.size());
        for (size_t k = 0; k < index_.size(); ++k) seq_[k] = types_[index_[k]];
        resolve_weak(sos);
        if (text_) resolve_brackets(level, sos);
        resolve_neutrals(level, sos, eos);
        for (size_t k = 0; k < index_.size(); ++k) {  // I1-I2
            const bc c = seq_[k];
            uint8_t &out = levels_[index_[k]];
            const bool number = c == bc::AN || c == bc::EN;
            if ((level & 1) == 0)
                out = static_cast<uint8_t>(level + (c == bc::R ? 1 : number ? 2 : 0));
            else
                out = static_cast<uint8_t>(level + (c == bc::L || number ? 1 : 0));
        }
    }

    // W1-W7.
    void resolve_weak(bc sos) {
        std::vector<bc> &t = seq_;
        const size_t len = t.size();
        bc previous = sos;
        for (size_t k = 0; k < len; ++k) {  // W1
            if (t[k] == bc::NSM) t[k] = is_isolate_control(previous) ? bc::ON : previous;
            previous = t[k];
        }
        bc strong = sos;
        for (size_t k = 0; k < len; ++k) {  // W2, W3
            if (t[k] == bc::L || t[k] == bc::R) {
                strong = t[k];
            } else if (t[k] == bc::AL) {
                strong = bc::AL;
                t[k] = bc::R;
            } else if (t[k] == bc::EN && strong == bc::AL) {
                t[k] = bc::AN;
            }
        }
        for (size_t k = 1; k + 1 < len; ++k) {  // W4
            if (t[k] == bc::ES && t[k - 1] == bc::EN && t[k + 1] == bc::EN)
                t[k] = bc::EN;
            else if (t[k] == bc::CS && (t[k - 1] == bc::EN || t[k - 1] == bc::AN) && t[k + 1] == t[k - 1])
                t[k] = t[k - 1];
        }
        for (size_t k = 0; k < len;) {  // W5
            if (t[k] != bc::ET) {
                ++k;
                continue;
            }
            size_t end = k;
            while (end < len && t[end] == bc::ET) ++end;
            if ((k > 0 && t[k - 1] == bc::EN) || (end < len && t[end] == bc::EN))
                std::fill(t.data() + k, t.data() + end, bc::EN);
            k = end;
        }
        for (bc &c : t)  // W6
            if (c == bc::ES || c == bc::ET || c == bc::CS) c = bc::ON;
        strong = sos;
        for (bc &c : t) {  // W7
            if (c == bc::L || c == bc::R)
                strong = c;
            else if (c == bc::EN && strong == bc::L)
                c = bc::L;
        }
    }

    // A bracket pair of the current sequence (positions in it), and which
    // strong directions lie between its brackets.
    struct bracket_pair {
        size_t open, close;
        bool inside_l, inside_r;
        bool operator<(const bracket_pair &o) const { return open < o.open; }
    };

    // BD16, sorted by opening position. Pairs nest or follow one another, so
    // what lies inside a pair is still as W7 left it when N0 comes to it: the
    // strong directions inside are gathered here, each on the innermost open
    // bracket and handed down to the one below as brackets leave the stack.
    std::vector<bracket_pair> bracket_pairs() const {
        struct opener {
            char32_t closer;
            size_t position;
            bool inside_l, inside_r;
        };
        std::array<opener, max_bracket_pairs> stack{};
        size_t depth = 0;
        std::vector<bracket_pair> pairs;
        auto pop_into_below = [&] {
            --depth;
            if (depth == 0) return;
            stack[depth - 1].inside_l |= stack[depth].inside_l;
            stack[depth - 1].inside_r |= stack[depth].inside_r;
        };
        for (size_t k = 0; k < seq_.size(); ++k) {
            const bc t = seq_[k];
            if (t != bc::ON) {
                if (depth > 0 && !is_neutral_or_isolate(t)) {
                    if (t == bc::L)
                        stack[depth - 1].inside_l = true;
                    else
                        stack[depth - 1].inside_r = true;  // R, EN, AN
                }
                continue;  // brackets under an override are no longer brackets
            }
            const char32_t c = text_[index_[k]];
            const bidi_bracket_entry *bracket = find_bracket(c);
            if (!bracket) continue;
            if (bracket->opening) {
                if (depth == stack.size()) break;  // too deep: no more pairs in this sequence
                stack[depth++] = {canonical_bracket(bracket->pair), k, false, false};
                continue;
            }
            size_t j = depth;
            while (j > 0 && stack[j - 1].closer != canonical_bracket(c)) --j;
            if (j == 0) continue;  // no opener: not a bracket pair
            while (depth > j) pop_into_below();
            pairs.push_back({stack[j - 1].position, k, stack[j - 1].inside_l, stack[j - 1].inside_r});
            pop_into_below();
        }
        std::sort(pairs.begin(), pairs.end());
        return pairs;
    }

    // N0. The strong direction before an opening bracket does see the
    // brackets resolved before it: one forward sweep, pairs coming by
    // opening position.
    void resolve_brackets(uint8_t level, bc sos) {
        const std::vector<bracket_pair> pairs = bracket_pairs();
        std::vector<bc> &t = seq_;
        const bc embedding = direction_of_level(level);
        size_t swept = 0;
        bc before = sos;
        for (const bracket_pair &pair : pairs) {
            for (; swept < pair.open; ++swept)
                if (!is_neutral_or_isolate(t[swept])) before = strong_direction(t[swept]);
            const bool same = embedding == bc::L ? pair.inside_l : pair.inside_r;
            const bool opposite = embedding == bc::L ? pair.inside_r : pair.inside_l;
            bc resolved;
            if (same)
                resolved = embedding;
            else if (opposite)
                resolved = before;  // the context's, whichever it is
            else
                continue;
            for (const size_t bracket : {pair.open, pair.close}) {
                t[bracket] = resolved;
                // Marks on a bracket follow it (they took its ON in W1).
                for (size_t k = bracket + 1; k < t.size() && types_[index_[k]] == bc::NSM; ++k) t[k] = resolved;
            }
        }
    }

    // N1-N2.
    void resolve_neutrals(uint8_t level, bc sos, bc eos) {
        std::vector<bc> &t = seq_;
        const size_t len = t.size();
        for (size_t k = 0; k < len;) {
            if (!is_neutral_or_isolate(t[k])) {
                ++k;
                continue;
            }
            size_t end = k;
            while (end < len && is_neutral_or_isolate(t[end])) ++end;
            const bc before = k == 0 ? sos : strong_direction(t[k - 1]);
            const bc after = end == len ? eos : strong_direction(t[end]);
            std::fill(t.data() + k, t.data() + end, before == after ? before : direction_of_level(level));
            k = end;
        }
    }

    std::span<const bc> classes_;
    const char32_t *text_;
    size_t n_;
    std::vector<uint8_t> &levels_;
    uint8_t &level_;
    std::vector<bc> types_;      // after X1-X8
    std::vector<size_t> match_;  // per isolate initiator, its matching PDI (empty without isolates)
    std::vector<level_run> runs_;
    std::vector<size_t> index_;  // the current isolating run sequence: paragraph positions
    std::vector<bc> seq_;        // and its types as the W and N rules resolve them
};

// Rule L2 as a tree, so that deep levels cost no more than shallow ones.
// Each node is a block of runs at or above its level (with no lower run
// between), holding its runs and the blocks above it in logical order; it
// is reversed once per level from its parent's exclusive to its own
// inclusive. Items 0..runs-1 are the runs, then the nodes.
class reorder_tree {
public:
    explicit reorder_tree(const std::vector<bidi_run> &runs)
        : runs_(runs), next_(runs.size(), none), prev_(runs.size(), none) {
        // A node per frame pushed: at most two per run, and the base.
        for (auto *v : {&next_, &prev_}) v->reserve(3 * runs.size() + 1);
        for (auto *v : {&first_, &last_}) v->reserve(2 * runs.size() + 1);
        reversed_.reserve(2 * runs.size() + 1);
    }

    std::vector<bidi_run> visual() {
        unsigned lowest = 255;
        for (const bidi_run &r : runs_) lowest = std::min<unsigned>(lowest, r.level);
        // Levels below the lowest odd one are never reversed.
        const unsigned base = (lowest & 1) ? lowest - 1 : lowest;
        std::vector<frame> stack{{add_node(), base}};
        for (size_t r = 0; r < runs_.size(); ++r) {
            const unsigned level = runs_[r].level;
            while (stack.back().level > level) {
                const frame done = stack.back();
                stack.pop_back();
                if (stack.back().level < level) stack.push_back({add_node(), level});
                adopt(stack.back(), done);
            }
            if (stack.back().level < level) stack.push_back({add_node(), level});
            append(stack.back().node, r);
        }
        while (stack.size() > 1) {
            const frame done = stack.back();
            stack.pop_back();
            adopt(stack.back(), done);
        }
        return walk(stack[0].node);
    }

private:
    struct frame {
        size_t node;
        unsigned level;  // reversed once per level up to this one
    };

    void adopt(const frame &parent, const frame &child) {
        append(parent.node, child.node);
        reversed_[child.node - runs_.size()] = ((child.level - parent.level) & 1) != 0;
    }

    size_t add_node() {
        first_.push_back(none);
        last_.push_back(none);
        reversed_.push_back(false);
        next_.push_back(none);
        prev_.push_back(none);
        return runs_.size() + first_.size() - 1;
    }

    void append(size_t node, size_t item) {
        const size_t n = node - runs_.size();
        prev_[item] = last_[n];
        if (last_[n] == none)
            first_[n] = item;
        else
            next_[last_[n]] = item;
        last_[n] = item;
    }

    std::vector<bidi_run> walk(size_t root) const {
        std::vector<bidi_run> out;
        out.reserve(runs_.size());
        std::vector<std::pair<size_t, bool>> todo{{root, false}};
        while (!todo.empty()) {
            const auto [item, reversed_above] = todo.back();
            todo.pop_back();
            if (item < runs_.size()) {
                out.push_back(runs_[item]);
                continue;
            }
            const size_t n = item - runs_.size();
            const bool reversed = reversed_above != reversed_[n];
            // Pushed so that they come off the stack in visual order.
            if (reversed)
                for (size_t c = first_[n]; c != none; c = next_[c]) todo.emplace_back(c, reversed);
            else
                for (size_t c = last_[n]; c != none; c = prev_[c]) todo.emplace_back(c, reversed);
        }
        return out;
    }

    const std::vector<bidi_run> &runs_;
    std::vector<size_t> next_, prev_;   // siblings, per item
    std::vector<size_t> first_, last_;  // children, per node
    std::vector<bool> reversed_;        // per node, relative to its parent
};

void clamp_line(const bidi_paragraph &paragraph, size_t &start, size_t &end) {
    end = std::min({end, paragraph.levels.size(), paragraph.classes.size()});
    start = std::min(start, end);
}

bidi_paragraph resolve(std::vector<bc> classes, const char32_t *text, base_direction direction) {
    bidi_paragraph out;
    out.classes = std::move(classes);
    paragraph_resolver(out.classes, text, out).resolve(direction);
    return out;
}

}  // namespace

bidi_class bidi_class_of(char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return bc::ON;
    return static_cast<bc>(bidi_class_table(c));
}

char32_t mirrored(char32_t c) {
    const auto *it = std::lower_bound(std::begin(bidi_mirrors), std::end(bidi_mirrors), c,
                                      [](const bidi_mirror_entry &e, char32_t v) { return e.code < v; });
    return it != std::end(bidi_mirrors) && it->code == c ? it->glyph : c;
}

bidi_paragraph resolve_paragraph(std::span<const char32_t> text, base_direction direction) {
    std::vector<bc> classes(text.size());
    std::transform(text.begin(), text.end(), classes.begin(), bidi_class_of);
    return resolve(std::move(classes), text.data(), direction);
}

bidi_paragraph resolve_paragraph_classes(std::span<const bidi_class> classes, base_direction direction) {
    return resolve({classes.begin(), classes.end()}, nullptr, direction);
}

std::vector<uint8_t> line_levels(const bidi_paragraph &paragraph, size_t start, size_t end) {
    clamp_line(paragraph, start, end);
    std::vector<uint8_t> out(paragraph.levels.begin() + static_cast<std::ptrdiff_t>(start),
                             paragraph.levels.begin() + static_cast<std::ptrdiff_t>(end));
    bool before_separator = true;  // the end of the line counts as one
    for (size_t i = end; i-- > start;) {
        const bc c = paragraph.classes[i];
        if (c == bc::S || c == bc::B) {
            out[i - start] = paragraph.level;
            before_separator = true;
        } else if (c == bc::WS || is_isolate_control(c) || is_removed_by_x9(c)) {
            if (before_separator) out[i - start] = paragraph.level;
        } else {
            before_separator = false;
        }
    }
    return out;
}

std::vector<bidi_run> visual_runs(const bidi_paragraph &paragraph, size_t start, size_t end) {
    clamp_line(paragraph, start, end);
    const std::vector<uint8_t> levels = line_levels(paragraph, start, end);
    std::vector<bidi_run> runs;
    for (size_t k = 0; k < levels.size(); ++k) {
        if (runs.empty() || runs.back().level != levels[k])
            runs.push_back({start + k, start + k + 1, levels[k]});
        else
            runs.back().end = start + k + 1;
    }
    if (runs.size() <= 1) return runs;
    return reorder_tree(runs).visual();
}

std::vector<size_t> visual_order(const bidi_paragraph &paragraph, size_t start, size_t end) {
    std::vector<size_t> order;
    const std::vector<bidi_run> runs = visual_runs(paragraph, start, end);
    size_t length = 0;
    for (const bidi_run &run : runs) length += run.end - run.start;
    order.reserve(length);
    for (const bidi_run &run : runs) {
        if (run.level & 1)
            for (size_t i = run.end; i-- > run.start;) order.push_back(i);
        else
            for (size_t i = run.start; i < run.end; ++i) order.push_back(i);
    }
    return order;
}

}  // namespace imgtext::unicode
