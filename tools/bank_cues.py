#!/usr/bin/env python3
"""Blind cues in the intellect bank: rules that pick an answer without reading
the question, scored against chance topic by topic and level by level.

  bank_cues.py [--splits N] INTELLECT DIFFICULTY

A rule looks at a record's four answers only and picks a set of them:
  longest, shortest      most or fewest characters (blanks inside count)
  most words, fewest     most or fewest blank-separated words
  most like, most unlike the highest or lowest sum of difflib ratios (case
                         folded) to the other three answers
  odd length             the answer whose length stands out most: the largest
                         ratio between its length and the mean of the other three
  smallest, largest,     numeric records only (four answers with a number after
  middle number          the same leading words, four different values, several
                         numbers compared in turn): the least, the greatest, the
                         second and third values (always two answers)
  answer 1 to answer 4   the answer at that place (the game shows them as stored)
The guesser may also bet against a rule: «all but longest» picks the other three.
Ties: a rule that picks k answers (2 or 3) counts 1/k when the key is among
them, the expected score of a player who picks one of them at random; a rule
that picks all four, or does not apply, abstains and the record does not count
for it. A group's hit rate is the score over the records counted; its p-value is
exact and one-sided: the chance that keys drawn at random (each answer 1/4,
records independent) score at least as much (for single picks, the binomial).

Groups: the whole bank, each level, each topic, each topic within a level; only
groups of MIN_GROUP records or more are judged.

The guesser: on a training half of the records it learns, for each topic and
for numeric and other records apart, the rule (or a random guess) that scores
best there, falling back to the best over the whole half where a topic has
fewer than MIN_TRAIN such records; it is scored on the other half, a random
guess (1/4) wherever its rule abstains. The halves are drawn by random.Random
with the seeds 1 to N; the figure judged is the mean over the N splits.

Exit status 1 when a judged group has a rule over RULE_BAR with p < P_BAR, the
guesser's mean held-out score is over GUESSER_BAR, the bank holds fewer than
MIN_RECORDS records, a level's share is more than MIX_SLACK points off
LEVEL_SHARES, or an answer place is right for a share outside KEY_SHARES.
"""
import argparse
import difflib
import math
import random
import re
import sys

MIN_GROUP = 25
MIN_TRAIN = 8
RULE_BAR = 0.35
P_BAR = 0.01
GUESSER_BAR = 0.27
SPLITS = 20
ANSWERS = 4
MIN_RECORDS = 1000
LEVEL_SHARES = {"easy": 0.40, "medium": 0.40, "hard": 0.20}
MIX_SLACK = 0.05
KEY_SHARES = (0.22, 0.28)


class Record:
    """One intellect question: its answers, key (0-based), level and topic."""

    def __init__(self, number, question, answers, key, level, topic):
        self.number, self.question, self.answers, self.key = number, question, answers, key
        self.level, self.topic = level, topic
        self.values = numeric_values(answers)


def read_bank(intellect, difficulty):
    """The records of the two files; raises ValueError when they disagree."""
    with open(intellect, encoding="utf-8-sig") as source, open(difficulty, encoding="utf-8") as judged:
        lines, levels = source.read().splitlines(), [line.split("\t") for line in judged.read().splitlines()]
    if len(lines) % 6 or len(lines) // 6 != len(levels):
        raise ValueError(f"{len(lines) // 6} records against {len(levels)} difficulty lines")
    records = []
    for at, fields in enumerate(levels):
        block = lines[6 * at:6 * at + 6]
        records.append(Record(at + 1, block[0], block[1:5], int(block[5]) - 1, fields[0], fields[1]))
    return records


NUMBER = re.compile(r"\d+(?:[ \u00a0]\d{3}(?!\d))*(?:[.,]\d+)?(?:/\d+)?")


def number_value(text):
    whole, _, denominator = text.partition("/")
    value = float(re.sub(r"[ \u00a0]", "", whole).replace(",", "."))
    return value / int(denominator) if denominator and int(denominator) else value


def numeric_values(answers):
    """The four answers' number lists, or None unless they are a numeric set."""
    leads, values = set(), []
    for answer in answers:
        first = re.search(r"\d", answer)
        if not first:
            return None
        lead = answer[:first.start()]
        numbers = [number_value(found) for found in NUMBER.findall(answer)]
        if lead.endswith("-"):
            lead, numbers[0] = lead[:-1], -numbers[0]
        leads.add(lead)
        values.append(numbers)
    distinct = all(values[a] != values[b] for a in range(ANSWERS) for b in range(a))
    return values if len(leads) == 1 and distinct else None


def extremes(scores, pick):
    """The answers whose score is pick() of the four (ties kept)."""
    best = pick(scores)
    return frozenset(at for at, score in enumerate(scores) if abs(score - best) < 1e-9)


def likeness(answers):
    folded = [answer.lower() for answer in answers]
    return [sum(difflib.SequenceMatcher(None, folded[a], folded[b]).ratio() for b in range(ANSWERS) if b != a)
            for a in range(ANSWERS)]


def odd_length(answers):
    lengths = [len(answer) for answer in answers]
    spread = []
    for at, length in enumerate(lengths):
        others = (sum(lengths) - length) / (ANSWERS - 1)
        spread.append(max(length, others) / max(min(length, others), 1))
    return spread


def numeric_rule(pick):
    def rule(record):
        if record.values is None:
            return None
        order = sorted(range(ANSWERS), key=lambda at: record.values[at])
        return frozenset(pick(order))
    return rule


RULES = {
    "longest": lambda r: extremes([len(a) for a in r.answers], max),
    "shortest": lambda r: extremes([len(a) for a in r.answers], min),
    "most words": lambda r: extremes([len(a.split()) for a in r.answers], max),
    "fewest words": lambda r: extremes([len(a.split()) for a in r.answers], min),
    "most like": lambda r: extremes(likeness(r.answers), max),
    "most unlike": lambda r: extremes(likeness(r.answers), min),
    "odd length": lambda r: extremes(odd_length(r.answers), max),
    "smallest": numeric_rule(lambda order: order[:1]),
    "largest": numeric_rule(lambda order: order[-1:]),
    "middle number": numeric_rule(lambda order: order[1:3]),
}
RULES.update({f"answer {at + 1}": (lambda r, at=at: frozenset([at])) for at in range(ANSWERS)})


def but(picked):
    return None if picked is None else frozenset(range(ANSWERS)) - picked


def picks(record):
    """Each rule's pick for the record, None where it abstains."""
    chosen = {}
    for name, rule in RULES.items():
        picked = rule(record)
        chosen[name] = picked if picked and len(picked) < ANSWERS else None
    chosen.update({f"all but {name}": but(picked) for name, picked in list(chosen.items())})
    return chosen


def binomial_pmf(trials, chance):
    return [math.exp(math.lgamma(trials + 1) - math.lgamma(hits + 1) - math.lgamma(trials - hits + 1)
                     + hits * math.log(chance) + (trials - hits) * math.log1p(-chance))
            for hits in range(trials + 1)]


def tail_chance(sizes, units_scored):
    """P(score >= units_scored) under random keys; units are 1/12 of an answer,
    sizes[k] the number of counted records where the rule picked k answers."""
    spread = {0: 1.0}
    for size, count in sizes.items():
        step, added = 12 // size, binomial_pmf(count, size / ANSWERS)
        merged = {}
        for units, chance in spread.items():
            for hits, hit_chance in enumerate(added):
                merged[units + step * hits] = merged.get(units + step * hits, 0.0) + chance * hit_chance
        spread = {units: chance for units, chance in merged.items() if chance > 1e-300}
    return min(1.0, sum(chance for units, chance in spread.items() if units >= units_scored))


def rule_figures(records, chosen, name):
    """(records counted, hit rate, p-value) of one rule over a group."""
    sizes, units = {}, 0
    for record in records:
        picked = chosen[record.number][name]
        if picked is None:
            continue
        sizes[len(picked)] = sizes.get(len(picked), 0) + 1
        units += 12 // len(picked) if record.key in picked else 0
    counted = sum(sizes.values())
    if not counted:
        return 0, 0.0, 1.0
    return counted, units / 12 / counted, tail_chance(sizes, units)


def groups(records):
    """(name, records) for the bank, each level, topic and topic within a level."""
    found = {"bank": records}
    for record in records:
        for name in (record.level, record.topic, f"{record.topic}/{record.level}"):
            found.setdefault(name, []).append(record)
    return [(name, members) for name, members in found.items() if len(members) >= MIN_GROUP]


def score(record, chosen, name):
    picked = chosen[record.number].get(name)
    if picked is None:
        return 1 / ANSWERS
    return 1 / len(picked) if record.key in picked else 0.0


def best_rule(records, chosen):
    options = ["random"] + list(RULES) + [f"all but {name}" for name in RULES]
    return max(options, key=lambda name: sum(score(record, chosen, name) for record in records))


def learn(training, chosen):
    """The guesser's rule for each (topic, numeric) cell, and for each kind overall."""
    cells = {}
    for record in training:
        cells.setdefault((record.topic, record.values is not None), []).append(record)
    learned = {(None, kind): best_rule([r for r in training if (r.values is not None) == kind], chosen)
               for kind in (False, True)}
    for cell, members in cells.items():
        learned[cell] = best_rule(members, chosen) if len(members) >= MIN_TRAIN else learned[(None, cell[1])]
    return learned


def held_out_score(records, chosen, seed):
    order = list(records)
    random.Random(seed).shuffle(order)
    training, testing = order[:len(order) // 2], order[len(order) // 2:]
    learned = learn(training, chosen)
    total = 0.0
    for record in testing:
        kind = record.values is not None
        total += score(record, chosen, learned.get((record.topic, kind), learned[(None, kind)]))
    return total / len(testing)


def level_mix_failures(levels):
    """What is wrong with the shares of easy, medium and hard among `levels`."""
    failures = []
    for level, share in LEVEL_SHARES.items():
        found = sum(name == level for name in levels) / max(len(levels), 1)
        if abs(found - share) > MIX_SLACK:
            failures.append(f"{level} questions make {found:.1%}, expected {share:.0%} within {MIX_SLACK:.0%}")
    return failures


def bank_shape_failures(records):
    """What is wrong with the bank's size, level mix and spread of keys."""
    failures = [] if len(records) >= MIN_RECORDS else [f"{len(records)} records, expected {MIN_RECORDS} or more"]
    failures += level_mix_failures([record.level for record in records])
    for at in range(ANSWERS):
        share = sum(record.key == at for record in records) / max(len(records), 1)
        if not KEY_SHARES[0] <= share <= KEY_SHARES[1]:
            failures.append(f"answer {at + 1} is right for {share:.1%}, outside {KEY_SHARES[0]:.0%} to "
                            f"{KEY_SHARES[1]:.0%}")
    return failures


def analyse(records, splits=SPLITS):
    """(rows of group figures, guesser scores by seed, failures)."""
    chosen = {record.number: picks(record) for record in records}
    rows, failures = [], bank_shape_failures(records)
    for group, members in groups(records):
        for name in RULES:
            counted, rate, p_value = rule_figures(members, chosen, name)
            rows.append((group, len(members), name, counted, rate, p_value))
            if rate > RULE_BAR and p_value < P_BAR:
                failures.append(f"{group}: «{name}» right in {rate:.1%} of {counted} (p {p_value:.2g})")
    guesses = [held_out_score(records, chosen, seed) for seed in range(1, splits + 1)]
    mean = sum(guesses) / len(guesses)
    if mean > GUESSER_BAR:
        failures.append(f"the learned guesser scores {mean:.1%} on the held-out halves, over {GUESSER_BAR:.0%}")
    return rows, guesses, failures


def worst_rows(rows):
    """Each group's rule least likely by chance among those over chance."""
    worst = {}
    for row in rows:
        if row[4] > 1 / ANSWERS and (row[0] not in worst or row[5] < worst[row[0]][5]):
            worst[row[0]] = row
    return list(worst.values())


def report(rows, guesses, failures, every_rule):
    for group, size, name, counted, rate, p_value in (rows if every_rule else worst_rows(rows)):
        print(f"{group:28} n {size:4}  {name:13} {rate:6.1%} of {counted:4}  p {p_value:.2g}")
    print(f"guesser held out: seed 1 {guesses[0]:.1%}, mean of {len(guesses)} splits "
          f"{sum(guesses) / len(guesses):.1%} (from {min(guesses):.1%} to {max(guesses):.1%})")
    for failure in failures:
        print("FAIL " + failure)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--splits", type=int, default=SPLITS)
    parser.add_argument("--all", action="store_true", help="every rule of every group, not each group's worst")
    parser.add_argument("intellect")
    parser.add_argument("difficulty")
    options = parser.parse_args()
    rows, guesses, failures = analyse(read_bank(options.intellect, options.difficulty), options.splits)
    report(rows, guesses, failures, options.all)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
