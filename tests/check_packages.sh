#!/usr/bin/env bash
# Checks the packages scripts/package.sh made, as their users get them:
#   .deb     unpacked into an empty root (dpkg -x): every file in place, the
#            library stripped, Depends filled in; the tool draws from there,
#            and a C program builds against it through its pkg-config file
#   .tar.gz  the same files; its tool finds its library by itself
#   .zip     the DLL and the tool stripped; a C program linked with MinGW
#            against each import library (.dll.a, and the .lib made for
#            MSVC) runs under Wine, as do imgtext.exe and a program linked
#            against the .lib by lld-link, as MSVC's link.exe links
#   wheel    one built with the DLL is tagged win_amd64, carries it as
#            quendal-imgtext.dll, and pip takes it for that platform
# Usage: tests/check_packages.sh [linux] [windows]   (default: both)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
PACKAGES=$ROOT/build/packages
version=$(awk '/^#define QUENDAL_IMGTEXT_VERSION_(MAJOR|MINOR|PATCH) / { v = v (v == "" ? "" : ".") $3 } END { print v }' \
    include/quendal_imgtext.h)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "check_packages: $*" >&2; exit 1; }
has_files() {  # has_files ROOT FILE...
    local root=$1 file
    shift
    for file in "$@"; do [ -e "$root/$file" ] || fail "$root lacks $file"; done
}
is_png() { [ "$(head -c 4 "$1" | od -An -tx1 | tr -d ' ')" = 89504e47 ] || fail "$1 is not a PNG"; }
linux_files=(include/quendal_imgtext.h "lib/libquendal-imgtext.so.$version" lib/libquendal-imgtext.so bin/imgtext
    lib/cmake/quendal-imgtext/quendal-imgtext-config.cmake lib/pkgconfig/quendal-imgtext.pc
    share/doc/quendal-imgtext/LICENSE share/doc/quendal-imgtext/THIRD-PARTY-NOTICES.md)

check_linux() {
    local deb="$PACKAGES/quendal-imgtext_${version}_amd64.deb" tgz="$PACKAGES/quendal-imgtext-$version-Linux.tar.gz"
    dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "$deb has no Depends on libc6"
    mkdir "$work/root"
    dpkg -x "$deb" "$work/root"
    has_files "$work/root/usr" "${linux_files[@]}"
    readelf -S "$work/root/usr/lib/libquendal-imgtext.so.$version" | grep -q '\.symtab' && fail "the .deb's library is not stripped"
    readelf -S "$work/root/usr/bin/imgtext" | grep -q '\.symtab' && fail "the .deb's imgtext is not stripped"
    LD_LIBRARY_PATH=$work/root/usr/lib "$work/root/usr/bin/imgtext" create --text Packaged --width 90 --height 30 \
        -o "$work/deb.png"
    is_png "$work/deb.png"
    local flags
    flags=$(PKG_CONFIG_PATH=$work/root/usr/lib/pkgconfig pkg-config --cflags --libs quendal-imgtext)
    # shellcheck disable=SC2086  # the flags are words
    cc tests/consumers/consumer.c $flags -o "$work/consumer"
    LD_LIBRARY_PATH=$work/root/usr/lib "$work/consumer" "$work/consumer.png" >/dev/null
    is_png "$work/consumer.png"

    mkdir "$work/tgz"
    tar -xzf "$tgz" -C "$work/tgz"
    has_files "$work/tgz/quendal-imgtext-$version-Linux" "${linux_files[@]}"
    env -u LD_LIBRARY_PATH "$work/tgz/quendal-imgtext-$version-Linux/bin/imgtext" create --text Packaged --width 90 \
        --height 30 -o "$work/tgz.png"
    cmp -s "$work/deb.png" "$work/tgz.png" || fail "the .deb's and the tarball's imgtext drew differently"
    echo "package: .deb and .tar.gz hold every file, stripped, and draw"
}

check_windows() {
    local zip="$PACKAGES/quendal-imgtext-$version-win64.zip" top mingw=x86_64-w64-mingw32
    mkdir "$work/zip"
    (cd "$work/zip" && python3 -m zipfile -e "$zip" .)
    top="$work/zip/quendal-imgtext-$version-win64"
    has_files "$top" bin/quendal-imgtext.dll bin/imgtext.exe include/quendal_imgtext.h lib/quendal-imgtext.def \
        lib/quendal-imgtext.dll.a lib/quendal-imgtext.lib share/doc/quendal-imgtext/LICENSE \
        share/doc/quendal-imgtext/THIRD-PARTY-NOTICES.md
    local binary
    for binary in bin/quendal-imgtext.dll bin/imgtext.exe; do
        $mingw-objdump -h "$top/$binary" | grep -q '\.debug_' && fail "the .zip's $binary is not stripped"
        [ -z "$($mingw-nm "$top/$binary" 2>/dev/null)" ] || fail "the .zip's $binary keeps its symbol table"
    done
    # Every export of the .def has its import in the MSVC library.
    local exported imported
    exported=$(awk '/^EXPORTS/ { on = 1; next } on && NF { print $1 }' "$top/lib/quendal-imgtext.def" | sort)
    imported=$($mingw-nm "$top/lib/quendal-imgtext.lib" | awk '$3 ~ /^__imp_/ { sub(/^__imp_/, "", $3); print $3 }' | sort -u)
    [ -n "$exported" ] && [ "$exported" = "$imported" ] || fail "quendal-imgtext.lib does not import what the .def exports"

    export WINEPREFIX=$ROOT/build/wine-prefix WINEDEBUG=-all,err+module
    unset DISPLAY
    mkdir -p "$WINEPREFIX"
    wineserver -p >/dev/null 2>&1 </dev/null
    trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
    wineboot --init >/dev/null 2>&1 </dev/null
    local lib
    for lib in quendal-imgtext.dll.a quendal-imgtext.lib; do
        $mingw-gcc-posix tests/consumers/consumer.c -I"$top/include" "$top/lib/$lib" -o "$top/bin/consumer.exe"
        (cd "$top/bin" && wine consumer.exe from-lib.png >/dev/null)
        is_png "$top/bin/from-lib.png"
        rm "$top/bin/consumer.exe" "$top/bin/from-lib.png"
    done
    (cd "$top/bin" && wine imgtext.exe create --text Packaged --width 90 --height 30 -o from-tool.png)
    is_png "$top/bin/from-tool.png"
    # MSVC's side: an object in its ABI, linked by lld-link (which takes
    # what link.exe takes) against the .lib alone; no C runtime, so its
    # entry point's value is the exit status.
    printf '%s\n' '#include <quendal_imgtext.h>' \
        'int entry(void) { return imgtext_create("from-msvc.png", "MSVC", 90, 30, 0, 255, 255, 255, 0, 0, 0) ? 0 : 3; }' \
        >"$work/msvc.c"
    clang --target=x86_64-pc-windows-msvc -ffreestanding -O1 -I"$top/include" -c "$work/msvc.c" -o "$work/msvc.obj"
    lld-link /nologo /entry:entry /subsystem:console /nodefaultlib "$work/msvc.obj" "$top/lib/quendal-imgtext.lib" \
        /out:"$top/bin/msvc.exe"
    (cd "$top/bin" && wine msvc.exe)
    is_png "$top/bin/from-msvc.png"

    mkdir "$work/wheel"
    local wheel
    wheel=$(cd bindings/python && QUENDAL_IMGTEXT_LIBRARY="$top/bin/quendal-imgtext.dll" python3 -c \
        "import sys, build_backend; print(build_backend.build_wheel(sys.argv[1]))" "$work/wheel")
    [ "$wheel" = "quendal_imgtext-$version-py3-none-win_amd64.whl" ] || fail "the DLL's wheel is named $wheel"
    python3 -c "import sys, zipfile; names = zipfile.ZipFile(sys.argv[1]).namelist()
sys.exit('quendal_imgtext/quendal-imgtext.dll' not in names or any(n.endswith('.so') for n in names))" \
        "$work/wheel/$wheel" || fail "$wheel does not carry quendal-imgtext.dll alone"
    python3 -m venv "$work/venv"
    "$work/venv/bin/pip" install -q --no-index --no-deps --only-binary=:all: --platform win_amd64 \
        --target "$work/wheel/installed" "$work/wheel/$wheel"
    has_files "$work/wheel/installed" quendal_imgtext/quendal-imgtext.dll
    echo "package: .zip holds every file, stripped; both import libraries link, and run under Wine; the wheel is win_amd64"
}

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(linux windows)
for target in "${targets[@]}"; do
    case $target in
        linux) check_linux ;;
        windows) check_windows ;;
        *) fail "unknown target $target (known: linux, windows)" ;;
    esac
done
