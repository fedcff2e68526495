#!/bin/sh
# Makes a test sequence for frame.kqc in the current folder: in/0001.tkq ..
# in/NNNN.tkq (96 x 64 RGBA) and title.tkq.   make_inputs.sh [COUNT] (default 24)
set -eu
n=${1:-24}
mkdir -p in
i=1
while [ "$i" -le "$n" ]; do
    printf 'create f -s 0 0 96 64\nchex f -s %d %d -c0 1 0.%d 0 1 -c1 0 0 1 0.5\nwrite f in/%04d\n' \
        $((i % 7 + 2)) $((i % 5 + 2)) $((i % 10)) "$i"
    i=$((i + 1))
done > make_inputs.kqc
printf 'create t -s 0 0 96 64\nchex t -s 24 8 -c0 1 1 1 0.5 -c1 0 0 0 0\nclear t -s 0 0 96 40\nwrite t title\n' >> make_inputs.kqc
"${KQC:-kqc}" -e -s make_inputs.kqc
rm make_inputs.kqc
