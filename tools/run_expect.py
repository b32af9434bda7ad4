#!/usr/bin/env python3
"""Runs the tools on one sample and asserts what they do.

An expectation file holds one directive per line ('#' starts a comment):
  run TOOL ARGS...   run pzcheck or pzbank (from the current directory)
  exit N             the last run ended with status N
  has TEXT           the last run printed TEXT (stdout and stderr together)
  lacks TEXT         the last run did not print TEXT
  nofile PATH        PATH does not exist
  same PATH PATH     the two files hold the same bytes
  copy FROM TO       copy a file
  cd DIR             run later commands in DIR
{out} in arguments is a scratch folder of the test, emptied first. Every run
must be followed by an exit directive, so that no run goes unchecked.
"""
import argparse
import os
import shlex
import shutil
import subprocess
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pzcheck", required=True)
    parser.add_argument("--pzbank", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("expectation")
    options = parser.parse_args()
    tools = {"pzcheck": options.pzcheck, "pzbank": options.pzbank}
    shutil.rmtree(options.out, ignore_errors=True)
    os.makedirs(options.out)

    failures = []
    output, status, exit_checked = None, None, True
    with open(options.expectation, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            directive, _, rest = line.partition(" ")
            rest = rest.replace("{out}", options.out)
            where = f"{os.path.basename(options.expectation)}:{number}"
            if directive == "run":
                if not exit_checked:
                    failures.append(f"{where}: the run before this one has no exit directive")
                words = shlex.split(rest)
                result = subprocess.run([tools[words[0]]] + words[1:], capture_output=True)
                output = (result.stdout + result.stderr).decode("utf-8", errors="replace")
                status, exit_checked = result.returncode, False
                print(f"$ {rest}\n{output}exit {status}")
            elif directive == "exit":
                exit_checked = True
                if status != int(rest):
                    failures.append(f"{where}: exit status {status}, expected {rest}")
            elif directive == "has":
                if output is None or rest not in output:
                    failures.append(f"{where}: output lacks: {rest}")
            elif directive == "lacks":
                if output is None or rest in output:
                    failures.append(f"{where}: output has: {rest}")
            elif directive == "nofile":
                if os.path.exists(rest):
                    failures.append(f"{where}: {rest} exists")
            elif directive == "same":
                first, second = shlex.split(rest)
                with open(first, "rb") as one, open(second, "rb") as other:
                    if one.read() != other.read():
                        failures.append(f"{where}: {first} and {second} differ")
            elif directive == "copy":
                source, target = shlex.split(rest)
                shutil.copyfile(source, target)
            elif directive == "cd":
                os.chdir(rest)
            else:
                failures.append(f"{where}: unknown directive {directive}")
    if output is None or not exit_checked:
        failures.append("no run, or a run without an exit directive")
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
