#!/usr/bin/env bash
# Tries the README's commands on a bare Debian release, as a newcomer would: a
# root made here with debootstrap from this machine's own Debian mirror, this
# tree copied to /root/prozorometr (mode 0700), and in a chroot that has /proc
# and a minimal /dev (no loop devices, no FUSE: a container's lot) root runs
# `scripts/play.sh` with a game piped in, then `scripts/test.sh plain` (with
# --all, `scripts/test.sh` whole). Before that a plain user meets the bare
# machine (both commands must stop, naming the command for root); with --user
# he then does what root did, in a copy of his own. Nothing is kept: the
# mounts and the root go at the end, whatever happened. Needs root.
#
#   scripts/test-debian.sh [--user] [--all] [RELEASE]   RELEASE: trixie (default), bookworm...
set -uo pipefail
cd "$(dirname "$0")/.."

PATH_IN_ROOT=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
release=trixie as_user= phases=plain
for argument in "$@"; do
    case $argument in
        --user) as_user=yes ;;
        --all) phases= ;;
        -h | --help) sed -n '2,12s/^# \{0,1\}//p' "$0"; exit 0 ;;
        -*) echo "usage: $0 [--user] [--all] [RELEASE]" >&2; exit 2 ;;
        *) release=$argument ;;
    esac
done

say() { echo "test-debian.sh: $*"; }
WORK=build-debian/$release  # the root and the logs; removed at the start of the next run
root=$PWD/$WORK/root
failures=0 results=() tested="none ran"

# The Debian mirror this machine's apt uses (its security archive and others' aside).
debian_mirror() {
    apt-get indextargets --format '$(REPO_URI) $(LABEL)' 2>/dev/null | awk '$2 == "Debian" { print $1; exit }'
}

# Unmounts what was mounted in the root, deepest first; then removes the root,
# never crossing into a file system still mounted there.
remove_root() {
    local mount
    for mount in $(findmnt -rn -o TARGET | grep "^$root/" | sort -r); do umount "$mount" || umount -l "$mount"; done
    if findmnt -rn -o TARGET | grep -q "^$root/"; then
        say "something is still mounted under $root; it is left there"
        return 1
    fi
    rm -rf --one-file-system "$root"
}

# /proc, and a /dev of its own with only the usual character devices and a pseudo-terminal master.
mount_basics() {
    mount -t proc proc "$root/proc" && mount -t tmpfs -o mode=0755,nosuid devices "$root/dev" || return 1
    mknod -m 666 "$root/dev/null" c 1 3 && mknod -m 666 "$root/dev/zero" c 1 5 &&
        mknod -m 666 "$root/dev/full" c 1 7 && mknod -m 666 "$root/dev/random" c 1 8 &&
        mknod -m 666 "$root/dev/urandom" c 1 9 && mknod -m 666 "$root/dev/tty" c 5 0 || return 1
    mkdir -m 1777 "$root/dev/shm" && mkdir "$root/dev/pts" && ln -s pts/ptmx "$root/dev/ptmx" &&
        ln -s /proc/self/fd "$root/dev/fd" &&
        mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
}

# Copies the tree as git sees it (tracked files and new ones, not the ignored) to FOLDER.
copy_tree() {
    local folder=$1
    mkdir -p "$folder"
    git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
        tar --null -T - -cf - | tar -xf - -C "$folder"
}

# Runs a command line in the root as USER (root or pupil), with a bare environment.
in_root() {
    local user=$1 home=/root
    shift
    [ "$user" = root ] || home=/home/$user
    chroot "$root" /usr/bin/env -i HOME="$home" USER="$user" PATH="$PATH_IN_ROOT" TERM=dumb \
        setpriv --reuid="$user" --regid="$user" --init-groups /bin/bash -c "cd $home/prozorometr && $*"
}

# One step's outcome: its name, whether it passed, and what it saw.
note() {
    local name=$1 passed=$2 what=$3
    ((passed)) || failures=$((failures + 1))
    results+=("$(printf '%-28s %-7s %s' "$name" "$([ "$passed" = 1 ] && echo passed || echo failed)" "$what")")
}

# A whole game piped into play.sh: a name, Enter, 25 and 10 answers; the
# player's record must then stand in play/score.dat.
try_play() {
    local user=$1 log=$WORK/play-$1.log status=0
    printf '%s\n' Newcomer '' 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 2 2 2 2 2 2 2 2 2 2 | in_root "$user" \
        scripts/play.sh >"$log" 2>&1 || status=$?
    local record
    record=$(grep -c '^Newcomer 1 ' "$root$(home_of "$user")/prozorometr/play/score.dat" 2>/dev/null)
    note "play.sh as $user" $((status == 0 && record == 1)) "exit $status, ${record:-0} record saved (log: $log)"
    grep '^play.sh:\|^prozorometr' "$log" | sed 's/^/    /'
}

home_of() { [ "$1" = root ] && echo /root || echo "/home/$1"; }

# scripts/test.sh (its phases asked for); shows its output and takes the counts
# from its plain line, and its summary's lines for the whole command.
try_tests() {
    local user=$1 log=$WORK/test-$1.log status=0 counts
    in_root "$user" scripts/test.sh $phases 2>&1 | tee "$log" | sed 's/^/    /'
    status=${PIPESTATUS[0]}
    counts=$(sed -n 's/^test\.sh: plain [a-z]*: //p' "$log" | tail -n 1)
    note "test.sh ${phases:-(all)} as $user" $((status == 0)) "exit $status: ${counts:-no counts}"
    [ -n "$phases" ] || sed -n '/=== test.sh: summary ===/,$p' "$log" | sed '1d; s/^/    /' >>"$WORK/summaries"
    [ "$user" != root ] || tested=$counts
}

# A plain user on the bare machine: play.sh must stop, and test.sh fail having
# run nothing, each naming the one command to run as root.
try_bare_user() {
    local command log status hint
    for command in play test; do
        log=$WORK/$command-bare.log status=0 hint=0
        in_root pupil scripts/$command.sh </dev/null >"$log" 2>&1 || status=$?
        grep -q 'install them with: apt-get install .*(as root)' "$log" && hint=1
        note "$command.sh as pupil, bare" $((status == 1 && hint)) "exit $status: $(tail -n 1 "$log")"
    done
}

prepare_user() {
    chroot "$root" useradd -m -s /bin/bash pupil && copy_tree "$root/home/pupil/prozorometr" &&
        chroot "$root" chown -R pupil:pupil /home/pupil/prozorometr
}

if [ "$(id -u)" != 0 ]; then
    say "needs root (debootstrap, chroot and mounts)"
    exit 1
fi
source scripts/packages.sh
pz_require container || exit 1
mirror=$(debian_mirror)
if [ -z "$mirror" ]; then
    say "this machine's apt sources name no Debian mirror to make a root from"
    exit 1
fi
started=$SECONDS
[ -d "$root" ] && { remove_root || exit 1; }
rm -rf "$WORK" && mkdir -p "$WORK"
trap remove_root EXIT
trap 'exit 130' INT TERM HUP
say "making a bare Debian $release in $WORK/root from $mirror (its log: $WORK/debootstrap.log)"
if ! debootstrap --variant=minbase "$release" "$root" "$mirror" >"$WORK/debootstrap.log" 2>&1; then
    tail -n 20 "$WORK/debootstrap.log"
    say "debootstrap failed; see $WORK/debootstrap.log"
    exit 1
fi
say "made in $((SECONDS - started)) s"
mount_basics || { say "cannot mount /proc and /dev in the root"; exit 1; }
copy_tree "$root/root/prozorometr" && chmod 0700 "$root/root" || { say "cannot copy the tree"; exit 1; }
prepare_user || { say "cannot add the plain user"; exit 1; }
try_bare_user
try_play root
try_tests root
if [ -n "$as_user" ]; then
    try_play pupil
    try_tests pupil
fi
printf '\n=== test-debian.sh: Debian %s ===\n' "$release"
printf '%s\n' "${results[@]}"
[ -f "$WORK/summaries" ] && cat "$WORK/summaries"
say "$((${#results[@]} - failures)) of ${#results[@]} steps passed in $((SECONDS - started)) s; tests: $tested"
((failures == 0))
