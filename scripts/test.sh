#!/usr/bin/env bash
# Sets everything up, then builds and runs the whole test suite in every
# configuration that matters: -O0, -O3 -march=native (outputs must be
# identical, which the recorded output digests check), ASan+UBSan, and clang.
# Usage: scripts/test.sh [preset...]   (default: debug native asan clang)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

scripts/setup.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(debug native asan clang)

failed=()
for preset in "${presets[@]}"; do
    echo "=== $preset ==="
    if cmake --preset "$preset" >/dev/null &&
       cmake --build --preset "$preset" &&
       ctest --preset "$preset"; then
        :
    else
        failed+=("$preset")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED in: ${failed[*]}" >&2
    exit 1
fi
echo "all tests passed in: ${presets[*]}"
