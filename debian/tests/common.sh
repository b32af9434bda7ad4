# Sourced by each part of installed-game: a fresh folder and home of its own under
# $AUTOPKGTEST_TMP, text in the game's Windows-1251 and back, and one way to fail
# with the evidence.
set -eu
GAMES=/usr/games
work=$(mktemp -d "${AUTOPKGTEST_TMP:-${TMPDIR:-/tmp}}/${0##*/}.XXXXXX")
export HOME="$work/home" XDG_DATA_HOME="$work/home/data" LC_ALL=C.UTF-8
mkdir -p "$HOME"
cd "$work"

cp1251() { printf '%s' "$1" | iconv -f UTF-8 -t CP1251; }
utf8() { iconv -f CP1251 -t UTF-8 "$@"; }

# fail WHAT [FILE]: says what went wrong, shows the file, and ends the test.
fail() {
    echo "FAIL: $1" >&2
    [ $# -lt 2 ] || { echo "--- $2:" >&2; cat "$2" >&2; }
    exit 1
}

# expect FILE TEXT...: each TEXT must stand in FILE as a whole line's part.
expect() {
    file=$1
    shift
    for text in "$@"; do
        grep -qF -- "$text" "$file" || fail "'$text' not in $file" "$file"
    done
}

# answers NAME N: the name typed, Enter for test 1's introduction, then N answers of 1.
answers() {
    cp1251 "$1"
    printf '\n\n'
    i=0
    while [ "$i" -lt "$2" ]; do printf '1\n'; i=$((i + 1)); done
}
