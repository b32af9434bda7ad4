"""The game's own command line: --help and --version answer in plain ASCII and
exit 0; any other argument gets one line on stderr and status 2. None of them
starts a game or touches the current folder. The launcher and the tools answer
--help and --version the same way."""

import os
import subprocess
import unittest

from termkit import BINARY, BUILD_DIR, LAUNCHER, game_missing_reason, main, make_temp_folder

HELP_MENTIONS = [b"pz2004.db", b"score.dat", b"~pz2004.tmp", b"prozorometr-play", b"man 6 prozorometr", b"--version"]


class Options(unittest.TestCase):
    def setUp(self):
        reason = game_missing_reason()
        if reason:
            self.skipTest(reason)
        self.folder = make_temp_folder(self)

    def run_game(self, *arguments):
        run = subprocess.run([BINARY, *arguments], cwd=self.folder, stdin=subprocess.DEVNULL, capture_output=True,
                             timeout=30)
        self.assertEqual(os.listdir(self.folder), [], "no game may start")
        return run

    def test_help_and_version_answer_on_stdout(self):
        version = os.environ.get("PZ_VERSION")
        if not version:
            self.skipTest("PZ_VERSION does not give the project version")
        help_text = self.run_game("--help")
        self.assertEqual((help_text.returncode, help_text.stderr), (0, b""))
        help_text.stdout.decode("ascii")
        for mention in HELP_MENTIONS:
            self.assertIn(mention, help_text.stdout)
        self.assertEqual(self.run_game("-h").stdout, help_text.stdout)
        answer = self.run_game("--version")
        self.assertEqual((answer.returncode, answer.stdout, answer.stderr),
                         (0, f"prozorometr {version}\n".encode(), b""))

    def test_other_arguments_are_refused_in_one_line(self):
        for arguments in (["--fast"], ["help"], [""], ["--help", "extra"], ["--version", "--help"]):
            with self.subTest(arguments=arguments):
                run = self.run_game(*arguments)
                self.assertEqual((run.returncode, run.stdout), (2, b""))
                self.assertRegex(run.stderr, rb"\Aprozorometr: [^\n]*'[^\n]*\n\Z")


class EveryCommand(Options):
    def test_each_answers_help_and_version(self):
        version = os.environ.get("PZ_VERSION")
        if not version or not BUILD_DIR:
            self.skipTest("PZ_VERSION and PZ_BUILD_DIR do not give the version and the build")
        tools = os.path.join(BUILD_DIR, "tools")
        commands = [("prozorometr", [BINARY]), ("prozorometr-play", [str(LAUNCHER)]),
                    ("pzbank", [os.path.join(tools, "pzbank")]), ("pzcheck", [os.path.join(tools, "pzcheck")])]
        for name, command in commands:
            with self.subTest(name):
                env = {**os.environ, "PROZOROMETR_GAME": BINARY, "PROZOROMETR_DIR": os.path.join(self.folder, "x")}
                answers = [subprocess.run(command + [option], cwd=self.folder, stdin=subprocess.DEVNULL,
                                          capture_output=True, timeout=30, env=env) for option in ("--version", "--help")]
                self.assertEqual([(a.returncode, a.stderr) for a in answers], [(0, b"")] * 2)
                self.assertEqual(answers[0].stdout, f"{name} {version}\n".encode())
                self.assertIn(b"--version", answers[1].stdout)
                self.assertEqual(os.listdir(self.folder), [], "nothing is made by asking")


if __name__ == "__main__":
    main()
