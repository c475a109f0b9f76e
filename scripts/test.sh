#!/usr/bin/env bash
# Builds the project and runs the whole test suite twice: a normal build and
# a build with AddressSanitizer and UndefinedBehaviorSanitizer. Exits non-zero
# on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

./scripts/setup.sh

jobs=${JOBS:-2}
run_suite() {
  local dir=$1; shift
  echo "== configure $dir" >&2
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  echo "== build $dir" >&2
  cmake --build "$dir" -j "$jobs"
  echo "== test $dir" >&2
  (cd "$dir" && ctest -j "$jobs" --output-on-failure --no-tests=error)
}

run_suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DZ3AZ_SANITIZE=ON

# 32-bit x86, without the window capture and dialogs (no GTK 3 for i386 here).
run_suite build/i386 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i386.cmake" -DZ3AZ_GUI=OFF

# Each fuzz target for a bounded time (FUZZ_SECONDS); any finding fails.
./scripts/fuzz.sh

echo "all tests passed" >&2
