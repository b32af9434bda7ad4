"""The Windows launcher prozorometr.cmd under Wine's cmd, on a console (Wine makes
one from a pseudo-terminal): it plays a piped game in the play folder under
%LOCALAPPDATA%, shows the game's Windows-1251 text readably, puts the code page
back as it found it, keeps both files of the play folder, passes the exit status on."""

import os
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
# The driver sets a code page, plays one piped game through the launcher, then
# reports the launcher's status and the code page it left.
DRIVER = ('@echo off\r\nset "LOCALAPPDATA=%~1"\r\nchcp %~2 >nul\r\ncall "%~3" < "%~4"\r\n'
          'echo launcher-status=%ERRORLEVEL%\r\nchcp\r\n')


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def cp(text):
    return text.encode("cp1251")


class LauncherUnderWine(unittest.TestCase):
    def setUp(self):
        for path in (GAME, DATABASE, LAUNCHER):
            self.assertTrue(RUNNER and os.path.isfile(path), "PZ_RUNNER, PZ_BINARY, PZ_DATABASE, PZ_LAUNCHER: %r"
                            % ([RUNNER, GAME, DATABASE, LAUNCHER],))
        self.folder = tempfile.mkdtemp(prefix="pz-cmd-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.package = os.path.join(self.folder, "package")
        os.mkdir(self.package)
        for path in (GAME, DATABASE, LAUNCHER):
            shutil.copy(path, self.package)
        self.appdata = os.path.join(self.folder, "appdata")
        self.play = os.path.join(self.appdata, "prozorometr")
        with open(os.path.join(self.folder, "drive.cmd"), "w", newline="") as driver:
            driver.write(DRIVER)

    def launch(self, name, code_page):
        """Plays one game of name through the launcher on a Wine console that starts
        at code page code_page. Returns (launcher status, code page left, what the
        console showed with its escape sequences taken out)."""
        answers = os.path.join(self.folder, "answers")
        with open(answers, "wb") as f:
            f.write(cp(name) + b"\r\n\r\n" + b"1\r\n" * 35)
        args = [windows_path(os.path.join(self.folder, "drive.cmd")), windows_path(self.appdata), str(code_page),
                windows_path(os.path.join(self.package, "prozorometr.cmd")), windows_path(answers)]
        shown = self.on_console(RUNNER + ["cmd", "/c"] + args)
        status = re.search(rb"launcher-status=(\d+)", shown)
        left = re.findall(rb"(\d+)\s*$", shown.rstrip())
        self.assertTrue(status and left, shown[-300:])
        return int(status.group(1)), int(left[-1]), shown

    def on_console(self, command):
        master, slave = pty.openpty()
        env = {**os.environ, "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}
        process = subprocess.Popen(command, stdin=slave, stdout=slave, stderr=slave, env=env, cwd=self.folder)
        os.close(slave)
        output, deadline = b"", time.monotonic() + 60
        while time.monotonic() < deadline:
            if select.select([master], [], [], 0.1)[0]:
                try:
                    chunk = os.read(master, 65536)
                except OSError:  # the console's side is gone
                    break
                if not chunk:
                    break
                output += chunk
            elif process.poll() is not None:
                break
        if process.poll() is None:
            process.kill()
        process.wait()
        os.close(master)
        return ESCAPES.sub(b"", output)

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


if __name__ == "__main__":
    unittest.main()
