#!/usr/bin/env bash
# Builds the game for speed (Release, without the tests) into build-release and
# times it against the floors with bench/speed.py. Never run by the tests.
# Arguments go to bench/speed.py, e.g. scripts/bench.sh --rounds 7
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DPZ_TESTS=OFF >/dev/null
cmake --build build-release -j 2 --target prozorometr >/dev/null
exec python3 bench/speed.py build-release/prozorometr "$@"
