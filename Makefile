# Front door. `make demo` runs the updater against a local server; `make test` builds and runs every test:
# native, with AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows build under Wine (the 32-bit
# one where this machine runs 32-bit programs, else a 64-bit one: tools/test-windows.sh). `make bench`
# runs the benchmarks against peer tools (never part of `make test`); BENCH_ARGS passes options to bench/run.py.
# `make fuzz SECONDS=n` runs every fuzz target for n seconds.
JOBS ?= $(shell nproc)
# The Windows build the benchmark runs under Wine: the shipped 32-bit one where Wine's 32-bit loader starts.
BENCH_WINDOWS = $(shell /usr/lib/wine/wine --version >/dev/null 2>&1 && echo i686 || echo x86_64)

.PHONY: all build demo test test-native test-sanitize test-windows deps bench fuzz clean

all: build

deps:
	tools/install-deps.sh test

build:
	tools/install-deps.sh demo
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j$(JOBS)

demo: build
	tools/demo.sh build/updater

test: deps test-native test-sanitize test-windows
	@echo "All test runs passed."

test-native:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j$(JOBS)
	cd build && ctest --output-on-failure

test-sanitize:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DUPDATER_SANITIZE=ON
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure

test-windows:
	tools/test-windows.sh $(JOBS)

bench:
	tools/install-deps.sh bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DUPDATER_BENCH=ON -DUPDATER_TESTS=OFF
	cmake --build build-bench -j$(JOBS) --target updater download_bench extract_bench
	cmake -S . -B build-bench-win-$(BENCH_WINDOWS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$(BENCH_WINDOWS).cmake \
	      -DCMAKE_BUILD_TYPE=Release -DUPDATER_TESTS=OFF
	cmake --build build-bench-win-$(BENCH_WINDOWS) -j$(JOBS) --target updater
	python3 bench/run.py --build build-bench --wine-build build-bench-win-$(BENCH_WINDOWS) $(BENCH_ARGS)

# Every fuzz target for SECONDS seconds each (default 60), one after another; prints executions, edges and
# the crash/hang inputs found per target.
fuzz:
	tools/install-deps.sh fuzz
	tools/fuzz.sh $(or $(SECONDS),60)

clean:
	rm -rf build build-asan build-win build-win64 build-bench build-bench-win-* build-fuzz
