#!/usr/bin/env bash
# Builds the game, without its tests, and starts it in ./play, a folder git
# ignores, so the score file kept there survives rebuilds.
set -euo pipefail
cd "$(dirname "$0")/.."

# A bare Debian machine lacks the build tools, and luit for the Russian text;
# installed here when we may, otherwise we say how.
source scripts/packages.sh
pz_require build play || exit 1

# Reads the build's output, keeps it in build/build.log, and shows how far the
# build has got on one line (on a terminal) once something is being compiled.
show_progress() {
    local line percent=0 shown=
    while IFS= read -r line; do
        printf '%s\n' "$line" >>build/build.log
        [[ $line =~ ^\[\ *([0-9]+)%\]\ (.*) ]] || continue
        percent=${BASH_REMATCH[1]}
        [[ -z $shown && ${BASH_REMATCH[2]} == Built\ target* ]] && continue
        [ -z "$shown" ] && ! [ -t 2 ] && echo "play.sh: building the game in ./build" >&2
        shown=yes
        [ -t 2 ] && printf '\rplay.sh: building the game in ./build: %3d%%' "$percent" >&2
    done
    [ -n "$shown" ] && [ -t 2 ] && echo >&2
    return 0
}

# Builds into ./build; on failure shows the compiler's whole output.
build_game() {
    local started=$SECONDS
    mkdir -p build
    : >build/build.log
    if ! cmake -S . -B build -DPZ_TESTS=OFF >>build/build.log 2>&1 ||
        ! cmake --build build -j "$(nproc 2>/dev/null || echo 2)" 2>&1 | show_progress; then
        cat build/build.log >&2
        echo "play.sh: the build failed; its output is above and in build/build.log" >&2
        return 1
    fi
    if grep -q 'Building CXX' build/build.log; then
        echo "play.sh: built in $((SECONDS - started)) s" >&2
    fi
}

build_game || exit 1
PROZOROMETR_GAME="$PWD/build/prozorometr" PROZOROMETR_DB="$PWD/build/pz2004.db" PROZOROMETR_DIR="$PWD/play" \
    exec scripts/prozorometr-play "$@"
