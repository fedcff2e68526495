# Convenience front end over CMake.
#   make          build build/kqc (and build/kqtowf)
#   make test     build and run every test, then the whole suite again under ASan+UBSan
#   make demo     build and run examples/demo.kqc, then kqtowf on its picture
#   make bench    in-process lap times of the main commands (bench/run.sh)
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test test-fast test-san demo bench clean

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

test: test-fast test-san

demo: build
	cd examples && ../build/kqc demo.kqc
	cd examples && ../build/kqc demo_wf.kqc
	build/kqtowf -f -m 0 build/demo_rgba.tkq build/demo_mip
	build/kqtowf -f build/demo_rgba.tkq build/demo_sat
	@echo "demo: wrote build/demo_mip.wf (MIP-MAP) and build/demo_sat.wf (SUMMED-AREA)"

bench: build
	bench/run.sh

clean:
	rm -rf build build-san
