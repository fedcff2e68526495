#!/bin/sh
# Builds zlib, libpng and libjpeg-turbo from Debian's source packages (fetched with
# apt-get source from the machine's release, through a private source list) with the
# fuzz build's instrumentation, as static libraries in DIR/lib and DIR/include, so the
# png and jpeg targets see the decoders' code and not only their own. Done once; a
# finished DIR is kept. When the sources cannot be had it says so in one line and
# exits 0: the targets then link the system's uninstrumented libraries.
#   tests/fuzz/build_deps.sh DIR "C flags"
set -u
dir=$1
flags=$2
[ -f "$dir/done" ] && exit 0
skip() { echo "fuzz deps: $* (the png and jpeg targets use the system libraries)"; exit 0; }
command -v apt-get >/dev/null && command -v dpkg-source >/dev/null || skip "no apt-get/dpkg-source"
suite=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
[ -n "$suite" ] || skip "unknown release"
rm -rf "$dir" && mkdir -p "$dir/apt/lists/partial" "$dir/src" || exit 1
dir=$(cd "$dir" && pwd)
echo "deb-src http://deb.debian.org/debian $suite main" >"$dir/apt/sources.list"
apt="-o Dir::Etc::SourceList=$dir/apt/sources.list -o Dir::Etc::SourceParts=/dev/null
     -o Dir::State::Lists=$dir/apt/lists -o Dir::Cache=$dir/apt -o APT::Sandbox::User=root"
log=$dir/build.log
# shellcheck disable=SC2086
apt-get $apt update >"$log" 2>&1 || skip "apt-get update failed (see $log)"
# shellcheck disable=SC2086
(cd "$dir/src" && apt-get $apt source zlib libpng1.6 libjpeg-turbo) >>"$log" 2>&1 ||
    skip "apt-get source failed (see $log)"
cd "$dir/src" || exit 1
grep -h '^dpkg-source: info: extracting' "$log" | sed 's/^dpkg-source: info: extracting /fuzz deps: /'
export CC=clang CFLAGS="-g -O1 $flags"
prefix=$dir
jobs=$(nproc 2>/dev/null || echo 2)
{
    (cd zlib-*/ && ./configure --static --prefix="$prefix" && make -j"$jobs" libz.a && make install) &&
    (cd libpng1.6-*/ && ./configure --disable-shared --prefix="$prefix" \
        CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib" && make -j"$jobs" && make install) &&
    (cd libjpeg-turbo-*/ && cmake -S . -B b -DCMAKE_BUILD_TYPE=Release -DENABLE_SHARED=OFF \
        -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_INSTALL_LIBDIR="$prefix/lib" -DCMAKE_C_FLAGS_RELEASE="" &&
        cmake --build b -j"$jobs" && cmake --install b)
} >>"$log" 2>&1 || skip "build failed (see $log)"
touch "$dir/done"
echo "fuzz deps: built in $dir"
