#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time each, starting
# from the committed seed corpus, and prints the executions per target.
# Usage: scripts/run-fuzzers.sh BUILD_DIR SECONDS_PER_TARGET
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
seeds=$root/tests/fuzz/corpus
mkdir -p "$build/corpus" "$build/artifacts"

status=0
summary=()
for fuzzer in "$build"/tests/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  corpus=$build/corpus/$name
  mkdir -p "$corpus"
  [ -d "$seeds/$name" ] && cp -n "$seeds/$name"/* "$corpus"/ 2>/dev/null || true
  log=$build/$name.log
  echo "== $name: ${seconds}s"
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$build/artifacts/$name-" "$corpus" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    tail -n 40 "$log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  summary+=("$name: ${runs:-0} executions, $result")
done
printf '%s\n' "${summary[@]}"
exit $status
