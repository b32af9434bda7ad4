"""The package finder of the play, test and package commands, run against a PATH
of stand-ins: fake commands that are "there", a dpkg-query that answers from a
list, an id that says who we are, an apt-cache that knows a list of packages and
an apt-get that notes its calls and reports progress as apt-get does."""

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
APT_GET = """#!/bin/sh
echo "$* [$DEBIAN_FRONTEND]" >>"$APT_LOG"
[ "$1" = install ] && printf '%s' "$FAKE_STATUS" >&3
[ -z "$FAKE_APT_FAILS" ] || { echo "E: $FAKE_APT_FAILS"; exit 100; }
"""
# apt-cache policy as it answers for the names given: a candidate for known ones.
APT_CACHE = """#!/bin/sh
shift
for package in "$@"; do
    case " $FAKE_KNOWN " in *" $package "*) candidate=1.0 ;; *) candidate="(none)" ;; esac
    printf '%s:\n  Installed: (none)\n  Candidate: %s\n' "$package" "$candidate"
done
"""
TOOLS = ["awk", "mktemp", "rm", "tail"]  # the real ones: what the finder runs besides apt and dpkg
INSTALL = "install -y -q --no-install-recommends --no-remove -o APT::Status-Fd=3 "
UPDATING = "play.sh: updating apt's package lists\n"


class Finder(unittest.TestCase):
    def setUp(self):
        self.folder = pathlib.Path(make_temp_folder(self))
        self.bin = self.folder / "bin"
        self.bin.mkdir()
        self.apt_log = self.folder / "apt.log"
        for tool in TOOLS:
            (self.bin / tool).symlink_to(shutil.which(tool))

    def stand_in(self, name, text="#!/bin/sh\n"):
        (self.bin / name).write_text(text)
        (self.bin / name).chmod(0o755)

    def require(self, groups, commands=(), installed="", uid=1000, debian=True, **fakes):
        """Runs pz_require for groups as play.sh would; returns (status, stderr, apt-get calls).
        fakes: FAKE_KNOWN (apt-cache's packages), FAKE_STATUS (apt-get's progress lines),
        FAKE_APT_FAILS (apt-get's error)."""
        for command in commands:
            self.stand_in(command)
        self.stand_in("id", f"#!/bin/sh\necho {uid}\n")
        if debian:
            self.stand_in("dpkg-query", DPKG_QUERY)
            self.stand_in("apt-get", APT_GET)
        if "FAKE_KNOWN" in fakes:
            self.stand_in("apt-cache", APT_CACHE)
        run = subprocess.run([shutil.which("bash"), "-c", 'source "$1" && shift && pz_require "$@"', "play.sh",
                              str(FINDER), *groups], capture_output=True, text=True, timeout=30,
                             env={"PATH": str(self.bin), "FAKE_INSTALLED": installed, "APT_LOG": str(self.apt_log),
                                  "TMPDIR": str(self.folder), **fakes})
        calls = self.apt_log.read_text().splitlines() if self.apt_log.exists() else []
        return run.returncode, run.stderr, calls

    def test_root_installs_what_is_missing_after_an_update(self):
        status, said, calls = self.require(["build", "play", "test"], commands=["g++", "cmake", "luit"],
                                           installed="libgtest-dev", uid=0)
        self.assertEqual(status, 0, said)
        self.assertEqual(calls, ["update -q []", INSTALL + "make python3 [noninteractive]"])
        self.assertEqual(said, "play.sh: installing make (to build the game); python3 (to build and run the "
                               "tests)\n" + UPDATING)
        self.assertEqual(sorted(os.listdir(self.folder)), ["apt.log", "bin"], "apt-get's output is not left behind")

    def test_play_needs_only_the_build_tools_and_luit(self):
        status, said, calls = self.require(["build", "play"], uid=0)
        self.assertEqual(status, 0, said)
        self.assertEqual(calls[1:], [INSTALL + "g++ cmake make luit [noninteractive]"])

    def test_luit_tables_only_where_luit_does_not_convert(self):
        # script stands in for luit's output on a terminal: the sample converted, or its eighth bit stripped.
        for shown, wanted in [("Привет", ""), ("Op`b`p", "xfonts-encodings ")]:
            with self.subTest(shown=shown):
                self.stand_in("script", f"#!/bin/sh\necho '{shown}'\n")
                self.stand_in("timeout", '#!/bin/sh\nshift; exec "$@"\n')
                self.apt_log.unlink(missing_ok=True)
                status, said, calls = self.require(["build", "play"], commands=["g++", "cmake", "luit"], uid=0)
                self.assertEqual(status, 0, said)
                self.assertEqual(calls[1:], [INSTALL + "make " + wanted + "[noninteractive]"])

    def test_progress_is_shown_a_tenth_at_a_time(self):
        status_lines = ["dlstatus:1:0.0000:Retrieving file 1 of 9", "dlstatus:2:4.1:Retrieving file 2 of 9",
                        "dlstatus:5:51.3:Retrieving file 5 of 9", "pmstatus:make:2.5:Unpacking make",
                        "pmstatus:make:9.9:Unpacking make", "pmstatus:make:97:Setting up make"]
        status, said, _ = self.require(["build"], commands=["g++", "cmake"], uid=0,
                                       FAKE_STATUS="".join(line + "\n" for line in status_lines))
        self.assertEqual(status, 0, said)
        self.assertEqual(said.splitlines()[2:], [
            "play.sh: apt-get: 0% downloaded (Retrieving file 1 of 9)",
            "play.sh: apt-get: 50% downloaded (Retrieving file 5 of 9)",
            "play.sh: apt-get: 0% installed (Unpacking make)",
            "play.sh: apt-get: 90% installed (Setting up make)"])

    def test_a_package_this_release_lacks_is_left_out(self):
        for uid, expected in [(0, [INSTALL + "clang [noninteractive]"]), (1000, [])]:
            with self.subTest(uid=uid):
                self.apt_log.unlink(missing_ok=True)
                status, said, calls = self.require(["fuzz"], uid=uid, FAKE_KNOWN="clang",
                                                   installed="", commands=["sudo"] * (uid != 0))
                self.assertEqual(calls[1:], expected)
                self.assertIn("play.sh: this release has no package libclang-rt-dev; going on without it\n", said)
                if uid:
                    self.assertTrue(said.endswith("install them with: sudo apt-get install clang\n"), said)

    def test_a_failed_install_shows_what_apt_get_said(self):
        status, said, _ = self.require(["build"], commands=["g++", "cmake"], uid=0,
                                       FAKE_APT_FAILS="Unable to fetch some archives")
        self.assertEqual(status, 100)
        self.assertTrue(said.endswith("E: Unable to fetch some archives\n"
                                      "play.sh: apt-get failed; its output ends above\n"), said)

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
