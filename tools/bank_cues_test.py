#!/usr/bin/env python3
"""Tests of bank_cues.py: the p-values, the reading of numeric answers, the
rules' picks and ties, and the verdicts on small banks made to hide or show a cue."""
import math
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bank_cues  # noqa: E402


def binomial_tail(trials, hits, chance=0.25):
    return sum(math.comb(trials, k) * chance ** k * (1 - chance) ** (trials - k) for k in range(hits, trials + 1))


def record(answers, key, topic="тема", level="easy", number=1):
    return bank_cues.Record(number, "Вопрос?", answers, key, level, topic)


# Four answers of one shape, so that only the place of the key can tell them apart.
PLAIN = ["Альфа", "Бета!", "Гамма", "Дзета"]


def bank(size, key_of, answers_of=lambda n: PLAIN, topic_of=lambda n: "тема", level_of=None):
    levels = level_of or (lambda n: ("easy", "easy", "medium", "medium", "hard")[n % 5])
    return [record(answers_of(n), key_of(n), topic_of(n), levels(n), n + 1) for n in range(size)]


class PValues(unittest.TestCase):
    def test_single_picks_give_the_binomial_tail(self):
        for trials, hits in ((10, 5), (40, 17), (300, 90), (25, 0)):
            self.assertAlmostEqual(bank_cues.tail_chance({1: trials}, 12 * hits), binomial_tail(trials, hits), places=12)

    def test_picks_of_two_and_three_score_in_fractions(self):
        cases = [({2: 1}, 6, 0.5), ({3: 1}, 4, 0.75), ({2: 2}, 12, 0.25), ({1: 1, 2: 1}, 18, 0.25 * 0.5), ({1: 1, 2: 1}, 6, 1 - 0.75 * 0.5),
                 ({3: 2}, 0, 1.0)]
        for sizes, units, expected in cases:
            self.assertAlmostEqual(bank_cues.tail_chance(sizes, units), expected, places=12, msg=(sizes, units))


class NumericAnswers(unittest.TestCase):
    def test_values_as_the_checker_reads_them(self):
        cases = [
            (["300 000", "30 000", "3 000", "300"], [[300000], [30000], [3000], [300]]),
            (["1/2", "1/3", "2/3", "1/6"], [[0.5], [1 / 3], [2 / 3], [1 / 6]]),
            (["7,26 кг", "5.5 кг", "10 кг", "0,5 кг"], [[7.26], [5.5], [10], [0.5]]),
            (["8:25", "8:05", "9:00", "7:55"], [[8, 25], [8, 5], [9, 0], [7, 55]]),
            (["-5", "-2", "0", "3"], [[-5], [-2], [0], [3]]),
            (["Около 340 м/с", "Около 30 м/с", "Около 3 м/с", "Около 1 м/с"], [[340], [30], [3], [1]]),
        ]
        for answers, values in cases:
            found = bank_cues.numeric_values(answers)
            self.assertEqual(len(found), 4, answers)
            for got, want in zip(found, values):
                self.assertEqual(len(got), len(want), answers)
                for a, b in zip(got, want):
                    self.assertAlmostEqual(a, b, msg=answers)

    def test_sets_that_are_not_numeric(self):
        for answers in (["12", "13", "Четырнадцать", "15"], ["На 5", "Около 6", "На 7", "На 8"], ["5", "05", "6", "7"],
                        ["Пётр I", "Иван IV", "Пётр II", "Павел I"]):
            self.assertIsNone(bank_cues.numeric_values(answers), answers)


class Picks(unittest.TestCase):
    def test_each_rule_picks_its_answers_and_ties_stay_together(self):
        cases = [
            (["кот", "собака", "ёж", "лошадь"], {"longest": {1, 3}, "shortest": {2}, "most words": None,
                                                  "smallest": None, "answer 3": {2}, "all but shortest": {0, 1, 3}}),
            (["красный шар", "синий", "зелёный дом у реки", "белый"], {"most words": {2}, "fewest words": {1, 3},
                                                                        "odd length": {2}}),
            (["45", "60", "75", "90"], {"smallest": {0}, "largest": {3}, "middle number": {1, 2},
                                        "longest": None}),
            (["Винегрет", "Венегрет", "Винигрет", "Квас"], {"most unlike": {3}}),
        ]
        for answers, expected in cases:
            chosen = bank_cues.picks(record(answers, 0))
            for name, picked in expected.items():
                self.assertEqual(chosen[name], None if picked is None else frozenset(picked), (answers, name))


class Verdicts(unittest.TestCase):
    def failures(self, records, splits=4):
        return bank_cues.analyse(records, splits)[2]

    def test_a_bank_without_cues_passes(self):
        self.assertEqual(self.failures(bank(1000, lambda n: n % 4)), [])

    def test_a_bank_whose_key_is_the_longest_answer_fails_on_the_rule_and_the_guesser(self):
        def answers(n):
            return [word * (2 if at == n % 4 else 1) for at, word in enumerate(PLAIN)]
        failures = self.failures(bank(1000, lambda n: n % 4, answers))
        self.assertTrue(any("«longest» right in 100.0%" in failure for failure in failures), failures)
        self.assertTrue(any("guesser scores 100.0%" in failure for failure in failures), failures)

    def test_a_cue_in_one_topic_alone_is_found_there_and_learned(self):
        def answers(n):
            return [str(at if at == n // 4 % 4 else 10 + at) for at in range(4)] if n % 4 == 0 else PLAIN
        failures = self.failures(bank(1000, lambda n: n // 4 % 4, answers, lambda n: "числа" if n % 4 == 0 else "слова"))
        self.assertTrue(any(failure.startswith("числа: «smallest» right in 100.0%") for failure in failures), failures)
        self.assertTrue(any("guesser" in failure for failure in failures), failures)

    def test_size_mix_and_key_spread_are_judged(self):
        cases = [
            (bank(999, lambda n: n % 4), "999 records, expected 1000 or more"),
            (bank(1000, lambda n: n % 4, level_of=lambda n: "easy" if n % 2 else "medium"), "easy questions make 50.0%"),
            (bank(1000, lambda n: 0 if n % 10 < 3 else n % 3 + 1), "answer 1 is right for 30.0%"),
        ]
        for records, expected in cases:
            failures = self.failures(records)
            self.assertTrue(any(expected in failure for failure in failures), (expected, failures))


class Sources(unittest.TestCase):
    def test_the_two_files_must_agree(self):
        with tempfile.TemporaryDirectory() as folder:
            intellect, difficulty = os.path.join(folder, "i.txt"), os.path.join(folder, "i.difficulty")
            with open(intellect, "w", encoding="utf-8") as out:
                out.write("Вопрос?\n1\n2\n3\n4\n2\n" * 2)
            with open(difficulty, "w", encoding="utf-8") as out:
                out.write("easy\tтема\tВопрос\n")
            with self.assertRaises(ValueError):
                bank_cues.read_bank(intellect, difficulty)
            with open(difficulty, "a", encoding="utf-8") as out:
                out.write("hard\tчисла\tВопрос\n")
            read = bank_cues.read_bank(intellect, difficulty)
            self.assertEqual([(r.key, r.level, r.topic, r.values) for r in read][1], (1, "hard", "числа", [[1], [2], [3], [4]]))


if __name__ == "__main__":
    unittest.main()
