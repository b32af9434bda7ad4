"""The installed tree: what `cmake --install` lays out, a whole game played through
the installed launcher from a fresh home, the manual page rendering cleanly, the
menu entry naming the installed launcher, and the software centres' metadata
valid and in step with the changelog."""

import email.utils
import os
import pathlib
import re
import shutil
import subprocess
import unittest
import xml.etree.ElementTree as ElementTree

from termkit import BUILD_DIR, ROOT, cp, fresh_home, main, make_temp_folder, score_records

CMAKE = os.environ.get("PZ_CMAKE", "cmake")
METAINFO = "share/metainfo/example.c_seed_5b52a9cb.prozorometr.metainfo.xml"
TREE = ["bin/prozorometr", "bin/prozorometr-play", "bin/pzbank", "bin/pzcheck", "share/applications/prozorometr.desktop",
        "share/icons/hicolor/scalable/apps/prozorometr.svg", "share/man/man6/prozorometr-play.6",
        "share/man/man6/prozorometr.6", "share/man/man6/pzbank.6", "share/man/man6/pzcheck.6",
        METAINFO, "share/prozorometr/pz2004.db"]
# What appstreamcli may say of the metadata, pedantic, as (tag, severity, hint):
# the ID's top-level domain is the maintainers' own, .example, which it does not
# know; and appstream before 1.0 (Debian 12) does not know <developer> yet.
APPSTREAM_EXPLAINED = {("cid-maybe-not-rdns", "info", "example.c_seed_5b52a9cb.prozorometr"),
                       ("unknown-tag", "info", "developer")}
APPSTREAM_ISSUE = re.compile(r"^- tag: (\S+)\n  severity: (\w+)\n(?:  component: .*\n)?(?:  line: .*\n)?"
                             r"(?:  hint: (.*)\n)?", re.M)


class InstalledTree(unittest.TestCase):
    def setUp(self):
        if not BUILD_DIR or not os.path.exists(os.path.join(BUILD_DIR, "pz2004.db")):
            self.skipTest("the shipped question database pz2004.db is not built yet (target question_bank)")
        self.folder = make_temp_folder(self)
        self.prefix = pathlib.Path(self.folder, "prefix")
        subprocess.run([CMAKE, "--install", BUILD_DIR, "--prefix", str(self.prefix)], check=True,
                       capture_output=True, timeout=120)

    def test_tree_holds_the_game_the_launcher_the_database_and_the_manual(self):
        files = sorted(str(path.relative_to(self.prefix)) for path in self.prefix.rglob("*") if path.is_file())
        self.assertEqual(files, TREE)
        for program in ("bin/prozorometr", "bin/prozorometr-play", "bin/pzbank", "bin/pzcheck"):
            self.assertTrue(os.access(self.prefix / program, os.X_OK), program)

    def play(self, launcher, env, name):
        answers = cp(name) + b"\n\n" + b"1\n" * 35
        run = subprocess.run([str(launcher), "--direct"], input=answers, capture_output=True, timeout=60, env=env,
                             cwd=self.folder)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn(cp("Пользователь " + name), run.stdout)

    def test_launcher_plays_from_a_fresh_home_and_keeps_the_score_file(self):
        env = fresh_home(self.folder)
        # Started through a link in the player's own bin, as a PATH entry would be.
        link = pathlib.Path(env["HOME"], "bin", "prozorometr-play")
        link.parent.mkdir()
        link.symlink_to(self.prefix / "bin" / "prozorometr-play")
        play = pathlib.Path(env["XDG_DATA_HOME"], "prozorometr")

        self.play(link, env, "Иван")
        self.assertEqual((play / "pz2004.db").read_bytes(),
                         (self.prefix / "share" / "prozorometr" / "pz2004.db").read_bytes())
        [record] = score_records(play / "score.dat")
        self.assertEqual(record[:2], [cp("Иван"), b"1"])
        self.assertEqual(int(record[2]) + int(record[3]), 25)

        with open(play / "score.dat", "ab") as scores:
            scores.write(b"\n" + cp("Петр 3 40 35 нормальный раздолбай"))
        self.play(link, env, "Иван")
        records = {fields[0]: fields for fields in score_records(play / "score.dat")}
        self.assertEqual(set(records), {cp("Иван"), cp("Петр")})
        self.assertEqual(records[cp("Иван")][1], b"2", "the second game adds to the first one's profile")
        self.assertEqual(int(records[cp("Иван")][2]) + int(records[cp("Иван")][3]), 50)
        self.assertEqual(records[cp("Петр")], cp("Петр 3 40 35 нормальный раздолбай").split())

    def test_installed_pzbank_builds_a_teachers_database(self):
        samples = ROOT / "tools" / "samples" / "bank"
        shipped = (self.prefix / "share" / "prozorometr" / "pz2004.db").read_bytes()
        shipped_character = b"\n".join(shipped.split(b"\n")[:150])
        cases = [  # sources, exit status, what the database begins with or the error printed
            (["intellect-ok.txt"], 0, shipped_character),
            (["character-ok.txt", "intellect-ok.txt"], 0, (samples / "character-ok.txt").read_text().encode("cp1251")),
            (["character-ok.txt", "bad-key.txt"], 1, b"bad-key.txt:18: error: the key is neither"),
        ]
        for sources, status, expected in cases:
            with self.subTest(sources=sources):
                output = pathlib.Path(self.folder, "own.db")
                output.unlink(missing_ok=True)
                run = subprocess.run([str(self.prefix / "bin" / "pzbank"), "-o", str(output),
                                      *(str(samples / source) for source in sources)], capture_output=True, timeout=60)
                self.assertEqual(run.returncode, status, run.stderr)
                if status:
                    self.assertIn(expected, run.stderr)
                    self.assertFalse(output.exists(), "nothing is written on an error")
                else:
                    self.assertTrue(output.read_bytes().startswith(expected))
                    self.assertEqual(output.read_bytes().count(b"\n"), 300)

    def test_manual_renders_without_warnings(self):
        page = self.prefix / "share" / "man" / "man6" / "prozorometr.6"
        checks = []
        if shutil.which("man"):
            checks.append((["man", "--warnings", "-l", str(page)], b"pzcheck"))
            for name in ("prozorometr-play", "pzbank", "pzcheck"):
                checks.append((["man", "--warnings", "-M", str(self.prefix / "share" / "man"), "6", name], b"luit"))
        if shutil.which("groff"):
            checks.append((["groff", "-man", "-ww", "-z", str(page)], b""))
        if not checks:
            self.skipTest("neither man nor groff is installed")
        for command, expected in checks:
            with self.subTest(command=command[0:2]):
                run = subprocess.run(command, capture_output=True, timeout=60,
                                     env={**os.environ, "MANWIDTH": "80", "MANPAGER": "cat", "PAGER": "cat",
                                          "LC_ALL": "C.UTF-8"})
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(run.stderr, b"")
                self.assertIn(expected, run.stdout)

    def test_menu_entry_starts_the_installed_launcher_in_a_terminal(self):
        entry = self.prefix / "share" / "applications" / "prozorometr.desktop"
        fields = dict(line.split("=", 1) for line in entry.read_text(encoding="utf-8").splitlines() if "=" in line)
        self.assertEqual(fields["Exec"], str(self.prefix / "bin" / "prozorometr-play"))
        self.assertEqual([fields["Terminal"], fields["Categories"], fields["Icon"]], ["true", "Game;", "prozorometr"])
        self.assertEqual(fields["Name[ru]"], "Прозорометр-2004")
        if shutil.which("desktop-file-validate") is None:
            self.skipTest("desktop-file-validate is not installed (desktop-file-utils)")
        run = subprocess.run(["desktop-file-validate", str(entry)], capture_output=True, timeout=30)
        self.assertEqual((run.returncode, run.stdout + run.stderr), (0, b""))

    def test_software_centre_metadata_is_valid_and_follows_the_changelog(self):
        metainfo = self.prefix / METAINFO
        releases = [(release.get("version"), release.get("date"))
                    for release in ElementTree.parse(metainfo).getroot().iter("release")]
        changelog = (ROOT / "debian" / "changelog").read_text(encoding="utf-8")
        entries = re.findall(r"^prozorometr \(([^)]+)\).*?^ -- [^\n]*?  ([^\n]+)$", changelog, re.M | re.S)
        self.assertEqual(releases, [(version, email.utils.parsedate_to_datetime(date).strftime("%Y-%m-%d"))
                                    for version, date in entries])
        if shutil.which("appstreamcli") is None:
            self.skipTest("appstreamcli is not installed (appstream)")
        # The tree as a whole: the metadata with the menu entry it launches.
        run = subprocess.run(["appstreamcli", "validate-tree", "--no-net", "--pedantic", "--format", "yaml",
                              str(self.prefix)], capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertLessEqual(set(APPSTREAM_ISSUE.findall(run.stdout)), APPSTREAM_EXPLAINED, run.stdout)


if __name__ == "__main__":
    main()
