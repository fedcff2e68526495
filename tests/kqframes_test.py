#!/usr/bin/env python3
"""kqframes run locally: every engine and option gives the bytes of plain kqc
runs frame by frame; failures, resume, progress and the Slurm script.

    python3 tests/kqframes_test.py BUILD_DIR
Cases that need GNU parallel say so and are skipped without it."""

import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile

BUILD = os.path.abspath(sys.argv[1])
KQC = os.path.join(BUILD, "kqc")
KQFRAMES = os.path.join(BUILD, "kqframes")
HAVE_PARALLEL = shutil.which("parallel") is not None
HAVE_RSYNC = shutil.which("rsync") is not None
FIRST, LAST = 8, 20
FRAMES = ["%05d" % n for n in range(FIRST, LAST + 1)]
failures = []

# Inputs: a picture and a YUV frame per frame; outputs: a picture and a dump.
TEMPLATE = """\
read @IN@ src
readyuv -s 64 48 @IN2@ yuv
read title.tkq title
create soft -d src
blur -z 2 2 src soft
create out -d src
over title soft out
write out @OUT@
writedump -rgb yuv @OUT2@
"""
PATTERNS = ["--in", "pic/%05d.tkq", "--in", "yuv/f%d.yuv",
            "--out", "out/%05d.tkq", "--out", "dump/%05d.raw", "--asset", "title.tkq", "-w", "5"]


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what)


def kqc(script, cwd):
    subprocess.run([KQC, "-e", "-s"], input=script.encode(), cwd=cwd, check=True)


def frame_paths(f):
    n = int(f)
    return {"@IN@": "pic/%05d.tkq" % n, "@IN2@": "yuv/f%d.yuv" % n,
            "@OUT@": "out/%05d.tkq" % n, "@OUT2@": "dump/%05d.raw" % n}


def instantiate(template, f):
    text = template.replace("@FRAME@", f)
    for key, value in sorted(frame_paths(f).items(), key=lambda kv: -len(kv[0])):
        text = text.replace(key, value)
    return text


def make_job(root):
    for sub in ("pic", "yuv", "ref/out", "ref/dump"):
        os.makedirs(os.path.join(root, sub))
    lines = []
    for f in FRAMES:
        n = int(f)
        lines.append("create f -s 0 0 64 48\nchex f -s %d %d -c0 1 0.%d 0 1 -c1 0 0 1 0.5\n"
                     "write f pic/%s\n" % (n % 7 + 2, n % 5 + 2, n, f))
        with open(os.path.join(root, "yuv/f%d.yuv" % n), "wb") as out:
            out.write(bytes((i * n + 16) % 256 for i in range(64 * 48 * 2)))
    lines.append("create t -s 0 0 64 48\nchex t -s 3 5 -c0 1 1 1 0.4 -c1 0 0 0 0\nwrite t title\n")
    kqc("".join(lines), root)
    with open(os.path.join(root, "frame.kqc"), "w") as t:
        t.write(TEMPLATE)
    # the reference: one plain kqc run per frame
    ref_template = TEMPLATE.replace("@OUT@", "ref/@OUT@").replace("@OUT2@", "ref/@OUT2@")
    for f in FRAMES:
        kqc(instantiate(ref_template, f), root)


def run(root, args, template="frame.kqc", tty=False, env=None):
    command = [KQFRAMES] + args + [template, str(FIRST), str(LAST)]
    if not tty:
        p = subprocess.run(command, cwd=root, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           env=env)
        return p.returncode, p.stdout.decode(), p.stderr.decode()
    # on a terminal: read everything the run writes to it
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(root)
        os.execv(command[0], command)
    text = b""
    while True:
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        text += chunk
    status = os.waitpid(pid, 0)[1]
    return os.waitstatus_to_exitcode(status), "", text.decode(errors="replace")


def outputs(f):
    paths = frame_paths(f)
    return [paths["@OUT@"], paths["@OUT2@"]]


def same_as_ref(root, what, failed=()):
    for f in FRAMES:
        for path in outputs(f):
            here = os.path.join(root, path)
            if f in failed:
                check(not os.path.exists(here), "%s: failed frame %s left %s" % (what, f, path))
                continue
            with open(os.path.join(root, "ref", path), "rb") as a:
                want = a.read()
            try:
                with open(here, "rb") as b:
                    got = b.read()
            except OSError:
                got = None
            check(got == want, "%s: %s differs from the plain run" % (what, path))


def clean(root):
    for sub in ("out", "dump", ".kqframes"):
        shutil.rmtree(os.path.join(root, sub), ignore_errors=True)


def main():
    root = tempfile.mkdtemp(prefix="kqframes_test.")
    try:
        make_job(root)
        engines(root)
        failing(root)
        resume(root)
        progress_and_logs(root)
        slurm_script(root)
        usage_errors(root)
    finally:
        shutil.rmtree(root)
    if failures:
        print("kqframes test: %d failures" % len(failures))
        return 1
    print("kqframes test: ok" + ("" if HAVE_PARALLEL else
                                 " (GNU parallel is not installed: its engines were skipped)"))
    return 0


def engines(root):
    table = [
        (["-j", "1"], False),
        (["-j", "1", "--batch", "5", "--threads", "2"], False),
        (["-j", "2"], True),
        (["-j", "3", "--batch", "1"], True),
        (["-S", ":", "-j", "2"], True),
    ]
    for args, needs_parallel in table:
        if needs_parallel and not HAVE_PARALLEL:
            print("skipped %s: GNU parallel is not installed" % " ".join(args))
            continue
        if "-S" in args and not HAVE_RSYNC:
            print("skipped %s: rsync is not installed" % " ".join(args))
            continue
        clean(root)
        status, out, err = run(root, args + PATTERNS)
        check(status == 0 and err == "", "%s: status %d, %r" % (args, status, err))
        same_as_ref(root, " ".join(args))
        # each kqc runs with one thread unless --threads says otherwise
        with open(os.path.join(root, ".kqframes/frame.kqc-8-20/driver.sh")) as f:
            want = "-j 2" if "--threads" in args else "-j 1"
            check("jopt='%s'" % want in f.read(), "%s: kqc not run with %s" % (args, want))


def failing(root):
    # frame 11's input is missing; frame 14 writes its outputs, then a shell
    # command fails: neither may keep an output
    with open(os.path.join(root, "failing.kqc"), "w") as t:
        t.write(TEMPLATE + "!test @FRAME@ != 00014\n")
    os.rename(os.path.join(root, "pic/00011.tkq"), os.path.join(root, "missing.tkq"))
    table = [(["-j", "1"], False), (["-j", "2"], True)]
    for args, needs_parallel in table:
        if needs_parallel and not HAVE_PARALLEL:
            continue
        for keep in (True, False):
            clean(root)
            what = " ".join(args) + (" -k" if keep else "")
            status, out, err = run(root, args + (["-k"] if keep else []) + PATTERNS,
                                   "failing.kqc")
            check(status == 1, "%s: status %d" % (what, status))
            check("frame 00011:" in err and "missing input: pic/00011.tkq" in err,
                  "%s: summary without the missing input: %r" % (what, err))
            check(re.search(r"\.kqframes/\S+/logs/", err) is not None,
                  "%s: summary does not say where the logs are" % what)
            if keep:
                check("frame 00014:" in err and "failing.kqc-8-20/frames/00014.kqc, lineNo. = 10"
                      in err, "%s: summary does not name frame 14's line: %r" % (what, err))
                same_as_ref(root, what, failed=("00011", "00014"))
            elif args == ["-j", "1"]:
                check("stopped after the first failure" in err, "%s: %r" % (what, err))
                for f in FRAMES:
                    check(os.path.exists(os.path.join(root, outputs(f)[0])) == (f < "00011"),
                          "%s: frame %s ran after the first failure or not before" % (what, f))
    os.rename(os.path.join(root, "missing.tkq"), os.path.join(root, "pic/00011.tkq"))


def mtimes(root):
    return {f: os.stat(os.path.join(root, outputs(f)[0])).st_mtime_ns
            for f in FRAMES if os.path.exists(os.path.join(root, outputs(f)[0]))}


def resume(root):
    clean(root)
    os.rename(os.path.join(root, "pic/00011.tkq"), os.path.join(root, "missing.tkq"))
    status, _, _ = run(root, ["-j", "1", "-k"] + PATTERNS)
    check(status == 1, "resume: the first run should fail")
    os.rename(os.path.join(root, "missing.tkq"), os.path.join(root, "pic/00011.tkq"))
    steps = [
        (None, {"00011"}),                       # only what is missing
        ("yuv/f9.yuv", {"00009"}),               # a newer input
        ("title.tkq", set(FRAMES)),              # a newer asset: everything
        ("frame.kqc", set(FRAMES)),              # a newer template: everything
        (None, set()),                           # nothing left to do
    ]
    for touched, want in steps:
        before = mtimes(root)
        if touched:
            t = max(before.values()) + 1
            os.utime(os.path.join(root, touched), ns=(t, t))
        status, _, err = run(root, ["-j", "1", "--resume"] + PATTERNS)
        after = mtimes(root)
        redone = {f for f in FRAMES if before.get(f) != after.get(f)}
        check(status == 0 and redone == want,
              "resume after %s: redid %s, not %s (%r)" % (touched, sorted(redone), sorted(want), err))
    same_as_ref(root, "resume")


def progress_and_logs(root):
    clean(root)
    status, _, text = run(root, ["-j", "1"] + PATTERNS, tty=True)
    check(status == 0 and re.search(r"\r.*13/13 frames .* frames/s .* 0 failed", text)
          and "13 frames done" in text, "progress on a terminal: %r" % text)
    with open(os.path.join(root, ".kqframes/frame.kqc-8-20/joblog")) as f:
        check(f.readline().startswith("Seq\tHost\tStarttime"), "the job log has no header")
    with open(os.path.join(root, ".kqframes/frame.kqc-8-20/logs/b0001.log")) as f:
        check(f.read().split() == [w for f_ in FRAMES for w in ("@@", f_, "ok")],
              "the batch log holds more than the frames' status lines")


def slurm_script(root):
    clean(root)
    with open(os.path.join(root, "failing.kqc"), "w") as t:
        t.write(TEMPLATE + "!test @FRAME@ != 00014\n")
    status, script, err = run(root, ["--slurm", "-j", "2", "--batch", "4", "-k",
                                     "--sbatch", "--partition=render"] + PATTERNS,
                              "failing.kqc")
    check(status == 0 and "#SBATCH --array=1-4%2\n" in script
          and "#SBATCH --partition=render\n" in script
          and "#SBATCH --output=%s/.kqframes/failing.kqc-8-20/logs/b%%4a.log\n"
          % os.path.realpath(root) in script.replace(root, os.path.realpath(root)),
          "the sbatch script: %r %r" % (script, err))
    # each array task runs one batch; batch 2 holds frames 12 to 15, with 14 failing
    for task, want in (("1", 0), ("2", 1), ("3", 0), ("4", 0)):
        env = dict(os.environ, SLURM_ARRAY_TASK_ID=task)
        p = subprocess.run(["sh", "-c", script], cwd=root, env=env, stdout=subprocess.PIPE)
        log = p.stdout.decode()
        check(p.returncode == want and log.count(" ok\n") == (4 if task != "4" else 1) - want,
              "Slurm task %s: status %d, log %r" % (task, p.returncode, log))
    same_as_ref(root, "Slurm tasks", failed=("00014",))


def usage_errors(root):
    table = [
        (["-j", "1", "--out", "o/%04d"], "frame.kqc", "20", "8", "FIRST is after LAST"),
        (["--out", "o/x.tkq"], "frame.kqc", "8", "20", "one frame number"),
        (["--out", "o/%04d.tkq"], "frame.kqc", "8", "20", "uses @IN@ but there are 0"),
        (["--resume"], "frame.kqc", "8", "20", "--resume needs --out"),
        (["-S", "node1"], "frame.kqc", "8", "20", "-S needs --out"),
        (["-S", "node1", "--out", "../o/%d"], "frame.kqc", "8", "20", "below the current folder"),
        (["--asset", "nosuch.tkq"], "frame.kqc", "8", "20", "nosuch.tkq is not a file"),
        (["--frobnicate"], "frame.kqc", "8", "20", "unknown option --frobnicate"),
        (["-j", "0"], "frame.kqc", "8", "20", "at least 1"),
        (["--threads", "0"], "frame.kqc", "8", "20", "at least 1"),
    ]
    for args, template, first, last, message in table:
        p = subprocess.run([KQFRAMES] + args + [template, first, last], cwd=root,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        err = p.stderr.decode()
        check(p.returncode == 2 and message in err, "usage %s: %d %r" % (args, p.returncode, err))


if __name__ == "__main__":
    sys.exit(main())
