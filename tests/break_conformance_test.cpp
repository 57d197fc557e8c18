// Line breaks and grapheme clusters against every case of Unicode's own
// conformance files (LineBreakTest.txt, GraphemeBreakTest.txt, 15.1.0); no
// case is left out.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "text/unicode/grapheme.h"
#include "text/unicode/line_break.h"

using namespace imgtext::unicode;

namespace {

// One line of a test file ("x 0041 / 0020 / # comment", with the signs for
// times and division as x and /), as code points and whether a boundary lies
// before each (count + 1 entries).
struct test_case {
    std::vector<char32_t> text;
    std::vector<bool> expected;
    std::string line;
    int number = 0;
};

std::vector<test_case> read_cases(const char *name) {
    std::vector<test_case> cases;
    std::ifstream in(std::string(IMGTEXT_UNICODE_DATA_DIR) + "/" + name);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string data = line.substr(0, line.find('#'));
        test_case c{{}, {}, line, number};
        for (size_t at = 0; at < data.size();) {
            if (data.compare(at, 2, "\xC3\xB7") == 0 || data.compare(at, 2, "\xC3\x97") == 0) {  // division, times
                c.expected.push_back(data[at + 1] == '\xB7');
                at += 2;
            } else if (std::isxdigit(static_cast<unsigned char>(data[at]))) {
                size_t end = 0;
                c.text.push_back(static_cast<char32_t>(std::stoul(data.substr(at), &end, 16)));
                at += end;
            } else {
                ++at;
            }
        }
        if (!c.expected.empty()) cases.push_back(std::move(c));
    }
    return cases;
}

// Runs `find` over each case of the file and compares; shows the first misses.
template <typename Find>
void check_all(const char *name, size_t expected_cases, Find find) {
    const std::vector<test_case> cases = read_cases(name);
    ASSERT_EQ(cases.size(), expected_cases) << name << " in " << IMGTEXT_UNICODE_DATA_DIR;
    size_t passed = 0, failed = 0;
    for (const test_case &c : cases) {
        ASSERT_EQ(c.expected.size(), c.text.size() + 1) << name << ":" << c.number;
        const std::vector<bool> found = find(c.text);
        if (found == c.expected) {
            ++passed;
            continue;
        }
        if (++failed > 20) continue;
        std::string marks;
        for (bool b : found) marks += b ? " \xC3\xB7" : " \xC3\x97";
        ADD_FAILURE() << name << ":" << c.number << " gave" << marks << "\n  " << c.line;
    }
    EXPECT_EQ(passed, cases.size()) << name;
    std::printf("%s: %zu of %zu cases pass\n", name, passed, cases.size());
}

// The file marks every break alike; a mandatory one must also be where LB3,
// LB4 and LB5 put it: at the end, after BK, LF or NL, after CR but not CR LF.
TEST(BreakConformance, EveryLineBreakTestCase) {
    size_t wrong_kind = 0;
    check_all("LineBreakTest.txt", 10274, [&](const std::vector<char32_t> &text) {
        std::vector<break_kind> breaks(text.size() + 1);
        line_breaks(text.data(), text.size(), breaks.data());
        std::vector<bool> found;
        for (size_t i = 0; i <= text.size(); ++i) {
            found.push_back(breaks[i] != break_kind::none);
            const char32_t before = i > 0 ? text[i - 1] : 0;
            const bool line_end = i == text.size() || before == 0x0A || before == 0x0B || before == 0x0C ||
                                  before == 0x85 || before == 0x2028 || before == 0x2029 ||
                                  (before == 0x0D && text[i] != 0x0A);
            wrong_kind += (breaks[i] == break_kind::mandatory) != line_end;
        }
        return found;
    });
    EXPECT_EQ(wrong_kind, 0u);
}

TEST(BreakConformance, EveryGraphemeBreakTestCase) {
    check_all("GraphemeBreakTest.txt", 1187, [](const std::vector<char32_t> &text) {
        std::unique_ptr<bool[]> boundaries(new bool[text.size() + 1]);
        grapheme_boundaries(text.data(), text.size(), boundaries.get());
        return std::vector<bool>(boundaries.get(), boundaries.get() + text.size() + 1);
    });
}

}  // namespace
