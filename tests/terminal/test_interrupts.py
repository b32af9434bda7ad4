"""Interrupting the game on a pseudo-terminal at each kind of wait: the name
line, an answer, the key waits of the test-2 introduction and of the end. The
terminal must be left with exactly the settings it had before the game started,
and a game ended before its report must leave the score file as it was."""

import os
import pathlib
import signal
import termios
import unittest

from termkit import (BINARY, EXIT_PROMPT, LAUNCHER, NAME_PROMPT, TEST1_PROMPT, TEST2_PROMPT, PtyGame, cp,
                     game_missing_reason, luit_missing_reason, main, make_temp_folder, score_records,
                     utf8_locale_env, wait_until, write_database)

OLD_SCORES = cp("Петр 3 40 35 нормальный раздолбай\nОля 1 20 5 еврей образованный")


def unusual_settings(fd):
    """Settings a fixed 'sane' mode would not restore: ^H erases, no ECHOCTL."""
    attrs = termios.tcgetattr(fd)
    attrs[3] &= ~termios.ECHOCTL
    attrs[6][termios.VERASE] = b"\x08"
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


class GameOnTerminal(unittest.TestCase):
    def setUp(self):
        reason = game_missing_reason()
        if reason:
            self.skipTest(reason)

    def start_game(self):
        self.folder = make_temp_folder(self)
        write_database(os.path.join(self.folder, "pz2004.db"))
        self.score = pathlib.Path(self.folder, "score.dat")
        self.score.write_bytes(OLD_SCORES)
        self.game = self.spawn()
        self.addCleanup(self.game.close)

    def spawn(self):
        return PtyGame([BINARY], self.folder, prepare=unusual_settings)

    def reach(self, stop):
        """Starts a game in a fresh folder and plays it, answering 1, up to the
        wait named by stop: 'name', 'answer', 'test2' (its introduction shown),
        'test2-raw' (its key wait begun) or 'exit'."""
        self.start_game()
        game = self.game
        game.wait_for(NAME_PROMPT)
        if stop == "name":
            return
        game.type("Иван\n".encode(game.encoding))
        game.wait_for(TEST1_PROMPT)
        game.type(b"\n")
        game.wait_for("Вопрос ")
        if stop == "answer":
            return
        game.type(b"1\n" * 25)
        game.wait_for(TEST2_PROMPT)
        if stop == "test2":
            return
        wait_until(game.in_key_wait, "the key wait of the test-2 introduction")
        if stop == "test2-raw":
            return
        game.type(b"x")
        game.wait_for("Вопрос ", count=26)
        game.type(b"1\n" * 10)
        game.wait_for(EXIT_PROMPT)
        wait_until(game.in_key_wait, "the final key wait")


class Interrupted(GameOnTerminal):
    def interrupt(self, how):
        if how == signal.SIGINT:
            self.game.type(b"\x03")  # Ctrl-C, as the terminal sends it
        else:
            self.game.process.send_signal(how)
        self.assertEqual(self.game.finish(), -how, "the game should end by the signal itself")
        self.assertEqual(self.game.settings(), self.game.before)

    def test_ctrl_c_at_the_name_line(self):
        self.reach("name")
        self.interrupt(signal.SIGINT)
        self.assertEqual(self.score.read_bytes(), OLD_SCORES)

    def test_ctrl_c_at_an_answer(self):
        self.reach("answer")
        self.interrupt(signal.SIGINT)
        self.assertEqual(self.score.read_bytes(), OLD_SCORES)

    def test_signals_at_the_test2_key_wait(self):
        for how in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=how.name):
                self.reach("test2-raw")
                self.interrupt(how)
                self.assertEqual(self.score.read_bytes(), OLD_SCORES)

    def test_signals_at_the_final_key_wait(self):
        for how in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=how.name):
                self.reach("exit")
                self.interrupt(how)
                names = [record[0] for record in score_records(self.score)]
                self.assertEqual(sorted(names), sorted([cp("Петр"), cp("Оля"), cp("Иван")]),
                                 "the profile is saved before the final key wait")

    def test_a_key_ends_the_final_wait_cleanly(self):
        self.reach("exit")
        self.game.type(b"q")
        self.assertEqual(self.game.finish(), 0)
        self.assertEqual(self.game.settings(), self.game.before)


class InterruptedUnderLuit(GameOnTerminal):
    """The same through the launcher on a UTF-8 terminal, where luit holds the
    player's terminal in its own raw mode and the game sits on a second one."""

    def setUp(self):
        super().setUp()
        reason = luit_missing_reason()
        if reason:
            self.skipTest(reason)

    def spawn(self):
        env = {**os.environ, **utf8_locale_env(), "PROZOROMETR_GAME": BINARY, "PROZOROMETR_DIR": self.folder}
        return PtyGame([str(LAUNCHER), "--luit"], self.folder, env=env, prepare=unusual_settings, encoding="utf-8")

    def test_ctrl_c_at_the_name_line_and_the_test2_key_wait(self):
        for stop in ("name", "test2"):
            with self.subTest(stop=stop):
                self.reach(stop)
                self.game.type(b"\x03")
                self.assertEqual(self.game.finish(), 128 + signal.SIGINT, "the shell's word for a game ended by ^C")
                self.assertEqual(self.game.settings(), self.game.before)
                self.assertEqual(self.score.read_bytes(), OLD_SCORES)


if __name__ == "__main__":
    main()
