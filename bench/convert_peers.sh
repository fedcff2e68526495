#!/bin/sh
# kqconv beside ImageMagick, libvips and OpenImageIO: one 4096 x 4096 RGBA picture
# converted each way at zlib level 6, best wall time of REPEAT runs (user + sys CPU
# beside it). "in" is PNG -> an uncompressed picture (.tkq for kqconv, PAM, .v and
# TIFF for the others); "out" is uncompressed -> PNG. kqconv's rows premultiply on
# the way in; the "out" row copies straight colour (--straight), as the others do,
# and out.unpile adds the un-premultiply.
#
#   bench/convert_peers.sh PICTURE.tkq     (a 4096 x 4096 32-bit picture)
#   REPEAT=n, BUILD_DIR=dir as for bench/run.sh
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build}
REPEAT=${REPEAT:-3}
SRC=${1:?usage: bench/convert_peers.sh PICTURE.tkq}
K=$BUILD/kqconv
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
"$K" --straight "$SRC" src.pam
"$K" --straight "$SRC" src.png
have() { command -v "$1" >/dev/null; }
have vips && vips copy src.pam src.v
have oiiotool && oiiotool src.png -o src.tif

row() {  # label command...
    label=$1; shift
    best=
    for _ in $(seq "$REPEAT"); do
        /usr/bin/time -o time.txt -f "%e %U %S" "$@" >/dev/null 2>&1
        t=$(tail -1 time.txt)
        if [ -z "$best" ] || [ "$(echo "$t" | awk -v b="$best" '{print ($1 < b+0)}')" = 1 ]; then
            best=$(echo "$t" | awk '{print $1}'); cpu=$(echo "$t" | awk '{printf "%.2f", $2 + $3}')
        fi
    done
    printf '%-16s %6s s wall  %6s s cpu\n' "$label" "$best" "$cpu"
}
row kqconv.in "$K" src.png out.tkq
row kqconv.out "$K" --straight --to png "$SRC" out.png
row kqconv.out.unpile "$K" --to png "$SRC" out.png
have convert && row magick.in convert src.png out.pam
have convert && row magick.out convert src.pam -define png:compression-level=6 out.png
have vips && row vips.in vips copy src.png out.v
have vips && row vips.out vips pngsave src.v out.png --compression 6
have oiiotool && row oiio.in oiiotool src.png -o out.tif
have oiiotool && row oiio.out oiiotool src.tif --attrib png:compressionLevel 6 -o out.png
