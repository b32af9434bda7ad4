#!/usr/bin/env python3
"""Speed of the whole game on big files, measured against plain passes over the
same files (the floors) in one interleaved run, printed as ratios beside their
goals. Run by hand (scripts/bench.sh); never by the tests: timings flake on shared machines.
"""

import argparse
import ctypes
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

DB, SCORE = "pz2004.db", "score.dat"
BIG_DB_RECORDS, SMALL_DB_RECORDS = 50_000, 50
BIG_SCORE_PLAYERS = 1_000_000
INTELLECT_ANSWERS, CHARACTER_ANSWERS = 25, 10
GOAL_GAME, GOAL_SAVE, GOAL_MEMORY_MIB, GOAL_TABLE = 20.0, 1.5, 1.0, 0.25
# What a teacher would script instead of the results table.
TABLE_SCRIPT = "awk '{print $3/$2, $2, $1}' score.dat | sort -rn | head -30"


def cp(text):
    return text.encode("cp1251")


NEW_PLAYER = cp("Новичок")
RETURNING = cp("игрок%07d" % BIG_SCORE_PLAYERS)  # stored last in the big score file

# ------------------------------------------------------------------ the files

QUESTIONS = [
    "Что останется от бутерброда, если уронить его маслом вниз на новый ковёр?",
    "Сколько программистов нужно, чтобы поменять лампочку в серверной?",
    "Куда девается второй носок после стирки, если машина стоит в ванной?",
]
ANSWERS = [
    ["Пятно на ковре и долгая легенда", "Бутерброд без масла, но с ворсом", "Кот, который всё видел и молчит",
     "Ничего: кот успеет первым, как всегда"],
    ["Ни одного, это задача железа", "Двое: один меняет, другой смотрит", "Целый отдел и три совещания",
     "Лампочку не трогать, работает же"],
    ["В параллельный мир носков", "Под диван, к потерянным ключам", "Его съедает сама машина",
     "Он уходит искать лучшую жизнь"],
]
CHARACTER_KEYS = [b"1 2 3 4", b"3 1 4 2", b"4 3 2 1", b"2 4 1 3"]


def question_record(n):
    """Six lines of record n, about 210 bytes: records 1..25 character, the rest intellect."""
    kind = n % len(QUESTIONS)
    key = CHARACTER_KEYS[n % 4] if n <= 25 else b"%d" % (n % 4 + 1)
    lines = [cp("Вопрос %d. %s" % (n, QUESTIONS[kind]))] + [cp(a) for a in ANSWERS[kind]] + [key]
    return b"\n".join(lines) + b"\n"


def score_record(n):
    """Player n as the game stores it: name attempts right wrong character intellect."""
    attempts = n % 9 + 1
    right = attempts * 25 * (n % 5 + 1) // 6
    labels = ["еврей", "нормальный", "извращенец", "экстримал"], ["гений", "образованный", "раздолбай"]
    return b" ".join([cp("игрок%07d" % n), b"%d" % attempts, b"%d" % right, b"%d" % (attempts * 25 - right),
                      cp(labels[0][n % 4]), cp(labels[1][n % 3])])


def write_synced(path, chunks):
    """Writes the byte chunks and forces them to disk, so that no write-back of
    ours falls into a timed run."""
    with open(path, "wb") as f:
        for chunk in chunks:
            f.write(chunk)
        f.flush()
        os.fsync(f.fileno())


def write_database(path, records):
    step = 10_000
    write_synced(path, (b"".join(question_record(n) for n in range(first, min(first + step, records + 1)))
                        for first in range(1, records + 1, step)))


def write_score(path, first, last):
    """Players first..last, one record each, separated by line feeds, none after the last."""
    step = 50_000
    write_synced(path, ((b"\n" if start > first else b"") +
                        b"\n".join(score_record(n) for n in range(start, min(start + step, last + 1)))
                        for start in range(first, last + 1, step)))


def make_files(root):
    """The databases and score files every case starts from, under root/files."""
    files = os.path.join(root, "files")
    os.mkdir(files)
    paths = {name: os.path.join(files, name) for name in ("db-big", "db-small", "score-big", "score-one")}
    write_database(paths["db-big"], BIG_DB_RECORDS)
    write_database(paths["db-small"], SMALL_DB_RECORDS)
    write_score(paths["score-big"], 1, BIG_SCORE_PLAYERS)
    write_score(paths["score-one"], BIG_SCORE_PLAYERS, BIG_SCORE_PLAYERS)
    return paths


# ------------------------------------------------------------------ the runs

def answers(player):
    """Piped input of a whole game: the name, Enter at the first introduction, answer 1 throughout."""
    return player + b"\n\n" + b"1\n" * (INTELLECT_ANSWERS + CHARACTER_ANSWERS)


def make_case(root, name, db, score, player):
    """A play folder holding the database (linked, so every case reads one cached copy)."""
    folder = os.path.join(root, name)
    os.mkdir(folder)
    try:
        os.link(db, os.path.join(folder, DB))
    except OSError:
        shutil.copyfile(db, os.path.join(folder, DB))
    return {"name": name, "folder": folder, "score": score, "player": player}


def fresh_score(case):
    """The game rewrites or extends score.dat, so each run starts from a synced copy."""
    with open(case["score"], "rb") as source:
        write_synced(os.path.join(case["folder"], SCORE), iter(lambda: source.read(1 << 20), b""))


def check_saved(case, returncode, stderr):
    """Stops the run when a game failed or did not store the player where expected."""
    path = os.path.join(case["folder"], SCORE)
    with open(path, "rb") as f:
        if case["player"] == RETURNING:
            saved = f.readline()
            expected = int(score_record(BIG_SCORE_PLAYERS).split()[1]) + 1
        else:
            f.seek(max(0, os.path.getsize(path) - 200))
            saved, expected = f.read().rsplit(b"\n", 1)[-1], 1
    if returncode != 0 or stderr or not saved.startswith(case["player"] + b" %d " % expected):
        sys.exit("speed.py: the game in %s went wrong (exit %s, stderr %r, saved %r)"
                 % (case["folder"], returncode, stderr[:200], saved[:80]))


def become_subreaper():
    """Orphans of our children become ours to wait for (Linux prctl PR_SET_CHILD_SUBREAPER)."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(36, 1, 0, 0, 0) != 0:
        sys.exit("speed.py: prctl(PR_SET_CHILD_SUBREAPER) failed: %s" % os.strerror(ctypes.get_errno()))


def start_game(binary, folder, stderr):
    """Starts the game as a grandchild through sh; returns its pid and its input pipe.
    A direct child would report this interpreter's peak RSS as its own, as the peak
    is carried through fork and exec; sh is small, and waits for nothing once it exits."""
    launcher = subprocess.Popen(["sh", "-c", 'exec 3<&0; "$0" <&3 3<&- >/dev/null & echo $!', binary],
                                cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=stderr)
    pid = int(launcher.stdout.readline())
    launcher.stdout.close()
    launcher.wait()  # gone before the game can end, so the game is ours to reap
    return pid, launcher.stdin


def run_game(binary, case):
    """One whole game, timed from its launch to its end; returns (seconds, peak RSS in KiB).
    The game draws its questions by the clock, so one game on the big database takes
    more or less as its draws fall early or late in the file; medians even that out."""
    fresh_score(case)
    with tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        pid, stdin = start_game(binary, case["folder"], err)
        stdin.write(answers(case["player"]))
        stdin.close()
        _, status, usage = os.wait4(pid, 0)
        seconds = time.perf_counter() - start
        err.seek(0)
        check_saved(case, os.waitstatus_to_exitcode(status), err.read())
    return seconds, usage.ru_maxrss


def run_table(binary, folder):
    """The results table of the folder's score file; returns (seconds, peak RSS in KiB).
    The table needs no input and could end before sh has said its pid, and sh would
    then reap it; so the grandchild waits for a line before it becomes the game."""
    with tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        launcher = subprocess.Popen(["sh", "-c", 'exec 3<&0; (read -r _ <&3; exec "$0" --scores 3<&- >/dev/null) & echo $!',
                                     binary],
                                    cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=err)
        pid = int(launcher.stdout.readline())
        launcher.stdout.close()
        launcher.wait()
        launcher.stdin.write(b"\n")
        launcher.stdin.close()
        _, status, usage = os.wait4(pid, 0)
        seconds = time.perf_counter() - start
        err.seek(0)
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit("speed.py: the table in %s went wrong: %r" % (folder, err.read()[:200]))
    return seconds, usage.ru_maxrss


def make_table_folders(root, paths):
    """Folders holding the big and the one-player score file for the table, which
    only reads them (so they are linked, not copied)."""
    folders = {}
    for name, score in (("table-big", "score-big"), ("table-small", "score-one")):
        folders[name] = os.path.join(root, name)
        os.mkdir(folders[name])
        try:
            os.link(paths[score], os.path.join(folders[name], SCORE))
        except OSError:
            shutil.copyfile(paths[score], os.path.join(folders[name], SCORE))
    return folders


def run_command(argv):
    start = time.perf_counter()
    subprocess.run(argv, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def score_floor(paths, copy):
    """Counting the big score file's lines, then copying it to a new file forced to disk."""
    if os.path.exists(copy):
        os.remove(copy)
    count = run_command(["wc", "-l", paths["score-big"]])
    return count + run_command(["dd", "if=" + paths["score-big"], "of=" + copy, "bs=1M", "conv=fsync",
                                "status=none"])


def make_cases(root, paths):
    """The new player's game on both databases, the returning player's on both score
    files, and one game with both big files for the memory figure."""
    cases = [("new-small", "db-small", "score-one", NEW_PLAYER), ("new-big", "db-big", "score-one", NEW_PLAYER),
             ("back-small", "db-small", "score-one", RETURNING), ("back-big", "db-small", "score-big", RETURNING),
             ("both-big", "db-big", "score-big", RETURNING)]
    return [make_case(root, name, paths[db], paths[score], player) for name, db, score, player in cases]


def run_round(binary, paths, cases, copy, tables):
    """Every case once, the floors among them; returns {case: (seconds, peak RSS KiB)}."""
    results = {"wc-db": (run_command(["wc", "-l", paths["db-big"]]), 0), "true": (run_command(["true"]), 0)}
    for name, folder in tables.items():
        results[name] = run_table(binary, folder)
    start = time.perf_counter()
    subprocess.run(["sh", "-c", TABLE_SCRIPT], cwd=tables["table-big"], stdout=subprocess.DEVNULL, check=True)
    results["table-script"] = (time.perf_counter() - start, 0)
    for case in cases:
        if case["name"] == "back-small":
            results["floor-score"] = (score_floor(paths, copy), 0)
        results[case["name"]] = run_game(binary, case)
    return results


def medians(rounds):
    """Median seconds and median peak RSS of each case over the rounds."""
    return {name: (statistics.median(r[name][0] for r in rounds), statistics.median(r[name][1] for r in rounds))
            for name in rounds[0]}


# ------------------------------------------------------------------ the report

def machine():
    with open("/proc/cpuinfo") as f:
        models = [line.split(":", 1)[1].strip() for line in f if line.startswith("model name")]
    return "%d cpus (nproc), %s, kernel %s" % (len(os.sched_getaffinity(0)), models[0] if models else "cpu unknown",
                                               platform.release())


def filesystem(path):
    """Mount point and type of the filesystem holding path: fsync costs depend on it."""
    path, best = os.path.realpath(path), ("?", "?")
    with open("/proc/self/mounts") as f:
        for line in f:
            point, kind = line.split()[1:3]
            if os.path.commonpath([path, point]) == point and len(point) >= len(best[0]):
                best = (point, kind)
    return "%s (%s)" % best


def report(m, rounds, paths, root, loads):
    ms = {name: seconds * 1000 for name, (seconds, _) in m.items()}
    game = (ms["new-big"] - ms["new-small"]) / ms["wc-db"]
    save = (ms["back-big"] - ms["back-small"]) / ms["floor-score"]
    memory = (m["both-big"][1] - m["back-small"][1]) / 1024
    table = ms["table-big"] / ms["table-script"]
    table_memory = (m["table-big"][1] - m["table-small"][1]) / 1024
    size = {name: os.path.getsize(path) / 1e6 for name, path in paths.items()}
    print("Game speed: medians of %d interleaved rounds after a warm-up round" % rounds)
    print("files: database %d records, %.1f MB; score file %d players, %.1f MB; on %s"
          % (BIG_DB_RECORDS, size["db-big"], BIG_SCORE_PLAYERS, size["score-big"], filesystem(root)))
    print("%-34s %8s %8s   %s" % ("figure", "measured", "goal", "medians"))
    print("%-34s %8.1f %8s   game big %.1f ms - small %.1f ms, over wc -l %.2f ms" % (
        "1 game, 50,000 questions / wc -l", game, "<= %g" % GOAL_GAME, ms["new-big"], ms["new-small"], ms["wc-db"]))
    print("%-34s %8.2f %8s   game big %.1f ms - small %.1f ms, over wc -l + copy + fsync %.1f ms"
          % ("2 save, 1,000,000 players / floor", save, "<= %g" % GOAL_SAVE, ms["back-big"], ms["back-small"],
             ms["floor-score"]))
    print("%-34s %8.2f %8s   peak RSS both big %d KiB - small %d KiB"
          % ("3 memory growth, MiB", memory, "<= %g" % GOAL_MEMORY_MIB, m["both-big"][1], m["back-small"][1]))
    print("%-34s %8.2f %8s   --scores big %.1f ms, over awk | sort -rn | head -30 %.1f ms"
          % ("4 table, 1,000,000 players / awk", table, "<= %g" % GOAL_TABLE, ms["table-big"], ms["table-script"]))
    print("%-34s %8.2f %8s   peak RSS --scores big %d KiB - one player %d KiB"
          % ("5 table memory growth, MiB", table_memory, "<= %g" % GOAL_MEMORY_MIB, m["table-big"][1],
             m["table-small"][1]))
    print("process start alone (true): %.2f ms; every timed command includes at least one" % ms["true"])
    print("machine: %s; load average %s at start, %s at end" % (machine(), *loads))


def load():
    return "%.2f %.2f %.2f" % os.getloadavg()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("binary", help="the game binary to time (a Release build)")
    parser.add_argument("--rounds", type=int, default=7, help="interleaved rounds after the warm-up (default 7)")
    parser.add_argument("--dir", help="where to make the big files (default: a fresh folder in the temp folder)")
    parser.add_argument("--keep", action="store_true", help="keep the files afterwards")
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    if not os.access(binary, os.X_OK) or args.rounds < 1:
        parser.error("needs an executable game binary and at least one round")
    become_subreaper()
    root = tempfile.mkdtemp(prefix="pz-speed-", dir=args.dir)
    try:
        loads = [load()]
        print("making the files in %s ..." % root, file=sys.stderr)
        paths = make_files(root)
        cases = make_cases(root, paths)
        copy = os.path.join(root, "floor-copy")
        tables = make_table_folders(root, paths)
        run_round(binary, paths, cases, copy, tables)  # warm-up: file cache, binary, page tables
        rounds = []
        for n in range(args.rounds):
            print("round %d of %d ..." % (n + 1, args.rounds), file=sys.stderr)
            rounds.append(run_round(binary, paths, cases, copy, tables))
        loads.append(load())
        report(medians(rounds), args.rounds, paths, root, loads)
    finally:
        if not args.keep:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
