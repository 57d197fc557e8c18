// Unicode's own bidi conformance files, BidiTest.txt (classes) and BidiCharacterTest.txt (code points),
// every case through the resolver: levels after L1 and the visual order. Each file runs in shards.
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "text/unicode/bidi.h"

using namespace imgtext::unicode;

namespace {

const std::string k_data_dir = IMGTEXT_UNICODE_DATA_DIR;

// Levels as the files write them: -1 for 'x' (removed by X9).
std::vector<int> parse_levels(const std::string &text) {
    std::istringstream in(text);
    std::vector<int> levels;
    for (std::string token; in >> token;) levels.push_back(token == "x" ? -1 : std::stoi(token));
    return levels;
}

template <class T>
std::vector<T> parse_numbers(const std::string &text, int base) {
    std::istringstream in(text);
    std::vector<T> out;
    for (std::string token; in >> token;) out.push_back(static_cast<T>(std::stoul(token, nullptr, base)));
    return out;
}

std::vector<std::string> split(const std::string &line, char separator) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
    return fields;
}

std::string join(const std::vector<int> &values) {
    std::string out;
    for (int v : values) {
        if (!out.empty()) out += ' ';
        out += v < 0 ? "x" : std::to_string(v);
    }
    return out;
}

// A case's result in the files' terms: L1 levels with removed ones as -1,
// and the visual order without them.
struct outcome {
    std::vector<int> levels;
    std::vector<int> order;
};

outcome result_of(const bidi_paragraph &paragraph) {
    outcome out;
    const size_t n = paragraph.classes.size();
    const std::vector<uint8_t> levels = line_levels(paragraph, 0, n);
    for (size_t i = 0; i < n; ++i) out.levels.push_back(is_removed_by_x9(paragraph.classes[i]) ? -1 : levels[i]);
    for (size_t i : visual_order(paragraph, 0, n))
        if (!is_removed_by_x9(paragraph.classes[i])) out.order.push_back(static_cast<int>(i));
    return out;
}

// A share of a file's data lines (every count-th from index), so that the
// cases run as several tests, in parallel and each well inside the timeout.
struct shard {
    size_t index, count;
    bool has(size_t data_line) const { return data_line % count == index; }
};

// Counts every data line and case of a file, checks the shard's own, and
// keeps the first few failures for the report.
struct tally {
    size_t lines = 0, cases = 0, checked = 0, failures = 0;
    std::string report;

    void check(size_t line, const std::string &input, int direction, const outcome &got, const std::vector<int> &levels,
               const std::vector<int> &order, int paragraph_level = -1, int got_paragraph_level = -1) {
        ++checked;
        if (got.levels == levels && got.order == order && paragraph_level == got_paragraph_level) return;
        if (++failures > 10) return;
        std::ostringstream out;
        out << "line " << line << " [" << input << "; direction " << direction << "]: levels " << join(got.levels)
            << " want " << join(levels) << "; order " << join(got.order) << " want " << join(order) << "; paragraph "
            << got_paragraph_level << " want " << paragraph_level << "\n";
        report += out.str();
    }
    void print(const char *file, shard s) const {
        std::printf("%s: %zu data lines, %zu cases; shard %zu of %zu checked %zu, %zu failed\n", file, lines, cases,
                    s.index + 1, s.count, checked, failures);
    }
};

bidi_class class_named(const std::string &name) {
    static const char *const names[] = {"L",  "R",  "AL",  "EN",  "ES",  "ET",  "AN",  "CS",  "NSM", "BN",  "B",  "S",
                                        "WS", "ON", "LRE", "LRO", "RLE", "RLO", "PDF", "LRI", "RLI", "FSI", "PDI"};
    for (size_t i = 0; i < std::size(names); ++i)
        if (name == names[i]) return static_cast<bidi_class>(i);
    ADD_FAILURE() << "unknown bidi class " << name;
    return bidi_class::ON;
}

constexpr size_t k_bidi_test_shards = 8, k_character_test_shards = 4;

class BidiTestTxt : public ::testing::TestWithParam<size_t> {};

TEST_P(BidiTestTxt, Shard) {
    const shard mine{GetParam(), k_bidi_test_shards};
    std::ifstream in(k_data_dir + "/BidiTest.txt");
    ASSERT_TRUE(in) << k_data_dir << "/BidiTest.txt";
    tally t;
    std::vector<int> levels, order;
    size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        if (line.rfind("@Levels:", 0) == 0) {
            levels = parse_levels(line.substr(8));
            continue;
        }
        if (line.rfind("@Reorder:", 0) == 0) {
            order = parse_numbers<int>(line.substr(9), 10);
            continue;
        }
        if (line[0] == '@') continue;
        const size_t semicolon = line.find(';');
        ASSERT_NE(semicolon, std::string::npos) << "line " << number;
        const unsigned directions = static_cast<unsigned>(std::stoul(line.substr(semicolon + 1), nullptr, 16));
        t.cases += static_cast<size_t>(std::popcount(directions & 7u));
        if (!mine.has(t.lines++)) continue;
        const std::vector<std::string> fields = split(line, ';');
        std::vector<bidi_class> classes;
        std::istringstream names(fields[0]);
        for (std::string name; names >> name;) classes.push_back(class_named(name));
        const base_direction by_bit[] = {base_direction::automatic, base_direction::ltr, base_direction::rtl};
        for (unsigned bit = 0; bit < 3; ++bit) {
            if (!(directions & (1u << bit))) continue;
            const outcome got = result_of(resolve_paragraph_classes(classes, by_bit[bit]));
            t.check(number, fields[0], 1 << bit, got, levels, order);
        }
    }
    t.print("BidiTest.txt", mine);
    EXPECT_EQ(t.failures, 0u) << t.report;
    // The file is pinned by SHA-256: other counts would mean lines misread.
    EXPECT_EQ(t.lines, 490846u);
    EXPECT_EQ(t.cases, 770241u);
    EXPECT_GT(t.checked, t.cases / k_bidi_test_shards / 2);
}
INSTANTIATE_TEST_SUITE_P(BidiConformance, BidiTestTxt, ::testing::Range<size_t>(0, k_bidi_test_shards));

class BidiCharacterTestTxt : public ::testing::TestWithParam<size_t> {};

TEST_P(BidiCharacterTestTxt, Shard) {
    const shard mine{GetParam(), k_character_test_shards};
    std::ifstream in(k_data_dir + "/BidiCharacterTest.txt");
    ASSERT_TRUE(in) << k_data_dir << "/BidiCharacterTest.txt";
    tally t;
    size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        ++t.cases;
        if (!mine.has(t.lines++)) continue;
        const std::vector<std::string> fields = split(line, ';');
        ASSERT_EQ(fields.size(), 5u) << "line " << number;
        const std::vector<char32_t> text = parse_numbers<char32_t>(fields[0], 16);
        const int direction = std::stoi(fields[1]);
        const base_direction base = direction == 0   ? base_direction::ltr
                                    : direction == 1 ? base_direction::rtl
                                                     : base_direction::automatic;
        const bidi_paragraph paragraph = resolve_paragraph(text, base);
        t.check(number, fields[0], direction, result_of(paragraph), parse_levels(fields[3]),
                parse_numbers<int>(fields[4], 10), std::stoi(fields[2]), paragraph.level);
    }
    t.print("BidiCharacterTest.txt", mine);
    EXPECT_EQ(t.failures, 0u) << t.report;
    EXPECT_EQ(t.lines, 91707u);
    EXPECT_GT(t.checked, t.cases / k_character_test_shards / 2);
}
INSTANTIATE_TEST_SUITE_P(BidiConformance, BidiCharacterTestTxt, ::testing::Range<size_t>(0, k_character_test_shards));

}  // namespace
