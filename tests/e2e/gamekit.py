"""Shared helpers for the end-to-end tests of prozorometr.

The tests run the real game binary (path in PZ_BINARY, started through the
command in PZ_RUNNER when one is given, as Wine runs a Windows build) in a fresh
temporary folder per test, with a question database built here; as root, a copy
of the game in a folder every user may enter, since some tests play as other
users and the build may sit where only root can reach. Every question text
names its record number, so a test can read the record off the screen and
answer it right or wrong on purpose. Expected screens are built here from the
game's fixed texts; everything is compared as Windows-1251 bytes.
"""

import atexit
import os
import re
import select
import shlex
import shutil
import socket
import subprocess
import sys
import threading
import tempfile
import time
import unittest

RUNNER = shlex.split(os.environ.get("PZ_RUNNER", ""))


def reachable_by_everyone(binary):
    """A copy of binary in a folder every user may enter and read, removed when the
    tests end: the build of a clone in /root (mode 0700) is out of other users' reach."""
    folder = tempfile.mkdtemp(prefix="pz-e2e-game-")
    atexit.register(shutil.rmtree, folder, True)
    os.chmod(folder, 0o755)
    copy = os.path.join(folder, os.path.basename(binary))
    shutil.copyfile(binary, copy)
    os.chmod(copy, 0o755)
    return copy


BINARY = os.environ.get("PZ_BINARY", "")
if BINARY and os.geteuid() == 0 and not RUNNER and os.access(BINARY, os.X_OK):
    BINARY = reachable_by_everyone(BINARY)
DB = "pz2004.db"
SCORE = "score.dat"
TEMP = "~pz2004.tmp"
LOCK = "~pz2004.lck"
RUN_TIMEOUT = 30


def cp(text):
    """Text as the game prints and stores it: Windows-1251 bytes."""
    return text.encode("cp1251")


def num(value):
    return str(value).encode("ascii")


# ---------------------------------------------------------------- fixed texts

PROMPT = cp("Для продолжения введите свое имя: ")
BANNER_REST = cp(
    "\n\t\t\tВорсендаль Dezaredara\n\t\t\tв сотрудничестве с\n\t\t\tDuv Ureraz Azeruz Dravenholt\n"
    "\t\t\tпредставляет новую программу\n\n\t\t\t\t\"Прозорометр-2004\"\n\n\n"
    "Добро пожаловать в интерактивный тест на интеллектуальную, социальную \n"
    "и психологическую адаптивность \"Прозорометр-2004\"!\n\n") + PROMPT
NAME_REFUSED = cp("Имя должно быть одним словом, без пробелов.\n")
NAME_CONTROL = cp("В имени не должно быть управляющих символов.\n")
INTRO1 = cp(
    "\n\t\t\tТест 1.\n\nЭтот тест предназначен для выявления вашего интеллектуального уровня."
    "Вам будут предложены несколько вопросов и несколько вариантов ответов на них. "
    "Вы должны будете ввести один из номеров ответа и нажать Enter.\n\n"
    "Для начала теста на умственные способности нажмите любую клавишу")
INTRO2 = cp(
    "\n\t\t\tТест 2.\n\nЭтот тест предназначен для определения вашего характера. "
    "Отвечайте честно по тому же принципу\n\nДля начала теста на характер нажмите любую клавишу")
EXIT_PROMPT = cp("Для выхода нажмите любую клавишу.")
DB_FAILURE = b"Abnormal program termination"
SCORE_FAILURE = b"\nAbnormal program termination"
SAVE_FAILURE_PREFIX = b"prozorometr: score.dat not saved: "

UNKNOWN = "неизвестно"
GENIUS, EDUCATED, SLACKER, CRAZY = "гений", "образованный", "раздолбай", "ебанутый"


def summary(name, attempts, correct, wrong, intellect, character):
    return (b"\n\n" + cp("Пользователь ") + name + b"\n"
            + cp("Попыток ") + num(attempts) + b"\n"
            + cp("Ответов верных ") + num(correct) + b"\n"
            + cp("Ответов неверных ") + num(wrong) + b"\n"
            + cp("Ваш интеллект: ") + cp(intellect) + b"\n"
            + cp("Ваш характер: ") + cp(character) + b"\n")


def screen(number, question, answers):
    return (b"\n\n\t" + cp("Вопрос ") + num(number) + b"\n\n" + question
            + b"".join(b"\n" + num(i + 1) + b". " + a for i, a in enumerate(answers)) + b"\n")


def report(name, right, intellect, character):
    intellect, character = cp(intellect), cp(character)
    return (b"\n" * 20 + cp("Наш тест успешно завершен. Его результаты оказались такими:\nНастоящий ")
            + character + b" " + name + b" " + cp("ответил на ") + num(right)
            + cp(" вопросов правильно и на ") + num(25 - right) + b" "
            + cp("вопросов дал неправильный ответ.\nИсходя из этого, его интеллектуальный уровень "
                 "был достоверно установлен\nкак ")
            + intellect + b". " + name + b" " + intellect + b" "
            + cp(" - хорошо это или плохо - судить вам.\nНо, в любом случае, всегда надо стремиться "
                 "к совершенству, какое бы оно ни было.\nХарактер ")
            + name + b" " + character
            + cp(", что говорит о его жизненных взглядах.\nМы надеемся, что мы помогли вам определить "
                 "ваше место в жизни.\n\n\t\tСпасибо за использование продукции KWRM и GMPF!\n\n\n")
            + EXIT_PROMPT + b"\n\n\n\n\n")


def record(name, attempts, correct, wrong, character, intellect):
    """One score record in the writer's form."""
    if isinstance(name, str):
        name = cp(name)
    return b" ".join([name, num(attempts), num(correct), num(wrong), cp(character), cp(intellect)])


# ------------------------------------------------------------- the database

MARK = re.compile(cp("Запись ") + rb"(\d{3})")


def question_text(n):
    return cp("Запись %03d: какой ответ верен?" % n)


def answer_text(n, a):
    return cp("вариант %d записи %03d" % (a, n))


class Database:
    """A question database: a list of records, each (question, [4 answers], key line)."""

    def __init__(self, records):
        self.records = list(records)

    @classmethod
    def standard(cls, count=50, intellect_key=None, character_key=None):
        """count records; record n says "Запись nnn". intellect_key(n) gives the
        right digit (1-4) of intellect record n, character_key(n) the key line of
        character record n."""
        intellect_key = intellect_key or (lambda n: 1)
        character_key = character_key or (lambda n: b"1 2 3 4")
        records = []
        for n in range(1, count + 1):
            key = character_key(n) if n <= 25 else num(intellect_key(n))
            records.append((question_text(n), [answer_text(n, a) for a in range(1, 5)], key))
        return cls(records)

    def lines(self):
        out = []
        for question, answers, key in self.records:
            out.extend([question] + list(answers) + [key])
        return out

    def content(self, final_lf=True, crlf=False, extra_lines=()):
        lines = self.lines() + list(extra_lines)
        end = b"\r\n" if crlf else b"\n"
        data = end.join(lines)
        if final_lf and lines:
            data += end
        return data

    def write(self, folder, **options):
        with open(os.path.join(folder, DB), "wb") as f:
            f.write(self.content(**options))

    def shown(self, n):
        """Question and answers of record n as the screen shows them."""
        question, answers, _ = self.records[n - 1]
        return question, answers

    def intellect_key(self, n):
        return self.records[n - 1][2][:1]

    def character_key(self, n):
        """Category (int, or None when the answer counts for nothing) of answers 1-4."""
        key = self.records[n - 1][2]
        cats = []
        for pos in (0, 2, 4, 6):
            c = key[pos:pos + 1]
            cats.append(int(c) if c in (b"1", b"2", b"3", b"4") else None)
        return cats


def varied_intellect_key(n):
    return (n * 7) % 4 + 1


def varied_character_key(n):
    """A permutation of the categories that differs between records."""
    perms = [b"1 2 3 4", b"3 1 4 2", b"4 3 2 1", b"2 4 1 3", b"2 1 3 4", b"4 1 2 3"]
    return perms[n % len(perms)]


# ------------------------------------------------------------- expectations

def expected_game(db, name, before, intellect_records, character_records, right, intellect, character,
                  after_name=b""):
    """Whole stdout of a run after the banner's free first line.
    before: (attempts, correct, wrong, intellect label, character label) shown in the summary."""
    out = BANNER_REST + after_name + summary(name, *before) + INTRO1
    for i, n in enumerate(intellect_records):
        out += screen(i + 1, *db.shown(n))
    out += INTRO2
    for i, n in enumerate(character_records):
        out += screen(i + 1, *db.shown(n))
    return out + report(name, right, intellect, character)


SCREEN_RE = re.compile(b"\n\n\t" + cp("Вопрос ") + rb"(\d+)\n\n([^\n]*)\n1\. [^\n]*\n2\. [^\n]*\n3\. [^\n]*"
                       rb"\n4\. [^\n]*\n")


def record_shown(match):
    """Record number named by a screen's question text (0 when it names none)."""
    mark = MARK.match(match.group(2))
    return int(mark.group(1)) if mark else 0


def shown_records(output):
    """Record numbers of the question screens in output, split at the test-2 introduction."""
    first, _, second = output.partition(INTRO2)
    return [record_shown(m) for m in SCREEN_RE.finditer(first)], [record_shown(m) for m in SCREEN_RE.finditer(second)]


# ------------------------------------------------------------- running

class Workdir:
    """A fresh folder for one test, removed afterwards."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="pz-e2e-")

    def file(self, name):
        return os.path.join(self.path, name)

    def write(self, name, data):
        with open(self.file(name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(self.file(name), "rb") as f:
            return f.read()

    def exists(self, name):
        return os.path.exists(self.file(name))

    def cleanup(self):
        shutil.rmtree(self.path, ignore_errors=True)


def game_command():
    """The command line that starts the game."""
    return RUNNER + [BINARY]


def run(folder, stdin=b"", timeout=RUN_TIMEOUT, **popen):
    """Runs the game with piped input; returns the CompletedProcess. popen: further
    arguments of subprocess.run, such as a preexec_fn from as_user."""
    return subprocess.run(game_command(), cwd=folder, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=timeout, **popen)


STRACE = shutil.which("strace")


def _can_trace():
    """strace is there and allowed to trace (containers may forbid it)."""
    try:
        return STRACE is not None and subprocess.run([STRACE, "-o", os.devnull, sys.executable, "-c", ""],
                                                     timeout=30).returncode == 0
    except (OSError, subprocess.SubprocessError):
        return False


CAN_TRACE = not RUNNER and _can_trace()


def traced_command(*options):
    """The game under strace with the given options (its faults and delays), tracing into nothing."""
    return [STRACE, "-f", "-o", os.devnull, *options, BINARY]


def tracer_environment():
    """A leak checker cannot work under a tracer; and faketime's library, preloaded,
    comes before the address sanitizer's, which is harmless."""
    return dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0:verify_asan_link_order=0")


# Players of a class: members of one group, each with a private primary group.
GROUP, ANYA, BORYA, EVE = 41000, 41001, 41002, 41003


def member(uid):
    """A player with a private primary group (Debian's default) who also belongs to GROUP."""
    return (uid, uid, GROUP)


# The lock's bounds shortened for the tests that wait for it (PROZOROMETR_LOCK_WAIT_MS,
# whose floor this is): a wait of LOCK_WAIT seconds for a lock that shows no change, a
# lock unchanged for five sixths of that is stale, and a holder that beats is waited for
# BEATING_WAITS times as long.
LOCK_WAIT = 6
BEATING_WAITS = 4
WAIT_LINE = cp("prozorometr: another game is saving; waiting up to %d seconds for %s\n" % (LOCK_WAIT, LOCK))


def shorten_lock_waits():
    os.environ["PROZOROMETR_LOCK_WAIT_MS"] = str(LOCK_WAIT * 1000)


def as_user(uid, gid, *more_groups):
    """A preexec_fn that runs the child as uid with primary group gid (and the
    further groups given), with umask 022 (the caller must be root)."""
    def switch():
        os.setgroups([gid, *more_groups])
        os.setgid(gid)
        os.setuid(uid)
        os.umask(0o022)
    return switch


def own_names(folder):
    """The names in folder that a save makes under its own number: copies being written
    (~pz2004.tmp.N), whole ones (~pz2004.new.N) and the score files replaced (~pz2004.old.N)."""
    return sorted(n for n in os.listdir(folder) if re.match(r"~pz2004\.(tmp|new|old)\.", n))


def machine_name():
    """This machine as a lock's holder names it: boot id and pid namespace."""
    with open("/proc/sys/kernel/random/boot_id") as f:
        return f.read().strip() + ":" + os.readlink("/proc/self/ns/pid")


def lock_text(pid, host=None, machine=None, started="1"):
    """A lock file's content as a game writes it: the holder's mark and number, then the count."""
    return ("%d %s %s %s 0123456789abcdef\n" % (pid, host or socket.gethostname(),
                                                             machine or machine_name(), started)).encode()


class HeldLock:
    """A lock held by a live game: a byte added every 50 ms, as its holder's heartbeat does."""

    def __init__(self, path, text):
        self.path, self.text, self.done = path, text, threading.Event()
        self.thread = threading.Thread(target=self.beat, daemon=True)

    def beat(self):
        while not self.done.wait(0.05):
            with open(self.path, "ab") as f:
                f.write(b".")

    def __enter__(self):
        with open(self.path, "wb") as f:
            f.write(self.text)
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.done.set()
        self.thread.join()


def piped_answers(name, intellect, character):
    """Input of a piped game: the name line, Enter at the test-1 introduction,
    then one answer line per question."""
    return name + b"\n\n" + b"".join(a + b"\n" for a in list(intellect) + list(character))


def uniform_answers(name, right, character=b"1"):
    """Input for the uniform keys (intellect 1): right answers first, then wrong ones (2)."""
    return piped_answers(name, [b"1"] * right + [b"2"] * (25 - right), [character] * 10)


class Console:
    """What the game has printed on one descriptor, read with deadlines."""

    def __init__(self, fd, timeout=RUN_TIMEOUT):
        self.fd, self.out, self.ended = fd, b"", False
        self.screens_seen = 0
        self.deadline = time.monotonic() + timeout

    def read_some(self, wait):
        if self.ended or not select.select([self.fd], [], [], max(0.0, wait))[0]:
            return
        try:
            chunk = os.read(self.fd, 65536)
        except OSError:  # a terminal whose other side is gone
            chunk = b""
        self.out += chunk
        self.ended = not chunk

    def wait_for(self, predicate, what):
        while not predicate(self.out):
            left = self.deadline - time.monotonic()
            if left <= 0 or self.ended:
                raise AssertionError("%s waiting for %s; output ends with %r%s"
                                     % ("ended" if self.ended else "timed out", what, self.out[-400:],
                                        self.how_it_ended() if self.ended else ""))
            self.read_some(min(left, 0.5))

    def wait_for_end(self, text, what):
        self.wait_for(lambda out: out.endswith(text), what)

    def how_it_ended(self):
        """Words on how the program behind the output ended, for a failure message."""
        return ""

    def quiet_for(self, seconds):
        """True when nothing more is printed for the given time."""
        before, end = len(self.out), time.monotonic() + seconds
        while time.monotonic() < end and not self.ended:
            self.read_some(end - time.monotonic())
        return len(self.out) == before

    def next_screen(self):
        """Waits for the next complete question screen; returns its record number
        (0 when its question text names none)."""
        self.wait_for(lambda out: len(SCREEN_RE.findall(out)) > self.screens_seen, "a question screen")
        self.screens_seen += 1
        return record_shown(list(SCREEN_RE.finditer(self.out))[self.screens_seen - 1])


class Player(Console):
    """Plays one game over pipes, reading each screen before answering it."""

    def __init__(self, folder, timeout=RUN_TIMEOUT, **popen):
        popen.setdefault("stderr", subprocess.PIPE)
        self.start = lambda: subprocess.Popen(game_command(), cwd=folder, stdin=subprocess.PIPE,
                                              stdout=subprocess.PIPE, **popen)
        self.proc, self.sent, self.started_again, self.timeout = self.start(), False, False, timeout
        super().__init__(self.proc.stdout.fileno(), timeout)

    def wait_for(self, predicate, what):
        try:
            super().wait_for(predicate, what)
        except AssertionError as failure:
            # Wine, rarely and under load, ends a program before it prints a byte
            # (seen once in many Windows runs); such a game is started once more,
            # saying so. A game that fails at its start fails twice.
            if not RUNNER or self.out or self.sent or self.started_again or not self.ended:
                raise
            print("gamekit: the runner ended the game before it printed anything (%s); starting it again"
                  % failure, file=sys.stderr)
            self.kill()
            self.proc, self.started_again = self.start(), True
            Console.__init__(self, self.proc.stdout.fileno(), self.timeout)
            super().wait_for(predicate, what)

    def how_it_ended(self):
        try:
            status = self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            return "; the game still runs"
        err = self.proc.stderr.read() if self.proc.stderr and not self.proc.stderr.closed else b""
        return "; exit status %r, stderr %r" % (status, err[-400:])

    def send(self, data):
        self.sent = True
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def finish(self):
        """Ends the input, reads the rest of the output; returns (returncode, stdout, stderr)."""
        self.proc.stdin.close()
        self.wait_for(lambda out: self.ended, "the end of the game")
        err = self.proc.stderr.read() if self.proc.stderr else None
        return self.proc.wait(timeout=RUN_TIMEOUT), self.out, err

    def kill(self):
        """Ends the game if it still runs and releases its pipes."""
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        for pipe in filter(None, (self.proc.stdin, self.proc.stdout, self.proc.stderr)):
            try:
                pipe.close()
            except OSError:
                pass


def play(folder, name, intellect_answer, character_answer):
    """Plays a whole game over pipes. intellect_answer(record) and
    character_answer(index, record) give each answer line (without its line feed).
    Returns (returncode, stdout, stderr, intellect records, character records)."""
    player = Player(folder)
    try:
        player.wait_for_end(PROMPT, "the name prompt")
        player.send(name + b"\n")
        player.wait_for_end(INTRO1, "the test-1 introduction")
        player.send(b"\n")
        asked_intellect, asked_character = [], []
        for _ in range(25):
            asked_intellect.append(player.next_screen())
            player.send(intellect_answer(asked_intellect[-1]) + b"\n")
        for i in range(10):
            asked_character.append(player.next_screen())
            player.send(character_answer(i, asked_character[-1]) + b"\n")
        rc, out, err = player.finish()
    finally:
        player.kill()
    return rc, out, err, asked_intellect, asked_character


def answer_first_after(folder, name, change, **popen):
    """Starts a game as name over pipes, calls change() once the first question is
    shown, then answers it with 1. Returns (returncode, stdout, stderr, the record
    shown first)."""
    player = Player(folder, **popen)
    try:
        player.wait_for_end(PROMPT, "the name prompt")
        player.send(name + b"\n\n")
        first = player.next_screen()
        change()
        player.send(b"1\n")
        rc, out, err = player.finish()
    finally:
        player.kill()
    return rc, out, err, first


class GameTest(unittest.TestCase):
    """Base class: a fresh working folder per test and byte-exact comparisons."""

    def setUp(self):
        if not BINARY or not os.access(BINARY, os.X_OK):
            self.fail("PZ_BINARY must name the built game binary (got %r)" % BINARY)
        self.dir = Workdir()
        self.addCleanup(self.dir.cleanup)
        self.db = Database.standard()

    def setup_files(self, db=None, score=b"", **db_options):
        if db is not None:
            self.db = db
        self.db.write(self.dir.path, **db_options)
        if score is not None:
            self.dir.write(SCORE, score)

    def assertBytes(self, actual, expected, what="output"):
        if actual == expected:
            return
        at = next((i for i, (a, b) in enumerate(zip(actual, expected)) if a != b), min(len(actual), len(expected)))
        lo = max(0, at - 120)
        self.fail("%s differs at byte %d (lengths %d actual, %d expected)\n actual:   %r\n expected: %r"
                  % (what, at, len(actual), len(expected), actual[lo:at + 120], expected[lo:at + 120]))

    def assertGameOutput(self, out, expected_rest):
        """The first line is free text naming 2004; everything after it is exact."""
        first, sep, rest = out.partition(b"\n")
        self.assertTrue(sep and b"2004" in first, "banner's first line: %r" % first)
        self.assertBytes(rest, expected_rest)

    def assertAskedAll(self, intellect, character, intellect_range=range(26, 51)):
        """25 different intellect records from the range, 10 different character records 1-25."""
        self.assertEqual(len(intellect), 25)
        self.assertEqual(len(set(intellect)), 25, "an intellect record was asked twice: %s" % intellect)
        self.assertTrue(set(intellect) <= set(intellect_range), intellect)
        self.assertEqual(len(character), 10)
        self.assertEqual(len(set(character)), 10, "a character record was asked twice: %s" % character)
        self.assertTrue(set(character) <= set(range(1, 26)), character)

    def check_game(self, stdin, name, right, intellect, character, before=(0, 0, 0, UNKNOWN, UNKNOWN),
                   after_name=b"", intellect_range=range(26, 51)):
        """Plays a piped game against self.db and checks all of its output; returns the
        CompletedProcess and the records asked. before: the summary's attempts, right
        and wrong totals, intellect and character labels."""
        result = run(self.dir.path, stdin)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        asked_i, asked_c = shown_records(result.stdout)
        self.assertAskedAll(asked_i, asked_c, intellect_range)
        self.assertGameOutput(result.stdout, expected_game(self.db, name, before, asked_i, asked_c, right,
                                                           intellect, character, after_name))
        return result, asked_i, asked_c
