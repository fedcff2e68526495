#!/usr/bin/env bash
# kqc and kqtowf rows at one thread (st, -j 1) and at their default threading (mt),
# in the work folder and results folder of a ../shared/bench/peers.sh run, so that
# they sit beside the peers' rows of that run. (The shared scripts name their output
# after the st row, so the mt rows need copies of them that name theirs after mt.)
#
#   bench/peers_mt.sh WORK RESULTS [REGEX]     (kqc and kqtowf: build/ unless KQC, KQTOWF)
# then bench/peers_cpu.py RESULTS prints wall and CPU seconds and the 1 -> 2 thread scaling.
set -u
here=$(cd "$(dirname "$0")" && pwd)
WORK=$(cd "$1" && pwd)
RES=$(cd "$2" && pwd)
ONLY=${3:-.}
RUNS=${RUNS:-5}
KQC=${KQC:-$here/../build/kqc}
KQTOWF=${KQTOWF:-$here/../build/kqtowf}
shared=$here/../../../shared/bench
[ -d "$shared/kqc" ] || shared=/work/shared/bench

mkdir -p "$WORK/bin" "$WORK/kqc.modes" "$WORK/out" "$RES/json"
cp "$KQC" "$WORK/bin/kqc"
cp "$KQTOWF" "$WORK/bin/kqtowf"
row() {  # row NAME COMMAND
    local name=$1 cmd=$2
    [[ $name =~ $ONLY ]] || return 0
    (cd "$WORK" && eval "$cmd") > /dev/null 2>&1 || { echo "FAIL $name: $cmd" >&2; return 0; }
    (cd "$WORK" && hyperfine -N --style basic --warmup 0 --runs "$RUNS" \
        --export-json "$RES/json/$name.json" -n "$name" "$cmd") > /dev/null 2>&1
    python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][0]; print("%-22s median %8.3f s  cpu %8.3f s" % (sys.argv[2], r["median"], r["user"] + r["system"]))' \
        "$RES/json/$name.json" "$name" >&2
    rm -f "$WORK/out/$name"*
}
for s in "$shared"/kqc/*.kqc; do
    op=$(basename "$s" .kqc)
    for mode in st mt; do
        sed "s/\.kqc\.st\./.kqc.$mode./g" "$s" > "$WORK/kqc.modes/$op.$mode.kqc"
        j=; [ $mode = st ] && j="-j 1 "
        row "$op.kqc.$mode" "bin/kqc ${j}-s kqc.modes/$op.$mode.kqc"
    done
done
args=$(cat "$shared/kqc/kqtowf_mipmap.args")
row mipmap.kqtowf.st "bin/kqtowf -j 1 $args"
row mipmap.kqtowf.mt "bin/kqtowf ${args//kqtowf.st/kqtowf.mt}"
