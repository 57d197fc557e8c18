#!/usr/bin/env bash
# Sets everything up, builds the library, and runs the example host, which
# writes a title card and one picture per drawing function into build/demo/.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release

mkdir -p build/demo
build/release/examples/title_card build/demo/title-card.png
build/release/examples/gallery build/demo
echo
echo "Pictures written to $ROOT/build/demo/:"
echo "  title-card.png (imgtext_create), and for each drawing function on input.png:"
echo "  add.png, add_boxed.png, centered.png, create.png"
