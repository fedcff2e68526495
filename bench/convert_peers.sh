#!/bin/sh
# kqconv beside ImageMagick, libvips, OpenImageIO and cwebp: one 4096 x 4096 RGBA
# picture (PNG, and TIFF, OpenEXR and WebP at the end)
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
magick_real() { convert -version 2>/dev/null | grep -q ImageMagick; }
have vips && vips copy src.pam src.v
have oiiotool && oiiotool src.png -o src.tif

row() {  # label command...
    label=$1; shift
    best=
    for _ in $(seq "$REPEAT"); do
        /usr/bin/time -o time.txt -f "%e %U %S" "$@" >/dev/null 2>&1 || { echo "$label failed"; return 0; }
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
magick_real && row magick.in convert src.png out.pam
magick_real && row magick.out convert src.pam -define png:compression-level=6 out.png
have vips && row vips.in vips copy src.png out.v
have vips && row vips.out vips pngsave src.v out.png --compression 6
have oiiotool && row oiio.in oiiotool src.png -o out.tif
have oiiotool && row oiio.out oiiotool src.tif --attrib png:compressionLevel 6 -o out.png

# TIFF and OpenEXR: kqconv from and to .tkq, OpenImageIO from and to an uncompressed
# TIFF; deflate (zip) at level 6 on both sides, EXR as half with zip.
"$K" --level 0 "$SRC" src0.tif
"$K" "$SRC" src.tif
"$K" "$SRC" src.exr
row kqconv.tif.in "$K" src.tif out.tkq
row kqconv.tif.out "$K" "$SRC" out.tif
row kqconv.exr.in "$K" src.exr out.tkq
row kqconv.exr.out "$K" "$SRC" out.exr
have oiiotool && row oiio.tif.in oiiotool src.tif --compression none -o out0.tif
have oiiotool && row oiio.tif.out oiiotool src0.tif --compression zip:6 -o out.tif
have oiiotool && row oiio.exr.in oiiotool src.exr -d uint8 --compression none -o out0.tif
have oiiotool && row oiio.exr.out oiiotool src0.tif -d half --compression zip -o out.exr

# WebP, lossless at libwebp's usual effort (method 4, quality 75: kqconv's --level 6)
# on every side: kqconv from and to .tkq, cwebp / dwebp (Debian's webp) from and to
# PAM, libvips from and to .v (libvips drops the colour under transparent pixels,
# kqconv and cwebp -exact keep it).
"$K" --straight "$SRC" src.webp
row kqconv.webp.in "$K" src.webp out.tkq
row kqconv.webp.out "$K" --straight "$SRC" out.webp
have dwebp && row dwebp.in dwebp -quiet -pam src.webp -o out.pam
have cwebp && row cwebp.out cwebp -quiet -lossless -exact -q 75 -m 4 src.pam -o out.webp
have vips && row vips.webp.in vips copy src.webp out.v
have vips && row vips.webp.out vips webpsave src.v out.webp --lossless --Q 75 --effort 4
