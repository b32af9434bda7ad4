#!/usr/bin/env bash
# Builds the game and runs every test, in four phases, each in a build folder
# of its own:
#   plain     a warnings-as-errors build and all its tests      build-test
#   sanitize  the same under AddressSanitizer and UBSan         build-sanitize
#   windows   the Windows build tested under Wine (test-windows.sh)
#                                                               build-windows
#   fuzz      the fuzz targets' seeds, then a fixed-seed pass    build-fuzz
#             (fuzz.sh --ci; longer random fuzzing: fuzz.sh --long)
# and, only when named (CI names it; it needs root):
#   debian13  the play command and the plain phase on a bare Debian 13 made
#             with debootstrap (test-debian.sh)                  build-debian
# Every phase runs whatever the others did. One whose packages are missing, where
# they may not be installed (not root), is skipped and says why. The output ends
# with one line per phase; the status is 1 when any phase failed, or when no
# test ran at all (then it says what to install).
#
#   scripts/test.sh [PHASE...]   run the phases (the first four, or those named)
#   scripts/test.sh --clean      remove the build folders instead
set -uo pipefail  # not -e: a phase that fails must not hide whether the others pass
cd "$(dirname "$0")/.."
source scripts/packages.sh

FOLDERS=(build-test build-sanitize build-windows build-fuzz build-debian)
JOBS=$(nproc 2>/dev/null || echo 2)
summary=() # one line per phase
failures=0
executed=0 # tests that ran, passed or failed, over all phases

say() { echo "test.sh: $*"; }

# Configures and builds the folder with the options given (the build's output
# goes to build.log there), then runs all its tests; sets outcome and counts.
run_ctest_phase() {
    local dir=$1 junit=$1/junit.xml report
    shift
    mkdir -p "$dir"
    rm -f "$junit"
    say "building in $dir (its output: $dir/build.log)"
    if ! { cmake -S . -B "$dir" -DPZ_WERROR=ON -DPZ_TESTS=ON "$@" && cmake --build "$dir" -j "$JOBS"; } \
        >"$dir/build.log" 2>&1; then
        tail -n 40 "$dir/build.log"
        counts="the build failed; see $dir/build.log"
        return
    fi
    say "running its tests (their output: $dir/ctest.log)"
    # Most tests spend their time waiting (for a lock, a game, a disk), so twice as
    # many run at once as there are processors.
    (cd "$dir" && ctest -j $((JOBS * 2)) --output-junit junit.xml --test-output-size-passed 65536 >ctest.log 2>&1) &&
        outcome=passed
    if [ -f "$junit" ]; then
        report=$(python3 scripts/ctest-summary.py "$junit")
        counts=${report##*$'\n'}  # its last line; what fails or skips comes before
        count_executed "$counts"
        [ "$report" = "$counts" ] || printf '%s\n' "${report%$'\n'*}"
    else
        tail -n 20 "$dir/ctest.log"
        counts="ctest did not run; see $dir/ctest.log"
    fi
}

# Adds the passed and failed of a "P passed, F failed, S skipped of N tests" line.
count_executed() {
    [[ $1 =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed ]] && executed=$((executed + BASH_REMATCH[1] + BASH_REMATCH[2]))
    return 0
}

run_plain() { run_ctest_phase build-test; }

run_sanitize() {
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        run_ctest_phase build-sanitize -DPZ_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
}

# The Wine prefix (about 700 MB) goes afterwards: the next run makes it anew in
# seconds, and its Wine server has ended with test-windows.sh.
run_windows() {
    rm -f build-windows/junit.xml
    scripts/test-windows.sh && outcome=passed
    rm -rf build-windows/wineprefix
    if [ -f build-windows/junit.xml ]; then
        counts=$(python3 scripts/ctest-summary.py --counts build-windows/junit.xml)
        count_executed "$counts"
    else
        counts="stopped before its tests; see above"
    fi
}

# fuzz.sh --ci replays each target's seeds in fuzz/corpus, then fuzzes it from a fixed seed.
run_fuzz() {
    local clean targets
    mkdir -p build-fuzz
    scripts/fuzz.sh --ci 2>&1 | tee build-fuzz/fuzz.log && outcome=passed
    clean=$(grep -c ', nothing found$' build-fuzz/fuzz.log)
    targets=$(find fuzz/corpus -mindepth 1 -maxdepth 1 -type d | wc -l)
    executed=$((executed + $(grep -c ' replays [0-9]* seeds$' build-fuzz/fuzz.log)))
    counts="$clean of $targets targets replayed and fuzzed from a fixed seed with nothing found"
}

# A bare Debian 13 root: the play command, then the plain phase, as root
# (test-debian.sh). Its first minutes go on fetching packages, so it starts
# before the other phases, in the background, and is reported after them.
DEBIAN_LOG=build-debian.log  # beside its folder, which test-debian.sh makes anew
start_debian13() {
    debian_started=$SECONDS
    scripts/test-debian.sh trixie </dev/null >"$DEBIAN_LOG" 2>&1 &
    debian_pid=$!
}

skip_debian13() { outcome=skipped counts="needs root (debootstrap, chroot and mounts)"; }

run_debian13() {
    wait "$debian_pid" && outcome=passed
    cat "$DEBIAN_LOG"
    counts=$(sed -n 's/^test-debian.sh: \(.* steps passed\) in [0-9]* s; tests: /\1; /p' "$DEBIAN_LOG")
    count_executed "${counts#*; }"
    counts=${counts:-"stopped early; see above"}
    took=$(sed -n 's/^test-debian.sh: .* steps passed in \([0-9]*\) s;.*/\1/p' "$DEBIAN_LOG")  # its own time, not the wait's
    mkdir -p build-debian && mv "$DEBIAN_LOG" build-debian/
}

# Runs one phase: its name, the package groups it cannot do without, what it
# does, the function that does it (setting outcome and counts), and when it
# started when that was earlier.
phase() {
    local name=$1 groups=$2 what=$3 run=$4 started=${5:-$SECONDS} took=
    printf '\n=== test.sh: %s: %s ===\n' "$name" "$what"
    outcome=failed counts=
    pz_find_missing $groups
    if ((${#pz_packages[@]} == 0)); then
        "$run"
    elif [ "$(id -u)" = 0 ]; then
        counts="missing $pz_reasons, which apt-get did not install"
    else
        outcome=skipped counts="missing $pz_reasons; to run it: $(pz_install_hint)"
    fi
    say "$name $outcome: $counts"
    [ "$outcome" = failed ] && failures=$((failures + 1))
    summary+=("$(printf '%-9s %-8s %s (%d s)' "$name" "$outcome" "$counts" "${took:-$((SECONDS - started))}")")
}

wanted=" ${*:-plain sanitize windows fuzz} "
case $wanted in
    " --clean ")
        rm -rf --one-file-system "${FOLDERS[@]}"  # never into a Debian root's mounts
        say "removed ${FOLDERS[*]}"
        exit 0 ;;
    " --help " | " -h ") sed -n '2,19s/^# \{0,1\}//p' "$0"; exit 0 ;;
    " --version ") echo "test.sh (prozorometr) $(sed -n 's/^project([^ ]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
        exit 0 ;;
esac
for name in $wanted; do
    case $name in plain | sanitize | windows | fuzz | debian13) ;; *) echo "usage: $0 [--clean | PHASE...]" >&2; exit 2 ;; esac
done
want() { [[ $wanted == *" $1 "* ]]; }

# The file systems are mounted by root through FUSE or loop devices; a container
# without either skips those tests, so their packages are not wanted there.
can_mount() {
    [ "$(id -u)" = 0 ] && { [ -c /dev/fuse ] && { : 3<>/dev/fuse; } 2>/dev/null || [ -c /dev/loop-control ]; }
}

# What the chosen phases need is installed first when we may; otherwise it is
# named once here, and each phase that cannot do without it is skipped.
groups=()
want plain || want sanitize && groups+=(build play test testtools package) && can_mount && groups+=(filesystems)
want windows && groups+=(build test windows)
want fuzz && groups+=(build fuzz)
want debian13 && groups+=(container)
pz_require "${groups[@]}"
debian_ready=
want debian13 && pz_find_missing container && ((${#pz_packages[@]} == 0)) && [ "$(id -u)" = 0 ] &&
    start_debian13 && debian_ready=yes
want plain && phase plain "build test" "warnings as errors, every test" run_plain
want sanitize && phase sanitize "build test" "AddressSanitizer and UndefinedBehaviorSanitizer, every test" run_sanitize
want windows && phase windows "build test windows" "the Windows build, tested under Wine" run_windows
want fuzz && phase fuzz "build fuzz" "the fuzz targets: their seeds, then a pass from a fixed seed" run_fuzz
if want debian13; then
    what="play.sh and the plain phase on a bare Debian 13 (debootstrap, chroot)"
    if [ -n "$debian_ready" ]; then
        phase debian13 "container" "$what" run_debian13 "$debian_started"
    else
        phase debian13 "container" "$what" skip_debian13
    fi
fi

printf '\n=== test.sh: summary ===\n'
printf '%s\n' "${summary[@]}"
took="$((SECONDS / 60)) min $((SECONDS % 60)) s"
if ((executed == 0)); then
    pz_find_missing "${groups[@]}"
    if ((${#pz_packages[@]} > 0)); then
        say "no test ran: this machine lacks packages; install them with: $(pz_install_hint), then run it again ($took)"
    else
        say "no test ran; see the phases above ($took)"
    fi
    exit 1
fi
if ((failures > 0)); then
    say "$failures of ${#summary[@]} phases failed ($took)"
    exit 1
fi
say "no phase failed ($took)"
