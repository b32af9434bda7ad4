"""Saving under stress: a save killed at every step, failed writes, and many
games saving in one folder at once."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

from gamekit import (BANNER_REST, BINARY, DB, CAN_TRACE, EDUCATED, EXIT_PROMPT, GENIUS, INTRO1, LOCK, PROMPT, RUNNER,
                     SAVE_FAILURE_PREFIX, SCORE, SCORE_FAILURE, SLACKER, STRACE, TEMP, GameTest, Player, cp, game_command,
                     own_names, record, run, tracer_environment, uniform_answers)

# Everything that can change a file, open one, or take the writers' lock.
FILE_CALLS = ["openat", "open", "creat", "write", "writev", "pwrite64", "copy_file_range", "fsync", "fdatasync", "rename",
              "renameat", "renameat2", "close", "ftruncate", "truncate", "chmod", "fchmod", "fchmodat",
              "unlink", "unlinkat", "link", "linkat"]
CALL_RE = re.compile(rb"^(?:\[pid\s+(\d+)\]\s*|(\d+)\s+)?([a-z_0-9]+)\((.*)$")
REPORT_END = EXIT_PROMPT + b"\n\n\n\n\n"

OTHERS = [record("Аня", 1, 12, 13, "еврей", "ебанутый"), record("Боря", 4, 80, 20, "экстримал", EDUCATED)]
OTHERS_GUEST = record("Гость", 2, 40, 10, "еврей", EDUCATED)
REWRITE_OLD = b"\n" + OTHERS[0] + b"\n" + OTHERS_GUEST + b"\n" + OTHERS[1]
# Гость answers all 25 right and 2 in test 2: 65 / 3 = 21.
REWRITE_NEW = b"\n".join([record("Гость", 3, 65, 10, "нормальный", EDUCATED)] + OTHERS)
APPEND_OLD = REWRITE_OLD
APPEND_NEW = APPEND_OLD + b"\n" + record("Новый", 1, 25, 0, "нормальный", GENIUS)
# Where score.dat cannot be appended to, the rewrite way stores the new player first.
APPEND_BY_REWRITE = b"\n".join([record("Новый", 1, 25, 0, "нормальный", GENIUS)] + APPEND_OLD[1:].split(b"\n"))


def calls_after_report(trace):
    """The calls of the game's main thread that a strace log shows after its last write to
    stdout (its report): (call, ordinal among that thread's calls of that name, arguments).
    strace counts a call to fail or stop at per thread; other threads (the lock's heartbeat,
    the sanitizers' run-time) call as their timing falls."""
    counts, calls, main = {}, [], None
    with open(trace, "rb") as f:
        for line in f:
            m = CALL_RE.match(line.rstrip(b"\n"))
            if not m:
                continue
            pid = m.group(1) or m.group(2)
            main = main or pid
            if pid != main:
                continue
            call = m.group(3).decode()
            counts[call] = counts.get(call, 0) + 1
            calls.append((call, counts[call], m.group(4)))
    last_report = max(i for i, (call, _, args) in enumerate(calls)
                      if call in ("write", "writev") and args.startswith(b"1,"))
    return calls[last_report + 1:]


def game_input(name):
    return uniform_answers(cp(name), 25, b"2")


@unittest.skipIf(RUNNER, "the kills and faults hit Linux system calls by name; under Wine the game's "
                         "file calls reach Linux through wineserver, so they do not map one to one")
@unittest.skipUnless(CAN_TRACE, "strace is not installed or may not trace here")
class InterruptedSaves(GameTest):
    """Runs the game under strace; a save is killed, or has a call fail, at each of its steps."""

    def setUp(self):
        super().setUp()
        self.aux = tempfile.mkdtemp(prefix="pz-e2e-aux-")
        self.addCleanup(shutil.rmtree, self.aux, True)

    def prepare(self, score, name):
        """Puts the starting files in place; returns the path of the input file."""
        self.db.write(self.dir.path)
        self.dir.write(SCORE, score)
        for left in [TEMP, LOCK] + own_names(self.dir.path):   # what a game killed in the case before left
            if os.path.lexists(self.dir.file(left)):
                os.remove(self.dir.file(left))
        path = os.path.join(self.aux, "input")
        with open(path, "wb") as f:
            f.write(game_input(name))
        return path

    def traced(self, stdin_path, options):
        """Runs the game under strace with the given options; returns (rc, stdout, stderr)."""
        out_path, err_path = os.path.join(self.aux, "out"), os.path.join(self.aux, "err")
        with open(stdin_path, "rb") as stdin, open(out_path, "wb") as out, open(err_path, "wb") as err:
            proc = subprocess.run([STRACE, "-f"] + options + [BINARY], cwd=self.dir.path, stdin=stdin,
                                  stdout=out, stderr=err, timeout=60, env=tracer_environment())
        with open(out_path, "rb") as f, open(err_path, "rb") as g:
            return proc.returncode, f.read(), g.read()

    def save_calls(self, score, name):
        """The file calls a save makes, from one traced run: (call, ordinal among calls of
        that name, trace line) for every call after the report's last write, up to the
        release of the lock (what the sanitizers' run-time does at exit comes after)."""
        stdin_path = self.prepare(score, name)
        trace = os.path.join(self.aux, "trace")
        rc, out, _ = self.traced(stdin_path, ["-o", trace, "-e", "trace=" + ",".join("?" + c for c in FILE_CALLS)])
        self.assertEqual(rc, 0)
        self.assertTrue(out.endswith(REPORT_END))
        save = calls_after_report(trace)
        self.assertTrue(any(call in ("open", "openat") and cp(LOCK) in args and b"O_EXCL" in args
                            for call, _, args in save), "the save takes no lock")
        released = [i for i, (call, _, args) in enumerate(save) if call.startswith("unlink") and cp(LOCK) in args]
        return save[:released[-1] + 1] if released else save

    def crash_at_every_step(self, old, new, name):
        save = self.save_calls(old, name)
        outcomes = set()
        for call, ordinal, args in save:
            with self.subTest(call=call, ordinal=ordinal, args=args[:80]):
                stdin_path = self.prepare(old, name)
                rc, out, _ = self.traced(stdin_path, ["-o", os.devnull, "-e", "trace=" + call,
                                                      "-e", "inject=%s:signal=KILL:when=%d" % (call, ordinal)])
                self.assertIn(rc, (-9, 137), "the game was not killed")
                self.assertTrue(out.endswith(REPORT_END), "killed before the report was out")
                after = self.dir.read(SCORE)
                self.assertIn(after, (old, new), "score.dat is neither the old nor the new content")
                outcomes.add(after)
        return save, outcomes

    def test_killed_rewrite_leaves_old_or_new(self):
        save, outcomes = self.crash_at_every_step(REWRITE_OLD, REWRITE_NEW, "Гость")
        self.assertEqual(outcomes, {REWRITE_OLD, REWRITE_NEW}, "the kills did not span the replacement")
        self.assertGreaterEqual(len(save), 8)

    def test_killed_append_leaves_old_or_new(self):
        _, outcomes = self.crash_at_every_step(APPEND_OLD, APPEND_NEW, "Новый")
        self.assertEqual(outcomes, {APPEND_OLD, APPEND_NEW}, "the kills did not span the append")

    def test_rewrite_killed_at_its_commit_leaves_nothing_stale(self):
        # Killed as it renames its copy over score.dat, the game leaves the old or the new
        # score file, and the old one kept under its own name: the next game to take the
        # lock merges that in (nothing it holds is newer) and leaves nothing behind.
        save = self.save_calls(REWRITE_OLD, "Гость")
        commits = [(c, n) for c, n, args in save if c.startswith("rename") and cp(SCORE) in args]
        self.assertEqual(len(commits), 1, save)
        stdin_path = self.prepare(REWRITE_OLD, "Гость")
        call, ordinal = commits[0]
        self.traced(stdin_path, ["-o", os.devnull, "-e", "trace=" + call,
                                 "-e", "inject=%s:signal=KILL:when=%d" % (call, ordinal)])
        after = self.dir.read(SCORE)
        self.assertIn(after, (REWRITE_OLD, REWRITE_NEW), "score.dat")
        guest = record("Гость", 3, 65, 10, "нормальный", EDUCATED) if after == REWRITE_NEW else OTHERS_GUEST
        result = run(self.dir.path, uniform_answers(cp("Аня"), 25))
        self.assertEqual(result.returncode, 0)
        self.assertBytes(self.dir.read(SCORE), b"\n".join([
            record("Аня", 2, 37, 13, "еврей", SLACKER), guest, OTHERS[1]]), "score.dat")   # 37 / 2 = 18
        self.assertBytes(self.dir.read(TEMP), b"", TEMP)
        self.assertEqual(own_names(self.dir.path), [])

    def failed_calls(self, old, name):
        """Calls of a save on score.dat or the temporary file that open it for writing, write,
        flush, close a writer, free the temporary name, or replace score.dat, up to the commit
        (the replacement, or the flush of an append): any of them failing must leave score.dat
        as it was, or saved whole another way. Calls on other descriptors (the run-time's own,
        the lock's) are left alone."""
        errors = {"write": "ENOSPC", "writev": "ENOSPC", "pwrite64": "ENOSPC", "copy_file_range": "ENOSPC",
                  "fsync": "EIO", "fdatasync": "EIO",
                  "close": "EIO", "rename": "EIO", "renameat": "EIO", "renameat2": "EIO", "openat": "EACCES",
                  "open": "EACCES", "creat": "EACCES", "unlink": "EPERM", "unlinkat": "EPERM"}
        def is_save_file(name):
            return name in (cp(SCORE), cp(TEMP)) or re.match(rb"~pz2004\.(tmp|new|old)\.", name) is not None

        picked, writers = [], {}   # descriptor -> the file it writes, for the descriptors opened on files
        for call, ordinal, args in self.save_calls(old, name):
            if call in ("openat", "open", "creat"):
                opened = re.search(rb'"([^"]*)".*= (\d+)$', args)
                if not opened or not is_save_file(opened.group(1)):
                    continue
                if re.search(rb"O_WRONLY|O_RDWR|O_CREAT", args) is None:
                    continue
                writers[opened.group(2)] = opened.group(1)
            elif call in ("write", "writev", "pwrite64", "fsync", "fdatasync", "close"):
                fd = re.match(rb"(\d+)", args).group(1)
                if fd not in writers:
                    continue
                if call == "close":
                    writers.pop(fd)
            elif call == "copy_file_range":  # its second descriptor is the one written
                if re.match(rb"\d+, [^,]+, (\d+)", args).group(1) not in writers:
                    continue
            elif call in ("unlink", "unlinkat"):  # freeing the temporary name, not the lock's own
                named = re.search(rb'"([^"]*)"', args)
                if not named or not is_save_file(named.group(1)):
                    continue
            elif call not in errors or (call.startswith("rename") and cp(LOCK) in args):
                continue
            picked.append((call, ordinal, errors[call], args))
            append_flushed = call == "fsync" and writers.get(re.match(rb"(\d+)", args).group(1)) == cp(SCORE)
            if (call.startswith("rename") and cp(SCORE) in args) or append_flushed:
                break   # the commit
        return picked

    def check_failures_keep_score_file(self, old, name, saved_otherwise=None):
        picked = self.failed_calls(old, name)
        self.assertTrue(any(c in ("write", "writev", "pwrite64") for c, _, _, _ in picked), picked)
        self.assertTrue(any(c in ("fsync", "fdatasync") for c, _, _, _ in picked), picked)
        self.assertTrue(any(c in ("open", "openat") for c, _, _, _ in picked), picked)
        for call, ordinal, error, args in picked:
            with self.subTest(call=call, ordinal=ordinal, error=error, args=args[:80]):
                stdin_path = self.prepare(old, name)
                rc, out, err = self.traced(stdin_path, ["-o", os.devnull, "-e", "trace=" + call,
                                                        "-e", "inject=%s:error=%s:when=%d" % (call, error, ordinal)])
                self.assertTrue(out.endswith(REPORT_END))
                self.assertEqual(self.dir.read(TEMP) if self.dir.exists(TEMP) else b"", b"", "a partial copy stayed")
                self.assertEqual(own_names(self.dir.path), [], "a copy stayed")
                if rc == 0 and saved_otherwise is not None:
                    self.assertBytes(self.dir.read(SCORE), saved_otherwise, "score.dat")
                    self.assertEqual(err, b"")
                    continue
                self.assertEqual(rc, 1)
                self.assertBytes(self.dir.read(SCORE), old, "score.dat")
                self.assertTrue(err.startswith(SAVE_FAILURE_PREFIX), err)
                self.assertEqual(err.count(b"\n"), 1, err)
                self.assertTrue(err.endswith(b"\n"), err)

    def test_failed_rewrite_keeps_score_file(self):
        self.check_failures_keep_score_file(REWRITE_OLD, "Гость", saved_otherwise=REWRITE_NEW)

    def test_failed_append_keeps_score_file(self):
        self.check_failures_keep_score_file(APPEND_OLD, "Новый", saved_otherwise=APPEND_BY_REWRITE)


class SaveFailures(GameTest):

    def test_folder_under_the_locks_name_is_refused_before_the_first_question(self):
        self.setup_files(score=REWRITE_OLD)
        os.mkdir(self.dir.file(LOCK))
        result = run(self.dir.path, game_input("Новый"))
        self.assertEqual(result.returncode, 1)
        self.assertGameOutput(result.stdout, BANNER_REST + SCORE_FAILURE)
        self.assertBytes(self.dir.read(SCORE), REWRITE_OLD, "score.dat")
        self.assertTrue(result.stderr.startswith(b"prozorometr: cannot save at the end of the game: a folder stands at"),
                        result.stderr)
        self.assertEqual(result.stderr.count(b"\n"), 1, result.stderr)

    def test_whole_copy_left_is_put_back_and_a_partial_one_never(self):
        # A share that removed score.dat before its rename failed left the new content
        # only under the copy's name; the next game puts it back, then plays on it.
        whole, partial = "~pz2004.new.00000000000000aa", "~pz2004.tmp.00000000000000bb"
        self.setup_files(score=None)
        self.dir.write(whole, REWRITE_NEW)
        result = run(self.dir.path, game_input("Аня"))
        self.assertEqual((result.returncode, result.stderr.replace(b"\r\n", b"\n")),   # Windows ends lines so
                         (0, b"prozorometr: score.dat was missing; put back from " + cp(whole) +
                             b", where a save that did not end left it\n"))
        self.assertBytes(self.dir.read(SCORE), b"\n".join([record("Аня", 2, 37, 13, "нормальный", SLACKER)]
                                                          + REWRITE_NEW.split(b"\n")[:1] + OTHERS[1:]), "score.dat")
        self.assertFalse(self.dir.exists(whole))
        # A copy cut short is never put back: a missing score.dat still ends the game at once.
        os.remove(self.dir.file(SCORE))
        self.dir.write(partial, REWRITE_NEW[:-7])
        result = run(self.dir.path, game_input("Аня"))
        self.assertEqual(result.returncode, 1)
        self.assertGameOutput(result.stdout, BANNER_REST + SCORE_FAILURE)
        self.assertEqual(sorted(os.listdir(self.dir.path)), sorted([DB, TEMP, partial]),
                         "the lookup changed the folder")


class ConcurrentSaves(GameTest):

    def test_many_games_saving_at_once_lose_no_record(self):
        self.setup_files()
        returning = ["Старый%02d" % i for i in range(20)]
        new = ["Новый%02d" % i for i in range(60)]
        self.dir.write(SCORE, b"\n" + b"\n".join(record(n, 3, 60, 15, "еврей", EDUCATED) for n in returning))
        # Every game answers all right and 4 in test 2.
        games = []
        try:
            for name in returning + new:
                games.append(subprocess.Popen(game_command(), cwd=self.dir.path, stdin=subprocess.PIPE,
                                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE))
            # Started first, fed afterwards, so that the saves fall close together.
            for name, game in zip(returning + new, games):
                game.stdin.write(uniform_answers(cp(name), 25, b"4"))
                game.stdin.close()
            for game in games:
                rc, err = game.wait(timeout=120), game.stderr.read()
                self.assertEqual(rc, 0, err)
                # A save that waits for the others long enough says so, once; nothing else goes there.
                self.assertRegex(err, rb"\A(prozorometr: another game is saving; waiting[^\n]*\n)?\Z")
        finally:
            for game in games:
                if game.poll() is None:
                    game.kill()
                    game.wait()
                game.stderr.close()
        expected = sorted([record(n, 4, 85, 15, "экстримал", EDUCATED) for n in returning]   # 85 / 4 = 21
                          + [record(n, 1, 25, 0, "экстримал", GENIUS) for n in new])
        content = self.dir.read(SCORE)
        lines = content[1:].split(b"\n") if content.startswith(b"\n") else content.split(b"\n")
        self.assertEqual(sorted(lines), expected)


class SameNameSavedMeanwhile(GameTest):

    def test_record_stored_by_another_game_of_the_name_is_replaced(self):
        self.setup_files(score=APPEND_OLD)
        player = Player(self.dir.path)
        try:
            player.wait_for_end(PROMPT, "the name prompt")
            player.send(cp("Новый") + b"\n")
            player.wait_for_end(INTRO1, "the test-1 introduction")  # the lookup found no record
            self.dir.write(SCORE, APPEND_OLD + b"\n" + record("Новый", 1, 3, 22, "еврей", SLACKER))
            player.send(game_input("Новый")[len(cp("Новый")) + 1:])
            rc, _, err = player.finish()
        finally:
            player.kill()
        self.assertEqual((rc, err), (0, b""))
        self.assertBytes(self.dir.read(SCORE), APPEND_BY_REWRITE, "score.dat")


if __name__ == "__main__":
    unittest.main()
