#!/usr/bin/env bash
# Makes the release packages with CPack (cmake/Packaging.cmake), into
# build/packages/:
#   linux    quendal-imgtext_VERSION_amd64.deb and quendal-imgtext-VERSION-Linux.tar.gz,
#            from the release build: the library, its header, the CMake
#            package, the pkg-config file, the imgtext tool, the licence and
#            the third-party notices
#   windows  quendal-imgtext-VERSION-win64.zip, from scripts/windows.sh's
#            build (build/windows): the DLL, imgtext.exe, the header, the
#            .def, the import libraries for MinGW (.dll.a) and MSVC (.lib),
#            the licence and the notices
# Binaries are stripped. Only the library and the tool are built for them,
# not the tests.
# Usage: scripts/package.sh [linux] [windows]   (default: both)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(linux windows)

package() {
    local preset=$1
    # CPack installs the build first; without this it would build every
    # target (the tests too) before doing so.
    cmake --preset "$preset" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
    cmake --build --preset "$preset" --target quendal-imgtext imgtext
    cpack --config "build/$preset/CPackConfig.cmake" -B build/packages >/dev/null
}

rm -rf build/packages/_CPack_Packages
for target in "${targets[@]}"; do
    case $target in
        linux) scripts/setup.sh && package release ;;
        windows) scripts/setup.sh --windows && package windows ;;
        *) echo "package.sh: unknown target $target (known: linux, windows)" >&2; exit 2 ;;
    esac
done
rm -rf build/packages/_CPack_Packages
ls -l build/packages/
