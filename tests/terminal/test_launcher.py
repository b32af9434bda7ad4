"""How the launcher chooses between luit and running the game directly, and how it
keeps the play folder. The game here is a stand-in that prints "Привет" in
Windows-1251, so what reaches the terminal shows which way it went."""

import os
import pathlib
import shutil
import subprocess
import unittest

from termkit import (BINARY, LAUNCHER, PtyGame, cp, fresh_home, game_missing_reason, luit_missing_reason, main,
                     make_cp1251_locale, make_locale, make_temp_folder, utf8_locale_env)

HELLO = "Привет"
FAKE_GAME = """#!/bin/sh
printf '\\317\\360\\350\\342\\345\\362\\n'
pwd > "$FAKE_GAME_LOG"
exit 7
"""


class Launcher(unittest.TestCase):
    def setUp(self):
        self.folder = make_temp_folder(self)
        self.game = pathlib.Path(self.folder, "game")
        self.game.write_text(FAKE_GAME)
        self.game.chmod(0o755)
        self.database = pathlib.Path(self.folder, "shipped.db")
        self.database.write_bytes(b"shipped database\n")
        self.env = {**fresh_home(self.folder), "PROZOROMETR_GAME": str(self.game),
                    "PROZOROMETR_DB": str(self.database), "FAKE_GAME_LOG": os.path.join(self.folder, "ran-in")}
        self.play = pathlib.Path(self.env["XDG_DATA_HOME"], "prozorometr")

    def launch(self, *options, **env):
        """Runs the launcher on a terminal; returns its exit status and all it printed."""
        run = PtyGame([str(LAUNCHER), *options], self.folder, env={**self.env, **env})
        try:
            return run.finish(), run.output
        finally:
            run.close()

    def assert_direct(self, output, message=None):
        self.assertIn(cp(HELLO), output)
        self.assertNotIn(HELLO.encode(), output)
        lines = [line for line in output.split(b"\r\n") if line.startswith(b"prozorometr-play:")]
        if message is None:
            self.assertEqual(lines, [])
        else:
            self.assertEqual(len(lines), 1, output)
            self.assertIn(message.encode(), lines[0])

    def assert_luit(self, output):
        self.assertIn(HELLO.encode(), output)
        self.assertNotIn(b"prozorometr-play:", output)


class Choosing(Launcher):
    def test_windows_1251_terminal_and_forced_direct_get_the_bytes_unchanged(self):
        cases = [("--direct", {}), ("", {"PROZOROMETR_LUIT": "no"}), ("--direct", {"PROZOROMETR_LUIT": "yes"})]
        locale = make_cp1251_locale(self.folder)
        if locale:
            cases.append(("", locale))
        for option, env in cases:
            with self.subTest(option=option, env=env):
                status, output = self.launch(*filter(None, [option]), **{**utf8_locale_env(), **env})
                self.assertEqual(status, 7, "the game's exit status passes through")
                self.assert_direct(output)

    def test_utf8_terminal_gets_the_game_under_luit(self):
        reason = luit_missing_reason()
        if reason:
            self.skipTest(reason)
        scratch = pathlib.Path(self.folder, "scratch")
        scratch.mkdir()
        # A locale that names no character set counts as UTF-8: unset, C, POSIX, or not installed.
        cases = [("", utf8_locale_env()), ("--luit", {**utf8_locale_env(), "PROZOROMETR_LUIT": "no"}),
                 ("", {**utf8_locale_env(), "PROZOROMETR_LUIT": "yes"}), ("", {}), ("", {"LC_ALL": "C"}),
                 ("", {"LANG": "POSIX"}), ("", {"LC_CTYPE": "C", "LANG": "ru_RU.UTF-8"}),
                 ("", {"LANG": "xx_XX.UTF-8"})]
        for option, env in cases:
            with self.subTest(option=option, env=env):
                status, output = self.launch(*filter(None, [option]), **env, TMPDIR=str(scratch))
                self.assert_luit(output)
                self.assertEqual(status, 7, "the game's exit status passes through luit")
                self.assertEqual(os.listdir(scratch), [], "the status file is removed")

    def test_refused_database_fails_the_launcher_both_ways(self):
        reason = game_missing_reason()
        if reason:
            self.skipTest(reason)
        self.database.write_bytes(cp("Вопрос\n") * 6)  # one record: far too few
        for option in ["--direct"] + ([] if luit_missing_reason() else ["--luit"]):
            with self.subTest(option=option):
                status, output = self.launch(option, **utf8_locale_env(), PROZOROMETR_GAME=BINARY)
                self.assertEqual(status, 1, output)
                self.assertIn(b"Abnormal program termination", output)

    def test_scores_table_shows_both_ways(self):
        reason = game_missing_reason()
        if reason:
            self.skipTest(reason)
        self.play.mkdir(parents=True)
        (self.play / "score.dat").write_bytes(cp("Маша 2 40 10 обыватель образованный"))
        ways = [("--direct", cp)] + ([] if luit_missing_reason() else [("--luit", str.encode)])
        for option, shown in ways:
            with self.subTest(option=option):
                status, output = self.launch(option, "--scores=5", **utf8_locale_env(), PROZOROMETR_GAME=BINARY)
                self.assertEqual(status, 0, output)
                self.assertIn(shown("Маша    2     40       10     20,0  образованный  обыватель"), output)

    def test_luit_that_does_not_convert_is_not_trusted(self):
        if shutil.which("luit") is None:
            self.skipTest("luit is not installed")
        # Without its encoding tables luit knows CP1251 by name only and strips the eighth bit.
        status, output = self.launch(**utf8_locale_env(), FONT_ENCODINGS_DIRECTORY="/nonexistent/encodings.dir")
        self.assertEqual(status, 7)
        self.assert_direct(output, "luit does not convert Windows-1251 here (as root: apt-get install xfonts-encodings)")

    def test_missing_luit_says_how_to_get_it(self):
        path = self.path_without_luit()
        for env in (utf8_locale_env(), {}):
            with self.subTest(env=env):
                status, output = self.launch(**env, PATH=path)
                self.assertEqual(status, 7)
                self.assert_direct(output, "luit is missing, so the Russian text will be unreadable")
                self.assertIn(b"as root with: apt-get install luit\r\n", output)
                self.assertLess(output.index(b"prozorometr-play:"), output.index(cp(HELLO)), "said before the game")

    def test_locale_without_cyrillic_runs_directly(self):
        latin1 = make_locale(self.folder, "en_US", "ISO-8859-1")
        if latin1 is None:
            self.skipTest("cannot compile an en_US.ISO-8859-1 locale here (needs the locales package)")
        status, output = self.launch(**latin1)
        self.assertEqual(status, 7)
        self.assert_direct(output, "(ISO-8859-1) has no Russian letters")

    def test_no_terminal_runs_directly_without_a_word(self):
        run = subprocess.run([str(LAUNCHER)], stdin=subprocess.DEVNULL, capture_output=True, timeout=30,
                             env={**self.env, **utf8_locale_env()})
        self.assertEqual(run.returncode, 7)
        self.assertEqual(run.stdout, cp(HELLO) + b"\n")
        self.assertEqual(run.stderr, b"")

    def test_wrong_options(self):
        for options, env in [(["--fast"], {}), ([], {"PROZOROMETR_LUIT": "maybe"})]:
            with self.subTest(options=options, env=env):
                run = subprocess.run([str(LAUNCHER), *options], capture_output=True, timeout=30,
                                     env={**self.env, **env})
                self.assertEqual(run.returncode, 2)
                self.assertEqual(run.stdout, b"")
                self.assertFalse(os.path.exists(self.env["FAKE_GAME_LOG"]), "the game must not start")
        run = subprocess.run([str(LAUNCHER), "--help"], capture_output=True, timeout=30, env=self.env)
        self.assertEqual(run.returncode, 0)
        self.assertIn(b"--direct", run.stdout)

    def path_without_luit(self):
        """PATH with every folder that holds luit replaced by a copy of it without luit."""
        folders = []
        for number, folder in enumerate(self.env["PATH"].split(os.pathsep)):
            if not os.path.exists(os.path.join(folder, "luit")):
                folders.append(folder)
                continue
            mirror = pathlib.Path(self.folder, f"bin{number}")
            mirror.mkdir()
            for entry in os.listdir(folder):
                if entry != "luit":
                    (mirror / entry).symlink_to(os.path.join(folder, entry))
            folders.append(str(mirror))
        return os.pathsep.join(folders)


class PlayFolder(Launcher):
    def run_direct(self):
        run = subprocess.run([str(LAUNCHER)], stdin=subprocess.DEVNULL, capture_output=True, timeout=30,
                             env=self.env)
        self.assertEqual(run.returncode, 7, run.stderr)

    def test_fresh_folder_gets_the_database_and_an_empty_score_file(self):
        self.database.chmod(0o444)
        self.run_direct()
        self.assertEqual(pathlib.Path(self.env["FAKE_GAME_LOG"]).read_text().strip(), str(self.play))
        self.assertEqual((self.play / "pz2004.db").read_bytes(), b"shipped database\n")
        self.assertTrue(os.access(self.play / "pz2004.db", os.W_OK), "the game opens it for writing")
        self.assertEqual((self.play / "score.dat").read_bytes(), b"")

    def test_existing_files_are_never_overwritten(self):
        self.play.mkdir(parents=True)
        (self.play / "pz2004.db").write_bytes(b"my own questions\n")
        (self.play / "score.dat").write_bytes(b"Ivan 1 20 5 x y")
        self.run_direct()
        self.assertEqual((self.play / "pz2004.db").read_bytes(), b"my own questions\n")
        self.assertEqual((self.play / "score.dat").read_bytes(), b"Ivan 1 20 5 x y")

    def test_play_folder_can_be_chosen(self):
        chosen = pathlib.Path(self.folder, "elsewhere")
        self.env["PROZOROMETR_DIR"] = str(chosen)
        self.run_direct()
        self.assertTrue((chosen / "score.dat").exists())
        self.assertFalse(self.play.exists())

    def run_in(self, folder, umask=0o022, user=None, launcher=LAUNCHER):
        """Runs the launcher without a terminal on the play folder given, with that umask and
        as that user (uid and gid); returns (status, stderr)."""
        def prepare():
            os.umask(umask)
            if user:
                os.setgid(user[1])
                os.setuid(user[0])
        run = subprocess.run([str(launcher)], stdin=subprocess.DEVNULL, capture_output=True, timeout=30,
                             env={**self.env, "PROZOROMETR_DIR": str(folder)}, preexec_fn=prepare)
        return run.returncode, run.stderr

    def assert_refused(self, result, *words, started_later=False):
        """The launcher ended with status 1 and one line naming what went wrong and what to do,
        without starting the game (unless a later run did)."""
        status, said = result
        self.assertEqual(status, 1, said)
        self.assertEqual(said.count(b"\n"), 1, said)
        self.assertTrue(said.startswith(b"prozorometr-play: "), said)
        for word in words:
            self.assertIn(word.encode(), said)
        self.assertEqual(os.path.exists(self.env["FAKE_GAME_LOG"]), started_later, "the game must not start")

    def test_shared_folder_gets_files_the_group_can_write(self):
        # (folder mode, umask) -> the modes of the new pz2004.db and score.dat
        cases = [(0o2775, 0o022, 0o664), (0o775, 0o022, 0o664), (0o2770, 0o077, 0o660), (0o755, 0o022, 0o644),
                 (0o700, 0o077, 0o600)]
        for folder_mode, umask, file_mode in cases:
            with self.subTest(folder=oct(folder_mode), umask=oct(umask)):
                folder = pathlib.Path(self.folder, "class%o" % folder_mode)
                folder.mkdir()
                folder.chmod(folder_mode)
                self.assertEqual(self.run_in(folder, umask)[0], 7)
                for name in ("pz2004.db", "score.dat"):
                    self.assertEqual(oct((folder / name).stat().st_mode & 0o7777), oct(file_mode), name)

    def test_short_database_copy_is_replaced_and_own_one_kept(self):
        shipped = bytes(range(256)) * 400
        self.database.write_bytes(shipped)
        self.play.mkdir(parents=True)
        for found, replaced in [(shipped[:65536], True), (b"", True), (shipped[:100] + b"mine", False),
                                (shipped + b"more", False)]:
            with self.subTest(found=len(found), replaced=replaced):
                (self.play / "pz2004.db").write_bytes(found)
                status, said = self.run_in(self.play)
                self.assertEqual(status, 7, said)
                self.assertEqual((self.play / "pz2004.db").read_bytes(), shipped if replaced else found)
                self.assertEqual(b"cut short" in said, replaced, said)
                self.assertEqual(sorted(os.listdir(self.play)), ["pz2004.db", "score.dat"])

    def test_play_folder_that_cannot_be_made_says_why_and_what_to_do(self):
        blocker = pathlib.Path(self.folder, "a-file")
        blocker.write_bytes(b"")
        self.assert_refused(self.run_in(blocker / "play"), "cannot make the play folder", "Not a directory",
                            "set PROZOROMETR_DIR to another folder")

    def test_full_disk_leaves_no_database_and_says_so(self):
        if os.geteuid() != 0 or subprocess.run(["unshare", "--mount", "true"], capture_output=True).returncode:
            self.skipTest("needs root and a mount namespace of its own to mount a small disk")
        self.database.write_bytes(bytes(range(256)) * 1024)  # 256 KiB on a 128 KiB disk
        disk = pathlib.Path(self.folder, "disk")
        disk.mkdir()
        script = ('mount -t tmpfs -o size=128k small "$1" && "$2" </dev/null >/dev/null; s=$?; echo left: $(ls -A "$1"); '
                  'rm -f "$1"/*; mount -o remount,size=1m "$1" && "$2" </dev/null >/dev/null; echo $? $(ls -A "$1"); exit $s')
        run = subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c", script, "sh", str(disk),
                              str(LAUNCHER)], capture_output=True, timeout=60,
                             env={**self.env, "PROZOROMETR_DIR": str(disk)})
        self.assert_refused((run.returncode, run.stderr), "No space left on device", "is full: free some space",
                            started_later=True)
        # Nothing is left behind on the full disk; with room made, the next start copies it whole.
        self.assertEqual(run.stdout, b"left:\n7 pz2004.db score.dat\n")

    def test_refusal_for_a_mode_names_it_and_who_may_change_it(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to play as another user")
        os.chmod(self.folder, 0o755)
        launcher = shutil.copy(LAUNCHER, self.folder)  # the tree may be where only root can reach (/root)
        cases = [(0o755, "the play folder", "is mode 755 (owner root", "root can let the group"),
                 (0o777, "score.dat is mode 644 (owner root", "chmod g+w", "root can let the group")]
        for folder_mode, *words in cases:
            with self.subTest(folder=oct(folder_mode)):
                folder = pathlib.Path(self.folder, "shared%o" % folder_mode)
                folder.mkdir()
                (folder / "pz2004.db").write_bytes(b"questions\n")
                (folder / "score.dat").write_bytes(b"")
                folder.chmod(folder_mode)
                self.assert_refused(self.run_in(folder, user=(65534, 65534), launcher=launcher), *words)

    def test_missing_database_is_reported_before_anything_is_made(self):
        self.database.unlink()
        run = subprocess.run([str(LAUNCHER)], stdin=subprocess.DEVNULL, capture_output=True, timeout=30,
                             env=self.env)
        self.assertEqual(run.returncode, 1)
        self.assertIn(b"question database is missing", run.stderr)
        self.assertFalse(self.play.exists())


if __name__ == "__main__":
    main()
