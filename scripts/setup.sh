#!/usr/bin/env bash
# Prepares a Debian-like machine to build quendal-imgtext:
#   1. the build tools (installed when run as root; otherwise the one command
#      that would install them is printed);
#   2. the pinned stb headers and font, fetched as the exact Debian packages
#      through a private apt configuration, extracted into .deps/ and verified
#      by SHA-256 against scripts/pinned.sha256.
# With --windows it also installs the MinGW-w64 cross compiler and Wine.
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

log() { printf 'setup: %s\n' "$*" >&2; }
die() { printf 'setup: error: %s\n' "$*" >&2; exit 1; }

# ---------------------------------------------------------------- build tools
# clang: the warning-clean check and the fuzzers; valgrind: memcheck runs;
# python3: the Python bindings and the command-line tool's tests;
# python3-numpy and python3-pil: the bindings work without them, but their
# array and Pillow conversions are only tested where they are installed.
# fonts-linuxlibertine: a real CFF-flavoured OpenType font for the font
# loading tests (Caladea covers TrueType; CFF is the riskier reader).
TOOL_PACKAGES=(cmake g++ clang make pkg-config binutils libgtest-dev libgmock-dev libbenchmark-dev valgrind
               python3 python3-venv python3-numpy python3-pil fonts-linuxlibertine)

# The Windows DLL is cross-built with the -posix MinGW-w64 compilers and
# tested under Wine.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 wine)
[ "${1:-}" = "--windows" ] && TOOL_PACKAGES+=("${WINDOWS_PACKAGES[@]}")

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
# the suite replaced. No mirror is named here; whatever the machine uses is used.
derive_sources() {
    local suite=$1 codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || die "cannot tell this machine's release from /etc/os-release"

    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        awk -v have="$codename" -v want="$suite" '
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
                print "deb " (opts == "" ? "" : opts " ") uri " " want comps
            }' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk -v have="$codename" -v want="$suite" '
            function flush(   n, u, k, ok, opt) {
                if (types ~ /(^| )deb( |$)/ && enabled != "no") {
                    ok = 0
                    n = split(suites, ss, " ")
                    for (k = 1; k <= n; k++) if (ss[k] == have) ok = 1
                    if (ok) {
                        opt = (signed != "" ? "[signed-by=" signed "] " : "")
                        n = split(uris, u, " ")
                        for (k = 1; k <= n; k++) print "deb " opt u[k] " " want " " comps
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

fetch_pinned() {
    local work=$DEPS/.apt
    rm -rf "$work"
    mkdir -p "$work"/etc/sources.list.d "$work"/etc/preferences.d \
             "$work"/state/lists/partial "$work"/cache/archives/partial "$work"/debs
    : > "$work/state/status"

    { derive_sources "$STB_SUITE"; derive_sources "$FONT_SUITE"; } | sort -u > "$work/etc/sources.list"
    [ -s "$work/etc/sources.list" ] || die "found no Debian 'deb' source entry for this release in /etc/apt;
    point CMake at your own copies instead (see README: IMGTEXT_STB_INCLUDE_DIR, IMGTEXT_FONT_FILE)"

    # Only the source list, preferences and state are private; proxies and
    # other settings from the machine's apt.conf still apply.
    local apt=(apt-get -q
        -o "Dir::Etc::SourceList=$work/etc/sources.list"
        -o "Dir::Etc::SourceParts=$work/etc/sources.list.d"
        -o "Dir::Etc::Preferences=$work/etc/preferences"
        -o "Dir::Etc::PreferencesParts=$work/etc/preferences.d"
        -o "Dir::State=$work/state"
        -o "Dir::State::status=$work/state/status"
        -o "Dir::Cache=$work/cache"
        -o "APT::Sandbox::User=$(id -un)")

    log "fetching $STB_PACKAGE $STB_VERSION ($STB_SUITE) and $FONT_PACKAGE $FONT_VERSION ($FONT_SUITE)"
    "${apt[@]}" update >"$work/update.log" 2>&1 \
        || { cat "$work/update.log" >&2; die "apt-get update failed for the pinned suites"; }
    (cd "$work/debs" && "${apt[@]}" download \
        "$STB_PACKAGE=$STB_VERSION" "$FONT_PACKAGE=$FONT_VERSION" >"$work/download.log" 2>&1) \
        || { cat "$work/download.log" >&2; die "could not download the pinned packages"; }

    local deb
    for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$work/root"; done
    mkdir -p "$DEPS/stb" "$DEPS/font"
    local h
    for h in stb_image.h stb_image_write.h stb_truetype.h; do
        install -m 0644 "$work/root/usr/include/stb/$h" "$DEPS/stb/$h"
    done
    install -m 0644 "$work/root/usr/share/fonts/truetype/crosextra/Caladea-Regular.ttf" \
        "$DEPS/font/Caladea-Regular.ttf"
    rm -rf "$work"
}

install_tools
if pins_verified; then
    log "pinned dependencies present and verified in $DEPS"
else
    fetch_pinned
    (cd "$DEPS" && sha256sum --check "$PINS") >&2 \
        || die "a fetched file does not match its pinned SHA-256 (scripts/pinned.sha256)"
    log "pinned dependencies verified in $DEPS"
fi
