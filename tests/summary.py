#!/usr/bin/env python3
"""The closing lines of `make test`: for each ctest run (its JUnit file), what passed,
what failed and what was skipped with the reason the test printed; then the fuzz
targets run. Exit status 1 when any test failed or a JUnit file is missing.
    tests/summary.py LABEL=JUNIT.xml ... [--fuzz LOGDIR]
"""
import glob
import os
import re
import sys
import xml.etree.ElementTree as ET

GTEST_NOISE = re.compile(r"^(Running main\(\)|Note: Google Test filter|\[[ =-]|$)")


def skip_reason(case):
    """The line a skipped test gave as its reason: the one after gtest's "Skipped"
    marker, else the last line a script printed."""
    out = (case.findtext("system-out") or "").splitlines()
    for i, line in enumerate(out):
        if line.endswith(": Skipped") and i + 1 < len(out):
            return out[i + 1].strip()
    lines = [l.strip() for l in out if not GTEST_NOISE.match(l)]
    return lines[-1] if lines else "(no reason printed)"


def main(argv):
    status = 0
    total = {"passed": 0, "failed": 0, "skipped": 0}
    fuzz_dir = None
    runs = []
    args = iter(argv)
    for a in args:
        if a == "--fuzz":
            fuzz_dir = next(args, None)
        else:
            runs.append(a.split("=", 1) if "=" in a else (a, a))
    print("==== test summary ====")
    for label, path in runs:
        if not os.path.exists(path):
            print(f"{label}: no results ({path} is missing)")
            status = 1
            continue
        passed, failed, skipped = 0, [], []
        for case in ET.parse(path).getroot().iter("testcase"):
            st = case.get("status")
            if case.find("failure") is not None or st == "fail":
                failed.append(case.get("name"))
            elif case.find("skipped") is not None or st in ("notrun", "disabled"):
                skipped.append((case.get("name"), skip_reason(case)))
            else:
                passed += 1
        print(f"{label}: {passed} passed, {len(failed)} failed, {len(skipped)} skipped")
        for name, why in skipped:
            print(f"  skipped {name}: {why}")
        for name in failed:
            print(f"  FAILED {name}")
        total["passed"] += passed
        total["failed"] += len(failed)
        total["skipped"] += len(skipped)
        status |= bool(failed)
    if fuzz_dir:
        logs = sorted(glob.glob(os.path.join(fuzz_dir, "*.log")))
        runs_done = []
        for log in logs:
            done = [l for l in open(log, errors="replace") if re.match(r"^#\d+\s+DONE", l)]
            name = os.path.basename(log)[:-4]
            runs_done.append(f"{name} ({done[-1].split()[0][1:]} runs)" if done else f"{name} (no final line)")
        print(f"fuzz: {len(logs)} targets: " + ", ".join(runs_done) if logs else "fuzz: no targets run")
    print(f"{total['passed']} passed, {total['failed']} failed, {total['skipped']} skipped")
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
