"""Whole games through the launcher in a real terminal emulator (tmux), from a
fresh home: under luit on a UTF-8 terminal, where the player reads and types
Russian as usual and the score file still gets Windows-1251; and directly, on a
Windows-1251 terminal or when forced, where every byte passes unchanged."""

import os
import unittest

from termkit import (BANNER, BINARY, EXIT_PROMPT, LAUNCHER, NAME_PROMPT, TEST1_PROMPT, TEST2_PROMPT, Tmux, cp,
                     expected_record, fresh_home, game_missing_reason, luit_missing_reason, main, make_cp1251_locale,
                     make_temp_folder, question_count, score_records, tmux_missing_reason, utf8_locale_env,
                     wait_until, write_database)


class LauncherInTmux(unittest.TestCase):
    def setUp(self):
        reason = game_missing_reason() or tmux_missing_reason()
        if reason:
            self.skipTest(reason)
        self.folder = make_temp_folder(self)
        self.database = os.path.join(self.folder, "questions.db")
        write_database(self.database)
        self.tmux = Tmux(self.folder)
        self.addCleanup(self.tmux.kill)

    def start(self, locale_env, *options):
        env = {**fresh_home(self.folder), **locale_env, "PROZOROMETR_GAME": BINARY, "PROZOROMETR_DB": self.database}
        self.play_folder = os.path.join(env["XDG_DATA_HOME"], "prozorometr")
        self.tmux.start([str(LAUNCHER), *options], env)

    def play_to_the_end(self, transcript, type_name, introduction=("Enter",)):
        """Plays a whole game answering 1 everywhere, with the given keys at the test-1
        introduction; returns the pane's exit status."""
        tmux = self.tmux
        wait_until(lambda: NAME_PROMPT in transcript(), "the name prompt")
        type_name()
        tmux.keys("Enter")
        wait_until(lambda: TEST1_PROMPT in transcript(), "the test-1 introduction")
        tmux.keys(*introduction)
        for number in range(1, 36):
            if number == 26:
                wait_until(lambda: TEST2_PROMPT in transcript(), "the test-2 introduction")
                tmux.keys("x")  # one key, no Enter
            wait_until(lambda: question_count(transcript()) >= number, f"question screen {number}",
                       describe=tmux.describe)
            tmux.keys("1", "Enter")
        wait_until(lambda: EXIT_PROMPT in transcript(), "the exit prompt")
        score = os.path.join(self.play_folder, "score.dat")
        wait_until(lambda: os.path.getsize(score) > 0, "the profile saved before the last key")
        self.assertIsNone(tmux.dead_status(), "the game must wait for a key after the report")
        tmux.keys("q")
        wait_until(lambda: tmux.dead_status() is not None, "the game to end", describe=tmux.describe)
        return tmux.dead_status()

    def raw_as_cp1251(self):
        return self.tmux.raw_output().decode("cp1251", "replace")


class UnderLuit(LauncherInTmux):
    def setUp(self):
        super().setUp()
        reason = luit_missing_reason()
        if reason:
            self.skipTest(reason)

    def play_in_russian(self, locale_env, name, introduction=("Enter",)):
        """A whole game under luit: Russian on the screen, the name typed in UTF-8 and
        stored in Windows-1251, all 25 answers right."""
        self.start(locale_env)
        wait_until(lambda: NAME_PROMPT in self.tmux.screen(), "the name prompt")
        screen = self.tmux.screen()
        self.assertIn(BANNER, screen)
        self.assertIn("\"Прозорометр-2004\"", screen)
        raw = self.tmux.raw_output()
        self.assertIn(BANNER.encode(), raw, "luit should hand the terminal UTF-8")
        self.assertNotIn(cp(BANNER), raw)
        self.assertNotIn(b"prozorometr-play:", raw)

        status = self.play_to_the_end(self.tmux.screen, lambda: self.tmux.text(name), introduction)
        self.assertEqual(status, 0)
        screen = self.tmux.screen()
        self.assertIn("Пользователь " + name, screen)
        self.assertIn("Настоящий извращенец " + name, screen)
        self.assertEqual(score_records(os.path.join(self.play_folder, "score.dat")),
                         [expected_record(cp(name)).split()])
        with open(os.path.join(self.play_folder, "pz2004.db"), "rb") as copied, open(self.database, "rb") as shipped:
            self.assertEqual(copied.read(), shipped.read())

    def test_utf8_terminal_reads_and_types_russian_and_stores_windows_1251(self):
        self.play_in_russian(utf8_locale_env(), "Иван")

    def test_terminal_whose_locale_says_nothing_is_taken_for_utf8(self):
        # LANG unset, as on a bare machine; Space and Enter at the introduction cost nothing.
        self.play_in_russian({}, "Ёжик", introduction=("Space", "Enter"))


class Direct(LauncherInTmux):
    def check_bytes_unchanged(self, typed):
        raw = self.tmux.raw_output()
        self.assertIn(cp(BANNER), raw)
        self.assertNotIn(BANNER.encode(), raw, "nothing may convert the game's output")
        self.assertIn(cp("Пользователь ") + typed + b"\r\n", raw)
        self.assertEqual(score_records(os.path.join(self.play_folder, "score.dat")), [expected_record(typed).split()])

    def test_windows_1251_terminal_runs_the_game_directly(self):
        locale_env = make_cp1251_locale(self.folder)
        if locale_env is None:
            self.skipTest("cannot compile a ru_RU.CP1251 locale here (needs the locales package)")
        self.start(locale_env)
        name = cp("Иван")
        status = self.play_to_the_end(self.raw_as_cp1251, lambda: self.tmux.hex(name))
        self.assertEqual(status, 0)
        self.check_bytes_unchanged(name)

    def test_forced_direct_on_utf8_terminal_passes_bytes_unchanged(self):
        self.start(utf8_locale_env(), "--direct")
        status = self.play_to_the_end(self.raw_as_cp1251, lambda: self.tmux.text("Иван"))
        self.assertEqual(status, 0)
        self.check_bytes_unchanged("Иван".encode())


if __name__ == "__main__":
    main()
