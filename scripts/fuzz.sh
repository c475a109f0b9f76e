#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer, the whole library instrumented) and runs each
# for a bounded time on its seed corpus. Fails on any finding: a crash, a
# sanitizer report, a leak, a time-out or an out-of-memory.
#
#   FUZZ_SECONDS   seconds per target (default 45)
#   FUZZ_SEED      libFuzzer's random seed (default 1, so that a run repeats
#                  the same inputs in the same order; 0 picks a new seed)
#   FUZZ_TARGETS   targets to run (default: all of fuzz/*/)
#   FUZZ_BUILD     build directory (default build/fuzz)
#   FUZZ_KEEP      directory that keeps the grown corpora and findings
#                  (default: a temporary directory, removed afterwards)
# Findings are copied to $FUZZ_BUILD/findings/ so that they can be turned
# into regression tests.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${FUZZ_SECONDS:-45}
seed=${FUZZ_SEED:-1}
build=${FUZZ_BUILD:-build/fuzz}
jobs=${JOBS:-2}
targets=${FUZZ_TARGETS:-$(cd fuzz && for d in */; do if [ -f "$d/CMakeLists.txt" ]; then echo "${d%/}"; fi; done)}

echo "== configure $build" >&2
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZ3AZ_FUZZ=ON -DZ3AZ_TESTS=OFF -DZ3AZ_GUI=OFF >/dev/null
echo "== build $build" >&2
names=()
for t in $targets; do names+=("fuzz_$t"); done
cmake --build "$build" -j "$jobs" --target "${names[@]}"

work=${FUZZ_KEEP:-$(mktemp -d)}
[ -n "${FUZZ_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$build/findings"

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
failed=0
for t in $targets; do
  program=$(find "$build/fuzz/$t" -maxdepth 1 -name "fuzz_$t" -type f | head -1)
  corpus="$work/$t/corpus"
  artifacts="$work/$t/findings/"
  mkdir -p "$corpus" "$artifacts"
  echo "== fuzz $t for ${seconds}s" >&2
  status=0
  # The grown corpus goes to the scratch directory; the seeds in the tree
  # are only read.
  # The decoders take pictures of up to 4 GiB by design, so one allocation
  # may be that large; the resident memory may not.
  "$program" -seed="$seed" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -malloc_limit_mb=4608 -max_len=8192 \
    -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "fuzz/$t/corpus" \
    >"$work/$t/log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t/log" | tail -1)
  echo "fuzz $t: ${runs:-?} executions in ${seconds}s, exit $status" >&2
  if [ "$status" -ne 0 ] || ls "$artifacts" | grep -q .; then
    tail -60 "$work/$t/log" >&2
    cp "$artifacts"* "$build/findings/" 2>/dev/null || true
    echo "fuzz $t: FINDING (copied to $build/findings/)" >&2
    failed=1
  fi
done
exit $failed
