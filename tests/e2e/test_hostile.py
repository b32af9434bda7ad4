"""Hostile folders, odd bytes and stale records: objects planted under the game's
file names, a closed stderr, NUL bytes in stored records, a play folder shared by
two players and a hostile third user of their group, and the folder set-ups of a
class: group and sticky folders, locks that fail or are held, size limits."""

import fcntl
import os
import pathlib
import resource
import shutil
import signal
import stat
import subprocess
import time
import unittest

from gamekit import (ANYA, BANNER_REST, BEATING_WAITS, BINARY, BORYA, CAN_TRACE, DB, DB_FAILURE, EVE, GENIUS, GROUP,
                     INTRO1, LOCK, LOCK_WAIT, SAVE_FAILURE_PREFIX, WAIT_LINE, member, own_names, shorten_lock_waits,
                     SCORE, SCORE_FAILURE, TEMP, UNKNOWN, Database, GameTest, HeldLock, answer_first_after, as_user,
                     cp, expected_game, game_command, lock_text, record, run, screen, shown_records, summary,
                     traced_command, tracer_environment, uniform_answers)

HANG_TIMEOUT = 10          # a game blocked on a FIFO fails the test instead of holding it up
IS_ROOT = os.geteuid() == 0
# Every game answers all 25 right, so every intellect label stays GENIUS; the
# digit given in test 2 decides the character label (keys "1 2 3 4").
CHARACTER = {b"1": "еврей", b"2": "нормальный", b"4": "экстримал"}
NEW = (0, 0, 0, UNKNOWN, UNKNOWN)

SAVED, REWRITE_FAILS, SCORE_REFUSED, DB_REFUSED = "saved", "rewrite fails", "score.dat refused", "pz2004.db refused"
RETURNING_REFUSED = "returning players refused"  # at the start; new players save
UNSAVED = "not saved"  # either way of saving fails at the end
shorten_lock_waits()
LAUNCHER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "prozorometr-play")
# What stands under a name, and how a game there must end. Targets: "file", an
# existing file outside the play folder; "missing", a free path outside; "loot",
# a name outside that is made a hard link of score.dat.
PLANTS = [
    (TEMP, "symlink", "file", SAVED),
    (TEMP, "symlink", "missing", SAVED),
    (TEMP, "link", "file", SAVED),
    (TEMP, "fifo", None, SAVED),
    (TEMP, "dir", None, SAVED),
    (SCORE, "symlink", "file", SCORE_REFUSED),
    (SCORE, "fifo", None, SCORE_REFUSED),
    (SCORE, "symlink", "/dev/zero", SCORE_REFUSED),
    (SCORE, "dir", None, SCORE_REFUSED),
    (SCORE, "link", "loot", SAVED),
    (DB, "fifo", None, DB_REFUSED),
    (DB, "symlink", "/dev/zero", DB_REFUSED),
]

OLD = b"\n" + b"\n".join([record("Аня", 1, 12, 13, "еврей", "ебанутый"), record("Гость", 2, 50, 0, "еврей", GENIUS),
                          record("Боря", 4, 80, 20, "экстримал", "образованный")])


def plant(path, kind, target):
    if kind == "symlink":
        os.symlink(target, path)
    elif kind == "link":
        os.link(*((path, target) if os.path.basename(path) == SCORE else (target, path)))
    elif kind == "fifo":
        os.mkfifo(path, 0o666)
    else:
        os.mkdir(path)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def snapshot(*folders):
    """Every entry under the folders: its type, mode, and bytes or link target."""
    seen = {}
    for top in folders:
        for root, dirs, files in os.walk(top):
            for name in dirs + files:
                path = os.path.join(root, name)
                info = os.lstat(path)
                body = (read(path) if stat.S_ISREG(info.st_mode)
                        else os.readlink(path) if stat.S_ISLNK(info.st_mode) else None)
                seen[path] = (stat.S_IFMT(info.st_mode), stat.S_IMODE(info.st_mode), body)
    return seen


def stored_fields(content, name):
    """The fields of name's record in a writer-form score file, or None."""
    for line in content.split(b"\n"):
        if line.split(b" ")[0] == name:
            return line.split(b" ")
    return None


def single_regular(info):
    return stat.S_ISREG(info.st_mode) and info.st_nlink == 1


class HostileGames(GameTest):
    """Whole games in folders where the game's names are taken by other objects."""

    def play_checked(self, folder, name, answer, outcome, user=None, **popen):
        """Plays a whole piped game of name in folder and checks all its output and the
        score file it leaves against what the game must do. Returns True when it saved.
        user: (uid, primary group, further groups...)."""
        name, score, temp = cp(name), os.path.join(folder, SCORE), os.path.join(folder, TEMP)
        info = os.lstat(score) if os.path.lexists(score) else None
        content = read(score) if info and stat.S_ISREG(info.st_mode) else None
        fields = stored_fields(content, name) if content is not None else None
        if outcome == RETURNING_REFUSED:
            outcome = SCORE_REFUSED if fields else SAVED
        if user:
            popen["preexec_fn"] = as_user(*user)
        result = run(folder, uniform_answers(name, 25, answer), timeout=HANG_TIMEOUT, **popen)
        err = result.stderr
        if outcome in (DB_REFUSED, SCORE_REFUSED):
            self.assertEqual(result.returncode, 1)
            self.assertOneLine(err)
            if outcome == DB_REFUSED:
                self.assertBytes(result.stdout, DB_FAILURE)
            else:
                self.assertGameOutput(result.stdout, BANNER_REST + SCORE_FAILURE)
            return False
        before = (int(fields[1]), int(fields[2]), int(fields[3]), fields[5].decode("cp1251"),
                  fields[4].decode("cp1251")) if fields else NEW
        new = record(name, before[0] + 1, before[1] + 25, before[2], CHARACTER[answer], GENIUS)
        rewrite = fields is not None or not single_regular(info)
        asked_i, asked_c = shown_records(result.stdout)
        self.assertAskedAll(asked_i, asked_c)
        self.assertGameOutput(result.stdout, expected_game(self.db, name, before, asked_i, asked_c, 25, GENIUS,
                                                           CHARACTER[answer]))
        if outcome == UNSAVED or (rewrite and outcome == REWRITE_FAILS):
            self.assertEqual(result.returncode, 1)
            self.assertOneLine(err)
            self.assertTrue(err.startswith(SAVE_FAILURE_PREFIX), err)
            self.assertBytes(read(score), content, "score.dat")
            if os.path.isfile(temp):
                self.assertBytes(read(temp), b"", TEMP)
            return False
        self.assertEqual((result.returncode, err), (0, b""))
        lines = [line for line in content.split(b"\n") if line and line.split(b" ")[0] != name]
        self.assertBytes(read(score), b"\n".join([new] + lines) if rewrite else content + b"\n" + new, "score.dat")
        self.assertTrue(single_regular(os.lstat(score)), "score.dat is no single-link regular file")
        if rewrite and not os.path.isdir(temp):   # a folder planted there stays: saves need no such name
            self.assertTrue(single_regular(os.lstat(temp)), TEMP)
            self.assertBytes(read(temp), b"", TEMP)
        return True

    def assertOneLine(self, err):
        self.assertEqual((err.count(b"\n"), err[-1:]), (1, b"\n"), err)

    def assertOnlyOwnFiles(self, folder, planted):
        """The play folder holds the game's names only, each a regular single-link file
        unless it is the object planted there, still as it was."""
        for name in os.listdir(folder):
            self.assertIn(name, (DB, SCORE, TEMP))
            info = os.lstat(os.path.join(folder, name))
            if planted is not None and (info.st_dev, info.st_ino) == planted:
                if stat.S_ISDIR(info.st_mode):
                    self.assertEqual(os.listdir(os.path.join(folder, name)), [])
                continue
            self.assertTrue(single_regular(info), "%s: mode %o, %d links" % (name, info.st_mode, info.st_nlink))


class PlantedObjects(HostileGames):

    def setUp(self):
        super().setUp()
        os.chmod(self.dir.path, 0o755)  # a player of another uid must reach the cases below

    def case(self, number, user):
        """A play folder with the database and OLD, and an outside folder holding
        "victim" (mode 0640); owned by user when there is one."""
        top = os.path.join(self.dir.path, "case%02d" % number)
        folder, outside = os.path.join(top, "play"), os.path.join(top, "outside")
        for path in (top, folder, outside):
            os.mkdir(path)
        self.db.write(folder)
        with open(os.path.join(folder, SCORE), "wb") as f:
            f.write(OLD)
        victim = os.path.join(outside, "victim")
        with open(victim, "wb") as f:
            f.write(b"victim's own bytes\n")
        os.chmod(victim, 0o640)
        if user:
            for root, dirs, files in os.walk(top):
                for path in [root] + [os.path.join(root, n) for n in dirs + files]:
                    os.chown(path, *user)
        return folder, outside

    def test_planted_objects(self):
        # A read-only database plays; root ignores modes, so root plays that row under another uid.
        rows = PLANTS + [(DB, "read-only", None, SAVED)]
        number = 0
        for name, kind, target, outcome in rows:
            for order in (("Новый", "Гость"), ("Гость", "Новый")):
                number += 1
                with self.subTest(name=name, kind=kind, target=target, first=order[0]):
                    user = (ANYA, GROUP) if kind == "read-only" and IS_ROOT else None
                    folder, outside = self.case(number, user)
                    path, db = os.path.join(folder, name), os.path.join(folder, DB)
                    if kind == "read-only":
                        os.chmod(path, 0o444)
                    else:
                        if name != TEMP and kind != "link":
                            os.remove(path)
                        plant(path, kind, os.path.join(outside, {"file": "victim"}.get(target, target or "")))
                    info = os.lstat(path)
                    planted = (info.st_dev, info.st_ino) if kind != "read-only" else None
                    around, db_before = snapshot(outside), snapshot(folder).get(db)
                    for player in order:
                        self.play_checked(folder, player, b"2" if player == "Гость" else b"4", outcome, user)
                        self.assertEqual(snapshot(outside), around, "something outside the play folder changed")
                        self.assertOnlyOwnFiles(folder, planted)
                        self.assertEqual(snapshot(folder).get(db), db_before, DB)

    def test_closed_stderr_and_a_database_that_shrinks(self):
        old = b"\n" + record("Гость", 2, 50, 0, "еврей", GENIUS)
        self.setup_files(score=old)
        shrunk = Database.standard(25).content()   # no intellect record left: the next load fails
        def shrink_database():
            with open(self.dir.file(DB), "r+b") as f:
                f.truncate(0)
                f.write(shrunk)
        rc, out, _, first = answer_first_after(self.dir.path, cp("Гость"), shrink_database,
                                               stderr=None, preexec_fn=lambda: os.close(2))
        self.assertEqual(rc, 1)
        self.assertGameOutput(out, BANNER_REST + summary(cp("Гость"), 2, 50, 0, GENIUS, "еврей") + INTRO1
                              + screen(1, *self.db.shown(first)) + DB_FAILURE)
        self.assertBytes(self.dir.read(DB), shrunk, DB)
        self.assertBytes(self.dir.read(SCORE), old, "score.dat")
        self.assertFalse(self.dir.exists(TEMP))

    def test_stored_nul_bytes(self):
        # A NUL byte makes a record damaged: never matched, carried as it stands.
        nul_name = cp("Ма") + b"\0" + cp("ша 2 50 0 еврей гений")
        nul_label = cp("Лена 1 25 0 нор") + b"\0" + cp("мальный гений")
        after = [record("Вика", 1, 25, 0, "экстримал", GENIUS), record("Дима", 3, 75, 0, "еврей", GENIUS)]
        self.setup_files(score=b"\n".join([b"", nul_name, record("Гость", 2, 50, 0, "еврей", GENIUS), nul_label]
                                          + after))
        self.check_game(uniform_answers(cp("Гость"), 25, b"2"), cp("Гость"), 25, GENIUS, "нормальный",
                        before=(2, 50, 0, GENIUS, "еврей"))
        rewritten = b"\n".join([record("Гость", 3, 75, 0, "нормальный", GENIUS), nul_name, nul_label] + after)
        self.assertBytes(self.dir.read(SCORE), rewritten, "score.dat")
        # The name before the NUL is a new player, appended after everything.
        self.check_game(uniform_answers(cp("Ма"), 25, b"1"), cp("Ма"), 25, GENIUS, "еврей")
        self.assertBytes(self.dir.read(SCORE), rewritten + b"\n" + record("Ма", 1, 25, 0, "еврей", GENIUS),
                         "score.dat")


@unittest.skipUnless(IS_ROOT, "needs root to play as several users")
class SharedFolder(HostileGames):
    """Аня and Боря play in one folder of their group (mode 2775); Ева, a third user of
    the group, plants every object of PLANTS there between their games. Аня's files
    outside are the targets: notes (0644) and, in a folder only she may enter, secret (0600)."""

    def as_eve(self, action, *args):
        pid = os.fork()
        if pid == 0:
            try:
                as_user(EVE, GROUP)()
                action(*args)
                os._exit(0)
            except BaseException:
                os._exit(1)
        self.assertEqual(os.waitpid(pid, 0)[1], 0, "Ева could not %s%r" % (action.__name__, args))

    def mkdir(self, path, mode, uid, gid):
        os.mkdir(path)
        os.chown(path, uid, gid)
        os.chmod(path, mode)   # after chown, which may clear the set-group-ID bit
        return path

    def test_shared_folder(self):
        top = self.mkdir(os.path.join(self.dir.path, "shared"), 0o755, 0, 0)
        os.chmod(self.dir.path, 0o755)
        folder = self.mkdir(os.path.join(top, "play"), 0o2775, 0, GROUP)
        notes_dir, private = (self.mkdir(os.path.join(top, n), m, ANYA, ANYA) for n, m in (("anya", 0o755),
                                                                                             ("anya-private", 0o700)))
        eve_dir = self.mkdir(os.path.join(top, "eve"), 0o755, EVE, EVE)
        for path, mode in ((os.path.join(notes_dir, "notes"), 0o644), (os.path.join(private, "secret"), 0o600)):
            with open(path, "wb") as f:
                f.write(cp("только для Ани: %s\n" % path))
            os.chown(path, ANYA, ANYA)
            os.chmod(path, mode)
        self.db.write(folder)
        os.chmod(os.path.join(folder, DB), 0o444)
        score = os.path.join(folder, SCORE)
        with open(score, "wb"):
            pass
        os.chown(score, ANYA, GROUP)   # as a launcher run by Аня would leave it
        os.chmod(score, 0o664)
        targets = {"file": os.path.join(private, "secret"), "missing": os.path.join(private, "new"),
                   "loot": os.path.join(eve_dir, "loot")}
        players = [("Аня", ANYA, b"1"), ("Боря", BORYA, b"2")]
        saves = {}
        for round_, (name, kind, target, outcome) in enumerate([(None, None, None, SAVED)] + PLANTS
                                                               + [(None, None, None, SAVED)]):
            with self.subTest(round=round_, name=name, kind=kind, target=target):
                path, held, planted = name and os.path.join(folder, name), None, None
                if name == TEMP:
                    if os.path.lexists(path):
                        self.as_eve(os.unlink, path)   # the empty one a player left
                elif name and kind != "link":
                    held = os.path.join(eve_dir, "held-" + name)
                    self.as_eve(os.rename, path, held)
                if name == TEMP and kind == "link":
                    # fs.protected_hardlinks keeps Ева from linking Аня's files;
                    # the game must not count on it, so root plants this one for her.
                    plant(path, kind, os.path.join(notes_dir, "notes"))
                elif name:
                    self.as_eve(plant, path, kind, targets.get(target, target))
                if name:
                    info = os.lstat(path)
                    planted = (info.st_dev, info.st_ino)
                around = snapshot(notes_dir, private, eve_dir)
                guest = ("Гость%02d" % round_, (ANYA, BORYA)[round_ % 2], b"4")
                for player, uid, answer in [guest] + players:
                    if self.play_checked(folder, player, answer, outcome, (uid, GROUP)):
                        saves[player] = saves.get(player, 0) + 1
                    self.assertEqual(snapshot(notes_dir, private, eve_dir), around, "Аня's or Ева's files changed")
                    self.assertOnlyOwnFiles(folder, planted)
                if held:
                    self.as_eve(os.rmdir if kind == "dir" else os.unlink, path)
                    self.as_eve(os.rename, held, path)
                elif name == TEMP and kind == "dir":
                    self.as_eve(os.rmdir, path)
        # Nobody was locked out: Аня and Боря saved in every round where the game may save.
        self.assertEqual((saves["Аня"], saves["Боря"]), (2 + [o for _, _, _, o in PLANTS].count(SAVED),) * 2)
        # Every record with the right values: one attempt and 25 right answers per saved game.
        characters = {name: CHARACTER[answer] for name, _, answer in players}
        self.assertEqual(sorted(read(score).split(b"\n")),
                         sorted(record(name, count, 25 * count, 0, characters.get(name, CHARACTER[b"4"]), GENIUS)
                                for name, count in saves.items()))


# Аня, Гость and Боря have played once, all right: every game keeps them GENIUS.
CLASS_OLD = b"\n".join(record(n, 1, 25, 0, "еврей", GENIUS) for n in ("Аня", "Гость", "Боря"))
# Folder set-ups of a class: the folder's mode and group, score.dat's owner, group
# and mode, and games in turn (name, player or None for root, outcome).
CLASS_FOLDERS = [
    ("group folder without set-group-ID", 0o775, GROUP, (ANYA, GROUP, 0o664),
     [("Аня", member(ANYA), SAVED), ("Боря", member(BORYA), SAVED), ("Новый", member(BORYA), SAVED),
      ("Новый", member(BORYA), SAVED), ("Аня", member(ANYA), SAVED)]),
    ("sticky folder, score.dat Аня's", 0o1777, 0, (ANYA, ANYA, 0o666),
     [("Боря", member(BORYA), SCORE_REFUSED), ("Новый", member(BORYA), SAVED), ("Аня", member(ANYA), SAVED),
      ("Гость", None, SAVED), ("Аня", member(ANYA), SAVED)]),
    # Saves take turns through a lock file: where players may not make one, nobody
    # but the folder's owner (root here) can save, and the others hear so at once.
    ("read-only folder, writable score.dat", 0o555, GROUP, (ANYA, GROUP, 0o666),
     [("Аня", member(ANYA), SCORE_REFUSED), ("Новый", member(BORYA), SCORE_REFUSED), ("Вика", member(ANYA), SCORE_REFUSED),
      ("Гость", None, SAVED), ("Новый", None, SAVED)]),
    ("score.dat with set-id bits", 0o2775, GROUP, (ANYA, GROUP, 0o6664),
     [("Гость", None, SAVED), ("Аня", member(ANYA), SAVED)]),
    ("private score.dat", 0o770, ANYA, (ANYA, ANYA, 0o600), [("Аня", member(ANYA), SAVED)]),
]


def ownership(path):
    info = os.lstat(path)
    return info.st_uid, info.st_gid, stat.S_IMODE(info.st_mode)


class FolderSetUps(HostileGames):
    """Play folders made as a class's would be."""

    def folder(self, mode, group, score=CLASS_OLD, score_owner=(0, 0, 0o644)):
        os.chmod(self.dir.path, 0o755)
        folder = os.path.join(self.dir.path, "play%d" % len(os.listdir(self.dir.path)))
        os.mkdir(folder)
        self.db.write(folder)
        with open(os.path.join(folder, SCORE), "wb") as f:
            f.write(score)
        os.chown(os.path.join(folder, SCORE), *score_owner[:2])
        os.chmod(os.path.join(folder, SCORE), score_owner[2])
        os.chown(folder, 0, group)
        os.chmod(folder, mode)
        return folder

    def lock_left(self, folder, text, age):
        """A lock file holding text, last written age seconds ago; None for no lock."""
        if text is None:
            return
        path = os.path.join(folder, LOCK)
        with open(path, "wb") as f:
            f.write(text)
        os.utime(path, (time.time() - age,) * 2)


@unittest.skipUnless(IS_ROOT, "needs root to play as several users")
class ClassFolders(FolderSetUps):
    """Folder set-ups a class uses: everyone allowed to play plays and saves, a save
    that cannot succeed is refused before the first question, and score.dat keeps its
    owner, group and read/write bits, so nobody is locked out by another's save."""

    def test_class_folders(self):
        for what, mode, group, owner, games in CLASS_FOLDERS:
            folder = self.folder(mode, group, score_owner=owner)
            rewritten, uid = False, owner[0]
            for number, (name, user, outcome) in enumerate(games):
                with self.subTest(folder=what, game=number, name=name):
                    returning = stored_fields(read(os.path.join(folder, SCORE)), cp(name)) is not None
                    self.play_checked(folder, name, b"4", outcome, user)
                    if returning and outcome == SAVED:   # a rewrite: only root can give the file away
                        rewritten, uid = True, user[0] if user else uid
                    kept = (uid, owner[1], owner[2] & 0o666 if rewritten else owner[2])
                    self.assertEqual(ownership(os.path.join(folder, SCORE)), kept, "score.dat's owner, group, mode")
                    self.assertOnlyOwnFiles(folder, None)

    def test_size_limit_fails_the_save_cleanly(self):
        for name, room in (("Новый", 5), ("Гость", -10)):   # an append cut half-way, a copy that cannot grow
            with self.subTest(name=name):
                folder = self.folder(0o755, 0)
                limit = len(CLASS_OLD) + room
                self.play_checked(folder, name, b"4", UNSAVED,
                                  preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit)))
                self.assertOnlyOwnFiles(folder, None)

    def test_readers_and_stale_locks_hold_no_save_up(self):
        ended = subprocess.Popen(["true"])
        ended.wait()
        rows = [("readers' locks on every file", None, 0),
                ("a lock left by a killed game", lock_text(ended.pid), 0)]
        for what, text, age in rows:
            with self.subTest(what):
                folder = self.folder(0o775, GROUP, score_owner=(ANYA, GROUP, 0o664))
                self.lock_left(folder, text, age)
                readers = [open(os.path.join(folder, n), "rb") for n in os.listdir(folder)]
                try:
                    for reader in readers:   # as `flock` and `lockf` by anyone who may read the folder
                        fcntl.flock(reader, fcntl.LOCK_EX)
                        fcntl.lockf(reader, fcntl.LOCK_SH)
                    for name in ("Гость", "Новый"):
                        started = time.monotonic()
                        self.play_checked(folder, name, b"4", SAVED, member(BORYA))
                        self.assertLess(time.monotonic() - started, 1.5, "the save waited for a lock of nobody")
                finally:
                    for reader in readers:
                        reader.close()
                self.assertOnlyOwnFiles(folder, None)

    def test_wait_for_a_held_lock_is_bounded(self):
        folder = self.folder(0o775, GROUP, score_owner=(ANYA, GROUP, 0o664))
        # A live game on another machine holds the lock and beats, longer than anyone waits.
        with HeldLock(os.path.join(folder, LOCK), lock_text(1, "elsewhere", "x:1")):
            started = time.monotonic()
            result = subprocess.run(game_command(), cwd=folder, input=uniform_answers(cp("Гость"), 25, b"4"),
                                    capture_output=True, timeout=BEATING_WAITS * LOCK_WAIT + 60)
            waited = time.monotonic() - started
        self.assertTrue(BEATING_WAITS * LOCK_WAIT <= waited < BEATING_WAITS * LOCK_WAIT + 9, waited)
        self.assertEqual(result.returncode, 1)
        self.assertTrue(result.stderr.startswith(WAIT_LINE + SAVE_FAILURE_PREFIX), result.stderr)
        self.assertTrue(result.stderr.endswith(b" and is not done yet\n"), result.stderr)
        self.assertEqual(result.stderr.count(b"\n"), 2, result.stderr)
        self.assertBytes(read(os.path.join(folder, SCORE)), CLASS_OLD, "score.dat")
        self.assertEqual(sorted(os.listdir(folder)), [DB, SCORE, LOCK], "the game left a name of its own")

    def test_launcher_refuses_a_link_under_either_name(self):
        for name, target in ((SCORE, "new"), (DB, "new"), (SCORE, "victim")):
            with self.subTest(name=name, target=target):
                folder, outside = self.folder(0o755, 0), os.path.join(self.dir.path, "outside")
                os.makedirs(outside, exist_ok=True)
                with open(os.path.join(outside, "victim"), "wb") as f:
                    f.write(b"victim's own bytes\n")
                os.remove(os.path.join(folder, name))
                os.symlink(os.path.join(outside, target), os.path.join(folder, name))
                around = snapshot(outside)
                env = dict(os.environ, PROZOROMETR_DIR=folder, PROZOROMETR_GAME=BINARY,
                           PROZOROMETR_DB=os.path.join(self.dir.path, "play0", DB) if name != DB else BINARY)
                result = subprocess.run(["bash", LAUNCHER, "--direct"], stdin=subprocess.DEVNULL,
                                        capture_output=True, env=env, timeout=HANG_TIMEOUT)
                self.assertEqual((result.returncode, result.stdout), (1, b""))
                self.assertTrue(result.stderr.startswith(b"prozorometr-play: "), result.stderr)
                self.assertOneLine(result.stderr)
                self.assertEqual(snapshot(outside), around, "the launcher wrote outside the play folder")


@unittest.skipUnless(IS_ROOT and CAN_TRACE, "needs root and strace to fail or delay the game's calls")
class TracedSaves(FolderSetUps):
    """Saves whose system calls are made to fail, stop or wait by strace."""

    def traced(self, folder, name, *options):
        return subprocess.Popen(traced_command(*options), cwd=folder, stdin=subprocess.PIPE,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=tracer_environment())

    def finish(self, game, stdin):
        _, err = game.communicate(stdin, timeout=120)
        return game.returncode, err

    def test_ten_saving_at_once_without_hard_links(self):
        names = ["Старый%02d" % i for i in range(10)]
        folder = self.folder(0o755, 0, b"\n".join(record(n, 1, 25, 0, "еврей", GENIUS) for n in names))
        games = [self.traced(folder, n, "-e", "trace=link", "-e", "inject=link:error=EPERM") for n in names]
        outcomes = [self.finish(game, uniform_answers(cp(n), 25, b"4")) for game, n in zip(games, names)]
        expected = []
        for name, (rc, err) in zip(names, outcomes):
            if rc == 0:
                self.assertIn(err, (b"", WAIT_LINE))
            else:
                self.assertEqual(rc, 1)
                self.assertTrue(err.endswith(b"\n") and SAVE_FAILURE_PREFIX in err, err)
            expected.append(record(name, 2, 50, 0, "экстримал", GENIUS) if rc == 0
                            else record(name, 1, 25, 0, "еврей", GENIUS))
        self.assertEqual(sorted(read(os.path.join(folder, SCORE)).split(b"\n")), sorted(expected))
        self.assertOnlyOwnFiles(folder, None)

    def test_copy_stays_private_until_whole_and_a_killed_save_blocks_nobody(self):
        folder = self.folder(0o775, GROUP, score_owner=(ANYA, GROUP, 0o660))
        game = self.traced(folder, "Гость", "-e", "trace=fchown", "-e", "inject=fchown:signal=KILL:when=1")
        rc, _ = self.finish(game, uniform_answers(cp("Гость"), 25, b"4"))
        self.assertIn(rc, (-9, 137), "the game was not stopped before its copy got its mode")
        copies = own_names(folder)
        self.assertEqual(len(copies), 1, copies)
        copy = read(os.path.join(folder, copies[0]))
        self.assertTrue(copy.startswith(record("Гость", 2, 50, 0, "экстримал", GENIUS) + b"\n"), copy)
        self.assertEqual(ownership(os.path.join(folder, copies[0]))[2], 0o600, "the whole copy was readable by others")
        self.assertBytes(read(os.path.join(folder, SCORE)), CLASS_OLD, "score.dat")
        self.assertTrue(os.path.lexists(os.path.join(folder, LOCK)), "the killed game held no lock")
        self.play_checked(folder, "Боря", b"4", SAVED, member(BORYA))   # at once, past the killed game's lock

    def test_temporary_file_swapped_before_the_rename(self):
        folder = self.folder(0o2775, GROUP, score_owner=(ANYA, GROUP, 0o664))
        game = self.traced(folder, "Гость", "-e", "trace=fchown", "-e", "inject=fchown:delay_enter=2000000:when=1")
        game.stdin.write(uniform_answers(cp("Гость"), 25, b"4"))
        game.stdin.close()
        planted = os.path.join(folder, "planted")
        deadline = time.monotonic() + 30
        while not own_names(folder) and time.monotonic() < deadline:
            time.sleep(0.01)
        copy = own_names(folder)[0]
        with open(planted, "wb") as f:
            f.write(cp("Ева 99 99 0 x y"))
        os.rename(planted, os.path.join(folder, copy))   # as a member of the group may
        err = game.stderr.read()
        self.assertEqual(game.wait(timeout=120), 1)
        self.assertTrue(err.startswith(SAVE_FAILURE_PREFIX + cp(copy)), err)
        self.assertOneLine(err)
        self.assertBytes(read(os.path.join(folder, SCORE)), CLASS_OLD, "score.dat")


UNSHARE = ["unshare", "--pid", "--fork", "--mount-proc"]   # a container's own pid namespace, same host name


def namespace_missing_reason():
    """Why this machine cannot start a game in a pid namespace of its own (a chroot or a
    container forbids it), or None."""
    if not shutil.which("unshare"):
        return "unshare is not installed"
    tried = subprocess.run(UNSHARE + ["true"], capture_output=True, timeout=30)
    return tried.returncode and "cannot make a pid namespace here: " + tried.stderr.decode(errors="replace").strip()


FAKETIME = shutil.which("faketime")
# Games under a clock of their own: the lock's rules never compare this machine's clock with a file's stamp.
SKEWED = [["faketime", "-f", "+120s"], ["faketime", "-f", "-120s"]] if FAKETIME else []
# A save that runs longer than a lock may stay unchanged: its copy's rename held back.
HOLD = ("-e", "inject=rename:delay_enter=3000000:when=1")


@unittest.skipUnless(IS_ROOT and CAN_TRACE, "needs root and strace to fail or delay the game's calls")
class LockRules(FolderSetUps):
    """The writers' lock against what a class meets: holders in containers, on machines with
    other clocks, stopped, crashed or killed, and names planted or left under the lock's."""

    def start(self, folder, name, *options, prefix=(), user=None):
        """A game of name under strace with options, started through prefix (a namespace, a clock)."""
        command = traced_command(*options)
        game = subprocess.Popen(command[:-1] + [*prefix, command[-1]], cwd=folder, stdin=subprocess.PIPE,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=tracer_environment(),
                                preexec_fn=as_user(*user) if user else None)
        game.stdin.write(uniform_answers(cp(name), 25, b"4"))
        game.stdin.close()
        return game

    def until_locked(self, folder):
        deadline = time.monotonic() + 30
        while not os.path.exists(os.path.join(folder, LOCK)) and time.monotonic() < deadline:
            time.sleep(0.001)

    def assertRecords(self, folder, saved, returning=("Гость",)):
        """score.dat holds CLASS_OLD's players and those saved, each once with its new values."""
        expected = {n: record(n, 1, 25, 0, "еврей", GENIUS) for n in ("Аня", "Гость", "Боря")}
        for name in saved:
            expected[name] = record(name, 2 if name in returning else 1, 50 if name in returning else 25, 0,
                                    "экстримал", GENIUS)
        self.assertEqual(sorted(read(os.path.join(folder, SCORE)).split(b"\n")), sorted(expected.values()))

    def test_a_long_save_keeps_its_lock(self):
        # The holder's copy is put in place later than a lock may stay unchanged (link()
        # failing as on FAT, so the lock's name is made at once): its heartbeat keeps the
        # lock fresh, and the waiting game appends only after the rewrite.
        folder, no_links = self.folder(0o755, 0), ("-e", "inject=link:error=EPERM")
        holder = self.start(folder, "Гость", *no_links, *HOLD)
        self.until_locked(folder)
        waiter = self.start(folder, "Новый", *no_links)
        self.assertEqual((waiter.wait(timeout=60), waiter.stderr.read()), (0, WAIT_LINE))
        self.assertEqual((holder.wait(timeout=60), holder.stderr.read()), (0, b""))
        self.assertRecords(folder, ["Гость", "Новый"])
        self.assertOnlyOwnFiles(folder, None)

    def test_a_live_holder_elsewhere_is_waited_for(self):
        rows = [("the holder in another pid namespace", UNSHARE, ()), ("the waiter in another pid namespace", (), UNSHARE)]
        rows += [("the waiter's clock %s" % skew[-1], (), skew) for skew in SKEWED]
        rows += [("the holder's clock %s" % skew[-1], skew, ()) for skew in SKEWED]
        no_namespace = namespace_missing_reason()
        for what, holder_prefix, waiter_prefix in rows:
            with self.subTest(what):
                if no_namespace and UNSHARE in (holder_prefix, waiter_prefix):
                    self.skipTest(no_namespace)
                folder = self.folder(0o755, 0)
                holder = self.start(folder, "Гость", *HOLD, prefix=holder_prefix)
                self.until_locked(folder)
                waiter = self.start(folder, "Новый", prefix=waiter_prefix)
                self.assertEqual((waiter.wait(timeout=60), waiter.stderr.read()), (0, WAIT_LINE))
                self.assertEqual((holder.wait(timeout=60), holder.stderr.read()), (0, b""))
                self.assertRecords(folder, ["Гость", "Новый"])
                self.assertOnlyOwnFiles(folder, None)

    def test_a_stopped_holder_keeps_the_lock_and_saves_when_it_resumes(self):
        # Гость's game stops whole right after its copy is on disk. The system's lock shows
        # it alive: the three games that end meanwhile wait, say so and save nothing;
        # resumed, it saves.
        folder = self.folder(0o755, 0)
        holder = self.start(folder, "Гость", "-e", "trace=fsync", "-e", "inject=fsync:signal=STOP:when=1")
        self.until_locked(folder)
        others = [self.start(folder, name) for name in ("Аня", "Новый", "Вика")]
        for game in others:
            self.assertEqual(game.wait(timeout=60), 1)
            err = game.stderr.read()
            self.assertTrue(err.startswith(WAIT_LINE + SAVE_FAILURE_PREFIX), err)
            self.assertTrue(err.endswith(b"without a sign of life (it may have been stopped)\n"), err)
        os.kill(holder.pid, signal.SIGCONT)
        for pid in subprocess.run(["pgrep", "-P", str(holder.pid)], capture_output=True).stdout.split():
            os.kill(int(pid), signal.SIGCONT)
        self.assertEqual((holder.wait(timeout=60), holder.stderr.read()), (0, b""))
        self.assertRecords(folder, ["Гость"])
        self.assertOnlyOwnFiles(folder, None)

    def test_leftovers_of_killed_games_block_nobody(self):
        # Боря, whose files nobody else may read (umask 077), has one game killed while it
        # writes its copy and one as it appends; Аня's game saves at once and clears all.
        private = as_user(*member(BORYA))
        for name, left in (("Гость", [("~pz2004.tmp.", 0o600), (LOCK, 0o664)]), ("Новый", [(LOCK, 0o664)])):
            with self.subTest(killed=name):
                folder = self.folder(0o2775, GROUP, score_owner=(ANYA, GROUP, 0o664))
                game = subprocess.Popen(traced_command("-e", "trace=fsync", "-e", "inject=fsync:signal=KILL:when=1"),
                                        cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, env=tracer_environment(),
                                        preexec_fn=lambda: (private(), os.umask(0o077)))
                game.communicate(uniform_answers(cp(name), 25, b"4"), timeout=60)
                for prefix, mode in left:
                    names = [n for n in os.listdir(folder) if n.startswith(prefix)]
                    self.assertEqual(len(names), 1, "the killed game left no %s" % prefix)
                    self.assertEqual(ownership(os.path.join(folder, names[0]))[2], mode, names[0])
                started = time.monotonic()
                self.play_checked(folder, "Аня", b"4", SAVED, member(ANYA))
                self.assertLess(time.monotonic() - started, 1.5)
                self.assertOnlyOwnFiles(folder, None)

    def test_a_lock_left_in_a_sticky_folder_is_named_before_the_first_question(self):
        folder = self.folder(0o1777, 0, score_owner=(ANYA, ANYA, 0o666))
        game = subprocess.Popen(traced_command("-e", "trace=fsync", "-e", "inject=fsync:signal=KILL:when=1"),
                                cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, env=tracer_environment(),
                                preexec_fn=as_user(*member(BORYA)))
        game.communicate(uniform_answers(cp("Новый"), 25, b"4"), timeout=60)
        self.assertTrue(os.path.exists(os.path.join(folder, LOCK)))
        result = run(folder, uniform_answers(cp("Аня"), 25, b"4"), timeout=HANG_TIMEOUT,
                     preexec_fn=as_user(*member(ANYA)))
        self.assertEqual(result.returncode, 1)
        self.assertGameOutput(result.stdout, BANNER_REST + SCORE_FAILURE)
        self.assertRegex(result.stderr, cp("\\Aprozorometr: cannot save at the end of the game: ~pz2004.lck was left "
                                           "by a game that ended, and this player may not remove it .*: ask its "
                                           "owner or the folder's owner to remove it\n\\Z"))
        self.play_checked(folder, "Вика", b"4", SAVED, member(BORYA))   # whose game left it
        self.play_checked(folder, "Аня", b"4", SAVED, member(ANYA))

    def test_what_no_live_game_holds_is_cleared(self):
        future, old = time.time() + 3600, time.time() - 3600
        def holding(text):
            return lambda p: pathlib.Path(p).write_bytes(text)
        elsewhere = holding(lock_text(1, "elsewhere", "x:1"))
        rows = [("a game elsewhere that crashed", elsewhere, None),
                ("a stamp an hour ahead", elsewhere, future),
                ("an hour-old lock of a game elsewhere", holding(b"1 elsewhere\n"), old),
                ("a symbolic link", lambda p: os.symlink("/etc/passwd", p), None),
                ("a FIFO", lambda p: os.mkfifo(p), None)]
        for what, plant_lock, stamp in rows:
            with self.subTest(what):
                folder = self.folder(0o755, 0)
                path = os.path.join(folder, LOCK)
                plant_lock(path)
                if stamp:
                    os.utime(path, (stamp, stamp))
                games = [self.start(folder, name) for name in ("Гость", "Новый", "Вика", "Дима")]
                for game in games:   # the first clears it within one wait, the others follow
                    self.assertEqual(game.wait(timeout=60), 0, game.stderr.read())
                self.assertRecords(folder, ["Гость", "Новый", "Вика", "Дима"])
                self.assertOnlyOwnFiles(folder, None)

if __name__ == "__main__":
    unittest.main()
