"""Tells what each file system of the save tests does with the calls a save and its
lock rely on (links, locks through two names, renames and unlinks of open files,
modes, clocks, a full medium), as unprivileged members of a class. Run by hand as
root: python3 fsprobe.py [KIND...]; prints one Markdown table, a column per kind."""

import contextlib
import errno
import fcntl
import os
import pickle
import subprocess
import sys
import time
import traceback

import mountkit
from gamekit import ANYA, BORYA, GROUP, as_user, member

ROUNDS = 25          # O_EXCL races
RACERS = 8


def said(call, *args):
    """The result of call as a short word: its return value, or the errno's name."""
    try:
        result = call(*args)
        return "ok" if result is None else result
    except OSError as e:
        return errno.errorcode.get(e.errno, str(e.errno))


def as_member(uid, action, *args, umask=0o022):
    """Runs action(*args) in a child as a member of the class; returns what it returned."""
    reader, writer = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(reader)
        try:
            as_user(*member(uid))()
            os.umask(umask)
            result = action(*args)
        except BaseException:
            result = "probe failed: " + traceback.format_exc().splitlines()[-1]
        with os.fdopen(writer, "wb") as out:
            pickle.dump(result, out)
        os._exit(0)
    os.close(writer)
    with os.fdopen(reader, "rb") as f:
        data = f.read()
    os.waitpid(pid, 0)
    return pickle.loads(data)


def make(path, data=b"x"):
    fd = os.open(path, os.O_RDWR | os.O_CREAT | os.O_TRUNC, 0o664)
    os.write(fd, data)
    return fd


def content(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode(errors="replace") or "empty"
    except OSError as e:
        return "gone" if e.errno == errno.ENOENT else errno.errorcode[e.errno]


def in_child(action, *args):
    """Runs action in a forked child of this member; returns its result (a string)."""
    reader, writer = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(reader)
        os.write(writer, str(action(*args)).encode())
        os._exit(0)
    os.close(writer)
    with os.fdopen(reader, "rb") as f:
        data = f.read().decode()
    os.waitpid(pid, 0)
    return data


# ------------------------------------------------------------- the probes, each run as Аня

def probe_link(d):
    fd = make(os.path.join(d, "a"))
    got = said(os.link, os.path.join(d, "a"), os.path.join(d, "b"))
    if got != "ok":
        return "link: " + got
    a, b = os.lstat(os.path.join(d, "a")), os.lstat(os.path.join(d, "b"))
    return "ok; st_nlink fd %d, a %d, b %d; st_ino a==b %s, fd==a %s" % (
        os.fstat(fd).st_nlink, a.st_nlink, b.st_nlink, a.st_ino == b.st_ino, os.fstat(fd).st_ino == a.st_ino)


def probe_inode_after_rename(d):
    fd = make(os.path.join(d, "r1"))
    before = os.fstat(fd).st_ino
    named = os.lstat(os.path.join(d, "r1")).st_ino == before
    os.close(fd)
    os.rename(os.path.join(d, "r1"), os.path.join(d, "r2"))
    return "fstat==lstat %s; kept by rename %s" % (named, os.lstat(os.path.join(d, "r2")).st_ino == before)


def probe_rename_gap(d, renames=100):
    """Renames over a target again and again while another process looks for the target."""
    tgt = os.path.join(d, "gap.tgt")
    os.close(make(tgt))
    reader, writer = os.pipe()
    looker = os.fork()
    if looker == 0:
        os.close(reader)
        looks = missing = 0
        while not os.path.exists(os.path.join(d, "gap.done")):
            looks += 1
            missing += not os.path.exists(tgt)
        os.write(writer, ("%d %d" % (missing, looks)).encode())
        os._exit(0)
    os.close(writer)
    failed = 0
    for i in range(renames):
        os.close(make(os.path.join(d, "gap.src"), b"%d" % i))
        failed += said(os.rename, os.path.join(d, "gap.src"), tgt) != "ok"
    os.close(make(os.path.join(d, "gap.done")))
    with os.fdopen(reader, "rb") as f:
        missing, looks = f.read().decode().split()
    os.waitpid(looker, 0)
    return "target missing in %s of %s looks during %d renames (%d failed)" % (missing, looks, renames, failed)


def try_lock(path, kind):
    fd = os.open(path, os.O_RDWR)
    if kind == "flock":
        return said(fcntl.flock, fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    return said(fcntl.lockf, fd, fcntl.LOCK_EX | fcntl.LOCK_NB)


def probe_locks(d, kind):
    """A lock held through name a; another process tries it through a, then through b (a hard link)."""
    a, b = os.path.join(d, "lock-" + kind), os.path.join(d, "lock-%s-b" % kind)
    os.close(make(a))
    linked = said(os.link, a, b) == "ok"
    held = try_lock(a, kind)
    if held != "ok":
        return "lock: " + held
    same = in_child(try_lock, a, kind)
    other = in_child(try_lock, b, kind) if linked else "no link"
    return "same name: %s; other name: %s" % ("conflicts" if same in ("EAGAIN", "EACCES") else same,
                                              "conflicts" if other in ("EAGAIN", "EACCES") else other)


def race_create(path):
    try:
        os.close(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644))
        return "won"
    except OSError as e:
        return errno.errorcode[e.errno]


def probe_exclusive_create(d):
    odd, losers = 0, set()
    for round_ in range(ROUNDS):
        path = os.path.join(d, "excl%02d" % round_)
        pids = []
        for _ in range(RACERS):
            reader, writer = os.pipe()
            pid = os.fork()
            if pid == 0:
                os.close(reader)
                os.write(writer, race_create(path).encode())
                os._exit(0)
            os.close(writer)
            pids.append((pid, reader))
        outcomes = []
        for pid, reader in pids:
            with os.fdopen(reader, "rb") as f:
                outcomes.append(f.read().decode())
            os.waitpid(pid, 0)
        odd += outcomes.count("won") != 1
        losers |= set(outcomes) - {"won"}
    return "%d of %d rounds with one winner; others %s" % (ROUNDS - odd, ROUNDS, "/".join(sorted(losers)))


def hold_open(path):
    """A child process that holds path open for a few seconds; returns its pid once it does."""
    reader, writer = os.pipe()
    pid = os.fork()
    if pid == 0:
        held = os.open(path, os.O_RDONLY)
        os.close(writer)
        time.sleep(3)
        os.close(held)
        os._exit(0)
    os.close(writer)
    os.read(reader, 1)
    os.close(reader)
    return pid


def release(pid):
    with contextlib.suppress(OSError):
        os.kill(pid, 9)
        os.waitpid(pid, 0)


def rename_case(d, name, held):
    """rename(src, tgt) over an existing tgt, with src held open by this process
    ("self") or src or tgt by another; returns the result and what stands afterwards."""
    src, tgt = os.path.join(d, name + ".src"), os.path.join(d, name + ".tgt")
    os.close(make(tgt, b"old"))
    fd = make(src, b"new")
    os.fsync(fd)
    if held != "self":
        os.close(fd)
    holder = hold_open(src if held == "other src" else tgt) if held in ("other src", "other tgt") else None
    got = said(os.rename, src, tgt)
    state = "src %s, tgt %s" % (content(src), content(tgt))
    if holder:
        release(holder)
    return "%s (%s)" % (got, state)


def probe_unlink_open(d, by):
    path = os.path.join(d, "unl-" + by)
    fd = make(path, b"data")
    holder = None
    if by == "other":
        os.close(fd)
        holder = hold_open(path)
    got = said(os.unlink, path)
    state = "name %s" % ("still there" if os.path.lexists(path) else "gone")
    if holder:
        release(holder)
    else:
        state += ", fd reads %s" % said(lambda: repr(os.pread(fd, 4, 0)))
    return "%s (%s)" % (got, state)


def probe_modes(d):
    fd = make(os.path.join(d, "modes"))
    results = ["fchmod 0640 %s -> %o" % (said(os.fchmod, fd, 0o640), os.fstat(fd).st_mode & 0o7777),
               "fchown(other uid) %s -> uid %d" % (said(os.fchown, fd, BORYA, -1), os.fstat(fd).st_uid),
               "fchown(-1, group) %s -> gid %d" % (said(os.fchown, fd, -1, GROUP), os.fstat(fd).st_gid)]
    return "; ".join(results)


def probe_root_chown(d):
    fd = make(os.path.join(d, "rootmodes"))
    return "root: fchown(other uid, group) %s -> %d:%d" % (said(os.fchown, fd, ANYA, GROUP), os.fstat(fd).st_uid,
                                                          os.fstat(fd).st_gid)


def probe_clock(d):
    skews, fractions = [], set()
    for i in range(5):
        before = time.time()
        fd = make(os.path.join(d, "clock%d" % i))
        os.fsync(fd)
        info = os.fstat(fd)
        skews.append(info.st_mtime - before)
        fractions.add(info.st_mtime_ns % 1000000000 != 0)
        os.close(fd)
        time.sleep(0.11)
    fd = make(os.path.join(d, "clock-set"))
    wanted = int(time.time()) - 100.25
    set_fd = said(os.utime, fd, (wanted, wanted))
    got_fd = os.fstat(fd).st_mtime - wanted
    set_now = said(os.utime, fd, None)
    lag = os.fstat(fd).st_mtime - time.time()
    return ("mtime - local clock %+.3f..%+.3f s, sub-second %s; futimens(t) %s (off by %+.3f s); futimens(now) %s "
            "(%+.3f s)" % (min(skews), max(skews), "yes" if True in fractions else "no", set_fd, got_fd, set_now, lag))


def probe_fsync(d):
    fd = make(os.path.join(d, "sync"))
    dfd = os.open(d, os.O_RDONLY | os.O_DIRECTORY)
    return "file %s, folder %s" % (said(os.fsync, fd), said(os.fsync, dfd))


def probe_umask(d):
    path = os.path.join(d, "private")
    os.close(make(path))
    return "%o" % (os.lstat(path).st_mode & 0o777)


def probe_read(path):
    return said(lambda: os.close(os.open(path, os.O_RDONLY)))


def probe_special(d):
    link = os.path.join(d, "sym")
    made = said(os.symlink, "target", link)
    nofollow = said(os.open, link, os.O_RDONLY | os.O_NOFOLLOW | os.O_CREAT, 0o644) if made == "ok" else "-"
    return "symlink %s; O_NOFOLLOW open %s; mkfifo %s" % (made, nofollow if isinstance(nofollow, str) else "opened!",
                                                          said(os.mkfifo, os.path.join(d, "fifo"), 0o666))


def full_case(d, name, data):
    """write, fsync and close of a new file on the full medium: the first failure."""
    try:
        fd = os.open(os.path.join(d, name), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
    except OSError as e:
        return "open " + errno.errorcode[e.errno]
    steps = [("write", lambda: None if os.write(fd, data) == len(data) else "short"),
             ("fsync", lambda: os.fsync(fd)), ("close", lambda: os.close(fd))]
    for step, call in steps:
        got = said(call)
        if got != "ok":
            return "%s %s" % (step, got)
    return "no error"


def probe_full(medium, d):
    filler = medium.fill(d)
    try:
        return "small file: %s; 8 KiB file: %s" % (full_case(d, "full-small", b"x" * 100),
                                                  full_case(d, "full-big", b"x" * 8192))
    finally:
        os.unlink(filler)


PROBES = [
    ("link(); st_nlink and st_ino of both names", probe_link),
    ("st_ino: open file vs its name; after rename (closed)", probe_inode_after_rename),
    ("flock(): second process", lambda d: probe_locks(d, "flock")),
    ("fcntl lock: second process", lambda d: probe_locks(d, "fcntl")),
    ("O_CREAT|O_EXCL, %d processes racing" % RACERS, probe_exclusive_create),
    ("rename over target, both closed", lambda d: rename_case(d, "closed", None)),
    ("rename over target: is the target ever missing", probe_rename_gap),
    ("rename, source open by the renamer", lambda d: rename_case(d, "selfsrc", "self")),
    ("rename, source open by another process", lambda d: rename_case(d, "othersrc", "other src")),
    ("rename, target open by another process", lambda d: rename_case(d, "othertgt", "other tgt")),
    ("unlink of a file it holds open", lambda d: probe_unlink_open(d, "self")),
    ("unlink of a file another process holds open", lambda d: probe_unlink_open(d, "other")),
    ("fchmod / fchown as a member", probe_modes),
    ("mtime vs local clock; futimens to a time, to now", probe_clock),
    ("fsync", probe_fsync),
    ("symlink, O_NOFOLLOW, mkfifo", probe_special),
]


def probe_kind(medium):
    """The findings on one medium: (title, result) in order."""
    rows = []
    for title, probe in PROBES:
        d = medium.play_folder()
        rows.append((title, as_member(ANYA, probe, d)))
    d = medium.play_folder()
    rows.append(("fchown as root", probe_root_chown(d)))
    mode = as_member(ANYA, probe_umask, d, umask=0o077)
    rows.append(("umask 077 file (mode) read by another member",
                 "mode %s, read %s" % (mode, as_member(BORYA, probe_read, os.path.join(d, "private")))))
    rows.append(("full medium: first failing call", as_member(ANYA, probe_full, medium, medium.play_folder())))
    fstype = subprocess.run(["stat", "-f", "-c", "0x%t %T", d], capture_output=True, text=True).stdout.strip()
    rows.append(("statfs f_type", fstype))
    return rows


def main(kinds):
    columns = {}
    for kind in kinds:
        reason = mountkit.unavailable(kind)
        if reason:
            columns[kind] = None
            print("%s: skipped, %s" % (kind, reason), file=sys.stderr)
            continue
        started = time.monotonic()
        with mountkit.mounted(kind, GROUP) as medium:
            columns[kind] = probe_kind(medium)
        print("%s probed in %.1f s" % (kind, time.monotonic() - started), file=sys.stderr)
    probed = [k for k in kinds if columns[k]]
    print("| finding | " + " | ".join(probed) + " |")
    print("|---" * (len(probed) + 1) + "|")
    for i, (title, _) in enumerate(columns[probed[0]]):
        print("| %s | %s |" % (title, " | ".join(str(columns[k][i][1]) for k in probed)))


if __name__ == "__main__":
    main(sys.argv[1:] or list(mountkit.KINDS))
