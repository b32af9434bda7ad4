"""The game at a terminal (a pseudo-terminal): what is visible before each wait
for input, the one-key pause of test 2, and the wait for a key at the end."""

import fcntl
import os
import subprocess
import termios
import time
import unittest

from gamekit import (BANNER_REST, BINARY, GENIUS, INTRO1, INTRO2, PROMPT, SCORE, SCREEN_RE, UNKNOWN, Console,
                     GameTest, record, report, summary)


def _take_terminal():
    """Runs in the child: makes the pseudo-terminal on stdin its controlling terminal."""
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


class TerminalGame(Console):
    """The game on a pseudo-terminal. Output processing is off, so what the game
    writes arrives unchanged; typed input is echoed by the terminal as usual."""

    def __init__(self, folder):
        self.master, self.slave = os.openpty()
        attrs = termios.tcgetattr(self.slave)
        attrs[1] &= ~termios.OPOST
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)
        self.proc = subprocess.Popen([BINARY], cwd=folder, stdin=self.slave, stdout=self.slave,
                                     stderr=subprocess.DEVNULL, start_new_session=True, preexec_fn=_take_terminal)
        super().__init__(self.master, timeout=30)

    def type(self, data):
        os.write(self.master, data)

    def wait_for_key_read(self):
        """Waits until the game reads single keys (the terminal has left line mode)."""
        end = time.monotonic() + 10
        while termios.tcgetattr(self.slave)[3] & termios.ICANON:
            if time.monotonic() > end:
                raise AssertionError("the game never started reading a single key")
            time.sleep(0.01)

    def screens(self):
        return len(SCREEN_RE.findall(self.out))

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        os.close(self.master)
        os.close(self.slave)


class Terminal(GameTest):

    def test_whole_game_at_a_terminal(self):
        self.setup_files()
        game = TerminalGame(self.dir.path)
        self.addCleanup(game.close)
        game.wait_for_end(PROMPT, "the name prompt")
        self.assertGameOutput(game.out, BANNER_REST)
        game.type(b"Tty\r")
        game.wait_for_end(INTRO1, "the test-1 introduction")
        self.assertTrue(game.out.endswith(PROMPT + b"Tty\n" + summary(b"Tty", 0, 0, 0, UNKNOWN, UNKNOWN) + INTRO1))
        self.assertTrue(game.quiet_for(0.3), "the introduction must wait for Enter")
        self.assertEqual(game.screens(), 0)
        game.type(b"\r")
        for shown in range(1, 26):
            game.wait_for(lambda out: game.screens() == shown, "question %d" % shown)
            game.type(b"1\r")
        game.wait_for_end(INTRO2, "the test-2 introduction")
        self.assertTrue(game.quiet_for(0.4), "test 2 must wait for a key")

        game.wait_for_key_read()
        game.type(b"q")  # one key, no Enter
        game.wait_for(lambda out: game.screens() == 26, "the first question of test 2")
        self.assertRegex(game.out.partition(INTRO2)[2], b"^" + SCREEN_RE.pattern + b"$",
                         "the key must start test 2 without echo and without being an answer")
        for shown in range(27, 36):
            game.type(b"1\r")
            game.wait_for(lambda out: game.screens() == shown, "question %d of test 2" % (shown - 25))
        game.type(b"1\r")
        final = report(b"Tty", 25, GENIUS, "еврей")
        game.wait_for_end(final, "the report")

        # The profile is stored before the final key; the game then waits for that key.
        self.assertTrue(game.quiet_for(0.5))
        self.assertIsNone(game.proc.poll(), "the game must wait for a key after the exit prompt")
        self.assertEqual(self.dir.read(SCORE), b"\n" + record("Tty", 1, 25, 0, "еврей", GENIUS))
        game.wait_for_key_read()
        game.type(b"k")
        self.assertEqual(game.proc.wait(timeout=10), 0)
        game.quiet_for(0.2)
        self.assertTrue(game.out.endswith(final), "the final key must not be echoed")
        lflag = termios.tcgetattr(game.slave)[3]
        self.assertTrue(lflag & termios.ICANON and lflag & termios.ECHO, "terminal mode not restored")


if __name__ == "__main__":
    unittest.main()
