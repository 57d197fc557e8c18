#!/usr/bin/env bash
# Measures how strong the tests are: plants small faults, one at a time, in a
# scratch copy of the tree, rebuilds it (Debug, as the debug preset), runs the
# whole ctest suite and lists the faults that no test caught ("survivors").
# Each fault is a real mistake a change could make; a survivor means either a
# missing test or a fault that changes nothing a caller can see, and each one
# deserves a test or a written reason.
#
# It rebuilds once per fault, so it stays out of .ci/run.
# Usage: scripts/mutants.sh [NAME...]      (default: every fault below)
#        scripts/mutants.sh --list
# The scratch copy and one log per fault go to $IMGTEXT_MUTANTS_DIR
# (default build/mutants). IMGTEXT_MUTANTS_CTEST_ARGS adds ctest arguments,
# e.g. "-E GoldenOutput|readme_pictures" to see which faults only the
# recorded digests catch.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WORK=${IMGTEXT_MUTANTS_DIR:-$ROOT/build/mutants}

# name | file | perl substitution applied to the whole file (-0777)
MUTANTS=$(cat <<'EOF'
close-result-ignored | src/files/file_output.cpp | s/fail\(close_fd\(fd_\) != 0\);/close_fd(fd_);/
final-flush-unchecked | src/files/file_output.cpp | s/if \(fd_ >= 0 && !failed_\) fail\(!flush\(\)\);/if (fd_ >= 0 \&\& !failed_) flush();/
write-error-taken-as-success | src/files/file_output.cpp | s/if \(n <= 0\) return false;/if (n <= 0) return true;/
interrupted-write-not-retried | src/files/file_output.cpp | s/if \(n < 0 && errno == EINTR\) continue;//
short-write-restarted | src/files/file_output.cpp | s/        p \+= n;\n//
rename-failure-ignored | src/files/file_output.cpp | s/if \(move_into_place\(temp_path_, final_path_, encoding_, replaces_existing_\)\)/if (move_into_place(temp_path_, final_path_, encoding_, replaces_existing_) || true)/
temporary-file-kept-on-failure | src/files/file_output.cpp | s/if \(temp_path_\) remove_file\(temp_path_, encoding_\);//
mode-not-kept | src/files/file_output.cpp | s/fchmod\(fd, st.st_mode & 07777\);//
box-taller-over-three-lines | src/text/layout.cpp | s/\* static_cast<int64_t>\(list.count\);/* static_cast<int64_t>(list.count) + (list.count > 3 ? 1 : 0);/
line-width-truncated | src/text/layout.cpp | s/return ceil_to_int\(sum\);/return static_cast<int>(sum);/
half-pixel-pen-dropped | src/text/layout.cpp | s/centre \? spare \* 0.5f : spare/centre ? static_cast<float>((layout.box_width - line.width) \/ 2) : spare/
kerning-not-drawn | src/text/layout.h | s/walk_line\(layout.face, layout.encoding, line.text, line.len, pen,\s+\[&\]\(const glyph_ref &g, float at\) \{ visit\(g, at, baseline\); \}\);/float at = pen; for (const char *p = line.text, *e = p + line.len; p < e;) { const glyph_ref g = glyph_of(layout.face, next_codepoint(p, e, layout.encoding)); visit(g, at, baseline); at = at + static_cast<float>(glyph_advance(*g.font, g.glyph)) * g.scale; }/
text-colour-unclamped | src/api/seven_calls.cpp | s/static_cast<float>\(clamp_channel\(green\)\)/static_cast<float>(green)/
opacity-above-one-unclamped | src/image/paint.h | s/if \(opacity > 1.0f\) opacity = 1.0f;//
nan-coverage-blended | src/image/paint.cpp | s/if \(!\(out > 0.00001f\)\) return;/if (out <= 0.00001f) return;/
blend-rounding-dropped | src/image/paint.cpp | s/\/ out \+ 0.5f\)/\/ out)/
right-edge-not-clipped | src/text/render.cpp | s/std::min<int64_t>\(gw, image.width - gx\)/std::min<int64_t>(gw, image.width + 1 - gx)/; s/if \(dx < 0 \|\| dx >= image.width\) continue;/if (dx < 0 || dx > image.width) continue;/
glyph-without-memory-drawn | src/text/render.cpp | s/if \(!coverage.bytes\) return;//
box-colour-unclamped | src/api/seven_calls.cpp | s/static_cast<uint8_t>\(clamp_channel\(box_blue\)\)/static_cast<uint8_t>(box_blue)/
centred-origin-floored | src/drawing/drawing.cpp | s/return \(outer - inner\) \/ 2;/return (outer - inner) >> 1;/
negative-padding-used | src/drawing/drawing.cpp | s/const int64_t p = request.padding > 0 \? request.padding : 0;/const int64_t p = request.padding;/
create-default-jpeg | src/api/seven_calls.cpp | s/format_from_path\(output_path, FMT_PNG\)/format_from_path(output_path, FMT_JPG)/; s/return save\(output_path, canvas.image, FMT_PNG\);/return save(output_path, canvas.image, FMT_JPG);/
jpeg-quality-90 | src/image/image_io.h | s/int jpeg_quality = 92;/int jpeg_quality = 90;/
jpeg-side-limit-off-by-one | src/image/image_save.cpp | s/w <= 65535 && h <= 65535/w <= 65536 \&\& h <= 65536/
png-sniffed-from-four-bytes | src/image/image_load.cpp | s/size >= 8 && data\[1\] == 'P'/size >= 4 \&\& data[1] == 'P'/
cli-x-ignored | tools/imgtext/drawing.cpp | s/job.x = clamp_int\(o_.x \+/job.x = clamp_int(0 +/
cli-opacity-ignored | tools/imgtext/drawing.cpp | s/style_.opacity = o_.opacity;/style_.opacity = 1.0f;/
cli-box-colour-channels-swapped | tools/imgtext/drawing.cpp | s/style_.box_color = o_.box_color;/style_.box_color = imgtext_color{o_.box_color.g, o_.box_color.r, o_.box_color.b, o_.box_color.a};/
cli-padding-ignored | tools/imgtext/drawing.cpp | s/style_.padding = o_.padding;/style_.padding = 0;/
python-lock-removed | bindings/python/quendal_imgtext/_legacy.py | s/    with _lock:\n        if function/    if True:\n        if function/
python-add-x-and-y-swapped | bindings/python/quendal_imgtext/_legacy.py | s/_checks.c_int\(x, "x"\), _checks.c_int\(y, "y"\),(\s+_checks.c_int\(size, "size"\), r, g, b, opacity)/_checks.c_int(y, "y"), _checks.c_int(x, "x"),$1/
EOF
)

if [ "${1:-}" = "--list" ]; then
    printf '%s\n' "$MUTANTS" | cut -d'|' -f1,2
    exit 0
fi
wanted=("$@")

# A scratch copy of the working tree as it is now (uncommitted edits
# included), the fetched dependencies with it, but no builds and no history.
tree=$WORK/tree build=$WORK/build logs=$WORK/logs
mkdir -p "$tree" "$logs"
tar -C "$ROOT" --exclude=./build --exclude=./.git -cf - . | tar -C "$tree" -xf -
cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DIMGTEXT_WERROR=OFF >"$logs/configure.log"
build_and_test() {
    cmake --build "$build" -j2 >"$1" 2>&1 || return 2
    # Stop at the first failure: one is enough to kill a fault.
    # shellcheck disable=SC2086  # split on purpose
    (cd "$build" && ctest -j2 --timeout 120 --stop-on-failure ${IMGTEXT_MUTANTS_CTEST_ARGS:-} >>"$1" 2>&1) || return 1
    return 0
}

echo "--- the unchanged tree must pass"
build_and_test "$logs/unchanged.log" || { echo "the unchanged tree fails: see $logs/unchanged.log" >&2; exit 1; }

killed=0 total=0 survivors=() unbuilt=()
while IFS='|' read -r name file substitution; do
    name=$(echo "$name" | xargs) file=$(echo "$file" | xargs) substitution=${substitution# }
    if [ ${#wanted[@]} -gt 0 ] && [[ " ${wanted[*]} " != *" $name "* ]]; then continue; fi
    cp "$tree/$file" "$WORK/pristine"
    # Each of a fault's substitutions must still match on its own: one gone
    # stale would leave a half-planted fault that "survives".
    rest=$substitution
    while [ -n "$rest" ]; do
        part=${rest%%; s/*}
        [ "$part" = "$rest" ] && rest= || rest=s/${rest#*; s/}
        if ! perl -0777 -ne "exit(($part) ? 0 : 1)" "$WORK/pristine"; then
            echo "$name: the pattern no longer matches $file ($part); update this script" >&2
            exit 1
        fi
    done
    perl -0777 -pi -e "$substitution" "$tree/$file"
    status=0
    build_and_test "$logs/$name.log" || status=$?
    case $status in
        0) echo "SURVIVED  $name"; survivors+=("$name"); total=$((total + 1)) ;;
        1) echo "killed    $name"; killed=$((killed + 1)); total=$((total + 1)) ;;
        *) echo "no build  $name"; unbuilt+=("$name") ;;
    esac
    cp "$WORK/pristine" "$tree/$file"  # a newer time stamp, so the next build recompiles it
done <<<"$MUTANTS"

# Leave the scratch build matching the unchanged tree.
cmake --build "$build" -j2 >/dev/null 2>&1 || true
echo "killed $killed of $total"
[ ${#unbuilt[@]} -eq 0 ] || echo "did not build: ${unbuilt[*]}"
[ ${#survivors[@]} -eq 0 ] || echo "survivors: ${survivors[*]}"
