"""Helpers for the terminal tests: the game and launcher paths, a small question
database, a game run on a pseudo-terminal, a tmux server of the test's own, and
checks for what this machine can do (luit, tmux, a CP1251 locale).

Every wait polls with a deadline instead of sleeping a fixed time.
"""

import fcntl
import os
import pathlib
import re
import select
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
LAUNCHER = ROOT / "scripts" / "prozorometr-play"
BINARY = os.environ.get("PZ_BINARY", "")
BUILD_DIR = os.environ.get("PZ_BUILD_DIR", "")
WAIT = 20  # seconds for any one thing to show up; a run takes about one


def cp(text):
    """Text as the game prints and stores it: Windows-1251 bytes."""
    return text.encode("cp1251")


BANNER = "Добро пожаловать"
NAME_PROMPT = "Для продолжения введите свое имя: "
TEST1_PROMPT = "Для начала теста на умственные способности нажмите любую клавишу"
TEST2_PROMPT = "Для начала теста на характер нажмите любую клавишу"
EXIT_PROMPT = "Для выхода нажмите любую клавишу."


def write_database(path):
    """60 records: 25 character questions keyed "3 1 4 2", then intellect
    questions whose right answer is always 1."""
    records = []
    for number in range(1, 61):
        key = "3 1 4 2" if number <= 25 else "1"
        records.append(f"Вопрос номер {number}\nОтвет один\nОтвет два\nОтвет три\nОтвет четыре\n{key}\n")
    pathlib.Path(path).write_bytes(cp("".join(records)))


def expected_record(name_bytes, attempts=1):
    """The score record of a player who answered every question with 1: all 25
    right, and category 3 ten times."""
    return name_bytes + b" %d %d 0 " % (attempts, 25 * attempts) + cp("извращенец гений")


def score_records(path):
    """The records of a score file, as lists of byte fields."""
    return [line.split() for line in pathlib.Path(path).read_bytes().split(b"\n") if line.strip()]


def wait_until(predicate, what, timeout=WAIT, describe=None):
    """Polls predicate until it returns something true, and returns that. On a
    timeout, describe() may add what the test saw."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            seen = f"\n{describe()}" if describe else ""
            raise AssertionError(f"timed out after {timeout}s waiting for {what}{seen}")
        time.sleep(0.02)


def game_missing_reason():
    if not BINARY or not os.access(BINARY, os.X_OK):
        return "PZ_BINARY does not name the built game"
    return None


def utf8_locale_env():
    return {"LC_ALL": "C.UTF-8", "LANG": "C.UTF-8"}


def make_locale(folder, source, charmap):
    """Compiles the locale source.charmap (ru_RU.CP1251, say) into folder; returns the
    variables that select it, or None when this machine lacks the locale sources."""
    name = f"{source}.{charmap}"
    try:
        done = subprocess.run(["localedef", "-i", source, "-f", charmap, os.path.join(folder, name)],
                              capture_output=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return None
    env = {"LOCPATH": folder, "LC_ALL": name, "LANG": name}
    check = subprocess.run(["locale", "charmap"], capture_output=True, env={**os.environ, **env})
    if done.returncode > 1 or check.stdout.strip() != charmap.encode():  # 1 means warnings only
        return None
    return env


def make_cp1251_locale(folder):
    return make_locale(folder, "ru_RU", "CP1251")


def luit_missing_reason():
    """Why luit cannot carry the game here, or None when it converts CP1251."""
    for tool, package in (("luit", "luit"), ("script", "bsdutils")):
        if shutil.which(tool) is None:
            return f"{tool} is not installed (apt-get install {package})"
    shown = subprocess.run(["script", "-qec", "luit -encoding CP1251 -- printf '\\317\\360\\350\\342\\345\\362'",
                            "/dev/null"], stdin=subprocess.DEVNULL, capture_output=True, timeout=20,
                           env={**os.environ, **utf8_locale_env(), "SHELL": "/bin/sh"})
    if "Привет".encode() not in shown.stdout:
        return "luit does not convert CP1251 here (apt-get install xfonts-encodings)"
    return None


def tmux_missing_reason():
    return None if shutil.which("tmux") else "tmux is not installed"


class PtyGame:
    """A program on a fresh pseudo-terminal, in a session of its own with that
    terminal as its controlling one, so Ctrl-C typed there reaches it."""

    def __init__(self, argv, cwd, env=None, prepare=None, encoding="cp1251"):
        self.encoding = encoding  # of what reaches the terminal
        self.master, self.slave = os.openpty()
        if prepare:
            prepare(self.slave)
        self.before = termios.tcgetattr(self.slave)
        self.output = b""

        def take_terminal():
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        self.process = subprocess.Popen(argv, cwd=cwd, env=env, stdin=self.slave, stdout=self.slave,
                                        stderr=self.slave, start_new_session=True, preexec_fn=take_terminal)

    def settings(self):
        return termios.tcgetattr(self.slave)

    def pump(self, timeout=0.02):
        ready, _, _ = select.select([self.master], [], [], timeout)
        if ready:
            try:
                self.output += os.read(self.master, 65536)
            except OSError:
                pass

    def wait_for(self, text, count=1):
        """Waits until text has reached the terminal count times."""
        data = text.encode(self.encoding) if isinstance(text, str) else text

        def seen():
            self.pump()
            return self.output.count(data) >= count

        wait_until(seen, f"{data!r} x{count} on the terminal")

    def type(self, data):
        os.write(self.master, data)

    def in_key_wait(self):
        """True while the game holds the terminal in its raw key-read mode."""
        self.pump(0)
        return not self.settings()[3] & termios.ICANON

    def finish(self, timeout=WAIT):
        deadline = time.monotonic() + timeout
        while self.process.poll() is None:
            self.pump()
            if time.monotonic() > deadline:
                self.process.kill()
                raise AssertionError("the game did not end")
        self.pump(0)
        return self.process.returncode

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        os.close(self.master)
        os.close(self.slave)


class Tmux:
    """A tmux server on a socket of its own, one window, its pane kept after its
    program ends, and the pane's raw output copied into a file."""

    def __init__(self, folder, width=120, height=50):
        self.folder = pathlib.Path(folder)
        self.socket = self.folder / "tmux.sock"
        self.raw = self.folder / "pane.raw"
        self.go = self.folder / "go"
        config = self.folder / "tmux.conf"
        config.write_text("set -g remain-on-exit on\nset -g history-limit 5000\n")
        self.base = ["tmux", "-u", "-S", str(self.socket), "-f", str(config)]
        self.size = (width, height)

    def run(self, *args, **kwargs):
        return subprocess.run(self.base + list(args), capture_output=True, timeout=WAIT, check=True,
                              env={**os.environ, **utf8_locale_env(), "TERM": "xterm"}, **kwargs)

    def start(self, argv, env):
        """Starts argv with env, and nothing else of the server's environment, in the
        pane; it begins only once the copying of the pane's output is in place, so
        no byte is missed."""
        command = "while [ ! -e %s ]; do sleep 0.02; done; exec env -i %s" % (
            shlex.quote(str(self.go)), shlex.join([f"{k}={v}" for k, v in env.items()] + list(argv)))
        self.run("new-session", "-d", "-s", "pz", "-x", str(self.size[0]), "-y", str(self.size[1]), command)
        self.run("pipe-pane", "-O", "-t", "pz", "cat >> " + shlex.quote(str(self.raw)))
        self.go.touch()

    def screen(self):
        """Everything the pane has shown, scrollback included, wrapped lines joined."""
        return self.run("capture-pane", "-p", "-J", "-S", "-", "-t", "pz").stdout.decode("utf-8", "replace")

    def raw_output(self):
        return self.raw.read_bytes() if self.raw.exists() else b""

    def keys(self, *keys):
        self.run("send-keys", "-t", "pz", *keys)

    def text(self, text):
        self.run("send-keys", "-t", "pz", "-l", text)

    def hex(self, data):
        self.run("send-keys", "-t", "pz", "-H", *[f"{byte:02x}" for byte in data])

    def dead_status(self):
        """The exit status of the pane's program once it has ended and been reaped
        (minus the signal when a signal ended it), else None."""
        # tmux can miss a SIGCHLD (libutempter installs its own handler for a
        # moment) and then leaves the program a zombie; a nudge makes it reap.
        server = int(self.run("display-message", "-p", "#{pid}").stdout)
        os.kill(server, signal.SIGCHLD)
        fields = "#{pane_dead},#{pane_dead_status},#{pane_dead_signal}"
        dead, status, killer = self.run("display-message", "-p", "-t", "pz", fields).stdout.strip().split(b",")
        if dead != b"1":
            return None
        if status:
            return int(status)
        return -int(killer) if killer else None

    def describe(self):
        """The pane's processes and the end of its output, for a failure message."""
        pid = self.run("display-message", "-p", "-t", "pz", "#{pane_pid}").stdout.strip().decode()
        try:
            tree = subprocess.run(["ps", "-o", "pid,stat,wchan:24,args", "--forest", "-g", pid],
                                  capture_output=True, text=True, timeout=WAIT).stdout
        except (OSError, subprocess.TimeoutExpired) as error:
            tree = f"(ps failed: {error})\n"
        return f"pane processes:\n{tree}pane output ends:\n{self.raw_output()[-600:]!r}"

    def kill(self):
        subprocess.run(self.base + ["kill-server"], capture_output=True, timeout=WAIT)


def question_count(transcript):
    """How many question screens a transcript holds."""
    return len(re.findall(r"^\s*Вопрос \d+\s*$", transcript, re.M))


def fresh_home(folder):
    """Variables for a player with an empty home in folder."""
    home = pathlib.Path(folder) / "home"
    home.mkdir()
    return {"HOME": str(home), "XDG_DATA_HOME": str(home / "data"), "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "TERM": "xterm"}


def make_temp_folder(test):
    folder = tempfile.mkdtemp(prefix="pzterm-")
    test.addCleanup(shutil.rmtree, folder, ignore_errors=True)
    return folder



def main():
    """Runs the tests of the calling file (or its classes named); exits 77 when any
    was skipped, so that the test runner shows the file as skipped rather than as
    passed with tests left out."""
    result = unittest.main(exit=False).result
    if not result.wasSuccessful() or result.testsRun == 0:
        sys.exit(1)
    sys.exit(77 if result.skipped else 0)
