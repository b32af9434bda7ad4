#!/usr/bin/env bash
# Makes the Windows package, build-windows/prozorometr-VERSION-win64.zip, on
# Debian: cross-builds the game and its tools with MinGW-w64 into build-windows
# (warnings as errors; the tests are left to test-windows.sh, which calls this
# too, whatever they say), packs it with cpack and checks what it holds. Run as
# root, it installs what is missing (the toolchain, and Wine, which runs the
# Windows pzbank that builds the shipped question database).
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=build-windows

say() { echo "windows-zip.sh: $*" >&2; }

case ${1:-} in
    "") ;;
    -h | --help) sed -n '2,7s/^# \{0,1\}//p' "$0"; exit 0 ;;
    --version) echo "windows-zip.sh (prozorometr) $(sed -n 's/^project([^ ]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
        exit 0 ;;
    *) echo "usage: $0 [--help | --version]" >&2; exit 2 ;;
esac

# What the package holds, and its README as every Notepad reads it: UTF-8 with a
# byte order mark and CR LF line ends.
check_package() {
    if ! command -v python3 >/dev/null; then
        say "made $1; not checked (python3 is not installed)"
        return 0
    fi
    python3 - "$1" <<'CHECK'
import sys, zipfile
package = zipfile.ZipFile(sys.argv[1])
names = sorted(n.split("/", 1)[1] for n in package.namelist())
expected = ["LICENSE.txt", "README.txt", "prozorometr.cmd", "prozorometr.exe", "pz2004.db", "pzbank.exe", "pzcheck.exe"]
if names != expected:
    sys.exit("the package holds %s, not %s" % (names, expected))
readme = package.read(next(n for n in package.namelist() if n.endswith("/README.txt")))
if not readme.startswith(b"\xef\xbb\xbf") or readme.count(b"\n") != readme.count(b"\r\n"):
    sys.exit("README.txt lacks its byte order mark or has a line end other than CR LF")
readme.decode("utf-8")
print("windows-zip.sh: made %s, holding %s" % (sys.argv[1], ", ".join(names)), file=sys.stderr)
CHECK
}

source scripts/packages.sh
pz_require build windows || exit 1
# A folder test-windows.sh configured keeps its tests; a new one is made without them.
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DPZ_WERROR=ON -DPZ_TESTS=OFF >/dev/null
fi
if ! cmake --build "$BUILD" -j 2 >"$BUILD/zip-build.log" 2>&1; then
    tail -n 40 "$BUILD/zip-build.log" >&2
    say "the build failed; see $BUILD/zip-build.log"
    exit 1
fi
rm -f "$BUILD"/prozorometr-*-win64.zip
(cd "$BUILD" && cpack -G ZIP >/dev/null)
check_package "$(ls "$BUILD"/prozorometr-*-win64.zip)"
