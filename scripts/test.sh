#!/usr/bin/env bash
# Sets everything up, then builds and runs the whole test suite in every
# configuration that matters:
#   lint     the house style (clang-format) and static analysis (clang-tidy),
#            scripts/lint.sh
#   debug    -O0
#   native   -O3 -march=native (outputs must match -O0 byte for byte, which the
#            recorded output digests check)
#   asan     AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan     ThreadSanitizer over the tests that run code on several threads
#            (the JPEG decoder's two-thread form, the API from eight threads)
#   clang    clang, warnings as errors
#   valgrind the -O0 test programs under memcheck: no errors, no leaks; and
#            the crafted corpus of every decoder's headers, each file decoded
#            twice in one process, which must give the same pixels
#   python   a wheel built from ./bindings/python (no network), tagged for
#            this platform with the library in it, installed into a fresh
#            virtual environment, then the bindings' tests through the
#            installed package
#   fuzz     each libFuzzer target for IMGTEXT_FUZZ_SECONDS (default 60), the
#            decoder under MemorySanitizer among them, which first replays
#            the crafted corpus. The seed is fixed (IMGTEXT_FUZZ_SEED, default
#            1), so that a test run gives the same verdict on every machine:
#            a failure is a change's, not the dice's. Exploring is
#            scripts/fuzz.sh's job, from random seeds.
#   windows  the DLL cross-built with MinGW-w64, its tests run under Wine;
#            output files must match the Linux build's recorded digests
#   package  scripts/package.sh's .deb, .tar.gz and .zip, checked as their
#            users get them by tests/check_packages.sh: the .deb unpacked
#            into an empty root draws, a C program links against the .zip's
#            import libraries and runs under Wine; the wheel made with the
#            DLL is win_amd64 (reuses the release and windows builds)
# Usage: scripts/test.sh [stage...]   (default: all of the above)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

scripts/setup.sh --tests

# A test may skip only for what a stage can lack: mounting a tmpfs needs
# privileges a container may not give; every other skip fails the run.
export IMGTEXT_SKIPS_ALLOWED=${IMGTEXT_SKIPS_ALLOWED-tmpfs}

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(lint debug native asan tsan clang valgrind python windows package fuzz)

# Prints a stage's five slowest tests, from CTest's record of their times,
# so that one drifting towards its timeout is seen before it fails.
slowest_tests() {
    local costs="build/$1/Testing/Temporary/CTestCostData.txt"
    [ -f "$costs" ] || return 0
    echo "--- slowest tests in $1 (seconds):"
    awk '$1 == "---" { exit } NF == 3 { printf "%8.1f  %s\n", $3, $1 }' "$costs" | sort -rn | head -n 5
}

build_and_test() {
    cmake --preset "$1" >/dev/null && cmake --build --preset "$1" && ctest --preset "$1"
    local status=$?
    slowest_tests "$1"
    return $status
}

run_valgrind() {
    cmake --preset debug >/dev/null && cmake --build --preset debug || return 1
    local dir=build/debug/tests status=0 program
    local memcheck=(valgrind -q --error-exitcode=99 --leak-check=full
        --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible
        --soname-synonyms=somalloc=nouserintercepts --suppressions=tests/valgrind.supp)
    # Memcheck runs code some 30 times slower: the Unicode conformance files
    # (pure table lookups, checked in full by every other stage) and the
    # world-text comparisons (whole Noto fonts, CJK among them, which ASan
    # covers) stay out, and the every-byte damage tests take a sample.
    for program in unit_tests api_tests fault_injection_tests; do
        echo "--- valgrind $program"
        IMGTEXT_TEST_STRIDE=11 "${memcheck[@]}" "$dir/$program" --gtest_brief=1 \
            --gtest_filter='-BidiConformance*:BreakConformance*:WorldText*' || status=1
    done
    "${memcheck[@]}" "$dir/c_host" "$dir" || status=1
    echo "--- valgrind replay_input_file (crafted corpus and seeds)"
    "${memcheck[@]}" build/debug/fuzz/replay_input_file build/debug/fuzz/seeds/crafted \
        build/debug/fuzz/seeds/input_file || status=1
    return $status
}

run_python_package() {
    cmake --preset release >/dev/null && cmake --build --preset release || return 1
    # Debian's interpreter, with its site packages: numpy and Pillow from
    # scripts/setup.sh, so the array and Pillow tests run here too.
    local venv=build/python-venv python=/usr/bin/python3
    [ -x "$python" ] || python=python3
    rm -rf "$venv" build/wheels
    "$python" -m venv --system-site-packages "$venv" &&
        "$venv/bin/pip" wheel -q --no-deps -w build/wheels ./bindings/python || return 1
    # The wheel carries the release build's library, under this platform's
    # name and tag.
    local wheel
    wheel=$(ls build/wheels/*.whl)
    case $wheel in
        *-py3-none-linux_$(uname -m).whl) ;;
        *) echo "the wheel is not tagged linux_$(uname -m): $wheel" >&2; return 1 ;;
    esac
    "$python" -c "import sys, zipfile; sys.exit('quendal_imgtext/libquendal-imgtext.so' not in
        zipfile.ZipFile(sys.argv[1]).namelist())" "$wheel" ||
        { echo "$wheel does not carry libquendal-imgtext.so" >&2; return 1; }
    "$venv/bin/pip" install -q --no-index "$wheel" || return 1
    # The installed package, with the library bundled in it: no PYTHONPATH,
    # no QUENDAL_IMGTEXT_LIBRARY.
    (cd build && env -u QUENDAL_IMGTEXT_LIBRARY -u PYTHONPATH IMGTEXT_FONT_FILE="$ROOT/.deps/font/Caladea-Regular.ttf" \
        python-venv/bin/python -m unittest discover -s "$ROOT/bindings/python/tests") || return 1
    local version
    version=$(awk '/^#define QUENDAL_IMGTEXT_VERSION_(MAJOR|MINOR|PATCH) / { v = v (v == "" ? "" : ".") $3 } END { print v }' \
        include/quendal_imgtext.h)
    (cd build && env -u QUENDAL_IMGTEXT_LIBRARY -u PYTHONPATH python-venv/bin/python -c "
import numpy, PIL.Image
from quendal_imgtext import Image
image = Image.new(200, 100, '#203040')
image.draw_text('Hi', gravity='bottom-right', margin=8)
assert Image.from_pil(image.to_pil()).encode('png') == Image.from_array(numpy.asarray(image)).encode('png')
from importlib import metadata
files = {str(f) for f in metadata.files('quendal-imgtext')}
for notice in ('LICENSE', 'THIRD-PARTY-NOTICES.md'):
    assert any(f.endswith('licenses/' + notice) for f in files), notice + ' is not in the installed package'
assert metadata.version('quendal-imgtext') == '$version', metadata.version('quendal-imgtext')
print('python package: installed with its licence and notices, drew, and went through numpy and Pillow')")
}

failed=()
times=()
for stage in "${stages[@]}"; do
    echo "=== $stage ==="
    started=$SECONDS
    case $stage in
        lint) scripts/lint.sh || failed+=("$stage") ;;
        valgrind) run_valgrind || failed+=("$stage") ;;
        fuzz) IMGTEXT_FUZZ_SEED=${IMGTEXT_FUZZ_SEED:-1} scripts/fuzz.sh "${IMGTEXT_FUZZ_SECONDS:-60}" || failed+=("$stage") ;;
        windows) scripts/windows.sh --test || failed+=("$stage") ;;
        python) run_python_package || failed+=("$stage") ;;
        package) scripts/package.sh && tests/check_packages.sh || failed+=("$stage") ;;
        *) build_and_test "$stage" || failed+=("$stage") ;;
    esac
    times+=("$stage $((SECONDS - started))s")
done
echo "stage times: ${times[*]}"

if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED in: ${failed[*]}" >&2
    exit 1
fi
echo "all tests passed in: ${stages[*]}"
