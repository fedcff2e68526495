#!/usr/bin/env python3
"""CPU seconds beside wall seconds for a shared-bench run (../shared/bench/peers.sh).

    bench/peers_cpu.py RESULTS_DIR

For every operation: each row's median wall time and mean CPU time (user + system,
from hyperfine), the best peer's multi-threaded median, kqc.mt's lead over it, and
kqc's scaling from one thread (kqc.st, -j 1) to the default (kqc.mt). On a shared
machine the CPU seconds move much less than the wall seconds.
"""
import json
import pathlib
import sys


def main():
    res = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    rows = {}
    for f in sorted((res / "json").glob("*.json")):
        try:
            r = json.loads(f.read_text())["results"][0]
        except (ValueError, KeyError, IndexError):
            continue
        op, peer, mode = f.stem.split(".")[:3]
        rows.setdefault(op, {})[(peer, mode)] = (r["median"], r["user"] + r["system"])
    print(f"{'row':24} {'wall s':>8} {'cpu s':>8}")
    for op in sorted(rows):
        for (peer, mode), (wall, cpu) in sorted(rows[op].items()):
            print(f"{op + '.' + peer + '.' + mode:24} {wall:8.3f} {cpu:8.3f}")
        ours = {m: v for (p, m), v in rows[op].items() if p in ("kqc", "kqtowf")}
        peers_mt = [v[0] for (p, m), v in rows[op].items()
                    if p not in ("kqc", "kqtowf", "cfloor") and m == "mt"]
        notes = []
        if "st" in ours and "mt" in ours:
            notes.append(f"kqc st->mt {ours['st'][0] / ours['mt'][0]:.2f} x")
        if "mt" in ours and peers_mt:
            notes.append(f"best peer mt {min(peers_mt):.3f} s, kqc.mt {min(peers_mt) / ours['mt'][0]:.2f} x")
        if notes:
            print(f"  {op}: " + "; ".join(notes))


if __name__ == "__main__":
    main()
