"""The save tests on every file system a class keeps its play folder on (a loop
image, FUSE views of a folder, a Windows disk, a USB stick, SFTP and SMB shares,
mounted by mountkit): a save held while it holds the lock, eight returning players
at once, a group member's rewrite, a game on another host right after, a kill at
each step of a save, a full medium. The players are unprivileged class members."""

import contextlib
import ctypes
import os
import re
import signal
import subprocess
import time
import unittest

import mountkit
from gamekit import (ANYA, BINARY, BORYA, CAN_TRACE, GENIUS, GROUP, LOCK, LOCK_WAIT, SAVE_FAILURE_PREFIX, SCORE,
                     STRACE, TEMP, GameTest, as_user, cp, game_command, member, record, run, shorten_lock_waits,
                     traced_command, tracer_environment, uniform_answers)
from test_saving import FILE_CALLS, REPORT_END, calls_after_report

shorten_lock_waits()
GAME_TIMEOUT = LOCK_WAIT + 30
HOLD_SECONDS = 3             # how long the held save keeps the lock: longer than a lock may stay unchanged
WAIT_PREFIX = b"prozorometr: another game is saving; waiting"
OTHERS = ["Класс%02d" % i for i in range(12)]   # records nobody touches in a test
KILL_CALLS = FILE_CALLS + ["fchown", "fchownat", "utimensat", "ftruncate"]
LIBC = ctypes.CDLL(None, use_errno=True)
CLONE_NEWUTS = 0x04000000
# Media that hand a reader bytes nobody wrote while other processes use the folder:
# no save can keep every record there; that games wait for a held lock is all a test can show.
WRONG_UNDER_CONCURRENT_USE = {
    "fat32": "fusefat gives concurrent readers wrong bytes: 1,024-byte reads half zeros while another process "
             "renames files, and, single-threaded, wrong sizes and EPERM on a plain read",
}


def old(name):
    return record(name, 1, 25, 0, "еврей", GENIUS)


def saved(name, games=1):
    """name's record after games saved games, each all right, answering 4 in test 2."""
    return record(name, games, 25 * games, 0, "экстримал", GENIUS)


def play_input(name):
    return uniform_answers(cp(name), 25, b"4")


def records(folder):
    """The records in score.dat, sorted; None when there is no score.dat."""
    try:
        with open(os.path.join(folder, SCORE), "rb") as f:
            return sorted(line for line in f.read().split(b"\n") if line)
    except FileNotFoundError:
        return None


def write_score(folder, content):
    with open(os.path.join(folder, SCORE), "wb") as f:
        f.write(content)


def class_score(folder, content):
    """score.dat as a member's launcher in a class folder leaves it: the group's, 0664."""
    write_score(folder, content)
    os.chown(os.path.join(folder, SCORE), ANYA, GROUP)
    os.chmod(os.path.join(folder, SCORE), 0o664)


def on_other_host(uid):
    """A preexec_fn: the game runs as member uid on a machine of another name."""
    switch = as_user(*member(uid))

    def enter():
        if LIBC.unshare(CLONE_NEWUTS) != 0 or LIBC.sethostname(b"elsewhere", 9) != 0:
            raise OSError(ctypes.get_errno(), "cannot take another host name")
        switch()
    return enter


class FileSystemSaves(GameTest):
    """The save tests on one kind of medium (KIND), mounted once for all of them."""

    KIND = None

    @classmethod
    def setUpClass(cls):
        stack = contextlib.ExitStack()
        cls.addClassCleanup(stack.close)
        cls.medium = stack.enter_context(mountkit.mounted(cls.KIND, GROUP))

    def class_folder(self, score_records, owner=ANYA, medium=None):
        """A fresh play folder with the database and score.dat (made by owner, a member)."""
        folder = (medium or self.medium).play_folder()
        self.db.write(folder)
        self.as_member(owner, self.write_score, folder, b"\n".join(score_records))
        return folder

    write_score = staticmethod(lambda folder, content: write_score(folder, content))

    def as_member(self, uid, action, *args):
        pid = os.fork()
        if pid == 0:
            try:
                as_user(*member(uid))()
                os.umask(0o002)
                action(*args)
                os._exit(0)
            except BaseException:
                os._exit(1)
        self.assertEqual(os.waitpid(pid, 0)[1], 0, "a member could not %s" % action.__name__)

    def play(self, folder, name, uid, **popen):
        """A whole piped game of name as member uid; returns (returncode, stderr, seconds)."""
        popen.setdefault("preexec_fn", as_user(*member(uid)))
        started = time.monotonic()
        result = run(folder, play_input(name), timeout=GAME_TIMEOUT, **popen)
        return result.returncode, result.stderr, time.monotonic() - started

    # ---------------------------------------------------------------- checks

    def assertNoLeftovers(self, folder):
        """No lock, no private lock name, an empty or no temporary copy."""
        names = set(os.listdir(folder))
        self.assertEqual([n for n in names if n.startswith(LOCK)], [], "a lock was left behind")
        if TEMP in names:
            self.assertEqual(os.path.getsize(os.path.join(folder, TEMP)), 0, "%s keeps a copy" % TEMP)

    def assertOneFailureLine(self, err):
        """A failed save says so in one line (after any lines saying that it waited)."""
        lines = err.split(b"\n")
        self.assertEqual(lines[-1], b"", err)
        self.assertTrue(lines[-2].startswith(SAVE_FAILURE_PREFIX), err)
        self.assertTrue(all(line.startswith(WAIT_PREFIX) for line in lines[:-2]), err)

    def assertSavedOrSaid(self, rc, err):
        """Exit 0 with at most a line saying it waited, or exit 1 with one line saying what failed."""
        self.assertIn(rc, (0, 1), err)
        if rc == 0:
            self.assertTrue(err == b"" or (err.startswith(WAIT_PREFIX) and err.count(b"\n") == 1), err)
        else:
            self.assertOneFailureLine(err)

    # ---------------------------------------------------------------- the cases

    def test_group_members_rewrite_and_a_game_on_another_host(self):
        folder = self.class_folder([old(n) for n in OTHERS])
        games = [("Аня", ANYA, 1), ("Боря", BORYA, 1), ("Боря", BORYA, 2), ("Аня", ANYA, 2), ("Боря", BORYA, 3)]
        expected = {n: old(n) for n in OTHERS}
        for name, uid, count in games:
            with self.subTest(name=name, game=count):
                rc, err, _ = self.play(folder, name, uid)
                self.assertEqual((rc, err), (0, b""), "a member's save in score.dat written by the other")
                expected[name] = saved(name, count)
                self.assertEqual(records(folder), sorted(expected.values()))
                self.assertNoLeftovers(folder)
        # Another machine's game right after: nothing left may make it wait for a lock.
        rc, err, seconds = self.play(folder, "Аня", ANYA, preexec_fn=on_other_host(ANYA))
        self.assertEqual((rc, err), (0, b""), "a game on another host after %.1f s" % seconds)
        expected["Аня"] = saved("Аня", 3)
        self.assertEqual(records(folder), sorted(expected.values()))
        self.assertNoLeftovers(folder)

    def test_eight_returning_players_at_once(self):
        players = ["Игрок%d" % i for i in range(8)]
        folder = self.class_folder([old(n) for n in players + OTHERS])
        games = dict.fromkeys(players, 1)
        for round_ in range(3):
            with self.subTest(round=round_):
                procs = [subprocess.Popen(game_command(), cwd=folder, stdin=subprocess.PIPE,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                          preexec_fn=as_user(*member((ANYA, BORYA)[i % 2])))
                         for i in range(len(players))]
                outcomes = [self.finish(proc, play_input(name)) for proc, name in zip(procs, players)]
                for name, (rc, err) in zip(players, outcomes):
                    self.assertSavedOrSaid(rc, err)
                    games[name] += rc == 0
                self.assertEqual(records(folder), sorted([old(n) for n in OTHERS] + [
                    saved(n, games[n]) if games[n] > 1 else old(n) for n in players]),
                    "a record lost, or a game that said it saved did not")
                self.assertNoLeftovers(folder)
        self.assertGreater(sum(games.values()), len(players), "no game saved at all")

    def test_full_medium_keeps_every_record(self):
        # 200 records, so the copy cannot hide in the slack of a block or a file-table entry.
        # On a medium of its own: fusefat, once full, gives files written later back as
        # zeros, which would spoil the medium of the other tests.
        players = OTHERS + ["Игрок%03d" % i for i in range(188)]
        medium = self.enterContext(mountkit.mounted(self.KIND, GROUP))
        for name, uid in (("Игрок000", ANYA), ("Новый", BORYA)):   # a rewrite, an append
            with self.subTest(name=name):
                folder = self.class_folder([old(n) for n in players], medium=medium)
                before = records(folder)
                filler = medium.fill(folder)
                try:
                    rc, err, _ = self.play(folder, name, uid)
                finally:
                    os.unlink(filler)
                self.assertSavedOrSaid(rc, err)
                if rc:   # words a player can act on
                    self.assertIn(b"(the disk or share may be full", err)
                if name == "Игрок000":
                    self.assertEqual(rc, 1, "a rewrite saved on a full medium")
                self.assertEqual(records(folder), before if rc else sorted(before + [saved(name)]))
                self.assertNoLeftovers(folder)
                # Room again: the next save stores its record with all the others.
                self.assertEqual(self.play(folder, "Игрок001", BORYA)[:2], (0, b""))

    def test_second_game_waits_for_a_held_save(self):
        self.require_tracing()
        folder = self.class_folder([old(n) for n in OTHERS + ["Аня", "Боря"]])
        # Аня's save is held at its first rename, where it puts its copy in place holding the lock.
        renames = "rename,renameat,renameat2"
        held = subprocess.Popen(traced_command("-e", "trace=" + renames, "-e", "inject=%s:delay_enter=%d:when=1"
                                               % (renames, HOLD_SECONDS * 1000000)),
                                cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                env=tracer_environment(), preexec_fn=as_user(*member(ANYA)))
        self.addCleanup(self.finish, held, None)
        held.stdin.write(play_input("Аня"))
        held.stdin.close()
        self.wait_for(lambda: os.path.lexists(os.path.join(folder, LOCK)) or held.poll() is not None)
        if held.poll() is not None:
            self.fail("the held game ended before it took the lock: %r" % held.stderr.read())
        # Meanwhile Боря (a rewrite) and Новый (an append) save; neither may store
        # anything before Аня's copy is in place.
        second = [subprocess.Popen(game_command(), cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE, preexec_fn=as_user(*member(BORYA)))
                  for _ in range(2)]
        for proc, name in zip(second, ("Боря", "Новый")):
            proc.stdin.write(play_input(name))
            proc.stdin.close()
        while held.poll() is None:
            try:
                now = records(folder) or []
            except OSError:   # fusefat, busy, may refuse a plain read for a moment
                continue
            if saved("Аня", 2) not in now:
                early = {saved("Боря", 2), saved("Новый")} & set(now)
                self.assertFalse(early, "a second game saved while the first held the lock: %s"
                                 % [r.decode("cp1251") for r in early])
            time.sleep(0.02)
        outcomes = [(held.wait(), held.stderr.read())] + [self.finish(proc, None) for proc in second]
        for rc, err in outcomes:
            self.assertSavedOrSaid(rc, err)
        self.assertNoLeftovers(folder)
        if self.KIND in WRONG_UNDER_CONCURRENT_USE:
            self.skipTest("the games waited; the records are not compared: " + WRONG_UNDER_CONCURRENT_USE[self.KIND])
        self.assertEqual([rc for rc, _ in outcomes], [0, 0, 0], outcomes)
        self.assertEqual(outcomes[0][1], b"")
        self.assertEqual(records(folder), sorted([old(n) for n in OTHERS] + [saved("Аня", 2), saved("Боря", 2),
                                                                             saved("Новый")]))

    def test_kill_at_each_step_of_a_save(self):
        self.require_tracing()
        start = [old(n) for n in OTHERS + ["Аня", "Боря"]]
        rewritten = [r for r in start if r != old("Аня")] + [saved("Аня", 2)]
        for name, done in (("Аня", rewritten), ("Новый", start + [saved("Новый")])):   # a rewrite, an append
            for call, ordinal, args in self.save_steps(start, name):
                seconds = 0
                with self.subTest(player=name, call=call, ordinal=ordinal, args=args[:70]):
                    folder = self.class_folder(start)
                    killed = subprocess.run(traced_command("-e", "trace=" + call,
                                                           "-e", "inject=%s:signal=KILL:when=%d" % (call, ordinal)),
                                            cwd=folder, input=play_input(name), capture_output=True,
                                            timeout=GAME_TIMEOUT, env=tracer_environment(),
                                            preexec_fn=as_user(*member(ANYA)))
                    self.assertIn(killed.returncode, (-9, 137), "the game was not killed")
                    after = records(folder)
                    self.assertIn(after, (sorted(start), sorted(done)), "score.dat is neither the old nor the new one")
                    rc, err, seconds = self.play(folder, "Боря", BORYA)
                    self.assertEqual(rc, 0, "the next game after %.1f s: %r" % (seconds, err))
                    self.assertSavedOrSaid(rc, err)
                    self.assertEqual(records(folder),
                                     sorted([r for r in after if r != old("Боря")] + [saved("Боря", 2)]))
                    self.assertNoLeftovers(folder)
                if seconds > LOCK_WAIT / 2:
                    break   # the steps after one that left the lock held would each cost a lock wait

    def save_steps(self, start, name):
        """The file calls of name's save on this medium that change something, from one
        traced game: (call, ordinal among calls of that name, arguments) for each call
        after the report, but for opens that only read and their closes (a kill there
        stands where the step before or after it would)."""
        folder = self.class_folder(start)
        trace = os.path.join(self.dir.path, "trace")
        os.chmod(self.dir.path, 0o711)
        with open(trace, "wb"):
            os.chown(trace, ANYA, GROUP)
        result = subprocess.run([STRACE, "-f", "-o", trace, "-e", "trace=" + ",".join("?" + c for c in KILL_CALLS),
                                 BINARY], cwd=folder, input=play_input(name), capture_output=True,
                                timeout=GAME_TIMEOUT, env=tracer_environment(), preexec_fn=as_user(*member(ANYA)))
        self.assertTrue(result.stdout.endswith(REPORT_END), result.stderr)
        self.assertEqual((result.returncode, result.stderr), (0, b""), "the save to be killed fails by itself")
        steps, readers = [], set()
        for call, ordinal, args in calls_after_report(trace):
            opened = re.search(rb"= (\d+)$", args) if call in ("open", "openat") else None
            if opened and not re.search(rb"O_WRONLY|O_RDWR|O_CREAT", args):
                readers.add(opened.group(1))
                continue
            if call == "close" and args.split(b")")[0] in readers:
                readers.discard(args.split(b")")[0])
                continue
            steps.append((call, ordinal, args))
        return steps

    def require_tracing(self):
        if not CAN_TRACE:
            self.skipTest("strace is not installed or may not trace here")

    def wait_for(self, condition, seconds=10):
        deadline = time.monotonic() + seconds
        while not condition() and time.monotonic() < deadline:
            time.sleep(0.01)

    @staticmethod
    def finish(proc, stdin):
        try:
            _, err = proc.communicate(stdin, timeout=GAME_TIMEOUT)
        except ValueError:   # its input was already given and closed
            err = proc.stderr.read()
            proc.wait(timeout=GAME_TIMEOUT)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            for pipe in filter(None, (proc.stdout, proc.stderr)):
                pipe.close()
        return proc.returncode, err


@unittest.skipIf(mountkit.unavailable("bindfs") or not CAN_TRACE,
                 mountkit.unavailable("bindfs") or "strace is not installed or may not trace here")
class StoppedOnAnotherHost(GameTest):
    """A game stopped whole right before its commit, after its last look at the lock, on
    another machine; its lock is cleared as it must be, three games save, and it resumes:
    the folder is seen through two mounts, as two machines see one share, so the system's
    lock taken through one does not reach the other."""

    @classmethod
    def setUpClass(cls):
        stack = contextlib.ExitStack()
        cls.addClassCleanup(stack.close)
        cls.views = stack.enter_context(mountkit.two_views(GROUP))

    def stop_point(self, folder, name):
        """Where name's save is stopped: right after its last look at the lock before it
        commits (the rename over score.dat of a rewrite, the write of an append's record),
        that is at the read of that look, as (call, ordinal among calls of that name).
        strace stops a game as a call returns, so this is the call before the commit."""
        trace = os.path.join(self.dir.path, "trace")
        result = subprocess.run([STRACE, "-f", "-o", trace, "-e", "trace=openat,pread64,write,rename,renameat2",
                                 BINARY], cwd=folder, input=play_input(name), capture_output=True,
                                timeout=GAME_TIMEOUT, env=tracer_environment())
        self.assertEqual(result.returncode, 0, result.stderr)
        appending, last_look = None, None
        for call, ordinal, args in calls_after_report(trace):
            opened = re.search(rb'"score.dat", O_RDWR.*O_APPEND.* = (\d+)$', args)
            if call == "openat" and opened:
                appending = opened.group(1)
            if call == "pread64":
                last_look = (call, ordinal)
            commit = (call.startswith("rename") and b'"score.dat"' in args) or \
                     (call == "write" and appending and args.startswith(appending + b","))
            if commit:
                return last_look
        self.fail("no commit in the save of %s" % name)

    def stopped_game(self, folder, name, call, ordinal):
        game = subprocess.Popen([STRACE, "-f", "-o", os.devnull, "-e", "trace=" + call,
                                 "-e", "inject=%s:signal=STOP:when=%d" % (call, ordinal), BINARY],
                                cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                env=tracer_environment(), preexec_fn=on_other_host(ANYA))
        game.stdin.write(play_input(name))
        game.stdin.close()
        deadline = time.monotonic() + GAME_TIMEOUT
        while not (stopped := self.is_stopped(game)) and time.monotonic() < deadline:
            time.sleep(0.02)
        self.assertTrue(stopped, "the game did not stop before its commit")
        return game

    @staticmethod
    def children(game):
        return [int(p) for p in subprocess.run(["pgrep", "-P", str(game.pid)], capture_output=True).stdout.split()]

    def is_stopped(self, game):
        for pid in self.children(game):
            with contextlib.suppress(OSError), open("/proc/%d/stat" % pid) as f:
                if f.read().rsplit(")", 1)[1].split()[0] in "tT":
                    return True
        return False

    def test_a_game_stopped_before_its_commit_loses_nothing(self):
        for name in ("Гость", "Новый"):   # a rewrite stopped before its rename, an append before its write
            with self.subTest(name=name):
                start = [old(n) for n in OTHERS + ["Гость", "Боря", "Вика"]]
                here = mountkit.play_folder(os.path.join(self.views[0], name), GROUP)
                there = os.path.join(self.views[1], name)
                self.db.write(here)
                class_score(here, b"\n".join(start))
                call, ordinal = self.stop_point(here, name)
                class_score(here, b"\n".join(start))
                for left in os.listdir(here):
                    if left.startswith("~"):
                        os.remove(os.path.join(here, left))
                stopped = self.stopped_game(here, name, call, ordinal)
                others = [subprocess.run(game_command(), cwd=there, input=play_input(n), capture_output=True,
                                         timeout=GAME_TIMEOUT, preexec_fn=as_user(*member(BORYA)))
                          for n in ("Боря", "Вика", "Игрок")]
                for game in others:
                    self.assertEqual(game.returncode, 0, game.stderr)
                for pid in [stopped.pid] + self.children(stopped):
                    os.kill(pid, signal.SIGCONT)
                rc, err = stopped.wait(timeout=GAME_TIMEOUT), stopped.stderr.read()
                stopped.stderr.close()
                if name == "Гость":   # its copy was removed meanwhile: it saves nothing and says so
                    self.assertEqual(rc, 1, err)
                    self.assertTrue(err.startswith(SAVE_FAILURE_PREFIX + b"another game took over"), err)
                    self.assertEqual(err.count(b"\n"), 1, err)
                else:   # its record went into a file replaced meanwhile: it finds out and appends again
                    self.assertEqual((rc, err), (0, b""))
                expected = [r for r in start if r not in (old("Боря"), old("Вика"))]
                expected += [saved("Боря", 2), saved("Вика", 2), saved("Игрок")]
                if rc == 0:
                    expected = [r for r in expected if r != old(name)] + [saved(name, 2 if name == "Гость" else 1)]
                self.assertEqual(records(here), sorted(expected))
                self.assertEqual([n for n in os.listdir(here) if n.startswith("~") and n != TEMP], [])


def kinds():
    """One test class per kind of medium, named after it; skipped, saying why, where
    that kind cannot be mounted."""
    for kind in mountkit.KINDS:
        name = "On" + "".join(part.capitalize() for part in kind.split("_"))
        cls = type(name, (FileSystemSaves,), {"KIND": kind})
        reason = mountkit.unavailable(kind)
        globals()[name] = unittest.skip(reason)(cls) if reason else cls


kinds()
del FileSystemSaves   # only its kinds run

if __name__ == "__main__":
    unittest.main()
