#!/usr/bin/env bash
# Builds the Debian package as a distribution does, through debian/: the source
# as git knows it (new files it does not ignore included) is copied to
# build-deb/prozorometr-VERSION, `dpkg-buildpackage -us -uc` builds it there, and
# lintian checks the result, pedantic. Prints the binary package's path, relative
# to the folder the command was started in unless given absolute; install it with
# apt-get install ./THAT-PATH. A folder may be given instead of build-deb.
set -euo pipefail
started_in=$PWD
cd "$(dirname "$0")/.."
source scripts/packages.sh
pz_require build package || exit 1
dir=build-deb
if (($# > 0)); then
    case $1 in /*) dir=$1 ;; *) dir=$(realpath -m "$started_in/$1") ;; esac
fi
version=$(dpkg-parsechangelog -S Version)
built=$dir/prozorometr_${version}_$(dpkg --print-architecture)
deb=$built.deb
tree=$dir/prozorometr-$version

# The files of the source tree, NUL-separated: git's, or without git all but
# build folders and the play folder.
source_files() {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -z --cached --others --exclude-standard |
            while IFS= read -r -d '' file; do
                if [ -e "$file" ] || [ -L "$file" ]; then printf '%s\0' "$file"; fi
            done
    else
        find . -path ./.git -prune -o -path './build*' -prune -o -path ./play -prune -o \
            ! -type d -printf '%P\0'
    fi
}

# Only what an earlier run made goes: the folder given may hold other things.
rm -rf "$tree"
rm -f "$dir"/prozorometr[-_]*"$version"*.* "$dir/build.log"
mkdir -p "$tree"
source_files | tar --null -T - -cf - | tar -xf - -C "$tree"
echo "package.sh: building the package in $tree (its output: $dir/build.log)" >&2
if ! (cd "$tree" && dpkg-buildpackage -us -uc) >"$dir/build.log" 2>&1; then
    tail -n 40 "$dir/build.log" >&2
    echo "package.sh: dpkg-buildpackage failed; see $dir/build.log" >&2
    exit 1
fi

# Errors and warnings fail the package; info and pedantic tags are shown. The
# overrides in debian/ are honoured. (lintian's own remark that it runs as root
# says nothing about the package.)
status=0
lintian --pedantic --display-info --fail-on error,warning "$built.changes" 2>&1 |
    { grep -v '^running with root privileges is not recommended!$' >&2 || true; } || status=$?
if [ "$status" != 0 ]; then
    echo "package.sh: lintian finds fault with the package; see above" >&2
    exit 1
fi
echo "package.sh: lintian finds no error or warning in ${deb##*/}" >&2
case ${1:-} in /*) echo "$deb" ;; *) realpath -m --relative-to="$started_in" "$deb" ;; esac
