#!/usr/bin/env python3
"""Soak test: random kqc scripts over every command, run by the release and the
sanitizer builds. Fails on a sanitizer report, a crash, a hang, or any difference
between the two runs (status, standard output and error, files written).

    tests/soak/soak.py [--count N] [--seed S] [--jobs J] [--keep DIR]
"""
import argparse
import concurrent.futures as cf
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RELEASE = os.path.join(ROOT, "build", "kqc")
SANITIZED = os.path.join(ROOT, "build-san", "kqc")
TIMEOUT = 20

COMMANDS = """adjustcol antiflicker atop blist blzoom blur bumpy bzoom clear copy create
d1tontsc darkness diff dispose dissolve dotfile field filter3 glow gauss hdtontsc help in
info mono move ntsctod1
nega opaque out over paint pile plane plus random read readyuv reverse sblur scatter shrink
spread shift tomo write writedump writeyuv xor chex""".split()
NAMES = ["a", "b", "c", "d"]
NUMBERS = ["0", "1", "-1", "2", "3", "7", "0.5", "-0.5", "1.5", "255", "256", "65536",
           "2147483647", "-2147483648", "4294967296", "1e30", "-1e30", "nan", "inf", "-inf",
           "1e-30", "x", "", "0x10", "12abc"]
OPTIONS = ["-rgba", "-rgb", "-r", "-g", "-b", "-a", "-z", "-s", "-l", "-c", "-x", "-d", "-w",
           "-m", "-p", "-o", "-t", "-n", "-k", "-e", "-y", "-f", "-h", "?", "-c0", "-c1"]
FILES = ["p", "p.tkq", "q.tkq", "v.yuv", "d.raw", "dots.txt", "missing.tkq"]


def number(rng):
    if rng.random() < 0.6:
        return str(rng.choice([0, 1, 2, 3, 4, 5, 8, 10, 16, 31, -3, -7]))
    return rng.choice(NUMBERS) or "0"


# Origins at both ends of the 32-bit range: a window ending exactly at 2^31 - 1
# ("end"), starting at -2^31, or running past 2^31 - 1 (it reads as empty).
X_ORIGINS = [0, 0, -3, 5, -100, 2147483000, -2147483648, 2147483640, "end"]
Y_ORIGINS = [0, 0, 7, -2, 99, -2147483648, 2147483645, "end"]
VIDEO_SIZES = [(720, 486), (640, 480), (1920, 1035), (640, 360)]


def origin(rng, choices, size):
    o = rng.choice(choices)
    return 2147483647 - size + 1 if o == "end" else o


def buffer_line(rng):
    w, h = rng.choice([0, 1, 2, 3, 5, 8, 16, 33, 64]), rng.choice([0, 1, 2, 3, 7, 16, 40])
    if rng.random() < 0.03:
        w, h = rng.choice(VIDEO_SIZES)
    x, y = origin(rng, X_ORIGINS, w), origin(rng, Y_ORIGINS, h)
    return "create %s -s %d %d %d %d -c %d" % (rng.choice(NAMES), x, y, w, h,
                                               rng.choice([1, 3, 4, 4]))


def command_line(rng):
    cmd = rng.choice(COMMANDS)
    if cmd == "create":
        return buffer_line(rng)
    if cmd in ("write", "writeyuv", "writedump"):
        return "%s %s %s" % (cmd, rng.choice(NAMES), rng.choice(FILES))
    if cmd in ("read", "readyuv", "dotfile"):
        words = [cmd, rng.choice(FILES), rng.choice(NAMES)]
        if cmd == "readyuv" and rng.random() < 0.5:
            words[1:1] = ["-s", number(rng), number(rng)]
        return " ".join(words)
    words = [cmd]
    if cmd == "bzoom" and rng.random() < 0.5:  # windows anywhere in the range
        for option in rng.sample(["-s", "-w", "-S", "-W"], rng.randint(1, 2)):
            words.append(option)
            words.extend(str(rng.choice([0, 1, 5, -7, 2147483647, -2147483648, 2147483000]))
                         for _ in range(4))
        words.extend(rng.choice(NAMES) for _ in range(2))
        return " ".join(words)
    if rng.random() < 0.5:  # mostly well formed: one option, then the buffers
        if rng.random() < 0.5:
            words.append(rng.choice(OPTIONS[:7] + ["-z", "-s", "-l", "-x"]))
            words.extend(number(rng) for _ in range(0 if words[-1].startswith("-r") else 2))
        words.extend(rng.choice(NAMES) for _ in range(rng.randint(1, 3)))
        return " ".join(words)
    for _ in range(rng.randint(0, 6)):
        r = rng.random()
        if r < 0.35:
            words.append(rng.choice(OPTIONS))
            words.extend(number(rng) for _ in range(rng.randint(0, 4)))
        elif r < 0.7:
            words.append(rng.choice(NAMES))
        else:
            words.append(number(rng))
    words.extend(rng.choice(NAMES) for _ in range(rng.randint(1, 3)))
    return " ".join(words)


def make_script(rng):
    lines = [buffer_line(rng) for _ in range(rng.randint(1, 3))]
    lines += ["clear %s -rgba %s %s %s %s" % (rng.choice(NAMES), number(rng), number(rng),
                                                number(rng), number(rng))]
    for _ in range(rng.randint(3, 12)):
        lines.append(command_line(rng))
        if rng.random() < 0.15:
            lines.append(buffer_line(rng))
    return "\n".join(lines) + "\n"


DOTS = "1 1\n2 2 c 1 0 0 1\n-5 3\n2147483647 -2147483648 c nan inf -1 0.5\n1e30 2\n"

SANITIZER = re.compile(r"ERROR: AddressSanitizer|runtime error:|LeakSanitizer|"
                       r"UndefinedBehaviorSanitizer")
ALLOC_NOTE = re.compile(r"^==\d+==WARNING: AddressSanitizer failed to allocate.*\n", re.M)


def run(program, folder, env):
    try:
        p = subprocess.run([program, "-s", "t.kqc"], cwd=folder, env=env, timeout=TIMEOUT,
                           stdin=subprocess.DEVNULL, capture_output=True)
    except subprocess.TimeoutExpired:
        return None
    files = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            files[name] = f.read()
    return p.returncode, p.stdout, p.stderr.decode("latin1"), files


def one(index, seed, keep):
    rng = random.Random(seed * 1000003 + index)
    script = make_script(rng)
    results = []
    env = dict(os.environ, ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=0",
               UBSAN_OPTIONS="print_stacktrace=1")
    with tempfile.TemporaryDirectory(prefix="kqsoak") as top:
        for program in (RELEASE, SANITIZED):
            folder = os.path.join(top, os.path.basename(os.path.dirname(program)))
            os.mkdir(folder)
            with open(os.path.join(folder, "t.kqc"), "w") as f:
                f.write(script)
            with open(os.path.join(folder, "dots.txt"), "w") as f:
                f.write(DOTS)
            results.append(run(program, folder, env))
    problem = None
    rel, san = results
    if rel is None or san is None:
        problem = "hang"
    elif rel[0] < 0 or san[0] < 0 or rel[0] not in (0, 1):
        problem = "crash (status %s / %s)" % (rel[0], san[0])
    elif SANITIZER.search(san[2]):
        problem = "sanitizer report"
    else:
        rel_err, san_err = rel[2], ALLOC_NOTE.sub("", san[2])
        if (rel[0], rel[1], rel_err) != (san[0], san[1], san_err):
            problem = "output differs"
        elif rel[3] != san[3]:
            problem = "files differ"
    if problem and keep:
        os.makedirs(keep, exist_ok=True)
        with open(os.path.join(keep, "soak-%d.kqc" % index), "w") as f:
            f.write(script)
    return index, problem, script, (results[1][2][-2000:] if results[1] else "")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--count", type=int, default=20000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--keep", default=os.path.join(ROOT, "build", "soak-failures"))
    args = ap.parse_args()
    for p in (RELEASE, SANITIZED):
        if not os.access(p, os.X_OK):
            sys.exit("soak: %s is not built" % p)
    failures = 0
    done = 0
    with cf.ThreadPoolExecutor(args.jobs) as pool:
        for index, problem, script, err in pool.map(
                lambda i: one(i, args.seed, args.keep), range(args.count)):
            done += 1
            if problem:
                failures += 1
                print("soak #%d: %s\n%s---\n%s" % (index, problem, script, err), flush=True)
            if done % 500 == 0:
                print("soak: %d scripts, %d failures" % (done, failures), flush=True)
    print("soak: %d scripts, %d failures" % (done, failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
