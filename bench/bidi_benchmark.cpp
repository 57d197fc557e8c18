// Bidi resolution and line reordering per code point: the Latin short path against mixed Hebrew, Arabic and
// Latin, and explicit controls up to the deepest level, at growing lengths (the time per code point should not grow).
#include <benchmark/benchmark.h>

#include <string>

#include "text/unicode/bidi.h"

namespace {

using namespace imgtext::unicode;

std::u32string repeated(const std::u32string &unit, size_t length) {
    std::u32string text;
    while (text.size() < length) text += unit;
    text.resize(length);
    return text;
}

const std::u32string k_latin = U"The quick brown fox, 12 times (or more). ";
const std::u32string k_mixed =
    U"The \u05E9\u05DC\u05D5\u05DD (quick) "
    U"\u0645\u0631\u062D\u0628\u0627 \u0661\u0662 fox. ";
// Embeddings and isolates, balanced, and an override left open each time:
// the text soon sits at the deepest level, its controls overflowing.
const std::u32string k_controls = U"\u202Bx\u2067\u05D0 (1)\u2069\u202C y \u202E";

void resolve_and_reorder(benchmark::State &state, const std::u32string &unit) {
    const std::u32string text = repeated(unit, static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        const bidi_paragraph p = resolve_paragraph(text, base_direction::automatic);
        benchmark::DoNotOptimize(visual_runs(p, 0, text.size()));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_BidiLatin(benchmark::State &state) { resolve_and_reorder(state, k_latin); }
void BM_BidiMixed(benchmark::State &state) { resolve_and_reorder(state, k_mixed); }
void BM_BidiDeepControls(benchmark::State &state) { resolve_and_reorder(state, k_controls); }

BENCHMARK(BM_BidiLatin)->Arg(100)->Arg(10000)->Arg(1000000);
BENCHMARK(BM_BidiMixed)->Arg(100)->Arg(10000)->Arg(1000000);
BENCHMARK(BM_BidiDeepControls)->Arg(100)->Arg(10000)->Arg(1000000);

}  // namespace

BENCHMARK_MAIN();
