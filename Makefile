# Convenience front end over CMake.
#   make          build build/kqc (and build/kqtowf)
#   make test     build and run every test, then the whole suite again under ASan+UBSan
#   make demo     build and run examples/demo.kqc
#   make bench    in-process lap times of the main commands (bench/run.sh)
#   make fuzz     build the libFuzzer targets with clang in build-fuzz
#   make fuzz-smoke  run each for FUZZ_SECONDS from its corpus (make test: 20 s)
#   make soak     random scripts through the release and sanitizer builds (SOAK_COUNT)
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

FUZZ_SECONDS ?= 20
SOAK_COUNT ?= 20000

.PHONY: all build test test-fast test-san fuzz fuzz-smoke soak demo bench clean

all: build

build:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build -j $(JOBS)

build-san/CMakeCache.txt:
	cmake -S . -B build-san -DCMAKE_BUILD_TYPE=Debug -DKQ_SANITIZE=ON >/dev/null

test-fast: build
	cd build && ctest --output-on-failure -j $(JOBS)

test-san: build-san/CMakeCache.txt
	cmake --build build-san -j $(JOBS)
	cd build-san && ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=0 \
	  UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

fuzz:
	@command -v clang++ >/dev/null || { echo "make fuzz needs clang++"; exit 1; }
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKQ_FUZZ=ON -DKQ_BENCH=OFF \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	cmake --build build-fuzz -j $(JOBS)

fuzz-smoke: fuzz
	tests/fuzz/run.sh $(FUZZ_SECONDS)

soak: build build-san/CMakeCache.txt
	cmake --build build-san -j $(JOBS)
	python3 tests/soak/soak.py --count $(SOAK_COUNT)

test: test-fast test-san fuzz-smoke

demo: build
	cd examples && ../build/kqc demo.kqc

bench: build
	bench/run.sh

clean:
	rm -rf build build-san build-fuzz
