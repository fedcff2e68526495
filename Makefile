# Convenience front end over CMake.
#   make          build build/kqc, build/kqtowf, build/kqconv and the tests
#   make deps     check the Debian packages the build, demo and tests need; install
#                 the missing ones when root (or password-less sudo), else say how
#   make test     deps, then every test, the whole suite again under ASan+UBSan and
#                 the fuzz smoke; ends with one summary
#   make demo     deps, the programs only, then the demo, the showcase and kqtowf
#   make test-cross  aarch64 cross build's tests under qemu-aarch64, and this build's
#                 tests on an emulated x86-64 without AVX2/SSSE3 (tests/cross_test.sh)
#   make bench    in-process lap times of the main commands (bench/run.sh)
#   make man      regenerate docs/*.1 from the programs' help texts
#   make install  install the programs and manual pages (PREFIX, DESTDIR)
#   make package  build a .deb of the same files (build/kq_*.deb)
#   make fuzz     build the libFuzzer targets with clang in build-fuzz, with zlib,
#                 libpng and libjpeg-turbo instrumented alike (tests/fuzz/build_deps.sh),
#                 and without the size caps in build-fuzz-uncapped
#   make fuzz-smoke  run each for FUZZ_SECONDS from its corpus (make test: 20 s), and
#                 the uncapped ones for FUZZ_UNCAPPED_SECONDS under ulimit -v
#   make soak     random scripts through the release and sanitizer builds (SOAK_COUNT)
#   make test-cluster  kqframes over ssh and Slurm in a private network namespace
#                 (root, openssh-server, rsync, parallel, munge, slurmctld, slurmd)
#   make bench-frames  kqframes on the 300-frame title job, D1 and HD frames
#                 (bench/frames.sh; TMPDIR=/dev/shm keeps the disc out of it)
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
MAKEFLAGS += --no-print-directory

FUZZ_SECONDS ?= 20
FUZZ_UNCAPPED_SECONDS ?= 5
FUZZ_FLAGS = -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
SOAK_COUNT ?= 20000
PREFIX ?= /usr/local

.PHONY: all deps programs build test test-fast test-san test-cluster test-cross fuzz fuzz-smoke soak demo bench bench-frames man install package clean

all: build

deps:
	@tools/deps.sh build test

# Configured once; cmake reconfigures by itself when a CMakeLists.txt changes.
build/CMakeCache.txt:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null

build: build/CMakeCache.txt
	cmake --build build -j $(JOBS)

programs: build/CMakeCache.txt
	cmake --build build -j $(JOBS) --target programs

build-san/CMakeCache.txt:
	cmake -S . -B build-san -DCMAKE_BUILD_TYPE=Debug -DKQ_SANITIZE=ON >/dev/null

test-fast: build
	cd build && ctest --output-on-failure --timeout 900 -j $(JOBS) --output-junit $(CURDIR)/build/junit.xml

test-san: build-san/CMakeCache.txt
	cmake --build build-san -j $(JOBS)
	cd build-san && ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=0 \
	  UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure --timeout 900 -j $(JOBS) \
	  --output-junit $(CURDIR)/build-san/junit.xml

build-fuzz/CMakeCache.txt:
	@command -v clang++ >/dev/null || { echo "make fuzz needs clang++"; exit 1; }
	tests/fuzz/build_deps.sh build-fuzz-deps "$(FUZZ_FLAGS)"
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKQ_FUZZ=ON -DKQ_BENCH=OFF \
	  -DKQ_FUZZ_DEPS=$(CURDIR)/build-fuzz-deps \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null

fuzz: build-fuzz/CMakeCache.txt
	cmake --build build-fuzz -j $(JOBS)
	cmake -S . -B build-fuzz-uncapped -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKQ_FUZZ=ON \
	  -DKQ_FUZZ_UNCAPPED=ON -DKQ_BENCH=OFF \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	cmake --build build-fuzz-uncapped -j $(JOBS)

fuzz-smoke: fuzz
	tests/fuzz/run.sh $(FUZZ_SECONDS)
	KQ_FUZZ_BUILD_DIR=build-fuzz-uncapped KQ_FUZZ_ULIMIT_KB=1000000 \
	  tests/fuzz/run.sh $(FUZZ_UNCAPPED_SECONDS)

soak: build build-san/CMakeCache.txt
	cmake --build build-san -j $(JOBS)
	python3 tests/soak/soak.py --count $(SOAK_COUNT)

# Every stage runs even when an earlier one fails, so that the summary is whole.
test: deps
	@rm -f build/junit.xml build-san/junit.xml; rm -rf build-fuzz/work/*.log
	@$(MAKE) -k test-fast test-san fuzz-smoke; rc=$$?; \
	  tests/summary.py release=build/junit.xml sanitizers=build-san/junit.xml \
	    --fuzz build-fuzz/work || rc=1; exit $$rc

# Installs its own packages when it can; exit 77: skipped (the test says why).
test-cluster:
	@tools/deps.sh --optional cluster
	@$(MAKE) build
	sh tests/cluster_test.sh build || [ $$? -eq 77 ]

# Installs its own packages when it can.
test-cross:
	@tools/deps.sh --optional cross
	@$(MAKE) build
	JOBS=$(JOBS) sh tests/cross_test.sh

demo: deps programs
	cd examples && ../build/kqc -e demo.kqc
	mkdir -p build/demo
	cd examples && ../build/kqc -e showcase.kqc
	@if [ -x build/kqconv ]; then \
	  for f in showcase showcase_d1 showcase_nega; do build/kqconv build/demo/$$f.tkq build/demo/$$f.png || exit 1; done; \
	  echo "demo: PNG files in build/demo/: showcase.png showcase_d1.png showcase_nega.png"; \
	else echo "demo: kqconv is not built (it needs libpng-dev and libjpeg62-turbo-dev): no PNG files"; fi
	cd examples && ../build/kqc -e demo_wf.kqc
	build/kqtowf -f -m 0 build/demo_rgba.tkq build/demo_mip
	build/kqtowf -f build/demo_rgba.tkq build/demo_sat
	@echo "demo: wrote build/demo_mip.wf (MIP-MAP) and build/demo_sat.wf (SUMMED-AREA)"
	build/kqtowf -f -M 0 build/demo/showcase_rgba.tkq build/demo/showcase_smip
	@echo "demo: wrote build/demo/showcase_smip.wf (SUPER-MIP-MAP of the showcase frame)"

bench: build
	bench/run.sh

bench-frames: build
	bench/frames.sh
	WIDTH=1920 HEIGHT=1080 bench/frames.sh

man: build
	docs/make_man.sh build docs

install: build
	cmake --install build --prefix $(PREFIX)

package: build
	cd build && cpack -G DEB

clean:
	rm -rf build build-san build-fuzz build-fuzz-uncapped build-fuzz-deps build-arm64
