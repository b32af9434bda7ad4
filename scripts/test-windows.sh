#!/usr/bin/env bash
# Cross-builds the game for Windows with MinGW-w64 into build-windows (warnings
# as errors) and tests the Windows programs under Wine: unit tests, the byte-exact
# end-to-end suites, the checker, and the launcher under Wine's cmd. Then makes
# the ZIP package (windows-zip.sh) whatever the tests said; the status is the
# tests'. Run as root, it installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=build-windows
WINE=/usr/lib/wine/wine64  # `wine64` on PATH may be absent
WINESERVER=/usr/lib/wine/wineserver  # Debian 13 may have only wineserver64 there
[ -e "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver64
JOBS=2

say() { echo "test-windows.sh: $*" >&2; }

# The packages (groups build, test and windows of scripts/packages.list) are installed
# as root when missing, otherwise named.
install_missing() {
    source scripts/packages.sh
    pz_require build test windows || exit 1
}

# GoogleTest has no MinGW package: its sources are built with the same toolchain.
build_googletest() {
    local dir=$BUILD/googletest
    [ -f "$dir/install/lib/cmake/GTest/GTestConfig.cmake" ] && return 0
    cmake -S /usr/src/googletest -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$PWD/$dir/install" >/dev/null
    cmake --build "$dir" -j "$JOBS" >/dev/null
    cmake --install "$dir" >/dev/null
}

# One Wine server for the whole run, with the prefix created before the first
# test: otherwise every game pays Wine's start-up and the prefix's first-start
# messages land on a test's stderr. Its processes get no descriptor of ours, so
# nothing waiting on this script's output waits for them.
start_wine() {
    export WINEPREFIX="$PWD/$BUILD/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    trap '"$WINESERVER" -k </dev/null >/dev/null 2>&1; "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true' EXIT
    "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
}

# The database the Windows pzbank made must be the one the host's pzbank makes
# (built on its own in $BUILD/host, without the tests).
compare_database() {
    cmake -S . -B "$BUILD/host" -DPZ_TESTS=OFF >/dev/null
    cmake --build "$BUILD/host" --target pzbank -j "$JOBS" >/dev/null
    "$BUILD/host/tools/pzbank" -o "$BUILD/host/compared.db" questions/bank/character.txt questions/bank/intellect.txt
    if ! cmp "$BUILD/host/compared.db" "$BUILD/pz2004.db"; then
        say "pz2004.db from the Windows pzbank differs from the host's"
        return 1
    fi
    say "pz2004.db from the Windows pzbank is byte for byte the host's"
}

# Runs every test; then shows the output of each failed one, why each skipped
# one did not run (what cannot run under Wine), and the counts.
run_tests() {
    local status=0
    # Twice as many tests as processors at once: most wait for Wine to start a game.
    (cd "$BUILD" && ctest -j $((JOBS * 2)) --output-junit junit.xml --test-output-size-passed 65536) || status=$?
    python3 scripts/ctest-summary.py "$BUILD/junit.xml" >&2
    return "$status"
}

install_missing
build_googletest
cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DPZ_WERROR=ON \
    -DGTest_DIR="$PWD/$BUILD/googletest/install/lib/cmake/GTest" >/dev/null
start_wine
say "building in $BUILD (its output: $BUILD/build.log)"
if ! cmake --build "$BUILD" -j "$JOBS" >"$BUILD/build.log" 2>&1; then
    tail -n 40 "$BUILD/build.log" >&2
    say "the build failed; see $BUILD/build.log"
    exit 1
fi
tests=0
compare_database || tests=1
run_tests || tests=$?
scripts/windows-zip.sh
exit "$tests"
