#!/bin/sh
# The title job of a frame sequence through kqframes: FRAMES (default 300) frames
# of WIDTH x HEIGHT RGBA (default 720 x 486, D1), each read, softened, laid under a
# title picture and written. Times, best of REPEAT (default 3):
#   one kqc   one kqc process (one thread) that includes every frame's generated script
#   -j 1      kqframes, batches one after another (without GNU parallel)
#   -j 2      kqframes, two batches at once through GNU parallel
# and prints the ratios the runner is held to: -j 1 within 1.3 x one kqc,
# -j 2 at least 1.6 x faster than -j 1 (on an idle machine of 2 or more cores).
#
#   bench/frames.sh              (BUILD_DIR=dir, FRAMES=n, REPEAT=n, WIDTH=n, HEIGHT=n)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${BUILD_DIR:-$ROOT/build}" && pwd)
FRAMES=${FRAMES:-300}
REPEAT=${REPEAT:-3}
WIDTH=${WIDTH:-720}
HEIGHT=${HEIGHT:-486}
kqc=$BUILD/kqc
kqframes=$BUILD/kqframes
[ -x "$kqc" ] && [ -x "$kqframes" ] || { echo "bench/frames.sh: build kqc first (make)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir in
i=1
while [ "$i" -le "$FRAMES" ]; do
    printf 'create f -s 0 0 %d %d\nchex f -s %d 6 -c0 0.%d 0.3 0.2 1 -c1 0.1 0.1 0.4 1\nwrite f in/%04d\n' \
        "$WIDTH" "$HEIGHT" $((i % 9 + 4)) $((i % 10)) "$i"
    i=$((i + 1))
done > make.kqc
cat >> make.kqc <<EOF
create t -s 0 0 $WIDTH $HEIGHT
chex t -s 40 30 -c0 1 1 1 0.6 -c1 0 0 0 0
clear t -s 0 0 $WIDTH $((HEIGHT * 300 / 486))
write t title
EOF
"$kqc" -e -s make.kqc
cat > title.kqc <<'EOF'
read @IN@ src
read title.tkq title
create soft -d src
blur -z 4 4 src soft
create glow -d title
blur -z 2 2 title glow
create out -d src
over glow soft out
over title out out
write out @OUT@
EOF
args="--in in/%04d.tkq --out out/%04d.tkq --asset title.tkq"

# the generated frame scripts, all included by one script
"$kqframes" --slurm --batch "$FRAMES" $args title.kqc 1 "$FRAMES" > /dev/null
ls .kqframes/title.kqc-1-"$FRAMES"/frames/*.kqc | sed 's/^/include /' > all.kqc
mkdir -p out

best() {  # command...: "wall cpu" seconds of the fastest of REPEAT runs
    /usr/bin/python3 - "$REPEAT" "$FRAMES" "$@" <<'PY'
import os, resource, shutil, subprocess, sys, time
repeat, frames, command = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3:]
best = None
for _ in range(repeat):
    shutil.rmtree("out", ignore_errors=True)
    os.mkdir("out")
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    status = subprocess.call(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    if status != 0 or len(os.listdir("out")) != frames:
        sys.exit("bench/frames.sh: failed: %s" % " ".join(command))
    if best is None or wall < best[0]:
        best = (wall, cpu)
print("%.3f %.3f" % best)
PY
}
one=$(best "$kqc" -j 1 -e -s all.kqc)
serial=$(best "$kqframes" -j 1 $args title.kqc 1 "$FRAMES")
if command -v parallel >/dev/null; then
    two=$(best "$kqframes" -j 2 $args title.kqc 1 "$FRAMES")
else
    two=
fi
echo "$FRAMES title frames of $WIDTH x $HEIGHT, best of $REPEAT, load average $(cut -d ' ' -f 1-3 /proc/loadavg):"
echo "$one $serial $two" | awk -v n="$FRAMES" '{
    printf "                   wall s   CPU s\n"
    printf "  one kqc process  %7.3f %7.3f   %6.1f ms/frame\n", $1, $2, 1000 * $1 / n
    printf "  kqframes -j 1    %7.3f %7.3f   %6.2f x one kqc (target <= 1.3)\n", $3, $4, $3 / $1
    if ($5 != "") printf "  kqframes -j 2    %7.3f %7.3f   %6.2f x faster than -j 1 (target >= 1.6)\n", $5, $6, $3 / $5
    else print "  kqframes -j 2    skipped: GNU parallel is not installed"
}'
