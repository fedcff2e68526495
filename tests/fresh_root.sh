#!/bin/sh
# The newcomer's path on a fresh Debian 12 root: a bookworm tree holding the packages
# of a fresh machine of this project's kind (a package list, one name a line), a clone
# of this repository, then `make demo` and `make test` in it and nothing else.
# Needs root, debootstrap and the network to Debian's mirror; takes long.
#   tests/fresh_root.sh DIR PACKAGE_LIST [BRANCH]
set -eu
dir=$1 list=$2 branch=${3:-main}
src=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "fresh root: needs root"; exit 77; }
command -v debootstrap >/dev/null || apt-get install -y debootstrap
if [ ! -x "$dir/usr/bin/apt-get" ]; then
    debootstrap bookworm "$dir" http://deb.debian.org/debian
fi
for m in proc sys dev dev/pts dev/shm; do mountpoint -q "$dir/$m" || mount --bind "/$m" "$dir/$m"; done
trap 'for m in dev/shm dev/pts dev sys proc; do umount "$dir/$m" 2>/dev/null || true; done' EXIT
# The fresh machine's packages, those Debian 12 serves (one at a time: names from
# other registries are left out).
if [ ! -e "$dir/.fresh-packages-done" ]; then
    cp "$list" "$dir/pkgs.txt"
    chroot "$dir" sh -c 'apt-get update -qq; for p in $(cat /pkgs.txt); do
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$p" >/dev/null 2>&1 ||
        echo "not in Debian 12: $p"; done'
    touch "$dir/.fresh-packages-done"
fi
rm -rf "$dir/root/kq"
git clone -q --branch "$branch" "$src" "$dir/root/kq"
chroot "$dir" sh -c 'cd /root/kq && s=$(date +%s) && make demo >/root/demo.log 2>&1 &&
    echo "make demo: $(( $(date +%s) - s )) s" && ls build/demo/*.png &&
    s=$(date +%s) && make test >/root/test.log 2>&1; rc=$?;
    echo "make test: $(( $(date +%s) - s )) s, status $rc"; tail -20 /root/test.log; exit $rc'
