// Line break and grapheme cluster finding on paragraphs of Latin, mixed
// European and CJK text: the work the layout does for every paragraph.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "text/unicode/grapheme.h"
#include "text/unicode/line_break.h"

namespace {

// About 10,000 code points of prose-like text from the given words.
std::vector<char32_t> paragraph(std::initializer_list<const char32_t *> words) {
    std::vector<const char32_t *> list(words);
    std::vector<char32_t> text;
    for (size_t i = 0; text.size() < 10000; ++i) {
        for (const char32_t *w = list[(i * 7 + i / 5) % list.size()]; *w; ++w) text.push_back(*w);
        text.push_back(i % 11 == 10 ? U'.' : U' ');
    }
    return text;
}

const std::vector<char32_t> &english() {
    static const auto t = paragraph({U"the", U"quick", U"brown", U"fox", U"jumps", U"over", U"lazy", U"dogs,", U"while",
                                     U"owners", U"in", U"1984", U"watch", U"(patiently)", U"counting"});
    return t;
}
const std::vector<char32_t> &european() {
    static const auto t =
        paragraph({U"Caf\u00E9", U"\u0141\u00F3d\u017A", U"gr\u00FC\u00DFe", U"\u00AB\u00E0", U"bient\u00F4t\u00BB",
                   U"\u0394\u03B9\u03B1", U"\u043C\u0438\u0440", U"e\u0301t\u00E9", U"na\u00EFve"});
    return t;
}
const std::vector<char32_t> &chinese() {
    static const auto t = paragraph({U"\u4ECA\u5929\u5929\u6C14\u5F88\u597D\u3002", U"\u6211\u4EEC\u53BB",
                                     U"\u516C\u56ED\u6563\u6B65\uFF0C", U"\u300C\u4F60\u597D\u300D"});
    return t;
}

void BM_line_breaks(benchmark::State &state, const std::vector<char32_t> &text) {
    std::vector<imgtext::unicode::break_kind> breaks(text.size() + 1);
    for (auto _ : state) {
        imgtext::unicode::line_breaks(text.data(), text.size(), breaks.data());
        benchmark::DoNotOptimize(breaks.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_grapheme_boundaries(benchmark::State &state, const std::vector<char32_t> &text) {
    std::unique_ptr<bool[]> boundaries(new bool[text.size() + 1]);
    for (auto _ : state) {
        imgtext::unicode::grapheme_boundaries(text.data(), text.size(), boundaries.get());
        benchmark::DoNotOptimize(boundaries.get());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

BENCHMARK_CAPTURE(BM_line_breaks, english, english());
BENCHMARK_CAPTURE(BM_line_breaks, european, european());
BENCHMARK_CAPTURE(BM_line_breaks, chinese, chinese());
BENCHMARK_CAPTURE(BM_grapheme_boundaries, english, english());
BENCHMARK_CAPTURE(BM_grapheme_boundaries, european, european());
BENCHMARK_CAPTURE(BM_grapheme_boundaries, chinese, chinese());

}  // namespace

BENCHMARK_MAIN();
