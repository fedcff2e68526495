#!/usr/bin/env python3
"""CPU seconds beside wall seconds for a shared-bench run (../shared/bench/peers.sh).

    bench/peers_cpu.py RESULTS_DIR

For every operation: each row's median wall time and mean CPU time (user + system,
from hyperfine), the best peer's multi-threaded and single-threaded medians, kqc.mt's
and kqc.st's leads over them, and kqc's scaling from one thread (kqc.st, -j 1) to the
default (kqc.mt). On a shared machine the CPU seconds move much less than the wall
seconds. With --markdown, one table row per operation instead.
"""
import json
import pathlib
import sys


def main():
    args = [a for a in sys.argv[1:] if a != "--markdown"]
    markdown = len(args) < len(sys.argv) - 1
    res = pathlib.Path(args[0] if args else ".")
    rows = {}
    for f in sorted((res / "json").glob("*.json")):
        try:
            r = json.loads(f.read_text())["results"][0]
        except (ValueError, KeyError, IndexError):
            continue
        op, peer, mode = f.stem.split(".")[:3]
        rows.setdefault(op, {})[(peer, mode)] = (r["median"], r["user"] + r["system"])
    if markdown:
        print("| row | kqc.st wall / cpu | kqc.mt wall / cpu | 1 -> 2 threads | best peer mt | "
              "best peer st | kqc.mt vs best mt | kqc.st vs best st |")
        print("|---|---|---|---|---|---|---|---|")
    else:
        print(f"{'row':24} {'wall s':>8} {'cpu s':>8}")
    for op in sorted(rows):
        ours = {m: v for (p, m), v in rows[op].items() if p in ("kqc", "kqtowf")}
        best = {}
        for mode in ("mt", "st"):
            peers = [(v[0], p) for (p, m), v in rows[op].items()
                     if p not in ("kqc", "kqtowf", "cfloor") and m == mode]
            if peers:
                best[mode] = min(peers)
        if markdown:
            if "st" not in ours or "mt" not in ours or len(best) < 2:
                continue
            ms = lambda v: f"{v * 1000:.0f} ms"
            st, mt = ours["st"], ours["mt"]
            print(f"| {op} | {ms(st[0])} / {ms(st[1])} | {ms(mt[0])} / {ms(mt[1])} | "
                  f"{st[0] / mt[0]:.2f} x | {best['mt'][1]} {ms(best['mt'][0])} | "
                  f"{best['st'][1]} {ms(best['st'][0])} | {best['mt'][0] / mt[0]:.2f} x | "
                  f"{best['st'][0] / st[0]:.2f} x |")
            continue
        for (peer, mode), (wall, cpu) in sorted(rows[op].items()):
            print(f"{op + '.' + peer + '.' + mode:24} {wall:8.3f} {cpu:8.3f}")
        notes = []
        if "st" in ours and "mt" in ours:
            notes.append(f"kqc st->mt {ours['st'][0] / ours['mt'][0]:.2f} x")
        for mode in ("mt", "st"):
            if mode in ours and mode in best:
                notes.append(f"best peer {mode} {best[mode][0]:.3f} s ({best[mode][1]}), "
                             f"kqc.{mode} {best[mode][0] / ours[mode][0]:.2f} x")
        if notes:
            print(f"  {op}: " + "; ".join(notes))


if __name__ == "__main__":
    main()
