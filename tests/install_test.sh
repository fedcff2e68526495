#!/bin/sh
# Installs a build into a scratch DESTDIR, runs the installed kqc (and kqconv) on
# a script, and checks that the .deb holds the same files. KQ_TEST_RUNNER, when set,
# is the command line that runs the programs (an emulator).
set -eu
run=${KQ_TEST_RUNNER:-}
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root/stage cmake --install "$build" --prefix /usr >/dev/null
bin=$root/stage/usr/bin
man=$root/stage/usr/share/man/man1
test -x "$bin/kqc" && test -f "$man/kqc.1"
for prog in kqtowf kqconv; do
    if [ -x "$build/$prog" ]; then test -x "$bin/$prog" && test -f "$man/$prog.1"; fi
done
cd "$root"
printf 'create a -s 0 0 8 4\nchex a -s 2 2\nwrite a a\n' > t.kqc
$run "$bin/kqc" -s t.kqc
test "$(wc -c < a.tkq)" -eq $((128 + 8 * 4 * 4))
if [ -x "$bin/kqconv" ]; then
    $run "$bin/kqconv" a.tkq a.png
    $run "$bin/kqconv" a.png b.tkq
    cmp a.tkq b.tkq
fi
if command -v dpkg-deb >/dev/null && command -v cpack >/dev/null; then
    (cd "$build" && cpack -G DEB -B "$root/deb" >/dev/null)
    (cd stage && find . -type f | sort) > staged.txt
    dpkg-deb -c "$root"/deb/*.deb | awk '$1 !~ /^d/ {print $NF}' | sort > packaged.txt
    diff staged.txt packaged.txt
fi
echo "install test: ok"
