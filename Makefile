# Convenience front end over CMake.
#   make          build build/kqc (and build/kqtowf)
#   make test     build and run every test, then the whole suite again under ASan+UBSan
#   make test-cross  aarch64 cross build's tests under qemu-aarch64, and this build's
#                 tests on an emulated x86-64 without AVX2/SSSE3 (tests/cross_test.sh)
#   make demo     build and run examples/demo.kqc, then kqtowf on its picture
#   make bench    in-process lap times of the main commands (bench/run.sh)
#   make man      regenerate docs/*.1 from the programs' help texts
#   make install  install the programs and manual pages (PREFIX, DESTDIR)
#   make package  build a .deb of the same files (build/kq_*.deb)
#   make fuzz     build the libFuzzer targets with clang in build-fuzz
#   make fuzz-smoke  run each for FUZZ_SECONDS from its corpus (make test: 20 s)
#   make soak     random scripts through the release and sanitizer builds (SOAK_COUNT)
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

FUZZ_SECONDS ?= 20
SOAK_COUNT ?= 20000
PREFIX ?= /usr/local

.PHONY: all build test test-cross test-fast test-san fuzz fuzz-smoke soak demo bench man install package clean

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

test-cross: build
	JOBS=$(JOBS) sh tests/cross_test.sh

demo: build
	cd examples && ../build/kqc demo.kqc
	mkdir -p build/demo
	cd examples && ../build/kqc showcase.kqc
	@if [ -x build/kqconv ]; then \
	  for f in showcase showcase_d1 showcase_nega; do build/kqconv build/demo/$$f.tkq build/demo/$$f.png || exit 1; done; \
	  echo "demo: PNG files in build/demo/: showcase.png showcase_d1.png showcase_nega.png"; \
	else echo "demo: kqconv is not built (it needs libpng-dev and libjpeg62-turbo-dev): no PNG files"; fi
	cd examples && ../build/kqc demo_wf.kqc
	build/kqtowf -f -m 0 build/demo_rgba.tkq build/demo_mip
	build/kqtowf -f build/demo_rgba.tkq build/demo_sat
	@echo "demo: wrote build/demo_mip.wf (MIP-MAP) and build/demo_sat.wf (SUMMED-AREA)"
	build/kqtowf -f -M 0 build/demo/showcase_rgba.tkq build/demo/showcase_smip
	@echo "demo: wrote build/demo/showcase_smip.wf (SUPER-MIP-MAP of the showcase frame)"

bench: build
	bench/run.sh

man: build
	docs/make_man.sh build docs

install: build
	cmake --install build --prefix $(PREFIX)

package: build
	cd build && cpack -G DEB

clean:
	rm -rf build build-san build-fuzz build-arm64
