#!/bin/sh
# The frame-sequence recipe: 24 frames through GNU parallel give the same files
# as the serial run. Exit 77 (skipped) without GNU parallel. KQ_TEST_RUNNER, when
# set, is the command line that runs kqc (an emulator).
set -eu
build=$1
src=$(cd "$(dirname "$0")/.." && pwd)
command -v parallel >/dev/null || { echo "GNU parallel is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir in
for i in $(seq 1 24); do
    f=$(printf %04d "$i")
    printf 'create f -s 0 0 96 64\nchex f -s %d %d -c0 1 %s 0 1 -c1 0 0 1 0.5\nwrite f in/frame%s\n' \
        $((i % 7 + 2)) $((i % 5 + 2)) "0.$i" "$f"
done > make.kqc
KQC=$build/kqc
if [ -n "${KQ_TEST_RUNNER:-}" ]; then
    # run_frames.sh takes one program name: a script that starts kqc in the emulator.
    printf '#!/bin/sh\nexec %s "%s" "$@"\n' "$KQ_TEST_RUNNER" "$KQC" > "$work/kqc"
    chmod +x "$work/kqc"
    KQC=$work/kqc
fi
export KQC
"$KQC" -s make.kqc
"$src/examples/frames/run_frames.sh" -s "$src/examples/frames/frame.kqc.in" 1 24
mv out serial
"$src/examples/frames/run_frames.sh" -j 2 "$src/examples/frames/frame.kqc.in" 1 24
test "$(ls out | wc -l)" -eq 24 && test "$(ls serial | wc -l)" -eq 24
for i in $(seq 1 24); do
    f=frame$(printf %04d "$i").tkq
    cmp "serial/$f" "out/$f"
done
echo "frames test: 24 frames equal"
