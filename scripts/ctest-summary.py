#!/usr/bin/env python3
"""Reads the JUnit file that ctest wrote (ctest --output-junit FILE) and prints
the end of each failed test's output, each skipped test with why, and last one
line: "P passed, F failed, S skipped of N tests". With --counts, that line only.

Usage: ctest-summary.py [--counts] JUNIT-FILE"""

import collections
import re
import sys
import xml.etree.ElementTree as ElementTree

SHOWN_LINES = 60  # of a failed test's output
# How a skipped test says why: unittest's verbose line (the reason quoted as
# Python quotes it), or a test that cannot run under Wine.
REASON = re.compile(r""" \.\.\. skipped (?:'(.*)'|"(.*)")$|^not run under Wine: (.*)$""", re.M)


def show_failure(case):
    lines = (case.findtext("system-out") or "").rstrip("\n").split("\n")
    print(f"--- {case.get('name')} failed; the end of its output:")
    print("\n".join(lines[-SHOWN_LINES:]))


def show_skip(case):
    reasons = collections.Counter("".join(found) for found in REASON.findall(case.findtext("system-out") or ""))
    said = "; ".join(f"{reason} ({count} tests)" if count > 1 else reason for reason, count in reasons.items())
    print(f"  skipped: {case.get('name')}: {said or 'no reason given'}")


def main(arguments):
    counts_only = arguments[:1] == ["--counts"]
    suite = ElementTree.parse(arguments[-1]).getroot()
    total, failed, skipped = (int(suite.get(name, "0")) for name in ("tests", "failures", "skipped"))
    for case in [] if counts_only else suite.iter("testcase"):
        if case.get("status") == "fail":
            show_failure(case)
        elif case.get("status") == "notrun":
            show_skip(case)
    print(f"{total - failed - skipped} passed, {failed} failed, {skipped} skipped of {total} tests")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
