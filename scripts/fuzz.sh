#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each for a bounded
# time from the generated seed corpus. A crash leaves its input in
# build/fuzz/artifacts/ and fails the run; turn it into a regression test.
# Usage: scripts/fuzz.sh [seconds-per-target]   (default 60)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
mkdir -p build/fuzz/artifacts
for target in input_file text_layout encoder_identity jpeg_decoder; do
    corpus=build/fuzz/corpus/$target
    mkdir -p "$corpus"
    cp -n build/fuzz/fuzz/seeds/$target/* "$corpus"/
    echo "=== fuzzing $target for ${seconds}s ==="
    build/fuzz/fuzz/fuzz_$target "$corpus" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/$target- 2>&1 | tail -n 12
    [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "fuzz_$target found a failure" >&2; exit 1; }
done
echo "fuzzing found nothing"
