#!/bin/sh
# The README's video recipe: frames out of a video with ffmpeg as raw UYVY 4:2:2,
# through a kqc script, and back into a video. Skips (77) without ffmpeg.
set -eu
build=$1
command -v ffmpeg >/dev/null 2>&1 || { echo "ffmpeg is not installed: video recipe untested"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
ffmpeg -loglevel error -f lavfi -i testsrc=size=720x486:rate=30:duration=0.1 \
    -f image2 -c:v rawvideo -pix_fmt uyvy422 frame%02d.yuv
for f in frame*.yuv; do
    printf 'readyuv %s f\ncreate o -d f\nnega f o\nwriteyuv o out_%s\n' "$f" "$f" | "$build/kqc" >/dev/null 2>&1
    [ -s "out_$f" ] || { echo "no output frame for $f"; exit 1; }
    [ "$(wc -c < "out_$f")" -eq $((720 * 486 * 2)) ] || { echo "out_$f has the wrong size"; exit 1; }
done
cat out_frame*.yuv | ffmpeg -loglevel error -f rawvideo -pix_fmt uyvy422 -s 720x486 -r 30 -i - out.mkv
frames=$(ffmpeg -i out.mkv -f null - 2>&1 | sed -n 's/.*frame= *\([0-9]*\).*/\1/p' | tail -1)
[ "$frames" -eq "$(ls frame*.yuv | wc -l)" ] || { echo "out.mkv has $frames frames"; exit 1; }
# ffmpeg reads a frame as the layout kqc wrote: the same bytes come back.
ffmpeg -loglevel error -f rawvideo -pix_fmt uyvy422 -s 720x486 -i out_frame01.yuv -f rawvideo -pix_fmt uyvy422 back.yuv
cmp -s back.yuv out_frame01.yuv || { echo "ffmpeg does not read the frame back unchanged"; exit 1; }
echo "video recipe: $(ls frame*.yuv | wc -l) frames through kqc and back"
