"""The package finder of the play, test and package commands, run against a PATH
of stand-ins: fake commands that are "there", a dpkg-query that answers from a
list, an id that says who we are and an apt-get that only notes its calls."""

import os
import pathlib
import shutil
import subprocess
import unittest

from termkit import ROOT, main, make_temp_folder

FINDER = ROOT / "scripts" / "packages.sh"
DPKG_QUERY = """#!/bin/sh
for package in $FAKE_INSTALLED; do
    [ "$package" = "$3" ] && { printf 'install ok installed'; exit 0; }
done
exit 1
"""
APT_GET = '#!/bin/sh\necho "$* [$DEBIAN_FRONTEND]" >>"$APT_LOG"\n'


class Finder(unittest.TestCase):
    def setUp(self):
        self.folder = pathlib.Path(make_temp_folder(self))
        self.bin = self.folder / "bin"
        self.bin.mkdir()
        self.apt_log = self.folder / "apt.log"

    def stand_in(self, name, text="#!/bin/sh\n"):
        (self.bin / name).write_text(text)
        (self.bin / name).chmod(0o755)

    def require(self, groups, commands=(), installed="", uid=1000, debian=True):
        """Runs pz_require for groups as play.sh would; returns (status, stderr, apt-get calls)."""
        for command in commands:
            self.stand_in(command)
        self.stand_in("id", f"#!/bin/sh\necho {uid}\n")
        if debian:
            self.stand_in("dpkg-query", DPKG_QUERY)
            self.stand_in("apt-get", APT_GET)
        run = subprocess.run([shutil.which("bash"), "-c", 'source "$1" && shift && pz_require "$@"', "play.sh",
                              str(FINDER), *groups], capture_output=True, text=True, timeout=30,
                             env={"PATH": str(self.bin), "FAKE_INSTALLED": installed, "APT_LOG": str(self.apt_log)})
        calls = self.apt_log.read_text().splitlines() if self.apt_log.exists() else []
        return run.returncode, run.stderr, calls

    def test_root_installs_what_is_missing_after_an_update(self):
        status, said, calls = self.require(["build", "play", "test"], commands=["g++", "cmake", "luit"],
                                           installed="libgtest-dev", uid=0)
        self.assertEqual(status, 0, said)
        self.assertEqual(calls, ["update -qq []", "install -y -qq --no-install-recommends make python3 "
                                 "[noninteractive]"])
        self.assertEqual(said, "play.sh: installing make (to build the game); python3 (to build and run the "
                               "tests)\n")

    def test_play_needs_only_the_build_tools_and_luit(self):
        status, said, calls = self.require(["build", "play"], uid=0)
        self.assertEqual(status, 0, said)
        self.assertEqual(calls[1:], ["install -y -qq --no-install-recommends g++ cmake make luit [noninteractive]"])

    def test_others_get_the_one_command_and_a_stop(self):
        # With sudo the command goes through it; a bare Debian has none, so then it is root's.
        for sudo, command in [(False, "apt-get install tmux desktop-file-utils dpkg-dev file lintian (as root)"),
                              (True, "sudo apt-get install tmux desktop-file-utils dpkg-dev file lintian")]:
            with self.subTest(sudo=sudo):
                status, said, calls = self.require(["play", "testtools", "package"],
                                                   commands=["luit", "strace", "man", "groff", "appstreamcli",
                                                             "autopkgtest", "diffoscope", "dh"] + ["sudo"] * sudo,
                                                   installed="xfonts-encodings locales build-essential")
                self.assertEqual((status, calls), (1, []))
                self.assertEqual(said.count("\n"), 1, said)
                self.assertTrue(said.endswith("; install them with: " + command + "\n"), said)

    def test_nothing_missing_says_nothing(self):
        status, said, calls = self.require(["build", "test"], commands=["g++", "cmake", "make", "python3"],
                                           installed="libgtest-dev", uid=0)
        self.assertEqual((status, said, calls), (0, "", []))

    def test_without_dpkg_only_commands_are_checked(self):
        status, said, _ = self.require(["build", "play", "test"], commands=["g++", "make", "python3", "luit"],
                                       debian=False)
        self.assertEqual(status, 1)
        self.assertEqual(said, "play.sh: missing cmake (to build the game); "
                               "install them with this system's package manager\n")

if __name__ == "__main__":
    main()
