"""The Debian package as scripts/package.sh builds it through debian/, the way a
distribution does: the path it prints and lintian's pedantic verdict (class
Build, which ctest runs first); the package's fields, files and hardened
programs; a second build from its source package, elsewhere, later and under
another umask, locale and clock, byte for byte the same; and, as root,
autopkgtest playing the installed package, then a clean removal."""

import os
import pathlib
import re
import shutil
import subprocess
import unittest

from termkit import BUILD_DIR, ROOT, main, make_locale, make_temp_folder

VERSION = os.environ.get("PZ_VERSION", "")
PACKAGES = pathlib.Path(BUILD_DIR, "deb")  # where package.sh builds, started in the build folder
PROGRAMS = ["usr/games/prozorometr", "usr/games/pzbank", "usr/games/pzcheck"]
FILES = PROGRAMS + [
    "usr/games/prozorometr-play", "usr/share/applications/prozorometr.desktop",
    "usr/share/doc/prozorometr/changelog.gz", "usr/share/doc/prozorometr/copyright",
    "usr/share/games/prozorometr/pz2004.db", "usr/share/icons/hicolor/scalable/apps/prozorometr.svg",
    "usr/share/lintian/overrides/prozorometr", "usr/share/man/man6/prozorometr-play.6.gz",
    "usr/share/man/man6/prozorometr.6.gz", "usr/share/man/man6/pzbank.6.gz", "usr/share/man/man6/pzcheck.6.gz",
    "usr/share/metainfo/example.c_seed_5b52a9cb.prozorometr.metainfo.xml"]


def output_of(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, check=True, timeout=120, **options).stdout


def architecture():
    return output_of("dpkg", "--print-architecture").strip()


def missing_reason():
    for tool, package in (("dpkg-buildpackage", "dpkg-dev"), ("dh", "debhelper"), ("lintian", "lintian")):
        if shutil.which(tool) is None:
            return f"{tool} is not installed (apt-get install {package})"
    if not BUILD_DIR or not VERSION:
        return "PZ_BUILD_DIR and PZ_VERSION do not name the build"
    return None


def built(suffix):
    """The path of what the first build made: prozorometr_VERSION + suffix."""
    return PACKAGES / f"prozorometr_{VERSION}{suffix}"


class Build(unittest.TestCase):
    def test_package_sh_builds_through_debian_and_lintian_passes_it(self):
        reason = missing_reason()
        if reason:
            self.skipTest(reason)
        run = subprocess.run([str(ROOT / "scripts" / "package.sh"), "deb"], cwd=BUILD_DIR, capture_output=True,
                             text=True, timeout=900)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout, f"deb/prozorometr_{VERSION}_{architecture()}.deb\n",
                         "the path as given, relative to where package.sh was started")
        self.assertIn(f"package.sh: lintian finds no error or warning in prozorometr_{VERSION}_{architecture()}.deb\n",
                      run.stderr)
        self.assertEqual(re.findall(r"^[EW]: .*$", run.stderr, re.M), [])


class BuiltPackage(unittest.TestCase):
    """Uses what Build made; ctest runs Build first (fixture deb)."""

    def setUp(self):
        reason = missing_reason()
        if reason:
            self.skipTest(reason)
        self.deb = built(f"_{architecture()}.deb")
        if not self.deb.exists():
            self.fail(f"{self.deb} is not built: run the class Build first (ctest's terminal.deb_build)")


class Package(BuiltPackage):
    def test_name_fields_and_games_layout(self):
        fields = dict(re.findall(r"^(\w+): (.*)$", output_of("dpkg-deb", "-f", str(self.deb)), re.M))
        self.assertEqual([fields[name] for name in ("Package", "Version", "Section", "Recommends", "Suggests")],
                         ["prozorometr", VERSION, "games", "luit | x11-utils", "xfonts-encodings"])
        for library in ("libc6", "libstdc++6"):
            self.assertRegex(fields["Depends"], rf"(^|, ){re.escape(library)} \(>= [^)]+\)")
        listing = output_of("dpkg-deb", "-c", str(self.deb)).splitlines()
        names = [re.sub(r" -> .*$", "", line).split(" ./", 1)[1] for line in listing if not line.startswith("d")]
        self.assertEqual(sorted(names), sorted(FILES))

        unpacked = pathlib.Path(make_temp_folder(self))
        subprocess.run(["dpkg-deb", "-x", str(self.deb), str(unpacked)], check=True, timeout=60)
        self.assertIn("\nExec=/usr/games/prozorometr-play\n",
                      (unpacked / "usr/share/applications/prozorometr.desktop").read_text(encoding="utf-8"))
        changelog = output_of("zcat", str(unpacked / "usr/share/doc/prozorometr/changelog.gz"))
        self.assertEqual(changelog, (ROOT / "debian" / "changelog").read_text(encoding="utf-8"))

    def test_programs_are_hardened(self):
        unpacked = pathlib.Path(make_temp_folder(self))
        subprocess.run(["dpkg-deb", "-x", str(self.deb), str(unpacked)], check=True, timeout=60)
        checks = [  # readelf's option, what its output must show, what that proves
            ("-h", r"Type:\s+DYN ", "a position-independent executable"),
            ("-lW", r"GNU_RELRO", "read-only relocations"),
            ("-dW", r"\(FLAGS(_1)?\)\s+.*\bNOW\b", "bound at start-up (-z now)"),
            ("--dyn-syms", r"\b__stack_chk_fail\b", "the stack protector"),
        ]
        for program in PROGRAMS:
            for option, pattern, what in checks:
                with self.subTest(program=program, option=option):
                    shown = output_of("readelf", "--wide", option, str(unpacked / program))
                    self.assertTrue(re.search(pattern, shown), f"{program} is not {what}: readelf {option} "
                                                               f"shows no {pattern}")


class Reproducible(BuiltPackage):
    """reprotest's usual variations, by hand: the source package unpacked in
    another folder and built there again, a year later by the clock (faketime),
    with another umask, locale, time zone, home, environment and number of jobs
    (three, where the first build had as many as there are processors)."""

    def test_a_second_build_elsewhere_later_is_byte_identical(self):
        folder = pathlib.Path(make_temp_folder(self))
        tree = folder / "elsewhere" / "src"
        tree.parent.mkdir()
        (folder / "home").mkdir()
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": str(folder / "home"), "TZ": "UTC-10",
               "DEB_BUILD_OPTIONS": "parallel=3", **(make_locale(str(folder), "ru_RU", "UTF-8") or
                                                    {"LC_ALL": "C.UTF-8"})}
        first_umask = os.umask(0o022)
        os.umask(first_umask)
        umask = 0o022 if first_umask == 0o077 else 0o077
        later = ["faketime", "+397 days"] if shutil.which("faketime") else []
        said = [f"in {tree}", f"umask {umask:03o}", env.get("LC_ALL", ""), "TZ=UTC-10", "three jobs",
                "a year later" if later else "minutes later (faketime is not installed)"]

        def in_second_build(command, cwd):
            return subprocess.run(later + command, cwd=cwd, env=env, capture_output=True, text=True, timeout=900,
                                  preexec_fn=lambda: os.umask(umask))

        unpack = in_second_build(["dpkg-source", "-x", str(built(".dsc")), str(tree)], folder)
        self.assertEqual(unpack.returncode, 0, unpack.stderr)
        build = in_second_build(["dpkg-buildpackage", "-us", "-uc", "-b"], tree)
        self.assertEqual(build.returncode, 0, build.stdout[-3000:] + build.stderr[-3000:])

        first = sorted(path.name for path in PACKAGES.glob("*.deb"))
        second = sorted(path.name for path in tree.parent.glob("*.deb"))
        self.assertEqual(second, first)
        differing = [name for name in first
                     if (PACKAGES / name).read_bytes() != (tree.parent / name).read_bytes()]
        if differing:
            self.fail(f"built again ({', '.join(said)}), {', '.join(differing)} differ:\n"
                      + self.diffoscope(PACKAGES / differing[0], tree.parent / differing[0]))

    def diffoscope(self, first, second):
        if shutil.which("diffoscope") is None:
            return "(diffoscope would name the difference: apt-get install diffoscope-minimal)"
        run = subprocess.run(["diffoscope", "--text", "-", str(first), str(second)], capture_output=True, text=True,
                             timeout=600)
        return run.stdout[:8000] + run.stderr[-2000:]


class Installed(BuiltPackage):
    """autopkgtest's null runner installs the package on this very machine, so
    only root runs it, and never over an installed prozorometr."""

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("autopkgtest -- null installs the package on this machine, which needs root")
        if shutil.which("autopkgtest") is None:
            self.skipTest("autopkgtest is not installed (apt-get install autopkgtest)")
        state = subprocess.run(["dpkg-query", "-W", "-f=${Status}", "prozorometr"], capture_output=True, text=True)
        if state.stdout.endswith(" installed"):
            self.skipTest("a prozorometr package is installed here already; this test would replace it")
        super().setUp()

    def test_autopkgtest_plays_the_installed_package_which_then_removes_cleanly(self):
        self.addCleanup(subprocess.run, ["dpkg", "--purge", "prozorometr"], capture_output=True, timeout=120)
        run = subprocess.run(["autopkgtest", str(built(f"_{architecture()}.changes")), "--", "null"],
                             capture_output=True, text=True, timeout=900)
        self.assertEqual(run.returncode, 0, run.stdout[-4000:] + run.stderr[-4000:])
        self.assertRegex(run.stdout, r"(?m)^installed-game +PASS$")
        for part in ("piped-game", "own-questions", "scores-table"):
            self.assertIn(f"\n{part}: ", run.stderr + run.stdout, f"the part {part} said it passed")

        self.assertEqual([path for path in FILES if not os.path.lexists("/" + path)], [])
        self.assertEqual(output_of("/usr/games/prozorometr", "--version"), f"prozorometr {VERSION}\n")
        subprocess.run(["dpkg", "--purge", "prozorometr"], capture_output=True, check=True, timeout=120)
        self.assertEqual([path for path in FILES if os.path.lexists("/" + path)], [])
        self.assertFalse(os.path.exists("/usr/share/games/prozorometr"), "the package's own folder goes too")


if __name__ == "__main__":
    main()
