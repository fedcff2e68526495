#!/usr/bin/env bash
# In-process speed of the main kqc commands: builds kqc (Release), runs a script of
# commands on 4096 x 4096 four-plane buffers with `kqc -t`, and prints each
# command's best lap time beside its memory-bound floor: the bytes it must read
# plus the bytes it must write, over the bandwidth of a plain 64 MiB memcpy
# measured in the same run (its reads plus its writes).
#
#   bench/run.sh                  build in build/ and report
#   BUILD_DIR=dir bench/run.sh    use another build folder
#   REPEAT=n bench/run.sh         laps per command (best is kept; default 3)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build}
REPEAT=${REPEAT:-3}
CXX=${CXX:-c++}

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j "${JOBS:-2}" --target kqc >/dev/null
"$CXX" -std=c++20 -O2 "$ROOT/bench/tools/membw.cpp" -o "$BUILD/membw"

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# Rows: label | command | MiB the command must read | MiB it must write.
# A 4096 x 4096 plane is 16 MiB, a four-plane buffer 64 MiB. Buffer h sits half
# over a (origin 2048,0), so in the general case B covers half of the work region.
# Buffer s (2048 x 2048) is the source of the 2x zooms.
ROWS=$(cat <<'EOF'
plus            | plus a b o           | 128 | 64
over            | over a b o           | 128 | 64
in              | in a b o             |  80 | 64
out             | out a b o            |  80 | 64
atop            | atop a b o           | 128 | 64
xor             | xor a b o            | 128 | 64
plus (general)  | plus a h o           |  96 | 64
over (general)  | over a h o           |  96 | 64
in (general)    | in a h o             |  72 | 64
out (general)   | out a h o            |  72 | 64
atop (general)  | atop a h o           |  96 | 64
xor (general)   | xor a h o            |  96 | 64
over (out = A)  | over o b o           | 128 | 64
copy            | copy a o             |  64 | 64
shift           | shift 100 100 a o    |  64 | 64
reverse         | reverse a o          |  64 | 64
blur -z 5 5     | blur -z 5 5 a o      |  64 | 64
blur -z 50 50   | blur -z 50 50 a o    |  64 | 64
filter3 -f hi   | filter3 -f hi o      |  64 | 64
filter3 -f lowv | filter3 -f lowv o    |  64 | 64
antiflicker     | antiflicker o        |  64 | 64
shrink -l 2 2   | shrink -l 2 2 a o    |  64 | 16
shrink -l 5 5   | shrink -l 5 5 a o    |  64 | 0.25
glow            | glow a o             |  64 | 64
blzoom 2x       | blzoom s o           |  16 | 64
bzoom 2x        | bzoom s o            |  16 | 64
opaque 0.5      | opaque o 0.5         |  16 | 16
opaque 1.5      | opaque o 1.5         |  16 | 16
dissolve        | dissolve o 0.7       |  64 | 64
darkness        | darkness o 0.5 0.8 1.2 | 48 | 48
nega            | nega -rgba a o       |  64 | 64
nega (general)  | nega -rgba h o       |  32 | 64
mono            | mono a o             |  64 | 64
adjustcol       | adjustcol -r 50 100 -g 0 255 -b 30 31 -a 200 9 a o | 64 | 64
adjustcol (128) | adjustcol a o        |  64 | 64
paint           | paint -g -C 255 128 0 -m a o | 16 | 64
pile            | pile a o             |  64 | 64
pile -r         | pile -r a o          |  64 | 64
tomo            | tomo a o             |  64 | 64
diff (equal)    | diff a e             | 128 |  0
dotfile 1M dots | dotfile dots.txt o   |  12 |  0
gauss -z 10 10  | gauss -z 10 10 a o   |  64 | 64
gauss -z 2 2    | gauss -z 2 2 a o     |  64 | 64
EOF
)

# The script: set-up lines first (their laps are skipped), then every row REPEAT
# times. labels.txt names the row of each script line, "-" for set-up.
{
    echo "create a -s 0 0 4096 4096"
    echo "create b -s 0 0 4096 4096"
    echo "create h -s 2048 0 4096 4096"
    echo "create o -s 0 0 4096 4096"
    echo "chex a -c0 0.9 0.5 0.2 0.8 -c1 0.1 0.3 0.6 0.4 -s 7 5"
    echo "chex b -c0 0.2 0.7 0.4 0.5 -c1 0.8 0.1 0.9 1 -s 3 11"
    echo "chex h -c0 0.6 0.6 0.1 0.3 -c1 0.3 0.2 0.5 0.9 -s 13 2"
    echo "chex o -s 5 5"
    echo "create s -s 0 0 2048 2048"
    echo "chex s -s 9 4"
    echo "create e -s 0 0 4096 4096"
    echo "copy a e"
} >"$WORK/bench.kqc"
: >"$WORK/labels.txt"
for _ in $(seq "$(wc -l <"$WORK/bench.kqc")"); do echo "-" >>"$WORK/labels.txt"; done
# One million plain dots (about 12 MiB) for dotfile.
awk 'BEGIN { for (i = 0; i < 1000000; i++) printf "%d %d\n", (i * 7) % 4096, (i * 13) % 4096 }' \
    >"$WORK/dots.txt"
while IFS='|' read -r label command _; do
    label=$(echo "$label" | sed 's/ *$//')
    command=$(echo "$command" | sed 's/^ *//; s/ *$//')
    for ((i = 0; i < REPEAT; i++)); do
        echo "$command" >>"$WORK/bench.kqc"
        echo "$label" >>"$WORK/labels.txt"
    done
done <<<"$ROWS"

BW=$("$BUILD/membw" | awk '/^memcpy_bytes_per_sec/ {print $2}')
# -e: a failed line would leave the laps out of step with the labels.
if ! (cd "$WORK" && "$BUILD/kqc" -e -s -t bench.kqc) >/dev/null 2>"$WORK/stderr.txt"; then
    echo "bench: a kqc line failed:" >&2
    grep -v '^LAPTIME' "$WORK/stderr.txt" >&2
    exit 1
fi
grep '^LAPTIME' "$WORK/stderr.txt" | awk -F' : ' '{print $2}' | awk '{print $1}' >"$WORK/laps.txt"
if grep -v '^LAPTIME' "$WORK/stderr.txt" | grep -q .; then
    echo "kqc messages:"
    grep -v '^LAPTIME' "$WORK/stderr.txt" | sort | uniq -c | sed 's/^/    /'
    echo
fi

echo "memcpy bandwidth (read + write): $(awk -v b="$BW" 'BEGIN {printf "%.2f GB/s", b / 1e9}')"
echo "4096 x 4096 RGBA, best of $REPEAT laps; floor = (MiB read + MiB written) / bandwidth"
echo
paste -d'|' "$WORK/labels.txt" "$WORK/laps.txt" | awk -F'|' -v bw="$BW" -v rows="$ROWS" '
    BEGIN {
        n = split(rows, lines, "\n")
        for (i = 1; i <= n; i++) {
            split(lines[i], f, "|")
            gsub(/^ +| +$/, "", f[1]); gsub(/^ +| +$/, "", f[2])
            order[i] = f[1]; cmd[f[1]] = f[2]; mib[f[1]] = f[3] + f[4]
        }
        printf "| %-16s | %-20s | %10s | %10s | %7s |\n", "command", "line", "lap ms", "floor ms", "x floor"
        printf "|%s|%s|%s|%s|%s|\n", "------------------", "----------------------", "-----------:", "-----------:", "--------:"
    }
    $1 != "-" {
        if (!($1 in best) || $2 + 0 < best[$1]) best[$1] = $2 + 0
    }
    END {
        for (i = 1; i <= n; i++) {
            k = order[i]
            floor_ms = mib[k] * 1048576 / bw * 1000
            printf "| %-16s | %-20s | %10.3f | %10.3f | %7.2f |\n", k, cmd[k], best[k], floor_ms, best[k] / floor_ms
        }
    }'
