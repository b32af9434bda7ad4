"""The question database and the score file as a player meets them: refused and
odd databases, the lookup of stored profiles, and the bytes that saving leaves."""

import os
import unittest

from gamekit import (BANNER_REST, CRAZY, DB, DB_FAILURE, EDUCATED, GENIUS, INTRO1, SCORE, SCORE_FAILURE,
                     SLACKER, TEMP, UNKNOWN, Database, GameTest, answer_first_after, cp, expected_game, piped_answers, play,
                     record, run, screen, shown_records, summary, uniform_answers, varied_character_key,
                     varied_intellect_key)

NEW = (0, 0, 0, UNKNOWN, UNKNOWN)


class DatabaseRefused(GameTest):

    def assertRefused(self, result):
        self.assertEqual(result.returncode, 1)
        self.assertBytes(result.stdout, DB_FAILURE)

    def test_missing_or_unopenable_database(self):
        self.dir.write(SCORE, b"old")
        with self.subTest("missing"):
            self.assertRefused(run(self.dir.path, uniform_answers(b"Name", 25)))
        with self.subTest("a folder in its place"):
            os.mkdir(self.dir.file(DB))
            self.assertRefused(run(self.dir.path, uniform_answers(b"Name", 25)))
        self.assertBytes(self.dir.read(SCORE), b"old", "score.dat")
        self.assertFalse(self.dir.exists(TEMP))

    def test_database_gone_during_the_game(self):
        self.setup_files(score=b"\n" + record("Гость", 1, 2, 23, "еврей", CRAZY))
        def replace_database():
            os.remove(self.dir.file(DB))
            os.mkdir(self.dir.file(DB))
        rc, out, _, first = answer_first_after(self.dir.path, cp("Гость"), replace_database)
        self.assertEqual(rc, 1)
        self.assertGameOutput(out, BANNER_REST + summary(cp("Гость"), 1, 2, 23, CRAZY, "еврей") + INTRO1
                              + screen(1, *self.db.shown(first)) + DB_FAILURE)
        self.assertBytes(self.dir.read(SCORE), b"\n" + record("Гость", 1, 2, 23, "еврей", CRAZY), "score.dat")

    def test_too_few_intellect_questions(self):
        cases = [
            ("49 records", Database.standard(49).content()),
            ("50 records without the final line feed", Database.standard(50).content(final_lf=False)),
            ("50 CRLF records without the final line feed",
             Database.standard(50).content(final_lf=False, crlf=True)),
            ("empty file", b""),
            ("25 records", Database.standard(25).content()),
        ]
        self.dir.write(SCORE, b"")
        for what, content in cases:
            with self.subTest(what):
                self.dir.write(DB, content)
                result = run(self.dir.path, uniform_answers(b"Name", 25))
                self.assertRefused(result)
                self.assertEqual(result.stderr.count(b"\n"), 1, result.stderr)
                self.assertTrue(result.stderr.endswith(b"\n"), result.stderr)
        self.assertBytes(self.dir.read(SCORE), b"", "score.dat")


class DatabaseLayout(GameTest):
    """Databases that are accepted, and what their screens show."""

    def test_count_rule(self):
        for count, final_lf, extra, last in [(50, True, 0, 50), (51, False, 0, 50), (50, True, 5, 50),
                                             (51, True, 0, 51)]:
            with self.subTest(records=count, final_lf=final_lf, empty_lines=extra):
                self.setup_files(Database.standard(count), final_lf=final_lf, extra_lines=[b""] * extra)
                _, asked_i, _ = self.check_game(uniform_answers(b"Name", 25), b"Name", 25, GENIUS, "еврей",
                                                intellect_range=range(26, last + 1))
                if last == 50:
                    self.assertEqual(sorted(asked_i), list(range(26, 51)))

    def test_six_empty_lines_make_one_more_empty_record(self):
        # The empty record's key gives no digit, so answering 1 to it is wrong.
        self.setup_files(Database.standard(50), extra_lines=[b""] * 6)
        self.db = Database(self.db.records + [(b"", [b""] * 4, b"")])
        self.assertEqual(self.db.content(), self.dir.read(DB))
        result = run(self.dir.path, uniform_answers(b"Name", 25))
        asked_i, asked_c = shown_records(result.stdout)
        asked_i = [51 if n == 0 else n for n in asked_i]
        self.assertAskedAll(asked_i, asked_c, range(26, 52))
        right = 24 if 51 in asked_i else 25
        self.assertGameOutput(result.stdout, expected_game(self.db, b"Name", NEW, asked_i, asked_c, right,
                                                           GENIUS, "еврей"))

    def test_crlf_database_reads_like_lf(self):
        self.setup_files(Database.standard(intellect_key=varied_intellect_key, character_key=varied_character_key),
                         crlf=True)
        plan = [2, 2, 2, 1, 1, 1, 4, 4, 3, 3]   # tallies 3, 3, 2, 2: category 1 wins the tie
        rc, out, _, asked_i, asked_c = play(
            self.dir.path, b"Crlf", self.db.intellect_key,
            lambda i, n: b"%d" % (self.db.character_key(n).index(plan[i]) + 1))
        self.assertEqual(rc, 0)
        self.assertEqual(sorted(asked_i), list(range(26, 51)))
        self.assertGameOutput(out, expected_game(self.db, b"Crlf", NEW, asked_i, asked_c, 25, GENIUS, "еврей"))

    def test_long_lines(self):
        pad = cp("я")  # the byte 0xFF
        for crlf in (False, True):
            with self.subTest(crlf=crlf):
                shown = Database.standard(intellect_key=varied_intellect_key)
                stored = Database(shown.records)
                for n in range(26, 51):
                    question, answers, key = shown.records[n - 1]
                    q249 = (question + b" " + pad * 249)[:249]
                    a300, a250, a248 = [(a + b" " + pad * 300)[:size] for a, size in zip(answers, (300, 250, 248))]
                    stored.records[n - 1] = (q249, [a300, a250, a248, answers[3]], key)
                    shown.records[n - 1] = (q249, [a300[:249], a250[:249], a248, answers[3]], key)
                stored.write(self.dir.path, crlf=crlf)
                self.dir.write(SCORE, b"")
                rc, out, _, asked_i, asked_c = play(self.dir.path, b"Long", shown.intellect_key, lambda i, n: b"2")
                self.assertEqual(rc, 0)
                self.assertEqual(sorted(asked_i), list(range(26, 51)))
                self.assertGameOutput(out, expected_game(shown, b"Long", NEW, asked_i, asked_c, 25, GENIUS,
                                                         "нормальный"))

    def test_character_keys(self):
        cases = [
            # key line of every character record, the ten answers, the label
            (b"3-1+4*2", [b"2"] * 10, "еврей"),                         # separators other than blanks
            (b"3 x 9", [b"2", b"3", b"4"] * 3 + [b"1"], "извращенец"),  # only answer 1 names a category
            (b"0 0 0 4", [b"1", b"2", b"3"] * 3 + [b"4"], "экстримал"),  # category 0 decides nothing
            (b"1 2", [b"3", b"4"] * 5, UNKNOWN),                        # positions beyond the line's end
            (b"", [b"1", b"2", b"3", b"4"] * 2 + [b"1", b"1"], UNKNOWN),
        ]
        for key, answers, label in cases:
            with self.subTest(key=key):
                self.setup_files(Database.standard(character_key=lambda n: key))
                self.check_game(piped_answers(b"Keys", [b"1"] * 25, answers), b"Keys", 25, GENIUS, label)

    def test_intellect_key_takes_the_first_byte_only(self):
        db = Database.standard(intellect_key=lambda n: 3)
        db.records = [(q, a, k + cp(" и ещё 1 2 4") if n > 25 else k) for n, (q, a, k) in enumerate(db.records, 1)]
        self.setup_files(db)
        self.check_game(piped_answers(b"Key", [b"3"] * 20 + [b"1"] * 5, [b"1"] * 10), b"Key", 20, EDUCATED, "еврей")


class ScoreFile(GameTest):

    def setUp(self):
        super().setUp()
        self.setup_files(score=None)

    def game(self, name, before, right, intellect, character, answer=b"1"):
        self.check_game(uniform_answers(cp(name), right, answer), cp(name), right, intellect, character,
                        before=before)

    def test_missing_or_unopenable_score_file(self):
        for what in ("missing", "a folder in its place"):
            with self.subTest(what):
                if what != "missing":
                    os.mkdir(self.dir.file(SCORE))
                result = run(self.dir.path, uniform_answers(cp("Гость"), 25))
                self.assertEqual(result.returncode, 1)
                self.assertEqual(self.dir.exists(SCORE), what != "missing", "the lookup must not create it")
                self.assertGameOutput(result.stdout, BANNER_REST + SCORE_FAILURE)
                self.assertFalse(self.dir.exists(TEMP))

    def test_new_player_appends(self):
        old = (b"\n" + record("Гость", 3, 60, 15, "еврей", EDUCATED) + b"\n"
               + record("Гостья", 1, 2, 23, "экстримал", CRAZY) + b" \t\n")   # trailing blanks stay as they are
        stale = b"stale 1 2 3 a b"
        for name in ("гость", "Гост", "Гостьи"):   # other case, prefix, extension: all new players
            with self.subTest(name=name):
                self.dir.write(SCORE, old)
                self.dir.write(TEMP, stale)
                self.game(name, NEW, 19, EDUCATED, "нормальный", answer=b"2")
                self.assertBytes(self.dir.read(SCORE),
                                 old + b"\n" + record(name, 1, 19, 6, "нормальный", EDUCATED), "score.dat")
                self.assertBytes(self.dir.read(TEMP), stale, TEMP)

    def test_returning_player_alone_is_rewritten(self):
        self.dir.write(SCORE, b"\n" + record("Гость", 1, 20, 5, "нормальный", EDUCATED))
        self.game("Гость", (1, 20, 5, EDUCATED, "нормальный"), 10, SLACKER, "экстримал", answer=b"4")
        self.assertBytes(self.dir.read(SCORE), record("Гость", 2, 30, 20, "экстримал", SLACKER), "score.dat")
        self.assertBytes(self.dir.read(TEMP), b"", TEMP)

    def test_returning_player_goes_first_and_others_are_rewritten_in_writer_form(self):
        self.dir.write(TEMP, b"\n" + record("Призрак", 1, 1, 24, "еврей", CRAZY))  # stale rewrite left over
        self.dir.write(SCORE, b"\n" + record("Аня", 1, 2, 23, "еврей", CRAZY)
                       + b"\n" + cp("Боря\t+2\v 040\n010\f") + cp("нормальный\r\nгений")
                       + b"\n" + record("Гость", 2, 30, 20, "еврей", SLACKER)
                       + b"\n" + cp("Вика -0 +7 -3 экстримал раздолбай")
                       + b"\n" + record("Гость", 9, 9, 9, "еврей", GENIUS)
                       + b"\n" + record("ГОСТЬ", 1, 25, 0, "еврей", GENIUS) + b" \t\n\n  ")
        self.game("Гость", (2, 30, 20, SLACKER, "еврей"), 24, SLACKER, "извращенец", answer=b"3")
        self.assertBytes(self.dir.read(SCORE), b"\n".join([
            record("Гость", 3, 54, 21, "извращенец", SLACKER),   # 54 / 3 = 18
            record("Аня", 1, 2, 23, "еврей", CRAZY),
            record("Боря", 2, 40, 10, "нормальный", GENIUS),
            record("Вика", 0, 7, -3, "экстримал", SLACKER),
            record("ГОСТЬ", 1, 25, 0, "еврей", GENIUS)]), "score.dat")
        self.assertBytes(self.dir.read(TEMP), b"", TEMP)

    def test_stored_record_with_attempts_zero_or_below_is_replaced(self):
        # Found is found: the record is replaced whatever its attempts say, so
        # progress is kept and the file does not grow by a record each game.
        for attempts, shown in ((0, 0), (-1, -1)):
            with self.subTest(attempts=attempts):
                other = record("Другой", 2, 30, 20, "нормальный", GENIUS)
                self.dir.write(SCORE, record("Ноль", attempts, 0, 0, "еврей", GENIUS) + b"\n" + other)
                self.game("Ноль", (shown, 0, 0, GENIUS, "еврей"), 25, GENIUS, "еврей")
                first = record("Ноль", attempts + 1, 25, 0, "еврей", GENIUS)
                self.assertBytes(self.dir.read(SCORE), first + b"\n" + other, "score.dat")

    def test_long_labels_are_held_whole(self):
        character20, intellect26 = "очень_странный_тип_2", "весьма_неординарный_ум_xyz"
        self.assertEqual((len(cp(character20)), len(cp(intellect26))), (20, 26))
        self.dir.write(SCORE, b"\n" + cp("Лена 3 60 15 %s %s" % (character20, intellect26)))
        # Letters in test 2 keep the stored character word.
        self.game("Лена", (3, 60, 15, intellect26, character20), 20, EDUCATED, character20, answer=b"x")
        self.assertBytes(self.dir.read(SCORE), record("Лена", 4, 80, 20, character20, EDUCATED))

    DAMAGED = [
        cp("Очень_длинное_имя_игрока_24 1 2 3 еврей гений"),   # name of 27 bytes
        cp("Гость 1 abc 3 еврей гений"),                       # not an integer
        cp("Гость 1 2147483648 3 еврей гений"),                # beyond 32 bits
        cp("Гость -2147483649 1 1 еврей гений"),
        cp("Гость 1 2 3 %s гений" % ("ж" * 21)),               # character word of 21 bytes
        cp("Гость 1 2 3 еврей %s" % ("ж" * 27)),               # intellect word of 27 bytes
    ]

    def test_damaged_records_are_never_matched_and_kept_in_place(self):
        real = record("Гость", 1, 20, 5, "нормальный", EDUCATED)
        after = record("Маша", 1, 2, 23, "еврей", CRAZY)
        self.dir.write(SCORE, b"\n" + b"\n".join(self.DAMAGED[:3] + [real, self.DAMAGED[3], after]
                                                 + self.DAMAGED[4:]))
        self.game("Гость", (1, 20, 5, EDUCATED, "нормальный"), 25, EDUCATED, "еврей")  # 45 / 2 = 22
        self.assertBytes(self.dir.read(SCORE), b"\n".join(
            [record("Гость", 2, 45, 5, "еврей", EDUCATED)] + self.DAMAGED[:4] + [after] + self.DAMAGED[4:]),
            "score.dat")
        self.assertBytes(self.dir.read(TEMP), b"", TEMP)

    def test_damaged_record_spread_over_lines_is_joined_by_blanks(self):
        self.dir.write(SCORE, cp("Петя\t1\n\nxyz  3\r\nеврей гений\n") + record("Гость", 1, 25, 0, "еврей", GENIUS))
        self.game("Гость", (1, 25, 0, GENIUS, "еврей"), 23, GENIUS, "еврей")  # 48 / 2 = 24
        self.assertBytes(self.dir.read(SCORE), record("Гость", 2, 48, 2, "еврей", GENIUS) + b"\n"
                         + cp("Петя 1 xyz 3 еврей гений"), "score.dat")

    def test_only_damaged_record_of_the_name_means_a_new_player(self):
        old = b"\n" + self.DAMAGED[4]
        self.dir.write(SCORE, old)
        self.game("Гость", NEW, 14, SLACKER, "еврей")
        self.assertBytes(self.dir.read(SCORE), old + b"\n" + record("Гость", 1, 14, 11, "еврей", SLACKER))
        self.assertFalse(self.dir.exists(TEMP))

    def test_record_cut_short_at_the_end_stays_last(self):
        head = record("Аня", 2, 40, 10, "еврей", EDUCATED)
        for tail in (cp("Боря"), cp("Боря 1 2 3 еврей"), cp("Боря 1\n2 ")):
            joined = b" ".join(tail.split())
            with self.subTest(tail=tail, player="new"):
                self.dir.write(SCORE, b"\n" + head + b"\n" + tail)
                self.game("Новый", NEW, 18, SLACKER, "еврей")
                self.assertBytes(self.dir.read(SCORE), b"\n".join(
                    [record("Новый", 1, 18, 7, "еврей", SLACKER), head, joined]), "score.dat")
                self.assertBytes(self.dir.read(TEMP), b"", TEMP)
            with self.subTest(tail=tail, player="returning"):
                self.dir.write(SCORE, b"\n" + head + b"\n" + tail)
                self.game("Аня", (2, 40, 10, EDUCATED, "еврей"), 20, EDUCATED, "еврей")  # 60 / 3 = 20
                self.assertBytes(self.dir.read(SCORE), record("Аня", 3, 60, 15, "еврей", EDUCATED) + b"\n"
                                 + joined, "score.dat")

    def test_totals_stop_at_the_32_bit_limits(self):
        top = 2147483647
        self.dir.write(SCORE, record("Макс", top, 2147483640, 2147483640, "еврей", GENIUS))
        # 10 right: both totals would pass the limit. Average 2147483647 / 2147483647 = 1.
        self.game("Макс", (top, 2147483640, 2147483640, GENIUS, "еврей"), 10, CRAZY, "еврей")
        self.assertBytes(self.dir.read(SCORE), record("Макс", top, top, top, "еврей", CRAZY), "score.dat")

    def test_attempts_not_above_zero_take_the_label_from_this_run(self):
        low = -2147483648
        cases = [
            ((-1, low, low), 25, (0, low + 25, low), GENIUS),
            ((-7, 100, 0), 19, (-6, 119, 6), EDUCATED),   # 119 / -6 would give the lowest band
        ]
        for before, right, after, label in cases:
            with self.subTest(before=before):
                self.dir.write(SCORE, record("Минус", *before, "нормальный", SLACKER))
                self.game("Минус", before + (SLACKER, "нормальный"), right, label, "еврей")
                self.assertBytes(self.dir.read(SCORE), record("Минус", *after, "еврей", label), "score.dat")
                self.assertBytes(self.dir.read(TEMP), b"", TEMP)


if __name__ == "__main__":
    unittest.main()
