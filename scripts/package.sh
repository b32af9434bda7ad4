#!/usr/bin/env bash
# Builds the Debian package prozorometr_<version>_<arch>.deb in build-deb (or the
# folder given) and prints its path; install it with apt-get install ./THAT-PATH.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
pz_require build package || exit 1
dir=${1:-build-deb}

# Debian's own compiler flags, hardening among them. CMake reads CXXFLAGS and
# LDFLAGS when it first configures a folder; build type None adds nothing to them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS
cmake -S . -B "$dir" -DPZ_DEBIAN_LAYOUT=ON -DPZ_TESTS=OFF -DCMAKE_BUILD_TYPE=None >/dev/null
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
if ! output=$(cd "$dir" && cpack -G DEB 2>&1); then
    printf '%s\n' "$output" >&2
    exit 1
fi
sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' <<<"$output"
