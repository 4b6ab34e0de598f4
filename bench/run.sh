#!/usr/bin/env bash
# Runs every benchmark built in the given build directory and prints its
# figures; each benchmark reports ratios against a baseline it measures in
# the same run.
set -euo pipefail
build=${1:-build-bench}
status=0
for b in "$build"/bench/*_bench; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true || status=1
done
exit $status
