#!/usr/bin/env bash
# Builds the game and starts it in ./play, a folder git ignores, so the score
# file kept there survives rebuilds.
set -euo pipefail
cd "$(dirname "$0")/.."

# The game speaks Windows-1251; on other terminals the launcher needs luit and its
# encoding tables. Installed here when we may, otherwise we say how.
missing=()
command -v luit >/dev/null || missing+=(x11-utils)
[ -e /usr/share/fonts/X11/encodings/encodings.dir ] || missing+=(xfonts-encodings)
if [ ${#missing[@]} -gt 0 ] && command -v apt-get >/dev/null; then
    if [ "$(id -u)" = 0 ]; then
        echo "play.sh: installing ${missing[*]}, so that luit can show the Russian text on any terminal" >&2
        log=$(mktemp)
        if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"; } >"$log" 2>&1; then
            tail -n 5 "$log" >&2
            echo "play.sh: that failed; the game still runs, perhaps unreadably" >&2
        fi
        rm -f "$log"
    else
        echo "play.sh: for the Russian text on any terminal: sudo apt-get install ${missing[*]}" >&2
    fi
fi

cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
PROZOROMETR_GAME="$PWD/build/prozorometr" PROZOROMETR_DB="$PWD/build/pz2004.db" PROZOROMETR_DIR="$PWD/play" \
    exec scripts/prozorometr-play "$@"
