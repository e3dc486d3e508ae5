#!/usr/bin/env bash
# The Windows part of `make test`. The program that ships is the 32-bit updater.exe: it is always built, without
# the tests (so that their seams stay out of it), and checked as the shipped file (tests/e2e/shipped_file_test.py).
# The tests run on a 32-bit build of their own under Wine's 32-bit loader where this machine can start it; where
# it cannot (a kernel without 32-bit support, or no Wine 32-bit side), every Windows test runs on a 64-bit build
# of the same sources under Wine's 64-bit loader instead. README, "Which Windows build the tests run", says what
# that build cannot show and how it is covered.
# Usage: tools/test-windows.sh [build jobs] [test jobs]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${1:-$(nproc)}
test_jobs=${2:-$jobs}

cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
      -DUPDATER_TESTS=OFF
cmake --build build-win -j"$jobs" --target updater
python3 tests/e2e/shipped_file_test.py build-win/updater.exe i686

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "Windows tests: a 32-bit build under Wine's 32-bit loader (this machine runs 32-bit programs)."
  cmake -S . -B build-win-tests -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
  cmake --build build-win-tests -j"$jobs"
  cd build-win-tests && ctest --output-on-failure -j"$test_jobs"
  exit
fi

echo "Windows tests: a 64-bit build under wine64 (this machine cannot start Wine's 32-bit loader)."
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
cmake --build build-win64 -j"$jobs"
cd build-win64 && ctest --output-on-failure -j"$test_jobs"
