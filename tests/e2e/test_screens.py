"""Whole games played through pipes: every screen byte for byte, the verdict
bands and averages, character ties, and the way answers are read from input."""

import unittest

from gamekit import (BANNER_REST, CRAZY, EDUCATED, GENIUS, INTRO1, NAME_CONTROL, NAME_REFUSED, PROMPT, SCORE, SLACKER, TEMP, UNKNOWN,
                     Database, GameTest, Player, cp, expected_game, play, record, uniform_answers,
                     run, varied_character_key, varied_intellect_key)

NEW = (0, 0, 0, UNKNOWN, UNKNOWN)


class PlannedGames(GameTest):
    """Games where every answer is chosen from the record shown on the screen."""

    def setUp(self):
        super().setUp()
        self.setup_files(Database.standard(intellect_key=varied_intellect_key, character_key=varied_character_key))

    def answer_for_category(self, plan):
        """Answers test-2 question i with the answer that counts for category plan[i]
        (a letter when plan[i] is None)."""
        return lambda i, n: b"x" if plan[i] is None else b"%d" % (self.db.character_key(n).index(plan[i]) + 1)

    def test_new_player_whole_game_byte_for_byte(self):
        # Right on the even records 26..50 only: 13 right, the top of the lowest band.
        def intellect(n):
            key = int(self.db.intellect_key(n))
            return b"%d" % (key if n % 2 == 0 else key % 4 + 1)
        plan = [1, 1, 1, 2, 2, 2, 3, 3, 4, 4]  # tallies 3, 3, 2, 2: the lower category wins
        rc, out, err, asked_i, asked_c = play(self.dir.path, cp("Гость"), intellect, self.answer_for_category(plan))
        self.assertEqual((rc, err), (0, b""))
        self.assertEqual(sorted(asked_i), list(range(26, 51)), "every intellect record exactly once")
        self.assertAskedAll(asked_i, asked_c)
        self.assertGameOutput(out, expected_game(self.db, cp("Гость"), NEW, asked_i, asked_c, 13, CRAZY, "еврей"))
        self.assertBytes(self.dir.read(SCORE), b"\n" + record("Гость", 1, 13, 12, "еврей", CRAZY), "score.dat")
        self.assertFalse(self.dir.exists(TEMP), "a new player's save must not touch the temporary file")

    def test_character_choice_and_ties(self):
        cases = [
            ([2, 2, 2, 2, 3, 3, 4, 4, 4, 4], "нормальный"),     # 0, 4, 2, 4: the lower of the tied wins
            ([4] + [None] * 9, "экстримал"),                    # 0, 0, 0, 1: one answer suffices
            ([3, 3, 3, 4, 4, 4, 1, 1, 2, 2], "извращенец"),     # 2, 2, 3, 3
            ([None] * 10, UNKNOWN),                             # nothing counted: the label stays
        ]
        for index, (plan, label) in enumerate(cases):
            with self.subTest(plan=plan):
                name = cp("Игрок%d" % index)
                rc, out, _, asked_i, asked_c = play(self.dir.path, name, self.db.intellect_key,
                                                    self.answer_for_category(plan))
                self.assertEqual(rc, 0)
                self.assertGameOutput(out, expected_game(self.db, name, NEW, asked_i, asked_c, 25, GENIUS, label))

    def test_letters_in_test_two_keep_the_stored_character(self):
        self.dir.write(SCORE, record("Вера", 2, 30, 20, "нормальный", SLACKER))
        rc, out, _, asked_i, asked_c = play(self.dir.path, cp("Вера"), lambda n: b"x",
                                            self.answer_for_category([None] * 10))
        self.assertEqual(rc, 0)
        self.assertGameOutput(out, expected_game(self.db, cp("Вера"), (2, 30, 20, SLACKER, "нормальный"),
                                                 asked_i, asked_c, 0, CRAZY, "нормальный"))   # 30 / 3 = 10
        self.assertBytes(self.dir.read(SCORE), record("Вера", 3, 30, 45, "нормальный", CRAZY), "score.dat")


class Bands(GameTest):
    """Uniform keys (intellect 1, character 1 2 3 4) make the counts plannable from piped input."""

    def test_band_borders_on_a_first_run(self):
        self.setup_files()
        for right, label in [(25, GENIUS), (24, GENIUS), (23, EDUCATED), (19, EDUCATED),
                             (18, SLACKER), (14, SLACKER), (13, CRAZY), (0, CRAZY)]:
            with self.subTest(right=right):
                self.dir.write(SCORE, b"")
                name = cp("Новичок%d" % right)
                self.check_game(uniform_answers(name, right, b"2"), name, right, label, "нормальный")
                self.assertBytes(self.dir.read(SCORE),
                                 b"\n" + record(name, 1, right, 25 - right, "нормальный", label), "score.dat")

    def test_average_over_all_runs_drops_the_fraction(self):
        self.setup_files()
        cases = [
            ((1, 24, 1), 23, (2, 47, 3), EDUCATED),    # 47 / 2 = 23
            ((1, 25, 0), 10, (2, 35, 15), SLACKER),    # 35 / 2 = 17
            ((3, 71, 4), 25, (4, 96, 4), GENIUS),      # 96 / 4 = 24
            ((4, 95, 5), 0, (5, 95, 30), EDUCATED),    # 95 / 5 = 19
        ]
        other = record("Другой", 1, 5, 20, "еврей", CRAZY)
        for before, right, after, label in cases:
            with self.subTest(before=before, right=right):
                self.dir.write(SCORE, b"\n" + other + b"\n" + record("Стас", *before, "экстримал", GENIUS))
                self.check_game(uniform_answers(cp("Стас"), right, b"4"), cp("Стас"), right, label, "экстримал",
                                before=before + (GENIUS, "экстримал"))
                self.assertBytes(self.dir.read(SCORE),
                                 record("Стас", *after, "экстримал", label) + b"\n" + other, "score.dat")
                self.assertBytes(self.dir.read(TEMP), b"", TEMP)


class AnswerInput(GameTest):
    """Answers are read a line at a time: the first byte of a line is the answer, the
    rest of the line is skipped; the introduction of test 1 takes one whole line."""

    def setUp(self):
        super().setUp()
        self.setup_files()

    def test_stray_keys_cost_one_answer_at_most(self):
        # Typed after the name: the line at the introduction, then the answer lines.
        rows = [
            ("Space and Enter at the introduction", b" \n" + b"1\n" * 35, 25, "еврей"),
            ("a digit there goes with its line", b"2\n" + b"1\n" * 35, 25, "еврей"),
            ("12: the answer 1, the 2 skipped", b"\n12\n" + b"1\n" * 34, 25, "еврей"),
            ("an empty line: one wrong answer", b"\n" + b"1\n" * 5 + b"\n" + b"1\n" * 29, 24, "еврей"),
            ("an empty test-2 line counts nowhere", b"\n" + b"1\n" * 25 + b"\n" + b"3\n" * 9, 25, "извращенец"),
            ("CR LF line ends", b"\r\n" + b"1\r\n" * 35, 25, "еврей"),
            ("x1: the answer x, wrong", b"\n" + b"x1\n" + b"1\n" * 34, 24, "еврей"),
        ]
        for what, typed, right, character in rows:
            with self.subTest(what):
                self.dir.write(SCORE, b"")
                self.check_game(cp("Лена") + b"\n" + typed, cp("Лена"), right, GENIUS, character)
                self.assertBytes(self.dir.read(SCORE),
                                 b"\n" + record("Лена", 1, right, 25 - right, character, GENIUS), "score.dat")

    def test_end_of_input(self):
        # Input ends after ten right answers, or right after the name: every later answer is
        # wrong or counts for nothing, all screens still come, and the profile is stored.
        for answered, stored in [(10, record("Дима", 2, 40, 10, "еврей", EDUCATED)), (0, b"")]:
            with self.subTest(answered=answered):
                self.dir.write(SCORE, stored)
                typed = cp("Петя") + b"\n" + (b"\n" + b"1\n" * answered if answered else b"")
                self.check_game(typed, cp("Петя"), answered, CRAZY, UNKNOWN)
                self.assertBytes(self.dir.read(SCORE),
                                 stored + b"\n" + record("Петя", 1, answered, 25 - answered, UNKNOWN, CRAZY))

    def test_each_question_waits_for_its_own_line(self):
        player = Player(self.dir.path)
        try:
            player.wait_for_end(PROMPT, "the name prompt")
            player.send(cp("Оля") + b"\n")
            player.wait_for_end(INTRO1, "the test-1 introduction")
            player.send(b"2")
            self.assertTrue(player.quiet_for(0.2), "the introduction must wait for a whole line")
            player.send(b"\n")          # "2" and Enter there are skipped whole
            asked = [player.next_screen()]
            self.assertTrue(player.quiet_for(0.3), "question 1 must wait for its own answer")
            player.send(b"12\n")        # question 1 takes "1": right; the "2" goes with its line
            asked.append(player.next_screen())
            self.assertTrue(player.quiet_for(0.3), "question 2 must wait for its own line")
            player.send(b"\n")          # Enter alone: question 2 is wrong
            asked.append(player.next_screen())
            for _ in range(22):        # questions 3 to 24
                player.send(b"1\n")
                asked.append(player.next_screen())
            player.send(b"1\n")
            character = []
            for _ in range(10):
                character.append(player.next_screen())
                player.send(b"3\n")
            rc, out, _ = player.finish()
        finally:
            player.kill()
        self.assertEqual(rc, 0)
        self.assertAskedAll(asked, character)
        self.assertGameOutput(out, expected_game(self.db, cp("Оля"), NEW, asked, character, 24, GENIUS,
                                                 "извращенец"))


class Names(GameTest):

    def setUp(self):
        super().setUp()
        self.setup_files()

    def test_name_lengths_and_line_ends(self):
        name23 = cp("Александра_Пантелеймонов")[:23]
        cases = [
            (name23 + b"\n", name23),                            # 23 bytes: taken whole
            (name23 + b"\r\n", name23),                          # carriage return dropped
            (cp("Илья") + b"\r\n", cp("Илья")),                  # ends with the byte 0xFF
            (name23 + cp("ЩЁЖ и ещё слова") + b"\n", name23),    # longer: first 23 bytes, rest discarded
        ]
        for typed, name in cases:
            with self.subTest(typed=typed):
                self.dir.write(SCORE, b"")
                self.check_game(typed + b"\n" + b"1\n" * 35, name, 25, GENIUS, "еврей")
                self.assertBytes(self.dir.read(SCORE), b"\n" + record(name, 1, 25, 0, "еврей", GENIUS))

    def test_names_that_are_not_one_word_are_asked_again(self):
        typed = b"\n" + cp("Иван Петров") + b"\n" + b"a\tb\n" + b" \r\n"
        # Control bytes are no part of a name; a NUL would make "Ив" of both.
        typed += cp("Ив") + b"\0\n" + cp("Ив") + b"\0xx\n" + b"\x1b[A\n" + cp("Иван") + b"\x7f\n" + cp("Иван") + b"\n"
        self.check_game(typed + b"\n" + b"1\n" * 35, cp("Иван"), 25, GENIUS, "еврей",
                        after_name=(NAME_REFUSED + PROMPT) * 4 + (NAME_CONTROL + PROMPT) * 4)
        self.assertBytes(self.dir.read(SCORE), b"\n" + record("Иван", 1, 25, 0, "еврей", GENIUS))

    def test_input_ends_before_a_valid_name(self):
        # Asking again is no use once input has ended: the game stops, nothing stored.
        stored = b"\n" + record("Гость", 1, 2, 23, "еврей", CRAZY)
        for typed, refusals in [(b"", 0), (cp("два слова") + b"\n", 1), (b"\n\n", 2), (cp("Ив") + b"\0", 1)]:
            with self.subTest(typed=typed):
                self.dir.write(SCORE, stored)
                result = run(self.dir.path, typed)
                self.assertEqual((result.returncode, result.stderr.replace(b"\r\n", b"\n")),  # as Windows ends it
                                 (1, b"prozorometr: input ended before a name was given; no game was played\n"))
                refused = (NAME_CONTROL if b"\0" in typed else NAME_REFUSED) + PROMPT
                self.assertGameOutput(result.stdout, BANNER_REST + refused * refusals + b"\n")
                self.assertBytes(self.dir.read(SCORE), stored, "score.dat")
                self.assertFalse(self.dir.exists(TEMP))

if __name__ == "__main__":
    unittest.main()
