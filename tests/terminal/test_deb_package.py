"""The Debian package as scripts/package.sh makes it: the path it prints, the
package's name, fields and files in the games layout, lintian's verdict and, as
root, a real install with dpkg, a game through the installed launcher and a
clean removal."""

import functools
import gzip
import os
import pathlib
import re
import shutil
import subprocess
import unittest

from termkit import BUILD_DIR, ROOT, cp, fresh_home, main, make_temp_folder, score_records

VERSION = os.environ.get("PZ_VERSION", "")
FILES = ["usr/games/prozorometr", "usr/games/prozorometr-play", "usr/games/pzbank", "usr/games/pzcheck",
         "usr/share/applications/prozorometr.desktop", "usr/share/doc/prozorometr/changelog.gz",
         "usr/share/doc/prozorometr/copyright", "usr/share/games/prozorometr/pz2004.db",
         "usr/share/icons/hicolor/scalable/apps/prozorometr.svg", "usr/share/lintian/overrides/prozorometr",
         "usr/share/man/man6/prozorometr-play.6.gz", "usr/share/man/man6/prozorometr.6.gz",
         "usr/share/man/man6/pzbank.6.gz", "usr/share/man/man6/pzcheck.6.gz",
         "usr/share/metainfo/example.c_seed_5b52a9cb.prozorometr.metainfo.xml"]


def output_of(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True, timeout=120).stdout


def missing_reason():
    for tool, package in (("dpkg-deb", "dpkg"), ("dpkg-shlibdeps", "dpkg-dev"), ("file", "file")):
        if shutil.which(tool) is None:
            return f"{tool} is not installed (apt-get install {package})"
    if not BUILD_DIR or not VERSION:
        return "PZ_BUILD_DIR and PZ_VERSION do not name the build"
    return None


@functools.lru_cache(maxsize=None)
def built_package():
    """Makes the package once per run, in the folder deb of the build folder, started
    there; returns the path package.sh printed and what it said on stderr."""
    run = subprocess.run([str(ROOT / "scripts" / "package.sh"), "deb"], cwd=BUILD_DIR,
                         capture_output=True, text=True, timeout=480)
    if run.returncode != 0:
        raise AssertionError(f"scripts/package.sh failed:\n{run.stderr}")
    return run.stdout, run.stderr


class BuiltPackage(unittest.TestCase):
    def setUp(self):
        reason = missing_reason()
        if reason:
            self.skipTest(reason)
        printed, self.said = built_package()
        self.deb = pathlib.Path(BUILD_DIR, printed.strip())


class Package(BuiltPackage):
    def test_name_fields_and_games_layout(self):
        architecture = output_of("dpkg", "--print-architecture").strip()
        self.assertEqual(built_package()[0], f"deb/prozorometr_{VERSION}_{architecture}.deb\n",
                         "the path as given, relative to where package.sh was started")
        fields = dict(re.findall(r"^(\w+): (.*)$", output_of("dpkg-deb", "-f", str(self.deb)), re.M))
        self.assertEqual([fields[name] for name in ("Package", "Version", "Section", "Recommends", "Suggests")],
                         ["prozorometr", VERSION, "games", "luit | x11-utils", "xfonts-encodings"])
        for library in ("libc6", "libstdc++6"):
            self.assertRegex(fields["Depends"], rf"(^|, ){re.escape(library)} \(>= [^)]+\)")
        listing = output_of("dpkg-deb", "-c", str(self.deb)).splitlines()
        files = sorted(line.split()[-1].removeprefix("./") for line in listing if not line.startswith("d"))
        self.assertEqual(files, FILES)

        unpacked = pathlib.Path(make_temp_folder(self))
        subprocess.run(["dpkg-deb", "-x", str(self.deb), str(unpacked)], check=True, timeout=60)
        changelog = (unpacked / "usr/share/doc/prozorometr/changelog.gz").read_bytes()
        self.assertEqual((changelog[3], changelog[4:8]), (0, b"\0\0\0\0"), "gzip -n: no name, no time")
        self.assertTrue(gzip.decompress(changelog).startswith(f"prozorometr ({VERSION}) ".encode()))
        self.assertIn("\nExec=/usr/games/prozorometr-play\n",
                      (unpacked / "usr/share/applications/prozorometr.desktop").read_text(encoding="utf-8"))

    def test_lintian_reports_no_errors_or_warnings(self):
        # package.sh runs lintian on what it built and fails on any error or warning.
        self.assertIn(f"package.sh: lintian finds no error or warning in {self.deb.name}\n", self.said)
        self.assertEqual(re.findall(r"^[EW]: .*$", self.said, re.M), [])


class Installed(BuiltPackage):
    """Only root may install, so this is a test of its own, skipped for others."""

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("installing with dpkg needs root")  # before the package is built for nothing
        super().setUp()

    def test_dpkg_installs_plays_and_removes_it(self):
        state = subprocess.run(["dpkg-query", "-W", "-f=${Status}", "prozorometr"], capture_output=True, text=True)
        if state.stdout.endswith(" installed"):
            self.skipTest("a prozorometr package is installed here already; this test would replace it")
        subprocess.run(["dpkg", "-i", str(self.deb)], capture_output=True, check=True, timeout=120)
        self.addCleanup(subprocess.run, ["dpkg", "-r", "prozorometr"], capture_output=True, timeout=120)
        for path in FILES:
            self.assertTrue(os.path.exists("/" + path), path)
        self.assertEqual(output_of("/usr/games/prozorometr", "--version"), f"prozorometr {VERSION}\n")
        self.play_through_the_installed_launcher()

        subprocess.run(["dpkg", "-r", "prozorometr"], capture_output=True, check=True, timeout=120)
        self.assertEqual([path for path in FILES if os.path.lexists("/" + path)], [])
        self.assertFalse(os.path.exists("/usr/share/games/prozorometr"), "the package's own folder goes too")

    def play_through_the_installed_launcher(self):
        env = fresh_home(make_temp_folder(self))
        answers = cp("Иван") + b"\n\n" + b"1\n" * 35
        run = subprocess.run(["/usr/games/prozorometr-play", "--direct"], input=answers, capture_output=True,
                             timeout=60, env=env)
        self.assertEqual(run.returncode, 0, run.stderr)
        play = pathlib.Path(env["XDG_DATA_HOME"], "prozorometr")
        self.assertEqual((play / "pz2004.db").read_bytes(),
                         pathlib.Path("/usr/share/games/prozorometr/pz2004.db").read_bytes())
        self.assertEqual(score_records(play / "score.dat")[0][:2], [cp("Иван"), b"1"])


if __name__ == "__main__":
    main()
