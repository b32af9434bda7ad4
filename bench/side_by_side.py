#!/usr/bin/env python3
"""Two builds of the game timed side by side on the same files and the same disk:
a new player's whole game, and a returning player's game whose save rewrites a
score file of 10,000 players. Rounds alternate the builds, so a machine that gets
busier slows both alike; medians are printed with the ratio new / old. Run by
hand; never by the tests.

    python3 bench/side_by_side.py OLD_BINARY NEW_BINARY [--dir DIR] [--rounds N]

Put --dir on the disk the play folders live on (an ext4 loop image, tmpfs): the
save's fsync costs what that disk makes it cost.
"""

import argparse
import os
import shutil
import statistics
import sys
import tempfile

import speed

PLAYERS = 10_000


def make_cases(root):
    """One folder a build and a case, each with the small database; the score files
    every run starts from."""
    files = os.path.join(root, "files")
    os.mkdir(files)
    db, empty, stored = (os.path.join(files, n) for n in ("db", "score-empty", "score-10000"))
    speed.write_database(db, speed.SMALL_DB_RECORDS)
    speed.write_synced(empty, [b""])
    speed.write_score(stored, speed.BIG_SCORE_PLAYERS - PLAYERS + 1, speed.BIG_SCORE_PLAYERS)
    cases = {}
    for build in ("old", "new"):
        cases[build] = [speed.make_case(root, "%s-new-player" % build, db, empty, speed.NEW_PLAYER),
                        speed.make_case(root, "%s-save-10000" % build, db, stored, speed.RETURNING)]
    return cases


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--dir", default=None)
    parser.add_argument("--rounds", type=int, default=15)
    args = parser.parse_args()
    binaries = {"old": os.path.abspath(args.old), "new": os.path.abspath(args.new)}
    speed.become_subreaper()
    root = tempfile.mkdtemp(prefix="pz-side-", dir=args.dir)
    try:
        cases = make_cases(root)
        times = {(build, i): [] for build in cases for i in range(2)}
        for round_ in range(args.rounds + 1):  # the first warms the caches and is not counted
            for build in (("old", "new") if round_ % 2 else ("new", "old")):
                for i, case in enumerate(cases[build]):
                    seconds, _ = speed.run_game(binaries[build], case)
                    if round_ > 0:
                        times[(build, i)].append(seconds)
        print("side by side on %s (%s), %d rounds, load %s" % (root, speed.filesystem(root), args.rounds,
                                                               speed.load()))
        for i, what in enumerate(("a new player's whole game", "a whole game saving among %d players" % PLAYERS)):
            old, new = (statistics.median(times[(b, i)]) * 1000 for b in ("old", "new"))
            print("  %-45s old %7.2f ms  new %7.2f ms  new/old %.2f" % (what, old, new, new / old))
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
