#!/usr/bin/env bash
# Builds the fuzz targets (libFuzzer under ASan and UBSan) with clang into
# build-fuzz and runs them one after another, so that one core stays free.
# Debian packages: apt-get install --no-install-recommends clang libclang-rt-14-dev cmake make
#
#   scripts/fuzz.sh --ci            replay each seed corpus, then a short pass from a fixed
#                                   seed: the same inputs every time, so a change is
#                                   never failed by chance (about 15 s in all)
#   scripts/fuzz.sh [--long SECS [TARGET...]]
#                                   fuzz each target (or those named) SECS seconds
#                                   (default 600) from a random seed and print the executions;
#                                   the target sim runs the save simulator on random seeds
#                                   as long (a plain build of its own, with the tests)
#
# Fails on the first crash or broken invariant; the input is kept under
# build-fuzz/artifacts/. New inputs gather in build-fuzz/corpus/, never in the seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
pz_require build fuzz || exit 1
root=$(pwd -P)  # absolute paths only: the save target changes its current folder
build=$root/build-fuzz
targets=(database score save name)
[[ "${1:-}" == --long && $# -le 2 ]] && targets+=(sim)

mode=long seconds=600
# Inputs of the fixed-seed pass: a save forces files to disk, so it gets fewer.
declare -A ci_runs=([database]=20000 [score]=20000 [save]=2000 [name]=20000)
case "${1:-}" in
    --ci) mode=ci ;;
    --long)
        seconds=${2:?--long needs a number of seconds}
        if (($# > 2)); then targets=("${@:3}"); fi ;;
    "") ;;
    *) echo "usage: $0 [--ci | --long SECONDS [TARGET...]]" >&2; exit 2 ;;
esac

# The save simulator on schedules from a random seed: it is a test, built as the tests are.
run_simulator() {
    local first=$(( (RANDOM << 30) + (RANDOM << 15) + RANDOM + 1000000 ))
    pz_require test || exit 1
    cmake -S . -B "$build/sim" -DPZ_TESTS=ON -DPZ_WERROR=ON >/dev/null
    cmake --build "$build/sim" --target pz_save_sim -j2 >/dev/null
    PZ_SIM_FIRST_SEED=$first PZ_SIM_SCHEDULES=1000000000 PZ_SIM_SECONDS=$seconds \
        "$build/sim/tests/sim/pz_save_sim" --gtest_filter='*Seeded*' | grep -E 'schedules from|Failure' -A12
}
if [[ $mode == long && " ${targets[*]} " == *" sim "* ]]; then
    run_simulator
    targets=("${targets[@]/sim}")
    targets=(${targets[@]})
    ((${#targets[@]})) || exit 0
fi

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DPZ_FUZZ=ON -DPZ_TESTS=OFF -DPZ_WERROR=ON >/dev/null
cmake --build "$build" --target pz_fuzz -j2 >/dev/null
mkdir -p "$build/artifacts" "$build/logs"

# The game's own line on stderr ("score.dat not saved: a symbolic link") is an
# expected answer to a planted link: stderr is closed for the runs, while the
# sanitizers' reports and the targets' invariant lines still show.
run() {
    local target=$1; shift
    "$build/fuzz/pz_fuzz_$target" -close_fd_mask=2 -artifact_prefix="$build/artifacts/$target-" "$@"
}

for target in "${targets[@]}"; do
    seeds=$root/fuzz/corpus/$target
    work=$build/corpus/$target
    mkdir -p "$work"
    log=$build/logs/$target.log
    if [[ $mode == ci ]]; then
        # Seeds passed as files are only run: nothing is written into the seed folder.
        run "$target" "$seeds"/* >"$log" 2>&1 || { cat "$log"; echo "fuzz: $target fails on its seeds" >&2; exit 1; }
        echo "fuzz: $target replays $(ls "$seeds" | wc -l) seeds"
    fi
    if [[ $mode == ci ]]; then
        limits=(-seed=2004 -runs="${ci_runs[$target]}")
        rm -rf "$work" && mkdir -p "$work"  # a pass from the seeds alone, the same every time
    else
        limits=(-max_total_time="$seconds")
    fi
    if ! run "$target" "${limits[@]}" -print_final_stats=1 "$work" "$seeds" >"$log" 2>&1; then
        tail -n 40 "$log"
        echo "fuzz: $target failed; see $log and build-fuzz/artifacts/" >&2
        exit 1
    fi
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    how=$([[ $mode == ci ]] && echo "from seed 2004" || echo "in $seconds s")
    echo "fuzz: $target ran $executions inputs $how, nothing found"
done
