#!/usr/bin/env bash
# The lint lane: the house style (clang-format, .clang-format) over every C
# and C++ file of the project, then static analysis (clang-tidy, .clang-tidy)
# over the library's and the tool's sources, as the debug preset compiles
# them. Fails on any difference or finding.
# Usage: scripts/lint.sh [format|tidy]   (default: both)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(format tidy)

# The project's own C and C++ files (third-party code is never in the tree).
sources() { git ls-files '*.c' '*.cpp' '*.h'; }

for part in "${parts[@]}"; do
    case $part in
        format)
            echo "--- clang-format: $(sources | wc -l) files"
            sources | xargs clang-format --dry-run --Werror --style=file
            ;;
        tidy)
            cmake --preset debug -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
            # The generated headers (Unicode tables, the font) must exist.
            cmake --build --preset debug --target imgtext_objects >/dev/null
            mapfile -t files < <(git ls-files 'src/*.cpp' 'tools/*.cpp')
            echo "--- clang-tidy: ${#files[@]} files"
            # A finding inside third-party code (stb, compiled from build/)
            # still reaches the report when its path passes through ours:
            # such findings are upstream's, and are left out.
            report=$(run-clang-tidy -quiet -p build/debug -j "$(nproc)" "${files[@]}" 2>&1 || true)
            ours=$(sed 's/\x1b\[[0-9;]*m//g' <<<"$report" | grep -E '^/[^:]+:[0-9]+:[0-9]+: (warning|error):' |
                grep -v -E "^($ROOT/build/|/usr/)" | sort -u || true)
            if [ -n "$ours" ]; then
                echo "$ours" >&2
                echo "clang-tidy: $(wc -l <<<"$ours") findings (run clang-tidy -p build/debug FILE for their paths)" >&2
                exit 1
            fi
            ;;
        *) echo "unknown part $part (format, tidy)" >&2; exit 2 ;;
    esac
done
echo "lint: clean"
