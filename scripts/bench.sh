#!/usr/bin/env bash
# Runs every benchmark program of a build (tests/bench/bench_*) in turn. Each
# prints its figures and its table of goals; the tables are gathered, by
# program, into BUILD/bench.json.
#   scripts/bench.sh BUILD [--smoke]
# --smoke: a few iterations of each, to show that they build and run (CI).
set -euo pipefail

build=${1:?usage: scripts/bench.sh BUILD [--smoke]}
shift
dir="$build/tests/bench"
programs=()
for program in "$dir"/bench_*; do
  [ -x "$program" ] && [ -f "$program" ] && programs+=("$program")
done
if [ ${#programs[@]} -eq 0 ]; then
  echo "bench: no benchmark programs in $dir (is libbenchmark-dev installed?)" >&2
  exit 1
fi

# The gateway's end-to-end benchmark (events/s, latency, backlog drain after a
# broker outage, memory per worker, history searches, all with a history of
# ten million events in the spool) prints its own table.
gateway_bench="$build/tests/gateway_bench"
if [ -x "$gateway_bench" ]; then
  echo "== gateway_bench"
  if [ "${1:-}" = "--smoke" ]; then "$gateway_bench" --outage 2 --seconds 2 --tags 20 --history 20000
  else "$gateway_bench" --outage 60; fi
fi

out="$build/bench.json"
tables=()
for program in "${programs[@]}"; do
  name=$(basename "$program")
  echo "== $name"
  "$program" "$@" --table-json="$build/$name.json" --benchmark_out="$build/$name.raw.json" \
    --benchmark_out_format=json
  tables+=("$name")
done

{
  echo "{"
  for i in "${!tables[@]}"; do
    [ "$i" -gt 0 ] && echo ","
    printf '"%s": ' "${tables[$i]}"
    cat "$build/${tables[$i]}.json"
  done
  echo "}"
} > "$out"
echo "bench: tables written to $out"
