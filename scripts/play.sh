#!/usr/bin/env bash
# Builds the game and starts it in ./play, a folder git ignores, so the score
# file kept there survives rebuilds.
set -euo pipefail
cd "$(dirname "$0")/.."

# A bare Debian machine lacks the build tools, and luit with its encoding tables
# for the Russian text; installed here when we may, otherwise we say how.
source scripts/packages.sh
pz_require build play || exit 1

cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
PROZOROMETR_GAME="$PWD/build/prozorometr" PROZOROMETR_DB="$PWD/build/pz2004.db" PROZOROMETR_DIR="$PWD/play" \
    exec scripts/prozorometr-play "$@"
