#!/bin/sh
# Checks that the Debian packages a part of the project needs are installed, and
# installs the missing ones when it can (root, or password-less sudo, with apt-get).
#   tools/deps.sh [--optional] GROUP...
# Groups: build (the programs, the demo and the unit tests), test (the rest of
# `make test`: fuzzing, frame runner), video, cluster, cross. Without --optional a
# missing package that cannot be installed stops with the command to run; with it
# the script says what is missing and goes on (the tests that need it skip).
set -u

optional=0
if [ "${1:-}" = --optional ]; then optional=1; shift; fi

packages_of() {
    case $1 in
        build)   echo cmake make g++ pkg-config python3 libgtest-dev libgmock-dev \
                      zlib1g-dev libpng-dev libjpeg62-turbo-dev libedit-dev \
                      libtiff-dev libopenimageio-dev \
                      libwebp-dev ;;
        test)    echo clang libclang-rt-14-dev parallel rsync ncompress dpkg-dev ;;
        video)   echo ffmpeg ;;
        cluster) echo openssh-server openssh-client rsync parallel munge slurmctld slurmd slurm-client iproute2 util-linux ;;
        cross)   echo g++-aarch64-linux-gnu libstdc++-12-dev-arm64-cross qemu-user googletest ;;
        *) echo "deps: unknown group $1" >&2; exit 2 ;;
    esac
}

wanted=
for group in "${@:-build}"; do wanted="$wanted $(packages_of "$group")" || exit 2; done

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "deps: not a Debian system: make sure these are installed:$wanted"
    exit 0
fi

missing=
for p in $wanted; do
    case " $missing " in *" $p "*) continue ;; esac
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' ||
        missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then sudo="sudo -n"
else sudo=none
fi

if [ "$sudo" != none ] && command -v apt-get >/dev/null 2>&1; then
    echo "deps: installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    if $sudo apt-get update -qq >/dev/null && $sudo apt-get install -y -qq $missing >/dev/null; then
        echo "deps: installed"
        exit 0
    fi
    echo "deps: apt-get could not install:$missing"
else
    echo "deps: missing packages:$missing"
    echo "deps: install them with:"
    echo "    sudo apt-get update && sudo apt-get install -y$missing"
fi
if [ "$optional" -eq 1 ]; then
    echo "deps: going on without them; the tests that need them are skipped"
    exit 0
fi
exit 1
