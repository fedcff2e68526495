#!/bin/sh
# Runs one kqc script template over a numbered frame sequence with GNU parallel.
#
#   run_frames.sh [-j N] [-S host1,host2,...] [-s] TEMPLATE FIRST LAST
#
# Frame f (printed as %04d) runs `sed s/@FRAME@/f/g TEMPLATE | kqc -s` in the
# current folder: the template reads in/frameNNNN.tkq and writes out/frameNNNN.tkq.
#   -j N      jobs at once on each machine (default: one per core)
#   -S hosts  spread the frames over these ssh logins (GNU parallel --sshlogin,
#             ":" is this machine); each remote job gets its input frame and the
#             template sent over, runs kqc there (kqc must be on the remote PATH)
#             and sends its output frame back; the copies are removed afterwards
#   -s        serial: one frame after another, without GNU parallel
# KQC names the kqc program (default: kqc on PATH).
set -eu
jobs=
hosts=
serial=
while getopts j:S:s opt; do
    case $opt in
        j) jobs=$OPTARG ;;
        S) hosts=$OPTARG ;;
        s) serial=1 ;;
        *) echo "usage: run_frames.sh [-j N] [-S hosts] [-s] TEMPLATE FIRST LAST" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -eq 3 ] || { echo "usage: run_frames.sh [-j N] [-S hosts] [-s] TEMPLATE FIRST LAST" >&2; exit 2; }
template=$1 first=$2 last=$3
kqc=${KQC:-kqc}
mkdir -p out

if [ -n "$serial" ]; then
    for f in $(seq -f %04g "$first" "$last"); do
        sed "s/@FRAME@/$f/g" "$template" | "$kqc" -s
    done
    exit 0
fi

command -v parallel >/dev/null || { echo "run_frames.sh: GNU parallel is not installed" >&2; exit 1; }
set -- --halt now,fail=1
[ -n "$jobs" ] && set -- "$@" -j "$jobs"
if [ -n "$hosts" ]; then
    # The template goes to each host once; frames travel with their jobs. Remote
    # copies land under the login's home folder by these relative paths.
    case $template in /*) echo "run_frames.sh: with -S give TEMPLATE as a relative path" >&2; exit 2 ;; esac
    set -- "$@" -S "$hosts" --basefile "$template" --transferfile "in/frame{}.tkq" \
        --return "out/frame{}.tkq" --cleanup
fi
seq -f %04g "$first" "$last" |
    parallel "$@" "mkdir -p out && sed 's/@FRAME@/{}/g' '$template' | '$kqc' -s"
