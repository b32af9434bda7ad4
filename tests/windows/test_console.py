"""The Windows programs on a Wine console (Wine makes one from a pseudo-terminal):
the game's key waits, and the launcher prozorometr.cmd under Wine's cmd, which
plays a piped game in the play folder under %LOCALAPPDATA%, shows the game's
Windows-1251 text readably, puts the code page back as it found it, keeps both
files of the play folder and passes the exit status on."""

import os
import pathlib
import pty
import re
import select
import shlex
import shutil
import subprocess
import tempfile
import time
import unittest

RUNNER = shlex.split(os.environ.get("PZ_RUNNER", ""))
GAME, DATABASE, LAUNCHER = (os.environ.get(name, "") for name in ("PZ_BINARY", "PZ_DATABASE", "PZ_LAUNCHER"))
ESCAPES = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]")
WAIT = 30
# The driver sets a code page, plays one piped game through the launcher, then
# reports the launcher's status and the code page it left.
DRIVER = ('@echo off\r\nset "LOCALAPPDATA=%~1"\r\nchcp %~2 >nul\r\ncall "%~3" < "%~4"\r\n'
          'echo launcher-status=%ERRORLEVEL%\r\nchcp\r\n')


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def cp(text):
    return text.encode("cp1251")


class WineConsole:
    """A Windows program started through Wine on a pseudo-terminal of its own."""

    def __init__(self, command, cwd, env=None):
        self.master, slave = pty.openpty()
        env = {**os.environ, "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8", **(env or {})}
        self.process = subprocess.Popen(RUNNER + command, stdin=slave, stdout=slave, stderr=slave, env=env, cwd=cwd)
        os.close(slave)
        self.raw = b""

    def shown(self):
        """What the console showed, its escape sequences taken out."""
        return ESCAPES.sub(b"", self.raw)

    def pump(self, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end and select.select([self.master], [], [], max(0.0, end - time.monotonic()))[0]:
            try:
                chunk = os.read(self.master, 65536)
            except OSError:  # the console's side is gone
                chunk = b""
            self.raw += chunk
            if not chunk:
                return

    def wait_for(self, predicate, what):
        deadline = time.monotonic() + WAIT
        while not predicate(self.shown()):
            if time.monotonic() > deadline:
                raise AssertionError("timed out waiting for %s; the console shows %r" % (what, self.shown()[-300:]))
            self.pump(0.1)

    def type(self, data):
        os.write(self.master, data)

    def finish(self):
        """Waits for the program's end; returns its exit status."""
        deadline = time.monotonic() + WAIT
        while self.process.poll() is None and time.monotonic() < deadline:
            self.pump(0.1)
        self.pump(0.2)
        return self.process.poll()

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        os.close(self.master)


class WindowsTest(unittest.TestCase):
    def setUp(self):
        for path in (GAME, DATABASE, LAUNCHER):
            self.assertTrue(RUNNER and os.path.isfile(path), "PZ_RUNNER, PZ_BINARY, PZ_DATABASE, PZ_LAUNCHER: %r"
                            % ([RUNNER, GAME, DATABASE, LAUNCHER],))
        self.folder = tempfile.mkdtemp(prefix="pz-win-")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def console(self, command, cwd, env=None):
        console = WineConsole(command, cwd, env)
        self.addCleanup(console.close)
        return console


class KeyWaits(WindowsTest):
    def test_test_two_and_the_end_wait_for_one_key_each(self):
        shutil.copy(DATABASE, self.folder)
        open(os.path.join(self.folder, "score.dat"), "wb").close()
        game = self.console([GAME], self.folder)
        screens = lambda shown: shown.count(b"\n4.")
        game.wait_for(lambda shown: shown.rstrip().endswith(b":"), "the name prompt")
        game.type(b"Keys\r\r" + b"1\r" * 25)
        game.wait_for(lambda shown: screens(shown) >= 25, "25 questions of test 1")
        game.pump(1.0)
        self.assertEqual(screens(game.shown()), 25, "test 2 must wait for a key")
        game.type(b"q")
        game.wait_for(lambda shown: screens(shown) >= 26, "the first question of test 2")
        game.type(b"2\r" * 10)
        game.wait_for(lambda shown: screens(shown) == 35, "10 questions of test 2")
        # The save follows the report; on a loaded machine Wine may take a while to reach it.
        saved = lambda: pathlib.Path(self.folder, "score.dat").read_bytes().startswith(b"\nKeys 1 ")
        deadline = time.monotonic() + WAIT
        while not saved() and time.monotonic() < deadline:
            game.pump(0.1)
        self.assertTrue(saved(), "saved before the final key")
        game.pump(1.0)
        self.assertIsNone(game.process.poll(), "the game must wait for a key at the end")
        game.type(b"k")
        self.assertEqual(game.finish(), 0)


class Launcher(WindowsTest):
    def setUp(self):
        super().setUp()
        self.package = os.path.join(self.folder, "package")
        os.mkdir(self.package)
        for path in (GAME, DATABASE, LAUNCHER):
            shutil.copy(path, self.package)
        self.appdata = os.path.join(self.folder, "appdata")
        self.play = os.path.join(self.appdata, "prozorometr")
        with open(os.path.join(self.folder, "drive.cmd"), "w", newline="") as driver:
            driver.write(DRIVER)

    def launch(self, name, code_page):
        """Plays one piped game of name through the launcher on a Wine console that
        starts at code page code_page. Returns (launcher status, code page left,
        what the console showed)."""
        answers = os.path.join(self.folder, "answers")
        with open(answers, "wb") as f:
            f.write(cp(name) + b"\r\n\r\n" + b"1\r\n" * 35)
        args = [windows_path(os.path.join(self.folder, "drive.cmd")), windows_path(self.appdata), str(code_page),
                windows_path(os.path.join(self.package, "prozorometr.cmd")), windows_path(answers)]
        console = self.console(["cmd", "/c"] + args, self.folder)
        console.finish()
        shown = console.shown()
        status = re.search(rb"launcher-status=(\d+)", shown)
        left = re.findall(rb"(\d+)\s*$", shown.rstrip())
        self.assertTrue(status and left, shown[-300:])
        return int(status.group(1)), int(left[-1]), shown

    def score(self):
        with open(os.path.join(self.play, "score.dat"), "rb") as f:
            return f.read()

    def test_plays_in_the_play_folder_and_restores_the_code_page(self):
        status, left, shown = self.launch("Маша", 866)
        self.assertEqual((status, left), (0, 866))
        # Wine's console turns the game's bytes into UTF-8 through its code page:
        # only code page 1251 makes them read as Russian.
        self.assertTrue("Ворсендаль".encode() in shown, shown[:300])
        with open(DATABASE, "rb") as shipped, open(os.path.join(self.play, "pz2004.db"), "rb") as copied:
            self.assertEqual(shipped.read(), copied.read())
        name, attempts, right, wrong = self.score().split()[:4]
        self.assertEqual((name, attempts, int(right) + int(wrong)), (cp("Маша"), b"1", 25))

    def test_keeps_the_play_folder_files_and_passes_the_status_on(self):
        self.launch("Маша", 866)
        first = self.score()
        with open(os.path.join(self.package, "pz2004.db"), "wb") as f:
            f.write(b"no database")  # were it copied over the play folder's, the game would stop
        status, left, _ = self.launch("Петя", 850)
        self.assertEqual((status, left), (0, 850))
        self.assertTrue(self.score().startswith(first + b"\n" + cp("Петя 1 ")), self.score())
        os.remove(os.path.join(self.play, "score.dat"))
        os.mkdir(os.path.join(self.play, "score.dat"))  # the game cannot use it and ends with status 1
        status, left, shown = self.launch("Маша", 437)
        self.assertEqual((status, left), (1, 437), shown[-300:])

    def test_scores_show_the_play_folders_table(self):
        os.makedirs(self.play)
        with open(os.path.join(self.play, "score.dat"), "wb") as f:
            f.write(cp("Маша 2 40 10 обыватель образованный"))
        launcher = windows_path(os.path.join(self.package, "prozorometr.cmd"))
        console = self.console(["cmd", "/c", launcher, "--scores=5"], self.folder,
                               {"PROZOROMETR_DIR": windows_path(self.play)})
        self.assertEqual(console.finish(), 0, console.shown()[-300:])
        # Wine's console moves the cursor over runs of blanks, so only the rest is compared.
        shown = re.sub(rb"\s+", b"", console.shown())
        self.assertIn("МестоИмяИгрВерноНеверноСреднееИнтеллектХарактер1Маша2401020,0".encode()
                      + "образованныйобыватель".encode(), shown)

    def test_failure_waits_for_a_key_only_in_a_window_of_its_own(self):
        os.remove(os.path.join(self.package, "pz2004.db"))
        launcher = windows_path(os.path.join(self.package, "prozorometr.cmd"))
        # Explorer starts a batch file as below; Wine's cmd has no CMDCMDLINE of
        # its own, so the variable stands in for it.
        for started_as, waits in [("", False), ('C:\\windows\\system32\\cmd.exe /c ""%s" "' % launcher, True)]:
            with self.subTest(started_as=started_as):
                console = self.console(["cmd", "/c", launcher], self.folder, {"CMDCMDLINE": started_as})
                console.wait_for(lambda shown: b"missing" in shown, "the launcher's complaint")
                if waits:
                    console.wait_for(lambda shown: b"any key" in shown, "the pause")
                    console.type(b"k")
                self.assertEqual(console.finish(), 1)
                self.assertEqual(b"any key" in console.shown(), waits)


if __name__ == "__main__":
    unittest.main()
