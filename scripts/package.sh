#!/usr/bin/env bash
# Builds the Debian package prozorometr_<version>_<arch>.deb in build-deb of the
# source tree (or the folder given), has lintian check it, and prints its path,
# relative to the folder the command was started in unless given absolute;
# install it with apt-get install ./THAT-PATH.
set -euo pipefail
started_in=$PWD
cd "$(dirname "$0")/.."
source scripts/packages.sh
pz_require build package || exit 1
dir=build-deb
if (($# > 0)); then
    case $1 in /*) dir=$1 ;; *) dir=$(realpath -m "$started_in/$1") ;; esac
fi

# Debian's own compiler flags, hardening among them. CMake reads CXXFLAGS and
# LDFLAGS when it first configures a folder; build type None adds nothing to them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS
echo "package.sh: building the game in $dir" >&2
cmake -S . -B "$dir" -DPZ_DEBIAN_LAYOUT=ON -DPZ_TESTS=OFF -DCMAKE_BUILD_TYPE=None >/dev/null
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
if ! output=$(cd "$dir" && cpack -G DEB 2>&1); then
    printf '%s\n' "$output" >&2
    exit 1
fi
deb=$(sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' <<<"$output")

# Errors and warnings fail the package; the overrides it installs are honoured.
# (lintian's own remark that it runs as root says nothing about the package.)
status=0
lintian --fail-on error,warning "$deb" 2>&1 |
    { grep -v '^running with root privileges is not recommended!$' >&2 || true; } || status=$?
if [ "$status" != 0 ]; then
    echo "package.sh: lintian finds fault with ${deb##*/}; see above" >&2
    exit 1
fi
echo "package.sh: lintian finds no error or warning in ${deb##*/}" >&2
case ${1:-} in /*) echo "$deb" ;; *) realpath -m --relative-to="$started_in" "$deb" ;; esac
