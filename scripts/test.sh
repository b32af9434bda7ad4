#!/usr/bin/env bash
# Builds the game and runs every test twice: a warnings-as-errors build, then a
# build under AddressSanitizer and UndefinedBehaviorSanitizer. Then the Windows
# build, cross-compiled and tested under Wine, and a short run of the fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

# What a bare Debian machine lacks is installed first when we may, otherwise named.
source scripts/packages.sh
pz_require build play test filesystems package windows fuzz || exit 1

run_suite() {
    local dir=$1; shift
    cmake -S . -B "$dir" -DPZ_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

run_suite build
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_suite build-sanitize -DPZ_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
scripts/test-windows.sh
scripts/fuzz.sh --ci
