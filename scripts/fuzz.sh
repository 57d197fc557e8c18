#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan; the decoder alone with
# MemorySanitizer) and runs each for a bounded time from the generated seed
# corpus. The MemorySanitizer target first replays the crafted corpus of every
# decoder's headers, and fuzzes with it as extra seeds. A crash leaves its
# input in build/fuzz/artifacts/ and fails the run; turn it into a regression
# test.
# Usage: scripts/fuzz.sh [seconds-per-target [target...]]   (default 60, all targets)
# IMGTEXT_FUZZ_SEED=N fixes libFuzzer's seed, so that a run from the same
# corpus makes the same inputs in the same order (a slower machine makes a
# prefix of them); unset, every run explores from a random seed.
# Targets: input_file text_layout encoder_identity photo_metadata font jpeg_decoder streamed_drawing msan_decode
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
seconds=${1:-60}
shift $(( $# > 0 ? 1 : 0 ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(input_file text_layout encoder_identity photo_metadata font jpeg_decoder streamed_drawing msan_decode)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Pictures of hundreds of megabytes only make MSan's shadow memory overflow
# the RSS limit: refuse such allocations, as a small machine would.
export MSAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=512
seeds=build/fuzz/fuzz/seeds
seed=()
[ -z "${IMGTEXT_FUZZ_SEED:-}" ] || seed=(-seed="$IMGTEXT_FUZZ_SEED")
mkdir -p build/fuzz/artifacts

echo "=== replaying the crafted corpus under MemorySanitizer ==="
build/fuzz/fuzz/fuzz_msan_decode -runs=0 -artifact_prefix=build/fuzz/artifacts/msan_decode- "$seeds/crafted" 2>&1 |
    tail -n 2
[ "${PIPESTATUS[0]}" -eq 0 ] || { echo "fuzz_msan_decode failed on the crafted corpus" >&2; exit 1; }

for target in "${targets[@]}"; do
    corpus=build/fuzz/corpus/$target
    extra=()
    mkdir -p "$corpus"
    if [ "$target" = streamed_drawing ]; then
        cp -n "$seeds"/jpeg_decoder/* "$corpus"/
    elif [ "$target" = msan_decode ]; then
        cp -n "$seeds"/input_file/* "$corpus"/
        extra=("$seeds/crafted")
    else
        cp -n "$seeds/$target"/* "$corpus"/
    fi
    echo "=== fuzzing $target for ${seconds}s ==="
    build/fuzz/fuzz/fuzz_$target "$corpus" "${extra[@]}" -max_total_time="$seconds" "${seed[@]}" -timeout=20 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/$target- 2>&1 | tail -n 12
    [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "fuzz_$target found a failure" >&2; exit 1; }
done
echo "fuzzing found nothing"
