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
test -x "$bin/kqframes" && test -f "$man/kqframes.1"
for prog in kqtowf kqconv; do
    if [ -x "$build/$prog" ]; then test -x "$bin/$prog" && test -f "$man/$prog.1"; fi
done
cd "$root"
printf 'create a -s 0 0 8 4\nchex a -s 2 2\nwrite a a\n' > t.kqc
$run "$bin/kqc" -e -s t.kqc
test "$(wc -c < a.tkq)" -eq $((128 + 8 * 4 * 4))
# the installed kqframes runs the installed kqc beside it (not under an emulator,
# which the programs kqframes starts would not run through)
if [ -z "$run" ]; then
    printf 'create a -s 0 0 8 4\nchex a -s @FRAME@ 2\nwrite a f@FRAME@\n' > f.kqc
    (PATH=/usr/bin:/bin; unset KQC; /usr/bin/python3 "$bin/kqframes" -j 1 -w 1 f.kqc 1 3)
    test "$(cat f1.tkq f2.tkq f3.tkq | wc -c)" -eq $((3 * (128 + 8 * 4 * 4)))
fi
if [ -x "$bin/kqconv" ]; then
    $run "$bin/kqconv" a.tkq a.png
    $run "$bin/kqconv" a.png b.tkq
    cmp a.tkq b.tkq
    # the formats of OpenImageIO's family through the module installed in lib/kq
    if [ -f "$build/kqconv_oiio.so" ]; then
        test -f "$root/stage/usr/lib/kq/kqconv_oiio.so"
        $run "$bin/kqconv" a.tkq a.tga
        $run "$bin/kqconv" a.tga c.tkq
        cmp a.tkq c.tkq
    fi
fi
if command -v dpkg-deb >/dev/null && command -v cpack >/dev/null; then
    (cd "$build" && cpack -G DEB -B "$root/deb" >/dev/null)
    (cd stage && find . -type f | sort) > staged.txt
    dpkg-deb -c "$root"/deb/*.deb | awk '$1 !~ /^d/ {print $NF}' | sort > packaged.txt
    diff staged.txt packaged.txt
fi
echo "install test: ok"
