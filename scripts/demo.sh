#!/usr/bin/env bash
# Sets everything up, builds the library, and shows it working: the example
# host writes a title card, the gallery example writes one picture per
# drawing function, and the imgtext tool stamps a caption on all of them in
# one batch (with one file that is not a picture, to show how failures are
# reported while the rest are done). Everything lands in build/demo/.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

scripts/setup.sh
cmake --preset release >/dev/null
# Only what the demo runs: the library, the imgtext tool and the examples
# (the test command builds the tests, fuzzers and benchmarks).
cmake --build --preset release --target quendal-imgtext imgtext title_card gallery watermark

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo/pictures"
build/release/examples/title_card "$demo/pictures/title-card.png"
build/release/examples/gallery "$demo/pictures"
printf 'this is not a picture\n' > "$demo/pictures/broken.jpg"

echo
echo "$ build/release/tools/imgtext/imgtext boxed --text '© 2026 Quendal' --size 16 --gravity bottom-right \\"
echo "      --margin 8 --box-color '#202020c0' --padding 4 -o $demo/stamped/ $demo/pictures/*"
status=0
build/release/tools/imgtext/imgtext boxed --text '© 2026 Quendal' --size 16 --gravity bottom-right \
    --margin 8 --box-color '#202020c0' --padding 4 -o "$demo/stamped/" "$demo"/pictures/* || status=$?
echo "(exit status $status: broken.jpg is not a picture, on purpose; the others were stamped)"
echo
echo "Pictures are in $ROOT/$demo/:"
echo "  pictures/  title-card.png from examples/title_card.c; input.png and one result per"
echo "             drawing function (add, add_boxed, centered, create) from examples/gallery.c"
echo "  stamped/   the same pictures with a translucent caption box, from the imgtext tool"
