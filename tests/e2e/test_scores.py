"""The results table, prozorometr --scores: the players of the folder's score.dat
ranked by average right answers per game, then games, then the name's bytes;
records the game cannot read counted, never shown; the file only read."""

import os
import subprocess
import unittest

from gamekit import GameTest, SCORE, cp, game_command, record

HEADER = cp("Место  Имя   Игр  Верно  Неверно  Среднее  Интеллект     Характер\n")
RANKED = [  # (name, games, right, wrong, character, intellect), as stored, in file order
    ("Маша", 3, 70, 5, "осторожный", "образованный"),
    ("Петя", 3, 70, 5, "сумасброд", "гений"),
    ("Аня", 2, 47, 3, "осторожный", "гений"),
    ("Боб", 0, 0, 0, "неизвестно", "неизвестно"),
    ("Вася", 1, 25, 0, "обыватель", "гений"),
    ("Лёва", 6, 140, 10, "обыватель", "образованный"),
]
ROWS = [  # the rows in ranking order
    "    1  Вася    1     25        0     25,0  гений         обыватель\n",
    "    2  Аня     2     47        3     23,5  гений         осторожный\n",
    "    3  Лёва    6    140       10     23,3  образованный  обыватель\n",
    "    4  Маша    3     70        5     23,3  образованный  осторожный\n",
    "    5  Петя    3     70        5     23,3  гений         сумасброд\n",
    "    6  Боб     0      0        0        -  неизвестно    неизвестно\n",
]
DAMAGED = b"\n" + cp("Плохой x 1 2 a b") + b"\n" + cp("Хвост 1 2")


def stored(rows):
    return b"\n".join(record(*row) for row in rows)


class ScoresTable(GameTest):
    def show(self, *arguments):
        run = subprocess.run(game_command() + list(arguments), cwd=self.dir.path, stdin=subprocess.DEVNULL,
                             capture_output=True, timeout=60)
        return run.returncode, run.stdout, run.stderr

    def test_table_views(self):
        cases = [  # (score.dat, arguments, expected stdout)
            (stored(RANKED), ["-s"], HEADER + cp("".join(ROWS))),
            (stored(RANKED), ["--scores=2"], HEADER.replace(cp("Интеллект     "), cp("Интеллект  "))
             + cp("".join(ROWS[:2]).replace("гений         ", "гений      ") + "Показаны лучшие 2 из 6.\n")),
            (stored(RANKED) + DAMAGED, ["--scores=all"],
             HEADER + cp("".join(ROWS) + "Нечитаемых записей: 2.\n")),
            (b"", ["--scores"], cp("Игроков пока нет.\n")),
            (b"\n \t\n", ["-s"], cp("Игроков пока нет.\n")),
            (DAMAGED, ["-s"], cp("Игроков пока нет.\nНечитаемых записей: 2.\n")),
        ]
        for score, arguments, expected in cases:
            with self.subTest(arguments=arguments, score=score[:40]):
                self.dir.write(SCORE, score)
                before = sorted(os.listdir(self.dir.path))
                self.assertEqual(self.show(*arguments), (0, expected, b""))
                self.assertEqual(self.dir.read(SCORE), score, "the table only reads")
                self.assertEqual(sorted(os.listdir(self.dir.path)), before)

    def test_default_view_is_the_best_thirty(self):
        players = [("P%03d" % n, 1, n % 26, 25 - n % 26, "обыватель", "гений") for n in range(100)]
        self.dir.write(SCORE, stored(players))
        status, out, _ = self.show("--scores")
        lines = out.split(b"\n")
        self.assertEqual((status, len(lines)), (0, 1 + 30 + 2))
        self.assertEqual(lines[1].split()[:3], [b"1", b"P025", b"1"])
        self.assertEqual(lines[31], cp("Показаны лучшие 30 из 100."))

    def test_missing_file_and_bad_counts_say_why_in_one_line(self):
        status, out, err = self.show("-s")
        self.assertEqual((status, out), (1, b""))
        self.assertRegex(err, rb"\Aprozorometr: cannot read score.dat: [^\n]+\n\Z")
        self.dir.write(SCORE, b"")
        for count in ("0", "-3", "x", "", "10x"):
            with self.subTest(count=count):
                status, out, err = self.show("--scores=" + count)
                self.assertEqual((status, out), (2, b""))
                self.assertRegex(err, rb"\Aprozorometr: [^\n]+\n\Z")


if __name__ == "__main__":
    unittest.main()
