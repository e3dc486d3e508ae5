# Front door. `make demo` runs the updater against a local server; `make test` builds and runs every test:
# native, with AddressSanitizer and UndefinedBehaviorSanitizer, with ThreadSanitizer (the suites that start
# threads), and the Windows build under Wine (the 32-bit one where this machine runs 32-bit programs, else a
# 64-bit one: tools/test-windows.sh). `make bench` runs the benchmarks against peer tools (never part of
# `make test`); BENCH_ARGS passes options to bench/run.py. `make fuzz SECONDS=n` runs every fuzz target for n
# seconds.
JOBS ?= $(shell nproc)
# One CTest entry at a time: the entries whose tests mostly wait already run them side by side (GoogleTest shards,
# end-to-end cases two at a time), and two entries at once mostly make each wait for the processor. Measured on
# two cores, at one entry at a time and at two: native, the entries added up to 54 s and 62 s (the run took 54 s
# and 31 s); with the sanitizers, 78 s and 111 s (78 s and 56 s); Windows, 73 s and 86 s (73 s and 49 s).
CTEST_JOBS ?= 1
# The Windows build the benchmark runs under Wine: the shipped 32-bit one where Wine's 32-bit loader starts.
BENCH_WINDOWS = $(shell /usr/lib/wine/wine --version >/dev/null 2>&1 && echo i686 || echo x86_64)

.PHONY: all build demo test test-native test-sanitize test-threads test-windows deps bench fuzz clean

all: build

deps:
	tools/install-deps.sh test

# The program alone, as it ships: without the tests, and so without their seams; the test runs build them.
build:
	tools/install-deps.sh demo
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATER_TESTS=OFF
	cmake --build build -j$(JOBS) --target updater

demo: build
	tools/demo.sh build/updater

# A package that cannot be installed (a mirror in the middle of a sync, say) does not stop the runs that can go
# on without it; `make test` still fails at the end, and says why.
test:
	@if tools/install-deps.sh test; then missing=""; else missing=yes; fi; \
	$(MAKE) --no-print-directory test-native test-sanitize test-threads test-windows; runs=$$?; \
	if [ -n "$$missing" ]; then echo "make test: failed: packages could not be installed (see install-deps above)." >&2; \
	  exit 1; fi; \
	[ $$runs -eq 0 ] && echo "All test runs passed."

test-native:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATER_TESTS=ON
	cmake --build build -j$(JOBS)
	cd build && ctest --output-on-failure -j$(CTEST_JOBS)

test-sanitize:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DUPDATER_SANITIZE=ON
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j$(CTEST_JOBS)

# ThreadSanitizer over the suites whose code starts threads: the write-behind writer (zip), the connect worker
# and the socket waits (net, platform), TLS.
test-threads:
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATER_SANITIZE_THREADS=ON
	cmake --build build-tsan -j$(JOBS) --target zip_tests net_tests platform_tests tls_tests
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j$(CTEST_JOBS) -R '^(zip|net|platform|tls)$$'

test-windows:
	tools/test-windows.sh $(JOBS) $(CTEST_JOBS)

bench:
	tools/install-deps.sh bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DUPDATER_BENCH=ON -DUPDATER_TESTS=OFF
	cmake --build build-bench -j$(JOBS) --target updater download_bench extract_bench
	cmake -S . -B build-bench-win-$(BENCH_WINDOWS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$(BENCH_WINDOWS).cmake \
	      -DCMAKE_BUILD_TYPE=Release -DUPDATER_TESTS=OFF
	cmake --build build-bench-win-$(BENCH_WINDOWS) -j$(JOBS) --target updater winsock_loop
	python3 bench/run.py --build build-bench --wine-build build-bench-win-$(BENCH_WINDOWS) $(BENCH_ARGS)

# Every fuzz target for SECONDS seconds each (default 60), one after another; prints executions, edges and
# the crash/hang inputs found per target.
fuzz:
	tools/install-deps.sh fuzz
	tools/fuzz.sh $(or $(SECONDS),60)

# The build directories, and the Wine prefix the Windows tests keep in the user's cache (cmake/wine-run.sh).
clean:
	rm -rf build build-asan build-tsan build-win build-win-tests build-win64 build-bench build-bench-win-* build-fuzz
	rm -rf "$${XDG_CACHE_HOME:-$$HOME/.cache}/updater-tests"
