#!/usr/bin/env bash
# Prepares a Debian-like machine to build quendal-imgtext:
#   1. the build tools (installed when run as root; otherwise the one command
#      that would install them is printed);
#   2. the pinned stb headers, font and Unicode data files, fetched as the
#      exact Debian packages through a private apt configuration, extracted
#      into .deps/ and verified by SHA-256 against scripts/pinned.sha256;
#   3. the pinned HarfBuzz source, fetched with `apt-get source` through the
#      same configuration: any Debian revision of the pinned upstream release,
#      whose .orig tarball must match its SHA-256, unpacked with that
#      revision's patches applied into .deps/harfbuzz/.
# With --windows it also installs the MinGW-w64 cross compiler and Wine, and
# with --tests what only the tests read (fonts for every script, an
# independent shaper); both may be given.
# Safe to run again: verified files already in .deps/ are not fetched twice.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
DEPS=${IMGTEXT_DEPS_DIR:-$ROOT/.deps}
PINS=$ROOT/scripts/pinned.sha256

# Package, version and the suite that still carries that exact version.
# The bookworm stb (stb_image 2.27) lacks security fixes, and the newer Caladea
# package has different metrics: neither may be substituted.
STB_PACKAGE=libstb-dev
STB_VERSION=0.0~git20241109.5c20573+ds-1
STB_SUITE=trixie
FONT_PACKAGE=fonts-crosextra-caladea
FONT_VERSION=20130214-2.1
FONT_SUITE=bullseye
# Unicode's data files: the tables the bidirectional, line-break and
# grapheme-cluster rules read are generated from them at build time, and the
# conformance tests read Unicode's own test files from the same release.
UNICODE_PACKAGE=unicode-data
UNICODE_VERSION=15.1.0-1
UNICODE_SUITE=trixie
# HarfBuzz, compiled into the library. A mirror keeps only a suite's newest
# Debian revision (a security update replaces the one before), so the pin is
# the upstream release and the SHA-256 of its .orig tarball; whichever
# revision the suite carries is used, with its patches, and named.
HARFBUZZ_PACKAGE=harfbuzz
HARFBUZZ_UPSTREAM=10.2.0
HARFBUZZ_SUITE=trixie

log() { printf 'setup: %s\n' "$*" >&2; }
die() { printf 'setup: error: %s\n' "$*" >&2; exit 1; }

# ---------------------------------------------------------------- build tools
# clang: the warning-clean check and the fuzzers; valgrind: memcheck runs;
# python3: the Python bindings and the command-line tool's tests;
# python3-numpy and python3-pil: the bindings work without them, but their
# array and Pillow conversions are only tested where they are installed.
# python3-dask and python3-distributed: examples/dask_watermark.py and its
# test (python_dask_job), which fails without them.
# fonts-linuxlibertine: a real CFF-flavoured OpenType font for the font
# loading tests (Caladea covers TrueType; CFF is the riskier reader).
# dpkg-dev: dpkg-source, which unpacks the HarfBuzz source with its patches.
TOOL_PACKAGES=(cmake g++ clang make pkg-config binutils libgtest-dev libgmock-dev libbenchmark-dev valgrind
               python3 python3-venv python3-numpy python3-pil python3-dask python3-distributed
               fonts-linuxlibertine dpkg-dev xz-utils
               clang-format clang-tidy)

# The Windows DLL is cross-built with the -posix MinGW-w64 compilers and
# tested under Wine; llvm's llvm-dlltool makes its MSVC import library,
# which the tests link with lld's lld-link, a stand-in for MSVC's linker.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 wine llvm lld)
# The tests draw every script with Debian's fonts (never committed) and
# compare the shaped glyphs with HarfBuzz's own hb-shape, an independent
# build of another release; python3-fonttools builds the COLRv1 font the
# colour font tests draw (Debian's emoji font is CBDT only).
# libturbojpeg0-dev and time: bench/codec_limit.py, which times the tool
# against a TurboJPEG decode and encode (linked by that benchmark program
# only, never by the library) and reads peak memory with /usr/bin/time -v.
TEST_PACKAGES=(fonts-noto-core fonts-noto-cjk fonts-noto-color-emoji fonts-crosextra-carlito fonts-inter-variable
               fonts-freefont-ttf libharfbuzz-bin python3-fonttools libturbojpeg0-dev time)
for option in "$@"; do
    case $option in
        --windows) TOOL_PACKAGES+=("${WINDOWS_PACKAGES[@]}") ;;
        --tests) TOOL_PACKAGES+=("${TEST_PACKAGES[@]}") ;;
        *) die "unknown option $option (known: --windows, --tests)" ;;
    esac
done

package_installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

install_tools() {
    local missing=() p
    for p in "${TOOL_PACKAGES[@]}"; do
        package_installed "$p" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        die "missing build tools; install them with:
    sudo apt-get update && sudo apt-get install -y ${missing[*]}"
    fi
    log "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# ------------------------------------------------------- pinned dependencies
pins_verified() {
    [ -d "$DEPS" ] && (cd "$DEPS" && sha256sum --quiet --check "$PINS" >/dev/null 2>&1)
}

# Prints one-line apt source entries for SUITE, taken from this machine's own
# configuration: every "deb" entry for the release the machine runs, with only
# the suite replaced, as TYPE entries ("deb", or "deb-src" for source
# packages). No mirror is named here; whatever the machine uses is used.
derive_sources() {
    local suite=$1 type=${2:-deb} codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || die "cannot tell this machine's release from /etc/os-release"

    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        awk -v have="$codename" -v want="$suite" -v type="$type" '
            $1 != "deb" { next }
            {
                i = 2; opts = ""
                if ($2 ~ /^\[/) {
                    while (i <= NF) { opts = opts (opts == "" ? "" : " ") $i; if ($i ~ /\]$/) break; i++ }
                    i++
                }
                uri = $i; s = $(i + 1)
                if (s != have) next
                comps = ""
                for (j = i + 2; j <= NF; j++) comps = comps " " $j
                print type " " (opts == "" ? "" : opts " ") uri " " want comps
            }' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk -v have="$codename" -v want="$suite" -v type="$type" '
            function flush(   n, u, k, ok, opt) {
                if (types ~ /(^| )deb( |$)/ && enabled != "no") {
                    ok = 0
                    n = split(suites, ss, " ")
                    for (k = 1; k <= n; k++) if (ss[k] == have) ok = 1
                    if (ok) {
                        opt = (signed != "" ? "[signed-by=" signed "] " : "")
                        n = split(uris, u, " ")
                        for (k = 1; k <= n; k++) print type " " opt u[k] " " want " " comps
                    }
                }
                types = uris = suites = comps = signed = enabled = ""
            }
            /^[ \t]*#/ { next }
            /^[ \t]*$/ { flush(); next }
            /^[ \t]/ { next }   # continuation lines (inline keys) are not needed
            {
                key = tolower($1); sub(/:$/, "", key)
                val = $0; sub(/^[^:]*:[ \t]*/, "", val)
                if (key == "types") types = val
                else if (key == "uris") uris = val
                else if (key == "suites") suites = val
                else if (key == "components") comps = val
                else if (key == "signed-by" && val ~ /^\//) signed = val
                else if (key == "enabled") enabled = tolower(val)
            }
            END { flush() }' "$f"
    done
}

# Files taken from unicode-data: the property files the build generates its
# tables from, and Unicode's conformance tests.
UNICODE_FILES=(UnicodeData.txt extracted/DerivedBidiClass.txt BidiBrackets.txt BidiMirroring.txt LineBreak.txt
               EastAsianWidth.txt auxiliary/GraphemeBreakProperty.txt emoji/emoji-data.txt DerivedCoreProperties.txt
               extracted/DerivedGeneralCategory.txt Scripts.txt BidiTest.txt BidiCharacterTest.txt
               auxiliary/LineBreakTest.txt auxiliary/GraphemeBreakTest.txt emoji/emoji-test.txt)

# A private apt: only the source list, preferences and state are its own;
# proxies and other settings from the machine's apt.conf still apply.
# Sets `apt` (the command) and `work` (its folder).
private_apt() {
    work=$DEPS/.apt
    rm -rf "$work"
    mkdir -p "$work"/etc/sources.list.d "$work"/etc/preferences.d \
             "$work"/state/lists/partial "$work"/cache/archives/partial "$work"/debs "$work"/src
    : > "$work/state/status"
    {
        derive_sources "$STB_SUITE"; derive_sources "$FONT_SUITE"; derive_sources "$UNICODE_SUITE"
        derive_sources "$HARFBUZZ_SUITE" deb-src
    } | sort -u > "$work/etc/sources.list"
    grep -q '^deb ' "$work/etc/sources.list" || die "found no Debian 'deb' source entry for this release in /etc/apt;
    point CMake at your own copies instead (see README: IMGTEXT_STB_INCLUDE_DIR, IMGTEXT_FONT_FILE)"
    apt=(apt-get -q
        -o "Dir::Etc::SourceList=$work/etc/sources.list"
        -o "Dir::Etc::SourceParts=$work/etc/sources.list.d"
        -o "Dir::Etc::Preferences=$work/etc/preferences"
        -o "Dir::Etc::PreferencesParts=$work/etc/preferences.d"
        -o "Dir::State=$work/state"
        -o "Dir::State::status=$work/state/status"
        -o "Dir::Cache=$work/cache"
        -o "APT::Sandbox::User=$(id -un)")
    "${apt[@]}" update >"$work/update.log" 2>&1 \
        || { cat "$work/update.log" >&2; die "apt-get update failed for the pinned suites"; }
}

fetch_packages() {
    log "fetching $STB_PACKAGE $STB_VERSION ($STB_SUITE), $FONT_PACKAGE $FONT_VERSION ($FONT_SUITE)" \
        "and $UNICODE_PACKAGE $UNICODE_VERSION ($UNICODE_SUITE)"
    (cd "$work/debs" && "${apt[@]}" download "$STB_PACKAGE=$STB_VERSION" "$FONT_PACKAGE=$FONT_VERSION" \
        "$UNICODE_PACKAGE=$UNICODE_VERSION" >"$work/download.log" 2>&1) \
        || { cat "$work/download.log" >&2; die "could not download the pinned packages"; }

    local deb
    for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$work/root"; done
    mkdir -p "$DEPS/stb" "$DEPS/font" "$DEPS/unicode"
    local h
    for h in stb_image.h stb_image_write.h stb_truetype.h; do
        install -m 0644 "$work/root/usr/include/stb/$h" "$DEPS/stb/$h"
    done
    install -m 0644 "$work/root/usr/share/fonts/truetype/crosextra/Caladea-Regular.ttf" \
        "$DEPS/font/Caladea-Regular.ttf"
    for h in "${UNICODE_FILES[@]}"; do
        install -m 0644 "$work/root/usr/share/unicode/$h" "$DEPS/unicode/$(basename "$h")"
    done
}

# The newest Debian revision of the pinned upstream HarfBuzz that the suite
# carries, its .orig tarball checked before anything is unpacked.
fetch_harfbuzz() {
    local version
    version=$(apt-cache -o "Dir::Etc::SourceList=$work/etc/sources.list" \
        -o "Dir::Etc::SourceParts=$work/etc/sources.list.d" -o "Dir::State=$work/state" \
        -o "Dir::State::status=$work/state/status" -o "Dir::Cache=$work/cache" showsrc "$HARFBUZZ_PACKAGE" 2>/dev/null |
        awk -v up="$HARFBUZZ_UPSTREAM" '$1 == "Version:" && index($2, up "-") == 1 { print $2 }' |
        sort -V | tail -n 1)
    [ -n "$version" ] || die "the $HARFBUZZ_SUITE suite carries no Debian revision of $HARFBUZZ_PACKAGE $HARFBUZZ_UPSTREAM"
    log "fetching $HARFBUZZ_PACKAGE $version ($HARFBUZZ_SUITE), the source of upstream $HARFBUZZ_UPSTREAM"
    (cd "$work/src" && "${apt[@]}" source --download-only "$HARFBUZZ_PACKAGE=$version" >"$work/source.log" 2>&1) \
        || { cat "$work/source.log" >&2; die "could not download the $HARFBUZZ_PACKAGE source package"; }
    local orig=${HARFBUZZ_PACKAGE}_${HARFBUZZ_UPSTREAM}.orig.tar.xz
    mkdir -p "$DEPS/harfbuzz"
    install -m 0644 "$work/src/$orig" "$DEPS/harfbuzz/$orig"
    (cd "$DEPS" && grep " harfbuzz/$orig\$" "$PINS" | sha256sum --check --quiet) \
        || die "$orig does not match its pinned SHA-256 (scripts/pinned.sha256)"
    rm -rf "$DEPS/harfbuzz/source"
    # dpkg-source applies the revision's patches (debian/patches/series).
    (cd "$work/src" && dpkg-source --no-check -x "${HARFBUZZ_PACKAGE}_${version#*:}.dsc" unpacked >"$work/unpack.log" 2>&1) \
        || { cat "$work/unpack.log" >&2; die "could not unpack the $HARFBUZZ_PACKAGE source package"; }
    mkdir -p "$DEPS/harfbuzz/source"
    cp -r "$work/src/unpacked/src" "$work/src/unpacked/COPYING" "$DEPS/harfbuzz/source/"
    printf '%s\n' "$version" > "$DEPS/harfbuzz/debian-revision"
    log "HarfBuzz $HARFBUZZ_UPSTREAM: Debian revision $version, with its patches: $(
        tr '\n' ' ' < "$work/src/unpacked/debian/patches/series" 2>/dev/null || echo none)"
}

harfbuzz_unpacked() {
    [ -f "$DEPS/harfbuzz/source/src/harfbuzz.cc" ] && [ -s "$DEPS/harfbuzz/debian-revision" ]
}

install_tools
if pins_verified && harfbuzz_unpacked; then
    log "pinned dependencies present and verified in $DEPS (HarfBuzz $HARFBUZZ_UPSTREAM, Debian revision $(cat "$DEPS/harfbuzz/debian-revision"))"
else
    private_apt
    pins_verified || fetch_packages
    harfbuzz_unpacked && pins_verified || fetch_harfbuzz
    rm -rf "$work"
    (cd "$DEPS" && sha256sum --check --quiet "$PINS") >&2 \
        || die "a fetched file does not match its pinned SHA-256 (scripts/pinned.sha256)"
    log "pinned dependencies verified in $DEPS"
fi
