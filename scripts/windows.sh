#!/usr/bin/env bash
# Builds quendal-imgtext.dll for 64-bit Windows on this Linux machine with
# MinGW-w64 (installing it and Wine when run as root), into build/windows/bin/.
# With --test, also runs the test suite under Wine.
# Usage: scripts/windows.sh [--test]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

scripts/setup.sh --windows
cmake --preset windows >/dev/null
cmake --build --preset windows

echo "Built $ROOT/build/windows/bin/quendal-imgtext.dll"
echo "  import library: build/windows/quendal-imgtext.dll.a (MinGW), build/windows/quendal-imgtext.def (for MSVC's lib /def)"
[ "${1:-}" = "--test" ] || exit 0

# One Wine server for the whole run: starting each test program without one
# costs seconds. wineboot --init first, or a persistent server can hang ctest.
export WINEPREFIX=$ROOT/build/wine-prefix
export WINEDEBUG=-all,err+module   # a missing DLL otherwise exits silently
unset DISPLAY
mkdir -p "$WINEPREFIX"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineserver -p >/dev/null 2>&1 </dev/null
wineboot --init >/dev/null 2>&1 </dev/null
ctest --preset windows
