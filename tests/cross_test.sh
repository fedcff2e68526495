#!/bin/sh
# make test-cross: the same bytes on other processors.
#  1. Cross-builds for aarch64 (cmake/aarch64-linux-gnu.cmake, in build-arm64) and runs
#     its unit and script tests under qemu-aarch64.
#  2. Runs the x86-64 release build's (build/) unit and script tests under
#     qemu-x86_64 on a processor without AVX2 and SSSE3 (X86_CPU, default qemu64), so
#     that the plain loops run end to end, in kqc and kqtowf as well as in the
#     comparison tests. (Nehalem lacks AVX2 but has SSSE3, whose video and kqtowf
#     kernels would then run instead of the plain ones.)
# The slowest test is left out of the emulated runs (SLOW below: minutes under qemu,
# run natively by make test); tests that set address-space limits (ulimit -v) skip
# themselves under an emulator, with that reason.
#
#   tests/cross_test.sh [SOURCE_DIR]     (JOBS: parallel tests, default 2)
set -eu
src=$(cd "${1:-$(dirname "$0")/..}" && pwd)
jobs=${JOBS:-2}
cd "$src"
for tool in aarch64-linux-gnu-g++ qemu-aarch64 qemu-x86_64; do
    command -v $tool >/dev/null || { echo "test-cross: $tool is missing (.ci/run installs it)"; exit 1; }
done
[ -x build/unit_tests ] || { echo "test-cross: build/unit_tests is missing (make build first)"; exit 1; }

SLOW=Extremes.CommandsAtTheEndsOfTheRange

t0=$(date +%s)
launcher=
command -v ccache >/dev/null && launcher=-DCMAKE_CXX_COMPILER_LAUNCHER=ccache
cmake -S . -B build-arm64 -DCMAKE_BUILD_TYPE=Release -DKQ_BENCH=OFF $launcher \
      -DCMAKE_TOOLCHAIN_FILE="$src/cmake/aarch64-linux-gnu.cmake" >/dev/null
cmake --build build-arm64 -j "$jobs"
t1=$(date +%s)
# Tests that start the programs by their path (kqframes and the video recipe from
# Python and shell pipelines, the output-kind and strict-mode tables from the shell
# and a pseudo-terminal) need binfmt support, which qemu-user alone does not give:
# they run natively in make test. The output-kind table also stays out of the
# emulated x86-64 run below, whose fault library reaches only emulated programs.
NATIVE='Kqframes\..*|Video\.RecipeThroughKqc|OutputKinds\..*|StrictMode\..*'
(cd build-arm64 && ctest --output-on-failure -j "$jobs" -E "^($SLOW|$NATIVE)\$")
t2=$(date +%s)

# x86-64 without AVX2/SSSE3: the unit tests in $jobs shards, the programs they start
# under the same emulated processor (KQ_TEST_RUNNER), then the script tests.
runner="qemu-x86_64 -cpu ${X86_CPU:-qemu64}"
export KQ_TEST_RUNNER="$runner"
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
pids=
i=0
while [ $i -lt "$jobs" ]; do
    (cd build && GTEST_TOTAL_SHARDS=$jobs GTEST_SHARD_INDEX=$i \
        $runner ./unit_tests --gtest_brief=1 --gtest_filter="-$SLOW:OutputKinds.*" >"$logs/$i" 2>&1) &
    pids="$pids $!"
    i=$((i + 1))
done
status=0
for p in $pids; do wait "$p" || status=1; done
cat "$logs"/*
[ $status -eq 0 ] || { echo "test-cross: unit tests failed under $runner"; exit 1; }
sh docs/make_man.sh --check "$src/build" docs
sh tests/install_test.sh "$src/build"
t3=$(date +%s)
echo "test-cross: aarch64 build $((t1 - t0)) s, aarch64 tests $((t2 - t1)) s," \
     "x86-64 ($runner) tests $((t3 - t2)) s"
