#!/usr/bin/env python3
"""Tests of the shipped question database built from questions/bank.

  bank_test.py round-trip PZCHECK DB CHARACTER INTELLECT
      DB read back from Windows-1251 is exactly the two sources joined, and the
      game's start-up count over it gives 25 + intellect records + 1 passes.
  bank_test.py bounds PZCHECK DB CHARACTER INTELLECT
      the bank holds 25 character records and at least 1000 intellect questions,
      and each answer digit is right for 20% to 30% of them.
  bank_test.py difficulty INTELLECT DIFFICULTY
      DIFFICULTY has one line per intellect question, in the same order:
      easy|medium|hard, a tab, the topic, a tab, the start of the question; the
      mix stays near 40% easy, 40% medium and 20% hard (within 5 points).
"""
import re
import subprocess
import sys

import bank_cues


def summary(pzcheck, database):
    result = subprocess.run([pzcheck, "--db", database], capture_output=True, check=False)
    return result.stdout.decode("utf-8")


def number_after(pattern, text):
    found = re.search(pattern, text)
    if not found:
        raise SystemExit(f"FAIL summary line missing: {pattern}\n{text}")
    return found


def round_trip(pzcheck, database, character, intellect):
    failures = []
    with open(database, "rb") as db:
        decoded = db.read().decode("cp1251")
    sources = [open(path, encoding="utf-8", newline="").read() for path in (character, intellect)]
    if decoded != sources[0] + sources[1]:
        failures.append("the database read back from Windows-1251 differs from the sources joined")
    intellect_records = sources[1].count("\n") // 6
    report = summary(pzcheck, database)
    passes = int(number_after(r"\((-?\d+) passes - 26\)", report).group(1))
    if passes != 25 + intellect_records + 1:
        failures.append(f"the game counts {passes} passes, expected 25 + {intellect_records} + 1")
    return failures


def bounds(pzcheck, database, character, intellect):
    failures = []
    report = summary(pzcheck, database)
    records = number_after(r"records: (\d+) \(character (\d+), intellect (\d+)\)", report)
    if int(records.group(2)) != 25:
        failures.append(f"{records.group(2)} character records, expected 25")
    if int(records.group(3)) < 1000:
        failures.append(f"{records.group(3)} intellect questions, expected at least 1000")
    spread = re.findall(r"(\d): (\d+) \((\d+\.\d)%\)", number_after(r"intellect key spread:.*", report).group(0))
    if len(spread) != 4:
        failures.append(f"key spread line unreadable: {spread}")
    for digit, count, percent in spread:
        if not 20.0 <= float(percent) <= 30.0:
            failures.append(f"answer {digit} is right for {count} questions ({percent}%), outside 20% to 30%")
    return failures


def difficulty(intellect, record):
    failures = []
    lines = open(intellect, encoding="utf-8").read().split("\n")
    questions = lines[0:-1:6]
    levels = [line.split("\t") for line in open(record, encoding="utf-8").read().splitlines()]
    if len(levels) != len(questions):
        failures.append(f"{len(levels)} difficulty lines for {len(questions)} intellect questions")
    for number, (fields, question) in enumerate(zip(levels, questions), 1):
        if (len(fields) != 3 or fields[0] not in bank_cues.LEVEL_SHARES or not fields[1]
                or not question.startswith(fields[2])):
            failures.append(f"difficulty line {number} {fields} does not describe question {question!r}")
    return failures + bank_cues.level_mix_failures([fields[0] for fields in levels])


CHECKS = {"round-trip": (round_trip, 4), "bounds": (bounds, 4), "difficulty": (difficulty, 2)}


def main():
    if len(sys.argv) < 2 or sys.argv[1] not in CHECKS or len(sys.argv) != 2 + CHECKS[sys.argv[1]][1]:
        print(__doc__)
        return 2
    failures = CHECKS[sys.argv[1]][0](*sys.argv[2:])
    for failure in failures:
        print("FAIL " + failure)
    if not failures:
        print("ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
